// The ranged downloaders against nginx on 127.0.0.1, and a scripted server for what nginx
// will not do.

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

#include "platform/linux/shell_operations_linux.h"
#include "tests/commands/qt_printers.h"
#include "tests/update/http_fixtures.h"
#include "update/file_downloader.h"
#include "update/package.h"
#include "update/package_signature.h"
#include "update/update_environment.h"

namespace {

constexpr int kGranule = 102400;

// One downloader on its own thread, with what it signalled.
template <class Downloader>
class Run {
  public:
    template <class... Args>
    explicit Run(Args&&... args) {
        thread_ = new QThread;
        QObject::connect(thread_, &QThread::finished, thread_, &QObject::deleteLater);
        downloader = new Downloader(thread_, std::forward<Args>(args)...);
        QObject::connect(downloader, &Downloader::finishPart, &context_,
                         [this](qint64 got, qint64 total) {
                             parts.append({got, total});
                         });
        QObject::connect(downloader, &Downloader::downLoadFinished, &context_,
                         [this] { ++finished; });
        QObject::connect(downloader, &Downloader::downLoadFailed, &context_, [this] { ++failed; });
    }
    ~Run() {
        if (!started_) {
            delete downloader;
            delete thread_;
            return;
        }
        downloader->deleteLater();
        thread_->quit();
        thread_->wait();
    }
    void start() {
        started_ = true;
        thread_->start();
    }
    bool waitForEnd() {
        return waitUntil([this] { return finished + failed > 0; });
    }

    Downloader* downloader;
    QList<QPair<qint64, qint64>> parts;
    int finished = 0;
    int failed = 0;

  protected:
    QObject context_;  // on the test's thread: the signals arrive queued

  private:
    QThread* thread_;
    bool started_ = false;
};

class PackageRun : public Run<PsUpdateDownloader> {
  public:
    PackageRun(const QString& url, const QString& kind) : Run(url, kind) {
        QObject::connect(downloader, &PsUpdateDownloader::unpressFinished, &context_,
                         [this](const QString& version) { versions.append(version); });
    }
    QStringList versions;
};

class Downloads : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        appFolder = dir.path() + "/app/";
        ASSERT_TRUE(QDir().mkpath(appFolder));
        update::Environment environment;
        environment.appFolder = appFolder;
        environment.shell = &shell;
        environment.updateServer = nginx().url("/");
        update::setEnvironment(environment);
    }
    void TearDown() override { update::setEnvironment(update::Environment()); }

    // A file of `size` bytes on nginx at /files/<name>.
    QByteArray serve(const QString& name, int size) {
        const QByteArray bytes = randomBytes(size);
        EXPECT_TRUE(nginx().putFile("files/" + name, bytes));
        return bytes;
    }
    QStringList rangesAsked(const QString& name) const {
        QStringList ranges;
        for (const QString& line : nginx().requestsFor("/files/" + name))
            ranges.append(line.section('|', 3, 4));
        return ranges;
    }
    int logged(const QString& text) const { return engineLogText().count(text); }

    QTemporaryDir dir;
    QString appFolder;
    platform::LinuxShellOperations shell;
};

using CommonRun = Run<commonFileDownloader>;

// Closes the connection a while after what was written has gone out, as a network that fails
// half way does.
void dropLater(QTcpSocket* socket) {
    socket->flush();
    QTimer::singleShot(300, socket, [socket] { socket->abort(); });
}

// A package that is exactly `size` bytes long, and its version. Random contents compress to
// about their own size, each further byte adding one or two.
QByteArray packageOfSize(int size, QString& version) {
    const QByteArray pool = randomBytes(size);
    for (const QString candidate : {"2.0", "2.00", "2.000"}) {
        auto make = [&](int n) {
            return update::writePackage({candidate, {{"x/f.bin", pool.left(n)}}}, QByteArray());
        };
        int n = size - 1000;
        n += size - make(n).size() - 5;
        for (int step = 0; step < 40 && n > 0; ++step, ++n) {
            const QByteArray bytes = make(n);
            if (bytes.size() == size) {
                version = candidate;
                return bytes;
            }
            if (bytes.size() > size)
                break;
        }
    }
    return QByteArray();
}

}  // namespace

