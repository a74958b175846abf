// The machine checks of an installation run over the emulated machine: the WMI service gate, the
// hypervisor rows, the trusted-module decisions with the lines they log, and the order in which
// the gates stop a run.
#include <gtest/gtest.h>
#include <zlib.h>

#include <memory>

#include "platform/testenv/test_platform.h"
#include "setup/checks.h"
#include "setup/stub.h"
#include "wmi/wmi.h"
#include "zip_builder.h"

namespace {

const wchar_t kLog[] = L"C:\\riviziduve\\log\\vorqsetup.log";
const wchar_t kVerboseLog[] = L"C:\\riviziduve\\log\\pkg.exe.log";

ziptest::EntrySpec Entry(const std::string& name, const std::string& content) {
  ziptest::EntrySpec e;
  e.name = name;
  e.data = content;
  e.crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size())));
  return e;
}

// A component definition with the given expected key path (none when null).
std::string Definition(const char* expectedPath) {
  std::string key = expectedPath ? std::string("<sw_key_expectedpath>") + expectedPath + "</sw_key_expectedpath>" : "";
  return "<?xml version=\"1.0\"?>\n<vorq_package version=\"2.0.2.0\">\n<filename>pkg.exe</filename>\n"
         "<name><name_xlate lang=\"en\">Firmware Update</name_xlate></name>\n"
         "<installation><install><command>setup.exe</command></install></installation>\n"
         "<sw_keys><sw_keys_and><sw_key name=\"FwKey\">" + key + "</sw_key></sw_keys_and></sw_keys>\n</vorq_package>\n";
}

// One machine with one package, its log open with a verbose copy that shows source positions.
class ChecksTest : public ::testing::Test {
 protected:
  void SetUp() override { Prepare("firmware:system", false); }

  void Prepare(const char* expectedPath, bool allowVirtualization) {
    globals.reset();
    platform = std::make_unique<testenv::TestPlatform>();
    std::vector<ziptest::EntrySpec> entries = {Entry("pkg.xml", Definition(expectedPath)), Entry("setup.exe", "MZ")};
    if (allowVirtualization) entries.push_back(Entry("cp_data.xml", "<cp_pkg_data><virtualization allow=\"1\"/></cp_pkg_data>"));
    ziptest::ArchiveSpec spec;
    spec.prefix = ziptest::FakeImage(4096);
    spec.entries = entries;
    platform->AddFile(platform->modulePath, ziptest::Build(spec));
    globals = std::make_unique<StubGlobals>(*platform);
    ASSERT_TRUE(globals->package.Load(platform->modulePath.c_str(), L"pkg.xml", L"en"));
    globals->log.SetVerboseFileName(L"pkg.exe.log");
    ASSERT_EQ(0u, globals->log.Open());
  }

  void Manufacturers(const std::wstring& computerSystem, const std::wstring& bios) {
    platform->wmi.Objects(L"ROOT\\CIMV2", L"Win32_ComputerSystem") = {{{L"Manufacturer", testenv::WmiString(computerSystem)}}};
    platform->wmi.Objects(L"ROOT\\CIMV2", L"Win32_BIOS") = {{{L"Manufacturer", testenv::WmiString(bios)}}};
  }
  // An SMBIOS table of these structures (each given from its type byte through its strings).
  void Smbios(const std::vector<std::vector<uint8_t>>& structures) {
    std::vector<uint8_t> table;
    for (const auto& structure : structures) table.insert(table.end(), structure.begin(), structure.end());
    platform->wmi.Objects(L"ROOT\\WMI", L"MSSmBios_RawSMBiosTables") = {
        {{L"Size", testenv::WmiInt32(static_cast<int32_t>(table.size()))}, {L"SMBiosData", testenv::WmiBytes(table)}}};
  }
  std::string Log() const { return platform->FileBytes(kLog); }
  std::string Verbose() const { return platform->FileBytes(kVerboseLog); }
  // The source file the verbose log names for the line that holds `text` ("" for a line
  // without source position), or "(missing)".
  std::string PlaceOf(const std::string& text) const {
    const std::string verbose = Verbose();
    const size_t at = verbose.find(text);
    const size_t start = at == std::string::npos ? at : verbose.rfind("]::", at);
    if (start == std::string::npos) return "(missing)";
    return verbose.substr(start + 3, verbose.find('[', start + 3) - start - 3);
  }
  std::string Text(uint32_t id) { return testenv::WideToCp1252(platform->Ui().LoadString(id, 4096)); }

