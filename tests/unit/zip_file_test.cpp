#include "archive/zip_file.h"

#include <gtest/gtest.h>

#include "platform/testenv/test_platform.h"
#include "zip_builder.h"

using namespace vorqzip;
using ziptest::ArchiveSpec;
using ziptest::Build;
using ziptest::EntrySpec;

namespace {

const wchar_t kPath[] = L"C:\\pkg\\pkg.exe";

class ZipFileTest : public ::testing::Test {
 protected:
  int OpenBytes(const std::string& bytes) {
    platform.AddFile(kPath, bytes);
    return archive.Open(kPath);
  }
  ArchiveSpec ThreeEntries() {
    ArchiveSpec spec;
    spec.prefix = ziptest::FakeImage(5000);
    EntrySpec a;
    a.name = "pkg.xml";
    a.data = "<vorq_package/>";
    a.extra = std::string("UT\x05\x00\x01", 5) + std::string("ab\0cd", 5);
    a.externalAttributes = 0x21;
    EntrySpec b;
    b.name = "payload/";
    b.externalAttributes = 0x10;
    EntrySpec c;
    c.name = "cp_data.xml";
    c.data = "<cp_pkg_data/>";
    c.method = 8;
    spec.entries = {a, b, c};
    return spec;
  }

  testenv::TestPlatform platform;
  ZIP_File archive{platform.Files(), platform.System()};
};

TEST_F(ZipFileTest, OpensArchiveBehindImageWithAbsoluteOffsetsAndReadsEveryField) {
  ArchiveSpec spec = ThreeEntries();
  const std::string bytes = Build(spec);
  ASSERT_EQ(ZIP_OK, OpenBytes(bytes));
  ASSERT_EQ(3, archive.GetEntryCount());
  EXPECT_TRUE(archive.IsOpen());

  const ZIP_FileEntry* first = archive.GetEntry(0);
  ASSERT_NE(nullptr, first);
  EXPECT_EQ("pkg.xml", first->name);
  EXPECT_EQ(5000u, first->localHeaderOffset);
  EXPECT_EQ(5000u + 30 + 7 + 10, first->dataOffset);
  EXPECT_EQ(bytes.substr(first->dataOffset, 15), "<vorq_package/>");
  EXPECT_EQ(0x12345678u, first->storedCrc);
  EXPECT_EQ(15u, first->compressedSize);
  EXPECT_EQ(15u, first->uncompressedSize);
  EXPECT_EQ(0x6000u, first->dosTime);
  EXPECT_EQ(0x5A21u, first->dosDate);
  EXPECT_EQ(0x21u, first->externalAttributes);
  EXPECT_EQ(20u, first->versionMadeBy);
  EXPECT_EQ(20u, first->versionNeeded);
  EXPECT_EQ(std::string("UT\x05", 3), first->extraField.substr(0, 3));
  EXPECT_EQ(std::string("UT\x05", 3), first->extraField) << "copied up to the first zero byte";
  EXPECT_NE(nullptr, first->archiveHandle);
  EXPECT_EQ(8u, archive.GetEntry(2)->method);
  EXPECT_EQ(nullptr, archive.GetEntry(3)) << "index equal to the count";
  EXPECT_EQ(nullptr, archive.GetEntry(-1));
}

TEST_F(ZipFileTest, CertificateTailAndCommentAfterTheEndRecordAreIgnored) {
  ArchiveSpec spec = ThreeEntries();
  spec.comment = "built by the package tool";
  spec.suffix = std::string(10 * 1024, '\x30');
  ASSERT_EQ(ZIP_OK, OpenBytes(Build(spec)));
  EXPECT_EQ(3, archive.GetEntryCount());
}

TEST_F(ZipFileTest, TheSignatureNearestTheEndWins) {
  // A first, complete archive followed by a second one: the second end record is taken.
  ArchiveSpec inner;
  EntrySpec e;
  e.name = "old.txt";
  e.data = "old";
  inner.entries = {e};
  ArchiveSpec outer;
  outer.prefix = Build(inner);
  EntrySpec n;
  n.name = "new.txt";
  n.data = "new";
  EntrySpec m;
  m.name = "more.txt";
  outer.entries = {n, m};
  ASSERT_EQ(ZIP_OK, OpenBytes(Build(outer)));
  ASSERT_EQ(2, archive.GetEntryCount());
  EXPECT_EQ("new.txt", archive.GetEntry(0)->name);
}

TEST_F(ZipFileTest, SignatureStraddlingTwoScanBlocksIsFound) {
  // Place the end record so that its signature crosses the boundary of the 1,024-byte steps.
  for (size_t tail = 1018; tail <= 1030; ++tail) {
    ArchiveSpec spec = ThreeEntries();
    spec.suffix = std::string(tail - 22, '\x11');
    ASSERT_EQ(ZIP_OK, OpenBytes(Build(spec))) << "tail " << tail;
  }
}

struct StatusCase {
  const char* label;
  std::string bytes;
  int status;
};

std::vector<StatusCase> StatusCases() {
  std::vector<StatusCase> cases;
  auto spec = [] {
    ArchiveSpec s;
    s.prefix = ziptest::FakeImage(3000);
    EntrySpec e;
    e.name = "pkg.xml";
    e.data = "<x/>";
    s.entries = {e};
    return s;
  };
  cases.push_back({"empty file", "", ZIP_ERR_GENERAL});
  cases.push_back({"four bytes", "PK\x05\x06", ZIP_ERR_GENERAL});
  cases.push_back({"no end record", ziptest::FakeImage(70000), ZIP_ERR_GENERAL});
  {
    ArchiveSpec s = spec();
    s.suffix = std::string(65535 - 21, '\0');  // record now begins 65,536 bytes before the end
    cases.push_back({"end record beyond the window", Build(s), ZIP_ERR_GENERAL});
    ArchiveSpec t = spec();
    t.suffix = std::string(65535 - 22, '\0');  // begins exactly 65,535 bytes before the end
    cases.push_back({"end record at the window's edge", Build(t), ZIP_OK});
  }
  {
    ArchiveSpec s;
    EntrySpec e;
    e.name = "a";
    s.entries = {e};
    std::string bytes = Build(s);
    // An end record at the very start of the file counts as none.
    cases.push_back({"end record at offset 0", bytes.substr(bytes.size() - 22), ZIP_ERR_GENERAL});
  }
  {
    ArchiveSpec s = spec();
    s.relativeOffsets = true;
    cases.push_back({"offsets relative to the archive", Build(s), ZIP_ERR_FORMAT});
  }
  {
    ArchiveSpec s = spec();
    s.entriesOnDiskDelta = 1;
    cases.push_back({"entries on disk differ from total", Build(s), ZIP_ERR_FORMAT});
    ArchiveSpec d = spec();
    d.thisDisk = 1;
    cases.push_back({"multi-disk: this disk", Build(d), ZIP_ERR_FORMAT});
    ArchiveSpec c = spec();
    c.directoryDisk = 2;
    cases.push_back({"multi-disk: directory disk", Build(c), ZIP_ERR_FORMAT});
  }
  {
    ArchiveSpec s = spec();
    s.entries[0].localZeroCrcAndSizes = true;
    cases.push_back({"data descriptor entry", Build(s), ZIP_ERR_FORMAT});
    ArchiveSpec n = spec();
    n.entries[0].localName = "PKG.XML";
    cases.push_back({"local name differs in case", Build(n), ZIP_ERR_FORMAT});
    ArchiveSpec m = spec();
    m.entries[0].localMethod = 8;
    cases.push_back({"local method differs", Build(m), ZIP_ERR_FORMAT});
    ArchiveSpec e = spec();
    e.entries[0].name.clear();
    cases.push_back({"empty entry name", Build(e), ZIP_ERR_FORMAT});
  }
  {
    ArchiveSpec s;
    s.prefix = ziptest::FakeImage(100);
    cases.push_back({"zero entries", Build(s), ZIP_OK});
    ArchiveSpec z = spec();
    z.zeroDirectoryOffset = true;
    cases.push_back({"directory offset 0", Build(z), ZIP_OK});
  }
  {
    // Truncate the archive inside its central directory: the record runs past the end.
    ArchiveSpec s = spec();
    s.comment = std::string(40, 'c');
    std::string bytes = Build(s);
    std::string truncated = bytes.substr(0, bytes.size() - 40 - 1);  // comment one byte short
    cases.push_back({"comment runs past the end", truncated, ZIP_ERR_FORMAT});
  }
  {
    // Both headers claim more stored data than the file holds behind the entry.
    ArchiveSpec s = spec();
    std::string bytes = Build(s);
    const size_t central = bytes.find(std::string("PK\x01\x02", 4));
    for (size_t at : {size_t{3000} + 18, central + 20}) {
      bytes[at] = '\x00';
      bytes[at + 1] = '\x00';
      bytes[at + 2] = '\x10';
      bytes[at + 3] = '\x00';
    }
    cases.push_back({"entry data beyond the file", bytes, ZIP_ERR_FORMAT});
  }
  return cases;
}

TEST_F(ZipFileTest, StatusOfEveryFailure) {
  for (const StatusCase& c : StatusCases()) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(c.status, OpenBytes(c.bytes));
    if (c.status != ZIP_OK) {
      EXPECT_FALSE(archive.IsOpen());
      EXPECT_EQ(0, archive.GetEntryCount()) << "a failed open lists nothing";
      EXPECT_EQ(0u, archive.centralDirectoryOffset());
      EXPECT_EQ(0, platform.openFiles()) << "the handle is closed";
    }
  }
}

