#include "platform/services.h"

#include <gtest/gtest.h>

#include "platform/win32/text.h"

TEST(ServicesTest, EveryServiceIsProvided) {
    const platform::Services services = platform::systemServices();
    EXPECT_NE(nullptr, services.errorMode);
    EXPECT_NE(nullptr, services.windowActivation);
    EXPECT_NE(nullptr, services.nativeMessages);
    EXPECT_NE(nullptr, services.crashReporting);
    EXPECT_NE(nullptr, services.deviceEnumeration);
    EXPECT_NE(nullptr, services.deviceNotifications);
    EXPECT_NE(nullptr, services.filterDriver);
    EXPECT_NE(nullptr, services.virtualHid);
    EXPECT_NE(nullptr, services.mouseSettings);
    EXPECT_NE(nullptr, services.mouseHook);
    EXPECT_NE(nullptr, services.cursor);
    EXPECT_NE(nullptr, services.keyboardLayout);
    EXPECT_NE(nullptr, services.processPriority);
    EXPECT_NE(nullptr, services.globalHotKeys);
    EXPECT_NE(nullptr, services.shellOperations);
}

TEST(ServicesTest, ExecutableFolderHoldsTheRunningProgram) {
    const std::string folder = platform::executableFolder();
    ASSERT_FALSE(folder.empty());
    const DWORD attributes = GetFileAttributesW(platform::win32::toWide(folder).c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_NE(folder.back(), '\\');
}