  std::unique_ptr<testenv::TestPlatform> platform;
  std::unique_ptr<StubGlobals> globals;
};

// --- WMI service ------------------------------------------------------------------------------

TEST_F(ChecksTest, WmiServiceMustBeRunningAndIsOnlyLookedAt) {
  struct Case {
    const char* name;
    std::function<void(testenv::TestServices&)> arrange;
    bool passes;
  } cases[] = {
      {"running", [](testenv::TestServices&) {}, true},
      {"stopped", [](testenv::TestServices& s) { s.services[L"winmgmt"].state = port::kServiceStopped; }, false},
      {"start pending", [](testenv::TestServices& s) { s.services[L"winmgmt"].state = port::kServiceStartPending; }, false},
      {"stop pending", [](testenv::TestServices& s) { s.services[L"winmgmt"].state = port::kServiceStopPending; }, false},
      {"paused", [](testenv::TestServices& s) { s.services[L"winmgmt"].state = port::kServicePaused; }, false},
      {"manager denied", [](testenv::TestServices& s) { s.managerError = port::kErrorAccessDenied; }, false},
      {"service missing", [](testenv::TestServices& s) { s.services.clear(); }, false},
      {"service denied", [](testenv::TestServices& s) { s.services[L"winmgmt"].openError = port::kErrorAccessDenied; }, false},
      {"query fails", [](testenv::TestServices& s) { s.services[L"winmgmt"].queryError = port::kErrorAccessDenied; }, false},
  };
  for (const Case& c : cases) {
    for (bool silent : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (silent ? " silent" : " interactive"));
      Prepare("firmware:system", false);
      c.arrange(platform->services);
      EXPECT_EQ(c.passes, CheckWmiService(*globals, silent));
      ASSERT_EQ(1u, platform->services.queries.size());
      EXPECT_EQ(L"", platform->services.queries[0].first) << "this machine";
      EXPECT_EQ(L"winmgmt", platform->services.queries[0].second);
      if (c.passes) {
        EXPECT_EQ("Validating WMI service is available...\r\n\r\nWMI service is available.\r\n\r\n", Log());
        EXPECT_TRUE(platform->messageBoxes.empty());
        continue;
      }
      EXPECT_EQ("Validating WMI service is available...\r\n\r\n**ERROR** - \r\n\r\n" + Text(1051) +
                    "\r\n\r\n**ERROR** - No WMI Service Available...Installation Software requires WMI Service "
                    "Availability...FAILURE CODE (0) ...\r\n\r\n",
                Log());
      EXPECT_EQ("checks.cpp", PlaceOf("**ERROR** - \r\n\r\nWindows Management Instrumentation"));
      EXPECT_EQ("checks.cpp", PlaceOf("**ERROR** - No WMI Service Available"));
      if (silent) {
        EXPECT_TRUE(platform->messageBoxes.empty());
      } else {
        ASSERT_EQ(1u, platform->messageBoxes.size());
        EXPECT_EQ(nullptr, platform->messageBoxes[0].owner);
        EXPECT_EQ(L"Windows Management Instrumentation (WMI) is not installed or has been disabled.  Please install "
                  L"or enable this service in order to continue installation of this component.",
                  platform->messageBoxes[0].text);
        EXPECT_EQ(L"Package Setup", platform->messageBoxes[0].caption);
        EXPECT_EQ(port::kMbIconError, platform->messageBoxes[0].style);
      }
    }
  }
}

// --- Text helpers -----------------------------------------------------------------------------

