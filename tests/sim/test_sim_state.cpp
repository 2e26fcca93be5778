#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "sim/libdc/sim_device.h"
#include "sim/libdc/state_file.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

dcsim::DeviceState changedState() {
    dcsim::DeviceState state = dcsim::factoryState();
    state.plugged = false;
    state.mode = dcsim::Mode::Loader;
    state.properties[dcsim::kPropLighting][5] = 0x42;
    state.properties[3][15] = 0x99;
    state.memory[dcsim::macroSlotAddress(29) + 199] = 0x07;
    state.memory[0] = 0x01;
    state.flash[dcsim::kFlashSize - 1] = 0x00;
    state.firmwareRevision = 3;
    state.imageVerified = true;
    state.verifiedSize = 10;
    state.verifiedCheck = 1234;
    state.pullAfterBlocks = 2;
    dcsim::Notification report;
    report.report = {1, 2, 3, 4, 5, 6, 7, 0xFF};
    dcsim::queueNotification(state, report);
    dcsim::Notification unplug;
    unplug.kind = dcsim::Notification::Kind::Unplug;
    dcsim::queueNotification(state, unplug);
    return state;
}

TEST(StateText, RoundTripsEveryPart) {
    const dcsim::DeviceState state = changedState();
    dcsim::DeviceState parsed;
    ASSERT_TRUE(dcsim::parseState(dcsim::serializeState(state), parsed));
    EXPECT_EQ(parsed.plugged, false);
    EXPECT_EQ(parsed.mode, dcsim::Mode::Loader);
    EXPECT_EQ(parsed.properties, state.properties);
    EXPECT_EQ(parsed.memory, state.memory);
    EXPECT_EQ(parsed.flash, state.flash);
    EXPECT_EQ(parsed.firmwareSize, state.firmwareSize);
    EXPECT_EQ(parsed.firmwareCheck, state.firmwareCheck);
    EXPECT_EQ(parsed.firmwareRevision, 3);
    EXPECT_TRUE(parsed.imageVerified);
    EXPECT_EQ(parsed.verifiedCheck, 1234u);
    EXPECT_EQ(parsed.pullAfterBlocks, 2);
    ASSERT_EQ(parsed.pending.size(), 2u);
    EXPECT_EQ(parsed.pending[0].kind, dcsim::Notification::Kind::Report);
    EXPECT_EQ(parsed.pending[0].report, state.pending[0].report);
    EXPECT_EQ(parsed.pending[1].kind, dcsim::Notification::Kind::Unplug);
}

TEST(StateText, RejectsWhatItDidNotWrite) {
    const std::string good = dcsim::serializeState(dcsim::factoryState());
    dcsim::DeviceState parsed;
    ASSERT_TRUE(dcsim::parseState(good, parsed));
    const std::string body = good.substr(0, good.size() - 4);  // without "end\n"
    const std::string broken[] = {
        "",
        "velmora-dcsim-state 2\nend\n",
        body,                           // truncated
        good + "plugged 1\n",           // after the end
        body + "prop 41 00\nend\n",     // unknown property
        body + "prop 40 0102\nend\n",   // wrong size
        body + "prop 40 0g\nend\n",     // not hex
        body + "mem 3fff 0102\nend\n",  // beyond memory
        body + "mem 4000 01\nend\n",
        body + "flash ffff 0000\nend\n",
        body + "pending report 0102\nend\n",
        body + "pending eject\nend\n",
        body + "plugged 2\nend\n",
        body + "mode sleeping\nend\n",
        body + "plugged 1 1\nend\n",  // trailing field
        body + "pull -1\nend\n",
        body + "frobnicate\nend\n",
        body + "\nend\n",
    };
    for (const std::string& text : broken)
        EXPECT_FALSE(dcsim::parseState(text, parsed)) << text;
}

