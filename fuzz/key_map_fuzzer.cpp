// The virtual key-map file the input filter loads for a device: triggers and their tasks.

#include <QStringList>

#include <pugixml.hpp>

#include <algorithm>
#include <climits>
#include <sstream>

#include "fuzz/fuzz_support.h"
#include "fuzz/macro_text_support.h"
#include "fuzz/text_input.h"
#include "macro/key_map_parser.h"

namespace {

const RecordedPoints& points() {
    static const RecordedPoints recorded = {{"10", "20"}, {"300", "-4"}, {"7", "7"}};
    return recorded;
}

// Mouse values and their button masks.
const QList<QPair<QString, QString>>& mouseValues() {
    static const QList<QPair<QString, QString>> values = {
        {QStringLiteral("单击左键()"), "1"},   {QStringLiteral("单击右键()"), "2"},
        {QStringLiteral("单击中键()"), "4"},   {QStringLiteral("单击前进键()"), "10"},
        {QStringLiteral("单击后退键()"), "8"},
    };
    return values;
}

// A decimal attribute as the file format means it: digits, with an optional sign and the
// surrounding white space a text field may carry; anything else, or a value out of range, is 0.
qint64 decimal(const char* value, qint64 low, qint64 high) {
    const QString text = QString::fromUtf8(value).trimmed();
    int at = 0;
    bool negative = false;
    if (at < text.size() && (text[at] == QLatin1Char('+') || text[at] == QLatin1Char('-')))
        negative = text[at++] == QLatin1Char('-');
    if (at == text.size())
        return 0;
    qint64 number = 0;
    for (; at < text.size(); ++at) {
        const QChar c = text[at];
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
        number = number * 10 + (c.unicode() - '0');
        if (number > high + 1)
            return 0;
    }
    if (negative)
        number = -number;
    return number >= low && number <= high ? number : 0;
}

bool isElement(const pugi::xml_node& node) {
    return node.type() == pugi::node_element;
}

// The triggers a file names, read apart from the parser: a later element with the same key
// replaces an earlier one.
QMap<TriggerKey, QPair<int, int>> referenceTriggers(const QByteArray& text) {
    QMap<TriggerKey, QPair<int, int>> triggers;
    pugi::xml_document document;
    if (!document.load_buffer(text.constData(), size_t(text.size())))
        return triggers;
    for (const pugi::xml_node& trigger : document.child("conf").children()) {
        if (!isElement(trigger) || !trigger.find_child(isElement))
            continue;
        const TriggerKey key{quint16(decimal(trigger.attribute("scanCode").value(), 0, 65535)),
                             quint16(decimal(trigger.attribute("flag").value(), 0, 65535))};
        triggers.insert(key,
                        {int(decimal(trigger.attribute("playType").value(), INT_MIN, INT_MAX)),
                         int(decimal(trigger.attribute("playCount").value(), INT_MIN, INT_MAX))});
    }
    return triggers;
}

void checkCode(const QString& code) {
    fuzz::check(fuzz::keyTable().isCode(code), "a key code comes from the key table");
    const int usage = fuzz::KeyTable::usage(code);
    fuzz::check(usage >= 0 && usage <= 0xFF, "a key code is a HID usage byte");
}

void checkActions(const QList<MacroAction>& actions) {
    for (const MacroAction& action : actions) {
        const QString& type = action.type;
        if (type == QLatin1String("down") || type == QLatin1String("up")) {
            checkCode(action.value);
        } else if (type == QLatin1String("keybroad")) {
            if (!action.value.isEmpty())
                checkCode(action.value);
        } else if (type == QLatin1String("hotKey")) {
            for (const QString& code : action.value.split(QLatin1Char(','), Qt::SkipEmptyParts))
                checkCode(code);
        } else if (type == QLatin1String("delayTime")) {
            fuzz::check(!action.value.isEmpty() && action.value == action.value.trimmed(),
                        "a macro delay is a trimmed, non-empty text");
            fuzz::checkPlayedDelay(action.value);
        } else if (type == QLatin1String("mouse")) {
            fuzz::check(action.value.isEmpty() ||
                            std::any_of(mouseValues().cbegin(), mouseValues().cend(),
                                        [&](const auto& v) { return v.second == action.value; }),
                        "a mouse task carries a known button mask");
        }
    }
}

// The task and value that give `actions` back.
QPair<QString, QString> encodeTask(const QList<MacroAction>& actions) {
    if (actions.isEmpty())
        return {QStringLiteral("MACRO"), QString()};
    const QString& type = actions.first().type;
    if (type == QLatin1String("down") || type == QLatin1String("up") ||
        type == QLatin1String("delayTime")) {
        QString value;
        for (const MacroAction& action : actions) {
            if (action.type == QLatin1String("down"))
                value += QStringLiteral("按下(%1)").arg(fuzz::keyTable().name(action.value));
            else if (action.type == QLatin1String("up"))
                value += QStringLiteral("弹起(%1)").arg(fuzz::keyTable().name(action.value));
            else
                value += QStringLiteral("延迟(") + action.value + QLatin1Char(')');
        }
        return {QStringLiteral("MACRO"), value};
    }
    fuzz::check(actions.size() == 1 || type == QLatin1String("mouseMove"),
                "only a macro or a recorded track has several actions");
    const QString& value = actions.first().value;
    if (type == QLatin1String("hotKey")) {
        QStringList names;
        const QStringList codes = value.split(QLatin1Char(','));
        for (const QString& code : codes)
            names.append(code.isEmpty() ? QStringLiteral("?") : fuzz::keyTable().name(code));
        return {QStringLiteral("HOTKEY"), value.isEmpty() ? QString() : names.join('+')};
    }
    if (type == QLatin1String("keybroad"))
        return {QStringLiteral("KEYBROAD"),
                value.isEmpty() ? QStringLiteral("?") : fuzz::keyTable().name(value)};
    if (type == QLatin1String("mouse")) {
        for (const auto& v : mouseValues()) {
            if (v.second == value)
                return {QStringLiteral("MOUSE"), v.first};
        }
        return {QStringLiteral("MOUSE"), QStringLiteral("?")};
    }
    if (type == QLatin1String("MOUSEMOVE"))
        return {QStringLiteral("MOUSEMOVE"), QStringLiteral("单击左键()")};
    if (type == QLatin1String("mouseMove"))
        return {QStringLiteral("MOUSEMOVE"), QStringLiteral("单击右键()")};
    if (type == QLatin1String("shortcut"))
        return {QStringLiteral("SHORTCUT"), value};
    if (type == QLatin1String("text"))
        return {QStringLiteral("TEXT"), value};
    return {type, value};
}

// The map written back as a key-map file.
QString encode(const DeviceKeyMap& map) {
    pugi::xml_document document;
    pugi::xml_node root = document.append_child("conf");
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        pugi::xml_node trigger = root.append_child("k");
        trigger.append_attribute("scanCode") = unsigned(it.key().code);
        trigger.append_attribute("flag") = unsigned(it.key().flag);
        trigger.append_attribute("playType") = it.value().playType;
        trigger.append_attribute("playCount") = it.value().playCount;
        const QPair<QString, QString> task = encodeTask(it.value().actions);
        pugi::xml_node step = trigger.append_child("s");
        step.append_attribute("task") = task.first.toUtf8().constData();
        step.append_attribute("value") = task.second.toUtf8().constData();
    }
    std::ostringstream out;
    document.save(out, "", pugi::format_raw);
    return QString::fromStdString(out.str());
}

