// Playback on its own thread through a recording virtual HID device.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <limits>
#include <memory>

#include "fake_input.h"
#include "macro/command_exec.h"
#include "macro/virtual_hid_client.h"

namespace {

using Actions = QList<MacroAction>;

bool waitFor(const std::function<bool()>& condition, int timeoutMs = 3000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

class PlaybackTest : public ::testing::Test {
  protected:
    PlaybackTest()
        : device_(new fake::VirtualHidDevice),
          client_(std::unique_ptr<platform::VirtualHidClient>(device_)) {}

    void start(const Actions& actions, int playType = 0, int playCount = 1, int keyState = 0) {
        worker_ = std::make_unique<commandExec>(&thread_, actions, &client_, playType, playCount,
                                                keyState, &cursor_);
        QObject::connect(
            worker_.get(), &commandExec::taskFinished, worker_.get(),
            [this](pvmulti_client*) { ++finished_; }, Qt::DirectConnection);
        thread_.start();
    }
    void TearDown() override {
        if (worker_)
            worker_->quit();
        thread_.quit();
        thread_.wait();
    }

    fake::VirtualHidDevice* device_;
    pvmulti_client client_;
    fake::Cursor cursor_;
    QThread thread_;
    std::unique_ptr<commandExec> worker_;
    std::atomic<int> finished_{0};
};

TEST_F(PlaybackTest, PressDelayReleaseKeepsTheVariedDelay) {
    start({{"down", "04"}, {"delayTime", "100"}, {"up", ""}});
    ASSERT_TRUE(waitFor([&] { return finished_ == 1; }));
    const auto reports = device_->reports();
    ASSERT_EQ(reports.size(), 2);
    EXPECT_EQ(fake::keyboardOf(reports[0].bytes), std::make_pair(0, 4));
    EXPECT_EQ(fake::keyboardOf(reports[1].bytes), std::make_pair(0, 0));
    const qint64 gap = reports[1].atMs - reports[0].atMs;
    EXPECT_GE(gap, 91);
    EXPECT_LE(gap, 110);
    // The bytes of a keyboard report; byte 4 is never written.
    EXPECT_EQ(reports[0].bytes[0], 0x40);
    EXPECT_EQ(reports[0].bytes[1], 0x09);
    EXPECT_EQ(reports[0].bytes[4], 0xEE);
}

TEST(VariedDelay, ShortDelaysAreExactOthersWithinNine) {
    EXPECT_EQ(commandExec::variedDelay(5), 5);
    EXPECT_EQ(commandExec::variedDelay(0), 0);
    for (int i = 0; i < 50; ++i) {
        const int delay = commandExec::variedDelay(100);
        EXPECT_GE(delay, 91);
        EXPECT_LE(delay, 109);
    }
}

TEST(VariedDelay, TheLongestDelayNeverWrapsAtAnyTimeOfDay) {
    const int longest = std::numeric_limits<int>::max();
    for (int time = 0; time < 20000; time += 7) {
        const int delay = commandExec::variedDelay(longest, time);
        EXPECT_GE(delay, longest - 9) << "at " << time;
        EXPECT_EQ(commandExec::variedDelay(longest - 100, time) - (longest - 100),
                  commandExec::variedDelay(100, time) - 100)
            << "at " << time;
    }
}

TEST_F(PlaybackTest, HotKeysCarryTheModifierAndKeysReplaceEachOther) {
    start({{"hotKey", "E0,06"},
           {"down", "04"},
           {"down", "05"},
           {"hotKey", "E0"},
           {"mouseDown", "2"},
           {"mouseWheel", "1FF"},
           {"mouseUp", ""},
           {"mouseMove", " 100 , 200 "},
           {"text", "hi"},
           {"unknown", "x"}});
    ASSERT_TRUE(waitFor([&] { return finished_ == 1; }));
    const auto reports = device_->reports();
    ASSERT_EQ(reports.size(), 8);
    EXPECT_EQ(fake::keyboardOf(reports[0].bytes), std::make_pair(1, 6));
    EXPECT_EQ(fake::keyboardOf(reports[1].bytes), std::make_pair(1, 0));
    EXPECT_EQ(fake::keyboardOf(reports[2].bytes), std::make_pair(0, 0));
    EXPECT_EQ(fake::keyboardOf(reports[3].bytes), std::make_pair(0, 4));
    EXPECT_EQ(fake::keyboardOf(reports[4].bytes), std::make_pair(0, 5));
    EXPECT_TRUE(fake::isMouseReport(reports[5].bytes, 2));
    EXPECT_TRUE(fake::isMouseReport(reports[6].bytes, 0, 0xFF));  // low 8 bits, signed
    EXPECT_TRUE(fake::isMouseReport(reports[7].bytes, 0));
    EXPECT_EQ(cursor_.x_, 100);
    EXPECT_EQ(cursor_.y_, 200);
    EXPECT_EQ(cursor_.typed, "hi");
}

TEST_F(PlaybackTest, RepeatingTaskRunsUntilStoppedAndTheStopEmptiesTheReports) {
    start({{"down", "04"}, {"delayTime", "5"}, {"up", ""}}, 1);
    ASSERT_TRUE(waitFor([&] { return device_->count() >= 10; }));
    EXPECT_EQ(finished_, 0);
    worker_->setStopFlag();
    ASSERT_TRUE(waitFor([&] { return finished_ == 1; }));
    const auto reports = device_->reports();
    ASSERT_GE(reports.size(), 2);
    EXPECT_EQ(fake::keyboardOf(reports[reports.size() - 2].bytes), std::make_pair(0, 0));
    EXPECT_TRUE(fake::isMouseReport(reports.last().bytes, 0));
    const int after = device_->count();
    QThread::msleep(50);
    EXPECT_EQ(device_->count(), after);
}

TEST_F(PlaybackTest, AHandedOverTaskReplacesTheRunningOneAndNoneIsLost) {
    start({{"down", "04"}, {"delayTime", "5"}}, 1);
    ASSERT_TRUE(waitFor([&] { return device_->count() >= 3; }));
    worker_->executeCommand(&client_, {{"down", "07"}}, 2, 3, 0);
    ASSERT_TRUE(waitFor([&] { return finished_ == 2; }));
    auto reports = device_->reports();
    int sevens = 0;
    for (const auto& report : reports)
        sevens += fake::keyboardOf(report.bytes) == std::make_pair(0, 7);
    EXPECT_EQ(sevens, 3);

    // Requests in quick succession, made while the worker is between runs: the last one plays.
    for (int round = 0; round < 50; ++round) {
        device_->clear();
        const int before = finished_;
        worker_->executeCommand(&client_, {{"down", "08"}}, 2, 1, 0);
        worker_->executeCommand(&client_, {{"down", "09"}}, 2, 1, 0);
        ASSERT_TRUE(waitFor([&] {
            const auto now = device_->reports();
            return finished_ > before && !now.isEmpty() &&
                   fake::keyboardOf(now.last().bytes) == std::make_pair(0, 9);
        })) << "round "
            << round;
    }
}

TEST_F(PlaybackTest, ReleaseOfAPlainMacroIsIgnoredAndWithoutClientNothingPlays) {
    start({{"keybroad", "04"}}, 0, 1, 0);
    ASSERT_TRUE(waitFor([&] { return finished_ == 1; }));
    EXPECT_EQ(fake::keyboardOf(device_->reports().last().bytes), std::make_pair(0, 4));
    worker_->executeCommand(&client_, {{"down", "05"}}, 0, 1, 1);  // not a key or button
    QThread::msleep(30);
    EXPECT_EQ(finished_, 1);
    worker_->executeCommand(&client_, {{"keybroad", "04"}}, 0, 1, 1);
    ASSERT_TRUE(waitFor([&] { return finished_ == 2; }));
    EXPECT_EQ(fake::keyboardOf(device_->reports().last().bytes), std::make_pair(0, 0));

    device_->clear();
    worker_->executeCommand(nullptr, {{"down", "05"}}, 2, 1, 0);
    ASSERT_TRUE(waitFor([&] { return finished_ == 3; }));
    // Nothing is played without a client.
    for (const auto& report : device_->reports())
        EXPECT_NE(fake::keyboardOf(report.bytes), std::make_pair(0, 5));
}

TEST_F(PlaybackTest, StopDuringALongDelayEndsAtOnce) {
    start({{"delayTime", "5000"}, {"down", "04"}});
    QThread::msleep(50);
    QElapsedTimer timer;
    timer.start();
    worker_->setStopFlag();
    ASSERT_TRUE(waitFor([&] { return finished_ == 1; }));
    EXPECT_LT(timer.elapsed(), 1000);
    for (const auto& report : device_->reports())
        EXPECT_NE(fake::keyboardOf(report.bytes), std::make_pair(0, 4));
}

}  // namespace