TEST(CheckTextTest, SubstringSearchIgnoresCaseAndRefusesEmptyOrLongerParts) {
  struct Case {
    const wchar_t* text;
    const wchar_t* part;
    int index;
  } cases[] = {
      {L"VMware, Inc.", L"VMWare", 0}, {L"xxFirmWare:x", L"firmware", 2}, {L"abcabc", L"CA", 2},
      {L"abc", L"abc", 0},             {L"abc", L"", -1},                 {L"", L"", -1},
      {L"ab", L"abc", -1},             {L"abd", L"abc", -1},              {L"ab[", L"AB{", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(c.index, FindSubstringNoCase(c.text, c.part)) << c.text << " / " << c.part;
}

TEST(CheckTextTest, TrimRemovesOnlyTrailingBlanksTabsAndLineEnds) {
  struct Case {
    std::wstring text;
    std::wstring trimmed;
  } cases[] = {
      {L"Xen \t\r\n ", L"Xen"}, {L" Xen", L" Xen"}, {L"a b", L"a b"}, {L"a\v", L"a\v"},
      {L"a\x01 ", L"a\x01"},    {L" \t\r\n", L""},  {L"", L""},
  };
  for (Case& c : cases) {
    std::wstring text = c.text;
    EXPECT_EQ(&text, &TrimTrailingWhitespace(text));
    EXPECT_EQ(c.trimmed, text);
  }
}

// --- Virtual machines -------------------------------------------------------------------------

TEST(HypervisorTest, RowsMatchTheirOwnManufacturerStringInOrder) {
  struct Case {
    std::wstring computerSystem;
    std::wstring bios;
    int32_t identifier;
  } cases[] = {
      {L"Microsoft Corporation", L"Hyper-V UEFI", 0},
      {L"MICROSOFT CORPORATION \t\r\n", L"", 0},
      {L"Microsoft", L"", -1},
      {L"VMware, Inc.", L"Phoenix Technologies LTD", 1},
      {L"  vmware  ", L"", 1},
      {L"Microsoft Corporation VMware", L"Xen", 0},
      {L"QEMU", L"Xen", 2},
      {L"QEMU", L"xen 4.11-amazon", 2},
      {L"Xen", L"SeaBIOS", -1},
      {L"Dell Inc.", L"VMware", -1},
      {L"Dell Inc.", L"Dell Inc.", -1},
      {L"", L"", -1},
      // The work buffer holds 254 characters of a manufacturer string.
      {std::wstring(248, L'x') + L"VMware", L"", 1},
      {std::wstring(249, L'x') + L"VMware", L"", -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.identifier, MatchHypervisor(c.computerSystem, c.bios)) << c.computerSystem << " / " << c.bios;
  }
}

TEST_F(ChecksTest, VirtualMachinesAreRefusedUnlessThePackageAllowsThem) {
  const std::string passed = "Checking for virtualized environment...\r\n\r\nVirtualized environment not detected.\r\n\r\n";
  for (bool silent : {true, false}) {
    SCOPED_TRACE(silent ? "silent" : "interactive");
    // A physical machine.
    Prepare("firmware:system", false);
    Manufacturers(L"Zarnic", L"Zarnic");
    EXPECT_TRUE(CheckVirtualization(*globals, silent));
    EXPECT_EQ(passed, Log());

    // A recognised guest.
    Prepare("firmware:system", false);
    Manufacturers(L"VMware, Inc.", L"Phoenix Technologies LTD");
    EXPECT_FALSE(CheckVirtualization(*globals, silent));
    EXPECT_EQ("Checking for virtualized environment...\r\n\r\n**ERROR** - \r\n\r\nExecution currently not supported in "
              "Server Virtualized Guest operating systems.\r\n\r\n**ERROR** - Installation Halted...FAILURE CODE "
              "(0)...\r\n\r\n",
              Log());
    EXPECT_EQ("", PlaceOf("**ERROR** - \r\n\r\nExecution currently not supported"));
    EXPECT_EQ("checks.cpp", PlaceOf("**ERROR** - Installation Halted...FAILURE CODE (0)..."));
    if (silent) {
      EXPECT_TRUE(platform->messageBoxes.empty());
    } else {
      ASSERT_EQ(1u, platform->messageBoxes.size());
      EXPECT_EQ(L"Zarnic Component execution not supported at this time in Server Virtualized Guest operating systems.",
                platform->messageBoxes[0].text);
      EXPECT_EQ(L"Package Setup", platform->messageBoxes[0].caption);
      EXPECT_EQ(port::kMbIconError, platform->messageBoxes[0].style);
      EXPECT_EQ(nullptr, platform->messageBoxes[0].owner);
    }

    // The same guest with a package that allows virtual machines; the strings are read anyway.
    Prepare("firmware:system", true);
    Manufacturers(L"Microsoft Corporation", L"Xen");
    EXPECT_TRUE(CheckVirtualization(*globals, silent));
    EXPECT_EQ(passed, Log());
    EXPECT_EQ((std::vector<std::wstring>{L"SELECT * FROM Win32_ComputerSystem", L"SELECT * FROM Win32_BIOS"}),
              platform->wmi.queries);
    EXPECT_TRUE(platform->messageBoxes.empty());

    // Strings WMI cannot give are empty and match nothing.
    Prepare("firmware:system", false);
    Manufacturers(L"Microsoft Corporation", L"Xen");
    platform->wmi.connectFailures[L"ROOT\\CIMV2"] = port::kHrWbemAccessDenied;
    EXPECT_TRUE(CheckVirtualization(*globals, silent));
    EXPECT_EQ(passed, Log());
  }
}

TEST_F(ChecksTest, DetectedHypervisorIsRecordedInTheManufacturers) {
  Manufacturers(L"QEMU", L"Xen 4.11");
  SystemManufacturers guest(*platform);
  EXPECT_TRUE(DetectHypervisor(guest));
  EXPECT_EQ(2, guest.hypervisor);
  Manufacturers(L"Zarnic", L"Zarnic");
  SystemManufacturers physical(*platform);
  EXPECT_FALSE(DetectHypervisor(physical));
  EXPECT_EQ(-1, physical.hypervisor);
}

// --- Trusted module ---------------------------------------------------------------------------

TEST(TpmKeyPathTest, ListedKindsMatchWholeAndIgnoringCaseOvraAnywhere) {
  const wchar_t* cautioned[] = {
      L"firmware:intel_nic", L"FIRMWARE:NETXEN_NIC", L"Firmware:Nic", L"firmware:sas",  L"firmware:SATA",
      L"firmware:sd:sas",    L"firmware:SD:SATA",    L"firmware:system", L"firmware:ovra", L"FIRMWARE:OVRA:gen10",
      L"x:firmware:Ovra",
  };
  const wchar_t* passed[] = {
      L"firmware:system2", L" firmware:system", L"firmware:nic ", L"firmware:ovr", L"firmware:sd", L"firmware", L"",
      L"software:system",
  };
  for (const wchar_t* path : cautioned) EXPECT_TRUE(IsCautionedFirmwareKind(path)) << path;
  for (const wchar_t* path : passed) EXPECT_FALSE(IsCautionedFirmwareKind(path)) << path;
}

// Decoded lines of the record kinds used below.
const char kLegacy[] = "SMBIOS Type 224 record found in legacy BIOS format.\r\n\r\n";
std::string LegacyLines(int status, int rom) {
  return std::string(kLegacy) + "SMBIOS Type 224 record - (Legacy) TPM Status is [" + std::to_string(status) +
         "]...\r\n\r\nSMBIOS Type 224 record - (Legacy) Opt ROM is [" + std::to_string(rom) +
         "]...\r\n\r\nSMBIOS Type 224 record - (Legacy) TPM Status is " + (status ? "active" : "NOT active") +
         "...\r\n\r\n";
}
std::string UefiValues(int state, int tpm, int tm, int rom) {
  return "SMBIOS Type 224 record - (UEFI) TMState is [" + std::to_string(state) +
         "]...\r\n\r\nSMBIOS Type 224 record - (UEFI) TM TPM Type is [" + std::to_string(tpm) +
         "]...\r\n\r\nSMBIOS Type 224 record - (UEFI) TM Type is [" + std::to_string(tm) +
         "]...\r\n\r\nSMBIOS Type 224 record - (UEFI) Option ROM status is [" + std::to_string(rom) + "]...\r\n\r\n";
}
const char kUefi[] = "SMBIOS Type 224 record found in UEFI format.\r\n\r\n";
const char kStateOn[] = "btTMState is [01]...\r\n\r\nbtTMState is 0x01...\r\n\r\n";
const char kActive[] = "SMBIOS Type 224 record - (UEFI) TM State is active...\r\n\r\n";
const char kNotActive[] = "SMBIOS Type 224 record - (UEFI) TM State is NOT active...\r\n\r\n";

enum class Outcome { kGoOn, kCaution, kCautionUnplaced };

TEST_F(ChecksTest, TpmDecisionsWithTheirLines) {
  const std::string tmCaution = "**ERROR** - \r\n\r\n" + Text(3051) + "\r\n\r\n";
  struct Row {
    const char* name;
    std::vector<uint8_t> record;  // the structure from its type byte on, strings area included
    std::string decoded;          // the lines between the length line and "TPM State determined."
    const char* expectedPath;     // null: the package names none
    Outcome outcome;
  } rows[] = {
      // Legacy layout: bit 0 the TPM status, bit 2 the option ROM status, in either state.
      {"legacy active, listed", {224, 5, 0, 1, 0x01, 0, 0, 0}, LegacyLines(1, 0), "firmware:system", Outcome::kCaution},
      {"legacy active, listed in capitals", {224, 5, 0, 1, 0x01, 0, 0, 0}, LegacyLines(1, 0), "FIRMWARE:SYSTEM", Outcome::kCaution},
      {"legacy active, ovra inside", {224, 5, 0, 1, 0x01, 0, 0, 0}, LegacyLines(1, 0), "x:Firmware:OVRA:gen10", Outcome::kCaution},
      {"legacy active, longer than listed", {224, 5, 0, 1, 0x01, 0, 0, 0}, LegacyLines(1, 0), "firmware:system:ilo", Outcome::kGoOn},
      {"legacy active, option ROM, longer than listed", {224, 5, 0, 1, 0x05, 0, 0, 0}, LegacyLines(1, 1), "firmware:system:ilo", Outcome::kCautionUnplaced},
      {"legacy inactive, option ROM, firmware", {224, 4, 0, 1, 0x04, 0, 0, 0}, LegacyLines(0, 1), "firmware:system", Outcome::kCautionUnplaced},
      {"legacy inactive, option ROM, not firmware", {224, 5, 0, 1, 0x04, 0, 0, 0}, LegacyLines(0, 1), "software:driver", Outcome::kGoOn},
      {"legacy inactive", {224, 5, 0, 1, 0xFA, 0, 0, 0}, LegacyLines(0, 0), "firmware:system", Outcome::kGoOn},
      {"legacy active, no expected path", {224, 5, 0, 1, 0x05, 0, 0, 0}, LegacyLines(1, 1), nullptr, Outcome::kGoOn},
      // UEFI layout from a formatted length of 6; the module kind's high four bits are ignored.
      {"TPM 1.2, listed", {224, 6, 0, 1, 0x01, 0, 0x01, 0, 0},
       std::string(kUefi) + kStateOn + UefiValues(1, 1, 0, 0) + kActive + "SMBIOS Type 224 record - (UEFI) TPM 1.2 is installed\r\n\r\n",
       "firmware:nic", Outcome::kCaution},
      {"TPM 1.2, not listed", {224, 6, 0, 1, 0x01, 0, 0x01, 0, 0},
       std::string(kUefi) + kStateOn + UefiValues(1, 1, 0, 0) + kActive + "SMBIOS Type 224 record - (UEFI) TPM 1.2 is installed\r\n\r\n",
       "firmware:nics", Outcome::kGoOn},
      {"TPM 2.0, option ROM, firmware", {224, 0x1A, 0, 1, 0x05, 0, 0xF2, 0, 0},
       std::string(kUefi) + kStateOn + UefiValues(1, 2, 0, 1) + kActive + "SMBIOS Type 224 record - (UEFI) TPM 2.0 is installed\r\n\r\n",
       "driver:FIRMWARE_tool", Outcome::kCautionUnplaced},
      {"TM 1.0, option ROM, listed", {224, 6, 0, 1, 0x05, 0, 0x03, 0, 0},
       std::string(kUefi) + kStateOn + "btTMType is 0x01...\r\n\r\n" + UefiValues(1, 0, 1, 1) + kActive +
           "SMBIOS Type 224 record - (UEFI) TM 1.0 is installed\r\n\r\n" + tmCaution,
       "firmware:system", Outcome::kCautionUnplaced},
      {"TM 1.0, listed", {224, 6, 0, 1, 0x01, 0, 0x03, 0, 0},
       std::string(kUefi) + kStateOn + "btTMType is 0x01...\r\n\r\n" + UefiValues(1, 0, 1, 0) + kActive +
           "SMBIOS Type 224 record - (UEFI) TM 1.0 is installed\r\n\r\n" + tmCaution,
       "firmware:system", Outcome::kGoOn},
      {"kind 0, option ROM, listed", {224, 6, 0, 1, 0x05, 0, 0x00, 0, 0},
       std::string(kUefi) + kStateOn + UefiValues(1, 0, 0, 1) + kNotActive, "firmware:sd:SATA", Outcome::kCautionUnplaced},
      {"kind 4, listed", {224, 6, 0, 1, 0x01, 0, 0x14, 0, 0},
       std::string(kUefi) + kStateOn + UefiValues(1, 0, 0, 0) + kNotActive, "firmware:system", Outcome::kGoOn},
      {"state 0 hides the option ROM", {224, 6, 0, 1, 0xFE, 0, 0x01, 0, 0},
       std::string(kUefi) + "btTMState is [00]...\r\n\r\n" + UefiValues(0, 0, 0, 0) + kNotActive, "firmware:system", Outcome::kGoOn},
  };
  const std::string caution = Text(3050);
  const std::string halt =
      "**ERROR** - TPM (Trusted Platform Module) is enabled, and needs to be disabled. Installation halted. FAILURE CODE "
      "(0).\r\n\r\n";
  for (const Row& row : rows) {
    // /tpmbypass only matters to silent runs: interactive ones always warn.
    for (int mode = 0; mode < 4; ++mode) {
      const bool silent = mode >= 2;
      const bool bypass = mode % 2 == 1;
      SCOPED_TRACE(std::string(row.name) + (silent ? ", silent" : ", interactive") + (bypass ? " /tpmbypass" : ""));
      Prepare(row.expectedPath, false);
      globals->options.tpmBypass = bypass;
      // The structure that ends the table follows the record.
      std::vector<uint8_t> table = row.record;
      table.insert(table.end(), {127, 4, 0, 0, 0, 0, 0});
      const bool result = JudgeTpmState(*globals, silent, table.data(), table.data() + table.size());

      char length[32];
      snprintf(length, sizeof(length), "%X", row.record[1]);
      std::string expected = "Reading TPM (Trusted Platform Module) state from SMBIOS...\r\n\r\n"
                             "Retrieving SMBIOS Type 224 record... length is [" + std::string(length) + "] bytes.\r\n\r\n" +
                             row.decoded + "TPM State determined.\r\n\r\n";
      bool expectedResult = true;
      bool message = false;
      if (row.outcome == Outcome::kGoOn) {
        expected += "TPM (Trusted Platform Module) is in CORRECT setting. Installation will continue.\r\n\r\n";
      } else if (!silent) {
        expected += "**WARNING** - \r\n\r\n" + caution + "\r\n\r\n";
        message = true;
        EXPECT_EQ(row.outcome == Outcome::kCaution ? "checks.cpp" : "", PlaceOf("**WARNING** - \r\n\r\nCAUTION"));
      } else if (!bypass) {
        expected += "**ERROR** - \r\n\r\n" + caution + "\r\n\r\n" + halt;
        expectedResult = false;
        EXPECT_EQ("", PlaceOf("**ERROR** - \r\n\r\nCAUTION: A Trusted Platform"));
        EXPECT_EQ("checks.cpp", PlaceOf("**ERROR** - TPM (Trusted Platform Module) is enabled"));
      }
      EXPECT_EQ(expectedResult, result);
      EXPECT_EQ(expected, Log());
      if (row.decoded.find(tmCaution) != std::string::npos) EXPECT_EQ("", PlaceOf(tmCaution));
      ASSERT_EQ(message ? 1u : 0u, platform->messageBoxes.size());
      if (message) {
        EXPECT_EQ(platform->Ui().LoadString(3050, 4096), platform->messageBoxes[0].text);
        EXPECT_EQ(L"Package Setup", platform->messageBoxes[0].caption);
        EXPECT_EQ(port::kMbIconExclamation, platform->messageBoxes[0].style);
        EXPECT_EQ(nullptr, platform->messageBoxes[0].owner);
      }
    }
  }
}

TEST_F(ChecksTest, TpmCheckReadsTheFirstRecordOfTheTable) {
  const std::string head = "Checking TPM (Trusted Platform Module) state...\r\n\r\n"
                           "Retrieving SMBIOS table via WMI query of MSSmBios_RawSMBiosTables...\r\n\r\n"
                           "SMBIOS table access via WMI query... Success.\r\n\r\n";
  // No table at all, and a table without the record: the head lines only.
  EXPECT_TRUE(CheckTpmState(*globals, true));
  EXPECT_EQ(head, Log());
  Prepare("firmware:system", false);
  Smbios({{0, 4, 0, 0, 'Z', 0, 0}, {127, 4, 1, 0, 0, 0}});
  EXPECT_TRUE(CheckTpmState(*globals, true));
  EXPECT_EQ(head, Log());

  // Two records: the inactive first one decides, the active second one is never read.
  Prepare("firmware:system", false);
  Smbios({{0, 4, 0, 0, 'Z', 0, 0}, {224, 5, 1, 0, 0x00, 0, 0}, {224, 5, 2, 0, 0x01, 0, 0}, {127, 4, 3, 0, 0, 0}});
  EXPECT_TRUE(CheckTpmState(*globals, true));
  EXPECT_EQ(head + "Reading TPM (Trusted Platform Module) state from SMBIOS...\r\n\r\n"
                   "Retrieving SMBIOS Type 224 record... length is [5] bytes.\r\n\r\n" + LegacyLines(0, 0) +
                   "TPM State determined.\r\n\r\n"
                   "TPM (Trusted Platform Module) is in CORRECT setting. Installation will continue.\r\n\r\n",
            Log());
  EXPECT_EQ(0, platform->wmi.liveObjects());
  EXPECT_FALSE(platform->wmi.comRunning()) << "the table's connection ends with the check";
}

TEST_F(ChecksTest, MissingOrCutShortRecordLetsTheRunGoOnQuietly) {
  const std::vector<uint8_t> uefi = {224, 6, 0, 1, 0x05, 0, 0x01};
  struct Case {
    const char* name;
    const uint8_t* record;
    size_t available;  // bytes from the record to the table's end
  } cases[] = {
      {"no record", nullptr, 0},
      {"UEFI record without its module kind", uefi.data(), 6},
      {"record without its flags", uefi.data(), 4},
      {"record of one byte", uefi.data(), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Prepare("firmware:system", false);
    EXPECT_TRUE(JudgeTpmState(*globals, true, c.record, c.record ? c.record + c.available : nullptr));
    EXPECT_EQ("", Log());
  }
  // The same bytes with the module kind inside the table are read and stop a silent run.
  Prepare("firmware:system", false);
  EXPECT_FALSE(JudgeTpmState(*globals, true, uefi.data(), uefi.data() + uefi.size()));
}

}  // namespace

// --- The gates in an installation run -----------------------------------------------------------

class CheckGatesRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ziptest::ArchiveSpec spec;
    spec.prefix = ziptest::FakeImage(4096);
    spec.entries = {Entry("pkg.xml", Definition("firmware:system")), Entry("setup.exe", "MZ")};
    platform.AddFile(platform.modulePath, ziptest::Build(spec));
    Manufacturers(L"Zarnic", L"Zarnic");
  }
  void Manufacturers(const std::wstring& computerSystem, const std::wstring& bios) {
    platform.wmi.Objects(L"ROOT\\CIMV2", L"Win32_ComputerSystem") = {{{L"Manufacturer", testenv::WmiString(computerSystem)}}};
    platform.wmi.Objects(L"ROOT\\CIMV2", L"Win32_BIOS") = {{{L"Manufacturer", testenv::WmiString(bios)}}};
  }
  // An SMBIOS table: a BIOS structure, the trusted-module record, the end of the table.
  void TrustedModule(std::vector<uint8_t> record) {
    std::vector<uint8_t> table = {0, 4, 0, 0, 'Z', 0, 0};
    table.insert(table.end(), record.begin(), record.end());
    table.insert(table.end(), {0, 0, 127, 4, 0xFF, 0xFE, 0, 0});
    platform.wmi.Objects(L"ROOT\\WMI", L"MSSmBios_RawSMBiosTables") = {
        {{L"Size", testenv::WmiInt32(static_cast<int32_t>(table.size()))}, {L"SMBiosData", testenv::WmiBytes(table)}}};
  }
  int Run(const std::wstring& tail) {
    platform.commandTail = tail;
    StubGlobals globals(platform);
    return RunStub(globals, nullptr, tail);
  }
  std::string Log() const { return platform.FileBytes(kLog); }
  ::testing::AssertionResult LogInOrder(const std::vector<std::string>& lines) const {
    const std::string log = Log();
    size_t at = 0;
    for (const std::string& line : lines) {
      const size_t found = log.find(line, at);
      if (found == std::string::npos) return ::testing::AssertionFailure() << "missing: " << line << "\nlog:\n" << log;
      at = found + line.size();
    }
    return ::testing::AssertionSuccess();
  }
  bool LogHas(const std::string& text) const { return Log().find(text) != std::string::npos; }
  bool NothingExtracted() const { return platform.Tree(L"C:\\Users\\admin\\AppData\\Local\\Temp").empty(); }

  testenv::TestPlatform platform;
};

