#include "setup/misc.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/testenv/test_platform.h"
#include "setup/stub.h"

namespace {

TEST(CreateFolderTree, CreatesMissingLevelsAndAcceptsExisting) {
  testenv::TestPlatform platform;
  EXPECT_TRUE(CreateFolderTree(platform, L"C:\\a\\b\\c"));
  EXPECT_TRUE(platform.IsFolder(L"C:\\a\\b\\c"));
  EXPECT_TRUE(CreateFolderTree(platform, L"C:\\a\\b\\c")) << "existing folder";
  EXPECT_TRUE(CreateFolderTree(platform, L"C:\\x\\y\\")) << "trailing backslash";
  EXPECT_TRUE(platform.IsFolder(L"C:\\x\\y"));
  EXPECT_FALSE(CreateFolderTree(platform, L"Q:\\no\\such\\drive"));
  EXPECT_FALSE(platform.Exists(L"Q:\\no"));
  platform.AddFile(L"C:\\file", "in the way");
  EXPECT_FALSE(CreateFolderTree(platform, L"C:\\file\\sub")) << "a file where a folder should be";
}

TEST(CreateGuidTempFolder, MakesAFreshBracedGuidFolderEachTime) {
  testenv::TestPlatform platform;
  std::wstring first, second;
  ASSERT_TRUE(CreateGuidTempFolder(platform, 260, &first));
  ASSERT_TRUE(CreateGuidTempFolder(platform, 260, &second));
  EXPECT_NE(first, second);
  const std::wstring temp = platform.tempPath;
  ASSERT_EQ(temp, first.substr(0, temp.size())) << "exactly one backslash between";
  const std::wstring guid = first.substr(temp.size());
  ASSERT_EQ(38u, guid.size());
  EXPECT_EQ(L'{', guid.front());
  EXPECT_EQ(L'}', guid.back());
  EXPECT_TRUE(platform.IsFolder(first));
  // A temporary path without its trailing backslash gets one.
  platform.tempPath = L"C:\\Temp";
  platform.AddFolder(L"C:\\Temp");
  std::wstring third;
  ASSERT_TRUE(CreateGuidTempFolder(platform, 300, &third));
  EXPECT_EQ(L"C:\\Temp\\{", third.substr(0, 9));
  // Too small a buffer creates nothing.
  std::wstring none = L"x";
  EXPECT_FALSE(CreateGuidTempFolder(platform, 259, &none));
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(1u, platform.Tree(L"C:\\Temp").size());
}

TEST(RemoveTree, RemovesEverythingAndSchedulesWhatIsHeld) {
  testenv::TestPlatform platform;
  platform.AddFile(L"C:\\work\\ro.txt", "r", port::kAttrReadOnly);
  platform.AddFile(L"C:\\work\\sys.dat", "s", port::kAttrSystem | port::kAttrHidden);
  platform.AddFile(L"C:\\work\\sub\\deep\\f.bin", "f");
  platform.AddFile(L"C:\\work\\held.log", "h");
  platform.LockFile(L"C:\\work\\held.log");
  EXPECT_TRUE(RemoveTree(platform, L"C:\\work\\"));
  EXPECT_FALSE(platform.Exists(L"C:\\work\\ro.txt"));
  EXPECT_FALSE(platform.Exists(L"C:\\work\\sub"));
  EXPECT_TRUE(platform.Exists(L"C:\\work\\held.log"));
  EXPECT_EQ((std::vector<std::wstring>{L"C:\\work\\held.log", L"C:\\work\\"}), platform.deletedAtReboot);
  EXPECT_FALSE(RemoveTree(platform, L"C:\\missing"));
}

TEST(RemoveTree, UnlinksJunctionsWithoutTouchingTheirTargets) {
  testenv::TestPlatform platform;
  platform.AddFile(L"C:\\precious\\data.db", "keep me");
  platform.AddFile(L"C:\\work\\a.txt", "a");
  platform.AddJunction(L"C:\\work\\link", L"C:\\precious");
  EXPECT_TRUE(RemoveTree(platform, L"C:\\work"));
  EXPECT_FALSE(platform.Exists(L"C:\\work"));
  EXPECT_EQ("keep me", platform.FileBytes(L"C:\\precious\\data.db"));
  EXPECT_TRUE(platform.deletedAtReboot.empty());
}

}  // namespace

namespace {

TEST(LogLastError, WritesTheOperationCodeAndSystemTextAsCritical) {
  testenv::TestPlatform platform;
  StubGlobals globals(platform);
  ASSERT_EQ(0, globals.log.Open());
  EXPECT_FALSE(platform.Files().OpenForRead(L"C:\\missing\\setup.exe") != nullptr);
  platform.System().SetLastError(port::kErrorFileNotFound);
  LogLastError(globals, L"CreateProcess");
  globals.log.Close();
  EXPECT_EQ("**CRITICAL** - CreateProcess FAILED with error 2: The system cannot find the file specified.\r\n\r\n",
            platform.FileBytes(L"C:\\riviziduve\\log\\vorqsetup.log"));
  // A code without a system text still logs the line, with an empty text.
  ASSERT_EQ(0, globals.log.Open());
  platform.System().SetLastError(0xE0001234u);
  LogLastError(globals, L"Op");
  EXPECT_NE(std::string::npos,
            platform.FileBytes(L"C:\\riviziduve\\log\\vorqsetup.log").find("Op FAILED with error -536866252: \r\n"));
}

}  // namespace