TEST(SimDevice, PropertyAndMemoryAccessStaysInBounds) {
    dcsim::DeviceState state = dcsim::factoryState();
    Bytes buffer(16, 0xAA);
    EXPECT_EQ(dcsim::readProperty(state, 41, buffer.data(), 1), dcsim::kUnknownTarget);
    EXPECT_EQ(dcsim::readProperty(state, dcsim::kPropReportRate, buffer.data(), 2),
              dcsim::kOutOfRange);
    EXPECT_EQ(dcsim::readMemory(state, dcsim::kMemorySize - 1, buffer.data(), 2),
              dcsim::kOutOfRange);
    EXPECT_EQ(dcsim::readMemory(state, -1, buffer.data(), 1), dcsim::kOutOfRange);
    EXPECT_EQ(dcsim::writeMemory(state, 0x7FFFFFFF, buffer.data(), 16), dcsim::kOutOfRange);
    EXPECT_EQ(buffer, Bytes(16, 0xAA));

    const std::uint8_t two[2] = {0x55, 0x66};
    EXPECT_EQ(dcsim::writeProperty(state, dcsim::kPropLighting, two, 2), dcsim::kOk);
    EXPECT_EQ(dcsim::readProperty(state, dcsim::kPropLighting, buffer.data(), 10), dcsim::kOk);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 10),
              (Bytes{0x55, 0x66, 3, 0x00, 0x80, 0xFF, 0, 1, 0, 0}));
}

TEST(SimDevice, FlashProgramsOnlyErasedBitsAndVerifiesBySum) {
    dcsim::DeviceState state = dcsim::factoryState();
    dcsim::enterLoader(state);
    const Bytes image = {0xFF, 0x01, 0x80, 0x00};
    EXPECT_EQ(dcsim::programFlash(state, 0, image.data(), 4), dcsim::kProgramFailed);
    EXPECT_TRUE(state.firmwareValid);

    dcsim::eraseFlash(state);
    EXPECT_FALSE(state.firmwareValid);
    EXPECT_EQ(dcsim::programFlash(state, 0, image.data(), 4), dcsim::kOk);
    EXPECT_EQ(dcsim::programFlash(state, 0, image.data(), 4), dcsim::kOk);  // same bits again
    const std::uint8_t other = 0x02;
    EXPECT_EQ(dcsim::programFlash(state, 1, &other, 1), dcsim::kProgramFailed);
    EXPECT_EQ(dcsim::programFlash(state, dcsim::kFlashSize - 2, image.data(), 4),
              dcsim::kOutOfRange);
    EXPECT_EQ(dcsim::programFlash(state, dcsim::kFlashSize, image.data(), 0), dcsim::kOk);

    EXPECT_EQ(dcsim::checkImage(state, 4, 0xFF + 0x01 + 0x80 + 1), dcsim::kCheckFailed);
    EXPECT_EQ(dcsim::finishUpdate(state), dcsim::kNoFirmware);
    EXPECT_EQ(state.mode, dcsim::Mode::Loader);
    EXPECT_EQ(dcsim::checkImage(state, 4, 0xFF + 0x01 + 0x80), dcsim::kOk);
    EXPECT_EQ(dcsim::finishUpdate(state), dcsim::kOk);
    EXPECT_EQ(state.mode, dcsim::Mode::Normal);
    EXPECT_EQ(state.firmwareSize, 4u);
    EXPECT_EQ(dcsim::versionText(state), "V1.01");
}

TEST(SimDevice, PowerUpRunsValidFirmwareOnly) {
    dcsim::DeviceState state = dcsim::factoryState();
    dcsim::enterLoader(state);
    EXPECT_TRUE(dcsim::unplug(state));
    EXPECT_FALSE(dcsim::unplug(state));
    EXPECT_TRUE(dcsim::plugIn(state));
    EXPECT_EQ(state.mode, dcsim::Mode::Normal);

    dcsim::enterLoader(state);
    dcsim::eraseFlash(state);
    dcsim::unplug(state);
    dcsim::plugIn(state);
    EXPECT_EQ(state.mode, dcsim::Mode::Loader);
    EXPECT_FALSE(dcsim::plugIn(state));
}

