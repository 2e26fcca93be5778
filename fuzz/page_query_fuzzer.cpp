// Page queries: the JSON text a page sends, the query map the dispatcher takes from it, and
// what the page-controlled arguments reach without a window: the device operations (no
// device attached), the system's mouse settings, the profile store and the key-script builder.

#include <QByteArray>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>

#include <pugixml.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "commands/command_arguments.h"
#include "commands/key_script_builder.h"
#include "commands/page_query.h"
#include "commands/profile_store.h"
#include "device/device_functions.h"
#include "device/system_mouse_settings.h"
#include "fuzz/fake_macro_slots.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/qt_json_leak.h"
#include "fuzz/temp_app_folder.h"
#include "fuzz/text_input.h"
#include "platform/mouse_settings.h"
#include "webhost/page_geometry.h"

namespace {

QStringList slotAddresses(const QByteArray& keyFile) {
    pugi::xml_document document;
    document.load_buffer(keyFile.constData(), size_t(keyFile.size()));
    QStringList addresses;
    for (int slot = 0; slot < KeyScriptBuilder::kMacroSlots; ++slot) {
        const std::string name = "macro" + std::to_string(slot);
        addresses << QString::fromUtf8(document.child("keyboard")
                                           .find_child_by_attribute("macro", "name", name.c_str())
                                           .attribute("code")
                                           .value());
    }
    return addresses;
}

// The system's mouse settings in memory; every change is recorded.
class MemoryMouseSettings : public platform::MouseSettings {
  public:
    bool setMouse(const std::array<int, 3>& values) override {
        mouse = values;
        return true;
    }
    bool getMouse(std::array<int, 3>& values) override {
        values = mouse;
        return true;
    }
    bool setMouseSpeed(int value) override {
        speed = value;
        return true;
    }
    bool getMouseSpeed(int& value) override {
        value = speed;
        return true;
    }
    bool setWheelScrollLines(unsigned lines) override {
        wheelLines = lines;
        return true;
    }
    bool getWheelScrollLines(unsigned& lines) override {
        lines = wheelLines;
        return true;
    }
    bool setWheelScrollChars(unsigned chars) override {
        wheelChars = chars;
        return true;
    }
    bool getWheelScrollChars(unsigned& chars) override {
        chars = wheelChars;
        return true;
    }
    bool setDoubleClickTime(unsigned milliseconds) override {
        doubleClick = milliseconds;
        return true;
    }
    unsigned doubleClickTime() override { return doubleClick; }

