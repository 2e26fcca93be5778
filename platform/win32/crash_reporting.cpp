#include "platform/win32/crash_reporting.h"

// clang-format off
#include <windows.h>
#include <dbghelp.h>
#include <objbase.h>
#include <shlwapi.h>
// clang-format on

#include <string>

#include "platform/win32/text.h"

namespace platform {

namespace {

constexpr std::size_t kLongestCommandLine = 32767;

// Built while arming: after a fault the heap may be broken, so the filter only reads these.
std::wstring dumpPath;
std::wstring reporterCommand;
volatile LONG handlingThread = 0;

std::wstring fullPath(const std::wstring& path) {
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) {
        return {};
    }
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) {
        return {};
    }
    full.resize(length);
    return full;
}

std::wstring executableFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

bool isFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void startReporter() {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessW(nullptr, reporterCommand.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       nullptr, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

LONG WINAPI onUnhandledException(EXCEPTION_POINTERS* exception) {
    const LONG self = static_cast<LONG>(GetCurrentThreadId());
    const LONG owner = InterlockedCompareExchange(&handlingThread, self, 0);
    if (owner == self) {
        // The dump writer itself faulted: give up rather than recurse.
        return EXCEPTION_EXECUTE_HANDLER;
    }
    if (owner != 0) {
        // Another thread is writing the dump and will end the process.
        Sleep(INFINITE);
    }
    HANDLE file = CreateFileW(dumpPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return EXCEPTION_EXECUTE_HANDLER;
    }
    MINIDUMP_EXCEPTION_INFORMATION where{};
    where.ThreadId = GetCurrentThreadId();
    where.ExceptionPointers = exception;
    where.ClientPointers = FALSE;
    const BOOL written = MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file,
                                           MiniDumpNormal, &where, nullptr, nullptr);
    CloseHandle(file);
    if (written) {
        startReporter();
    } else {
        DeleteFileW(dumpPath.c_str());
    }
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

bool Win32CrashReporting::start(const std::string& dumpFolder, const std::string& reporterPath) {
    if (dumpFolder.empty() || reporterPath.empty()) {
        return false;
    }
    std::wstring folder = fullPath(win32::toWide(dumpFolder));
    if (folder.empty() || !isFolder(folder)) {
        return false;
    }
    if (folder.back() != L'\\') {
        folder += L'\\';
    }
    // A bare reporter name means the program beside ours, never one in the working folder.
    std::wstring reporter = win32::toWide(reporterPath);
    if (PathIsRelativeW(reporter.c_str())) {
        reporter = executableFolder() + reporter;
    }
    reporter = fullPath(reporter);
    if (reporter.empty()) {
        return false;
    }

    GUID id;
    if (FAILED(CoCreateGuid(&id))) {
        return false;
    }
    const std::string idText = win32::guidText(id);
    std::wstring path = folder + win32::toWide(idText.substr(1, idText.size() - 2)) + L".dmp";
    std::wstring command = L"\"" + reporter + L"\" \"" + path + L"\"";
    if (command.size() > kLongestCommandLine) {
        return false;
    }

    dumpPath = std::move(path);
    reporterCommand = std::move(command);
    SetUnhandledExceptionFilter(onUnhandledException);
    return true;
}

}  // namespace platform