TEST(DownloadNames, TheUrlsLastSegmentNamesTheFileInsideItsFolder) {
    EXPECT_EQ(update::downloadFileName("http://h:1/a/pkg.bin?x=1/2"), "pkg.bin");
    EXPECT_EQ(update::downloadFileName("http://h/a/pkg.bin"), "pkg.bin");
    EXPECT_EQ(update::downloadFileName("http://h/dl?file=/etc/passwd"), "dl");
    EXPECT_EQ(update::downloadFileName("http://h/a/"), "");
    EXPECT_EQ(update::downloadFileName("http://h/a/..?x"), "");
    EXPECT_EQ(update::downloadFileName("http://h/a/. ."), "");
    EXPECT_EQ(update::downloadFileName("http://h/a\\..\\..\\x.exe"), "");
    EXPECT_EQ(update::downloadFileName("http://h/C:x.exe"), "");
    EXPECT_EQ(update::downloadFileName("no slash"), "");
}

TEST_F(Downloads, AFreshDownloadAsksFromByteZeroAndWritesTheWholeFile) {
    const QByteArray source = serve("fresh.bin", 300000);
    CommonRun run(nginx().url("/files/fresh.bin?token=a/b"), "dl/");
    EXPECT_EQ(run.downloader->outputPath(), appFolder + "dl/fresh.bin");
    run.start();
    ASSERT_TRUE(run.waitForEnd());

    EXPECT_EQ(run.finished, 1);
    EXPECT_EQ(run.failed, 0);
    EXPECT_EQ(readAll(appFolder + "dl/fresh.bin"), source);
    EXPECT_FALSE(QFileInfo::exists(appFolder + "dl/fresh.bin.part"));
    EXPECT_EQ(rangesAsked("fresh.bin"), QStringList("bytes=0-|206"));
    ASSERT_FALSE(run.parts.isEmpty());
    EXPECT_EQ(run.parts.last(), qMakePair(qint64(300000), qint64(300000)));
}

TEST_F(Downloads, ALeftoverIsResumedFromItsWholeGranules) {
    struct Case {
        const char* name;
        int leftover;
        int goodBytes;  // of the leftover, the rest is not the file's
        const char* range;
    };
    const Case cases[] = {
        {"cut.bin", 250000, 204800, "bytes=204800-|206"},
        {"small.bin", 50000, 0, "bytes=0-|206"},
        {"whole.bin", 204800, 204800, "bytes=204800-|206"},
    };
    for (const Case& c : cases) {
        const QByteArray source = serve(c.name, 333333);
        QDir().mkpath(appFolder + "dl");
        writeFile(appFolder + "dl/" + c.name + ".part",
                  source.left(c.goodBytes) + QByteArray(c.leftover - c.goodBytes, 'x'));
        CommonRun run(nginx().url(QString("/files/") + c.name), "dl/");
        run.start();
        ASSERT_TRUE(run.waitForEnd()) << c.name;
        EXPECT_EQ(run.finished, 1) << c.name;
        EXPECT_EQ(readAll(appFolder + "dl/" + c.name), source) << c.name;
        EXPECT_EQ(rangesAsked(c.name), QStringList(c.range)) << c.name;
    }
}

TEST_F(Downloads, APartIsResumedOnlyWhileTheFileIsTheSameVersion) {
    const QByteArray source = serve("versioned.bin", 333333);
    const QDateTime modified =
        QFileInfo(nginx().root() + "/files/versioned.bin").lastModified().toUTC();
    const QByteArray sameVersion =
        QLocale::c().toString(modified, "ddd, dd MMM yyyy hh:mm:ss 'GMT'").toLatin1();
    struct Case {
        QByteArray validator;  // kept beside the part by the earlier download
        QByteArray part;
        const char* range;
    };
    const Case cases[] = {
        {sameVersion, source.left(2 * kGranule), "bytes=204800-|206"},
        // The file changed since: its new version comes whole instead of being stitched on.
        {"\"an-older-version\"", QByteArray(2 * kGranule, 'y'), "bytes=204800-|200"},
    };
    for (const Case& c : cases) {
        QDir(appFolder + "dl").removeRecursively();
        QDir().mkpath(appFolder + "dl");
        writeFile(appFolder + "dl/versioned.bin.part", c.part);
        writeFile(appFolder + "dl/versioned.bin.part.validator", c.validator);
        const int asked = rangesAsked("versioned.bin").size();
        CommonRun run(nginx().url("/files/versioned.bin"), "dl/");
        run.start();
        ASSERT_TRUE(run.waitForEnd()) << c.range;
        EXPECT_EQ(run.finished, 1) << c.range;
        EXPECT_EQ(readAll(appFolder + "dl/versioned.bin"), source) << c.range;
        EXPECT_EQ(rangesAsked("versioned.bin").mid(asked), QStringList(c.range));
        EXPECT_FALSE(QFileInfo::exists(appFolder + "dl/versioned.bin.part.validator"));
    }
}

