#include "macro/key_map_parser.h"

#include <QStringList>

#include <pugixml.hpp>

namespace {

QString attribute(const pugi::xml_node& node, const char* name) {
    return QString::fromUtf8(node.attribute(name).value());
}

// Decimal attribute; missing or malformed is 0.
int number(const pugi::xml_node& node, const char* name) {
    return attribute(node, name).toInt();
}

QList<MacroAction> macroActions(const QString& value, const KeyCodeLookup& hidCodeForKey) {
    QList<MacroAction> actions;
    for (const QString& piece : value.split(QLatin1Char(')'), Qt::SkipEmptyParts)) {
        const int open = piece.indexOf(QLatin1Char('('));
        if (open <= 0)
            continue;
        const QString name = piece.left(open).trimmed();
        const QString argument = piece.mid(open + 1).trimmed();
        MacroAction action;
        if (name == QStringLiteral("按下")) {
            action = {QStringLiteral("down"), hidCodeForKey(argument)};
        } else if (name == QStringLiteral("延迟")) {
            action = {QStringLiteral("delayTime"), argument};
        } else if (name == QStringLiteral("弹起")) {
            action = {QStringLiteral("up"), hidCodeForKey(argument)};
        }
        if (!action.type.isEmpty() && !action.value.isEmpty())
            actions.append(action);
    }
    return actions;
}

QString hotKeyCodes(const QString& value, const KeyCodeLookup& hidCodeForKey) {
    const QStringList pieces = value.split(QLatin1Char('+'), Qt::SkipEmptyParts);
    QString joined;
    for (int i = 0; i < pieces.size(); ++i) {
        const QString code = hidCodeForKey(pieces.at(i).trimmed());
        if (code.isEmpty())
            continue;
        joined += code;
        if (i != pieces.size() - 1)
            joined += QLatin1Char(',');
    }
    return joined;
}

QString mouseMask(const QString& value) {
    if (value == QStringLiteral("单击左键()"))
        return QStringLiteral("1");
    if (value == QStringLiteral("单击右键()"))
        return QStringLiteral("2");
    if (value == QStringLiteral("单击中键()"))
        return QStringLiteral("4");
    if (value == QStringLiteral("单击前进键()"))
        return QStringLiteral("10");
    if (value == QStringLiteral("单击后退键()"))
        return QStringLiteral("8");
    return QString();
}

QList<MacroAction> taskActions(const QString& task, const QString& value,
                               const KeyCodeLookup& hidCodeForKey, const RecordedPoints& points) {
    if (task == QLatin1String("MACRO"))
        return macroActions(value, hidCodeForKey);
    if (task == QLatin1String("HOTKEY"))
        return {{QStringLiteral("hotKey"), hotKeyCodes(value, hidCodeForKey)}};
    if (task == QLatin1String("SHORTCUT"))
        return {{QStringLiteral("shortcut"), value}};
    if (task == QLatin1String("MOUSE"))
        return {{QStringLiteral("mouse"), mouseMask(value)}};
    if (task == QLatin1String("MOUSEMOVE")) {
        if (value == QStringLiteral("单击左键()"))
            return {{QStringLiteral("MOUSEMOVE"), value}};
        QList<MacroAction> actions;
        if (value == QStringLiteral("单击右键()")) {
            for (int i = 0; i < points.size(); ++i) {
                if (i > 0)
                    actions.append({QStringLiteral("delayTime"), QStringLiteral("1000")});
                actions.append({QStringLiteral("mouseMove"),
                                points.at(i).first + QLatin1Char(',') + points.at(i).second});
            }
        }
        return actions;
    }
    if (task == QLatin1String("TEXT"))
        return {{QStringLiteral("text"), value}};
    if (task == QLatin1String("KEYBROAD"))
        return {{QStringLiteral("keybroad"), hidCodeForKey(value.trimmed())}};
    if (!value.isEmpty())
        return {{task, value}};
    return {};
}

}  // namespace

std::optional<DeviceKeyMap> parseKeyMap(const QString& text, const KeyCodeLookup& hidCodeForKey,
                                        const RecordedPoints& points) {
    const QByteArray bytes = text.toUtf8();
    pugi::xml_document document;
    if (!document.load_buffer(bytes.constData(), static_cast<size_t>(bytes.size())))
        return std::nullopt;
    const pugi::xml_node root = document.child("conf");
    if (!root)
        return std::nullopt;
    DeviceKeyMap map;
    for (const pugi::xml_node& trigger : root.children()) {
        if (trigger.type() != pugi::node_element)
            continue;
        const pugi::xml_node step = trigger.find_child(
            [](const pugi::xml_node& child) { return child.type() == pugi::node_element; });
        if (!step)
            continue;
        const TriggerKey key{attribute(trigger, "scanCode").toUShort(),
                             attribute(trigger, "flag").toUShort()};
        MacroTask task;
        task.playType = number(trigger, "playType");
        task.playCount = number(trigger, "playCount");
        task.actions = taskActions(attribute(step, "task").toUpper(),
                                   attribute(step, "value").toUpper(), hidCodeForKey, points);
        map.insert(key, task);
    }
    return map;
}
