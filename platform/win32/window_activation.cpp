#include "platform/win32/window_activation.h"

#include <windows.h>

#include <regex>

#include "platform/win32/text.h"

namespace platform {

namespace {

constexpr int kTitleBufferSize = 1024;
constexpr int kLongestTitle = kTitleBufferSize - 1;

struct Search {
    DWORD pid;
    const std::wregex* title;
    HWND found = nullptr;
};

bool hasMatchingTitle(HWND window, const std::wregex& pattern) {
    wchar_t title[kTitleBufferSize];
    const int length = GetWindowTextW(window, title, kTitleBufferSize);
    if (length <= 0) {
        return false;
    }
    // A full buffer may hold a cut-off title; a cut-off title must not match.
    if (length >= kLongestTitle && GetWindowTextLengthW(window) > kLongestTitle) {
        return false;
    }
    return std::regex_search(title, title + length, pattern);
}

BOOL CALLBACK visitWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->pid) {
        return TRUE;
    }
    // Exceptions must not unwind through the system's enumeration frames.
    try {
        if (!hasMatchingTitle(window, *search->title)) {
            return TRUE;
        }
    } catch (const std::exception&) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

}  // namespace

bool Win32WindowActivation::activateProcessWindow(std::uint32_t pid,
                                                  const std::string& titlePattern) {
    if (pid == 0) {
        return false;
    }
    std::wregex pattern;
    try {
        pattern.assign(win32::toWide(titlePattern), std::regex_constants::ECMAScript);
    } catch (const std::regex_error&) {
        return false;
    }
    Search search{pid, &pattern};
    EnumWindows(visitWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) {
        return false;
    }
    SetForegroundWindow(search.found);
    SetFocus(search.found);
    return true;
}

}  // namespace platform
