// The package description over packages built here in memory: the component definition, the
// package data document "cp_data.xml", the license size protocol, the configuration file (plain
// and DES-encrypted) and the search for the definition entry.
#include "package/cppkg.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/zip_file.h"
#include "platform/testenv/test_platform.h"
#include "zip_builder.h"

// AddressSanitizer reports every allocation to hooks installed with this call; weak, so that a
// build without the sanitizer links and simply cannot watch allocations.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*mallocHook)(const volatile void*, size_t),
                                                         void (*freeHook)(const volatile void*))
    __attribute__((weak));

namespace {

using ziptest::EntrySpec;

const std::wstring kNull = L"<null>";

std::wstring Text(const wchar_t* text) { return text ? std::wstring(text) : kNull; }

std::string Bytes(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

uint32_t Crc(const std::string& content) {
  return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size())));
}

EntrySpec Entry(const std::string& name, const std::string& content) {
  EntrySpec e;
  e.name = name;
  e.data = content;
  e.crc = Crc(content);
  return e;
}

// A raw-deflate entry, as archivers write them.
EntrySpec Deflated(const std::string& name, const std::string& content) {
  z_stream z{};
  EXPECT_EQ(Z_OK, deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY));
  std::string out(deflateBound(&z, static_cast<uLong>(content.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
  z.avail_in = static_cast<uInt>(content.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(Z_STREAM_END, deflate(&z, Z_FINISH));
  out.resize(z.total_out);
  deflateEnd(&z);
  EntrySpec e;
  e.name = name;
  e.data = out;
  e.method = 8;
  e.crc = Crc(content);
  e.centralUncompressedSize = static_cast<uint32_t>(content.size());
  return e;
}

// The same entry, claiming an uncompressed size its stored data cannot produce.
EntrySpec ClaimingSize(EntrySpec e, uint32_t size) {
  e.centralUncompressedSize = size;
  return e;
}

std::string Definition(const std::string& body, const std::string& attributes = " version=\"2.0.2.0\"") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<vorq_package" + attributes + ">\r\n" + body +
         "\r\n</vorq_package>\r\n";
}

std::string PackageData(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<cp_pkg_data>\r\n" + body + "\r\n</cp_pkg_data>\r\n";
}

const char kFullDefinitionBody[] =
    "  <filename>cp049316.exe</filename>\r\n"
    "  <name><name_xlate lang=\"en\">System Firmware</name_xlate></name>\r\n"
    "  <version value=\"2.14 (A)\"/>\r\n"
    "  <description><description_xlate lang=\"en\">Flashes the firmware.</description_xlate></description>\r\n"
    "  <installation><install>\r\n"
    "    <command>setup.exe</command>\r\n"
    "    <command_params>-s -f</command_params>\r\n"
    "  </install></installation>\r\n"
    "  <sw_keys><sw_keys_and><sw_key name=\"SYSFW\">\r\n"
    "    <sw_key_expectedpath>firmware:system</sw_key_expectedpath>\r\n"
    "  </sw_key></sw_keys_and></sw_keys>";

// Package data that answers every query; the archive built around it holds the entries it names.
const char kFullPackageDataBody[] =
    "  <settings><value name=\"LARGE_WINDOW\" value=\"1\"/></settings>\r\n"
    "  <license><filename lang=\"en\">license.txt</filename></license>\r\n"
    "  <configuration>\r\n"
    "    <configui><filename lang=\"en\">ui.exe</filename></configui>\r\n"
    "    <config_file><filename>setup.ini</filename></config_file>\r\n"
    "  </configuration>\r\n"
    "  <virtualization allow=\"1\"/>\r\n"
    "  <installation><install>\r\n"
    "    <commandline_arg_map><map source=\"/s\" dest=\"/x\"/></commandline_arg_map>\r\n"
    "    <returncode_map><map source=\"3010\" dest=\"0\"/></returncode_map>\r\n"
    "  </install></installation>";

const char kLicense[] = "License terms.\r\n";
const char kSetupIni[] = "[setup]\r\nmode=quiet\r\n";

// Internal entities that expand to 30 million characters from a few hundred bytes of document.
const char kEntityBombDoctype[] =
    "<!DOCTYPE %s [\r\n"
    "  <!ENTITY a0 \"lollollollollollollollollollol\">\r\n"
    "  <!ENTITY a1 \"&a0;&a0;&a0;&a0;&a0;&a0;&a0;&a0;&a0;&a0;\">\r\n"
    "  <!ENTITY a2 \"&a1;&a1;&a1;&a1;&a1;&a1;&a1;&a1;&a1;&a1;\">\r\n"
    "  <!ENTITY a3 \"&a2;&a2;&a2;&a2;&a2;&a2;&a2;&a2;&a2;&a2;\">\r\n"
    "  <!ENTITY a4 \"&a3;&a3;&a3;&a3;&a3;&a3;&a3;&a3;&a3;&a3;\">\r\n"
    "  <!ENTITY a5 \"&a4;&a4;&a4;&a4;&a4;&a4;&a4;&a4;&a4;&a4;\">\r\n"
    "  <!ENTITY a6 \"&a5;&a5;&a5;&a5;&a5;&a5;&a5;&a5;&a5;&a5;\">\r\n"
    "]>\r\n";

std::string EntityBomb(const std::string& root, const std::string& body) {
  char doctype[1024];
  std::snprintf(doctype, sizeof doctype, kEntityBombDoctype, root.c_str());
  return std::string("<?xml version=\"1.0\"?>\r\n") + doctype + "<" + root + ">" + body + "</" + root + ">";
}

// The largest single allocation made while a piece of code runs, where the sanitizer lets us
// watch; -1 where it does not.
size_t g_largestAllocation = 0;
bool g_watching = false;
void OnAllocation(const volatile void*, size_t size) {
  if (g_watching && size > g_largestAllocation) g_largestAllocation = size;
}
void OnFree(const volatile void*) {}

template <typename F>
long long LargestAllocationDuring(F&& run) {
  static const bool hooked =
      __sanitizer_install_malloc_and_free_hooks != nullptr && __sanitizer_install_malloc_and_free_hooks(OnAllocation, OnFree) != 0;
  g_largestAllocation = 0;
  g_watching = true;
  run();
  g_watching = false;
  return hooked ? static_cast<long long>(g_largestAllocation) : -1;
}

class PkgTest : public ::testing::Test {
 protected:
  // Writes an archive holding `entries` behind a stub image at `path`.
  void Give(const std::vector<EntrySpec>& entries, const std::wstring& path = kPath) {
    ziptest::ArchiveSpec archive;
    archive.prefix = ziptest::FakeImage(2048);
    archive.entries = entries;
    platform.AddFile(path, ziptest::Build(archive));
  }
  bool Load(const std::vector<EntrySpec>& entries, const wchar_t* language = L"en", const wchar_t* entryName = L"pkg.xml") {
    Give(entries);
    return pkg.Load(kPath.c_str(), entryName, language);
  }
  // A package whose definition is the full one and whose package data document is `data`.
  bool LoadWithData(const std::string& data, std::vector<EntrySpec> more = {}, const wchar_t* language = L"en") {
    std::vector<EntrySpec> entries = {Entry("pkg.xml", Definition(kFullDefinitionBody)), Entry("cp_data.xml", data)};
    entries.insert(entries.end(), more.begin(), more.end());
    return Load(entries, language);
  }
  // The license through the size protocol; "<none>" when the first call says there is none.
  std::string License() {
    uint32_t length = 0;
    if (!pkg.GetLicense(nullptr, &length)) return "<none>";
    std::vector<uint8_t> buffer(length, 0xAA);
    if (!pkg.GetLicense(buffer.data(), &length)) return "<failed>";
    const std::string bytes = Bytes(buffer);
    return bytes.substr(0, bytes.find('\0'));
  }
  // Every package data query answers as if the package had no "cp_data.xml".
  void ExpectNoPackageData() {
    for (const wchar_t* name : {L"LARGE_WINDOW", L"DISABLE_INSTALL_BUTTON", L"DISABLE_VIEW_CONTENTS", L"DISABLE_EXTRACT_BUTTON"})
      EXPECT_EQ(kNull, Text(pkg.GetSetting(name))) << name;
    EXPECT_EQ(L"/s", pkg.MapCommandLineArg(L"/s"));
    EXPECT_EQ(3010, pkg.MapReturnCode(3010));
    uint32_t length = 0;
    EXPECT_FALSE(pkg.GetLicense(nullptr, &length));
    EXPECT_EQ(0u, length);
    EXPECT_FALSE(pkg.HasConfigUI());
    EXPECT_FALSE(pkg.IsVirtualizationAllowed());
    EXPECT_EQ(L"", pkg.GetConfigFileName());
    EXPECT_FALSE(pkg.GetConfigData().isByteArray);
    EXPECT_TRUE(pkg.GetConfigData().bytes.empty());
  }
  std::vector<EntrySpec> FullDataEntries() const { return {Entry("license.txt", kLicense), Entry("setup.ini", kSetupIni)}; }

  static const std::wstring kPath;
  testenv::TestPlatform platform;
  CPPkg pkg{platform};
};

const std::wstring PkgTest::kPath = L"C:\\Users\\admin\\Downloads\\pkg.exe";

// ---------------------------------------------------------------------------------------------
// The component definition

TEST_F(PkgTest, DefinitionQueriesReadTheirElements) {
  ASSERT_TRUE(Load({Entry("pkg.xml", Definition(kFullDefinitionBody))}));
  EXPECT_TRUE(pkg.IsLoaded());
  EXPECT_EQ(L"cp049316.exe", Text(pkg.GetFilename()));
  EXPECT_EQ(L"System Firmware", Text(pkg.GetName()));
  EXPECT_EQ(L"2.14 (A)", Text(pkg.GetVersion()));
  EXPECT_EQ(L"Flashes the firmware.", Text(pkg.GetDescription()));
  EXPECT_EQ(L"setup.exe", Text(pkg.GetInstallCommand()));
  EXPECT_EQ(L"-s -f", Text(pkg.GetInstallCommandParams()));
  EXPECT_EQ(L"SYSFW", Text(pkg.GetSwKeyName()));
  EXPECT_EQ(L"firmware:system", Text(pkg.GetSwKeyExpectedPath()));
  ExpectNoPackageData();
}

TEST_F(PkgTest, CommandParamsWithoutTextAreNull) {
  const struct {
    const char* params;
    std::wstring expected;
  } cases[] = {
      {"<command_params></command_params>", kNull},
      {"<command_params/>", kNull},
      {"<command_params> -s</command_params>", kNull},  // text that begins with a blank is none
      {"", kNull},
      {"<command_params>/quiet</command_params>", L"/quiet"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.params);
    ASSERT_TRUE(Load({Entry("pkg.xml", Definition(std::string("<installation><install><command>setup.exe</command>") +
                                                  c.params + "</install></installation>"))}));
    EXPECT_EQ(L"setup.exe", Text(pkg.GetInstallCommand()));
    EXPECT_EQ(c.expected, Text(pkg.GetInstallCommandParams()));
  }
}

TEST_F(PkgTest, DefinitionNamedAfterTheStubNeedsNeitherRootNameNorVersion) {
  // Parses, so it loads; but nothing in it is a component definition.
  ASSERT_TRUE(Load({Entry("pkg.xml", "<cp_pkg_data>" + std::string(kFullDefinitionBody) + "</cp_pkg_data>")}));
  EXPECT_TRUE(pkg.IsLoaded());
  for (const wchar_t* value : {pkg.GetFilename(), pkg.GetName(), pkg.GetVersion(), pkg.GetDescription(),
                               pkg.GetInstallCommand(), pkg.GetInstallCommandParams(), pkg.GetSwKeyName(),
                               pkg.GetSwKeyExpectedPath()})
    EXPECT_EQ(kNull, Text(value));

  // A definition root without a version attribute, or with one the search would refuse.
  for (const char* attributes : {"", " version=\"2.0.3.0\""}) {
    ASSERT_TRUE(Load({Entry("pkg.xml", Definition(kFullDefinitionBody, attributes))})) << attributes;
    EXPECT_EQ(L"setup.exe", Text(pkg.GetInstallCommand()));
  }
}

TEST_F(PkgTest, LoadFailsWithoutAUsableDefinition) {
  const std::string good = Definition(kFullDefinitionBody);
  const struct {
    const char* what;
    std::vector<EntrySpec> entries;
    const wchar_t* entryName;
  } cases[] = {
      {"definition cut short", {Entry("pkg.xml", good.substr(0, good.size() / 2))}, L"pkg.xml"},
      {"definition not XML", {Entry("pkg.xml", "MZ\x90\x00 not a document")}, L"pkg.xml"},
      {"definition empty", {Entry("pkg.xml", "")}, L"pkg.xml"},
      {"no such entry", {Entry("other.xml", good)}, L"pkg.xml"},
      {"definition fails its check", {[&] {
         EntrySpec e = Entry("pkg.xml", good);
         e.crc ^= 1;
         return e;
       }()},
       L"pkg.xml"},
      {"entities expanding out of all proportion", {Entry("pkg.xml", EntityBomb("vorq_package", "<filename>&a6;</filename>"))}, L"pkg.xml"},
      {"null entry name", {Entry("pkg.xml", good)}, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Give(c.entries);
    EXPECT_FALSE(pkg.Load(kPath.c_str(), c.entryName, L"en"));
    EXPECT_FALSE(pkg.IsLoaded());
  }
  Give({Entry("pkg.xml", good)});
  EXPECT_FALSE(pkg.Load(nullptr, L"pkg.xml", L"en"));
  EXPECT_FALSE(pkg.Load(L"C:\\nowhere\\pkg.exe", L"pkg.xml", L"en"));
  EXPECT_FALSE(pkg.IsLoaded());
  // The entry is found without regard to case.
  EXPECT_TRUE(pkg.Load(kPath.c_str(), L"PKG.XML", L"en"));
}

TEST_F(PkgTest, ImpossibleDeclaredSizesFailInsteadOfAllocating) {
  const std::string definition = Definition(kFullDefinitionBody);
  const uint32_t kClaimed = 64u << 20;  // far beyond what the stored bytes can produce
  const struct {
    const char* what;
    EntrySpec entry;
  } cases[] = {
      {"stored, claiming more than stored", ClaimingSize(Entry("pkg.xml", definition), kClaimed)},
      {"stored, claiming one byte more", ClaimingSize(Entry("pkg.xml", definition), static_cast<uint32_t>(definition.size() + 1))},
      {"deflated, beyond the densest ratio", ClaimingSize(Deflated("pkg.xml", definition), kClaimed)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Give({c.entry});
    bool loaded = true;
    const long long largest = LargestAllocationDuring([&] { loaded = pkg.Load(kPath.c_str(), L"pkg.xml", L"en"); });
    EXPECT_FALSE(loaded);
    if (largest >= 0) {
      EXPECT_LT(largest, 1 << 20) << "the claimed size was allocated";
    }
  }
  // A real deflated definition, many times smaller than its text, loads.
  const std::string padded = Definition(std::string(kFullDefinitionBody) + "<!--" + std::string(100000, 'x') + "-->");
  Give({Deflated("pkg.xml", padded)});
  EXPECT_TRUE(pkg.Load(kPath.c_str(), L"pkg.xml", L"en"));
  EXPECT_EQ(L"setup.exe", Text(pkg.GetInstallCommand()));
}

// ---------------------------------------------------------------------------------------------
// Localized texts

TEST_F(PkgTest, LocalizedNamePicksTheLanguageThenEnglish) {
  const std::string en = "<name_xlate lang=\"en\">Firmware</name_xlate>";
  const std::string ja = "<name_xlate lang=\"ja\">\xE3\x83\x95\xE3\x82\xA1\xE3\x83\xBC\xE3\x83\xA0</name_xlate>";
  const std::string jaUpper = "<name_xlate lang=\"JA\">\xE3\x83\x95\xE3\x82\xA1\xE3\x83\xBC\xE3\x83\xA0</name_xlate>";
  const std::string enUpper = "<name_xlate lang=\"EN\">Firmware</name_xlate>";
  const std::wstring kJapanese = L"\u30D5\u30A1\u30FC\u30E0";
  const struct {
    std::string names;
    const wchar_t* language;
    std::wstring expected;
  } cases[] = {
      {en + ja, L"ja", kJapanese},
      {ja + en, L"ja", kJapanese},
      {en + ja, L"fr", L"Firmware"},
      {ja + en, L"fr", L"Firmware"},
      {ja, L"fr", kNull},
      {ja, L"en", kNull},
      {en + jaUpper, L"ja", kJapanese},
      {enUpper, L"fr", L"Firmware"},
      {en + ja, nullptr, L"Firmware"},  // no code given: English
      {en + ja, L"jaX", kJapanese},     // the code has room for two letters
      {"", L"en", kNull},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.names);
    SCOPED_TRACE(c.language ? c.language : L"(no language)");
    pkg.Reset();
    ASSERT_TRUE(Load({Entry("pkg.xml", Definition("<name>" + c.names + "</name>"))}, c.language));
    EXPECT_EQ(c.expected, Text(pkg.GetName()));
  }
}

TEST_F(PkgTest, DescriptionTakesTheCdataSectionElseTheText) {
  const struct {
    std::string content;
    std::wstring expected;
  } cases[] = {
      {"\r\n<![CDATA[  Updates the <b>firmware</b>.\r\nRestart afterwards. ]]>\r\n",
       L"  Updates the <b>firmware</b>.\nRestart afterwards. "},
      {"Plain text", L"Plain text"},
      {"", kNull},
      {"\r\n    Indented text\r\n", kNull},
      {"Lead<![CDATA[section]]>", L"section"},  // the section wins over text in front of it
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content);
    ASSERT_TRUE(Load({Entry("pkg.xml", Definition("<description><description_xlate lang=\"en\">" + c.content +
                                                  "</description_xlate></description>"))}));
    EXPECT_EQ(c.expected, Text(pkg.GetDescription()));
  }
  // Localized like the name.
  ASSERT_TRUE(Load({Entry("pkg.xml", Definition("<description><description_xlate lang=\"en\">English</description_xlate>"
                                                "<description_xlate lang=\"fr\">Fran\xC3\xA7" "ais</description_xlate></description>"))},
                   L"fr"));
  EXPECT_EQ(L"Fran\u00E7ais", Text(pkg.GetDescription()));
}

// ---------------------------------------------------------------------------------------------
// The package data document

TEST_F(PkgTest, FullPackageDataAnswersEveryQuery) {
  ASSERT_TRUE(LoadWithData(PackageData(kFullPackageDataBody), FullDataEntries()));
  EXPECT_EQ(L"1", Text(pkg.GetSetting(L"LARGE_WINDOW")));
  EXPECT_EQ(L"/x", pkg.MapCommandLineArg(L"/s"));
  EXPECT_EQ(0, pkg.MapReturnCode(3010));
  EXPECT_EQ(kLicense, License());
  EXPECT_TRUE(pkg.HasConfigUI());
  EXPECT_TRUE(pkg.IsVirtualizationAllowed());
  EXPECT_EQ(L"setup.ini", pkg.GetConfigFileName());
  EXPECT_TRUE(pkg.GetConfigData().isByteArray);
  EXPECT_EQ(0, pkg.GetConfigData().lowerBound);
  EXPECT_EQ(kSetupIni, Bytes(pkg.GetConfigData().bytes));
}

TEST_F(PkgTest, UnusablePackageDataIsIgnoredAndThePackageLoads) {
  const std::string full = PackageData(kFullPackageDataBody);
  const struct {
    const char* what;
    std::vector<EntrySpec> data;
  } cases[] = {
      {"no cp_data.xml", {}},
      {"cut short", {Entry("cp_data.xml", full.substr(0, full.rfind("</cp_pkg_data>")))}},
      {"not well-formed", {Entry("cp_data.xml", "<cp_pkg_data><settings></cp_pkg_data>")}},
      {"another root element",
       {Entry("cp_data.xml", "<package_data>" + std::string(kFullPackageDataBody) + "</package_data>")}},
      {"fails its check", {[&] {
         EntrySpec e = Entry("cp_data.xml", full);
         e.crc ^= 0x100;
         return e;
       }()}},
      {"claims an impossible size", {ClaimingSize(Entry("cp_data.xml", full), 64u << 20)}},
      {"entities expanding out of all proportion",
       {Entry("cp_data.xml", EntityBomb("cp_pkg_data", std::string(kFullPackageDataBody) + "<notes>&a6;</notes>"))}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<EntrySpec> entries = {Entry("pkg.xml", Definition(kFullDefinitionBody))};
    entries.insert(entries.end(), c.data.begin(), c.data.end());
    for (const EntrySpec& e : FullDataEntries()) entries.push_back(e);
    pkg.Reset();
    ASSERT_TRUE(Load(entries));
    EXPECT_TRUE(pkg.IsLoaded());
    EXPECT_EQ(L"setup.exe", Text(pkg.GetInstallCommand()));
    ExpectNoPackageData();
  }
}

TEST_F(PkgTest, SettingsAnswerTheirValueAsWritten) {
  ASSERT_TRUE(LoadWithData(PackageData(
      "<settings>"
      "<value name=\"large_window\" value=\"1\"/>"
      "<value name=\"DISABLE_INSTALL_BUTTON\" value=\"true\"/>"
      "<value name=\"DISABLE_VIEW_CONTENTS\" value=\"01\"/>"
      "<value name=\"DISABLE_EXTRACT_BUTTON\" value=\" 1\"/>"
      "<value name=\"EMPTY\" value=\"\"/>"
      "<value name=\"NO_VALUE\"/>"
      "</settings>")));
  const struct {
    const wchar_t* name;
    std::wstring expected;
  } cases[] = {
      {L"LARGE_WINDOW", L"1"},  // names compare without regard to case
      {L"Large_Window", L"1"},
      {L"DISABLE_INSTALL_BUTTON", L"true"},
      {L"DISABLE_VIEW_CONTENTS", L"01"},
      {L"DISABLE_EXTRACT_BUTTON", L" 1"},
      {L"EMPTY", L""},
      {L"NO_VALUE", kNull},
      {L"UNKNOWN", kNull},
      {L"LARGE_WINDOWS", kNull},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, Text(pkg.GetSetting(c.name))) << c.name;
  EXPECT_EQ(kNull, Text(pkg.GetSetting(nullptr)));
}

TEST_F(PkgTest, VirtualizationIsAllowedOnlyByExactlyOne) {
  const struct {
    const char* element;
    bool allowed;
  } cases[] = {
      {"<virtualization allow=\"1\"/>", true},   {"<virtualization allow=\"true\"/>", false},
      {"<virtualization allow=\"01\"/>", false}, {"<virtualization allow=\" 1\"/>", false},
      {"<virtualization/>", false},              {"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.element);
    pkg.Reset();
    ASSERT_TRUE(LoadWithData(PackageData(c.element)));
    EXPECT_EQ(c.allowed, pkg.IsVirtualizationAllowed());
  }
}

TEST_F(PkgTest, CommandLineArgumentsMapBySourceWithoutRegardToCase) {
  ASSERT_TRUE(LoadWithData(PackageData(
      "<installation><install><commandline_arg_map>"
      "<map source=\"/s\" dest=\"/x\"/>"
      "<map source=\"/q\"/>"
      "<map source=\"/reboot\" dest=\" \"/>"
      "<map source=\"/Force\" dest=\"-F -y\"/>"
      "</commandline_arg_map></install></installation>")));
  const struct {
    const wchar_t* argument;
    std::wstring expected;
  } cases[] = {
      {L"/s", L"/x"},         {L"/S", L"/x"},           {L"/q", L"/q"},      {L"/Q", L"/Q"},  // no dest: the argument
      {L"/reboot", L" "},     {L"/FORCE", L"-F -y"},   {L"/f", L"/f"},      {L"", L""},
      {L"/s ", L"/s "},       {L"s", L"s"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, pkg.MapCommandLineArg(c.argument)) << c.argument;
}

TEST_F(PkgTest, ReturnCodesMapThroughDecimalText) {
  const struct {
    const char* source;
    const char* dest;  // null: a map without dest
    int32_t code;
    int32_t expected;
  } cases[] = {
      {"3010", "0", 3010, 0},
      {"3010", "0", 5, 5},
      {"3010", "abc", 3010, 0},
      {"3010", "  7", 3010, 7},
      {"3010", "12abc", 3010, 12},
      {"3010", "+4", 3010, 4},
      {"3010", "-", 3010, 0},
      {"3010", nullptr, 3010, 3010},
      {"-1", "2", -1, 2},
      {"-1", "2", 1, 1},
      {"1", "2147483647", 1, INT_MAX},
      {"1", "2147483648", 1, INT_MAX},
      {"1", "99999999999999999999", 1, INT_MAX},
      {"1", "-2147483648", 1, INT_MIN},
      {"1", "-2147483649", 1, INT_MIN},
      {"1", "-99999999999999999999", 1, INT_MIN},
      {"-2147483648", "3", INT_MIN, 3},
      {"2147483647", "-3", INT_MAX, -3},
      {"+5", "1", 5, 5},  // the code's text is "5"
      {"05", "1", 5, 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("source ") + c.source + ", dest " + (c.dest ? c.dest : "(none)") + ", code " +
                 std::to_string(c.code));
    const std::string map = std::string("<map source=\"") + c.source + "\"" + (c.dest ? std::string(" dest=\"") + c.dest + "\"" : "") + "/>";
    pkg.Reset();
    ASSERT_TRUE(LoadWithData(PackageData("<installation><install><returncode_map>" + map +
                                         "</returncode_map></install></installation>")));
    EXPECT_EQ(c.expected, pkg.MapReturnCode(c.code));
  }
}

// ---------------------------------------------------------------------------------------------
// The license

TEST_F(PkgTest, LicenseSizeProtocol) {
  std::string license;
  for (int i = 0; i < 100; ++i) license += static_cast<char>('A' + i % 26);
  ASSERT_TRUE(LoadWithData(PackageData("<license><filename lang=\"en\">eula.txt</filename></license>"),
                           {Entry("eula.txt", license)}));

  uint32_t length = 0;
  EXPECT_TRUE(pkg.GetLicense(nullptr, &length));
  EXPECT_EQ(105u, length);

  std::vector<uint8_t> buffer(120, 0xAA);
  length = 104;  // one byte short: the size again, the buffer untouched
  EXPECT_TRUE(pkg.GetLicense(buffer.data(), &length));
  EXPECT_EQ(105u, length);
  EXPECT_EQ(std::vector<uint8_t>(120, 0xAA), buffer);

  EXPECT_TRUE(pkg.GetLicense(buffer.data(), &length));
  EXPECT_EQ(license, Bytes(buffer).substr(0, 100));
  EXPECT_EQ(std::string(5, '\0'), Bytes(buffer).substr(100, 5));
  EXPECT_EQ(std::string(15, '\xAA'), Bytes(buffer).substr(105)) << "nothing written past the required size";

  length = 105;
  EXPECT_FALSE(pkg.GetLicense(nullptr, &length));
  EXPECT_FALSE(pkg.GetLicense(buffer.data(), nullptr));

  // A larger buffer works as well; a stale tail from an earlier use is cleared up to the size.
  std::vector<uint8_t> large(300, 0xAA);
  length = 300;
  EXPECT_TRUE(pkg.GetLicense(large.data(), &length));
  EXPECT_EQ(license + std::string(5, '\0'), Bytes(large).substr(0, 105));
}

TEST_F(PkgTest, LicensePerLanguage) {
  const std::string en = "<filename lang=\"en\">lic_en.txt</filename>";
  const std::string ja = "<filename lang=\"ja\">lic_ja.txt</filename>";
  const struct {
    std::string filenames;
    const wchar_t* language;
    std::string expected;
  } cases[] = {
      {en + ja, L"ja", "Japanese terms"},
      {en + ja, L"fr", "English terms"},
      {ja, L"fr", "<none>"},
      {"<filename lang=\"JA\">lic_ja.txt</filename>" + en, L"ja", "Japanese terms"},
      {"<filename lang=\"en\">missing.txt</filename>", L"en", "<none>"},
      {"<filename lang=\"en\"> lic_en.txt</filename>", L"en", "<none>"},  // no text
      {"<filename lang=\"en\">LIC_EN.TXT</filename>", L"en", "English terms"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.filenames);
    pkg.Reset();
    ASSERT_TRUE(LoadWithData(PackageData("<license>" + c.filenames + "</license>"),
                             {Entry("lic_en.txt", "English terms"), Entry("lic_ja.txt", "Japanese terms")}, c.language));
    EXPECT_EQ(c.expected, License());
  }
}

TEST_F(PkgTest, LicenseEntriesAreReadAsStoredOrDeflated) {
  const std::string data = PackageData("<license><filename lang=\"en\">eula.txt</filename></license>");
  std::string longText;
  for (int i = 0; i < 2000; ++i) longText += "Clause " + std::to_string(i) + ": the usual.\r\n";
  ASSERT_TRUE(LoadWithData(data, {Deflated("eula.txt", longText)}));
  EXPECT_EQ(longText, License());

  // A license that claims a size its data cannot produce is no license.
  for (const EntrySpec& e : {ClaimingSize(Entry("eula.txt", "short"), 0x7FFFFFF0u), ClaimingSize(Entry("eula.txt", "short"), 6),
                             ClaimingSize(Deflated("eula.txt", longText), 0xFFFFFFF0u)}) {
    SCOPED_TRACE(e.centralUncompressedSize);
    ASSERT_TRUE(LoadWithData(data, {e}));
    uint32_t length = 0;
    EXPECT_FALSE(pkg.GetLicense(nullptr, &length));
  }
  // A license whose data is altered fails the second call.
  EntrySpec altered = Entry("eula.txt", "good terms");
  altered.data = "evil terms";
  ASSERT_TRUE(LoadWithData(data, {altered}));
  EXPECT_EQ("<failed>", License());
}

// ---------------------------------------------------------------------------------------------
// The configuration file

TEST_F(PkgTest, PlainConfigurationFileIsHeldUnchanged) {
  static const char kRaw[] = "key=\x01\x00\xFF\x80 value\r\n\x00";
  const std::string content(kRaw, sizeof kRaw - 1);
  const struct {
    const char* encrypt;  // the attribute as written; null: none
  } cases[] = {{nullptr}, {"0"}, {"true"}, {"01"}, {" 1"}, {""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.encrypt ? c.encrypt : "(no encrypt)");
    const std::string attribute = c.encrypt ? std::string(" encrypt=\"") + c.encrypt + "\"" : "";
    pkg.Reset();
    ASSERT_TRUE(LoadWithData(PackageData("<configuration><config_file><filename" + attribute +
                                         ">Setup.ini</filename></config_file></configuration>"),
                             {Entry("SETUP.INI", content)}));
    EXPECT_EQ(L"Setup.ini", pkg.GetConfigFileName());
    EXPECT_FALSE(pkg.HasConfigUI());
    const ConfigData& data = pkg.GetConfigData();
    EXPECT_TRUE(data.isByteArray);
    EXPECT_EQ(0, data.lowerBound);
    EXPECT_EQ(content, Bytes(data.bytes));
  }
}

TEST_F(PkgTest, ConfigurationEntriesThatNameNoData) {
  const std::string name260(260, 'n');
  const std::string name261(261, 'n');
  const struct {
    const char* what;
    std::string configuration;
    std::vector<EntrySpec> entries;
    std::wstring fileName;
    bool hasConfigUI;
    std::string data;  // "<none>": not a byte array
  } cases[] = {
      {"config_file naming a missing entry", "<config_file><filename>setup.ini</filename></config_file>", {}, L"setup.ini", false, "<none>"},
      {"only a configui file", "<configui><filename lang=\"en\">ui.exe</filename></configui>", {Entry("ui.exe", "MZ")}, L"", true, "<none>"},
      {"configui for another language only", "<configui><filename lang=\"de\">ui.exe</filename></configui>", {}, L"", false, "<none>"},
      {"config_file without filename", "<config_file><name>setup.ini</name></config_file>", {Entry("setup.ini", "x")}, L"", false, "<none>"},
      {"filename without text", "<config_file><filename encrypt=\"1\"></filename></config_file>", {Entry("setup.ini", "x")}, L"", false, "<none>"},
      {"empty configuration file", "<config_file><filename>empty.ini</filename></config_file>", {Entry("empty.ini", "")}, L"empty.ini", false, ""},
      {"a name of 260 characters", "<config_file><filename>" + name260 + "</filename></config_file>", {Entry(name260, "long")},
       std::wstring(260, L'n'), false, "long"},
      // Too long to hold: it must not be cut into the name of the 260-character entry.
      {"a name of 261 characters", "<config_file><filename>" + name261 + "</filename></config_file>",
       {Entry(name260, "cut"), Entry(name261, "whole")}, L"", false, "<none>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    pkg.Reset();
    ASSERT_TRUE(LoadWithData(PackageData("<configuration>" + c.configuration + "</configuration>"), c.entries));
    EXPECT_EQ(c.fileName, pkg.GetConfigFileName());
    EXPECT_EQ(c.hasConfigUI, pkg.HasConfigUI());
    const ConfigData& data = pkg.GetConfigData();
    EXPECT_EQ(c.data, data.isByteArray ? Bytes(data.bytes) : std::string("<none>"));
  }
}

TEST_F(PkgTest, ConfigurationEntryThatDoesNotExtractFailsTheLoad) {
  const std::string data = PackageData("<configuration><config_file><filename>setup.ini</filename></config_file></configuration>");
  EntrySpec altered = Entry("setup.ini", "good");
  altered.data = "evil";
  const struct {
    const char* what;
    EntrySpec entry;
  } cases[] = {
      {"altered data", altered},
      {"stored, claiming more than stored", ClaimingSize(Entry("setup.ini", kSetupIni), 64u << 20)},
      {"deflated, beyond the densest ratio", ClaimingSize(Deflated("setup.ini", kSetupIni), 64u << 20)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    bool loaded = true;
    const long long largest = LargestAllocationDuring([&] { loaded = LoadWithData(data, {c.entry}); });
    EXPECT_FALSE(loaded);
    EXPECT_FALSE(pkg.IsLoaded());
    if (largest >= 0) {
      EXPECT_LT(largest, 1 << 20) << "the claimed size was allocated";
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The encrypted configuration file

struct ShellResult {
  int status = -1;
  std::string output;
};

ShellResult RunShell(const std::string& command) {
  ShellResult result;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[512];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  const int status = pclose(pipe);
  result.status = (status != -1 && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string Hex(const std::string& bytes, bool upper) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

// DES-ECB without padding of `plain` (whole blocks) under `key`, by the openssl command line.
bool OpensslEncipher(const std::string& key, const std::string& plain, std::string* cipher) {
  char folder[] = "/tmp/cppkg_test_XXXXXX";
  if (mkdtemp(folder) == nullptr) return false;
  const std::string in = std::string(folder) + "/plain.bin";
  const std::string out = std::string(folder) + "/cipher.bin";
  std::ofstream(in, std::ios::binary).write(plain.data(), static_cast<std::streamsize>(plain.size()));
  const ShellResult r = RunShell("openssl enc -des-ecb -provider legacy -provider default -K " + Hex(key, true) +
                                 " -nopad -in '" + in + "' -out '" + out + "'");
  std::ifstream file(out, std::ios::binary);
  *cipher = std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  std::remove(in.c_str());
  std::remove(out.c_str());
  rmdir(folder);
  EXPECT_EQ(0, r.status) << r.output;
  return r.status == 0;
}

TEST_F(PkgTest, EncryptedConfigurationIsDecodedWithTheFileNameKey) {
  if (RunShell("openssl version").status != 0) GTEST_SKIP() << "openssl is not available";
  if (RunShell("openssl list -providers -provider legacy").status != 0) GTEST_SKIP() << "openssl has no legacy provider";

  const struct {
    const char* fileNameXml;  // as written in the definition (UTF-8)
    std::string key;          // the file name in the ANSI code page, blank-filled, first 8 bytes
  } cases[] = {
      {"cp049316.exe", "cp049316"},
      {"SPP", "SPP     "},
      {"Pak\xC3\xA9t.exe", "Pak\xE9t.ex"},  // U+00E9 is one byte in Windows-1252
      {"Pak\xE2\x82\xACt.exe", "Pak\x80t.ex"},  // and so is U+20AC, as 0x80
      {"a&amp;b.exe", "a&b.exe "},
  };
  // Fill bytes of the last block stay in the decoded data.
  std::string config = "[setup]\r\npassword=s3cret\r\n";
  config.resize((config.size() / 8 + 1) * 8, '\0');
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fileNameXml);
    std::string cipher;
    ASSERT_TRUE(OpensslEncipher(c.key, config, &cipher));
    ASSERT_EQ(config.size(), cipher.size());
    for (bool upper : {true, false}) {
      pkg.Reset();
      ASSERT_TRUE(Load({Entry("pkg.xml", Definition(std::string("<filename>") + c.fileNameXml + "</filename>")),
                        Entry("cp_data.xml", PackageData("<configuration><config_file><filename encrypt=\"1\">"
                                                         "setup.enc</filename></config_file></configuration>")),
                        Entry("setup.enc", Hex(cipher, upper))}));
      EXPECT_EQ(L"setup.enc", pkg.GetConfigFileName());
      EXPECT_TRUE(pkg.GetConfigData().isByteArray);
      EXPECT_EQ(0, pkg.GetConfigData().lowerBound);
      EXPECT_EQ(Hex(config, true), Hex(Bytes(pkg.GetConfigData().bytes), true));
    }
  }
}

TEST_F(PkgTest, EncryptedConfigurationThatCannotBeDecodedFailsTheLoad) {
  const std::string data = PackageData(
      "<configuration><config_file><filename encrypt=\"1\">setup.enc</filename></config_file></configuration>");
  const std::string definition = Definition("<filename>cp049316.exe</filename>");
  const std::string block = "85E813540F0AB405";
  const struct {
    const char* what;
    std::string definition;
    std::string text;
    bool loads;
  } cases[] = {
      {"whole blocks", definition, block + block, true},
      {"no text at all", definition, "", true},
      {"15 digits", definition, block.substr(0, 15), false},
      {"17 digits", definition, block + "0", false},
      {"a line end behind the text", definition, block + "\r\n", false},
      {"a character that is no digit", definition, block.substr(0, 15) + "g", false},
      {"a blank between pairs", definition, "85E813540F0AB4 05" + block.substr(0, 15), false},
      {"no filename in the definition", Definition("<name/>"), block, false},
      {"a filename without text", Definition("<filename> cp049316.exe</filename>"), block, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    pkg.Reset();
    EXPECT_EQ(c.loads, Load({Entry("pkg.xml", c.definition), Entry("cp_data.xml", data), Entry("setup.enc", c.text)}));
    EXPECT_EQ(c.loads, pkg.IsLoaded());
    if (c.loads) {
      EXPECT_TRUE(pkg.GetConfigData().isByteArray);
      EXPECT_EQ(c.text.size() / 2, pkg.GetConfigData().bytes.size());
    }
  }
  // Without the entry there is nothing to decode, and the file name is not needed.
  pkg.Reset();
  EXPECT_TRUE(Load({Entry("pkg.xml", Definition("<name/>")), Entry("cp_data.xml", data)}));
  EXPECT_FALSE(pkg.GetConfigData().isByteArray);
}

// ---------------------------------------------------------------------------------------------
// Reset and reloading

TEST_F(PkgTest, ResetEmptiesEverything) {
  ASSERT_TRUE(LoadWithData(PackageData(kFullPackageDataBody), FullDataEntries(), L"ja"));
  EXPECT_EQ(L"ja", pkg.language());
  EXPECT_TRUE(pkg.Reset());
  EXPECT_FALSE(pkg.IsLoaded());
  EXPECT_EQ(L"en", pkg.language());
  EXPECT_EQ(kNull, Text(pkg.GetFilename()));
  EXPECT_EQ(kNull, Text(pkg.GetInstallCommand()));
  ExpectNoPackageData();
  EXPECT_TRUE(pkg.Reset());
}

TEST_F(PkgTest, ASuccessfulLoadReplacesThePreviousPackage) {
  ASSERT_TRUE(LoadWithData(PackageData(kFullPackageDataBody), FullDataEntries(), L"ja"));
  // The next package has no package data and names no language: nothing of the first remains.
  const std::wstring second = L"C:\\other\\second.exe";
  Give({Entry("second.xml", Definition("<installation><install><command>other.exe</command></install></installation>"))}, second);
  ASSERT_TRUE(pkg.Load(second.c_str(), L"second.xml", nullptr));
  EXPECT_EQ(L"en", pkg.language());
  EXPECT_EQ(L"other.exe", Text(pkg.GetInstallCommand()));
  EXPECT_EQ(kNull, Text(pkg.GetFilename()));
  ExpectNoPackageData();

  // Loading the first again brings it all back.
  ASSERT_TRUE(pkg.Load(kPath.c_str(), L"pkg.xml", L"en"));
  EXPECT_EQ(kSetupIni, Bytes(pkg.GetConfigData().bytes));
  EXPECT_EQ(kLicense, License());
}

TEST_F(PkgTest, AFailedLoadAfterASuccessfulOneLeavesNothingLoaded) {
  ASSERT_TRUE(LoadWithData(PackageData(kFullPackageDataBody), FullDataEntries()));
  EXPECT_FALSE(pkg.Load(L"C:\\nowhere\\pkg.exe", L"pkg.xml", L"en"));
  EXPECT_FALSE(pkg.IsLoaded());
  EXPECT_EQ(kNull, Text(pkg.GetFilename()));
  ExpectNoPackageData();
}

TEST_F(PkgTest, NothingOfAFailedLoadReachesTheNextPackage) {
  // The first package's package data parses, then its encrypted configuration fails the load.
  const std::wstring first = L"C:\\first\\pkg.exe";
  Give({Entry("pkg.xml", Definition(kFullDefinitionBody)),
        Entry("cp_data.xml", PackageData("<settings><value name=\"LARGE_WINDOW\" value=\"1\"/></settings>"
                                         "<license><filename lang=\"en\">license.txt</filename></license>"
                                         "<virtualization allow=\"1\"/>"
                                         "<configuration><configui><filename lang=\"en\">ui.exe</filename></configui>"
                                         "<config_file><filename encrypt=\"1\">setup.enc</filename></config_file>"
                                         "</configuration>")),
        Entry("license.txt", kLicense), Entry("setup.enc", "0123")},
       first);

  // The next package's package data document cannot be read at all.
  const std::vector<std::vector<EntrySpec>> nextData = {
      {ClaimingSize(Entry("cp_data.xml", PackageData("<settings/>")), 64u << 20)},
      {Entry("cp_data.xml", "<cp_pkg_data>")},
      {},
  };
  for (const auto& data : nextData) {
    SCOPED_TRACE(data.empty() ? std::string("no cp_data.xml") : data[0].data);
    ASSERT_FALSE(pkg.Load(first.c_str(), L"pkg.xml", L"en"));
    std::vector<EntrySpec> entries = {Entry("pkg.xml", Definition(kFullDefinitionBody)), Entry("license.txt", kLicense),
                                      Entry("setup.ini", kSetupIni), Entry("setup.enc", "0123")};
    entries.insert(entries.end(), data.begin(), data.end());
    ASSERT_TRUE(Load(entries));
    ExpectNoPackageData();
  }
}

// ---------------------------------------------------------------------------------------------
// Finding the definition entry

class FindPackageDefinitionTest : public PkgTest {
 protected:
  // The search over an archive of `entries`; "<none>" when nothing qualifies.
  std::wstring Find(const std::vector<EntrySpec>& entries) {
    Give(entries);
    vorqzip::ZIP_File archive(platform.Files(), platform.System());
    EXPECT_EQ(vorqzip::ZIP_OK, archive.Open(kPath));
    std::wstring name = L"<untouched>";
    if (!FindPackageDefinition(archive, &name)) return L"<none>";
    EXPECT_TRUE(FindPackageDefinition(archive, nullptr)) << "found again without room for the name";
    return name;
  }
};

TEST_F(FindPackageDefinitionTest, FirstRecognisedEntryInArchiveOrder) {
  const std::string body = "<filename>x.exe</filename>";
  const std::string v202 = Definition(body, " version=\"2.0.2.0\"");
  const std::string v201 = Definition(body, " version=\"2.0.1.0\"");
  const struct {
    const char* what;
    std::vector<EntrySpec> entries;
    std::wstring expected;
  } cases[] = {
      {"package data first, then two definitions",
       {Entry("a.XML", PackageData("<settings/>")), Entry("b.xml", v202), Entry("c.xml", v201)}, L"b.xml"},
      {"older version first", {Entry("c.xml", v201), Entry("b.xml", v202)}, L"c.xml"},
      {"versions not recognised",
       {Entry("d.xml", Definition(body, " version=\"2.0.3.0\"")), Entry("e.xml", Definition(body, "")),
        Entry("f.xml", Definition(body, " version=\" 2.0.2.0\"")), Entry("g.xml", Definition(body, " value=\"2.0.2.0\""))},
       L"<none>"},
      {"the extension decides, without regard to case",
       {Entry("h.txt", v202), Entry("i.xml.bak", v202), Entry("jxml", v202), Entry("sub/K.Xml", v201)}, L"sub/K.Xml"},
      {"a folder whose name ends in .xml", {Entry("dir.xml/", ""), Entry("dir.xml/inner", v202)}, L"<none>"},
      {"the definition must be the document element",
       {Entry("wrap.xml", "<wrap><vorq_package version=\"2.0.2.0\"/></wrap>"), Entry("root.xml", "<vorq_package version=\"2.0.1.0\"/>")},
       L"root.xml"},
      {"documents that do not parse or extract are skipped",
       {Entry("broken.xml", v202.substr(0, v202.size() - 5)),
        [&] {
          EntrySpec e = Entry("altered.xml", v202);
          e.crc ^= 1;
          return e;
        }(),
        ClaimingSize(Entry("huge.xml", v202), 64u << 20), Entry("good.xml", v201)},
       L"good.xml"},
      {"a deflated definition", {Deflated("packed.xml", v202)}, L"packed.xml"},
      {"entry names are widened byte by byte", {Entry("Pak\xE9\x80.xml", v202)}, L"Pak\u00E9\u0080.xml"},
      {"empty archive", {}, L"<none>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.expected, Find(c.entries));
  }
}

TEST_F(FindPackageDefinitionTest, FoundEntryLoads) {
  const std::vector<EntrySpec> entries = {Entry("cp_data.xml", PackageData("<settings><value name=\"LARGE_WINDOW\" value=\"1\"/></settings>")),
                                          Entry("firmware.xml", Definition(kFullDefinitionBody))};
  // Named after a stub that is not the package's own: the name finds nothing, the search does.
  Give(entries);
  ASSERT_FALSE(pkg.Load(kPath.c_str(), L"renamed.xml", L"en"));
  const std::wstring name = Find(entries);
  ASSERT_EQ(L"firmware.xml", name);
  ASSERT_TRUE(pkg.Load(kPath.c_str(), name.c_str(), L"en"));
  EXPECT_EQ(L"setup.exe", Text(pkg.GetInstallCommand()));
  EXPECT_EQ(L"1", Text(pkg.GetSetting(L"LARGE_WINDOW")));
}

}  // namespace
