// Key scripts: a page's DPI, key and macro assignments turned into device script text, with
// macros stored in the device's slots.

#include <QFile>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <pugixml.hpp>

#include <cstdint>
#include <limits>
#include <string>

#include "commands/key_script_builder.h"
#include "commands/profile_store.h"
#include "fuzz/fake_macro_slots.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/temp_app_folder.h"
#include "fuzz/text_input.h"

namespace {

const QString kShippedKeyFile = QStringLiteral("mouse1.1.xml");

// The shipped key-definition file read independently of the builder: the first key of each
// name, and the slot addresses.
struct KeyTable {
    QMap<QString, QString> codes;
    QStringList slotAddresses;
};

KeyTable readKeyTable(const QByteArray& text) {
    pugi::xml_document document;
    if (!document.load_buffer(text.constData(), size_t(text.size())))
        qFatal("the shipped key-definition file does not parse");
    KeyTable table;
    for (const pugi::xml_node& key : document.child("keyboard").children("key")) {
        const QString name = QString::fromUtf8(key.attribute("name").value());
        if (!table.codes.contains(name))
            table.codes.insert(name, QString::fromUtf8(key.attribute("hidCode").value()));
    }
    for (int slot = 0; slot < KeyScriptBuilder::kMacroSlots; ++slot) {
        const std::string name = "macro" + std::to_string(slot);
        table.slotAddresses << QString::fromUtf8(
            document.child("keyboard")
                .find_child_by_attribute("macro", "name", name.c_str())
                .attribute("code")
                .value());
    }
    return table;
}

// The two items of splitValue read back, low byte first.
void checkSplitValue(int v) {
    const QStringList parts = splitValue(v);
    if (v < 0 || v >= 0x1000) {
        fuzz::check(parts.isEmpty(), "splitValue refuses what two items cannot hold");
        return;
    }
    fuzz::check(parts.size() == 2 && fuzz::isScriptItem(parts[0]) && fuzz::isScriptItem(parts[1]),
                "splitValue gives two script items");
    fuzz::check(fuzz::scriptItemValue(parts[0]) + 256 * fuzz::scriptItemValue(parts[1]) == v,
                "splitValue round-trips");
}

struct Setup {
    fuzz::TempAppFolder folder;
    KeyTable keys;
    Setup() {
        fuzz::silenceLogs();
        // The split's whole domain is small enough to check once, exhaustively.
        for (int v = -2; v <= 0x2000; ++v)
            checkSplitValue(v);
        checkSplitValue(std::numeric_limits<int>::min());
        checkSplitValue(std::numeric_limits<int>::max());
        const QByteArray keyFile = fuzz::shippedResource("mouse1.1.xml");
        keys = readKeyTable(keyFile);
        folder.write(QStringLiteral("Resources/mouse1.1.xml"), keyFile);
        folder.write(QStringLiteral("Resources/define.xml"), fuzz::shippedResource("define.xml"));
        folder.write(QStringLiteral("Resources/conf.xml"), fuzz::shippedResource("conf.xml"));
    }
};

Setup& setup() {
    static Setup instance;
    return instance;
}

QStringList fields(const QString& data) {
    return data.split(QLatin1Char('|'), Qt::SkipEmptyParts);
}

void checkDpi(const QStringList& items, const QString& data) {
    fuzz::check(items.size() == 8, "a DPI script has 8 items");
    const QStringList f = fields(data);
    fuzz::check(f.size() >= 3, "a DPI script needs three fields");
    bool xOk = false;
    bool yOk = false;
    const int x = f[1].toInt(&xOk) / 50;
    const int y = (f[0].toInt() == 1 ? f[1] : f[2]).toInt(&yOk) / 50;
    fuzz::check(xOk && yOk, "DPI values are decimal numbers");
    fuzz::check(items[0] == f[0], "the link flag is passed on unchanged");
    fuzz::check(fuzz::scriptItemValue(items[1]) + 256 * fuzz::scriptItemValue(items[2]) == x,
                "the X step is X / 50");
    fuzz::check(fuzz::scriptItemValue(items[3]) + 256 * fuzz::scriptItemValue(items[4]) == y,
                "the Y step is Y / 50, or X's when linked");
    fuzz::check(items.mid(5) == QStringList({"0x00", "0x00", "0x00"}), "DPI ends in three zeros");
}

void checkGKey(const QStringList& items, const QString& data, const KeyTable* keys) {
    fuzz::check(items.size() == 4 && items[0] == QLatin1String("0x05"),
                "a gKey script is 0x05 and three items");
    const QStringList f = fields(data);
    fuzz::check(f.size() >= 3, "a gKey script needs three fields");
    bool aOk = false;
    bool bOk = false;
    fuzz::check(fuzz::scriptItemValue(items[2]) == f[1].toInt(&aOk) && aOk &&
                    fuzz::scriptItemValue(items[3]) == f[2].toInt(&bOk) && bOk,
                "gKey numbers are the page's decimal numbers");
    static const QStringList deviceCodes = {"0x81", "0x82", "0x84"};
    if (deviceCodes.contains(f[0]))
        fuzz::check(items[1] == f[0], "gKey device codes pass unchanged");
    else if (keys)
        fuzz::check(items[1] == keys->codes.value(f[0]), "gKey key names become their code");
}

void checkHotKey(const QStringList& items, const QString& data, const KeyTable* keys) {
    fuzz::check(items.size() == 4 && items[0] == QLatin1String("0x02"),
                "a hotKey script is 0x02 and three items");
    if (!keys)
        return;
    QStringList codes;
    for (const QString& name : data.split(QLatin1Char('+'), Qt::SkipEmptyParts))
        codes << keys->codes.value(name);
    for (int i = 1; i < 4; ++i)
        fuzz::check(items[i] == QLatin1String("0x00") || codes.contains(items[i]),
                    "hotKey items are the named keys' codes or 0x00");
}

void checkMacro(const QStringList& items, const fuzz::FakeMacroSlots& device, const QString& loop) {
    fuzz::check(
        items.size() == 4 && items[0] == QLatin1String("0x04") && items[1] == QLatin1String("0"),
        "a macro reference is 0x04, 0, slot, count");
    fuzz::check(device.stores().size() == 1, "a referenced macro was stored once");
    const int slot = device.stores().first();
    fuzz::check(fuzz::scriptItemValue(items[2]) == slot, "the reference names the slot written");
    const QStringList body = device.content(slot).split(QLatin1Char(','));
    const int count = fuzz::scriptItemValue(items[3]);
    const int used = count - 1;  // the items before the padding
    fuzz::check(used >= 3 && used <= 200, "the count covers the body and its end");
    const int end = loop.isEmpty() ? used - 2 : used - 3;
    fuzz::check(end >= 0 && end % 3 == 0 && body[end] == QLatin1String("0x07") &&
                    (loop.isEmpty() || body[end + 1] == loop) &&
                    body[used - 1] == QLatin1String("0x00"),
                "a macro body ends in 0x07, the loop count and 0x00");
    static const QStringList kinds = {"0x84", "0x04", "0x81", "0x01", "0x06"};
    for (int i = 0; i < end; i += 3)
        fuzz::check(kinds.contains(body[i]), "a macro body is whole actions");
    for (int i = used; i < body.size(); ++i)
        fuzz::check(body[i] == QLatin1String("0x00"), "a macro body is padded with 0x00");
}

}  // namespace

