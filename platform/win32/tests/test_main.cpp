#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/win32/crash_reporting.h"
#include "platform/win32/text.h"

namespace {

// The crash test starts this program again as "--crash-child <dump folder> <reporter>": it
// arms crash reporting and then faults.
int crashChild(const wchar_t* dumpFolder, const wchar_t* reporter) {
    platform::Win32CrashReporting reporting;
    if (!reporting.start(platform::win32::toUtf8(dumpFolder), platform::win32::toUtf8(reporter))) {
        return 3;
    }
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
    return 4;
}

}  // namespace

int main(int argc, char** argv) {
    int wideCount = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &wideCount);
    if (wide != nullptr && wideCount == 4 && std::wstring(wide[1]) == L"--crash-child") {
        return crashChild(wide[2], wide[3]);
    }
    LocalFree(wide);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
