// Component records (definitions folder and registry) and the preinstallation-environment test,
// over the emulated machine.
#include "setup/register.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/testenv/test_platform.h"
#include "setup/stub.h"

namespace {

const std::wstring kParent = L"Software\\Dravik\\Version Control\\DravikRevisionManagement\\BIOS";
const std::wstring kMainLog = L"C:\\riviziduve\\log\\vorqsetup.log";
const std::wstring kCopy = L"C:\\RIVIZIDUVE\\cpxml\\pkg.xml";
const wchar_t kFile[] = L"fw_2.0.exe";
const wchar_t kPath[] = L"\\Device\\Flash\\BIOS";
const wchar_t kNow[] = L"12/11/2026-17:52:07 PM";  // the emulated clock, as InstallTime shows it
const wchar_t kOld[] = L"1/2/2020-08:00:00 AM";

const std::string kCopied =
    "Copying component definition XML to C:\\RIVIZIDUVE\\cpxml\\...copy component definition XML...Success.\r\n";
const std::string kCreating =
    "    - Creating registry key HKLM\\Software\\Dravik\\Version Control\\DravikRevisionManagement\\BIOS...\r\n";
const std::string kComplete = "Component registry updates complete...success\r\n";
const std::string kSuccessLog = kCopied + kCreating + kComplete;

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

// One record under the parent key; an empty field is a value the record lacks.
struct Record {
  std::wstring key;
  std::wstring file;
  std::wstring path;
  std::wstring time = kOld;
};

void AddRecord(testenv::TestRegistry& registry, const Record& r) {
  const std::wstring key = kParent + L"\\" + r.key;
  registry.AddKey(key);
  registry.SetValue(key, L"ComponentXmlPath", L"\\RIVIZIDUVE\\cpxml\\");
  registry.SetValue(key, L"InstallTime", r.time);
  if (!r.file.empty()) registry.SetValue(key, L"ComponentFileName", r.file);
  if (!r.path.empty()) registry.SetValue(key, L"ComponentKeyExpectedPath", r.path);
}

// Records one line each, "name: file | path | time".
std::string Render(const std::vector<Record>& records) {
  std::string out;
  for (const Record& r : records) out += Narrow(r.key + L": " + r.file + L" | " + r.path + L" | " + r.time) + "\n";
  return out;
}

// The parent's subkeys as stored, in enumeration order.
std::string Stored(const testenv::TestRegistry& registry) {
  std::vector<Record> records;
  for (const std::wstring& name : registry.Subkeys(kParent)) {
    Record r{name, L"", L"", L""};
    const std::wstring key = kParent + L"\\" + name;
    registry.GetValue(key, L"ComponentFileName", &r.file);
    registry.GetValue(key, L"ComponentKeyExpectedPath", &r.path);
    registry.GetValue(key, L"InstallTime", &r.time);
    records.push_back(r);
  }
  return Render(records);
}

class RegisterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform.AddFile(platform.currentDirectory + L"\\pkg.xml", "<vorq_package>2.0</vorq_package>");
    ASSERT_EQ(0u, globals.log.Open());
  }

  int Register(int32_t code = kCompletionInstalled) { return RegisterComponentAs(globals, identity, L"pkg.xml", code); }
  void AddRecord(const Record& r) { ::AddRecord(platform.registry, r); }
  std::string Stored() const { return ::Stored(platform.registry); }
  std::string Log() const { return platform.FileBytes(kMainLog); }

  testenv::TestPlatform platform;
  StubGlobals globals{platform};
  ComponentIdentity identity{kFile, L"BIOS", kPath};
};

// --- Choosing the record -------------------------------------------------------------------------

struct RegistryCase {
  const char* label;
  std::vector<Record> before;
  std::vector<std::wstring> cannotOpen;    // record keys that cannot be opened
  std::vector<std::wstring> cannotDelete;  // record keys whose deletion fails
  std::vector<Record> after;
  int result;
  std::string log;
};

