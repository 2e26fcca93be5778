#pragma once

#include <QList>
#include <QMap>
#include <QString>

#include <functional>

// One step of a software macro: a type and its value (see commandExec for their meaning).
struct MacroAction {
    QString type;
    QString value;

    bool operator==(const MacroAction& other) const {
        return type == other.type && value == other.value;
    }
};

// An action list with how it is played: 0 once per count (a release of a "mouse" or
// "keybroad" list releases it), 1 until stopped, 2 count times.
struct MacroTask {
    int playType = 0;
    int playCount = 0;
    QList<MacroAction> actions;
    int keyState = 0;  // 0: the trigger was pressed, 1: released
};

// What starts a task: a keyboard scan code with flag 0 (plain) or 1 (extended), or a mouse
// button's down state with flag 10.
struct TriggerKey {
    quint16 code = 0;
    quint16 flag = 0;

    bool operator==(const TriggerKey& other) const {
        return code == other.code && flag == other.flag;
    }
    bool operator<(const TriggerKey& other) const {
        return code != other.code ? code < other.code : flag < other.flag;
    }
};

using DeviceKeyMap = QMap<TriggerKey, MacroTask>;

// Upper-case key name → HID usage text, empty for an unknown name.
using KeyCodeLookup = std::function<QString(const QString& name)>;