// The input, one field a line: the assignment kind (TYPE); the key-definition file; the
// device's slots as "<occupied> <failing> [release]", two hexadecimal bit masks by slot number
// and whether the stored macro is released again; "LOOP=<text>" for a LOOP member, anything
// else for none; and PARAMDATA, the rest.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Setup& s = setup();
    fuzz::Lines input(fuzz::bytes(data, size));
    const QString type = input.take();
    const QString keyFile = input.take();
    const QStringList slotState = input.take().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString loopLine = input.take();
    const QString paramData = input.rest();

    const std::uint32_t occupied = slotState.value(0).toUInt(nullptr, 16);
    const std::uint32_t failing = slotState.value(1).toUInt(nullptr, 16);
    const bool release = slotState.value(2) == QLatin1String("release");
    const bool withLoop = loopLine.startsWith(QLatin1String("LOOP="));
    const QString loop = withLoop ? loopLine.mid(5) : QString();

    QVariantMap query{{QStringLiteral("HardwareID"), QStringLiteral("VID_04D9&PID_A0D2")},
                      {QStringLiteral("DevicePath"), QStringLiteral("path")}};
    if (withLoop)
        query.insert(QStringLiteral("LOOP"), loop);

    fuzz::FakeMacroSlots device(s.keys.slotAddresses);
    device.reset(occupied, failing);
    ProfileStore profiles(s.folder.app());
    KeyScriptBuilder builder(profiles, keyFile, device);
    const QString script = builder.buildKeyScript(paramData, type, query);

    fuzz::check(fuzz::isScript(script), "a key script is script items only");
    const QStringList items = script.isEmpty() ? QStringList() : script.split(QLatin1Char(','));
    const KeyTable* keys = keyFile == kShippedKeyFile ? &s.keys : nullptr;
    if (!script.isEmpty()) {
        if (type == QLatin1String("DPI"))
            checkDpi(items, paramData);
        else if (type == QLatin1String("gKey"))
            checkGKey(items, paramData, keys);
        else if (type == QLatin1String("hotKey"))
            checkHotKey(items, paramData, keys);
        else if (type == QLatin1String("macro"))
            checkMacro(items, device, loop);
        else
            fuzz::fail("only the four assignment kinds give a script");
    }
    if (type != QLatin1String("macro") || script.isEmpty())
        fuzz::check(device.stores().isEmpty(), "only a referenced macro takes a slot");

    for (int slot = 0; slot < KeyScriptBuilder::kMacroSlots; ++slot) {
        if ((occupied >> slot) & 1u)
            fuzz::check(device.holdsMacroOfOthers(slot), "stored macros are never overwritten");
    }
    if (release && !device.stores().isEmpty()) {
        const int slot = device.stores().first();
        const bool released = builder.releaseStoredMacro();
        fuzz::check(released == !((failing >> slot) & 1u), "releasing answers the device's write");
        if (released)
            fuzz::check(device.content(slot) == fuzz::FakeMacroSlots::blank(),
                        "a released slot is blank again");
    }
    fuzz::check(s.folder.outsideUntouched(), "nothing outside the application folder changes");
    return 0;
}
