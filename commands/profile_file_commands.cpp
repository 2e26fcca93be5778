// Profiles exported to and imported from files the user chooses: the dialog and the file work
// are one command, so a page never names a path outside the application folder itself.

#include "commands/command_dispatcher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include "commands/command_arguments.h"
#include "commands/command_host.h"
#include "commands/profile_store.h"
#include "commands/ui_language.h"
#include "storage/safe_file_writer.h"

using commands::text;

namespace {

// Far beyond any profile the page writes; a larger file is not one.
constexpr qint64 kLargestProfileFile = 4 * 1024 * 1024;

const QString kCancelled = QStringLiteral("doesn't select file");

QString profileFilter(const QString& language) {
    return commands::inLanguage(language, QStringLiteral("配置文件 (*.pfd);;所有文件 (*)"),
                                QStringLiteral("Profiles (*.pfd);;All files (*)"));
}

// The page's proposed name without folders or characters that file systems refuse.
QString plainFileName(const QString& proposed) {
    static const QString refused = QStringLiteral("\\/:*?\"<>|");
    QString name;
    for (const QChar c : proposed) {
        if (c.unicode() >= 0x20 && !refused.contains(c))
            name += c;
    }
    name = name.trimmed();
    while (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    if (name.isEmpty())
        name = QStringLiteral("profile");
    if (!name.endsWith(QLatin1String(".pfd"), Qt::CaseInsensitive))
        name += QStringLiteral(".pfd");
    return name;
}

}  // namespace

// Where the dialogs open: the user's documents, or their home where there is no such folder.
QString commands::documentsFolder() {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

void CommandDispatcher::exportProfileFile(const QVariantMap& query,
                                          const engine::QueryCallbackPtr& callback) {
    const QString content = text(query, "contentStr");
    pugi::xml_document document;
    if (!parseProfileText(content, document) || !document.first_child()) {
        callback->Failure(0, QStringLiteral("not a profile"));
        return;
    }
    const QString language = commands::uiLanguage(host_.profiles());
    QString path = host_.askFileToSave(
        {commands::inLanguage(language, QStringLiteral("导出配置文件"),
                              QStringLiteral("Export profile")),
         commands::documentsFolder() + QLatin1Char('/') + plainFileName(text(query, "fileName")),
         profileFilter(language)});
    if (path.isEmpty()) {
        callback->Failure(0, kCancelled);
        return;
    }
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".pfd");
    if (!storage::writeFileSafely(path, content.toUtf8(), storage::FileMode::Text)) {
        callback->Failure(0, QStringLiteral("cannot write"));
        return;
    }
    callback->Success(path);
}

void CommandDispatcher::importProfileFile(const QVariantMap&,
                                          const engine::QueryCallbackPtr& callback) {
    const QString language = commands::uiLanguage(host_.profiles());
    const QString path =
        host_.askFileToOpen({commands::inLanguage(language, QStringLiteral("导入配置文件"),
                                                  QStringLiteral("Import profile")),
                             commands::documentsFolder(), profileFilter(language)});
    if (path.isEmpty()) {
        callback->Failure(0, kCancelled);
        return;
    }
    QFile file(path);
    if (file.size() > kLargestProfileFile) {
        callback->Failure(0, QStringLiteral("too large"));
        return;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        callback->Failure(0, QStringLiteral("cannot read"));
        return;
    }
    const QByteArray bytes = file.read(kLargestProfileFile + 1);
    if (file.error() != QFileDevice::NoError || bytes.size() > kLargestProfileFile) {
        callback->Failure(0, QStringLiteral("cannot read"));
        return;
    }
    QJsonObject answer;
    answer.insert(QStringLiteral("path"), path);
    answer.insert(QStringLiteral("text"), QString::fromUtf8(bytes));
    callback->Success(QString::fromUtf8(QJsonDocument(answer).toJson(QJsonDocument::Compact)));
}
