// The WMI client, the SMBIOS structure walk and the manufacturer strings, over the emulated COM
// runtime and WMI service.
#include "wmi/wmi.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/testenv/test_platform.h"

namespace {

using testenv::TestPlatform;
using testenv::TestWmi;
using testenv::WmiBytes;
using testenv::WmiInt32;
using testenv::WmiOther;
using testenv::WmiString;
using Bytes = std::vector<uint8_t>;

const wchar_t kWmiNamespace[] = L"ROOT\\WMI";
const wchar_t kCimNamespace[] = L"ROOT\\CIMV2";
const wchar_t kRawTables[] = L"MSSmBios_RawSMBiosTables";
const wchar_t kComputerSystem[] = L"Win32_ComputerSystem";
const wchar_t kBios[] = L"Win32_BIOS";
const wchar_t kSetupErrorText[] = L"An error occurred initializing the COM environment.";
const int32_t kAccessDenied = static_cast<int32_t>(0x80070005);
const int32_t kChangedMode = static_cast<int32_t>(0x80010106);  // RPC_E_CHANGED_MODE

// One SMBIOS structure: header with a fixed handle, `length - 4` formatted bytes (nonzero unless
// `zeroFormatted`), then its strings, each ended by a zero, and the closing zero (two zeros when
// there are none).
Bytes Structure(uint8_t type, uint8_t length, std::vector<std::string> strings = {}, bool zeroFormatted = false) {
  Bytes out = {type, length, 0x34, 0x12};
  for (int i = 4; i < length; ++i) out.push_back(zeroFormatted ? 0 : static_cast<uint8_t>(0xA0 + i));
  for (const std::string& s : strings) {
    out.insert(out.end(), s.begin(), s.end());
    out.push_back(0);
  }
  if (strings.empty()) out.push_back(0);
  out.push_back(0);
  return out;
}

Bytes Raw(std::initializer_list<uint8_t> bytes) { return Bytes(bytes); }

// The raw table object as the WMI service holds it.
void AddRawTable(TestPlatform& platform, const Bytes& data, int32_t size) {
  platform.wmi.Objects(kWmiNamespace, kRawTables).push_back({{L"Size", WmiInt32(size)}, {L"SMBiosData", WmiBytes(data)}});
}

void AddManufacturers(TestPlatform& platform, const std::wstring& system, const std::wstring& bios) {
  platform.wmi.Objects(kCimNamespace, kComputerSystem).push_back({{L"Manufacturer", WmiString(system)}});
  platform.wmi.Objects(kCimNamespace, kBios).push_back({{L"Manufacturer", WmiString(bios)}});
}

// After a connection object is gone: COM ended as often as it started, every interface released,
// nothing used without COM.
void ExpectBalanced(const TestWmi& wmi) {
  EXPECT_EQ(wmi.comStarts, wmi.comEnds);
  EXPECT_EQ(0, wmi.liveObjects());
  EXPECT_EQ(0, wmi.misuses);
}

// --- The structure walk ---------------------------------------------------------------------------

struct WalkCase {
  const char* name;
  std::vector<Bytes> parts;  // concatenated into the table
  uint8_t type;              // searched
  int found;                 // index of the part that starts the structure found, -1 for none
};

const std::vector<WalkCase>& WalkCases() {
  static const std::vector<WalkCase> cases = {
      {"empty table, type 0", {}, 0, -1},
      {"empty table, type 224", {}, 224, -1},
      {"first structure", {Structure(0, 0x18, {"Vendor"}), Structure(224, 6)}, 0, 0},
      {"after a structure with strings", {Structure(0, 0x18, {"Vendor", "1.0"}), Structure(224, 6)}, 224, 1},
      {"after strings of one character each",
       {Structure(1, 8, {"a", "b", "c"}), Structure(2, 5, {"x"}), Structure(224, 6)}, 224, 2},
      {"after a structure without strings", {Structure(3, 0x10), Structure(224, 6)}, 224, 1},
      {"after a formatted area full of zeros", {Structure(4, 0x20, {"cpu"}, true), Structure(224, 6)}, 224, 1},
      {"first of two of the type",
       {Structure(0, 0x18, {"Vendor"}), Structure(224, 6, {"one"}), Structure(224, 5, {"two"})}, 224, 1},
      {"type not present before end-of-table",
       {Structure(0, 0x18), Structure(1, 8), Structure(127, 4)}, 224, -1},
      {"type not present, no end-of-table", {Structure(0, 0x18), Structure(1, 8)}, 224, -1},
      {"end-of-table first", {Structure(127, 4), Structure(224, 6)}, 224, -1},
      {"end-of-table first, searching end-of-table", {Structure(127, 4)}, 127, -1},
      {"end-of-table searched in the middle", {Structure(0, 0x18), Structure(127, 4), Structure(224, 6)}, 127, -1},
      {"end-of-table hides what follows", {Structure(0, 0x18), Structure(127, 4), Structure(224, 6)}, 224, -1},
      {"structure ending at the table end", {Structure(0, 0x18), Raw({224, 5, 0x34, 0x12, 0x05})}, 224, 1},
      {"table cut inside a header", {Structure(0, 0x18), Raw({224, 6})}, 224, -1},
      {"table cut inside a formatted area", {Structure(0, 0x18), Raw({224, 8, 0x34, 0x12, 0x05})}, 224, -1},
      {"formatted length past the end",
       {Raw({1, 0xF0, 0x34, 0x12, 0, 0}), Structure(224, 6), Structure(2, 8)}, 224, -1},
      {"formatted length shorter than the header", {Raw({1, 2, 0, 0}), Structure(224, 6)}, 224, -1},
      {"strings without their two zeros", {Structure(0, 0x18), Raw({1, 4, 0x34, 0x12, 'a', 0, 224, 6})}, 224, -1},
      {"last structure without its closing zero", {Structure(0, 0x18), Raw({1, 4, 0x34, 0x12, 'a', 0})}, 224, -1},
      {"searched structure with unended strings", {Structure(0, 0x18), Raw({224, 6, 0x34, 0x12, 1, 0, 'a'})}, 224, 1},
  };
  return cases;
}

TEST(SmbiosTableTest, WalksCraftedTables) {
  for (const WalkCase& c : WalkCases()) {
    SCOPED_TRACE(c.name);
    TestPlatform platform;
    Bytes data;
    size_t expected = 0;
    for (size_t i = 0; i < c.parts.size(); ++i) {
      if (static_cast<int>(i) == c.found) expected = data.size();
      data.insert(data.end(), c.parts[i].begin(), c.parts[i].end());
    }
    AddRawTable(platform, data, static_cast<int32_t>(data.size()));
    {
      SmbiosTable table(platform);
      ASSERT_EQ(data.size() + 1, static_cast<size_t>(table.end() - table.begin()));
      EXPECT_EQ(data, Bytes(table.begin(), table.end() - 1));
      EXPECT_EQ(0, table.end()[-1]);
      const uint8_t* found = table.FindStructure(c.type);
      if (c.found < 0) {
        EXPECT_EQ(nullptr, found);
      } else {
        ASSERT_NE(nullptr, found);
        EXPECT_EQ(expected, static_cast<size_t>(found - table.begin()));
        // The header and the formatted area lie inside the table.
        EXPECT_LE(found + found[1], table.end() - 1);
      }
    }
    ExpectBalanced(platform.wmi);
  }
}

TEST(SmbiosTableTest, FindStructureOfEndOfTableIsAlwaysNull) {
  TestPlatform platform;
  const Bytes data = Structure(127, 4);
  AddRawTable(platform, data, static_cast<int32_t>(data.size()));
  SmbiosTable table(platform);
  ASSERT_NE(nullptr, table.begin());
  EXPECT_EQ(nullptr, table.FindStructure(127));
}

TEST(SmbiosTableTest, ByteArrayLongerThanSizeIsCopiedOnlyUpToSize) {
  TestPlatform platform;
  // The announced size covers the first structure only; the array goes on with a type 224 record.
  const Bytes first = Structure(0, 0x18, {"Vendor"});
  Bytes data = first;
  const Bytes tail = Structure(224, 6);
  data.insert(data.end(), tail.begin(), tail.end());
  AddRawTable(platform, data, static_cast<int32_t>(first.size()));

  SmbiosTable table(platform);
  ASSERT_EQ(first.size() + 1, static_cast<size_t>(table.end() - table.begin()));
  EXPECT_EQ(first, Bytes(table.begin(), table.begin() + first.size()));
  EXPECT_EQ(0, table.begin()[first.size()]);  // the array's next byte (224) is not copied
  EXPECT_EQ(nullptr, table.FindStructure(224));
  EXPECT_EQ(table.begin(), table.FindStructure(0));
}

TEST(SmbiosTableTest, ByteArrayShorterThanSizeLeavesZeros) {
  TestPlatform platform;
  AddRawTable(platform, {1, 2, 3}, 8);
  SmbiosTable table(platform);
  EXPECT_EQ((Bytes{1, 2, 3, 0, 0, 0, 0, 0, 0}), Bytes(table.begin(), table.end()));
}

TEST(SmbiosTableTest, UnreadableDataLeavesAZeroTable) {
  TestPlatform platform;
  AddRawTable(platform, Structure(224, 6), 11);
  platform.wmi.readFailures[L"SMBiosData"] = kAccessDenied;
  SmbiosTable table(platform);
  EXPECT_EQ(Bytes(12, 0), Bytes(table.begin(), table.end()));
  EXPECT_EQ(nullptr, table.FindStructure(224));
}

TEST(SmbiosTableTest, ReadsTheRawTableClassOfTheWmiNamespace) {
  TestPlatform platform;
  const Bytes data = Structure(224, 6);
  AddRawTable(platform, data, static_cast<int32_t>(data.size()));
  {
    SmbiosTable table(platform);
    EXPECT_NE(nullptr, table.FindStructure(224));
  }
  EXPECT_EQ(std::vector<std::wstring>{L"ROOT\\WMI"}, platform.wmi.connections);
  EXPECT_EQ(std::vector<std::wstring>{L"SELECT * FROM MSSmBios_RawSMBiosTables"}, platform.wmi.queries);
  EXPECT_EQ(1, platform.wmi.proxyBlankets);
  ExpectBalanced(platform.wmi);
}

// Every way the table can stay unread: no bytes, and no structure of any type.
TEST(SmbiosTableTest, UnreadableTablesHaveNoStructures) {
  struct Case {
    const char* name;
    std::function<void(TestPlatform&)> arrange;
  };
  const Case cases[] = {
      {"namespace refuses the connection",
       [](TestPlatform& p) { p.wmi.connectFailures[kWmiNamespace] = kAccessDenied; }},
      {"namespace missing", [](TestPlatform& p) { p.wmi.namespaces.clear(); }},
      {"class missing", [](TestPlatform&) {}},
      {"query refused", [](TestPlatform& p) { p.wmi.queryFailures[kRawTables] = kAccessDenied; }},
      {"size unreadable", [](TestPlatform& p) { p.wmi.readFailures[L"Size"] = kAccessDenied; }},
      {"size not an integer",
       [](TestPlatform& p) {
         p.wmi.Objects(kWmiNamespace, kRawTables)[0][L"Size"] = WmiString(L"16");
       }},
      {"COM cannot start", [](TestPlatform& p) { p.wmi.startComResult = kChangedMode; }},
      {"locator cannot be created", [](TestPlatform& p) { p.wmi.locatorResult = kAccessDenied; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestPlatform platform;
    if (std::string(c.name) != "class missing") AddRawTable(platform, Structure(0, 0x18), 0x1A);
    c.arrange(platform);
    {
      SmbiosTable table(platform);
      EXPECT_LE(table.end() - table.begin(), 1);  // nothing read, or an announced size of 0
      for (int type = 0; type < 256; ++type) EXPECT_EQ(nullptr, table.FindStructure(static_cast<uint8_t>(type)));
    }
    ExpectBalanced(platform.wmi);
  }
}

// --- The connection -------------------------------------------------------------------------------

TEST(WmiConnectionTest, LastObjectWins) {
  TestPlatform platform;
  auto& objects = platform.wmi.Objects(kCimNamespace, L"Multi");
  objects.push_back({{L"Name", WmiString(L"first")}, {L"Count", WmiInt32(1)}, {L"Data", WmiBytes({1, 1, 1})}});
  objects.push_back({{L"Name", WmiString(L"second")}, {L"Count", WmiInt32(2)}, {L"Data", WmiBytes({2, 2})}});
  objects.push_back({{L"Name", WmiString(L"third")}, {L"Count", WmiInt32(3)}, {L"Data", WmiBytes({3})}});
  WmiConnection wmi(platform);
  ASSERT_EQ(1, wmi.Connect(kCimNamespace));
  ASSERT_EQ(1, wmi.ExecQuery(L"Multi"));
  std::wstring name;
  int32_t count = 0;
  uint8_t data[4] = {9, 9, 9, 9};
  // The result is rewound for every read.
  EXPECT_EQ(1, wmi.GetProperty(L"Name", &name));
  EXPECT_EQ(1, wmi.GetProperty(L"Count", &count));
  EXPECT_EQ(1, wmi.GetProperty(L"Data", data, sizeof(data)));
  EXPECT_EQ(L"third", name);
  EXPECT_EQ(3, count);
  // Each object writes over what the one before it left.
  EXPECT_EQ((Bytes{3, 2, 1, 9}), Bytes(data, data + 4));
}

TEST(WmiConnectionTest, ValuesOfOtherTypesLeaveTheOutputUnchanged) {
  TestPlatform platform;
  auto& objects = platform.wmi.Objects(kCimNamespace, L"Mixed");
  objects.push_back({{L"P", WmiString(L"text")}});
  objects.push_back({{L"P", WmiInt32(7)}});
  objects.push_back({{L"P", WmiOther()}});
  WmiConnection wmi(platform);
  ASSERT_EQ(1, wmi.Connect(kCimNamespace));
  ASSERT_EQ(1, wmi.ExecQuery(L"Mixed"));
  std::wstring text;
  int32_t number = -5;
  uint8_t bytes[2] = {0xEE, 0xEE};
  EXPECT_EQ(1, wmi.GetProperty(L"P", &text));
  EXPECT_EQ(1, wmi.GetProperty(L"P", &number));
  EXPECT_EQ(1, wmi.GetProperty(L"P", bytes, sizeof(bytes)));
  EXPECT_EQ(L"text", text);
  EXPECT_EQ(7, number);
  EXPECT_EQ((Bytes{0xEE, 0xEE}), Bytes(bytes, bytes + 2));
}

TEST(WmiConnectionTest, ResultsWithoutObjectsLeaveTheOutputUntouched) {
  TestPlatform platform;
  platform.wmi.Objects(kCimNamespace, L"Empty");
  WmiConnection wmi(platform);
  ASSERT_EQ(1, wmi.Connect(kCimNamespace));
  // An empty class, and a class the namespace lacks, whose result fails on the first fetch.
  for (const wchar_t* cls : {L"Empty", L"NoSuchClass"}) {
    SCOPED_TRACE(cls[0] == L'E' ? "empty class" : "missing class");
    ASSERT_EQ(1, wmi.ExecQuery(cls));
    std::wstring text = L"kept";
    EXPECT_EQ(1, wmi.GetProperty(L"Name", &text));
    EXPECT_EQ(L"kept", text);
    wmi.EndQuery();
  }
}

TEST(WmiConnectionTest, StringsAreCutAt255CharactersAndAtANull) {
  TestPlatform platform;
  const std::wstring longText(300, L'x');
  platform.wmi.Objects(kCimNamespace, L"Long").push_back({{L"P", WmiString(longText)}});
  platform.wmi.Objects(kCimNamespace, L"Nul").push_back({{L"P", WmiString(std::wstring(L"ab\0cd", 5))}});
  WmiConnection wmi(platform);
  ASSERT_EQ(1, wmi.Connect(kCimNamespace));
  std::wstring text;
  ASSERT_EQ(1, wmi.ExecQuery(L"Long"));
  EXPECT_EQ(1, wmi.GetProperty(L"P", &text));
  EXPECT_EQ(longText.substr(0, 255), text);
  wmi.EndQuery();
  ASSERT_EQ(1, wmi.ExecQuery(L"Nul"));
  EXPECT_EQ(1, wmi.GetProperty(L"P", &text));
  EXPECT_EQ(L"ab", text);
}

TEST(WmiConnectionTest, FailedReadReleasesTheResult) {
  struct Case {
    const char* name;
    std::function<void(TestWmi&)> arrange;
    std::wstring left;  // what the output holds afterwards
  };
  const Case cases[] = {
      // Objects are read in order: the first one's value is written before the second fails.
      {"property missing on the second object",
       [](TestWmi& w) { w.Objects(kCimNamespace, L"Two")[1].clear(); }, L"first"},
      {"access denied", [](TestWmi& w) { w.readFailures[L"Name"] = kAccessDenied; }, L"before"},
      {"success other than exact", [](TestWmi& w) { w.readFailures[L"Name"] = port::kHrFalse; }, L"before"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestPlatform platform;
    auto& objects = platform.wmi.Objects(kCimNamespace, L"Two");
    objects.push_back({{L"Name", WmiString(L"first")}});
    objects.push_back({{L"Name", WmiString(L"second")}});
    c.arrange(platform.wmi);
    {
      WmiConnection wmi(platform);
      ASSERT_EQ(1, wmi.Connect(kCimNamespace));
      ASSERT_EQ(1, wmi.ExecQuery(L"Two"));
      const int liveWithResult = platform.wmi.liveObjects();
      std::wstring name = L"before";
      EXPECT_EQ(0, wmi.GetProperty(L"Name", &name));
      EXPECT_EQ(c.left, name);
      EXPECT_EQ(liveWithResult - 1, platform.wmi.liveObjects());
      // No result any more: the next read fails; a new query reads again.
      EXPECT_EQ(0, wmi.GetProperty(L"Name", &name));
      platform.wmi.readFailures.clear();
      objects[1][L"Name"] = WmiString(L"second");
      ASSERT_EQ(1, wmi.ExecQuery(L"Two"));
      EXPECT_EQ(1, wmi.GetProperty(L"Name", &name));
      EXPECT_EQ(L"second", name);
    }
    ExpectBalanced(platform.wmi);
  }
}

TEST(WmiConnectionTest, QueryReportsOnlyExactSuccess) {
  TestPlatform platform;
  platform.wmi.Objects(kCimNamespace, L"Odd").push_back({{L"P", WmiInt32(1)}});
  platform.wmi.queryFailures[L"Odd"] = port::kHrFalse;
  {
    WmiConnection wmi(platform);
    ASSERT_EQ(1, wmi.Connect(kCimNamespace));
    EXPECT_EQ(0, wmi.ExecQuery(L"Odd"));
    int32_t value = 0;
    EXPECT_EQ(0, wmi.GetProperty(L"P", &value));
  }
  ExpectBalanced(platform.wmi);
}

TEST(WmiConnectionTest, QueryTextIsCutAt255Characters) {
  TestPlatform platform;
  const std::wstring className(300, L'C');
  WmiConnection wmi(platform);
  ASSERT_EQ(1, wmi.Connect(kCimNamespace));
  EXPECT_EQ(1, wmi.ExecQuery(className));
  ASSERT_EQ(1u, platform.wmi.queries.size());
  EXPECT_EQ((L"SELECT * FROM " + className).substr(0, 255), platform.wmi.queries[0]);
}

// Where set-up and connection can fail: what Connect answers, the error recorded, whether COM is
// still in use before the object goes, and that it is balanced afterwards.
TEST(WmiConnectionTest, SetupAndConnectionFailures) {
  struct Case {
    const char* name;
    std::function<void(TestWmi&)> arrange;
    bool comStarted;       // COM was started at all
    bool comAfterConnect;  // still in use after Connect returned
    int connected;
  };
  const Case cases[] = {
      {"none", [](TestWmi&) {}, true, true, 1},
      {"COM start", [](TestWmi& w) { w.startComResult = kChangedMode; }, false, false, 0},
      {"process security", [](TestWmi& w) { w.securityResult = kAccessDenied; }, true, false, 0},
      {"locator", [](TestWmi& w) { w.locatorResult = kAccessDenied; }, true, false, 0},
      {"namespace refused", [](TestWmi& w) { w.connectFailures[L"root\\cimv2"] = kAccessDenied; }, true, false, 0},
      {"namespace missing", [](TestWmi& w) { w.namespaces.clear(); }, true, false, 0},
      {"proxy blanket", [](TestWmi& w) { w.proxyBlanketResult = kAccessDenied; }, true, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestPlatform platform;
    c.arrange(platform.wmi);
    {
      WmiConnection wmi(platform);
      EXPECT_EQ(c.connected, wmi.Connect(kCimNamespace));
      EXPECT_EQ(c.comAfterConnect, platform.wmi.comRunning());
      EXPECT_EQ(c.connected ? 0 : 11, wmi.lastError());
      EXPECT_EQ(c.connected ? L"" : kSetupErrorText, wmi.lastErrorText());
      // An unusable connection fails everything that follows.
      if (!c.connected) {
        EXPECT_EQ(0, wmi.Connect(kCimNamespace));
        EXPECT_EQ(0, wmi.ExecQuery(kBios));
        std::wstring text;
        EXPECT_EQ(0, wmi.GetProperty(L"Manufacturer", &text));
      }
    }
    EXPECT_EQ(c.comStarted ? 1 : 0, platform.wmi.comStarts);
    ExpectBalanced(platform.wmi);
  }
}

TEST(WmiConnectionTest, SecondConnectionAcceptsSecurityAlreadySet) {
  TestPlatform platform;
  AddManufacturers(platform, L"Maker", L"Firmware Maker");
  {
    SystemManufacturers first(platform);
    EXPECT_EQ(L"Maker", first.computerSystem());
  }
  EXPECT_TRUE(platform.wmi.securitySet);
  {
    SystemManufacturers second(platform);
    EXPECT_EQ(0, second.lastError());
    EXPECT_EQ(L"Maker", second.computerSystem());
    EXPECT_EQ(L"Firmware Maker", second.bios());
  }
  EXPECT_EQ(2, platform.wmi.securityCalls);
  EXPECT_EQ(2, platform.wmi.comStarts);
  ExpectBalanced(platform.wmi);
}

TEST(WmiConnectionTest, EndsOnlyItsOwnComUse) {
  TestPlatform platform;
  AddManufacturers(platform, L"Maker", L"Firmware Maker");
  ASSERT_EQ(port::kHrOk, platform.wmi.StartCom());  // COM already runs on the thread
  {
    WmiConnection wmi(platform);
    EXPECT_EQ(1, wmi.Connect(kCimNamespace));
    wmi.Release();
    EXPECT_EQ(1, platform.wmi.comEnds);
    wmi.Release();  // and again as it goes
  }
  EXPECT_EQ(2, platform.wmi.comStarts);
  EXPECT_EQ(1, platform.wmi.comEnds);
  EXPECT_TRUE(platform.wmi.comRunning());
  EXPECT_EQ(0, platform.wmi.liveObjects());
  EXPECT_EQ(0, platform.wmi.misuses);
}

// A COM string that cannot be allocated stops the reads and is reported, with everything released.
TEST(WmiConnectionTest, UnallocatableComStringIsReported) {
  struct Case {
    const char* name;
    std::wstring text;
    std::wstring system;  // what was read before
    std::wstring bios;
  };
  const Case cases[] = {
      {"namespace", L"ROOT\\CIMV2", L"", L""},
      {"query language", L"WQL", L"", L""},
      {"first query", L"SELECT * FROM Win32_ComputerSystem", L"", L""},
      {"second query", L"SELECT * FROM Win32_BIOS", L"Maker", L""},
      {"property name", L"Manufacturer", L"", L""},
      {"none", L"unused", L"Maker", L"Firmware Maker"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestPlatform platform;
    AddManufacturers(platform, L"Maker", L"Firmware Maker");
    platform.wmi.unallocatableStrings = {c.text};
    {
      SystemManufacturers manufacturers(platform);
      EXPECT_EQ(c.text != L"unused", manufacturers.comStringNotAllocated());
      EXPECT_EQ(c.system, manufacturers.computerSystem());
      EXPECT_EQ(c.bios, manufacturers.bios());
      EXPECT_EQ(0, manufacturers.lastError());
      if (manufacturers.comStringNotAllocated()) {
        EXPECT_EQ(0, manufacturers.ExecQuery(kBios));
      }
    }
    ExpectBalanced(platform.wmi);
  }
}

TEST(SmbiosTableTest, UnallocatablePropertyNameIsReported) {
  TestPlatform platform;
  AddRawTable(platform, Structure(224, 6), 8);
  platform.wmi.unallocatableStrings = {L"Size"};
  {
    SmbiosTable table(platform);
    EXPECT_TRUE(table.comStringNotAllocated());
    EXPECT_EQ(nullptr, table.begin());
    EXPECT_EQ(nullptr, table.FindStructure(224));
  }
  ExpectBalanced(platform.wmi);
}

// --- The manufacturer strings ---------------------------------------------------------------------

TEST(SystemManufacturersTest, ReadsBothStrings) {
  TestPlatform platform;
  AddManufacturers(platform, L"Contoso Server Works  ", L"Fabrikam BIOS");
  {
    SystemManufacturers manufacturers(platform);
    EXPECT_EQ(L"Contoso Server Works  ", manufacturers.computerSystem());
    EXPECT_EQ(L"Fabrikam BIOS", manufacturers.bios());
    EXPECT_EQ(-1, manufacturers.hypervisor);
    EXPECT_FALSE(manufacturers.comStringNotAllocated());
  }
  EXPECT_EQ(std::vector<std::wstring>{L"ROOT\\CIMV2"}, platform.wmi.connections);
  EXPECT_EQ((std::vector<std::wstring>{L"SELECT * FROM Win32_ComputerSystem", L"SELECT * FROM Win32_BIOS"}),
            platform.wmi.queries);
  ExpectBalanced(platform.wmi);
}

TEST(SystemManufacturersTest, PartialReads) {
  struct Case {
    const char* name;
    std::function<void(TestWmi&)> arrange;
    std::wstring system;
    std::wstring bios;
    size_t queries;
  };
  const Case cases[] = {
      {"namespace refused", [](TestWmi& w) { w.connectFailures[kCimNamespace] = kAccessDenied; }, L"", L"", 0},
      {"computer system query refused", [](TestWmi& w) { w.queryFailures[kComputerSystem] = kAccessDenied; }, L"",
       L"", 0},
      {"computer system manufacturer unreadable",
       [](TestWmi& w) { w.Objects(kCimNamespace, kComputerSystem)[0].clear(); }, L"", L"", 1},
      {"computer system manufacturer not a string",
       [](TestWmi& w) { w.Objects(kCimNamespace, kComputerSystem)[0][L"Manufacturer"] = WmiOther(); }, L"",
       L"Firmware Maker", 2},
      {"BIOS query refused", [](TestWmi& w) { w.queryFailures[kBios] = kAccessDenied; }, L"Maker", L"", 1},
      {"BIOS manufacturer unreadable", [](TestWmi& w) { w.Objects(kCimNamespace, kBios)[0].clear(); }, L"Maker",
       L"", 2},
      {"no BIOS class", [](TestWmi& w) { w.namespaces[kCimNamespace].classes.erase(kBios); }, L"Maker", L"", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestPlatform platform;
    AddManufacturers(platform, L"Maker", L"Firmware Maker");
    c.arrange(platform.wmi);
    {
      SystemManufacturers manufacturers(platform);
      EXPECT_EQ(c.system, manufacturers.computerSystem());
      EXPECT_EQ(c.bios, manufacturers.bios());
    }
    EXPECT_EQ(c.queries, platform.wmi.queries.size());
    ExpectBalanced(platform.wmi);
  }
}

}  // namespace
