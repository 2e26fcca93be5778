#include "platform/win32/shell_operations.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/win32/text.h"
#include "test_support.h"

namespace {

using platform::win32::toUtf8;

bool writeFile(const std::wstring& path, const std::string& content) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool done =
        WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
        written == content.size();
    CloseHandle(file);
    return done;
}

std::string read(const std::wstring& path) {
    std::string content;
    return testsupport::readFile(path, content) ? content : std::string("<missing>");
}

bool exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class ShellOperationsTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(temp_.path().empty()); }

    std::wstring at(const std::wstring& relative) const { return temp_.path() + L"\\" + relative; }
    std::string utf8(const std::wstring& relative) const { return toUtf8(at(relative)); }

    // Folders (ending in "\") and files, in order.
    void make(const std::vector<std::wstring>& paths) const {
        for (const std::wstring& path : paths) {
            if (path.back() == L'\\')
                ASSERT_TRUE(CreateDirectoryW(at(path).c_str(), nullptr)) << toUtf8(path);
            else
                ASSERT_TRUE(writeFile(at(path), toUtf8(path))) << toUtf8(path);
        }
    }

    testsupport::TempFolder temp_;
    platform::Win32ShellOperations shell_;
};

TEST_F(ShellOperationsTest, DeleteTreeRemovesAFolderWithEverythingInIt) {
    make({L"tree\\", L"tree\\a.txt", L"tree\\\u00dcbung \u00fc\\",
          L"tree\\\u00dcbung \u00fc\\b.txt", L"tree\\\u00dcbung \u00fc\\deeper\\",
          L"tree\\\u00dcbung \u00fc\\deeper\\c.txt"});
    SetFileAttributesW(at(L"tree\\a.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(shell_.deleteTree(utf8(L"tree")));
    EXPECT_FALSE(exists(at(L"tree")));

    make({L"single.txt"});
    EXPECT_TRUE(shell_.deleteTree(utf8(L"single.txt")));
    EXPECT_FALSE(exists(at(L"single.txt")));
}

TEST_F(ShellOperationsTest, DeleteTreeAnswersWhetherAnythingIsLeft) {
    EXPECT_TRUE(shell_.deleteTree(utf8(L"never there")));
    EXPECT_TRUE(shell_.deleteTree(utf8(L"no folder\\never there")));
    EXPECT_FALSE(shell_.deleteTree(""));
    // The shell would take these as patterns and delete every match.
    make({L"keep\\", L"keep\\a.txt", L"keep\\b.txt"});
    EXPECT_FALSE(shell_.deleteTree(utf8(L"keep\\*.txt")));
    EXPECT_FALSE(shell_.deleteTree(utf8(L"keep\\?.txt")));
    EXPECT_TRUE(exists(at(L"keep\\a.txt")));
    EXPECT_TRUE(exists(at(L"keep\\b.txt")));
}

TEST_F(ShellOperationsTest, LinksAreNeitherWalkedNorDeletedThrough) {
    make({L"outside\\", L"outside\\keep.txt", L"tree\\", L"tree\\a.txt"});
    const DWORD unprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    // Wine answers TRUE and makes nothing.
    if (!CreateSymbolicLinkW(at(L"tree\\link").c_str(), at(L"outside").c_str(),
                             SYMBOLIC_LINK_FLAG_DIRECTORY | unprivileged) ||
        !(GetFileAttributesW(at(L"tree\\link").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !exists(at(L"tree\\link"))) {
        GTEST_SKIP() << "no symbolic links here";
    }
    std::vector<platform::TreeEntry> entries;
    ASSERT_EQ(shell_.walkTree(utf8(L"tree"), entries), platform::kErrorNone);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].relativePath, "a.txt");

    EXPECT_TRUE(shell_.deleteTree(utf8(L"tree")));
    EXPECT_FALSE(exists(at(L"tree")));
    EXPECT_EQ(read(at(L"outside\\keep.txt")), toUtf8(L"outside\\keep.txt"));
}

TEST_F(ShellOperationsTest, WalkTreeListsFolderAfterFolder) {
    make({L"root\\", L"root\\b.txt", L"root\\a\\", L"root\\a\\x.txt", L"root\\a\\deep\\",
          L"root\\a\\deep\\y.txt", L"root\\c\\", L"root\\c\\z \u00e9.txt"});
    std::vector<platform::TreeEntry> entries{{"stale", false}};
    ASSERT_EQ(shell_.walkTree(utf8(L"root") + "/", entries), platform::kErrorNone);

    std::vector<std::pair<std::string, bool>> seen;
    for (const auto& entry : entries)
        seen.emplace_back(entry.relativePath, entry.isFolder);
    std::vector<std::pair<std::string, bool>> sorted = seen;
    std::sort(sorted.begin(), sorted.end());
    const std::vector<std::pair<std::string, bool>> expected{
        {"a", true},      {"a/deep", true}, {"a/deep/y.txt", false},           {"a/x.txt", false},
        {"b.txt", false}, {"c", true},      {toUtf8(L"c/z \u00e9.txt"), false}};
    EXPECT_EQ(sorted, expected);
    // Breadth first: everything of one depth before anything deeper.
    for (size_t i = 1; i < seen.size(); ++i) {
        const auto depth = [](const std::string& path) {
            return std::count(path.begin(), path.end(), '/');
        };
        EXPECT_LE(depth(seen[i - 1].first), depth(seen[i].first)) << seen[i].first;
    }
}

TEST_F(ShellOperationsTest, WalkTreeOfAMissingRootIsPathNotFound) {
    std::vector<platform::TreeEntry> entries;
    EXPECT_EQ(shell_.walkTree(utf8(L"missing"), entries), platform::kErrorPathNotFound);
    EXPECT_EQ(shell_.walkTree("", entries), platform::kErrorPathNotFound);
    make({L"file.txt", L"empty\\"});
    EXPECT_EQ(shell_.walkTree(utf8(L"file.txt"), entries), platform::kErrorPathNotFound);
    EXPECT_EQ(shell_.walkTree(utf8(L"empty"), entries), platform::kErrorNone);
    EXPECT_TRUE(entries.empty());
}

TEST_F(ShellOperationsTest, CreateFolderAnswersAsCreateDirectory) {
    EXPECT_EQ(shell_.createFolder(utf8(L"new \u00e4")), platform::kErrorNone);
    EXPECT_TRUE(GetFileAttributesW(at(L"new \u00e4").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(shell_.createFolder(utf8(L"new \u00e4")), platform::kErrorAlreadyExists);
    EXPECT_EQ(shell_.createFolder(utf8(L"missing\\new")), platform::kErrorPathNotFound);
}

TEST_F(ShellOperationsTest, CopyFileCopiesOverTheTarget) {
    make({L"source.txt", L"target.txt"});
    EXPECT_EQ(shell_.copyFile(utf8(L"source.txt"), utf8(L"target.txt")), platform::kErrorNone);
    EXPECT_EQ(read(at(L"target.txt")), "source.txt");
    EXPECT_EQ(shell_.copyFile(utf8(L"source.txt"), utf8(L"fresh \u00f6.txt")),
              platform::kErrorNone);
    EXPECT_EQ(read(at(L"fresh \u00f6.txt")), "source.txt");
}

TEST_F(ShellOperationsTest, CopyFileAnswersItsFailures) {
    make({L"source.txt", L"in use.txt"});
    EXPECT_EQ(shell_.copyFile(utf8(L"missing.txt"), utf8(L"t.txt")), platform::kErrorFileNotFound);
    EXPECT_EQ(shell_.copyFile(utf8(L"source.txt"), utf8(L"missing\\t.txt")),
              platform::kErrorPathNotFound);

    HANDLE held = CreateFileW(at(L"in use.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(shell_.copyFile(utf8(L"source.txt"), utf8(L"in use.txt")), ERROR_SHARING_VIOLATION);
    CloseHandle(held);
    EXPECT_EQ(read(at(L"in use.txt")), "in use.txt");
}

TEST_F(ShellOperationsTest, ExecuteStartsTheProgramInTheWorkingFolder) {
    make({L"work \u00e5\\"});
    const long result = shell_.execute(toUtf8(testsupport::executablePath()),
                                       "--record-arguments plain \"two words\" \u00e9",
                                       utf8(L"work \u00e5"), false);
    EXPECT_GT(result, 32);
    const std::wstring record = at(L"work \u00e5\\arguments.txt");
    for (int i = 0; i < 1000 && !exists(record); ++i)
        Sleep(10);
    EXPECT_EQ(read(record), utf8(L"work \u00e5") + "\n[plain]\n[two words]\n[\u00e9]\n");

    // Elevated, with the "runas" verb.
    DeleteFileW(record.c_str());
    EXPECT_GT(shell_.execute(toUtf8(testsupport::executablePath()), "--record-arguments elevated",
                             utf8(L"work \u00e5"), true),
              32);
    // Wine starts an elevated program through a slower path: up to 30 s on a busy machine.
    for (int i = 0; i < 3000 && !exists(record); ++i)
        Sleep(10);
    EXPECT_EQ(read(record), utf8(L"work \u00e5") + "\n[elevated]\n");
}

TEST_F(ShellOperationsTest, ExecuteOfAMissingProgramIsFileNotFound) {
    EXPECT_EQ(shell_.execute(utf8(L"missing.exe"), "", "", false), SE_ERR_FNF);
}

}  // namespace
