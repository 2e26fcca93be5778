#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// A shown top-level window of this thread, destroyed with the object.
class TestWindow {
  public:
    explicit TestWindow(const std::wstring& title);
    ~TestWindow();
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    HWND handle() const { return handle_; }
    std::uintptr_t id() const { return reinterpret_cast<std::uintptr_t>(handle_); }

  private:
    HWND handle_;
};

// A fresh folder below the temporary folder (its name holds a space), removed with the object.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& path() const { return path_; }  // without a trailing separator
    std::vector<std::wstring> files(const std::wstring& pattern) const;

  private:
    std::wstring path_;
};

std::wstring executablePath();
std::wstring executableFolder();  // with a trailing separator

// Runs a program to its end. False when it could not be started or did not end in a minute.
bool runProcess(const std::wstring& commandLine, const std::wstring& workingFolder,
                DWORD& exitCode);

bool readFile(const std::wstring& path, std::string& content);

}  // namespace testsupport
