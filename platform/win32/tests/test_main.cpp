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

// The shell test starts this program again as "--record-arguments ...": it writes its working
// folder and its arguments, one a line in UTF-8, to "arguments.txt" there.
int recordArguments(int count, wchar_t** arguments) {
    wchar_t folder[MAX_PATH * 4];
    const DWORD length = GetCurrentDirectoryW(MAX_PATH * 4, folder);
    std::string record = platform::win32::toUtf8(folder, length) + "\n";
    for (int i = 2; i < count; ++i)
        record += "[" + platform::win32::toUtf8(arguments[i]) + "]\n";
    HANDLE file = CreateFileW(L"arguments.tmp", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    CloseHandle(file);
    return MoveFileExW(L"arguments.tmp", L"arguments.txt", MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    int wideCount = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &wideCount);
    if (wide != nullptr && wideCount == 4 && std::wstring(wide[1]) == L"--crash-child") {
        return crashChild(wide[2], wide[3]);
    }
    if (wide != nullptr && wideCount >= 2 && std::wstring(wide[1]) == L"--record-arguments") {
        return recordArguments(wideCount, wide);
    }
    LocalFree(wide);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
