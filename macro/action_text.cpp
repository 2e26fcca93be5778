#include "macro/action_text.h"

QList<MacroAction> parseActionText(const QString& text, const KeyCodeLookup& hidCodeForKey) {
    QList<MacroAction> actions;
    const QStringList pieces = text.split(QLatin1Char(')'), Qt::SkipEmptyParts);
    for (const QString& piece : pieces) {
        const int open = piece.indexOf(QLatin1Char('('));
        const QString name = open < 0 ? piece : piece.left(open);
        const QString argument = open < 0 ? QString() : piece.mid(open + 1);
        if (name == QStringLiteral("按下")) {
            actions.append({QStringLiteral("down"), hidCodeForKey(argument)});
        } else if (name == QStringLiteral("弹起")) {
            actions.append({QStringLiteral("up"), hidCodeForKey(argument)});
        } else if (name == QStringLiteral("延迟")) {
            actions.append({QStringLiteral("delayTime"), argument.trimmed()});
        } else if (name == QStringLiteral("按下左键")) {
            actions.append({QStringLiteral("mouseDown"), QStringLiteral("1")});
        } else if (name == QStringLiteral("弹起左键")) {
            actions.append({QStringLiteral("mouseUp"), QStringLiteral("1")});
        } else if (name == QStringLiteral("按下右键")) {
            actions.append({QStringLiteral("mouseDown"), QStringLiteral("2")});
        } else if (name == QStringLiteral("弹起右键")) {
            actions.append({QStringLiteral("mouseUp"), QStringLiteral("2")});
        } else if (name == QStringLiteral("左键单击")) {
            actions.append({QStringLiteral("mouseDown"), QStringLiteral("1")});
            actions.append({QStringLiteral("mouseUp"), QStringLiteral("1")});
        } else if (name == QStringLiteral("右键单击")) {
            actions.append({QStringLiteral("mouseDown"), QStringLiteral("2")});
            actions.append({QStringLiteral("mouseUp"), QStringLiteral("2")});
        } else if (name == QStringLiteral("位移")) {
            actions.append({QStringLiteral("mouseMove"), argument.trimmed()});
        }
    }
    return actions;
}