TEST_F(Downloads, AServerIgnoringTheRangeRestartsTheFile) {
    const QByteArray source = randomBytes(250000);
    ScriptedServer server([&](const ScriptedServer::Request&, QTcpSocket* socket) {
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(source.size()) +
                      "\r\n\r\n" + source);
    });
    QDir().mkpath(appFolder + "dl");
    writeFile(appFolder + "dl/whole.bin.part", QByteArray(kGranule * 2, 'x'));
    CommonRun run(server.url("/whole.bin"), "dl/");
    run.start();
    ASSERT_TRUE(run.waitForEnd());

    EXPECT_EQ(run.finished, 1);
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests()[0].header("Range"), "bytes=204800-");
    EXPECT_EQ(readAll(appFolder + "dl/whole.bin"), source);
}

TEST_F(Downloads, ADroppedConnectionKeepsThePartForAResume) {
    const QByteArray source = serve("drop.bin", 400000);
    ScriptedServer dropping([&](const ScriptedServer::Request&, QTcpSocket* socket) {
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(source.size()) +
                      "\r\n\r\n" + source.left(150000));
        dropLater(socket);
    });
    const int failures = logged("Update Error: failed to download part starting from 150000");
    {
        CommonRun run(dropping.url("/files/drop.bin"), "dl/");
        run.start();
        ASSERT_TRUE(run.waitForEnd());
        EXPECT_EQ(run.failed, 1);
        EXPECT_EQ(run.finished, 0);
    }
    EXPECT_EQ(logged("Update Error: failed to download part starting from 150000"), failures + 1);
    EXPECT_EQ(readAll(appFolder + "dl/drop.bin.part"), source.left(150000));
    EXPECT_FALSE(QFileInfo::exists(appFolder + "dl/drop.bin"));

    CommonRun resume(nginx().url("/files/drop.bin"), "dl/");
    resume.start();
    ASSERT_TRUE(resume.waitForEnd());
    EXPECT_EQ(resume.finished, 1);
    EXPECT_EQ(rangesAsked("drop.bin"), QStringList("bytes=102400-|206"));
    EXPECT_EQ(readAll(appFolder + "dl/drop.bin"), source);
}

TEST_F(Downloads, RangeNotSatisfiableForAWholeFileEmitsNothingAndAppendsNothing) {
    const QByteArray source = serve("done.bin", kGranule * 2);
    QDir().mkpath(appFolder + "dl");
    writeFile(appFolder + "dl/done.bin.part", source);
    CommonRun run(nginx().url("/files/done.bin"), "dl/");
    run.start();
    ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(appFolder + "dl/done.bin"); }));
    pumpFor(300);

    EXPECT_EQ(rangesAsked("done.bin"), QStringList("bytes=204800-|416"));
    EXPECT_EQ(run.finished + run.failed, 0);
    EXPECT_TRUE(run.parts.isEmpty());
    EXPECT_EQ(readAll(appFolder + "dl/done.bin"), source);
}

