// The unpack into tupdates/<kind>/ready: the folders it leaves behind, its log lines, and
// hostile packages, which must fail without writing anything.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include "base/engine_log.h"
#include "platform/linux/shell_operations_linux.h"
#include "tests/update/package_fixtures.h"
#include "update/package.h"
#include "update/package_label.h"
#include "update/package_signature.h"

namespace update {
namespace {

using update_test::body;
using update_test::entry;
using update_test::readFile;
using update_test::setStoredSize;
using update_test::writeFile;

// Every file and folder below `root`, relative to it, sorted.
QStringList treeOf(const QString& root) {
    QStringList entries;
    QDirIterator walk(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                      QDirIterator::Subdirectories);
    while (walk.hasNext())
        entries.append(QDir(root).relativeFilePath(walk.next()));
    entries.sort();
    return entries;
}

// The system's shell operations, noting what tupdates held whenever something was deleted.
class RecordingShell : public platform::ShellOperations {
  public:
    explicit RecordingShell(QString updateFolder) : updateFolder_(std::move(updateFolder)) {}

    bool deleteTree(const std::string& path) override {
        deleted.append(QString::fromStdString(path));
        seen.append(treeOf(updateFolder_));
        return shell_.deleteTree(path);
    }
    int walkTree(const std::string& root, std::vector<platform::TreeEntry>& entries) override {
        return shell_.walkTree(root, entries);
    }
    int createFolder(const std::string& path) override { return shell_.createFolder(path); }
    int copyFile(const std::string& source, const std::string& target) override {
        return shell_.copyFile(source, target);
    }
    long execute(const std::string& program, const std::string& arguments,
                 const std::string& workingFolder, bool elevated) override {
        return shell_.execute(program, arguments, workingFolder, elevated);
    }

    QStringList deleted;
    QList<QStringList> seen;

  private:
    QString updateFolder_;
    platform::LinuxShellOperations shell_;
};

class Unpack : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(sandbox.isValid() && logFolder.isValid());
        appFolder = sandbox.path() + "/app/";
        tempDir = appFolder + "tupdates/html/temp";
        readyDir = appFolder + "tupdates/html/ready";
        packagePath = appFolder + "tupdates/html/tupdate.bin";
        writeFile(sandbox.path() + "/outside.txt", "outside");
        writeFile(appFolder + "client.exe", "client");
        ASSERT_TRUE(QDir().mkpath(appFolder + "tupdates/html"));
        ASSERT_TRUE(engine::Log::open(logFolder.path() + "/app.log", engine::LogSeverity::Info));
        environment.appFolder = appFolder;
        environment.shell = &shell;
    }
    void TearDown() override { engine::Log::close(); }

    std::optional<QString> unpack(const QByteArray& package) {
        writeFile(packagePath, package);
        return unpackPackage(environment, "html", packagePath);
    }

    QStringList logLines() const {
        QStringList lines;
        for (const QByteArray& line : readFile(logFolder.path() + "/app.log").split('\n')) {
            if (!line.isEmpty())
                lines.append(QString::fromUtf8(line.mid(line.indexOf("] ") + 2)));
        }
        return lines;
    }

    // A failed unpack leaves the application folder as it was: its kind's folder goes, and
    // tupdates with it once empty.
    void expectClearedWithoutWriting() {
        EXPECT_EQ(QStringList({"app", "app/client.exe", "outside.txt"}), treeOf(sandbox.path()));
        EXPECT_EQ("client", readFile(appFolder + "client.exe"));
        EXPECT_EQ("outside", readFile(sandbox.path() + "/outside.txt"));
        ASSERT_FALSE(shell.seen.isEmpty());
        EXPECT_EQ(QStringList({"html", "html/tupdate.bin"}), shell.seen.first())
            << "written before the checks ended";
        EXPECT_EQ(appFolder + "tupdates/html", shell.deleted.last());
    }

    QTemporaryDir sandbox;
    QTemporaryDir logFolder;
    QString appFolder, tempDir, readyDir, packagePath;
    RecordingShell shell{sandbox.path() + "/app/tupdates"};
    Environment environment;
};