TEST_F(ZipFileTest, DirectoryOffsetPastTheEndIsRefused) {
  ArchiveSpec spec = ThreeEntries();
  std::string bytes = Build(spec);
  // Point the directory offset (end record + 16) far beyond the file.
  const size_t end = bytes.size() - 22;
  bytes[end + 16] = '\x00';
  bytes[end + 17] = '\x00';
  bytes[end + 18] = '\x00';
  bytes[end + 19] = '\x70';
  EXPECT_EQ(ZIP_ERR_FORMAT, OpenBytes(bytes));
}

TEST_F(ZipFileTest, MissingFileAndPlatformFaults) {
  EXPECT_EQ(ZIP_ERR_OPEN, archive.Open(L"C:\\nowhere\\pkg.exe"));
  ArchiveSpec spec = ThreeEntries();
  platform.AddFile(kPath, Build(spec));
  platform.faults.failGetSize = true;
  EXPECT_EQ(ZIP_ERR_SEEK, archive.Open(kPath));
  platform.faults.failGetSize = false;
  platform.faults.failSeek = true;
  EXPECT_NE(ZIP_OK, archive.Open(kPath));
  platform.faults.failSeek = false;
  platform.faults.failReadsFrom = 5100;  // the end record is readable, the entries are not
  EXPECT_NE(ZIP_OK, archive.Open(kPath));
  EXPECT_EQ(0, archive.GetEntryCount());
  platform.faults.failReadsFrom = -1;
  EXPECT_EQ(ZIP_OK, archive.Open(kPath));
  EXPECT_EQ(1, platform.openFiles());
}