bool sameMaps(const DeviceKeyMap& a, const DeviceKeyMap& b) {
    if (a.keys() != b.keys())
        return false;
    for (auto it = a.cbegin(); it != a.cend(); ++it) {
        const MacroTask& other = b.value(it.key());
        if (it.value().playType != other.playType || it.value().playCount != other.playCount ||
            it.value().actions != other.actions)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = fuzz::text(data, size);
    const std::optional<DeviceKeyMap> map = parseKeyMap(text, fuzz::keyCode, points());
    const std::optional<DeviceKeyMap> again = parseKeyMap(text, fuzz::keyCode, points());
    fuzz::check(map.has_value() == again.has_value() && (!map || sameMaps(*map, *again)),
                "parsing is deterministic");
    if (!map)
        return 0;

    // Every trigger element with a step is there under its key, with its play type and count.
    const QMap<TriggerKey, QPair<int, int>> triggers = referenceTriggers(text.toUtf8());
    fuzz::check(map->keys() == triggers.keys(), "one task per trigger key, keys as written");
    for (auto it = map->cbegin(); it != map->cend(); ++it) {
        fuzz::check(it.value().playType == triggers.value(it.key()).first &&
                        it.value().playCount == triggers.value(it.key()).second,
                    "play type and count are the decimal numbers written");
        checkActions(it.value().actions);
    }

    // The map written back as a file reads the same.
    const std::optional<DeviceKeyMap> reread = parseKeyMap(encode(*map), fuzz::keyCode, points());
    fuzz::check(reread && sameMaps(*map, *reread), "a map written back as a file reads the same");
    return 0;
}
