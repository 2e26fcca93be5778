#include "platform/win32/input_services.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

using testsupport::TestWindow;

namespace {

constexpr int kQtKeyF1 = 0x01000030;

// Handles what reaches this thread until `done` or a bound, so a missing event fails the test
// instead of hanging it.
template <typename Done>
void pumpUntil(Done done) {
    for (int round = 0; round < 200 && !done(); ++round) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    }
}

// Handles what reaches this thread until `window` gets `message` (true) or a bound (false).
bool pumpUntilMessage(HWND window, UINT message) {
    bool seen = false;
    pumpUntil([&] {
        MSG msg;
        while (!seen && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            seen = msg.hwnd == window && msg.message == message;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        return seen;
    });
    return seen;
}

// The centre of a window's client area, in screen coordinates.
POINT centreOf(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    POINT centre = {(client.left + client.right) / 2, (client.top + client.bottom) / 2};
    ClientToScreen(window, &centre);
    return centre;
}

INPUT keyInput(WORD key, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return input;
}

INPUT buttonInput(DWORD flags) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    return input;
}

// Keeps the cursor where it was.
class CursorTest : public testing::Test {
  protected:
    void SetUp() override { GetCursorPos(&saved_); }
    void TearDown() override { SetCursorPos(saved_.x, saved_.y); }

    platform::Win32Cursor cursor;

  private:
    POINT saved_{};
};

}  // namespace

TEST_F(CursorTest, PositionIsSetAndRead) {
    for (const POINT point : {POINT{123, 45}, POINT{7, 300}}) {
        ASSERT_TRUE(cursor.setPosition(point.x, point.y));
        int x = -1;
        int y = -1;
        ASSERT_TRUE(cursor.position(x, y));
        EXPECT_EQ(point.x, x);
        EXPECT_EQ(point.y, y);
    }
}

