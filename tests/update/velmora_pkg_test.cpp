// The velmora-pkg tool as a publisher runs it: keys, create, and list with the client's checks.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "tests/update/package_fixtures.h"
#include "update/package.h"
#include "update/package_signature.h"

namespace update {
namespace {

using update_test::readFile;
using update_test::writeFile;

struct ToolRun {
    int exitCode = -1;
    QString out;
    QString err;
};

ToolRun velmoraPkg(const QStringList& arguments) {
    QProcess process;
    process.start(VELMORA_APP_DIR "/velmora-pkg", arguments);
    ToolRun run;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

class VelmoraPkg : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        root = dir.filePath("root");
        writeFile(root + "/index.html", "<html></html>");
        writeFile(root + "/css/a.css", "body{}");
        writeFile(root + "/css/.keep", "");
        secretFile = dir.filePath("publisher.key");
        publicFile = dir.filePath("publisher.pub");
        package = dir.filePath("out/html.bin");
        QDir().mkpath(dir.filePath("out"));
    }

    QTemporaryDir dir;
    QString root, secretFile, publicFile, package;
};

TEST_F(VelmoraPkg, CreatesASignedPackageThatListsWithItsKey) {
    ASSERT_EQ(0, velmoraPkg({"keygen", secretFile, publicFile}).exitCode);
    const QByteArray publicKey = decodePublicKey(QString::fromLatin1(readFile(publicFile)));
    ASSERT_EQ(32, publicKey.size());
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                            QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                            QFileDevice::WriteOther | QFileDevice::ExeOther;
    EXPECT_EQ(QFileDevice::Permissions(), QFile::permissions(secretFile) & others);
    EXPECT_TRUE(QFile::permissions(secretFile) & QFileDevice::ReadOwner);

    const ToolRun create =
        velmoraPkg({"create", package, "2.0.1", root, "--kind", "html", "--key", secretFile});
    ASSERT_EQ(0, create.exitCode) << create.err.toStdString();
    const ToolRun list = velmoraPkg({"list", package, "--key", publicFile});
    EXPECT_EQ(0, list.exitCode) << list.err.toStdString();
    EXPECT_EQ("kind html\nversion 2.0.1\npkg/css/.keep\t0\npkg/css/a.css\t6\npkg/index.html\t13\n",
              list.out);
    EXPECT_EQ(QString(), list.err);

    QString error;
    const std::optional<Package> read = readPackage(readFile(package), publicKey, error);
    ASSERT_TRUE(read) << error.toStdString();
    ASSERT_EQ(3, read->files.size());
    EXPECT_EQ("<html></html>", read->files[2].data);
}

TEST_F(VelmoraPkg, ListPrintsTheReadersErrorAndWritesNothing) {
    ASSERT_EQ(0, velmoraPkg({"keygen", secretFile, publicFile}).exitCode);
    ASSERT_EQ(0, velmoraPkg({"create", package, "1", root, "--kind", "html"}).exitCode);
    const ToolRun notSigned = velmoraPkg({"list", package, "--key", publicFile});
    EXPECT_NE(0, notSigned.exitCode);
    EXPECT_EQ("Update Error: update file is not signed!\n", notSigned.err);
    EXPECT_EQ(QString(), notSigned.out);

    QByteArray bytes = readFile(package);
    bytes[bytes.size() - 3] = char(bytes[bytes.size() - 3] ^ 0x10);
    writeFile(package, bytes);
    const ToolRun damaged = velmoraPkg({"list", package});
    EXPECT_NE(0, damaged.exitCode);
    EXPECT_EQ("Update Error: bad SHA1 hash of update file!\n", damaged.err);
    EXPECT_EQ(QString(), damaged.out);

    writeFile(package, packBody(update_test::body("1", {update_test::entry("a.txt", "x")}), {}));
    const ToolRun noFolder = velmoraPkg({"list", package});
    EXPECT_NE(0, noFolder.exitCode);
    EXPECT_EQ("Update Error: bad file name 'a.txt' in update file!\n", noFolder.err);
    EXPECT_EQ(QStringList({"html.bin"}),
              QDir(dir.filePath("out"))
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    const ToolRun missing = velmoraPkg({"list", dir.filePath("none.bin")});
    EXPECT_NE(0, missing.exitCode);
    EXPECT_EQ("Update Erro: cant read updates file!\n", missing.err);
}

TEST_F(VelmoraPkg, CreateRefusesWhatTheClientWouldRefuse) {
    writeFile(root + "/sub/con.txt", "device name");
    const ToolRun badName = velmoraPkg({"create", package, "1", root, "--kind", "html"});
    EXPECT_NE(0, badName.exitCode);
    EXPECT_EQ("Update Error: bad file name 'pkg/sub/con.txt' in update file!\n", badName.err);
    EXPECT_FALSE(QFileInfo::exists(package));

    QDir().mkpath(dir.filePath("empty"));
    const ToolRun empty =
        velmoraPkg({"create", package, "1", dir.filePath("empty"), "--kind", "html"});
    EXPECT_NE(0, empty.exitCode);
    EXPECT_EQ("Update Error: update is empty!\n", empty.err);
    EXPECT_FALSE(QFileInfo::exists(package));

    writeFile(secretFile, "not a key\n");
    const ToolRun badKey = velmoraPkg(
        {"create", package, "1", dir.filePath("empty"), "--kind", "html", "--key", secretFile});
    EXPECT_NE(0, badKey.exitCode);
    EXPECT_EQ("velmora-pkg: " + secretFile + " holds no secret key\n", badKey.err);
}

TEST_F(VelmoraPkg, KeygenNeverReplacesAKey) {
    ASSERT_EQ(0, velmoraPkg({"keygen", secretFile, publicFile}).exitCode);
    const QByteArray secret = readFile(secretFile);
    const QByteArray pub = readFile(publicFile);
    EXPECT_NE(0, velmoraPkg({"keygen", secretFile, dir.filePath("other.pub")}).exitCode);
    EXPECT_NE(0, velmoraPkg({"keygen", dir.filePath("other.key"), publicFile}).exitCode);
    EXPECT_EQ(secret, readFile(secretFile));
    EXPECT_EQ(pub, readFile(publicFile));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("other.pub")));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("other.key")));
    EXPECT_NE(0, velmoraPkg({"frobnicate"}).exitCode);
}

}  // namespace
}  // namespace update
