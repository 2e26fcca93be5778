#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>

class ProfileStore;

// The device memory operations the macro store needs; addresses are hexadecimal text, sizes
// decimal text and data a comma list of hexadecimal items.
class MacroSlotDevice {
  public:
    virtual ~MacroSlotDevice() = default;
    virtual bool isBlockEmpty(const QString& hardwareId, const QString& devicePath,
                              const QString& address, const QString& size) = 0;
    virtual bool writeBlock(const QString& hardwareId, const QString& devicePath,
                            const QString& address, const QString& size, const QString& data) = 0;
};

// Low and high script items of `v`; empty when `v` is negative or does not fit (4096 or more).
QStringList splitValue(int v);

// Turns a page's DPI, key and macro assignments into the device's script text.
class KeyScriptBuilder {
  public:
    static constexpr int kMacroSlots = 30;
    static constexpr int kMacroSlotItems = 200;

    // `keyDefinitionFile` (below Resources) is read at every lookup, so the dispatcher passes
    // the member it keeps up to date; it must outlive the builder.
    KeyScriptBuilder(ProfileStore& profiles, const QString& keyDefinitionFile,
                     MacroSlotDevice& device);

    // The script for `paramData` of kind `type`; empty for an unknown type or refused data.
    QString buildKeyScript(const QString& paramData, const QString& type, const QVariantMap& query);

    // Attribute `attribute` of the first node `xpath` selects in the key-definition file.
    QString lookupKeyAttribute(const QString& xpath, const QString& attribute);

    // Writes `body` into the first empty macro slot; its number as decimal text, or empty
    // when no slot took it.
    QString storeMacro(const QString& body, const QVariantMap& query);

    // Blanks the slot the last buildKeyScript stored a macro in, for a button write that
    // failed after it: otherwise the slot stays taken with nothing pointing at it. True when
    // the slot is blank again or nothing was stored.
    bool releaseStoredMacro();

  private:
    struct StoredSlot {
        QString hardwareId;
        QString devicePath;
        QString address;
    };

    QString keyCode(const QString& name);
    QString dpiScript(const QString& paramData);
    QString gKeyScript(const QString& paramData);
    QString hotKeyScript(const QString& paramData);
    QString macroScript(const QString& paramData, const QVariantMap& query);

    ProfileStore& profiles_;
    const QString& keyDefinitionFile_;
    MacroSlotDevice& device_;
    std::optional<StoredSlot> stored_;
};