TEST_F(CursorTest, TextGoesUnitByUnitToTheWindowUnderTheCursor) {
    TestWindow window(L"Typing target");
    ASSERT_NE(nullptr, window.handle());
    SetWindowPos(window.handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    const POINT centre = centreOf(window.handle());
    ASSERT_TRUE(cursor.setPosition(centre.x, centre.y));
    ASSERT_EQ(window.handle(), WindowFromPoint(centre));

    ASSERT_TRUE(cursor.typeText(u"a\u00e9\U0001F600"));
    std::vector<WPARAM> units;
    MSG msg;
    while (PeekMessageW(&msg, window.handle(), WM_CHAR, WM_CHAR, PM_REMOVE)) {
        units.push_back(msg.wParam);
    }
    EXPECT_EQ((std::vector<WPARAM>{u'a', 0xE9, 0xD83D, 0xDE00}), units);
}

TEST(MouseHookTest, LeftButtonReleasesReportTheCursorPosition) {
    TestWindow window(L"Click target");
    ASSERT_NE(nullptr, window.handle());
    SetWindowPos(window.handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    const POINT pressed = centreOf(window.handle());
    const POINT released = {pressed.x + 9, pressed.y + 4};
    ASSERT_EQ(window.handle(), WindowFromPoint(released));
    ASSERT_TRUE(SetCursorPos(pressed.x, pressed.y));

    platform::Win32MouseHook hook;
    std::vector<POINT> releases;
    ASSERT_TRUE(hook.install([&](int x, int y) { releases.push_back({x, y}); }));
    // The hook sees each event before the window does.
    INPUT press = buttonInput(MOUSEEVENTF_LEFTDOWN);
    ASSERT_EQ(1u, SendInput(1, &press, sizeof(INPUT)));
    ASSERT_TRUE(pumpUntilMessage(window.handle(), WM_LBUTTONDOWN));
    ASSERT_TRUE(SetCursorPos(released.x, released.y));
    INPUT clicks[] = {buttonInput(MOUSEEVENTF_LEFTUP), buttonInput(MOUSEEVENTF_RIGHTDOWN),
                      buttonInput(MOUSEEVENTF_RIGHTUP)};
    ASSERT_EQ(3u, SendInput(3, clicks, sizeof(INPUT)));
    ASSERT_TRUE(pumpUntilMessage(window.handle(), WM_RBUTTONUP));
    hook.remove();

    // Only the left release, where it happened.
    ASSERT_EQ(1u, releases.size());
    EXPECT_EQ(released.x, releases[0].x);
    EXPECT_EQ(released.y, releases[0].y);

    // Removed: further clicks are not seen.
    INPUT again[] = {buttonInput(MOUSEEVENTF_LEFTDOWN), buttonInput(MOUSEEVENTF_LEFTUP)};
    ASSERT_EQ(2u, SendInput(2, again, sizeof(INPUT)));
    ASSERT_TRUE(pumpUntilMessage(window.handle(), WM_LBUTTONUP));
    EXPECT_EQ(1u, releases.size());
}

TEST(MouseHookTest, OneHookInTheProcessAtATime) {
    platform::Win32MouseHook first;
    platform::Win32MouseHook second;
    ASSERT_TRUE(first.install([](int, int) {}));
    EXPECT_FALSE(second.install([](int, int) {}));
    // Installing again replaces the object's own hook.
    EXPECT_TRUE(first.install([](int, int) {}));
    first.remove();
    EXPECT_TRUE(second.install([](int, int) {}));
    second.remove();
    {
        platform::Win32MouseHook scoped;
        ASSERT_TRUE(scoped.install([](int, int) {}));
    }
    EXPECT_TRUE(first.install([](int, int) {}));
}

TEST(KeyboardLayoutTest, UsEnglishIsActiveAfterwards) {
    platform::Win32KeyboardLayout().activateUsEnglish();
    EXPECT_EQ(0x0409, LOWORD(reinterpret_cast<UINT_PTR>(GetKeyboardLayout(0))));
}

TEST(ProcessPriorityTest, RaisesTheProcessToHighPriority) {
    const DWORD saved = GetPriorityClass(GetCurrentProcess());
    platform::Win32ProcessPriority().raiseToHigh();
    EXPECT_EQ(static_cast<DWORD>(HIGH_PRIORITY_CLASS), GetPriorityClass(GetCurrentProcess()));
    SetPriorityClass(GetCurrentProcess(), saved);
}

namespace {

MSG hotKeyMessage(WPARAM id, HWND window = nullptr, UINT message = WM_HOTKEY) {
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = id;
    return msg;
}

// The WM_HOTKEY that pressing the keys posts to this thread, if any.
bool pressForHotKey(const std::vector<WORD>& keys, MSG& hotKey) {
    std::vector<INPUT> inputs;
    for (const WORD key : keys) {
        inputs.push_back(keyInput(key, false));
    }
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
        inputs.push_back(keyInput(*key, true));
    }
    if (SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) !=
        inputs.size()) {
        return false;
    }
    bool found = false;
    pumpUntil([&] {
        found = found || PeekMessageW(&hotKey, nullptr, WM_HOTKEY, WM_HOTKEY, PM_REMOVE);
        return found;
    });
    return found;
}

}  // namespace

TEST(GlobalHotKeysTest, PressedHotKeysAreDecodedToTheirIds) {
    TestWindow focus(L"Hot key focus");
    SetForegroundWindow(focus.handle());
    platform::Win32GlobalHotKeys hotKeys;
    const unsigned all = platform::kHotKeyShift | platform::kHotKeyControl | platform::kHotKeyAlt;
    ASSERT_TRUE(hotKeys.registerHotKey(7, all, kQtKeyF1 + 23));
    ASSERT_TRUE(hotKeys.registerHotKey(8, platform::kHotKeyControl | platform::kHotKeyAlt, 'Q'));
    ASSERT_TRUE(hotKeys.registerHotKey(9, platform::kHotKeyControl | platform::kHotKeyShift, '5'));

    struct Case {
        std::vector<WORD> keys;
        std::uint32_t id;
    };
    for (const Case& press :
         {Case{{VK_CONTROL, VK_MENU, VK_SHIFT, VK_F24}, 7}, Case{{VK_CONTROL, VK_MENU, 'Q'}, 8},
          Case{{VK_SHIFT, VK_CONTROL, '5'}, 9}}) {
        SCOPED_TRACE(press.id);
        MSG msg;
        ASSERT_TRUE(pressForHotKey(press.keys, msg));
        std::uint32_t id = 0;
        EXPECT_TRUE(hotKeys.decodeActivation("windows_dispatcher_MSG", &msg, id));
        EXPECT_EQ(press.id, id);
    }
}

