#include "base/engine_log.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class EngineLog : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(engine::Log::open(path, engine::LogSeverity::Info)); }
    void TearDown() override { engine::Log::close(); }
    void write(int line, const QString& text) {
        engine::Log::write(engine::LogSeverity::Info, "flood.cpp", line, text);
    }

    QTemporaryDir folder;
    QString path = folder.path() + "/app.log";
};

TEST_F(EngineLog, AFloodFromOneLineIsCutAndSaysHowMuchWasLeftOut) {
    for (int i = 0; i < 1000; ++i)
        write(7, QStringLiteral("unknown command x"));
    write(8, QStringLiteral("another line still writes"));
    QThread::msleep(1100);
    write(7, QStringLiteral("unknown command x"));
    const QByteArray text = readAll(path);
    EXPECT_EQ(text.count("unknown command x"), 101);
    EXPECT_TRUE(text.contains("(900 lines from here left out)"));
    EXPECT_TRUE(text.contains("another line still writes"));
}

TEST_F(EngineLog, LongTextsAreCutAndTheFileIsKeptAsideWhenFull) {
    write(1, QString(5000, 'p'));
    EXPECT_TRUE(readAll(path).contains(QByteArray(4096, 'p') + "... (5000 characters)"));
    EXPECT_FALSE(readAll(path).contains(QByteArray(4097, 'p')));

    // Past 16 MiB the file starts afresh and the previous one stays as app.log.1.
    for (int line = 2; line < 4200; ++line)
        write(line, QString(4000, 'q'));
    write(9999, QStringLiteral("after the rotation"));
    EXPECT_TRUE(QFileInfo::exists(path + ".1"));
    EXPECT_LE(QFileInfo(path).size(), 16 * 1024 * 1024);
    EXPECT_LE(QFileInfo(path + ".1").size(), 16 * 1024 * 1024);
    EXPECT_TRUE(readAll(path).contains("after the rotation"));
}

}  // namespace
