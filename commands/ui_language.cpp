#include "commands/ui_language.h"

#include <QLocale>

#include <pugixml.hpp>

#include "commands/profile_store.h"

namespace commands {

QString uiLanguage(ProfileStore& profiles) {
    const ProfileAnswer answer =
        profiles.queryProfile(QStringLiteral("profiles/ui.xml"), QStringLiteral("/ui"));
    if (answer.kind == ProfileAnswer::Success) {
        pugi::xml_document document;
        if (parseProfileText(answer.text, document)) {
            const QString chosen =
                QString::fromUtf8(document.child("ui").attribute("language").value());
            if (chosen == QLatin1String("zh") || chosen == QLatin1String("en"))
                return chosen;
        }
    }
    return systemLanguage();
}

QString systemLanguage() {
    return QLocale::system().language() == QLocale::Chinese ? QStringLiteral("zh")
                                                            : QStringLiteral("en");
}

}  // namespace commands