TEST(SimDevice, AfterAnEraseOnlyAStartedImageLeavesTheLoaderAtPowerUp) {
    dcsim::DeviceState state = dcsim::factoryState();
    dcsim::enterLoader(state);
    dcsim::eraseFlash(state);
    const Bytes block(100, 0x5A);
    ASSERT_EQ(dcsim::programFlash(state, 0, block.data(), 100), dcsim::kOk);
    for (const bool started : {false, true}) {
        ASSERT_EQ(dcsim::checkImage(state, 100, 100 * 0x5A), dcsim::kOk);
        if (started) {
            ASSERT_EQ(dcsim::finishUpdate(state), dcsim::kOk);
        }
        dcsim::unplug(state);
        dcsim::plugIn(state);
        EXPECT_EQ(state.mode, started ? dcsim::Mode::Normal : dcsim::Mode::Loader);
    }
}

TEST(SimDevice, PendingNotificationsAreCapped) {
    dcsim::DeviceState state = dcsim::factoryState();
    for (std::size_t i = 0; i < dcsim::kMaxPending + 10; ++i) {
        dcsim::Notification n;
        n.report[0] = static_cast<std::uint8_t>(i);
        dcsim::queueNotification(state, n);
    }
    ASSERT_EQ(state.pending.size(), dcsim::kMaxPending);
    EXPECT_EQ(state.pending.front().report[0], 10);
}

class StateFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("dcsim-state-test-" +
                  std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }
    fs::path folder;
};

TEST_F(StateFileTest, SavesAndLoadsWithoutLeavingTemporaries) {
    const dcsim::StateFile file(folder / "dcsim.state");
    dcsim::DeviceState state;
    EXPECT_EQ(file.load(state), dcsim::StateFile::LoadResult::Missing);
    EXPECT_FALSE(file.stamp().exists);
    ASSERT_TRUE(file.save(changedState()));
    const auto first = file.stamp();
    EXPECT_TRUE(first.exists);
    ASSERT_EQ(file.load(state), dcsim::StateFile::LoadResult::Loaded);
    EXPECT_EQ(state.memory, changedState().memory);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

TEST_F(StateFileTest, EverySaveLooksNewToAWatcher) {
    const dcsim::StateFile file(folder / "dcsim.state");
    const dcsim::DeviceState state = dcsim::factoryState();
    ASSERT_TRUE(file.save(state));
    auto previous = file.stamp();
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(file.save(state));
        const auto current = file.stamp();
        EXPECT_NE(current, previous);
        previous = current;
    }
}

TEST_F(StateFileTest, DamagedFileIsKeptAside) {
    const dcsim::StateFile file(folder / "dcsim.state");
    { std::ofstream(folder / "dcsim.state") << "not a state\n"; }
    dcsim::DeviceState state;
    EXPECT_EQ(file.load(state), dcsim::StateFile::LoadResult::SetAside);
    EXPECT_FALSE(fs::exists(folder / "dcsim.state"));
    EXPECT_EQ(readAll(folder / "dcsim.state.bad"), "not a state\n");
}

TEST_F(StateFileTest, LockIsExclusiveBetweenHolders) {
    const dcsim::StateFile file(folder / "dcsim.state");
    std::atomic<bool> firstReleased{false};
    std::atomic<bool> secondHolds{false};
    auto first = std::make_unique<dcsim::StateFile::Lock>(file);
    std::thread second([&] {
        const dcsim::StateFile::Lock lock(file);
        secondHolds = firstReleased.load();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    firstReleased = true;
    first.reset();
    second.join();
    EXPECT_TRUE(secondHolds);
    EXPECT_FALSE(fs::exists(folder / "dcsim.state.lock"));
}

TEST_F(StateFileTest, LockLeftByACrashIsBroken) {
    const dcsim::StateFile file(folder / "dcsim.state");
    fs::create_directory(folder / "dcsim.state.lock");
    { const dcsim::StateFile::Lock lock(file); }
    EXPECT_FALSE(fs::exists(folder / "dcsim.state.lock"));
}

}  // namespace