TEST_F(Downloads, RangeNotSatisfiableForAStaleLeftoverStartsAgainNextTime) {
    const QByteArray source = serve("shrunk.bin", 1000);
    QDir().mkpath(appFolder + "dl");
    writeFile(appFolder + "dl/shrunk.bin.part", QByteArray(kGranule * 3, 'x'));
    {
        CommonRun run(nginx().url("/files/shrunk.bin"), "dl/");
        run.start();
        ASSERT_TRUE(run.waitForEnd());
        EXPECT_EQ(run.failed, 1);
    }
    EXPECT_FALSE(QFileInfo::exists(appFolder + "dl/shrunk.bin.part"));
    EXPECT_FALSE(QFileInfo::exists(appFolder + "dl/shrunk.bin"));

    CommonRun again(nginx().url("/files/shrunk.bin"), "dl/");
    again.start();
    ASSERT_TRUE(again.waitForEnd());
    EXPECT_EQ(again.finished, 1);
    EXPECT_EQ(readAll(appFolder + "dl/shrunk.bin"), source);
    EXPECT_EQ(rangesAsked("shrunk.bin"), QStringList({"bytes=307200-|416", "bytes=0-|206"}));
}

TEST_F(Downloads, ABadStatusRemovesThePartAndFails) {
    QDir().mkpath(appFolder + "dl");
    writeFile(appFolder + "dl/gone.bin.part", QByteArray(kGranule, 'x'));
    const int before = logged("Update Error:Bad HTTP status received in partFinished():404");
    CommonRun run(nginx().url("/files/gone.bin"), "dl/");
    run.start();
    ASSERT_TRUE(run.waitForEnd());
    pumpFor(200);

    EXPECT_EQ(run.failed, 1);
    EXPECT_EQ(run.finished, 0);
    EXPECT_EQ(logged("Update Error:Bad HTTP status received in partFinished():404"), before + 1);
    EXPECT_FALSE(QFileInfo::exists(appFolder + "dl/gone.bin.part"));
    EXPECT_FALSE(QFileInfo::exists(appFolder + "dl/gone.bin"));
}

TEST_F(Downloads, APartOfAnotherOffsetIsRefused) {
    // Asked from 102 400 on, it sends the file's first bytes: exactly as many as were missing.
    const QByteArray source = randomBytes(kGranule * 2 + 10);
    const QByteArray part = source.left(source.size() - kGranule);
    ScriptedServer server([&](const ScriptedServer::Request&, QTcpSocket* socket) {
        socket->write("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-" +
                      QByteArray::number(part.size() - 1) + "/" +
                      QByteArray::number(source.size()) +
                      "\r\nContent-Length: " + QByteArray::number(part.size()) + "\r\n\r\n" + part);
    });
    QDir().mkpath(appFolder + "dl");
    writeFile(appFolder + "dl/odd.bin.part", source.left(kGranule));
    const int before =
        logged("Update Error: part starting from 0 received for a request from 102400");
    CommonRun run(server.url("/odd.bin"), "dl/");
    run.start();
    ASSERT_TRUE(run.waitForEnd());

    EXPECT_EQ(run.failed, 1);
    EXPECT_EQ(run.finished, 0);
    EXPECT_EQ(logged("Update Error: part starting from 0 received for a request from 102400"),
              before + 1);
    EXPECT_FALSE(QFileInfo::exists(appFolder + "dl/odd.bin"));
    EXPECT_FALSE(QFileInfo::exists(appFolder + "dl/odd.bin.part"));
}

TEST(ContentRange, TakesTheNumbersWrittenOrNothing) {
    const auto range = [](const char* value) { return update::parseContentRange(value); };
    ASSERT_TRUE(range("bytes 102400-204799/204800"));
    EXPECT_EQ(range("bytes 102400-204799/204800")->first, 102400);
    EXPECT_EQ(range("bytes 102400-204799/204800")->last, 204799);
    EXPECT_EQ(range(" Bytes  0-0/1 ")->total, 1);
    EXPECT_EQ(range("bytes 0-99/*")->total, -1);
    EXPECT_EQ(range("bytes */204800")->first, -1);
    EXPECT_EQ(range("bytes */204800")->total, 204800);
    EXPECT_EQ(range("bytes 0-9223372036854775806/9223372036854775807")->last,
              Q_INT64_C(9223372036854775806));
    for (const char* bad :
         {"", "bytes", "bytes 0-99", "bytes 0-99/", "bytes 5-4/10", "bytes 0-10/10", "bytes -1-5/9",
          "bytes 0-1/2, bytes 0-1/2", "items 0-1/2", "bytes 0-1/2x", "bytes 0-1/x/500",
          "bytes 99999999999999999999-99999999999999999999/300", "bytes 0-1/99999999999999999999",
          "bytes */*", "bytes\t*/0 0"})
        EXPECT_FALSE(range(bad)) << bad;
}

