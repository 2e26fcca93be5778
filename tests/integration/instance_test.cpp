// Starts the real program from a copy of the application folder, twice.

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>

namespace {

const QString kInstanceKey = QStringLiteral("Global\\{776E7BB3-A590-447E-8C5F-21E6F2319DD3}");

bool copyFolder(const QString& from, const QString& to) {
    QDirIterator it(from, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString source = it.next();
        if (source.contains("_autogen") || source.contains("CMakeFiles") ||
            source.endsWith("/app.log") || source.endsWith(".state")) {
            continue;
        }
        const QString target = to + source.mid(from.size());
        QDir().mkpath(QFileInfo(target).absolutePath());
        if (!QFile::copy(source, target))
            return false;
        QFile::setPermissions(target, QFile::permissions(source));
    }
    return true;
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(50);
    }
    return true;
}

class ProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        ASSERT_TRUE(copyFolder(VELMORA_APP_DIR, folder_.path()));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("VELMORA_SIM_STATE", folder_.path() + "/sim-device.state");
        first_.setProcessEnvironment(environment);
        second_.setProcessEnvironment(environment);
        first_.setWorkingDirectory(folder_.path());
        second_.setWorkingDirectory(folder_.path());
        // Files, not pipes: a pipe nobody drains would stall the program.
        first_.setStandardOutputFile(folder_.path() + "/first.out");
        first_.setStandardErrorFile(folder_.path() + "/first.err");
        second_.setStandardOutputFile(folder_.path() + "/second.out");
        second_.setStandardErrorFile(folder_.path() + "/second.err");
    }

    void TearDown() override {
        for (QProcess* process : {&second_, &first_}) {
            if (process->state() != QProcess::NotRunning) {
                process->terminate();
                if (!process->waitForFinished(5000))
                    process->kill();
                process->waitForFinished(2000);
            }
        }
    }

    QString read(const QString& name) const {
        QFile file(folder_.path() + "/" + name);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    QString log() const { return read("app.log"); }

    QTemporaryDir folder_;
    QProcess first_;
    QProcess second_;
};

TEST_F(ProgramTest, SecondStartHandsOverToTheRunningInstance) {
    first_.start(folder_.path() + "/velmora", QStringList());
    ASSERT_TRUE(first_.waitForStarted());
    ASSERT_TRUE(waitFor([this] { return log().contains("mainwindow show!"); }, 30000))
        << log().toStdString();

    second_.start(folder_.path() + "/velmora", QStringList());
    ASSERT_TRUE(second_.waitForFinished(30000))
        << log().toStdString() << read("second.err").toStdString();
    EXPECT_EQ(second_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second_.exitCode(), 0);
    EXPECT_EQ(first_.state(), QProcess::Running);

    const QString text = log();
    // A name left behind by an earlier crashed run is reported as a connect error instead.
    EXPECT_TRUE(text.contains(QRegularExpression(
        "Application Info: (this is the only instance of Velmora|socket connect error \\d+), "
        "starting server and app..")));
    EXPECT_TRUE(text.contains("Application Info: writing commands CMD:show;"));
    EXPECT_TRUE(text.contains(QStringLiteral("show command response received, pid = %1, activating")
                                  .arg(first_.processId())));
    EXPECT_EQ(text.count("mainwindow show!"), 1) << text.toStdString();
    EXPECT_TRUE(text.contains(
        QRegularExpression(R"(\[\d{4}/\d{6}\.\d{3}:INFO:application\.cpp\(\d+\)\] )")));

    // The main page came through the scheme with its pictures inlined.
    ASSERT_TRUE(waitFor(
        [this] { return read("first.err").contains("template/default/image/logo.png"); }, 30000));
}

TEST_F(ProgramTest, NameLeftByACrashedInstanceDoesNotBlockTheNextStart) {
    first_.start(folder_.path() + "/velmora", QStringList());
    ASSERT_TRUE(waitFor([this] { return log().contains("mainwindow show!"); }, 30000));
    first_.kill();
    first_.waitForFinished(5000);

    second_.start(folder_.path() + "/velmora", {"-autostart"});
    ASSERT_TRUE(second_.waitForStarted());
    ASSERT_TRUE(waitFor([this] { return log().count("mainwindow show!") == 2; }, 30000))
        << log().toStdString();
    EXPECT_FALSE(second_.waitForFinished(500));  // it stays: the running instance now
}

TEST_F(ProgramTest, ARunningInstanceThatHangsUpUnansweredEndsTheLaterOne) {
    QLocalServer::removeServer(kInstanceKey);
    QLocalServer running;
    ASSERT_TRUE(running.listen(kInstanceKey));
    second_.start(folder_.path() + "/velmora", QStringList());
    ASSERT_TRUE(running.waitForNewConnection(30000));
    QLocalSocket* peer = running.nextPendingConnection();
    ASSERT_TRUE(peer->waitForReadyRead(10000));
    EXPECT_EQ(peer->readAll(), "CMD:show;");
    peer->disconnectFromServer();
    ASSERT_TRUE(second_.waitForFinished(30000)) << log().toStdString();
    EXPECT_EQ(second_.exitCode(), 0);
    EXPECT_TRUE(log().contains(
        "Application Error: socket disconnected before command response received, quiting.."))
        << log().toStdString();
}

TEST_F(ProgramTest, AnInstanceNameThatCannotBeTakenIsLoggedByName) {
    // This live process holds the instance lock, and a plain file blocks the name.
    QString lockName = kInstanceKey;
    lockName.replace(QRegularExpression("[^A-Za-z0-9-]"), "_");
    QLockFile lock(QDir::temp().filePath(lockName + ".lock"));
    ASSERT_TRUE(lock.tryLock(0));
    QFile blocker(QDir::temp().filePath(kInstanceKey));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    second_.start(folder_.path() + "/velmora", QStringList());
    const bool finished = second_.waitForFinished(60000);
    blocker.remove();
    lock.unlock();
    ASSERT_TRUE(finished) << log().toStdString();
    EXPECT_EQ(second_.exitCode(), 0);
    EXPECT_TRUE(log().contains(
        QStringLiteral("Application Error: failed to start listening to %1 server, error ")
            .arg(kInstanceKey)))
        << log().toStdString();
    EXPECT_FALSE(log().contains("mainwindow show!"));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
