#pragma once

// What the macro text targets share: a key-name table in the form of Resources/define.xml
// (upper-case names, "0x.." usage codes) with the way back from a code to its name, and the
// check of a delay as playback waits it.

#include <QHash>
#include <QString>

#include "fuzz/fuzz_support.h"
#include "macro/command_exec.h"

namespace fuzz {

class KeyTable {
  public:
    KeyTable() {
        static const struct {
            const char* name;
            int code;
        } keys[] = {
            {"A", 0x04},     {"B", 0x05},     {"C", 0x06},     {"Q", 0x14},      {"Z", 0x1d},
            {"1", 0x1e},     {"0", 0x27},     {"ENTER", 0x28}, {"ESC", 0x29},    {"TAB", 0x2b},
            {"SPACE", 0x2c}, {"-", 0x2d},     {"=", 0x2e},     {"[", 0x2f},      {"]", 0x30},
            {"\\", 0x31},    {";", 0x33},     {"'", 0x34},     {",", 0x36},      {".", 0x37},
            {"/", 0x38},     {"F1", 0x3a},    {"F12", 0x45},   {"DELETE", 0x4c}, {"UP", 0x52},
            {"CTRL", 0xe0},  {"SHIFT", 0xe1}, {"ALT", 0xe2},   {"WIN", 0xe3},    {"RALT", 0xe6},
        };
        for (const auto& key : keys) {
            const QString name = QString::fromLatin1(key.name);
            const QString code = QStringLiteral("0x%1").arg(key.code, 2, 16, QLatin1Char('0'));
            codes_.insert(name, code);
            names_.insert(code, name);
        }
    }

    // What hidCodeForKey answers: the code, or empty for a name the table does not hold.
    QString code(const QString& name) const { return codes_.value(name); }
    bool isCode(const QString& code) const { return names_.contains(code); }
    QString name(const QString& code) const {
        check(names_.contains(code), "a key code comes from the key table");
        return names_.value(code);
    }
    // The code as playback reads it: a HID usage, 0 to 255.
    static int usage(const QString& code) { return code.toInt(nullptr, 16); }

  private:
    QHash<QString, QString> codes_;
    QHash<QString, QString> names_;
};

// The table a target reads keys with, and its lookup in the form the parsers take.
inline const KeyTable& keyTable() {
    static const KeyTable table;
    return table;
}

inline QString keyCode(const QString& name) {
    return keyTable().code(name);
}

// A "delayTime" value as playback waits it, at every variation (times of day with either
// parity, over ten seconds): unchanged below 10 ms, else within 9 ms of the value and never
// wrapped.
inline void checkPlayedDelay(const QString& value) {
    const int ms = value.toInt();
    for (int time = 0; time < 10000; time += 999) {
        const int played = commandExec::variedDelay(ms, time);
        if (ms < 10) {
            check(played == ms, "a delay below 10 ms plays unchanged");
        } else {
            check(
                played >= 0 && qint64(played) >= qint64(ms) - 9 && qint64(played) <= qint64(ms) + 9,
                "a delay plays within 9 ms of its value");
        }
    }
}

}  // namespace fuzz