TEST_F(ZipFileTest, FilesOfTwoGibibytesAreRefused) {
  platform.AddFile(kPath, Build(ThreeEntries()));
  platform.faults.reportedSize = static_cast<int64_t>(kMaxArchiveFileSize);
  EXPECT_EQ(ZIP_ERR_FORMAT, archive.Open(kPath));
  platform.faults.reportedSize = static_cast<int64_t>(kMaxArchiveFileSize) - 1;
  EXPECT_NE(ZIP_ERR_FORMAT, archive.Open(kPath)) << "just below the limit is searched normally";
}

TEST_F(ZipFileTest, FindEntryIgnoresCaseAndTakesTheFirstOfTwins) {
  ArchiveSpec spec = ThreeEntries();
  EntrySpec twin;
  twin.name = "CP_DATA.XML";
  twin.data = "second";
  spec.entries.push_back(twin);
  ASSERT_EQ(ZIP_OK, OpenBytes(Build(spec)));
  const ZIP_FileEntry* found = archive.FindEntry(L"CP_DATA.xml");
  ASSERT_NE(nullptr, found);
  EXPECT_EQ("cp_data.xml", found->name);
  EXPECT_EQ(nullptr, archive.FindEntry(L"cp_data"));
  EXPECT_EQ(nullptr, archive.FindEntry(L""));
}

