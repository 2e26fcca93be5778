#include "platform/win32/filter_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <future>
#include <map>
#include <set>
#include <string>
#include <vector>

using platform::Stroke;
using Bytes = std::vector<std::uint8_t>;

namespace {

// The driver's side: channels that open or not, every control call with its bytes, and the
// answers to give. Events are real, so waits and wake-ups really block and return.
class FakeFilterDriver {
  public:
    struct Control {
        int channel;
        DWORD code;
        Bytes input;
        DWORD outputSize;
    };

    std::set<int> missingChannels;
    int failingEventChannel = -1;  // CreateEventA gives null for this channel
    std::vector<std::string> openedNames;
    std::vector<Control> controls;
    std::vector<HANDLE> events;  // in creation order
    bool eventsManualResetAndClear = true;
    std::set<HANDLE> openHandles;
    int strayCloses = 0;
    DWORD lastWaitTimeout = 0;
    BOOL lastWaitAll = TRUE;
    std::vector<HANDLE> lastWaitHandles;

    // Answers: bytes returned by a write (all of them when negative), bytes of a read and of
    // the hardware id (a failed call when `failHardwareId`).
    long writeAnswer = -1;
    Bytes readAnswer;
    Bytes hardwareId;
    bool failHardwareId = false;
    const DWORD* waitAnswer = nullptr;  // the real wait when null

    platform::win32::FilterDriverCalls calls() {
        platform::win32::FilterDriverCalls calls;
        calls.createFile = [this](LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES,
                                  DWORD disposition, DWORD flags, HANDLE) -> HANDLE {
            openedNames.push_back(name);
            const std::string text = name;
            const int channel = std::stoi(text.substr(text.size() - 2));
            EXPECT_EQ(static_cast<DWORD>(GENERIC_READ), access);
            EXPECT_EQ(0u, share);
            EXPECT_EQ(static_cast<DWORD>(OPEN_EXISTING), disposition);
            EXPECT_EQ(0u, flags);
            if (missingChannels.count(channel) != 0) {
                SetLastError(ERROR_FILE_NOT_FOUND);
                return INVALID_HANDLE_VALUE;
            }
            const HANDLE device = reinterpret_cast<HANDLE>(0x7000000 + 0x10 * channel);
            devices_[device] = channel;
            openHandles.insert(device);
            return device;
        };
        calls.createEvent = [this](LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState,
                                   LPCSTR name) -> HANDLE {
            eventsManualResetAndClear =
                eventsManualResetAndClear && manualReset && !initialState && name == nullptr;
            if (static_cast<int>(events.size()) == failingEventChannel) {
                return nullptr;
            }
            const HANDLE event = CreateEventA(nullptr, manualReset, initialState, name);
            events.push_back(event);
            openHandles.insert(event);
            return event;
        };
        calls.deviceIoControl = [this](HANDLE device, DWORD code, LPVOID input, DWORD inputSize,
                                       LPVOID output, DWORD outputSize, LPDWORD returned,
                                       LPOVERLAPPED overlapped) -> BOOL {
            EXPECT_EQ(nullptr, overlapped);
            const auto found = devices_.find(device);
            if (found == devices_.end() || openHandles.count(device) == 0) {
                SetLastError(ERROR_INVALID_HANDLE);
                return FALSE;
            }
            const auto* bytes = static_cast<const std::uint8_t*>(input);
            controls.push_back({found->second, code, Bytes(bytes, bytes + inputSize), outputSize});
            *returned = 0;
            switch (code) {
                case platform::win32::kFilterWriteStrokes:
                    *returned = writeAnswer < 0 ? inputSize : static_cast<DWORD>(writeAnswer);
                    break;
                case platform::win32::kFilterReadStrokes:
                    *returned = answer(readAnswer, output, outputSize);
                    break;
                case platform::win32::kFilterGetHardwareId:
                    if (failHardwareId) {
                        SetLastError(ERROR_INSUFFICIENT_BUFFER);
                        return FALSE;
                    }
                    *returned = answer(hardwareId, output, outputSize);
                    break;
                default:
                    break;
            }
            return TRUE;
        };
        calls.waitForMultipleObjects = [this](DWORD count, const HANDLE* handles, BOOL waitAll,
                                              DWORD timeout) -> DWORD {
            lastWaitHandles.assign(handles, handles + count);
            lastWaitAll = waitAll;
            lastWaitTimeout = timeout;
            if (waitAnswer) {
                return *waitAnswer;
            }
            // A bound, so a broken wake-up fails the test instead of hanging it.
            return WaitForMultipleObjects(count, handles, waitAll, 10000);
        };
        calls.setEvent = SetEvent;
        calls.closeHandle = [this](HANDLE handle) -> BOOL {
            if (openHandles.erase(handle) == 0) {
                ++strayCloses;
                return FALSE;
            }
            if (devices_.count(handle) == 0) {
                CloseHandle(handle);
            }
            return TRUE;
        };
        return calls;
    }