TEST_F(CheckGatesRunTest, PassingGatesRunInOrderBeforeTheExtraction) {
  EXPECT_EQ(1, Run(L"/s"));
  EXPECT_TRUE(LogInOrder({"Log Session Start...", "Validating WMI service is available...\r\n\r\n",
                          "WMI service is available.\r\n\r\n", "Checking for virtualized environment...\r\n\r\n",
                          "Virtualized environment not detected.\r\n\r\n",
                          "Checking TPM (Trusted Platform Module) state...\r\n\r\n",
                          "Retrieving SMBIOS table via WMI query of MSSmBios_RawSMBiosTables...\r\n\r\n",
                          "SMBIOS table access via WMI query... Success.\r\n\r\n"
                          "Creating extraction directory for Zarnic Component [pkg.exe]...",
                          "Verifying required disk space", "Return Code (1)"}));
  EXPECT_EQ(1u, platform.startedChildren.size());
  EXPECT_EQ(0, platform.wmi.liveObjects()) << "every WMI object is released";
  EXPECT_FALSE(platform.wmi.comRunning());
}

TEST_F(CheckGatesRunTest, StoppedWmiServiceEndsTheRunBeforeAnyWmiRead) {
  platform.services.services[L"winmgmt"].state = port::kServiceStopped;
  EXPECT_EQ(0, Run(L"/s"));
  EXPECT_TRUE(LogInOrder({"Validating WMI service is available...", "**ERROR** - \r\n\r\nWindows Management Instrumentation",
                          "**ERROR** - No WMI Service Available...Installation Software requires WMI Service "
                          "Availability...FAILURE CODE (0) ...\r\n\r\n\r\n\r\nLog Session End. [",
                          "Return Code (0)"}));
  EXPECT_FALSE(LogHas("Checking for virtualized environment"));
  EXPECT_TRUE(platform.wmi.connections.empty());
  EXPECT_TRUE(platform.startedChildren.empty());
  EXPECT_TRUE(NothingExtracted());
  EXPECT_TRUE(platform.messageBoxes.empty());

  EXPECT_EQ(0, Run(L"/noprompt"));
  ASSERT_EQ(1u, platform.messageBoxes.size()) << "only the gate's own message";
  EXPECT_EQ(platform.Ui().LoadString(1051, 4096), platform.messageBoxes[0].text);
}