TEST(GlobalHotKeysTest, OnlyRegisteredHotKeyMessagesAreActivations) {
    platform::Win32GlobalHotKeys hotKeys;
    ASSERT_TRUE(
        hotKeys.registerHotKey(3, platform::kHotKeyMeta | platform::kHotKeyAlt, kQtKeyF1 + 21));
    std::uint32_t id = 0;
    const MSG activation = hotKeyMessage(3);
    for (const char* type : {"windows_generic_MSG", "windows_dispatcher_MSG"}) {
        id = 0;
        EXPECT_TRUE(hotKeys.decodeActivation(type, &activation, id));
        EXPECT_EQ(3u, id);
    }
    id = 0;
    const MSG unknownId = hotKeyMessage(4);
    EXPECT_FALSE(hotKeys.decodeActivation("windows_generic_MSG", &unknownId, id));
    const MSG ofAWindow = hotKeyMessage(3, reinterpret_cast<HWND>(0x1234));
    EXPECT_FALSE(hotKeys.decodeActivation("windows_generic_MSG", &ofAWindow, id));
    const MSG otherMessage = hotKeyMessage(3, nullptr, WM_KEYDOWN);
    EXPECT_FALSE(hotKeys.decodeActivation("windows_generic_MSG", &otherMessage, id));
    EXPECT_FALSE(hotKeys.decodeActivation("xcb_generic_event_t", &activation, id));
    EXPECT_FALSE(hotKeys.decodeActivation("windows_generic_MSG", nullptr, id));
    EXPECT_EQ(0u, id);

    hotKeys.unregisterHotKey(3);
    EXPECT_FALSE(hotKeys.decodeActivation("windows_generic_MSG", &activation, id));
}

TEST(GlobalHotKeysTest, TheSystemRefusesATakenCombination) {
    const unsigned modifiers = platform::kHotKeyControl | platform::kHotKeyShift;
    {
        platform::Win32GlobalHotKeys hotKeys;
        ASSERT_TRUE(hotKeys.registerHotKey(1, modifiers, kQtKeyF1 + 20));
        EXPECT_FALSE(hotKeys.registerHotKey(2, modifiers, kQtKeyF1 + 20));
        // Unregistering frees it.
        hotKeys.unregisterHotKey(1);
        EXPECT_TRUE(hotKeys.registerHotKey(2, modifiers, kQtKeyF1 + 20));
        // A new key for an id gives up its old one.
        EXPECT_TRUE(hotKeys.registerHotKey(2, modifiers, kQtKeyF1 + 19));
        EXPECT_TRUE(hotKeys.registerHotKey(1, modifiers, kQtKeyF1 + 20));
    }
    // The object's registrations end with it.
    platform::Win32GlobalHotKeys later;
    EXPECT_TRUE(later.registerHotKey(5, modifiers, kQtKeyF1 + 20));
    EXPECT_TRUE(later.registerHotKey(6, modifiers, kQtKeyF1 + 19));
}

TEST(GlobalHotKeysTest, KeysWithoutAVirtualKeyAreRefusedAndChangeNothing) {
    platform::Win32GlobalHotKeys hotKeys;
    ASSERT_TRUE(hotKeys.registerHotKey(1, platform::kHotKeyControl, kQtKeyF1 + 18));
    for (const int key : {0x01000000 /* Escape */, kQtKeyF1 + 24, int{'a'}, 0, -1}) {
        SCOPED_TRACE(key);
        EXPECT_FALSE(hotKeys.registerHotKey(1, platform::kHotKeyControl, key));
    }
    std::uint32_t id = 0;
    const MSG activation = hotKeyMessage(1);
    EXPECT_TRUE(hotKeys.decodeActivation("windows_generic_MSG", &activation, id));
    platform::Win32GlobalHotKeys other;
    EXPECT_FALSE(other.registerHotKey(2, platform::kHotKeyControl, kQtKeyF1 + 18));
}