TEST_F(Unpack, LeavesExactlyThePackagesFilesInTheReadyFolder) {
    writeFile(tempDir + "/stale.txt", "stale");
    writeFile(readyDir + "/old.txt", "old");
    writeFile(appFolder + "tupdates/client/ready/Velmora.exe", "client update");
    Package package;
    package.version = "5.0.2";
    package.files = {{"x/a.txt", "alpha"},
                     {"x/sub/b.txt", QByteArray(70000, 'b')},
                     {"x/sub/deeper/c", QByteArray()}};
    EXPECT_EQ(QString("5.0.2"), unpack(writePackage(package, QByteArray())));

    EXPECT_FALSE(QFileInfo::exists(tempDir));
    EXPECT_FALSE(QFileInfo::exists(packagePath));
    EXPECT_EQ(QStringList({"a.txt", "sub", "sub/b.txt", "sub/deeper", "sub/deeper/c"}),
              treeOf(readyDir));
    EXPECT_EQ("alpha", readFile(readyDir + "/a.txt"));
    EXPECT_EQ(QByteArray(70000, 'b'), readFile(readyDir + "/sub/b.txt"));
    EXPECT_EQ(QByteArray(), readFile(readyDir + "/sub/deeper/c"));
    EXPECT_EQ("client update", readFile(appFolder + "tupdates/client/ready/Velmora.exe"));
    EXPECT_EQ(QStringList(), logLines());
}

TEST_F(Unpack, FailuresLogTheirLineAndRemoveOnlyTheirKindsFolder) {
    struct Case {
        QByteArray package;
        QString line;
    };
    const QVector<Case> cases = {
        {writePackage({"1", {{"x/a.txt", "a"}}}, {}).left(157),
         "Update Error: bad compressed size: 157"},
        {packBody(body("1", {}), {}), "Update Error: update is empty!"},
        {packBody(body("1", {entry("x/a.txt", "a"), {"x/b.txt", 10, QByteArray(9, 'b')}}), {}),
         "Update Error: bad file size 10 not matching data size 9"},
        {packBody(body("1", {entry("x/a.txt", "a"), entry("a.txt", "no folder")}), {}),
         "Update Error: cant open file '" + tempDir + "/a.txt' for writing"},
    };
    for (const Case& c : cases) {
        writeFile(appFolder + "tupdates/client/ready/Velmora.exe", "client update");
        writeFile(readyDir + "/old.txt", "old");
        shell.seen.clear();
        const int logged = logLines().size();
        EXPECT_EQ(std::nullopt, unpack(c.package)) << c.line.toStdString();
        EXPECT_EQ(QStringList(c.line), logLines().mid(logged));
        // The staged client update of another kind stays.
        EXPECT_EQ(QStringList({"app", "app/client.exe", "app/tupdates", "app/tupdates/client",
                               "app/tupdates/client/ready", "app/tupdates/client/ready/Velmora.exe",
                               "outside.txt"}),
                  treeOf(sandbox.path()));
        ASSERT_FALSE(shell.seen.isEmpty());
        EXPECT_EQ(QStringList({"client", "client/ready", "client/ready/Velmora.exe", "html",
                               "html/ready", "html/ready/old.txt", "html/tupdate.bin"}),
                  shell.seen.first())
            << "written before the checks ended: " << c.line.toStdString();
    }
}

TEST_F(Unpack, ReportsAPackageFileItCannotRead) {
    EXPECT_EQ(std::nullopt, unpackPackage(environment, "html", packagePath));
    EXPECT_EQ(QStringList("Update Erro: cant read updates file!"), logLines());
    EXPECT_FALSE(QFileInfo::exists(appFolder + "tupdates"));
}

TEST_F(Unpack, FailsAtAFileTheSystemCannotCreate) {
    const QString tooLong = "x/" + QString(300, 'n');
    EXPECT_EQ(std::nullopt,
              unpack(packBody(body("1", {entry("x/a.txt", "a"), entry(tooLong, "b")}), {})));
    EXPECT_EQ(
        QStringList("Update Error: cant open file '" + tempDir + "/" + tooLong + "' for writing"),
        logLines());
    EXPECT_EQ(QStringList({"app", "app/client.exe", "outside.txt"}), treeOf(sandbox.path()));
}

TEST_F(Unpack, WithoutShellCannotClearAndWritesNothing) {
    environment.shell = nullptr;
    EXPECT_EQ(std::nullopt, unpack(writePackage({"1", {{"x/a.txt", "a"}}}, {})));
    EXPECT_EQ(QStringList("Update Error: cant clear tupdates/temp or tupdates/ready dir!"),
              logLines());
    EXPECT_EQ(QStringList({"app", "app/client.exe", "app/tupdates", "app/tupdates/html",
                           "app/tupdates/html/tupdate.bin", "outside.txt"}),
              treeOf(sandbox.path()));
}