TEST_F(CheckGatesRunTest, RecognisedGuestEndsTheRunBeforeTheTpmCheck) {
  Manufacturers(L"VMware, Inc.", L"Phoenix Technologies LTD");
  EXPECT_EQ(0, Run(L"/s"));
  EXPECT_TRUE(LogInOrder({"WMI service is available.", "Checking for virtualized environment...",
                          "**ERROR** - Installation Halted...FAILURE CODE (0)...\r\n\r\n\r\n\r\nLog Session End. [",
                          "Return Code (0)"}));
  EXPECT_FALSE(LogHas("Checking TPM"));
  EXPECT_TRUE(platform.startedChildren.empty());
  EXPECT_TRUE(NothingExtracted());

  EXPECT_EQ(0, Run(L"/noprompt"));
  ASSERT_EQ(1u, platform.messageBoxes.size());
  EXPECT_EQ(platform.Ui().LoadString(1050, 4096), platform.messageBoxes[0].text);
}

TEST_F(CheckGatesRunTest, UnreadableWmiLetsTheMachineChecksPass) {
  Manufacturers(L"Microsoft Corporation", L"Xen");
  TrustedModule({224, 5, 0, 1, 0x05});
  platform.wmi.locatorResult = port::kHrWbemFailed;
  EXPECT_EQ(1, Run(L"/s"));
  EXPECT_TRUE(LogInOrder({"Virtualized environment not detected.", "SMBIOS table access via WMI query... Success.\r\n\r\n"
                          "Creating extraction directory"}));
}