TEST_F(Downloads, APartWhoseRangeDoesNotAddUpIsRefused) {
    // A fresh download asks from byte 0; these answers name no part that starts there.
    for (const QByteArray& contentRange :
         {QByteArray("bytes 99999999999999999999-99999999999999999999/300"),
          QByteArray("bytes 0-299/200"), QByteArray("bytes 0-x/300")}) {
        const QByteArray body(300, 'b');
        ScriptedServer server([&](const ScriptedServer::Request&, QTcpSocket* socket) {
            socket->write("HTTP/1.1 206 Partial Content\r\nContent-Range: " + contentRange +
                          "\r\nContent-Length: 300\r\n\r\n" + body);
        });
        CommonRun run(server.url("/range.bin"), "dl/");
        run.start();
        ASSERT_TRUE(run.waitForEnd()) << contentRange.constData();
        EXPECT_EQ(run.failed, 1) << contentRange.constData();
        EXPECT_EQ(run.finished, 0) << contentRange.constData();
        EXPECT_FALSE(QFileInfo::exists(appFolder + "dl/range.bin")) << contentRange.constData();
        EXPECT_FALSE(QFileInfo::exists(appFolder + "dl/range.bin.part"))
            << contentRange.constData();
    }
}

TEST_F(Downloads, FileNamesAndFoldersNeverLeaveTheApplicationFolder) {
    {
        CommonRun run(nginx().url("/files/"), "dl/");
        EXPECT_TRUE(
            QRegularExpression("^" + QRegularExpression::escape(appFolder) + "dl/file-\\d+$")
                .match(run.downloader->outputPath())
                .hasMatch())
            << run.downloader->outputPath().toStdString();
    }
    {
        CommonRun run(nginx().url("/files/a/.."), "dl/");
        EXPECT_TRUE(run.downloader->outputPath().startsWith(appFolder + "dl/file-"));
    }
    serve("escape.bin", 10);
    CommonRun run(nginx().url("/files/escape.bin"), "../outside/");
    run.start();
    ASSERT_TRUE(run.waitForEnd());
    EXPECT_EQ(run.failed, 1);
    EXPECT_FALSE(QFileInfo::exists(dir.path() + "/outside"));
    EXPECT_TRUE(rangesAsked("escape.bin").isEmpty());
}

TEST_F(Downloads, APackageIsDownloadedAmongCleanedFoldersAndUnpacked) {
    update::Package package{"3.1.4",
                            {{"x/index.html", "<html></html>"}, {"x/a.bin", randomBytes(5000)}}};
    const QByteArray bytes = update::writePackage(package, QByteArray());
    ASSERT_FALSE(bytes.isEmpty());
    ASSERT_TRUE(nginx().putFile("files/html.pkg", bytes));
    for (const char* stray :
         {"tupdates/stray.txt", "tupdates/html/old.pkg", "tupdates/client/c.pkg"}) {
        QDir().mkpath(QFileInfo(appFolder + stray).absolutePath());
        writeFile(appFolder + stray, "stray");
    }

    PackageRun run(nginx().url("/files/html.pkg?v=3"), "html");
    run.start();
    ASSERT_TRUE(waitUntil([&] { return !run.versions.isEmpty() || run.failed > 0; }));

    EXPECT_EQ(run.finished, 1);
    EXPECT_EQ(run.versions, QStringList("3.1.4"));
    EXPECT_FALSE(QFileInfo::exists(appFolder + "tupdates/stray.txt"));
    EXPECT_FALSE(QFileInfo::exists(appFolder + "tupdates/html/old.pkg"));
    // Other kinds' folders are theirs.
    EXPECT_TRUE(QFileInfo::exists(appFolder + "tupdates/client/c.pkg"));
    EXPECT_FALSE(QFileInfo::exists(appFolder + "tupdates/html/html.pkg"));
    EXPECT_EQ(readAll(appFolder + "tupdates/html/ready/index.html"), "<html></html>");
}

