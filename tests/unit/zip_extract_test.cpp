#include <gtest/gtest.h>
#include <zlib.h>

#include "archive/zip_file.h"
#include "platform/testenv/test_platform.h"
#include "zip_builder.h"

using namespace vorqzip;
using ziptest::ArchiveSpec;
using ziptest::EntrySpec;

namespace {

const wchar_t kStub[] = L"C:\\dl\\pkg.exe";

std::string RawDeflate(const std::string& data) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(compressBound(data.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

uint32_t Crc(const std::string& data) {
  return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

EntrySpec Stored(const std::string& name, const std::string& content) {
  EntrySpec e;
  e.name = name;
  e.data = content;
  e.crc = Crc(content);
  return e;
}

EntrySpec Deflated(const std::string& name, const std::string& content) {
  EntrySpec e;
  e.name = name;
  e.method = 8;
  e.data = RawDeflate(content);
  e.crc = Crc(content);
  e.centralUncompressedSize = static_cast<uint32_t>(content.size());
  return e;
}

EntrySpec Folder(const std::string& name) {
  EntrySpec e;
  e.name = name;
  e.crc = 0;
  e.externalAttributes = 0x10;
  return e;
}

std::string Text(size_t size) {
  std::string s;
  for (size_t i = 0; s.size() < size; ++i) s += "line " + std::to_string(i * 7919 % 1000) + " of the firmware image\n";
  s.resize(size);
  return s;
}

class ExtractTest : public ::testing::Test {
 protected:
  int Open(const std::vector<EntrySpec>& entries) {
    ArchiveSpec spec;
    spec.prefix = ziptest::FakeImage(2048);
    spec.entries = entries;
    platform.AddFile(kStub, ziptest::Build(spec));
    return archive.Open(kStub);
  }
  testenv::TestPlatform platform;
  ZIP_File archive{platform.Files(), platform.System()};
};

TEST_F(ExtractTest, StoredAndDeflatedEntriesExtractToIdenticalFilesAndMemory) {
  const std::string content = Text(70000);  // several input blocks and output chunks
  ASSERT_EQ(ZIP_OK, Open({Stored("a.bin", content), Deflated("b.bin", content)}));
  EXPECT_LT(archive.GetEntry(1)->compressedSize, content.size());
  EXPECT_EQ(ZIP_OK, archive.GetEntry(0)->ExtractToFile(L"C:\\out\\a.bin", false));
  EXPECT_EQ(ZIP_OK, archive.GetEntry(1)->ExtractToFile(L"C:\\out\\b.bin", false));
  EXPECT_EQ(content, platform.FileBytes(L"C:\\out\\a.bin"));
  EXPECT_EQ(content, platform.FileBytes(L"C:\\out\\b.bin"));
  for (int i = 0; i < 2; ++i) {
    std::string memory(content.size(), '\0');
    EXPECT_EQ(ZIP_OK, archive.GetEntry(i)->Extract(&memory[0], static_cast<uint32_t>(memory.size())));
    EXPECT_EQ(content, memory);
  }
  EXPECT_EQ(1, platform.openFiles()) << "only the archive stays open";
}

TEST_F(ExtractTest, AlteredDataFailsTheCrcAfterWritingIt) {
  EntrySpec stored = Stored("s.txt", "original text");
  stored.data = "0riginal text";  // altered after the CRC was taken
  EntrySpec deflated = Deflated("d.txt", Text(5000));
  deflated.crc ^= 1;
  ASSERT_EQ(ZIP_OK, Open({stored, deflated}));
  std::string memory(13, '\0');
  EXPECT_EQ(ZIP_ERR_CRC, archive.GetEntry(0)->Extract(&memory[0], 13));
  EXPECT_EQ("0riginal text", memory);
  EXPECT_EQ(ZIP_ERR_CRC, archive.GetEntry(0)->ExtractToFile(L"C:\\out\\s.txt", false));
  EXPECT_EQ("0riginal text", platform.FileBytes(L"C:\\out\\s.txt"));
  EXPECT_EQ(ZIP_ERR_CRC, archive.GetEntry(1)->ExtractToFile(L"C:\\out\\d.txt", false));
  // Asking for less than the whole entry compares no CRC.
  std::string part(4, '\0');
  EXPECT_EQ(ZIP_OK, archive.GetEntry(0)->Extract(&part[0], 4));
  EXPECT_EQ("0rig", part);
}

TEST_F(ExtractTest, BrokenDataIsReportedNeverPassedAsComplete) {
  const std::string content = Text(40000);
  EntrySpec unknown = Stored("m12.bin", "xyz");
  unknown.method = 12;
  EntrySpec shortStored = Stored("short.bin", "abc");
  shortStored.centralUncompressedSize = 10;  // promises more than it stores
  EntrySpec corrupt = Deflated("corrupt.bin", content);
  for (size_t i = 10; i < 40; ++i) corrupt.data[i] = static_cast<char>(0xFF);
  EntrySpec truncated = Deflated("truncated.bin", content);
  truncated.centralUncompressedSize = static_cast<uint32_t>(content.size() + 100);  // stream ends early
  EntrySpec empty = Stored("empty.txt", "");
  ASSERT_EQ(ZIP_OK, Open({unknown, shortStored, corrupt, truncated, empty}));

  struct Case {
    int index;
    int status;
  } cases[] = {{0, ZIP_ERR_FORMAT}, {1, ZIP_ERR_FORMAT}, {3, ZIP_ERR_END}, {4, ZIP_OK}};
  for (const Case& c : cases) {
    ZIP_FileEntry* entry = archive.GetEntry(c.index);
    SCOPED_TRACE(entry->name);
    EXPECT_EQ(c.status, entry->ExtractToFile(L"C:\\out\\" + std::wstring(entry->name.begin(), entry->name.end()), false));
    std::string memory(entry->uncompressedSize + 1, '\0');
    EXPECT_EQ(c.status, entry->Extract(&memory[0], entry->uncompressedSize));
  }
  EXPECT_NE(ZIP_OK, archive.GetEntry(2)->ExtractToFile(L"C:\\out\\corrupt.bin", false));
  std::string memory(content.size(), '\0');
  EXPECT_NE(ZIP_OK, archive.GetEntry(2)->Extract(&memory[0], static_cast<uint32_t>(memory.size())));
  EXPECT_TRUE(platform.Exists(L"C:\\out\\empty.txt"));
  EXPECT_EQ("", platform.FileBytes(L"C:\\out\\empty.txt"));
}

TEST_F(ExtractTest, ReadAndWriteFailuresAreReported) {
  const std::string content = Text(50000);
  ASSERT_EQ(ZIP_OK, Open({Stored("a.bin", content), Deflated("b.bin", content)}));
  platform.faults.failReadsFrom = 2048 + 30 + 5 + 20000;  // inside the first entry's data
  EXPECT_EQ(ZIP_ERR_GENERAL, archive.GetEntry(0)->ExtractToFile(L"C:\\out\\a.bin", false));
  std::string memory(content.size(), '\0');
  EXPECT_EQ(ZIP_ERR_GENERAL, archive.GetEntry(0)->Extract(&memory[0], static_cast<uint32_t>(memory.size())));
  platform.faults.failReadsFrom = -1;
  platform.faults.diskBytesLeft = 30000;  // the disk fills up in the middle of the entry
  EXPECT_EQ(ZIP_ERR_CREATE, archive.GetEntry(1)->ExtractToFile(L"C:\\out\\b.bin", false));
  EXPECT_LT(platform.FileBytes(L"C:\\out\\b.bin").size(), content.size());
}

TEST_F(ExtractTest, TimesAreTheLocalDosTimeAndAttributesAreApplied) {
  EntrySpec readOnly = Stored("ro.txt", "keep");
  readOnly.dosDate = (45 << 9) | (1 << 5) | 1;  // 2025-01-01
  readOnly.dosTime = (12 << 11);                // 12:00:00
  readOnly.externalAttributes = 0x21;
  EntrySpec unixMade = Stored("unix.txt", "x");
  unixMade.externalAttributes = 0x81240001;  // mode bits above, read-only below
  ASSERT_EQ(ZIP_OK, Open({readOnly, unixMade}));
  platform.timeZoneBiasMinutes = -60;  // local time is UTC+1
  const uint64_t before = platform.Times(L"C:\\dl\\pkg.exe").lastAccess;
  ASSERT_EQ(ZIP_OK, archive.GetEntry(0)->ExtractToFile(L"C:\\out\\ro.txt", false));
  const port::FileTimes times = platform.Times(L"C:\\out\\ro.txt");
  const uint64_t noonUtcPlusOne = 133802064000000000ull - 36000000000ull;  // 11:00 UTC
  EXPECT_EQ(noonUtcPlusOne, times.creation);
  EXPECT_EQ(noonUtcPlusOne, times.lastWrite);
  EXPECT_EQ(before, times.lastAccess) << "the last-access time is kept";
  EXPECT_EQ(0x21u, platform.Attributes(L"C:\\out\\ro.txt"));
  ASSERT_EQ(ZIP_OK, archive.GetEntry(1)->ExtractToFile(L"C:\\out\\unix.txt", false));
  EXPECT_TRUE(platform.Attributes(L"C:\\out\\unix.txt") & port::kAttrReadOnly);
  // A read-only, hidden or system file in the way cannot be replaced.
  EXPECT_EQ(ZIP_ERR_CREATE, archive.GetEntry(0)->ExtractToFile(L"C:\\out\\ro.txt", false));
  platform.AddFile(L"C:\\out\\hidden.txt", "h", port::kAttrHidden);
  EXPECT_EQ(ZIP_ERR_CREATE, archive.GetEntry(0)->ExtractToFile(L"C:\\out\\hidden.txt", false));
  platform.AddFile(L"C:\\out\\plain.txt", "old content that is longer");
  EXPECT_EQ(ZIP_OK, archive.GetEntry(0)->ExtractToFile(L"C:\\out\\plain.txt", false));
  EXPECT_EQ("keep", platform.FileBytes(L"C:\\out\\plain.txt"));
  platform.AddFile(L"C:\\out\\new.txt", "there");
  EXPECT_EQ(ZIP_ERR_CREATE, archive.GetEntry(0)->ExtractToFile(L"C:\\out\\new.txt", true)) << "failIfExists";
}

struct Progress {
  std::vector<ExtractProgressInfo> calls;
  size_t stopAt = 0;
  static bool Record(void* context, const ExtractProgressInfo* info) {
    auto* self = static_cast<Progress*>(context);
    self->calls.push_back(*info);
    return self->calls.size() != self->stopAt;
  }
};

TEST_F(ExtractTest, ExtractAllCreatesFoldersAndReportsProgress) {
  ASSERT_EQ(ZIP_OK, Open({Stored("readme.txt", "r"), Folder("sub/"), Deflated("sub/x.bin", Text(3000)),
                          Stored("deep/er/y.txt", "y"), Folder("empty/")}));
  Progress progress;
  ASSERT_EQ(ZIP_OK, archive.ExtractAll(L"C:\\new\\target", &Progress::Record, &progress));
  EXPECT_EQ((std::vector<std::wstring>{L"deep", L"deep\\er", L"deep\\er\\y.txt", L"empty", L"readme.txt", L"sub",
                                       L"sub\\x.bin"}),
            platform.Tree(L"C:\\new\\target"));
  ASSERT_EQ(5u, progress.calls.size());
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(i + 1, progress.calls[i].index);
    EXPECT_EQ(5u, progress.calls[i].total);
  }
  EXPECT_EQ(L"C:\\new\\target\\sub/", progress.calls[1].path);
  EXPECT_EQ(L"C:\\new\\target\\readme.txt", progress.calls[0].path);
  // A callback that says stop ends the extraction before that entry.
  Progress stopper;
  stopper.stopAt = 2;
  ASSERT_EQ(ZIP_OK, archive.ExtractAll(L"C:\\second", &Progress::Record, &stopper));
  EXPECT_EQ(std::vector<std::wstring>{L"readme.txt"}, platform.Tree(L"C:\\second"));
}

TEST_F(ExtractTest, ExtractAllRefusesUncreatableTargets) {
  ASSERT_EQ(ZIP_OK, Open({Stored("a.txt", "a")}));
  EXPECT_EQ(ZIP_ERR_GENERAL, archive.ExtractAll(L"\\\\server\\share\\out", nullptr, nullptr));
  EXPECT_EQ(ZIP_ERR_GENERAL, archive.ExtractAll(L"Q:\\out", nullptr, nullptr)) << "no such drive";
  EXPECT_EQ(ZIP_ERR_GENERAL, archive.ExtractAll(L"relative\\out", nullptr, nullptr));
  EXPECT_FALSE(platform.Exists(L"C:\\Windows\\system32\\relative"));
}

TEST_F(ExtractTest, NamesThatLeaveTheTargetAreRefusedBeforeAnythingOutsideIsWritten) {
  const char* bad[] = {"../evil.txt", "sub/../../evil.txt", "..\\evil.txt", "sub\\.. \\..\\evil.txt", "...\\evil.txt",
                       "C:evil.txt",  "C:\\evil.txt",       "\\evil.txt",  "/evil.txt",            "\\\\srv\\sh\\evil.txt",
                       "ok.txt:stream"};
  for (const char* name : bad) {
    SCOPED_TRACE(name);
    testenv::TestPlatform fresh;
    ZIP_File zip(fresh.Files(), fresh.System());
    ArchiveSpec spec;
    spec.entries = {Stored("first.txt", "1"), Stored(name, "evil")};
    fresh.AddFile(kStub, ziptest::Build(spec));
    ASSERT_EQ(ZIP_OK, zip.Open(kStub));
    EXPECT_EQ(ZIP_ERR_FORMAT, zip.ExtractAll(L"C:\\t\\u", nullptr, nullptr));
    EXPECT_EQ(std::vector<std::wstring>{L"first.txt"}, fresh.Tree(L"C:\\t\\u"));
    EXPECT_EQ((std::vector<std::wstring>{L"u", L"u\\first.txt"}), fresh.Tree(L"C:\\t"));
    EXPECT_FALSE(fresh.Exists(L"C:\\evil.txt"));
    EXPECT_EQ(ZIP_ERR_FORMAT, zip.GetEntry(1)->ExtractToFile(L"", false)) << "own name as the path";
  }
  const char* fine[] = {"a..b.txt", "dir/.hidden", "./x.txt", "x. y/z.txt"};
  for (const char* name : fine) EXPECT_TRUE(IsSafeEntryName(name)) << name;
}

TEST_F(ExtractTest, OverlongPathsAreRefusedNotCut) {
  const std::string name58(58, 'n');
  ASSERT_EQ(ZIP_OK, Open({Stored(name58 + ".txt", "x"), Folder(name58 + "/")}));
  // A folder of 197 characters plus the separator and a 62-character name: 260 characters.
  const std::wstring folder = L"C:\\" + std::wstring(194, L'f');
  ASSERT_EQ(197u, folder.size());
  EXPECT_EQ(ZIP_ERR_CREATE, archive.ExtractAll(folder, nullptr, nullptr));
  EXPECT_TRUE(platform.Tree(folder).empty());
  // One character less fits (259).
  const std::wstring shorter = L"C:\\" + std::wstring(193, L'f');
  EXPECT_EQ(ZIP_OK, archive.GetEntry(0)->ExtractToFile(shorter + L"\\" + std::wstring(name58.begin(), name58.end()) + L".txt", false));
}

TEST(CreateDirectoryPath, Forms) {
  struct Case {
    const wchar_t* path;
    bool result;
    const wchar_t* mustExist;
  } cases[] = {
      {L"C:\\", true, L"C:\\"},
      {L"C:\\a\\b/c\\d", true, L"C:\\a\\b\\c\\d"},
      {L"C:\\x/y/", true, L"C:\\x\\y"},
      {L"C:\\Windows", true, L"C:\\Windows"},
      {L"relative\\path", false, nullptr},
      {L"\\\\server\\share\\dir", false, nullptr},
      {L"C:/forward", false, nullptr},
      {L"Z:\\no\\drive", false, nullptr},
      {L"", false, nullptr},
  };
  for (const Case& c : cases) {
    testenv::TestPlatform platform;
    EXPECT_EQ(c.result, CreateDirectoryPath(platform.Files(), platform.System(), c.path)) << c.path[0];
    if (c.mustExist) EXPECT_TRUE(platform.IsFolder(c.mustExist));
  }
  testenv::TestPlatform platform;
  platform.AddFile(L"C:\\blocker", "file in the way");
  EXPECT_FALSE(CreateDirectoryPath(platform.Files(), platform.System(), L"C:\\blocker\\sub"));
}

TEST(DosTime, Conversion) {
  uint64_t value = 0;
  ASSERT_TRUE(DosDateTimeToFileTime((45 << 9) | (1 << 5) | 1, 12 << 11, &value));
  EXPECT_EQ(133802064000000000ull, value);  // 2025-01-01 12:00:00
  ASSERT_TRUE(DosDateTimeToFileTime((44 << 9) | (2 << 5) | 29, (23 << 11) | (59 << 5) | 29, &value));
  EXPECT_EQ(133537247980000000ull, value);  // 2024-02-29 23:59:58
  const struct {
    uint32_t date, time;
  } invalid[] = {{0, 0}, {(43 << 9) | (2 << 5) | 29, 0}, {(45 << 9) | (13 << 5) | 1, 0}, {(45 << 9) | (1 << 5) | 1, 24 << 11},
                 {(45 << 9) | (4 << 5) | 31, 0}};
  for (const auto& c : invalid) EXPECT_FALSE(DosDateTimeToFileTime(c.date, c.time, &value)) << c.date << " " << c.time;
}

}  // namespace