    // The control calls of one code.
    std::vector<Control> controlsOf(DWORD code) const {
        std::vector<Control> found;
        for (const auto& control : controls) {
            if (control.code == code) {
                found.push_back(control);
            }
        }
        return found;
    }

  private:
    static DWORD answer(const Bytes& bytes, LPVOID output, DWORD outputSize) {
        const DWORD size = std::min<DWORD>(outputSize, static_cast<DWORD>(bytes.size()));
        std::copy(bytes.begin(), bytes.begin() + size, static_cast<std::uint8_t*>(output));
        return size;
    }

    std::map<HANDLE, int> devices_;
};

class FilterDriverTest : public testing::Test {
  protected:
    std::unique_ptr<platform::FilterContext> open() {
        return platform::Win32FilterDriver(driver.calls()).open();
    }

    FakeFilterDriver driver;
};

Bytes slice(const Bytes& bytes, std::size_t from, std::size_t count) {
    return Bytes(bytes.begin() + from, bytes.begin() + from + count);
}

Stroke mouseStroke(std::uint16_t state, std::uint16_t flags, std::int16_t rolling, std::int32_t x,
                   std::int32_t y, std::uint32_t information) {
    Stroke stroke;
    stroke.mouse.state = state;
    stroke.mouse.flags = flags;
    stroke.mouse.rolling = rolling;
    stroke.mouse.x = x;
    stroke.mouse.y = y;
    stroke.mouse.information = information;
    return stroke;
}

}  // namespace

TEST_F(FilterDriverTest, OpensTheTwentyChannelsAndHandsEachItsEvent) {
    auto context = open();
    ASSERT_NE(nullptr, context);

    ASSERT_EQ(20u, driver.openedNames.size());
    EXPECT_EQ("\\\\.\\interception00", driver.openedNames[0]);
    EXPECT_EQ("\\\\.\\interception09", driver.openedNames[9]);
    EXPECT_EQ("\\\\.\\interception10", driver.openedNames[10]);
    EXPECT_EQ("\\\\.\\interception19", driver.openedNames[19]);
    EXPECT_TRUE(driver.eventsManualResetAndClear);

    const auto setEvents = driver.controlsOf(0x222040);
    ASSERT_EQ(20u, setEvents.size());
    for (int channel = 0; channel < 20; ++channel) {
        SCOPED_TRACE(channel);
        EXPECT_EQ(channel, setEvents[channel].channel);
        EXPECT_EQ(0u, setEvents[channel].outputSize);
        // The event handle as 4 little-endian bytes, then 4 zero bytes.
        const auto value = reinterpret_cast<std::uintptr_t>(driver.events[channel]);
        ASSERT_LT(value, 0x100000000u);
        const Bytes expected = {static_cast<std::uint8_t>(value),
                                static_cast<std::uint8_t>(value >> 8),
                                static_cast<std::uint8_t>(value >> 16),
                                static_cast<std::uint8_t>(value >> 24),
                                0,
                                0,
                                0,
                                0};
        EXPECT_EQ(expected, setEvents[channel].input);
    }
    EXPECT_EQ(40u, driver.openHandles.size());

    context.reset();
    EXPECT_TRUE(driver.openHandles.empty());
    EXPECT_EQ(0, driver.strayCloses);
}

TEST_F(FilterDriverTest, NineteenOfTwentyChannelsGiveNoContextAndLeaveNothingOpen) {
    for (const int missing : {0, 7, 19}) {
        SCOPED_TRACE(missing);
        FakeFilterDriver partial;
        partial.missingChannels = {missing};
        EXPECT_EQ(nullptr, platform::Win32FilterDriver(partial.calls()).open());
        EXPECT_EQ(static_cast<std::size_t>(missing) + 1, partial.openedNames.size());
        EXPECT_TRUE(partial.openHandles.empty());
        EXPECT_EQ(0, partial.strayCloses);
    }
}

TEST_F(FilterDriverTest, AnEventThatCannotBeMadeGivesNoContextAndLeavesNothingOpen) {
    driver.failingEventChannel = 5;
    EXPECT_EQ(nullptr, open());
    EXPECT_EQ(6u, driver.openedNames.size());
    EXPECT_TRUE(driver.openHandles.empty());
    EXPECT_EQ(0, driver.strayCloses);
}

