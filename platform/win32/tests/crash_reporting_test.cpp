#include "platform/win32/crash_reporting.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "platform/win32/text.h"
#include "test_support.h"

using platform::win32::toUtf8;
using testsupport::TempFolder;

namespace {

const std::wregex kDumpName(L"[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.dmp");

// Runs this test program as a crashing child that reports into `folder`.
DWORD crashChild(const std::wstring& folder, const std::wstring& reporter,
                 const std::wstring& workingFolder) {
    DWORD exitCode = 0;
    const std::wstring command = L"\"" + testsupport::executablePath() + L"\" --crash-child \"" +
                                 folder + L"\" \"" + reporter + L"\"";
    EXPECT_TRUE(testsupport::runProcess(command, workingFolder, exitCode));
    return exitCode;
}

// The reporter outlives the crashed child; wait a bounded while for its record.
bool waitForRecord(const std::wstring& path, std::string& record) {
    for (int attempt = 0; attempt < 600; ++attempt) {
        if (testsupport::readFile(path, record)) {
            return true;
        }
        Sleep(50);
    }
    return false;
}

bool isMinidump(const std::wstring& path) {
    std::string content;
    return testsupport::readFile(path, content) && content.compare(0, 4, "MDMP") == 0;
}

}  // namespace

TEST(CrashReportingTest, RefusesWhatItCannotArm) {
    platform::Win32CrashReporting reporting;
    TempFolder folder;
    const std::string reporter = toUtf8(testsupport::executableFolder()) + "fake_crash_reporter";
    EXPECT_FALSE(reporting.start("", reporter));
    EXPECT_FALSE(reporting.start(toUtf8(folder.path()), ""));
    EXPECT_FALSE(reporting.start(toUtf8(folder.path() + L"\\missing"), reporter));
}

TEST(CrashReportingTest, FaultWritesDumpAndStartsReporterWithItsPath) {
    TempFolder folder;
    ASSERT_FALSE(folder.path().empty());
    const std::wstring reporter = testsupport::executableFolder() + L"fake_crash_reporter.exe";

    EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION),
              crashChild(folder.path(), reporter, L""));

    const auto dumps = folder.files(L"*.dmp");
    ASSERT_EQ(1u, dumps.size());
    EXPECT_TRUE(std::regex_match(dumps[0], kDumpName)) << toUtf8(dumps[0]);
    const std::wstring dump = folder.path() + L"\\" + dumps[0];
    EXPECT_TRUE(isMinidump(dump));

    std::string record;
    ASSERT_TRUE(waitForRecord(dump + L".reported", record));
    EXPECT_EQ("1\n" + toUtf8(dump) + "\n", record);
}

TEST(CrashReportingTest, BareReporterNameIsTheProgramBesideTheExecutable) {
    TempFolder folder;
    TempFolder elsewhere;
    ASSERT_FALSE(folder.path().empty());

    // Started from another working folder, with the name as the application gives it.
    crashChild(folder.path(), L"fake_crash_reporter", elsewhere.path());
    crashChild(folder.path(), L"fake_crash_reporter", elsewhere.path());

    const auto dumps = folder.files(L"*.dmp");
    ASSERT_EQ(2u, dumps.size()) << "every fault gets a dump of its own name";
    for (const auto& name : dumps) {
        std::string record;
        EXPECT_TRUE(waitForRecord(folder.path() + L"\\" + name + L".reported", record))
            << toUtf8(name);
    }
}