TEST_F(RegisterTest, RecordChoiceOverRegistryStates) {
  const Record mine{L"0", kFile, kPath, kNow};
  const std::string recordFails =
      kCopied + kCreating +
      "**ERROR** - Failed to update component data...\r\n    - Unable to update registry "
      "HKLM\\Software\\Dravik\\Version Control\\DravikRevisionManagement\\BIOS\\0\r\nFAILURE CODE (0)\r\n";
  const std::vector<RegistryCase> cases = {
      {"first record of the software key goes to 0", {}, {}, {}, {mine}, 1, kSuccessLog},
      {"same file name: overwritten", {{L"0", kFile, L"\\Device\\Old"}}, {}, {}, {mine}, 1, kSuccessLog},
      {"same expected path: overwritten, no 1 made", {{L"0", L"fw_1.0.exe", kPath}}, {}, {}, {mine}, 1, kSuccessLog},
      {"only 1 matches: 1 removed, the values go to 0",
       {{L"0", L"nic.exe", L"\\Device\\NIC"}, {L"1", kFile, L"\\Device\\Old"}},
       {}, {}, {mine}, 1, kSuccessLog},
      {"removal keeps the walk at its index",
       {{L"0", L"nic.exe", L"\\Device\\NIC"}, {L"1", kFile, L"\\A"}, {L"2", L"fw_1.0.exe", kPath},
        {L"3", L"raid.exe", L"\\Device\\RAID"}},
       {}, {},
       {mine, {L"3", L"raid.exe", L"\\Device\\RAID"}}, 1, kSuccessLog},
      {"match at 0 and later: 0 overwritten, the later ones removed",
       {{L"0", kFile, L"\\A"}, {L"1", L"fw_1.0.exe", kPath}, {L"2", kFile, kPath}},
       {}, {}, {mine}, 1, kSuccessLog},
      {"gap: 0 and 2 give 1",
       {{L"0", L"nic.exe", L"\\Device\\NIC"}, {L"2", L"raid.exe", L"\\Device\\RAID"}},
       {}, {},
       {{L"0", L"nic.exe", L"\\Device\\NIC"}, {L"1", kFile, kPath, kNow}, {L"2", L"raid.exe", L"\\Device\\RAID"}},
       1, kSuccessLog},
      {"free number by name, not by position: 0, 1, 10 give 2",
       {{L"0", L"a.exe", L"\\A"}, {L"1", L"b.exe", L"\\B"}, {L"10", L"c.exe", L"\\C"}},
       {}, {},
       {{L"0", L"a.exe", L"\\A"}, {L"1", L"b.exe", L"\\B"}, {L"10", L"c.exe", L"\\C"}, {L"2", kFile, kPath, kNow}},
       1, kSuccessLog},
      {"values that differ in letter case only do not match",
       {{L"0", L"FW_2.0.EXE", L"\\device\\flash\\bios"}},
       {}, {},
       {{L"0", L"FW_2.0.EXE", L"\\device\\flash\\bios"}, {L"1", kFile, kPath, kNow}}, 1, kSuccessLog},
      {"a record without the two values matches nothing",
       {{L"0", L"", L""}},
       {}, {},
       {{L"0", L"", L""}, {L"1", kFile, kPath, kNow}}, 1, kSuccessLog},
      {"a record that cannot be opened matches nothing",
       {{L"0", kFile, kPath}}, {L"0"}, {},
       {{L"0", kFile, kPath}, {L"1", kFile, kPath, kNow}}, 1, kSuccessLog},
      {"a later record that cannot be opened stays",
       {{L"0", L"nic.exe", L"\\Device\\NIC"}, {L"1", kFile, kPath}, {L"2", kFile, L"\\A"}},
       {L"1"}, {},
       {mine, {L"1", kFile, kPath}}, 1, kSuccessLog},
      {"a failed removal leaves the record and the walk goes on",
       {{L"0", L"nic.exe", L"\\Device\\NIC"}, {L"1", kFile, L"\\A"}, {L"2", L"fw_1.0.exe", kPath}},
       {}, {L"1"},
       {mine, {L"1", kFile, L"\\A"}}, 1, kSuccessLog},
      {"a first record that cannot be opened is still the one chosen",
       {{L"0", L"nic.exe", L"\\Device\\NIC"}, {L"1", kFile, kPath}},
       {L"0"}, {},
       {{L"0", L"nic.exe", L"\\Device\\NIC"}}, 0, recordFails},
  };
  for (const RegistryCase& c : cases) {
    SCOPED_TRACE(c.label);
    testenv::TestPlatform machine;
    machine.AddFile(machine.currentDirectory + L"\\pkg.xml", "<vorq_package/>");
    StubGlobals g(machine);
    ASSERT_EQ(0u, g.log.Open());
    for (const Record& r : c.before) ::AddRecord(machine.registry, r);
    for (const std::wstring& name : c.cannotOpen) machine.registry.failOpen.push_back(kParent + L"\\" + name);
    for (const std::wstring& name : c.cannotDelete) machine.registry.failDelete.push_back(kParent + L"\\" + name);

    EXPECT_EQ(c.result, RegisterComponentAs(g, identity, L"pkg.xml", kCompletionInstalled));
    EXPECT_EQ(Render(c.after), ::Stored(machine.registry));
    EXPECT_EQ(c.log, machine.FileBytes(kMainLog));
    EXPECT_EQ(0, machine.registry.openKeys()) << "every key is closed again";
  }
}