TEST_F(FilterDriverTest, StrokeFilterGoesToTheAcceptedDevicesOnly) {
    auto context = open();
    ASSERT_NE(nullptr, context);
    context->setStrokeFilter(platform::isMouseDevice, 0x03FF);

    const auto filters = driver.controlsOf(0x222010);
    ASSERT_EQ(10u, filters.size());
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(10 + i, filters[i].channel);
        EXPECT_EQ(Bytes({0xFF, 0x03}), filters[i].input);
        EXPECT_EQ(0u, filters[i].outputSize);
    }
}

TEST_F(FilterDriverTest, DevicesOutsideOneToTwentyMakeNoDriverCall) {
    auto context = open();
    ASSERT_NE(nullptr, context);
    driver.controls.clear();
    Stroke strokes[2];
    char id[100];
    for (const int device : {0, 21, 22, 100, -1}) {
        SCOPED_TRACE(device);
        EXPECT_EQ(0, context->sendStrokes(device, strokes, 2));
        EXPECT_EQ(0, context->receiveStrokes(device, strokes, 2));
        EXPECT_EQ(0u, context->readHardwareId(device, id, sizeof id));
    }
    EXPECT_EQ(0, context->sendStrokes(11, strokes, 0));
    EXPECT_EQ(0, context->receiveStrokes(11, strokes, 0));
    EXPECT_TRUE(driver.controls.empty());
}

TEST_F(FilterDriverTest, MouseStrokesGoAsOneBufferOfTwentyFourByteRecords) {
    auto context = open();
    ASSERT_NE(nullptr, context);
    driver.controls.clear();
    const Stroke strokes[3] = {
        mouseStroke(0x0004, 0x0001, -120, -5, 0x01020304, 0xA1B2C3D4),
        mouseStroke(0x0008, 0x0000, 0, 0, 0, 0),
        mouseStroke(0x0200, 0x8000, 1, 0x7FFFFFFF, -1, 1),
    };
    driver.writeAnswer = 48;
    EXPECT_EQ(2, context->sendStrokes(11, strokes, 3));

    ASSERT_EQ(1u, driver.controls.size());
    const auto& write = driver.controls[0];
    EXPECT_EQ(0x222080u, write.code);
    EXPECT_EQ(10, write.channel);
    EXPECT_EQ(0u, write.outputSize);
    ASSERT_EQ(72u, write.input.size());
    EXPECT_EQ(Bytes({0x00, 0x00, 0x01, 0x00, 0x04, 0x00, 0x88, 0xFF, 0x00, 0x00, 0x00, 0x00,
                     0xFB, 0xFF, 0xFF, 0xFF, 0x04, 0x03, 0x02, 0x01, 0xD4, 0xC3, 0xB2, 0xA1}),
              slice(write.input, 0, 24));
    EXPECT_EQ(Bytes({0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                     0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}),
              slice(write.input, 24, 24));
    EXPECT_EQ(Bytes({0x00, 0x00, 0x00, 0x80, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
                     0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00, 0x00}),
              slice(write.input, 48, 24));

    driver.writeAnswer = 0;
    EXPECT_EQ(0, context->sendStrokes(20, strokes, 3));
    EXPECT_EQ(19, driver.controls.back().channel);
}

TEST_F(FilterDriverTest, KeyStrokesGoAsTwelveByteRecords) {
    auto context = open();
    ASSERT_NE(nullptr, context);
    driver.controls.clear();
    Stroke strokes[2];
    strokes[0].key.code = 0x1E;
    strokes[0].key.state = 0x0003;
    strokes[0].key.information = 0x01020304;
    strokes[1].key.code = 0x0148;
    EXPECT_EQ(2, context->sendStrokes(10, strokes, 2));

    ASSERT_EQ(1u, driver.controls.size());
    EXPECT_EQ(9, driver.controls[0].channel);
    EXPECT_EQ(0x222080u, driver.controls[0].code);
    EXPECT_EQ(Bytes({0x00, 0x00, 0x1E, 0x00, 0x03, 0x00, 0x00, 0x00, 0x04, 0x03, 0x02, 0x01,
                     0x00, 0x00, 0x48, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}),
              driver.controls[0].input);
}