TEST_F(Downloads, AWholePackageOnDiskIsUnpackedOnRangeNotSatisfiable) {
    QString version;
    const QByteArray bytes = packageOfSize(kGranule * 2, version);
    ASSERT_EQ(bytes.size(), kGranule * 2);
    ASSERT_TRUE(nginx().putFile("files/firmware.pkg", bytes));
    QDir().mkpath(appFolder + "tupdates/firmware");
    writeFile(appFolder + "tupdates/firmware/firmware.pkg", bytes);

    PackageRun run(nginx().url("/files/firmware.pkg"), "firmware");
    run.start();
    ASSERT_TRUE(waitUntil([&] { return !run.versions.isEmpty(); }));
    EXPECT_EQ(run.finished + run.failed, 0);
    EXPECT_EQ(run.versions, QStringList(version));
    EXPECT_EQ(rangesAsked("firmware.pkg"), QStringList("bytes=204800-|416"));
}

TEST_F(Downloads, APackageWithABadStatusClearsOnlyItsKindsFolder) {
    QDir().mkpath(appFolder + "tupdates/client/ready");
    writeFile(appFolder + "tupdates/client/ready/Velmora", "staged");
    PackageRun run(nginx().url("/files/missing.pkg"), "html");
    run.start();
    ASSERT_TRUE(waitUntil([&] { return !QFileInfo::exists(appFolder + "tupdates/html"); }));
    EXPECT_TRUE(QFileInfo::exists(appFolder + "tupdates/client/ready/Velmora"));
    pumpFor(200);
    // The dialog is told, once.
    EXPECT_EQ(run.finished, 0);
    EXPECT_EQ(run.failed, 1);
    EXPECT_TRUE(run.versions.isEmpty());
}

TEST_F(Downloads, APackageLargerThanItsKindAllowsIsRefusedWhileDownloading) {
    const qint64 limit = update::packageSizeLimit("firmware");
    serve("huge.pkg", int(limit) + 1);
    PackageRun run(nginx().url("/files/huge.pkg"), "firmware");
    run.start();
    ASSERT_TRUE(run.waitForEnd());
    EXPECT_EQ(run.failed, 1);
    EXPECT_TRUE(run.versions.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(appFolder + "tupdates/firmware"));
    EXPECT_EQ(logged(QString("exceeds %1 bytes, refused").arg(limit)), 1);
}

TEST_F(Downloads, UnsignedPackagesAreTakenOnlyOverHttpsOrFromThisMachine) {
    serve("unsigned.pkg", 1000);
    struct Case {
        const char* server;  // the update service the check asked
        QByteArray key;
        bool refused;
    };
    const Case cases[] = {
        {"http://updates.example.com", QByteArray(), true},
        {"https://updates.example.com", QByteArray(), false},
        {"http://localhost:1", QByteArray(), false},
        // With the publisher's key the signature decides, whatever the transport.
        {"http://updates.example.com", QByteArray(32, 'k'), false},
    };
    for (const Case& c : cases) {
        update::Environment environment = update::environment();
        environment.updateServer = c.server;
        environment.publicKey = c.key;
        update::setEnvironment(environment);
        const int asked = rangesAsked("unsigned.pkg").size();
        QStringList refusals;
        QObject receiver;  // on the test's thread: the refusal arrives queued
        PackageRun run(nginx().url("/files/unsigned.pkg"), "html");
        QObject::connect(run.downloader, &PsUpdateDownloader::packageRefused, &receiver,
                         [&](const QString& why) { refusals.append(why); });
        run.start();
        ASSERT_TRUE(run.waitForEnd()) << c.server;
        pumpFor(100);
        // Refused before a byte is asked for, or fetched (and then found to be no package).
        EXPECT_EQ(refusals.size(), c.refused ? 1 : 0) << c.server;
        if (c.refused) {
            EXPECT_EQ(run.failed, 1) << c.server;
        }
        EXPECT_EQ(rangesAsked("unsigned.pkg").size(), asked + (c.refused ? 0 : 1)) << c.server;
    }
    EXPECT_EQ(logged("Update Error: unsigned html package refused: 'http://updates.example.com' "
                     "is not https"),
              1);
}

