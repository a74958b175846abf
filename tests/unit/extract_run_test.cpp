#include <gtest/gtest.h>
#include <zlib.h>

#include "platform/testenv/test_platform.h"
#include "setup/extract.h"
#include "setup/stub.h"
#include "zip_builder.h"

namespace {

ziptest::EntrySpec Entry(const std::string& name, const std::string& content) {
  ziptest::EntrySpec e;
  e.name = name;
  e.data = content;
  e.crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size())));
  return e;
}

class ExtractRunTest : public ::testing::Test {
 protected:
  void SetUp() override { GivePackage({Entry("pkg.xml", "<vorq_package/>"), Entry("bin/setup.exe", "MZsetup")}); }
  void GivePackage(const std::vector<ziptest::EntrySpec>& entries) {
    ziptest::ArchiveSpec spec;
    spec.prefix = ziptest::FakeImage(4096);
    spec.entries = entries;
    platform.AddFile(platform.modulePath, ziptest::Build(spec));
  }
  int Run(const std::wstring& tail) {
    StubGlobals globals(platform);
    return RunStub(globals, nullptr, tail);
  }
  testenv::TestPlatform platform;
};

TEST_F(ExtractRunTest, ExtractsIntoAnExistingFolderAndExitsOne) {
  platform.AddFolder(L"C:\\out");
  const std::wstring before = platform.currentDirectory;
  EXPECT_EQ(1, Run(L"/extract:C:\\out /dosretcode"));
  EXPECT_EQ((std::vector<std::wstring>{L"bin", L"bin\\setup.exe", L"pkg.xml"}), platform.Tree(L"C:\\out"));
  EXPECT_EQ("MZsetup", platform.FileBytes(L"C:\\out\\bin\\setup.exe"));
  EXPECT_EQ(before, platform.currentDirectory) << "the current folder is restored";
  EXPECT_TRUE(platform.messageBoxes.empty());
}

TEST_F(ExtractRunTest, FailuresExitZeroSilentlyAndWriteNothingElsewhere) {
  EXPECT_EQ(0, Run(L"/extract:C:\\missing"));
  EXPECT_FALSE(platform.Exists(L"C:\\missing"));
  EXPECT_EQ(0, Run(L"/extract:"));
  EXPECT_TRUE(platform.Tree(platform.currentDirectory).empty()) << "an empty folder extracts nowhere";
  // Altered data: the run fails, without a window.
  ziptest::EntrySpec altered = Entry("data.bin", "good data");
  altered.data = "evil data";
  GivePackage({Entry("a.txt", "a"), altered});
  platform.AddFolder(L"C:\\out");
  EXPECT_EQ(0, Run(L"/extract:C:\\out"));
  EXPECT_TRUE(platform.messageBoxes.empty());
}

TEST_F(ExtractRunTest, DiskSpaceMustExceedTheUnpackedSize) {
  platform.AddFolder(L"D:\\out");
  const uint64_t unpacked = 15 + 7;
  platform.freeSpaceByDrive[L"D"] = unpacked;
  EXPECT_EQ(0, Run(L"/extract:D:\\out"));
  EXPECT_TRUE(platform.Tree(L"D:\\out").empty());
  platform.freeSpaceByDrive[L"D"] = unpacked + 1;
  EXPECT_EQ(1, Run(L"/extract:D:\\out"));
}

TEST_F(ExtractRunTest, DiskSpaceMessageShowsLowThirtyTwoBits) {
  // Two entries claiming 3 GiB each (stored data is not read by the check).
  ziptest::EntrySpec big = Entry("big1.bin", "x");
  big.centralUncompressedSize = 0xC0000000u;
  ziptest::EntrySpec big2 = big;
  big2.name = "big2.bin";
  GivePackage({big, big2});
  platform.freeSpaceByDrive[L"C"] = 5ull << 30;  // 5 GiB free, 6 GiB needed
  StubGlobals globals(platform);
  EXPECT_EQ(0x180000000ull, GetPackageUnpackedSize(globals));
  EXPECT_FALSE(CheckDiskSpace(globals, nullptr, false, false));
  ASSERT_EQ(1u, platform.messageBoxes.size());
  EXPECT_EQ(L"Not enough disk space is available to extract the package:\n\n2147483648 bytes required\n\n"
            L"1073741824 bytes available\n\nPlease make 1073741824 bytes available and try again.",
            platform.messageBoxes[0].text);
  EXPECT_EQ(L"Package Setup", platform.messageBoxes[0].caption);
  EXPECT_EQ(port::kMbIconExclamation, platform.messageBoxes[0].style);
  EXPECT_FALSE(CheckDiskSpace(globals, nullptr, false, true));
  EXPECT_EQ(1u, platform.messageBoxes.size()) << "silent runs show nothing";
  platform.modulePath = L"C:\\gone.exe";
  EXPECT_EQ(0u, GetPackageUnpackedSize(globals)) << "an archive that cannot be opened counts 0";
}

TEST_F(ExtractRunTest, ConfigFileGivenOnTheCommandLineIsCopiedIn) {
  platform.AddFolder(L"C:\\out");
  platform.AddFile(L"C:\\cfg\\site.cfg", "setting=1");
  EXPECT_EQ(1, Run(L"/extract:C:\\out /config_file C:\\cfg\\site.cfg"));
  EXPECT_EQ("setting=1", platform.FileBytes(L"C:\\out\\site.cfg"));
}

}  // namespace
