#include "update/package.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <QVector>
#include <QtEndian>

#include <algorithm>
#include <new>
#include <utility>

#include "base/engine_log.h"
#include "platform/shell_operations.h"
#include "storage/disk_sync.h"
#include "storage/path_rule.h"
#include "update/package_layout.h"
#include "update/package_signature.h"

namespace update {
namespace {

using layout::kHashOffset;
using layout::kHashSize;
using layout::kPropertiesOffset;
using layout::kSizeOffset;
using layout::kStreamOffset;
// A compressed body cannot be much larger than the largest body it may hold; anything bigger
// is not read at all.
constexpr qint64 kLargestFile = 2 * qint64(kLargestBody) - 1;

QByteArray hashOf(const QByteArray& bytes, int from, QCryptographicHash::Algorithm algorithm) {
    QCryptographicHash hash(algorithm);
    hash.addData(bytes.constData() + from, bytes.size() - from);
    return hash.result();
}

bool isPlainComponent(const QString& part) {
    if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
        return false;
    // Windows drops trailing dots and spaces, which turns ".. " into "..".
    if (part.endsWith(QLatin1Char('.')) || part.endsWith(QLatin1Char(' ')))
        return false;
    static const QString forbidden = QStringLiteral("\\:*?\"<>|");
    for (const QChar c : part) {
        if (c.unicode() < 0x20 || forbidden.contains(c))
            return false;
    }
    // These open devices on Windows in any folder.
    static const QRegularExpression device(
        QStringLiteral("^(con|prn|aux|nul|com[0-9]|lpt[0-9])(\\..*)?$"),
        QRegularExpression::CaseInsensitiveOption);
    return !device.match(part).hasMatch();
}

enum class NameCheck { Good, NotAFile, Bad };

// A name is a file path below the unpack folder when every part of it is a plain name; one
// without a part below its leading one names no file.
NameCheck checkName(const QString& name, const QStringList& parts) {
    if (parts.size() < 2 || parts.last().isEmpty())
        return NameCheck::NotAFile;
    if (!storage::isContainedRelativePath(name))
        return NameCheck::Bad;
    for (const QString& part : parts) {
        if (!isPlainComponent(part))
            return NameCheck::Bad;
    }
    return NameCheck::Good;
}

// Remembers the paths written so far, folded as a case-insensitive file system sees them, so
// that no file replaces another or stands where a folder must go.
class PathSet {
  public:
    bool add(const QStringList& parts) {
        QString path;
        for (int i = 1; i < parts.size() - 1; ++i) {
            path += parts[i].toCaseFolded();
            if (files_.contains(path))
                return false;
            folders_.insert(path);
            path += QLatin1Char('/');
        }
        path += parts.last().toCaseFolded();
        if (files_.contains(path) || folders_.contains(path))
            return false;
        files_.insert(path);
        return true;
    }

