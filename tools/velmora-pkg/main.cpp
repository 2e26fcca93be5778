// The publisher's tool for update packages: packs a folder tree, checks and lists a package as
// the client's unpack reads it, and makes signing keys.

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSaveFile>
#include <QStringList>

#include <cstdio>
#include <optional>

#include "update/package.h"
#include "update/package_signature.h"

namespace {

// Every stored name starts with one component that the unpack drops.
const QString kLeadingComponent = QStringLiteral("pkg/");

int usage() {
    std::fputs(
        "usage: velmora-pkg create OUT VERSION ROOT --kind KIND [--key SECRETKEYFILE]\n"
        "       velmora-pkg list FILE [--key PUBLICKEYFILE]\n"
        "       velmora-pkg keygen SECRETFILE PUBLICFILE\n"
        "create packs every file below ROOT, stored as pkg/<path below ROOT>, labels the\n"
        "package with its KIND (client, html or firmware) and VERSION, and signs the label\n"
        "with the secret key. list makes every check the client makes but those of kind and\n"
        "version (with the signature when a public key is given), then prints \"kind <kind>\",\n"
        "\"version <version>\" and one line per file: its stored name, a tab and its size in\n"
        "bytes. A key file holds one line, the\n"
        "raw Ed25519 key in base64 (64 bytes secret, 32 bytes public); conf.xml's updateKey\n"
        "takes the public key's line.\n",
        stderr);
    return 2;
}

int failure(const QString& text) {
    std::fprintf(stderr, "%s\n", qUtf8Printable(text));
    return 1;
}

std::optional<QByteArray> readWhole(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

// The key in the file, decoded by `decode`; empty when there is none.
QByteArray readKey(const QString& path, QByteArray (*decode)(const QString&)) {
    const std::optional<QByteArray> text = readWhole(path);
    return text ? decode(QString::fromLatin1(*text)) : QByteArray();
}

int create(const QString& out, const QString& version, const QString& root, const QString& kind,
           const QString& keyFile) {
    if (update::packageSizeLimit(kind) == 0)
        return failure(QStringLiteral("velmora-pkg: the kind is client, html or firmware"));
    QByteArray secretKey;
    if (!keyFile.isEmpty()) {
        secretKey = readKey(keyFile, update::decodeSecretKey);
        if (secretKey.isEmpty())
            return failure(QStringLiteral("velmora-pkg: %1 holds no secret key").arg(keyFile));
    }
    const QDir rootDir(QDir(root).absolutePath());
    if (!rootDir.exists())
        return failure(QStringLiteral("velmora-pkg: %1 is no folder").arg(root));

    QStringList paths;
    QDirIterator walk(rootDir.path(), QDir::Files | QDir::Hidden | QDir::System,
                      QDirIterator::Subdirectories);
    while (walk.hasNext())
        paths.append(rootDir.relativeFilePath(walk.next()));
    paths.sort();
    update::Package package;
    package.version = version;
    package.kind = kind;
    for (const QString& path : paths) {
        const std::optional<QByteArray> data = readWhole(rootDir.filePath(path));
        if (!data)
            return failure(QStringLiteral("velmora-pkg: cannot read %1").arg(path));
        package.files.append({kLeadingComponent + path, *data});
    }

    const QByteArray bytes = update::writePackage(package, secretKey);
    if (bytes.isEmpty())
        return failure(
            QStringLiteral("velmora-pkg: the files or the version (at most 16 bytes) "
                           "do not fit a package"));
    // What the client would refuse is never published.
    QString error;
    if (!update::readPackage(bytes, update::publicKeyOf(secretKey), error))
        return failure(error);

    QSaveFile file(out);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return failure(QStringLiteral("velmora-pkg: cannot write %1").arg(out));
    return 0;
}

int list(const QString& path, const QString& keyFile) {
    QByteArray publicKey;
    if (!keyFile.isEmpty()) {
        publicKey = readKey(keyFile, update::decodePublicKey);
        if (publicKey.isEmpty())
            return failure(QStringLiteral("velmora-pkg: %1 holds no public key").arg(keyFile));
    }
    const std::optional<QByteArray> bytes = readWhole(path);
    if (!bytes)
        return failure(QStringLiteral("Update Erro: cant read updates file!"));
    QString error;
    const std::optional<update::Package> package = update::readPackage(*bytes, publicKey, error);
    if (!package)
        return failure(error);
    std::printf("kind %s\n", package->kind.isEmpty() ? "(none)" : qUtf8Printable(package->kind));
    std::printf("version %s\n", qUtf8Printable(package->version));
    for (const update::PackageFile& file : package->files)
        std::printf("%s\t%d\n", qUtf8Printable(file.name), file.data.size());
    return 0;
}

// A new file, or false when one is there already: a key is never overwritten.
bool writeNew(const QString& path, const QString& text, QFileDevice::Permissions permissions) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    const QByteArray line = text.toLatin1() + '\n';
    return file.setPermissions(permissions) && file.write(line) == line.size() && file.flush();
}

int keygen(const QString& secretFile, const QString& publicFile) {
    QByteArray secretKey;
    QByteArray publicKey;
    if (!update::generateKeyPair(secretKey, publicKey))
        return failure(QStringLiteral("velmora-pkg: cannot make a key pair"));
    if (!writeNew(secretFile, update::encodeKey(secretKey),
                  QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return failure(QStringLiteral("velmora-pkg: cannot write the new file %1").arg(secretFile));
    if (!writeNew(publicFile, update::encodeKey(publicKey),
                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                      QFileDevice::ReadOther)) {
        QFile::remove(secretFile);  // half a pair is of no use
        return failure(QStringLiteral("velmora-pkg: cannot write the new file %1").arg(publicFile));
    }
    return 0;
}

// The value of `name` taken out of `arguments`: empty when the option is absent, nothing when
// it has no value.
std::optional<QString> takeOption(QStringList& arguments, const QString& name) {
    const int at = arguments.indexOf(name);
    if (at < 0)
        return QString();
    if (at + 1 >= arguments.size())
        return std::nullopt;
    const QString value = arguments.takeAt(at + 1);
    arguments.removeAt(at);
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    const std::optional<QString> keyFile = takeOption(arguments, QStringLiteral("--key"));
    const std::optional<QString> kind = takeOption(arguments, QStringLiteral("--kind"));
    if (!keyFile || !kind)
        return usage();
    const QString command = arguments.value(0);
    if (command == QLatin1String("create") && arguments.size() == 4 && !kind->isEmpty())
        return create(arguments[1], arguments[2], arguments[3], *kind, *keyFile);
    if (command == QLatin1String("list") && arguments.size() == 2 && kind->isEmpty())
        return list(arguments[1], *keyFile);
    if (command == QLatin1String("keygen") && arguments.size() == 3 && keyFile->isEmpty() &&
        kind->isEmpty())
        return keygen(arguments[1], arguments[2]);
    return usage();
}