TEST_F(Downloads, SignedPackagesAreInstalledOnlyForTheirKindAndNeverOlder) {
    QByteArray secretKey, publicKey;
    ASSERT_TRUE(update::generateKeyPair(secretKey, publicKey));
    update::Environment environment = update::environment();
    environment.updateServer = "http://updates.example.com";
    environment.publicKey = publicKey;
    update::setEnvironment(environment);
    QDir().mkpath(appFolder + "Resources");
    writeFile(appFolder + "Resources/pages-version", "2.0");
    const auto signedPackage = [&](const char* kind, const char* version) {
        update::Package package{version, {{"x/index.html", "<html></html>"}}};
        package.kind = kind;
        return update::writePackage(package, secretKey);
    };
    struct Case {
        const char* name;
        QByteArray bytes;
        QString installed;  // the version unpacked; empty when refused
        QString refusal;    // "refused" or "outdated"
    };
    const Case cases[] = {
        {"newer.pkg", signedPackage("html", "2.1"), "2.1", ""},
        {"older.pkg", signedPackage("html", "1.9"), "", "outdated"},
        {"firmware.pkg", signedPackage("firmware", "3.0"), "", "refused"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(nginx().putFile(QString("files/") + c.name, c.bytes));
        QStringList refusals;
        QObject receiver;  // on the test's thread: the refusals arrive queued
        PackageRun run(nginx().url(QString("/files/") + c.name), "html");
        QObject::connect(run.downloader, &PsUpdateDownloader::packageRefused, &receiver,
                         [&] { refusals.append("refused"); });
        QObject::connect(run.downloader, &PsUpdateDownloader::packageOutdated, &receiver,
                         [&] { refusals.append("outdated"); });
        run.start();
        ASSERT_TRUE(waitUntil([&] { return !run.versions.isEmpty() || run.failed > 0; }));
        pumpFor(100);
        EXPECT_EQ(run.versions, c.installed.isEmpty() ? QStringList() : QStringList(c.installed));
        EXPECT_EQ(refusals, c.refusal.isEmpty() ? QStringList() : QStringList(c.refusal));
        EXPECT_EQ(QFileInfo::exists(appFolder + "tupdates/html/ready/index.html"),
                  !c.installed.isEmpty());
        QDir(appFolder + "tupdates").removeRecursively();
    }
}

TEST_F(Downloads, OnlyHttpAndHttpsAreFetched) {
    // Signed packages may come over any transport, but never from a file or a share.
    update::Environment environment = update::environment();
    environment.publicKey = QByteArray(32, 'k');
    update::setEnvironment(environment);
    writeFile(dir.path() + "/secret.pkg", "local");
    for (const QString& url :
         {QUrl::fromLocalFile(dir.path() + "/secret.pkg").toString(), QString("ftp://h/x.pkg"),
          QString("\\\\server\\share\\x.pkg"), QString("data:,x"), QString("http:///x.pkg")}) {
        PackageRun run(url, "firmware");
        run.start();
        ASSERT_TRUE(run.waitForEnd()) << url.toStdString();
        EXPECT_EQ(run.failed, 1) << url.toStdString();
        EXPECT_FALSE(QFileInfo::exists(appFolder + "tupdates/firmware")) << url.toStdString();
    }
    EXPECT_EQ(logged("Update Error: only http and https downloads are allowed"), 5);
}

TEST_F(Downloads, APackageWhoseConnectionDropsFailsAndKeepsItsPart) {
    const QByteArray source = randomBytes(300000);
    ScriptedServer dropping([&](const ScriptedServer::Request&, QTcpSocket* socket) {
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(source.size()) +
                      "\r\n\r\n" + source.left(120000));
        dropLater(socket);
    });
    PackageRun run(dropping.url("/client.pkg"), "client");
    run.start();
    ASSERT_TRUE(run.waitForEnd());
    EXPECT_EQ(run.failed, 1);
    EXPECT_EQ(readAll(appFolder + "tupdates/client/client.pkg"), source.left(120000));
}