TEST_F(RegisterTest, RecordValuesAndDefinitionCopy) {
  platform.AddFile(kCopy, "<vorq_package>1.0</vorq_package>");
  // A record of the 32-bit view is a different registry: it is neither matched nor touched.
  const std::wstring wow = L"Software\\WOW6432Node\\Dravik\\Version Control\\DravikRevisionManagement\\BIOS\\0";
  platform.registry.SetValue(wow, L"ComponentFileName", kFile);

  EXPECT_EQ(1, Register(kCompletionRestartNeeded));
  const std::vector<std::pair<std::wstring, std::wstring>> values = {
      {L"ComponentXmlPath", L"\\RIVIZIDUVE\\cpxml\\"},
      {L"InstallTime", kNow},
      {L"ComponentFileName", kFile},
      {L"ComponentKeyExpectedPath", kPath},
  };
  EXPECT_EQ(values, platform.registry.Values(kParent + L"\\0"));
  EXPECT_EQ((std::vector<std::pair<std::wstring, std::wstring>>{{L"ComponentFileName", kFile}}),
            platform.registry.Values(wow));
  EXPECT_EQ((std::vector<std::wstring>{L"0"}), platform.registry.Subkeys(kParent));
  EXPECT_EQ("<vorq_package>2.0</vorq_package>", platform.FileBytes(kCopy)) << "the older copy is replaced";
  EXPECT_EQ(kSuccessLog, Log());
}

TEST_F(RegisterTest, InstallTimePartsKeepAtMost255Characters) {
  platform.dateText = std::wstring(300, L'd');
  platform.time24Text = std::wstring(260, L't');
  ASSERT_EQ(1, Register());
  std::wstring time;
  ASSERT_TRUE(platform.registry.GetValue(kParent + L"\\0", L"InstallTime", &time));
  EXPECT_EQ(std::wstring(255, L'd') + L"-" + std::wstring(255, L't'), time);
}

TEST_F(RegisterTest, StoredValueLongerThanTheReadBufferMatchesNothing) {
  // 255 characters and the null fill the 512-byte buffer; one more does not fit.
  for (size_t length : {255u, 256u}) {
    SCOPED_TRACE(length);
    const std::wstring longPath(length, L'p');
    identity.expectedPath = longPath.c_str();
    platform.registry = testenv::TestRegistry();
    AddRecord({L"0", L"other.exe", longPath});
    ASSERT_EQ(1, Register());
    EXPECT_EQ(length == 255 ? 1u : 2u, platform.registry.Subkeys(kParent).size());
  }
}