TEST_F(Unpack, HostilePackagesFailWithoutWritingAnything) {
    const QByteArray good = writePackage({"1", {{"x/a.txt", QByteArray(3000, 'a')}}}, {});
    const auto withSize = [&good](qint32 size) {
        QByteArray bytes = good;
        setStoredSize(bytes, size);
        sealPackage(bytes, {});
        return bytes;
    };
    QByteArray truncated = good.left(good.size() - 8);
    sealPackage(truncated, {});
    const QStringList climbing = {"x/../../../../outside.txt", "x/..\\..\\..\\..\\outside.txt",
                                  "x//" + sandbox.path().mid(1) + "/outside.txt",
                                  "x/C:/outside.txt", "x/sub/../../evil.txt"};
    QVector<QByteArray> packages = {withSize(-5), withSize(std::numeric_limits<qint32>::max()),
                                    withSize(3000 * 100), truncated};
    QStringList lines = {"Update Error: bad uncompressed size: -5",
                         "Update Error: bad uncompressed size: 2147483647",
                         "Update Error: could not uncompress lzma, code: 6",
                         "Update Error: could not uncompress lzma, code: 6"};
    for (const QString& name : climbing) {
        packages.append(packBody(body("1", {entry("x/a.txt", "a"), entry(name, "evil")}), {}));
        lines.append("Update Error: bad file name '" + name + "' in update file!");
    }
    packages.append(packBody(body("1", {entry("x/a.txt", "1"), entry("y/A.txt", "2")}), {}));
    lines.append("Update Error: bad file name 'y/A.txt' in update file!");
    packages.append(packBody(body("1", 1000000, {entry("x/a.txt", "1")}), {}));
    lines.append("Update Error: cant read file from downloaded stream, status: 1");

    for (int i = 0; i < packages.size(); ++i) {
        shell.seen.clear();
        const int logged = logLines().size();
        EXPECT_EQ(std::nullopt, unpack(packages[i])) << lines[i].toStdString();
        EXPECT_EQ(QStringList(lines[i]), logLines().mid(logged));
        expectClearedWithoutWriting();
    }
}

TEST_F(Unpack, ABodyLargerThanItsKindAllowsIsRefusedBeforeItIsDecompressed) {
    // A few bytes that claim to unpack to far more: the declared size is checked first.
    const auto claiming = [](qint32 bodySize) {
        QByteArray bytes = writePackage({"1", {{"x/a.txt", "a"}}}, {});
        const qint32 littleEndian = qToLittleEndian(bodySize);
        bytes.replace(153, 4, reinterpret_cast<const char*>(&littleEndian), 4);
        sealPackage(bytes, QByteArray());
        return bytes;
    };
    struct Case {
        const char* kind;
        qint64 claimed;
    };
    for (const Case& c :
         {Case{"firmware", 16 * 1024 * 1024 + 1}, Case{"html", 256 * 1024 * 1024 + 1}}) {
        SCOPED_TRACE(c.kind);
        const QString path = appFolder + "tupdates/" + c.kind + "/tupdate.bin";
        writeFile(path, claiming(qint32(c.claimed)));
        const int logged = logLines().size();
        EXPECT_EQ(std::nullopt, unpackPackage(environment, c.kind, path));
        EXPECT_EQ(logLines().mid(logged),
                  QStringList(QString("Update Error: bad uncompressed size: %1").arg(c.claimed)));
    }
}