TEST_F(CheckGatesRunTest, ActiveTpmStopsASilentRunUnlessBypassed) {
  TrustedModule({224, 6, 0, 1, 0x01, 0, 0x02});
  EXPECT_EQ(0, Run(L"/s"));
  EXPECT_TRUE(LogInOrder({"Retrieving SMBIOS Type 224 record... length is [6] bytes.",
                          "SMBIOS Type 224 record - (UEFI) TPM 2.0 is installed", "TPM State determined.",
                          "**ERROR** - TPM (Trusted Platform Module) is enabled, and needs to be disabled. Installation "
                          "halted. FAILURE CODE (0).\r\n\r\n\r\n\r\nLog Session End. [",
                          "Return Code (0)"}));
  EXPECT_TRUE(platform.startedChildren.empty());
  EXPECT_TRUE(NothingExtracted());

  for (const wchar_t* bypass : {L"/s /tpmbypass", L"/s /ignore_tpm"}) {
    platform.AddFile(kLog, "");
    EXPECT_EQ(1, Run(bypass)) << bypass;
    EXPECT_TRUE(LogInOrder({"TPM State determined.\r\n\r\nCreating extraction directory", "Return Code (1)"}));
  }
  // Interactive runs warn and go on, whatever the answer.
  platform.messageBoxAnswers = {port::kIdCancel};
  EXPECT_EQ(1, Run(L"/noprompt"));
  ASSERT_FALSE(platform.messageBoxes.empty());
  EXPECT_EQ(platform.Ui().LoadString(3050, 4096), platform.messageBoxes[0].text);
  EXPECT_EQ(3u, platform.startedChildren.size()) << "the two bypassed runs and this one installed";
}