TEST_F(RegisterTest, OnlyInstalledCodesRecordAnything) {
  for (int32_t code : std::vector<int32_t>{kCompletionFailed, kCompletionNotAttempted, 4, -1, 3010}) {
    SCOPED_TRACE(code);
    EXPECT_EQ(1, Register(code));
    EXPECT_FALSE(platform.Exists(L"C:\\RIVIZIDUVE\\cpxml"));
    EXPECT_FALSE(platform.registry.KeyExists(L"Software\\Dravik"));
    EXPECT_EQ("", Log());
  }
}

// --- Failures ------------------------------------------------------------------------------------

TEST_F(RegisterTest, FolderThatCannotBeCreatedStopsBeforeTheRegistry) {
  platform.environment[L"SYSTEMDRIVE"] = L"Q:";  // a drive the machine does not have
  EXPECT_EQ(0, Register());
  EXPECT_EQ(
      "Copying component definition XML to Q:\\RIVIZIDUVE\\cpxml\\...**ERROR** - Failed to update component "
      "data...\r\n    - Unable to copy component definition XML to Q:\\RIVIZIDUVE\\cpxml\\...FAILURE CODE (0)\r\n",
      Log());
  EXPECT_FALSE(platform.registry.KeyExists(L"Software\\Dravik"));
}

TEST_F(RegisterTest, ParentKeyThatCannotBeCreatedKeepsTheCopy) {
  platform.registry.failCreate.push_back(kParent);
  EXPECT_EQ(0, Register());
  EXPECT_EQ(kCopied + kCreating +
                "**ERROR** - Cannot Create Registry Key HKLM\\Software\\Dravik\\Version "
                "Control\\DravikRevisionManagement\\BIOS ... Failed!\r\n"
                "**ERROR** - Create Registry Key HKLM FAILURE CODE (0)\r\n",
            Log());
  EXPECT_TRUE(platform.Exists(kCopy));
  EXPECT_FALSE(platform.registry.KeyExists(kParent));
}

TEST_F(RegisterTest, RecordKeyThatCannotBeCreatedKeepsRemovalsMadeBefore) {
  AddRecord({L"0", L"nic.exe", L"\\Device\\NIC"});
  AddRecord({L"1", kFile, kPath});
  platform.registry.failCreate.push_back(kParent + L"\\0");
  EXPECT_EQ(0, Register());
  EXPECT_EQ(Render({{L"0", L"nic.exe", L"\\Device\\NIC"}}), Stored());
  EXPECT_EQ(kCopied + kCreating +
                "**ERROR** - Failed to update component data...\r\n    - Unable to update registry "
                "HKLM\\Software\\Dravik\\Version Control\\DravikRevisionManagement\\BIOS\\0\r\nFAILURE CODE (0)\r\n",
            Log());
  EXPECT_TRUE(platform.Exists(kCopy));
  EXPECT_EQ(0, platform.registry.openKeys());
}

TEST_F(RegisterTest, FailedCopyIsReportedAndTheRecordStillWritten) {
  platform.Files().DeleteFile(platform.currentDirectory + L"\\pkg.xml");
  EXPECT_EQ(0, Register()) << "recording was incomplete";
  EXPECT_EQ(
      "Copying component definition XML to C:\\RIVIZIDUVE\\cpxml\\...**ERROR** - copy component definition "
      "XML...FAILED with error 2.\r\n" +
          kCreating + kComplete,
      Log());
  EXPECT_FALSE(platform.Exists(kCopy));
  EXPECT_EQ(Render({{L"0", kFile, kPath, kNow}}), Stored());
}

struct MissingCase {
  const char* label;
  bool hasSystemDrive;
  const wchar_t* systemDrive;
  ComponentIdentity identity;
  std::string reasons;
};