    std::array<int, 3> mouse{6, 10, 1};
    int speed = 10;
    unsigned wheelLines = 3;
    unsigned wheelChars = 3;
    unsigned doubleClick = 500;
};

struct Setup {
    fuzz::TempAppFolder folder;
    QByteArray keyFile = fuzz::shippedResource("mouse1.1.xml");
    QStringList addresses = slotAddresses(keyFile);
    DeviceFunctions device{folder.root() + QStringLiteral("/no-device-library")};
    Setup() { fuzz::silenceLogs(); }
};

Setup& setup() {
    static Setup instance;
    return instance;
}

// The reference reading of an integer argument: a number rounded half away from zero, or an
// ASCII text of decimal digits with an optional sign and surrounding blanks; held to the int
// range; anything else 0. Nothing for texts the reference leaves to Qt: non-ASCII ones, and
// digits beyond 64 bits.
std::optional<int> referenceNumber(const QVariant& value) {
    long double number = 0;
    switch (value.userType()) {
        case QMetaType::LongLong:
            number = value.toLongLong();
            break;
        case QMetaType::Double:
            number = std::round(static_cast<long double>(value.toDouble()));
            break;
        case QMetaType::QString: {
            const QString text = value.toString();
            const QByteArray ascii = text.toLatin1().trimmed();
            if (text.toUtf8().size() != text.size())
                return std::nullopt;
            const bool sign = ascii.startsWith('+') || ascii.startsWith('-');
            if (ascii.size() - int(sign) > 18)
                return std::nullopt;
            if (ascii.size() == int(sign))
                return 0;
            for (int i = int(sign); i < ascii.size(); ++i) {
                if (ascii[i] < '0' || ascii[i] > '9')
                    return 0;
                number = number * 10 + (ascii[i] - '0');
            }
            if (ascii.startsWith('-'))
                number = -number;
            break;
        }
        default:
            return 0;
    }
    if (number > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (number < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return static_cast<int>(number);
}

void checkArguments(const QVariantMap& query) {
    for (auto it = query.begin(); it != query.end(); ++it) {
        const QVariant& value = it.value();
        const QString text = commands::argumentText(value);
        if (value.userType() == QMetaType::QString)
            fuzz::check(text == value.toString(), "a text argument reads as itself");
        if (value.userType() == QMetaType::LongLong)
            fuzz::check(text == QString::number(value.toLongLong()),
                        "an integral number reads as its decimal digits");
        if (value.userType() == QMetaType::Double) {
            fuzz::check(!text.contains(QLatin1Char('e')) && !text.contains(QLatin1Char('E')),
                        "a number argument reads as decimal text");
            bool ok = false;
            fuzz::check(text.toDouble(&ok) == value.toDouble() && ok,
                        "a number's text reads back as the number");
        }
        const std::optional<int> expected = referenceNumber(value);
        if (expected)
            fuzz::check(commands::argumentNumber(it.value()) == *expected,
                        "an integer argument equals the reference reading, never wrapped");
    }
}

// The system settings change only for a level the page really asked for.
void checkMouseSettings(const QVariantMap& query) {
    if (!commands::has(query, "num"))
        return;
    const std::optional<int> level = referenceNumber(query.value(QStringLiteral("num")));
    if (!level)
        return;
    const int num = commands::number(query, "num");
    MemoryMouseSettings system;
    SystemMouseSettings settings(&system);
    fuzz::check(settings.setSpeedLevel(num) == (*level >= 0 && *level <= 9),
                "a speed level outside 0-9 is refused");
    fuzz::check(settings.setAccelerationLevel(num) == (*level >= 0 && *level <= 3),
                "an acceleration level outside 0-3 is refused");
    fuzz::check(settings.setDoubleClickLevel(num) == (*level >= 0 && *level <= 11),
                "a double-click level outside 0-11 is refused");
    fuzz::check(settings.setScrollLines(num) == (*level >= 0), "negative scroll lines are refused");
    if (*level >= 0 && *level <= 9)
        fuzz::check(system.speed == *level + 6, "the speed set is the level asked for");
    if (*level >= 0)
        fuzz::check(system.wheelLines == unsigned(*level), "the scroll lines set are those asked");
}

bool isZeroList(const QString& text) {
    for (const QString& item : text.split(QLatin1Char(',')))
        if (item != QLatin1String("0x00"))
            return false;
    return true;
}

// Without a device nothing is written and every read is zeros.
void checkDevice(const QVariantMap& query) {
    DeviceFunctions& device = setup().device;
    const QString property = device.readDevicesProp(query);
    fuzz::check(property.isEmpty() || isZeroList(property), "a property read is a byte list");
    const QString memory = device.readByAddr(query);
    fuzz::check(memory.isEmpty() || isZeroList(memory), "a memory read is a byte list");
    fuzz::check(!device.writeDevicesProp(query) && !device.writeByAddr(query) &&
                    !device.cleanMacroByAddr(query) && !device.writeMacroByAddr(query) &&
                    !device.isPropEmpty(query),
                "nothing is written, cleared or found blank without a device");
    const QJsonDocument dpi =
        QJsonDocument::fromJson(device
                                    .readDevicesDpiVal(commands::text(query, "HardwareID"),
                                                       commands::text(query, "DevicePath"),
                                                       commands::text(query, "dpiIndex"))
                                    .toUtf8());
    fuzz::check(dpi.isObject() && dpi.object().keys() == QStringList({"DpiXVal", "DpiYVal"}),
                "a DPI answer is an object of DpiXVal and DpiYVal");
}

void checkProfiles(const QVariantMap& query) {
    ProfileStore profiles(setup().folder.app());
    if (commands::has(query, "filePath") && commands::has(query, "xpath")) {
        const ProfileAnswer answer = profiles.queryProfile(commands::text(query, "filePath"),
                                                           commands::text(query, "xpath"));
        fuzz::check(answer.kind == ProfileAnswer::Success ||
                        (answer.kind == ProfileAnswer::Failure &&
                         answer.text == QLatin1String("queryProfile load xml file failed!")),
                    "queryProfile answers success or its one failure");
    }
    const ProfileAnswer modified = profiles.modifyProfileXml(commands::text(query, "filePath"),
                                                             commands::text(query, "contentStr"));
    fuzz::check(modified.text == QLatin1String(modified.kind == ProfileAnswer::Success
                                                   ? "modifyProfileXml success"
                                                   : "modifyProfileXml failed!"),
                "modifyProfileXml answers one of its two texts");
    const ProfileAnswer saved = profiles.savexml();
    fuzz::check(
        saved.kind == ProfileAnswer::None || (saved.kind == ProfileAnswer::Success &&
                                              saved.text == QLatin1String("save xml success")),
        "savexml answers success or nothing");
}

void checkKeyScript(const QVariantMap& query) {
    Setup& s = setup();
    fuzz::FakeMacroSlots macroSlots(s.addresses);
    macroSlots.reset(0, 0);
    ProfileStore profiles(s.folder.app());
    const QString keyFile = commands::has(query, "DeviceVersion")
                                ? commands::text(query, "DeviceVersion")
                                : QStringLiteral("mouse1.1.xml");
    KeyScriptBuilder builder(profiles, keyFile, macroSlots);
    const QString script = builder.buildKeyScript(commands::text(query, "PARAMDATA"),
                                                  commands::text(query, "TYPE"), query);
    fuzz::check(fuzz::isScript(script), "a key script is script items only");
}

void checkPageGeometry(const QVariantMap& query) {
    const std::optional<QSize> size = webhost::parseWindowSize(commands::text(query, "size"));
    if (size) {
        fuzz::check(size->width() > 0 && size->height() > 0, "a window size is positive");
        fuzz::check(webhost::parseWindowSize(
                        QStringLiteral("%1,%2").arg(size->width()).arg(size->height())) == size,
                    "a window size reads back");
    }
    const QUrl url(webhost::applicationPageUrl(setup().folder.app(), commands::text(query, "url")));
    fuzz::check(url.isValid() && url.scheme() == QLatin1String("file"),
                "a page of the application folder has a file URL");
}

// Whether `value` holds a number that Qt's JSON cannot carry exactly.
bool holdsInexactNumber(const QVariant& value) {
    constexpr double kExactLimit = 9007199254740992.0;  // 2^53
    switch (value.userType()) {
        case QMetaType::Double:
        case QMetaType::LongLong:
            return std::fabs(value.toDouble()) >= kExactLimit;
        case QMetaType::QVariantMap: {
            const QVariantMap map = value.toMap();
            return std::any_of(map.cbegin(), map.cend(), holdsInexactNumber);
        }
        case QMetaType::QVariantList: {
            const QVariantList list = value.toList();
            return std::any_of(list.cbegin(), list.cend(), holdsInexactNumber);
        }
        default:
            return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Setup& s = setup();
    if (fuzz::meetsQtsReplacedContainerLeak(fuzz::bytes(data, size)))
        return 0;
    const QString text = fuzz::text(data, size);
    const std::optional<QVariantMap> query = commands::parsePageQuery(text);

    // Blanks around a query change nothing.
    const std::optional<QVariantMap> padded =
        commands::parsePageQuery(QStringLiteral(" \n\t") + text + QStringLiteral("\r\n "));
    fuzz::check(padded == query, "blanks around a query change nothing");
    if (!query)
        return 0;
    fuzz::check(commands::has(*query, "funcname"), "a query names its command");
    // What the page meant survives being written out again.
    const QByteArray reprinted =
        QJsonDocument(QJsonObject::fromVariantMap(*query)).toJson(QJsonDocument::Compact);
    // Escaped lone surrogates do not survive UTF-8, and Qt keeps integers beyond 2^53 only
    // as doubles, which it writes with fewer digits.
    if (!text.contains(QLatin1String("\\u")) && !holdsInexactNumber(*query))
        fuzz::check(commands::parsePageQuery(QString::fromUtf8(reprinted)) == query,
                    "a query written out again reads the same");

    s.folder.reset({{QStringLiteral("Resources/mouse1.1.xml"), s.keyFile},
                    {QStringLiteral("profile/default.xml"),
                     QByteArrayLiteral("<profile><key index=\"1\" hidCode=\"0x04\"/></profile>")}});
    checkArguments(*query);
    checkMouseSettings(*query);
    checkDevice(*query);
    checkProfiles(*query);
    checkKeyScript(*query);
    checkPageGeometry(*query);
    fuzz::check(s.folder.outsideUntouched(), "nothing outside the application folder changes");
    return 0;
}
