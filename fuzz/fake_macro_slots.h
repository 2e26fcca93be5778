#pragma once

// The device's thirty macro slots held in memory, for targets that build key scripts. Every
// write is checked as it happens: only whole 200-item bodies of script items, only at the
// slots the key-definition file names, and a macro only into a slot that is blank.

#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>

#include "commands/key_script_builder.h"
#include "fuzz/fuzz_support.h"

namespace fuzz {

inline bool isHexDigit(QChar c) {
    const ushort u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
}

// One byte of a script: one or two hexadecimal digits, with or without "0x".
inline bool isScriptItem(const QString& item) {
    const int digits = item.startsWith(QLatin1String("0x")) ? item.size() - 2 : item.size();
    if (digits < 1 || digits > 2)
        return false;
    for (int i = item.size() - digits; i < item.size(); ++i) {
        if (!isHexDigit(item[i]))
            return false;
    }
    return true;
}

// Whether every comma item of `script` is a script item; an empty script has none.
inline bool isScript(const QString& script) {
    if (script.isEmpty())
        return true;
    for (const QString& item : script.split(QLatin1Char(',')))
        if (!isScriptItem(item))
            return false;
    return true;
}

// The value of a script item (both forms read base 16, as the device layer reads them).
inline int scriptItemValue(const QString& item) {
    return item.midRef(item.startsWith(QLatin1String("0x")) ? 2 : 0).toInt(nullptr, 16);
}

class FakeMacroSlots : public MacroSlotDevice {
  public:
    // `addresses`: slot N's address as the key-definition file gives it.
    explicit FakeMacroSlots(const QStringList& addresses)
        : addresses_(addresses), contents_(addresses.size()) {}

    // A fresh device: the slots whose bit is set in `occupied` hold a macro already, writes to
    // those whose bit is set in `failing` fail.
    void reset(std::uint32_t occupied, std::uint32_t failing) {
        failing_ = failing;
        for (int slot = 0; slot < contents_.size(); ++slot)
            contents_[slot] = (occupied >> slot) & 1u ? storedMacro(slot) : blank();
        stores_.clear();
    }

    bool isBlockEmpty(const QString&, const QString&, const QString& address,
                      const QString& size) override {
        fuzz::check(size == QLatin1String("200"), "slots are read as 200 items");
        const int slot = addresses_.indexOf(address);
        fuzz::check(slot >= 0, "only the slots the key-definition file names are read");
        return contents_[slot] == blank();
    }

    bool writeBlock(const QString&, const QString&, const QString& address, const QString& size,
                    const QString& data) override {
        fuzz::check(size == QLatin1String("200"), "slots are written as 200 items");
        const QStringList items = data.split(QLatin1Char(','));
        fuzz::check(items.size() == 200, "a slot body has 200 items");
        fuzz::check(isScript(data), "a slot body is script items only");
        const int slot = addresses_.indexOf(address);
        fuzz::check(slot >= 0, "only the slots the key-definition file names are written");
        if (data != blank()) {
            fuzz::check(contents_[slot] == blank(), "a stored macro lands only in a blank slot");
        } else {
            fuzz::check(stores_.contains(slot), "only a slot stored in just now is blanked again");
        }
        if ((failing_ >> slot) & 1u)
            return false;
        contents_[slot] = data;
        if (data != blank())
            stores_.append(slot);
        return true;
    }

    const QString& content(int slot) const { return contents_[slot]; }
    // The slots that took a macro since the last reset, in order.
    const QVector<int>& stores() const { return stores_; }
    bool holdsMacroOfOthers(int slot) const { return contents_[slot] == storedMacro(slot); }

    static QString blank() {
        static const QString zeros = QStringLiteral("0x00,").repeated(199) + QStringLiteral("0x00");
        return zeros;
    }

  private:
    static QString storedMacro(int slot) {
        return QStringLiteral("0x84,%1,0x00,").arg(slot, 0, 16) +
               QStringLiteral("0x00,").repeated(196) + QStringLiteral("0x00");
    }

    QStringList addresses_;
    QVector<QString> contents_;
    QVector<int> stores_;
    std::uint32_t failing_ = 0;
};

}  // namespace fuzz