  private:
    QSet<QString> files_;
    QSet<QString> folders_;
};

QString streamError(const char* what, QDataStream::Status status) {
    return QStringLiteral("Update Error: cant %1 from downloaded stream, status: %2")
        .arg(QLatin1String(what))
        .arg(int(status));
}

// A file of the body, left where it is in the decompressed bytes.
struct StoredFile {
    QString name;
    int offset;
    int size;
};

struct Contents {
    QByteArray body;
    QString version;
    QVector<StoredFile> files;
};

// The byte array of the data stream format (length, 0xFFFFFFFF for a null array, then the
// bytes), skipped over: the unpack writes the bytes from the body itself.
void skipByteArray(QDataStream& stream, int& offset, int& size) {
    quint32 length = 0;
    stream >> length;
    offset = int(stream.device()->pos());
    size = 0;
    if (stream.status() != QDataStream::Ok || length == 0xFFFFFFFFu)
        return;
    if (length > quint64(stream.device()->size() - offset)) {
        stream.setStatus(QDataStream::ReadPastEnd);
        return;
    }
    size = int(length);
    stream.device()->seek(offset + size);
}

// `tempDir` (absolute) names the unpack folder in the text of a name that is no file path;
// without it such a name is a bad file name.
bool parseBody(Contents& contents, const QString& tempDir, QString& error) {
    QDataStream stream(contents.body);
    stream.setVersion(QDataStream::Qt_5_1);
    stream >> contents.version;
    if (stream.status() != QDataStream::Ok) {
        error = streamError("read version", stream.status());
        return false;
    }
    quint32 count = 0;
    stream >> count;
    if (stream.status() != QDataStream::Ok) {
        error = streamError("read files count", stream.status());
        return false;
    }
    if (count == 0) {
        error = QStringLiteral("Update Error: update is empty!");
        return false;
    }
    PathSet paths;
    for (quint32 i = 0; i < count; ++i) {
        StoredFile file;
        quint32 size = 0;
        stream >> file.name >> size;
        skipByteArray(stream, file.offset, file.size);
        if (stream.status() != QDataStream::Ok) {
            error = streamError("read file", stream.status());
            return false;
        }
        if (size != quint32(file.size)) {
            error = QStringLiteral("Update Error: bad file size %1 not matching data size %2")
                        .arg(size)
                        .arg(file.size);
            return false;
        }
        const QStringList parts = file.name.split(QLatin1Char('/'));
        const NameCheck check = checkName(file.name, parts);
        if (check == NameCheck::NotAFile && !tempDir.isEmpty()) {
            error = QStringLiteral("Update Error: cant open file '%1' for writing")
                        .arg(tempDir + QLatin1Char('/') + file.name);
            return false;
        }
        if (check != NameCheck::Good || !paths.add(parts)) {
            error =
                QStringLiteral("Update Error: bad file name '%1' in update file!").arg(file.name);
            return false;
        }
        contents.files.append(std::move(file));
    }
    return true;
}

// Decompresses and parses a body whose package has passed verifyPackage; `stream` points at
// the compressed bytes (from offset 157), `head` at the package's first bytes.
std::optional<Contents> readBody(const char* head, const uchar* stream, qint64 streamSize,
                                 const std::optional<PackageLabel>& label, qint64 largestBody,
                                 const QString& tempDir, QString& error) {
    const qint32 bodySize = qFromLittleEndian<qint32>(head + kSizeOffset);
    if (bodySize < 0 || bodySize > largestBody) {
        error = QStringLiteral("Update Error: bad uncompressed size: %1").arg(bodySize);
        return std::nullopt;
    }
    Contents contents;
    try {
        const lzma::Result result =
            lzma::decode(reinterpret_cast<const uchar*>(head) + kPropertiesOffset, stream,
                         std::size_t(streamSize), quint32(bodySize), contents.body);
        if (result != lzma::Ok) {
            error = QStringLiteral("Update Error: could not uncompress lzma, code: %1").arg(result);
            return std::nullopt;
        }
        if (!parseBody(contents, tempDir, error))
            return std::nullopt;
    } catch (const std::bad_alloc&) {
        error = QStringLiteral("Update Error: not enough memory to unpack the update file");
        return std::nullopt;
    }
    if (label && label->version != contents.version) {
        error = QStringLiteral(
                    "Update Error: version %1 of the update file does not match its "
                    "label %2")
                    .arg(contents.version, label->version);
        return std::nullopt;
    }
    return contents;
}

std::optional<Contents> readChecked(const QByteArray& bytes, const PackageRules& rules,
                                    QString& error, std::optional<PackageLabel>& label) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    const PackageCheck check = verifyPackage(buffer, rules);
    if (check.verdict != Verdict::Accepted) {
        error = check.error;
        return std::nullopt;
    }
    label = check.label;
    return readBody(bytes.constData(),
                    reinterpret_cast<const uchar*>(bytes.constData()) + kStreamOffset,
                    bytes.size() - kStreamOffset, label, kLargestBody, QString(), error);
}

void fail(const Environment& environment, const QString& kind, const QString& message) {
    ENGINE_LOG_INFO(message);
    clearUpdateFolder(environment, kind);
}

// True when nothing is left at `path`.
bool removeTree(const Environment& environment, const QString& path) {
    if (!environment.shell)
        return false;
    environment.shell->deleteTree(path.toStdString());
    const QFileInfo left(path);
    return !left.exists() && !left.isSymLink();
}

struct KindLimits {
    const char* kind;
    qint64 file;
    qint64 body;
};

// What a real update of each kind needs, with room to grow.
KindLimits limitsOf(const QString& kind) {
    constexpr qint64 kMiB = 1024 * 1024;
    static const KindLimits limits[] = {
        {"client", 512 * kMiB, kLargestBody},
        {"html", 64 * kMiB, 256 * kMiB},
        {"firmware", 8 * kMiB, 16 * kMiB},
    };
    for (const KindLimits& known : limits) {
        if (kind == QLatin1String(known.kind))
            return known;
    }
    return {"", 0, 0};
}

}  // namespace

