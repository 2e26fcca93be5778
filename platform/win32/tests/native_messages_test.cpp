#include "platform/win32/native_messages.h"

#include <gtest/gtest.h>

using platform::NativeMessageKind;

namespace {

MSG message(HWND window, UINT id, WPARAM wParam = 0) {
    MSG msg{};
    msg.hwnd = window;
    msg.message = id;
    msg.wParam = wParam;
    return msg;
}

const HWND kWindow = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x1234));

}  // namespace

TEST(NativeMessagesTest, SessionEndAndDestroyFromBothQtEventTypes) {
    platform::Win32NativeMessages messages;
    for (const char* type : {"windows_generic_MSG", "windows_dispatcher_MSG"}) {
        SCOPED_TRACE(type);
        const MSG end = message(kWindow, WM_ENDSESSION, TRUE);
        auto result = messages.classify(type, &end);
        EXPECT_EQ(NativeMessageKind::SessionEnd, result.kind);
        EXPECT_EQ(0x1234u, result.window);

        const MSG destroy = message(kWindow, WM_DESTROY);
        result = messages.classify(type, &destroy);
        EXPECT_EQ(NativeMessageKind::WindowDestroyed, result.kind);
        EXPECT_EQ(0x1234u, result.window);
    }
}

TEST(NativeMessagesTest, CancelledSessionEndIsNoSessionEnd) {
    const MSG cancelled = message(kWindow, WM_ENDSESSION, FALSE);
    EXPECT_EQ(NativeMessageKind::Other,
              platform::Win32NativeMessages().classify("windows_generic_MSG", &cancelled).kind);
}

TEST(NativeMessagesTest, OtherMessagesKeepTheirWindow) {
    const MSG paint = message(kWindow, WM_PAINT);
    const auto result = platform::Win32NativeMessages().classify("windows_generic_MSG", &paint);
    EXPECT_EQ(NativeMessageKind::Other, result.kind);
    EXPECT_EQ(0x1234u, result.window);
}

TEST(NativeMessagesTest, UnknownEventTypesAndMissingMessagesAreNotRead) {
    platform::Win32NativeMessages messages;
    const MSG destroy = message(kWindow, WM_DESTROY);
    for (const char* type : {"xcb_generic_event_t", "windows_generic_msg", ""}) {
        SCOPED_TRACE(type);
        const auto result = messages.classify(type, &destroy);
        EXPECT_EQ(NativeMessageKind::Other, result.kind);
        EXPECT_EQ(0u, result.window);
    }
    EXPECT_EQ(NativeMessageKind::Other, messages.classify("windows_generic_MSG", nullptr).kind);
}