TEST_F(RegisterTest, WithoutSystemDriveOrPackageValuesNothingIsRecorded) {
  const std::string noDrive = "    - The environment variable SystemDrive is not set\r\n";
  const std::string noKey = "    - The package names no software key\r\n";
  const std::string noFile = "    - The package names no component file name\r\n";
  const std::string noPath = "    - The package names no expected path for its software key\r\n";
  const std::vector<MissingCase> cases = {
      {"no SystemDrive", false, L"", {kFile, L"BIOS", kPath}, noDrive},
      {"empty SystemDrive", true, L"", {kFile, L"BIOS", kPath}, noDrive},
      {"no software key name", true, L"C:", {kFile, nullptr, kPath}, noKey},
      {"empty software key name", true, L"C:", {kFile, L"", kPath}, noKey},
      {"no file name", true, L"C:", {nullptr, L"BIOS", kPath}, noFile},
      {"empty file name", true, L"C:", {L"", L"BIOS", kPath}, noFile},
      {"no expected path", true, L"C:", {kFile, L"BIOS", nullptr}, noPath},
      {"nothing at all", false, L"", {nullptr, nullptr, nullptr}, noDrive + noKey + noFile + noPath},
  };
  for (const MissingCase& c : cases) {
    SCOPED_TRACE(c.label);
    testenv::TestPlatform machine;
    machine.AddFile(machine.currentDirectory + L"\\pkg.xml", "<vorq_package/>");
    StubGlobals g(machine);
    ASSERT_EQ(0u, g.log.Open());
    machine.environment.erase(L"SYSTEMDRIVE");
    if (c.hasSystemDrive) machine.environment[L"SYSTEMDRIVE"] = c.systemDrive;

    EXPECT_EQ(0, RegisterComponentAs(g, c.identity, L"pkg.xml", kCompletionInstalled));
    EXPECT_EQ("**ERROR** - Failed to update component data...\r\n" + c.reasons +
                  "    - Nothing recorded...FAILURE CODE (0)\r\n",
              machine.FileBytes(kMainLog));
    EXPECT_FALSE(machine.Exists(L"C:\\RIVIZIDUVE\\cpxml"));
    EXPECT_FALSE(machine.registry.KeyExists(L"Software\\Dravik"));
  }
}

TEST_F(RegisterTest, PackageWithoutDefinitionRecordsNothing) {
  // Nothing loaded: the package answers every query with null.
  EXPECT_EQ(0, RegisterComponent(globals, L"pkg.xml", kCompletionInstalled));
  EXPECT_NE(std::string::npos, Log().find("The package names no software key"));
  EXPECT_FALSE(platform.Exists(L"C:\\RIVIZIDUVE\\cpxml"));
  EXPECT_FALSE(platform.registry.KeyExists(L"Software\\Dravik"));
}

// --- Preinstallation environment -----------------------------------------------------------------

struct WinPeCase {
  const char* label;
  const wchar_t* key;  // key added to the machine, or null
  bool cannotOpen;
  bool expected;
};

TEST(IsWinPE, MiniNtKeyDecides) {
  const wchar_t kMiniNt[] = L"SYSTEM\\CurrentControlSet\\Control\\MiniNT";
  const std::vector<WinPeCase> cases = {
      {"installed system", nullptr, false, false},
      {"MiniNT present", kMiniNt, false, true},
      {"MiniNT that cannot be opened", kMiniNt, true, false},
  };
  for (const WinPeCase& c : cases) {
    SCOPED_TRACE(c.label);
    testenv::TestPlatform machine;
    if (c.key) machine.registry.AddKey(c.key);
    if (c.cannotOpen) machine.registry.failOpen.push_back(kMiniNt);
    EXPECT_EQ(c.expected, IsWinPE(machine));
    EXPECT_EQ(0, machine.registry.openKeys()) << "the key is closed at once";
  }
}

