// The action text of the page command "playActions", e.g. 按下(A)延迟(50)弹起(A).

#include <algorithm>
#include <climits>

#include "fuzz/fuzz_support.h"
#include "fuzz/macro_text_support.h"
#include "fuzz/text_input.h"
#include "macro/action_text.h"

namespace {

bool isTrimmed(const QString& text) {
    return text == text.trimmed();
}

// The text that gives `actions` back: each action in the name that makes it.
QString encode(const QList<MacroAction>& actions) {
    QString text;
    for (const MacroAction& action : actions) {
        const QString& type = action.type;
        if (type == QLatin1String("down")) {
            text +=
                QStringLiteral("按下(%1)")
                    .arg(action.value.isEmpty() ? QString() : fuzz::keyTable().name(action.value));
        } else if (type == QLatin1String("up")) {
            text +=
                QStringLiteral("弹起(%1)")
                    .arg(action.value.isEmpty() ? QString() : fuzz::keyTable().name(action.value));
        } else if (type == QLatin1String("delayTime")) {
            text += QStringLiteral("延迟(") + action.value + QLatin1Char(')');
        } else if (type == QLatin1String("mouseMove")) {
            text += QStringLiteral("位移(") + action.value + QLatin1Char(')');
        } else if (type == QLatin1String("mouseDown")) {
            text += action.value == QLatin1String("1") ? QStringLiteral("按下左键()")
                                                       : QStringLiteral("按下右键()");
        } else if (type == QLatin1String("mouseUp")) {
            text += action.value == QLatin1String("1") ? QStringLiteral("弹起左键()")
                                                       : QStringLiteral("弹起右键()");
        } else {
            fuzz::fail("every action has a type of the action text");
        }
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = fuzz::text(data, size);
    const QList<MacroAction> actions = parseActionText(text, fuzz::keyCode);
    fuzz::check(parseActionText(text, fuzz::keyCode) == actions, "parsing is deterministic");

    // Each piece between ")" gives at most two actions (a click).
    const int pieces = text.count(QLatin1Char(')')) + 1;
    fuzz::check(actions.size() <= 2 * pieces, "at most two actions per piece");

    for (const MacroAction& action : actions) {
        const QString& type = action.type;
        if (type == QLatin1String("down") || type == QLatin1String("up")) {
            fuzz::check(action.value.isEmpty() || fuzz::keyTable().isCode(action.value),
                        "a key action carries a code of the key table or none");
            const int usage = fuzz::KeyTable::usage(action.value);
            fuzz::check(usage >= 0 && usage <= 0xFF, "a key code is a HID usage byte");
        } else if (type == QLatin1String("delayTime") || type == QLatin1String("mouseMove")) {
            fuzz::check(isTrimmed(action.value) && !action.value.contains(QLatin1Char(')')),
                        "a delay or move argument is trimmed and within its piece");
            if (type == QLatin1String("delayTime"))
                fuzz::checkPlayedDelay(action.value);
        } else if (type == QLatin1String("mouseDown") || type == QLatin1String("mouseUp")) {
            fuzz::check(action.value == QLatin1String("1") || action.value == QLatin1String("2"),
                        "a button action names the left or the right button");
        } else {
            fuzz::fail("every action has a type of the action text");
        }
    }

    // What was parsed, written in the action text's own names, parses to the same actions.
    const QString again = encode(actions);
    fuzz::check(parseActionText(again, fuzz::keyCode) == actions,
                "the actions written as text parse back to themselves");
    return 0;
}
