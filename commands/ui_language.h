#pragma once

#include <QString>

class ProfileStore;

namespace commands {

// The language of the program's own windows, menus and dialogs, "zh" or "en": the pages'
// choice (profiles/ui.xml, which they write through the profile store), else the system's.
QString uiLanguage(ProfileStore& profiles);

// "zh" under a Chinese system locale, else "en": what the first start speaks.
QString systemLanguage();

// One of two texts by language.
inline QString inLanguage(const QString& language, const QString& zh, const QString& en) {
    return language == QLatin1String("en") ? en : zh;
}

}  // namespace commands