TEST_F(FilterDriverTest, ReceivedRecordsConvertBackFieldForField) {
    auto context = open();
    ASSERT_NE(nullptr, context);
    driver.controls.clear();

    // Two mouse records, unit id and raw buttons set: they are dropped.
    driver.readAnswer = {0x05, 0x00, 0x01, 0x00, 0x10, 0x00, 0x88, 0xFF, 0xAA, 0xBB, 0xCC, 0xDD,
                         0xFB, 0xFF, 0xFF, 0xFF, 0x04, 0x03, 0x02, 0x01, 0xD4, 0xC3, 0xB2, 0xA1,
                         0x00, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                         0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    Stroke strokes[4];
    ASSERT_EQ(2, context->receiveStrokes(12, strokes, 4));
    ASSERT_EQ(1u, driver.controls.size());
    EXPECT_EQ(0x222100u, driver.controls[0].code);
    EXPECT_EQ(11, driver.controls[0].channel);
    EXPECT_TRUE(driver.controls[0].input.empty());
    EXPECT_EQ(96u, driver.controls[0].outputSize);
    EXPECT_EQ(0x0010, strokes[0].mouse.state);
    EXPECT_EQ(0x0001, strokes[0].mouse.flags);
    EXPECT_EQ(-120, strokes[0].mouse.rolling);
    EXPECT_EQ(-5, strokes[0].mouse.x);
    EXPECT_EQ(0x01020304, strokes[0].mouse.y);
    EXPECT_EQ(0xA1B2C3D4u, strokes[0].mouse.information);
    EXPECT_EQ(0x0020, strokes[1].mouse.state);
    EXPECT_EQ(1, strokes[1].mouse.x);
    EXPECT_EQ(2, strokes[1].mouse.y);

    driver.readAnswer = {0x07, 0x00, 0x1C, 0x00, 0x01, 0x00, 0xEE, 0xEE, 0x09, 0x00, 0x00, 0x00};
    ASSERT_EQ(1, context->receiveStrokes(1, strokes, 1));
    EXPECT_EQ(12u, driver.controls.back().outputSize);
    EXPECT_EQ(0, driver.controls.back().channel);
    EXPECT_EQ(0x1C, strokes[0].key.code);
    EXPECT_EQ(0x0001, strokes[0].key.state);
    EXPECT_EQ(9u, strokes[0].key.information);

    // Nothing waiting, or less than one whole record: nothing read.
    driver.readAnswer.clear();
    EXPECT_EQ(0, context->receiveStrokes(11, strokes, 1));
    driver.readAnswer = Bytes(23, 0);
    EXPECT_EQ(0, context->receiveStrokes(11, strokes, 1));
}

TEST_F(FilterDriverTest, HardwareIdFillsTheCallersBuffer) {
    auto context = open();
    ASSERT_NE(nullptr, context);
    driver.controls.clear();
    driver.hardwareId = {'H', 0, 'I', 0, 'D', 0, 0, 0};
    char16_t id[500] = {};
    EXPECT_EQ(8u, context->readHardwareId(11, id, sizeof id));
    EXPECT_EQ(std::u16string(u"HID"), std::u16string(id));
    ASSERT_EQ(1u, driver.controls.size());
    EXPECT_EQ(0x222200u, driver.controls[0].code);
    EXPECT_EQ(10, driver.controls[0].channel);
    EXPECT_EQ(1000u, driver.controls[0].outputSize);

    driver.failHardwareId = true;
    EXPECT_EQ(0u, context->readHardwareId(11, id, sizeof id));
}

TEST_F(FilterDriverTest, WaitAnswersTheDeviceOfTheSignalledChannel) {
    auto context = open();
    ASSERT_NE(nullptr, context);

    const DWORD eleventh = WAIT_OBJECT_0 + 10;
    driver.waitAnswer = &eleventh;
    EXPECT_EQ(11, context->waitForStroke());
    EXPECT_EQ(driver.events, driver.lastWaitHandles);
    EXPECT_FALSE(driver.lastWaitAll);
    EXPECT_EQ(INFINITE, driver.lastWaitTimeout);

    for (const DWORD failure : {WAIT_FAILED, static_cast<DWORD>(WAIT_TIMEOUT)}) {
        driver.waitAnswer = &failure;
        EXPECT_EQ(0, context->waitForStroke());
    }
}

TEST_F(FilterDriverTest, WakeEndsAWaitAndTheReadAfterItYieldsNothing) {
    auto context = open();
    ASSERT_NE(nullptr, context);

    auto waited = std::async(std::launch::async, [&] { return context->waitForStroke(); });
    Sleep(50);
    context->wake();
    const int device = waited.get();
    EXPECT_EQ(1, device);
    Stroke stroke;
    EXPECT_EQ(0, context->receiveStrokes(device, &stroke, 1));

    // The wake-up also holds for a wait that starts later.
    EXPECT_EQ(1, context->waitForStroke());
}

TEST_F(FilterDriverTest, NoDriverNoContext) {
    // This machine has no filter driver.
    EXPECT_EQ(nullptr, platform::Win32FilterDriver().open());
}
