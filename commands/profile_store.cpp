#include "commands/profile_store.h"

#include "base/engine_log.h"
#include "base/xml_string_writer.h"
#include "commands/xpath_work_bound.h"
#include "storage/path_rule.h"
#include "storage/safe_file_writer.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <algorithm>
#include <new>

namespace {

const char kQueryFailed[] = "queryProfile load xml file failed!";
const char kModifySucceeded[] = "modifyProfileXml success";
const char kModifyFailed[] = "modifyProfileXml failed!";
const char kSaveSucceeded[] = "save xml success";

const char kIndent[] = "\t";
constexpr unsigned kPrintFlags = pugi::format_indent;

bool writeProfileFile(const QString& path, const QString& text) {
    if (storage::writeFileSafely(path, text.toUtf8(), storage::FileMode::Text))
        return true;
    ENGINE_LOG_INFO(QStringLiteral("Application Error: failed to write profile %1").arg(path));
    return false;
}

// A new profile may name folders that do not exist yet; they are made below the application
// folder, which `path` (already checked) cannot leave.
bool createProfileFile(const QString& path, const QString& text) {
    return QDir().mkpath(QFileInfo(path).absolutePath()) && writeProfileFile(path, text);
}

// Printed with one indent per level, a profile's text grows with the square of its depth.
// Real profiles are a few levels deep.
constexpr int kMaxProfileDepth = 256;

int nestingDepth(const pugi::xml_node& root) {
    int depth = 0;
    int deepest = 0;
    for (pugi::xml_node node = root.first_child(); node;) {
        deepest = std::max(deepest, depth + 1);
        if (node.first_child()) {
            node = node.first_child();
            ++depth;
            continue;
        }
        while (node && !node.next_sibling()) {
            node = node.parent();
            --depth;
            if (node == root)
                return deepest;
        }
        node = node.next_sibling();
    }
    return deepest;
}

}  // namespace

bool parseProfileText(const QString& text, pugi::xml_document& document) {
    // The text is decoded already: an encoding its declaration names, or a guess from its
    // first bytes, would decode it a second time into other characters.
    const QByteArray bytes = text.toUtf8();
    if (!document.load_buffer(bytes.constData(), size_t(bytes.size()), pugi::parse_default,
                              pugi::encoding_utf8)) {
        return false;
    }
    if (nestingDepth(document) > kMaxProfileDepth) {
        document.reset();
        ENGINE_LOG_INFO(
            QStringLiteral("Application Error: profile nested deeper than %1 levels refused")
                .arg(kMaxProfileDepth));
        return false;
    }
    return true;
}

bool selectProfileNodes(const pugi::xml_node& root, const QString& xpath,
                        pugi::xpath_node_set& result) {
    // pugixml reads the expression up to its first zero byte.
    const QByteArray expression(xpath.toUtf8().constData());
    try {
        const pugi::xpath_query query(expression.constData());
        if (query.return_type() != pugi::xpath_type_node_set)
            return false;
        if (!withinXPathWorkBudget(root, expression)) {
            ENGINE_LOG_INFO(
                QStringLiteral("Application Error: XPath query refused as unbounded: %1")
                    .arg(xpath.left(64)));
            return false;
        }
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
    return storage::pathInside(appFolder_, relativePath);
}

bool ProfileStore::insideAppFolder(const QString& path) const {
    const QString prefix = appFolder_ + QLatin1Char('/');
    return path.startsWith(prefix) && !absolutePath(path.mid(prefix.size())).isEmpty();
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
    if (!parseProfileText(cachedProfile(path), document)) {
        keepDamagedAside(path);
        return ProfileAnswer::failure(QLatin1String(kQueryFailed));
    }

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

// Only a file read from the disk can fail to parse: what a page stores is checked first.
void ProfileStore::keepDamagedAside(const QString& path) {
    if (dirtyProfiles_.contains(path) || !QFileInfo(path).isFile())
        return;
    profileCache_.remove(path);
    const QString dated = path + QStringLiteral(".damaged-") +
                          QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    // A copy kept earlier in the same second stays too.
    QString kept = dated;
    for (int n = 2; QFileInfo::exists(kept); ++n)
        kept = dated + QLatin1Char('-') + QString::number(n);
    if (!QFile::rename(path, kept)) {
        ENGINE_LOG_INFO(
            QStringLiteral("Application Error: damaged profile %1 cannot be kept aside").arg(path));
        return;
    }
    damaged_.insert(path, kept);
    ENGINE_LOG_INFO(
        QStringLiteral("Application Error: damaged profile %1 kept as %2").arg(path, kept));
}

QString ProfileStore::damagedCopy(const QString& filePath) const {
    const QString kept = damaged_.value(absolutePath(filePath));
    return kept.isEmpty() ? kept : kept.mid(appFolder_.size() + 1);
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

    // A new file exists from the first change on; a change that cannot have its file is
    // refused rather than kept in memory only.
    if (!QFileInfo(path).isFile() && !createProfileFile(path, newText))
        return ProfileAnswer::failure(QLatin1String(kModifyFailed));

    ENGINE_LOG_INFO(newText);

    profileCache_.insert(path, newText);
    if (!dirtyProfiles_.contains(path))
        dirtyProfiles_.append(path);
    return ProfileAnswer::success(QLatin1String(kModifySucceeded));
}

// Every file on its own: one that cannot be written stays dirty and keeps none of the others
// from being saved.
bool ProfileStore::writeDirtyProfiles() {
    QStringList unwritten;
    for (const QString& path : qAsConst(dirtyProfiles_)) {
        if (!writeProfileFile(path, profileCache_.value(path)))
            unwritten.append(path);
    }
    dirtyProfiles_ = unwritten;
    return unwritten.isEmpty();
}

ProfileAnswer ProfileStore::savexml() {
    if (profileCache_.isEmpty())
        return ProfileAnswer::none();
    // A file left unsaved gets no answer, as an unopenable one always did; never "success".
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
