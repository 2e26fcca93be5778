// Verifying a 100 MiB signed package as the client does before it trusts anything of it:
// SHA-1, the label's SHA-256 and the signature, read in fixed-size pieces. Each measurement
// runs in a fresh process, so its peak resident memory is its own; beside it, the same
// process reading the whole file into memory, as the client did before.

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <random>

#include "update/package.h"
#include "update/package_label.h"
#include "update/package_signature.h"
#include "update/package_verify.h"

extern char** environ;

namespace {

constexpr qint64 kPackageSize = 100 * 1024 * 1024;

// A signed, labelled firmware-sized header over random bytes: verification never decompresses,
// so the stream need not be one.
bool writeLargePackage(const QString& path, QByteArray& publicKey) {
    QByteArray secretKey;
    if (!update::generateKeyPair(secretKey, publicKey))
        return false;
    QByteArray bytes(int(kPackageSize), Qt::Uninitialized);
    std::mt19937_64 random(11);
    for (qint64 i = 0; i + 8 <= kPackageSize; i += 8) {
        const quint64 value = random();
        std::memcpy(bytes.data() + i, &value, 8);
    }
    bytes.replace(0, 157, QByteArray(157, '\0'));
    bytes.replace(update::kLabelOffset, update::kLabelSize,
                  update::writeLabel({"client", "9.9.9", QByteArray(32, '\0')}));
    if (!update::sealPackage(bytes, secretKey))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// In the child: one measurement, its milliseconds on standard output.
int measure(const char* what, const QString& path, const QByteArray& publicKey) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    QElapsedTimer timer;
    timer.start();
    if (std::strcmp(what, "verify") == 0) {
        update::PackageRules rules;
        rules.kind = QStringLiteral("client");
        rules.publicKey = publicKey;
        const update::PackageCheck check = update::verifyPackage(file, rules);
        if (check.verdict != update::Verdict::Accepted) {
            std::fprintf(stderr, "%s\n", qUtf8Printable(check.error));
            return 1;
        }
    } else {
        const QByteArray whole = file.readAll();
        if (whole.size() != file.size())
            return 1;
    }
    // The peak of this process's own memory since exec, which rusage would mix with the
    // spawning parent's.
    QFile status(QStringLiteral("/proc/self/status"));
    long peakKiB = 0;
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                peakKiB = line.mid(6).trimmed().split(' ').value(0).toLong();
        }
    }
    std::printf("%lld %ld\n", static_cast<long long>(timer.elapsed()), peakKiB);
    return 0;
}

struct Measurement {
    long long milliseconds = -1;
    long peakKiB = 0;
};

Measurement inChild(const char* what, const QString& path, const QString& key) {
    const QByteArray self = QFile::encodeName(QCoreApplication::applicationFilePath());
    const QByteArray file = QFile::encodeName(path);
    const QByteArray keyText = key.toLatin1();
    char* const arguments[] = {const_cast<char*>(self.constData()), const_cast<char*>(what),
                               const_cast<char*>(file.constData()),
                               const_cast<char*>(keyText.constData()), nullptr};
    int pipe[2];
    if (::pipe(pipe) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipe[0]);
    pid_t child = 0;
    const int spawned =
        posix_spawn(&child, self.constData(), &actions, nullptr, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    Measurement result;
    if (spawned == 0) {
        char text[64] = {};
        const ssize_t got = ::read(pipe[0], text, sizeof text - 1);
        int status = 0;
        ::waitpid(child, &status, 0);
        if (got > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0)
            std::sscanf(text, "%lld %ld", &result.milliseconds, &result.peakKiB);
    }
    ::close(pipe[0]);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 4)
        return measure(argv[1], QString::fromLocal8Bit(argv[2]),
                       update::decodePublicKey(QString::fromLatin1(argv[3])));
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("client.pkg"));
    QByteArray publicKey;
    if (!folder.isValid() || !writeLargePackage(path, publicKey)) {
        std::fprintf(stderr, "cannot write the package\n");
        return 1;
    }
    const QString key = update::encodeKey(publicKey);
    std::printf("package of %lld MiB, each measurement in a process of its own:\n",
                kPackageSize / (1024 * 1024));
    const struct {
        const char* what;
        const char* label;
    } runs[] = {{"verify", "verify (SHA-1, SHA-256, signature)"},
                {"read", "read whole into memory (before)"}};
    for (const auto& run : runs) {
        const Measurement measured = inChild(run.what, path, key);
        if (measured.milliseconds < 0) {
            std::fprintf(stderr, "%s failed\n", run.what);
            return 1;
        }
        std::printf("  %-36s %6lld ms   peak resident %7.1f MiB\n", run.label,
                    measured.milliseconds, measured.peakKiB / 1024.0);
    }
    return 0;
}