TEST_F(ZipFileTest, FindEntryConvertsThroughTheAnsiCodePage) {
  ArchiveSpec spec;
  EntrySpec e;
  e.name = "r\xE9sum\xE9 \x80.txt";  // "résumé €.txt" in Windows-1252
  spec.entries = {e};
  ASSERT_EQ(ZIP_OK, OpenBytes(Build(spec)));
  EXPECT_NE(nullptr, archive.FindEntry(L"R\u00E9sum\u00E9 \u20AC.TXT"));
  EXPECT_EQ(nullptr, archive.FindEntry(L"r\u00E9sum\u00E9 \u0100.txt")) << "unmappable becomes '?'";
}

TEST_F(ZipFileTest, EnumerationVisitsEveryEntryOnceThenStays) {
  ASSERT_EQ(ZIP_OK, OpenBytes(Build(ThreeEntries())));
  ZIP_EnumCursor* cursor = archive.BeginEnum();
  ASSERT_NE(nullptr, cursor);
  std::vector<std::string> names;
  while (ZIP_FileEntry* entry = archive.NextEntry(cursor)) names.push_back(entry->name);
  EXPECT_EQ((std::vector<std::string>{"pkg.xml", "payload/", "cp_data.xml"}), names);
  EXPECT_EQ(nullptr, archive.NextEntry(cursor));
  ZIP_File::EndEnum(cursor);
  EXPECT_EQ(nullptr, archive.NextEntry(nullptr));
  ZIP_File::EndEnum(nullptr);
}

TEST_F(ZipFileTest, ReopenAndCloseRelease) {
  ASSERT_EQ(ZIP_OK, OpenBytes(Build(ThreeEntries())));
  EXPECT_EQ(1, platform.openFiles());
  ASSERT_EQ(ZIP_OK, archive.Open(kPath));
  EXPECT_EQ(1, platform.openFiles()) << "reopening closes the earlier handle";
  EXPECT_EQ(3, archive.GetEntryCount());
  archive.Close();
  EXPECT_EQ(0, platform.openFiles());
  EXPECT_EQ(0, archive.GetEntryCount());
  EXPECT_EQ(0u, archive.centralDirectoryOffset());
  // Two archives may be open on the same file at once.
  ZIP_File second(platform.Files(), platform.System());
  ASSERT_EQ(ZIP_OK, archive.Open(kPath));
  ASSERT_EQ(ZIP_OK, second.Open(kPath));
  EXPECT_EQ(2, platform.openFiles());
}

TEST(ZipEntry, FolderRules) {
  struct Case {
    const char* name;
    uint32_t compressed, uncompressed;
    bool folder;
  } cases[] = {
      {"dir/", 0, 0, true},      {"dir/", 5, 7, true},    {"dir\\", 0, 0, true},
      {"dir\\", 0, 3, false},    {"dir\\", 2, 0, false},  {"file.txt", 0, 0, false},
      {"dir/file", 0, 0, false},
  };
  for (const Case& c : cases) {
    ZIP_FileEntry entry;
    entry.name = c.name;
    entry.compressedSize = c.compressed;
    entry.uncompressedSize = c.uncompressed;
    EXPECT_EQ(c.folder, entry.IsDirectory()) << c.name << " " << c.compressed << "/" << c.uncompressed;
  }
}

}  // namespace