TEST_F(Unpack, TakesOnlyWhatThePublisherSignedForThisKindAndNoOlderVersion) {
    QByteArray secretKey, publicKey, otherSecretKey, otherPublicKey;
    ASSERT_TRUE(generateKeyPair(secretKey, publicKey));
    ASSERT_TRUE(generateKeyPair(otherSecretKey, otherPublicKey));
    const auto labelled = [](const QString& kind, const QString& version, const QByteArray& key) {
        Package package{version, {{"x/a.txt", "a"}}};
        package.kind = kind;
        return writePackage(package, key);
    };
    QByteArray signedThenChanged = labelled("html", "7", secretKey);
    signedThenChanged[kLabelOffset + 16] = '8';  // the version in the label: 7 becomes 8
    struct Case {
        const char* what;
        QByteArray key;  // the publisher's public key the client trusts
        QString installed;
        bool allowDowngrade;
        QByteArray package;
        std::optional<QString> version;
        Verdict verdict;
        QString log;
    };
    const Case cases[] = {
        {"signed for this kind", publicKey, "6", false, labelled("html", "7", secretKey), "7",
         Verdict::Accepted, ""},
        {"the same version again", publicKey, "7", false, labelled("html", "7", secretKey), "7",
         Verdict::Accepted, ""},
        {"no signature", publicKey, "", false, labelled("html", "7", {}), std::nullopt,
         Verdict::Untrusted, "Update Error: update file is not signed!"},
        {"another publisher", publicKey, "", false, labelled("html", "7", otherSecretKey),
         std::nullopt, Verdict::Untrusted, "Update Error: bad signature of update file!"},
        {"a label changed after signing", publicKey, "", false, signedThenChanged, std::nullopt,
         Verdict::Untrusted, "Update Error: bad signature of update file!"},
        {"signed before labels", publicKey, "", false,
         writePackage({"7", {{"x/a.txt", "a"}}}, secretKey), std::nullopt, Verdict::Untrusted,
         "Update Error: update file does not name its kind and version!"},
        {"another kind", publicKey, "", false, labelled("firmware", "7", secretKey), std::nullopt,
         Verdict::Untrusted, "Update Error: update file is a firmware package, not html"},
        {"older", publicKey, "7.1", false, labelled("html", "7", secretKey), std::nullopt,
         Verdict::Older, "Update Error: html package 7 is older than the installed 7.1"},
        {"older, allowed for support", publicKey, "7.1", true, labelled("html", "7", secretKey),
         "7", Verdict::Accepted,
         "Update Warning: installing html package 7 over the newer 7.1, as allowDowngrade asks"},
        {"a label that hides the body's version", publicKey, "", false,
         packBody(body("2", {entry("x/a.txt", "a")}), secretKey, lzma::EndMarker::Omit, "html",
                  "7"),
         std::nullopt, Verdict::Damaged,
         "Update Error: version 2 of the update file does not match its label 7"},
        {"unsigned and unlabelled, no key",
         {},
         "",
         false,
         writePackage({"7", {{"x/a.txt", "a"}}}, {}),
         "7",
         Verdict::Accepted,
         ""},
        {"unlabelled and older, no key",
         {},
         "8",
         false,
         writePackage({"7", {{"x/a.txt", "a"}}}, {}),
         std::nullopt,
         Verdict::Older,
         "Update Error: html package 7 is older than the installed 8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(appFolder + "tupdates").removeRecursively();
        writeFile(appFolder + "Resources/pages-version", c.installed.toUtf8());
        environment.publicKey = c.key;
        environment.allowDowngrade = c.allowDowngrade;
        const int logged = logLines().size();
        writeFile(packagePath, c.package);
        PackageCheck refusal;
        EXPECT_EQ(c.version, unpackPackage(environment, "html", packagePath, &refusal));
        EXPECT_EQ(c.log.isEmpty() ? QStringList() : QStringList(c.log), logLines().mid(logged));
        if (c.version) {
            EXPECT_EQ(QStringList({"a.txt"}), treeOf(readyDir));
        } else {
            EXPECT_FALSE(QFileInfo::exists(appFolder + "tupdates"));
            if (c.verdict != Verdict::Damaged) {
                EXPECT_EQ(c.verdict, refusal.verdict);
            }
        }
    }
}

TEST_F(Unpack, ClearUpdateFolderRemovesOneKindAndTheFolderOnceEmpty) {
    QDir(appFolder + "tupdates").removeRecursively();
    writeFile(appFolder + "tupdates/client/ready/Velmora.exe", "x");
    writeFile(appFolder + "tupdates/firmware/tupdate.bin", "x");
    clearUpdateFolder(environment, "firmware");
    EXPECT_EQ(QStringList({"app", "app/client.exe", "app/tupdates", "app/tupdates/client",
                           "app/tupdates/client/ready", "app/tupdates/client/ready/Velmora.exe",
                           "outside.txt"}),
              treeOf(sandbox.path()));
    clearUpdateFolder(environment, "client");
    EXPECT_EQ(QStringList({"app", "app/client.exe", "outside.txt"}), treeOf(sandbox.path()));
}

}  // namespace
}  // namespace update
