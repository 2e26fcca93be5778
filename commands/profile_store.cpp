#include "commands/profile_store.h"

#include "commands/xml_string_writer.h"
#include "webhost/engine/engine_log.h"

#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextStream>

#include <new>

namespace {

const char kQueryFailed[] = "queryProfile load xml file failed!";
const char kModifySucceeded[] = "modifyProfileXml success";
const char kModifyFailed[] = "modifyProfileXml failed!";
const char kSaveSucceeded[] = "save xml success";

const char kIndent[] = "\t";
constexpr unsigned kPrintFlags = pugi::format_indent;

// A page may only name files below the application folder: no root, no drive or stream
// (":"), no step upwards, whichever separator it uses.
bool isContainedRelativePath(const QString& relativePath) {
    if (relativePath.startsWith(QLatin1Char('/')) || relativePath.startsWith(QLatin1Char('\\')))
        return false;
    if (relativePath.contains(QLatin1Char(':')))
        return false;
    static const QRegularExpression separators(QStringLiteral("[/\\\\]"));
    const QStringList parts = relativePath.split(separators);
    return !parts.contains(QStringLiteral(".."));
}

// Replaces the file in one step: the text goes to a temporary file beside it that is renamed
// over the old one only when completely written, so a failure keeps the old profile.
bool writeProfileFile(const QString& path, const QString& text) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    QTextStream stream(&file);
    stream.setCodec("UTF-8");
    stream << text;
    stream.flush();
    if (stream.status() != QTextStream::Ok) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

}  // namespace

bool parseProfileText(const QString& text, pugi::xml_document& document) {
    const QByteArray bytes = text.toUtf8();
    return bool(document.load_buffer(bytes.constData(), size_t(bytes.size())));
}

bool selectProfileNodes(const pugi::xml_node& root, const QString& xpath,
                        pugi::xpath_node_set& result) {
    const QByteArray expression = xpath.toUtf8();
    try {
        const pugi::xpath_query query(expression.constData());
        if (query.return_type() != pugi::xpath_type_node_set)
            return false;
        result = query.evaluate_node_set(root);
        return true;
    } catch (const pugi::xpath_exception&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

ProfileStore::ProfileStore(const QString& appFolder) : appFolder_(appFolder) {}

QString ProfileStore::absolutePath(const QString& relativePath) const {
    if (!isContainedRelativePath(relativePath))
        return QString();
    return appFolder_ + QLatin1Char('/') + relativePath;
}

bool ProfileStore::insideAppFolder(const QString& path) const {
    const QString prefix = appFolder_ + QLatin1Char('/');
    return path.startsWith(prefix) && isContainedRelativePath(path.mid(prefix.size()));
}

bool ProfileStore::cacheProfile(const QString& path) {
    // The cached text wins over the file, even when the file changed on disk since.
    if (profileCache_.contains(path))
        return true;
    if (!insideAppFolder(path))
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QTextStream stream(&file);
    stream.setCodec("UTF-8");
    profileCache_.insert(path, stream.readAll());
    return true;
}

QString ProfileStore::cachedProfile(const QString& path) const {
    return profileCache_.value(path);
}

ProfileAnswer ProfileStore::queryProfile(const QString& filePath, const QString& xpath) {
    const QString path = absolutePath(filePath);
    if (path.isEmpty())
        return ProfileAnswer::failure(QLatin1String(kQueryFailed));
    cacheProfile(path);

    // Parsed afresh every time, so the answer always follows the cached text.
    pugi::xml_document document;
    if (!parseProfileText(cachedProfile(path), document))
        return ProfileAnswer::failure(QLatin1String(kQueryFailed));

    pugi::xpath_node_set nodes;
    if (!selectProfileNodes(document, xpath, nodes))
        return ProfileAnswer::failure(QLatin1String(kQueryFailed));

    xml_string_writer writer;
    for (const pugi::xpath_node& item : nodes) {
        if (item.node())
            item.node().print(writer, kIndent, kPrintFlags, pugi::encoding_auto, 0);
    }
    return ProfileAnswer::success(QString::fromStdString(writer.result));
}

ProfileAnswer ProfileStore::modifyProfileXml(const QString& filePath, const QString& contentStr) {
    const QString path = absolutePath(filePath);
    if (path.isEmpty())
        return ProfileAnswer::failure(QLatin1String(kModifyFailed));

    // Whatever a failed parse built would replace the stored profile; leave everything as is.
    pugi::xml_document document;
    if (!parseProfileText(contentStr, document))
        return ProfileAnswer::failure(QLatin1String(kModifyFailed));

    xml_string_writer writer;
    document.save(writer, kIndent, kPrintFlags, pugi::encoding_auto);
    const QString newText = QString::fromStdString(writer.result);

    // A new file exists from the first change on; a failure here still leaves it dirty.
    if (!QFile::exists(path))
        writeProfileFile(path, newText);

    ENGINE_LOG_INFO(newText);

    profileCache_.insert(path, newText);
    if (!dirtyProfiles_.contains(path))
        dirtyProfiles_.append(path);
    return ProfileAnswer::success(QLatin1String(kModifySucceeded));
}

bool ProfileStore::writeDirtyProfiles() {
    for (const QString& path : qAsConst(dirtyProfiles_)) {
        if (!writeProfileFile(path, profileCache_.value(path)))
            return false;
    }
    dirtyProfiles_.clear();
    return true;
}

ProfileAnswer ProfileStore::savexml() {
    if (profileCache_.isEmpty())
        return ProfileAnswer::none();
    if (!writeDirtyProfiles())
        return ProfileAnswer::none();
    return ProfileAnswer::success(QLatin1String(kSaveSucceeded));
}

bool ProfileStore::flushProfiles() {
    if (profileCache_.isEmpty()) {
        dirtyProfiles_.clear();
        return true;
    }
    return writeDirtyProfiles();
}
