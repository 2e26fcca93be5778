#include "platform/win32/error_mode.h"

#include <windows.h>

#include <gtest/gtest.h>

TEST(ErrorModeTest, AddsNoFaultDialogAndKeepsOtherFlags) {
    const UINT original = GetErrorMode();
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

    platform::Win32ErrorMode().disableFaultDialog();
    const UINT mode = GetErrorMode();
    SetErrorMode(original);

    EXPECT_EQ(
        static_cast<UINT>(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX | SEM_NOGPFAULTERRORBOX),
        mode);
}