std::optional<Package> readPackage(const QByteArray& bytes, const QByteArray& publicKey,
                                   QString& error) {
    PackageRules rules;
    rules.publicKey = publicKey;
    std::optional<PackageLabel> label;
    const std::optional<Contents> contents = readChecked(bytes, rules, error, label);
    if (!contents)
        return std::nullopt;
    Package package;
    package.version = contents->version;
    for (const StoredFile& file : contents->files)
        package.files.append({file.name, contents->body.mid(file.offset, file.size)});
    if (label)
        package.kind = label->kind;
    return package;
}

QByteArray writePackage(const Package& package, const QByteArray& secretKey,
                        lzma::EndMarker marker) {
    QByteArray body;
    QDataStream stream(&body, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_5_1);
    stream << package.version << quint32(package.files.size());
    for (const PackageFile& file : package.files)
        stream << file.name << quint32(file.data.size()) << file.data;
    if (stream.status() != QDataStream::Ok)
        return {};
    return packBody(body, secretKey, marker, package.kind, package.version);
}

QByteArray packBody(const QByteArray& body, const QByteArray& secretKey, lzma::EndMarker marker,
                    const QString& kind, const QString& version) {
    QByteArray properties;
    QByteArray stream;
    if (body.size() > kLargestBody || !lzma::encode(body, marker, properties, stream) ||
        stream.size() > kLargestFile - kStreamOffset)
        return {};
    QByteArray bytes(kStreamOffset, '\0');
    if (!kind.isEmpty()) {
        // A placeholder digest: sealing puts the real one in.
        const QByteArray label = writeLabel({kind, version, QByteArray(32, '\0')});
        if (label.isEmpty())
            return {};
        bytes.replace(kLabelOffset, kLabelSize, label);
    }
    bytes.replace(kPropertiesOffset, lzma::kPropertiesSize, properties);
    char size[4];
    qToLittleEndian<qint32>(body.size(), size);
    bytes.replace(kSizeOffset, sizeof size, size, sizeof size);
    bytes += stream;
    if (!sealPackage(bytes, secretKey))
        return {};
    return bytes;
}

bool sealPackage(QByteArray& bytes, const QByteArray& secretKey) {
    if (bytes.size() < kStreamOffset)
        return false;
    bytes.replace(kHashOffset, kHashSize,
                  hashOf(bytes, kPropertiesOffset, QCryptographicHash::Sha1));
    bool damaged = false;
    std::optional<PackageLabel> label = readLabel(bytes.constData() + kLabelOffset, damaged);
    if (label) {
        label->digest = hashOf(bytes, kHashOffset, QCryptographicHash::Sha256);
        bytes.replace(kLabelOffset, kLabelSize, writeLabel(*label));
    }
    if (secretKey.isEmpty())
        return true;
    // A labelled package is signed through its label; an older one over everything after the
    // free block.
    const QByteArray signature =
        label ? sign(bytes.constData() + kLabelOffset, kLabelSize, secretKey)
              : sign(bytes.constData() + kHashOffset, bytes.size() - kHashOffset, secretKey);
    if (signature.isEmpty())
        return false;
    bytes.replace(0, kSignatureSize, signature);
    return true;
}

