#include "platform/win32/window_activation.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

using testsupport::TestWindow;

namespace {

const char kPattern[] = "^Quillmere(\\s*\\(\\d+\\))?$";

class WindowActivationTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(nullptr, bystander.handle());
        SetForegroundWindow(bystander.handle());
        ASSERT_EQ(bystander.handle(), GetForegroundWindow());
    }

    bool activate(const std::string& pattern = kPattern) {
        return activation.activateProcessWindow(GetCurrentProcessId(), pattern);
    }

    platform::Win32WindowActivation activation;
    TestWindow bystander{L"Bystander"};
};

// A process that exists but owns no windows: this program, started suspended.
class IdleProcess {
  public:
    IdleProcess() {
        std::wstring command = L"\"" + testsupport::executablePath() + L"\" --gtest_list_tests";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                           nullptr, nullptr, &startup, &process_)) {
            CloseHandle(process_.hThread);
        }
    }
    ~IdleProcess() {
        if (process_.hProcess != nullptr) {
            TerminateProcess(process_.hProcess, 0);
            CloseHandle(process_.hProcess);
        }
    }
    DWORD pid() const { return process_.dwProcessId; }

  private:
    PROCESS_INFORMATION process_{};
};

}  // namespace

TEST_F(WindowActivationTest, ActivatesTheMatchingWindowAmongOthers) {
    TestWindow setup(L"Quillmere Setup");
    TestWindow target(L"Quillmere (2)");
    TestWindow untitled(L"");
    SetForegroundWindow(bystander.handle());

    EXPECT_TRUE(activate());
    EXPECT_EQ(target.handle(), GetForegroundWindow());
    EXPECT_EQ(target.handle(), GetFocus());
}

TEST_F(WindowActivationTest, TitlesThatDoNotMatchAreSkipped) {
    TestWindow setup(L"Quillmere Setup");
    TestWindow suffixed(L"Quillmere (2) old");
    TestWindow untitled(L"");
    SetForegroundWindow(bystander.handle());

    EXPECT_FALSE(activate());
    EXPECT_EQ(bystander.handle(), GetForegroundWindow());
}

TEST_F(WindowActivationTest, TitleOfTheLongestReadableLengthMatches) {
    const std::wstring title = L"Quillmere (" + std::wstring(1011, L'7') + L")";
    ASSERT_EQ(1023u, title.size());
    TestWindow target(title);
    SetForegroundWindow(bystander.handle());
    EXPECT_TRUE(activate());
    EXPECT_EQ(target.handle(), GetForegroundWindow());
}

TEST_F(WindowActivationTest, OverlongTitleIsSkippedEvenWhenItsStartWouldMatch) {
    // Cut to 1023 characters this title would match.
    TestWindow overlong(L"Quillmere (" + std::wstring(1011, L'7') + L")7)");
    SetForegroundWindow(bystander.handle());
    EXPECT_FALSE(activate());
    EXPECT_EQ(bystander.handle(), GetForegroundWindow());
}

TEST_F(WindowActivationTest, WindowsOfOtherProcessesAreSkipped) {
    TestWindow target(L"Quillmere (2)");
    IdleProcess other;
    ASSERT_NE(0u, other.pid());
    SetForegroundWindow(bystander.handle());

    EXPECT_FALSE(activation.activateProcessWindow(other.pid(), kPattern));
    EXPECT_EQ(bystander.handle(), GetForegroundWindow());
}

TEST_F(WindowActivationTest, ProcessIdZeroDoesNothing) {
    TestWindow target(L"Quillmere (2)");
    SetForegroundWindow(bystander.handle());
    EXPECT_FALSE(activation.activateProcessWindow(0, kPattern));
    EXPECT_EQ(bystander.handle(), GetForegroundWindow());
}

TEST_F(WindowActivationTest, Utf8PatternMatchesUtf16Title) {
    TestWindow target(L"Quillm\u00E8re \u8BBE\u7F6E");
    SetForegroundWindow(bystander.handle());
    EXPECT_TRUE(activate("^Quillm\xC3\xA8re \xE8\xAE\xBE\xE7\xBD\xAE$"));
    EXPECT_EQ(target.handle(), GetForegroundWindow());
}

TEST_F(WindowActivationTest, InvalidPatternActivatesNothing) {
    TestWindow target(L"Quillmere (2)");
    SetForegroundWindow(bystander.handle());
    EXPECT_FALSE(activate("Quillmere ("));
    EXPECT_EQ(bystander.handle(), GetForegroundWindow());
}