// --- The emulated registry behaves as Windows does where the records rely on it ----------------

TEST(RegisterEmulatedRegistry, OrderCaseViewsRightsAndDeletion) {
  testenv::TestRegistry reg;
  std::unique_ptr<port::RegistryKey> key;
  ASSERT_EQ(0u, reg.CreateKey(port::RegistryView::k64Bit, L"Software\\T", &key));
  for (const wchar_t* name : {L"b", L"_x", L"2", L"A", L"10"}) {
    std::unique_ptr<port::RegistryKey> sub;
    ASSERT_EQ(0u, reg.CreateKey(port::RegistryView::k64Bit, std::wstring(L"Software\\T\\") + name, &sub));
  }
  std::vector<std::wstring> names;
  std::wstring name;
  for (uint32_t i = 0; key->EnumSubkey(i, &name) == 0; ++i) names.push_back(name);
  EXPECT_EQ((std::vector<std::wstring>{L"10", L"2", L"A", L"b", L"_x"}), names) << "upper-case order";
  EXPECT_EQ(port::kErrorNoMoreItems, key->EnumSubkey(5, &name));

  // Names without regard to case; values too, with the 512-byte read limit.
  std::unique_ptr<port::RegistryKey> sub;
  ASSERT_EQ(0u, key->OpenSubkey(L"B", port::RegistryAccess::kRead, &sub));
  EXPECT_EQ(port::kErrorAccessDenied, sub->SetString(L"v", L"x")) << "read rights only";
  EXPECT_EQ(port::kErrorNoMoreItems, sub->EnumSubkey(0, &name)) << "read rights may enumerate";
  ASSERT_EQ(0u, key->SetString(L"Value", std::wstring(256, L'v')));
  std::wstring value;
  EXPECT_EQ(port::kErrorMoreData, key->QueryString(L"VALUE", 512, &value));
  EXPECT_EQ(0u, key->QueryString(L"VALUE", 514, &value));
  EXPECT_EQ(port::kErrorFileNotFound, key->QueryString(L"Other", 512, &value));
  std::unique_ptr<port::RegistryKey> query;
  ASSERT_EQ(0u, key->OpenSubkey(L"a", port::RegistryAccess::kQueryValues, &query));
  EXPECT_EQ(port::kErrorAccessDenied, query->EnumSubkey(0, &name));

  // The 32-bit view of Software lives under WOW6432Node; SYSTEM is shared.
  std::unique_ptr<port::RegistryKey> k32;
  ASSERT_EQ(0u, reg.CreateKey(port::RegistryView::k32Bit, L"SOFTWARE\\T32", &k32));
  EXPECT_TRUE(reg.KeyExists(L"Software\\WOW6432Node\\T32"));
  EXPECT_FALSE(reg.KeyExists(L"Software\\T32"));
  ASSERT_EQ(0u, reg.CreateKey(port::RegistryView::k32Bit, L"SYSTEM\\S", &k32));
  EXPECT_EQ(0u, reg.OpenKey(port::RegistryView::k64Bit, L"system\\s", port::RegistryAccess::kRead, &k32));

  // A key with subkeys is not deleted; a deleted key that is still open says so.
  ASSERT_EQ(0u, reg.CreateKey(port::RegistryView::k64Bit, L"Software\\T\\A\\deeper", &k32));
  EXPECT_EQ(port::kErrorAccessDenied, key->DeleteSubkey(L"A"));
  EXPECT_EQ(0u, key->DeleteSubkey(L"B"));
  EXPECT_EQ(port::kErrorKeyDeleted, sub->QueryString(L"v", 512, &value));
  EXPECT_EQ(port::kErrorFileNotFound, key->DeleteSubkey(L"B"));
  EXPECT_EQ(port::kErrorFileNotFound, reg.OpenKey(port::RegistryView::k64Bit, L"Software\\T\\b",
                                                  port::RegistryAccess::kRead, &k32));
}

}  // namespace