// Every check runs before anything is deleted or written, so a bad package writes nothing; its
// failure then clears its kind's update folder as any failure does. The package is verified as
// it streams past and only then mapped for decompression, so an untrusted file is never held
// in memory.
std::optional<QString> unpackPackage(const Environment& environment, const QString& kind,
                                     const QString& packagePath, PackageCheck* refusal) {
    const QString tempDir =
        environment.appFolder + QStringLiteral("tupdates/") + kind + QStringLiteral("/temp");
    const QString readyDir =
        environment.appFolder + QStringLiteral("tupdates/") + kind + QStringLiteral("/ready");
    const auto refuse = [&](const PackageCheck& check) {
        fail(environment, kind, check.error);
        if (refusal)
            *refusal = check;
        return std::nullopt;
    };
    std::optional<Contents> contents;
    {
        QFile file(packagePath);
        if (file.size() > std::min(kLargestFile, packageSizeLimit(kind))) {
            fail(environment, kind,
                 QStringLiteral("Update Error: %1 package of %2 bytes is larger than %3 bytes")
                     .arg(kind)
                     .arg(file.size())
                     .arg(packageSizeLimit(kind)));
            return std::nullopt;
        }
        if (!file.open(QIODevice::ReadOnly)) {
            fail(environment, kind, QStringLiteral("Update Erro: cant read updates file!"));
            return std::nullopt;
        }
        PackageRules rules;
        rules.kind = kind;
        rules.publicKey = environment.publicKey;
        rules.installedVersion = installedVersion(environment, kind);
        rules.allowDowngrade = environment.allowDowngrade;
        const PackageCheck check = verifyPackage(file, rules);
        if (check.verdict != Verdict::Accepted)
            return refuse(check);
        const qint64 size = file.size();
        const uchar* mapped = file.map(0, size);
        if (!mapped) {
            fail(environment, kind, QStringLiteral("Update Erro: cant read updates file!"));
            return std::nullopt;
        }
        QString error;
        contents =
            readBody(reinterpret_cast<const char*>(mapped), mapped + kStreamOffset,
                     size - kStreamOffset, check.label, packageBodyLimit(kind), tempDir, error);
        file.unmap(const_cast<uchar*>(mapped));
        if (!contents) {
            fail(environment, kind, error);
            return std::nullopt;
        }
        // An older package names its version only inside.
        if (!check.label) {
            const PackageCheck versionCheck = checkVersion(kind, contents->version, rules);
            if (versionCheck.verdict != Verdict::Accepted)
                return refuse(versionCheck);
        }
    }

    if (!removeTree(environment, tempDir) || !removeTree(environment, readyDir)) {
        fail(environment, kind,
             QStringLiteral("Update Error: cant clear tupdates/temp or tupdates/ready dir!"));
        return std::nullopt;
    }
    QDir().mkpath(tempDir);
    const QDir temp(tempDir);
    for (const StoredFile& file : std::as_const(contents->files)) {
        const QString relative = file.name.section(QLatin1Char('/'), 1);
        const QString shown = tempDir + QLatin1Char('/') + file.name;
        const int folderEnd = relative.lastIndexOf(QLatin1Char('/'));
        if (folderEnd > 0)
            temp.mkpath(relative.left(folderEnd));
        QFile target(tempDir + QLatin1Char('/') + relative);
        if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            fail(environment, kind,
                 QStringLiteral("Update Error: cant open file '%1' for writing").arg(shown));
            return std::nullopt;
        }
        if (target.write(contents->body.constData() + file.offset, file.size) < file.size ||
            !storage::syncToDisk(target)) {
            target.close();
            fail(environment, kind,
                 QStringLiteral("Update Error: cant write file '%1'").arg(shown));
            return std::nullopt;
        }
    }
    if (!QDir().rename(tempDir, readyDir)) {
        fail(environment, kind,
             QStringLiteral("Update Error: cant rename temp dir '%1' to ready dir '%2'")
                 .arg(tempDir, readyDir));
        return std::nullopt;
    }
    removeTree(environment, tempDir);
    if (!QFile::remove(packagePath))
        return std::nullopt;
    return contents->version;
}

qint64 packageSizeLimit(const QString& kind) {
    return limitsOf(kind).file;
}

qint64 packageBodyLimit(const QString& kind) {
    return limitsOf(kind).body;
}

void clearUpdateFolder(const Environment& environment, const QString& kind) {
    if (!environment.shell || !isPlainComponent(kind))
        return;
    const QString updates = environment.appFolder + QStringLiteral("tupdates");
    environment.shell->deleteTree((updates + QLatin1Char('/') + kind).toStdString());
    QDir(environment.appFolder).rmdir(QStringLiteral("tupdates"));  // only when empty
}

}  // namespace update
