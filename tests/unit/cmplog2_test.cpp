// The component log over the emulated machine: paths, verbose switch, opening, the bytes that
// land in both files, and the run header and footer.
#include "log/cmplog2.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/testenv/test_platform.h"
#include "setup/stub.h"

namespace {

const std::wstring kFolder = L"C:\\riviziduve\\log\\";
const std::wstring kMain = kFolder + L"vorqsetup.log";
const std::wstring kDefaultVerbose = kFolder + L"vorqsetup.verbose.log";
const wchar_t kVariable[] = L"CMPLOG2_VERBOSE_FILENAME";
// A writer's source path as the build gives it: folders before the file name.
const wchar_t kExtractSource[] = L"..\\..\\src\\setup\\extract.cpp";
const std::string kRule(75, '=');
const std::vector<std::wstring> kOnlyMainLog = {L"log", L"log\\vorqsetup.log"};

class CmpLog2Test : public ::testing::Test {
 protected:
  std::string MainBytes() const { return platform.FileBytes(kMain); }
  std::string Bytes(const std::wstring& path) const { return platform.FileBytes(path); }

  testenv::TestPlatform platform;
};

// --- Construction --------------------------------------------------------------------------------

TEST_F(CmpLog2Test, WithoutTheVariableOnlyTheMainLogIsOpened) {
  CCmpLog2 log(platform);
  EXPECT_EQ(0, log.IsVerbose());
  EXPECT_EQ(kFolder, log.LogFolder());
  EXPECT_EQ(kMain, log.MainLogPath());
  EXPECT_EQ(kDefaultVerbose, log.VerboseLogPath());

  ASSERT_EQ(0u, log.Open());
  log.Write(CMPLOG2_BOTH, CMPLOG2_INFO, kExtractSource, 1, L"hello\r\n");
  EXPECT_EQ("hello\r\n", MainBytes());
  EXPECT_EQ(kOnlyMainLog,
            platform.Tree(L"C:\\riviziduve"));
}

TEST_F(CmpLog2Test, InheritedVariableNamesTheVerboseLogExactly) {
  platform.AddFolder(L"D:\\logs");
  platform.environment[kVariable] = L"D:\\logs\\Installer Trace.txt";
  CCmpLog2 log(platform);
  EXPECT_EQ(1, log.IsVerbose());
  EXPECT_EQ(L"D:\\logs\\Installer Trace.txt", log.VerboseLogPath());

  ASSERT_EQ(0u, log.Open());
  log.Write(CMPLOG2_BOTH, CMPLOG2_INFO, kExtractSource, 9, L"x\r\n");
  EXPECT_EQ("[17:52:07]::extract.cpp[9] x\r\n", Bytes(L"D:\\logs\\Installer Trace.txt"));
  EXPECT_FALSE(platform.Exists(kDefaultVerbose));
}

TEST_F(CmpLog2Test, InheritedValueIsTakenUpTo259Characters) {
  struct Case {
    size_t length;
    bool taken;
  };
  for (const Case c : {Case{258, true}, Case{259, true}, Case{260, false}, Case{600, false}}) {
    testenv::TestPlatform machine;
    const std::wstring value = L"C:\\" + std::wstring(c.length - 3, L'v');
    machine.environment[kVariable] = value;
    CCmpLog2 log(machine);
    // The switch follows the variable even when its value is unusable.
    EXPECT_EQ(1, log.IsVerbose()) << c.length;
    EXPECT_EQ(c.taken ? value : std::wstring(), log.VerboseLogPath()) << c.length;
    if (!c.taken) {
      // No verbose log at all: only the main log is opened and nothing else appears.
      EXPECT_EQ(0u, log.Open()) << c.length;
      EXPECT_EQ(kOnlyMainLog,
                machine.Tree(L"C:\\riviziduve"))
          << c.length;
    }
  }
}

TEST_F(CmpLog2Test, EmptyVariableCountsAsMissing) {
  platform.environment[kVariable] = L"";
  CCmpLog2 log(platform);
  EXPECT_EQ(0, log.IsVerbose());
  EXPECT_EQ(kDefaultVerbose, log.VerboseLogPath());
}

TEST_F(CmpLog2Test, LogFolderFollowsTheSystemDrive) {
  platform.AddFolder(L"E:\\");
  platform.environment[L"SYSTEMDRIVE"] = L"E:";
  CCmpLog2 log(platform);
  EXPECT_EQ(L"E:\\riviziduve\\log\\vorqsetup.log", log.MainLogPath());
  ASSERT_EQ(0u, log.Open());
  log.Write(CMPLOG2_MAIN, CMPLOG2_INFO, nullptr, 0, L"on E\r\n");
  EXPECT_EQ("on E\r\n", Bytes(L"E:\\riviziduve\\log\\vorqsetup.log"));
  EXPECT_FALSE(platform.Exists(L"C:\\riviziduve"));
}

TEST_F(CmpLog2Test, OverlongPathsAreCutAt259Characters) {
  // The system drive variable is only a way to make the expanded folder long.
  platform.environment[L"SYSTEMDRIVE"] = L"C:\\" + std::wstring(270, L'd');
  CCmpLog2 log(platform);
  EXPECT_EQ(259u, log.LogFolder().size());
  EXPECT_EQ(platform.environment[L"SYSTEMDRIVE"].substr(0, 259), log.LogFolder());
  EXPECT_EQ(log.LogFolder(), log.MainLogPath());
  EXPECT_EQ(log.LogFolder(), log.VerboseLogPath());

  platform.environment[L"SYSTEMDRIVE"] = L"C:\\" + std::wstring(230, L'd');
  CCmpLog2 shorter(platform);
  const std::wstring folder = L"C:\\" + std::wstring(230, L'd') + L"\\riviziduve\\log\\";
  EXPECT_EQ(folder, shorter.LogFolder());
  EXPECT_EQ((folder + L"vorqsetup.log").substr(0, 259), shorter.MainLogPath());
  ASSERT_TRUE(shorter.SetVerboseFileName(std::wstring(100, L'n')));
  EXPECT_EQ((folder + std::wstring(100, L'n')).substr(0, 259), shorter.VerboseLogPath());
  EXPECT_EQ(shorter.VerboseLogPath(), platform.environment[kVariable]);
}

TEST_F(CmpLog2Test, StubGlobalsBuildTheLogFromTheEnvironmentAtConstruction) {
  platform.environment[kVariable] = L"C:\\inherited.log";
  StubGlobals globals(platform);
  platform.environment.erase(kVariable);  // later changes do not matter
  EXPECT_EQ(1, globals.log.IsVerbose());
  EXPECT_EQ(L"C:\\inherited.log", globals.log.VerboseLogPath());
}

// --- Verbose switch ------------------------------------------------------------------------------

TEST_F(CmpLog2Test, SetVerboseFileNamePublishesThePathToLaterProcesses) {
  CCmpLog2 log(platform);
  ASSERT_TRUE(log.SetVerboseFileName(L"pkg.exe.log"));
  EXPECT_EQ(1, log.IsVerbose());
  EXPECT_EQ(kFolder + L"pkg.exe.log", log.VerboseLogPath());
  EXPECT_EQ(kFolder + L"pkg.exe.log", platform.environment[kVariable]);

  // A process started now (the installer) inherits the environment and logs to the same file.
  CCmpLog2 child(platform);
  EXPECT_EQ(1, child.IsVerbose());
  EXPECT_EQ(kFolder + L"pkg.exe.log", child.VerboseLogPath());

  ASSERT_EQ(0u, log.Open());
  ASSERT_EQ(0u, child.Open());
  log.Write(CMPLOG2_VERBOSE, CMPLOG2_INFO, L"stub.cpp", 1, L"stub\r\n");
  child.Write(CMPLOG2_VERBOSE, CMPLOG2_INFO, L"setup.cpp", 2, L"installer\r\n");
  EXPECT_EQ("[17:52:07]::stub.cpp[1] stub\r\n[17:52:07]::setup.cpp[2] installer\r\n",
            Bytes(kFolder + L"pkg.exe.log"));
}

TEST_F(CmpLog2Test, SetVerboseFileNameReportsAnEnvironmentFailureButStillSwitchesOn) {
  platform.faults.failEnvironmentSet = true;
  CCmpLog2 log(platform);
  EXPECT_FALSE(log.SetVerboseFileName(L"pkg.exe.log"));
  EXPECT_EQ(1, log.IsVerbose());
  EXPECT_EQ(kFolder + L"pkg.exe.log", log.VerboseLogPath());
  EXPECT_EQ(0u, platform.environment.count(kVariable));
}

TEST_F(CmpLog2Test, EnableVerboseOpensTheDefaultVerboseLog) {
  CCmpLog2 log(platform);
  log.EnableVerbose();
  EXPECT_EQ(1, log.IsVerbose());
  ASSERT_EQ(0u, log.Open());
  log.Write(CMPLOG2_VERBOSE, CMPLOG2_INFO, nullptr, 3, L"v\r\n");
  EXPECT_EQ("[17:52:07]::[3] v\r\n", Bytes(kDefaultVerbose));
  // Enabling does not touch the environment: only an explicit name is handed to children.
  EXPECT_EQ(0u, platform.environment.count(kVariable));
}

// --- Open and Close -------------------------------------------------------------------------------

TEST_F(CmpLog2Test, OpenFailsWith103WhenTheMainLogCannotBeOpened) {
  struct Case {
    const char* what;
    void (*arrange)(testenv::TestPlatform&);
  };
  const Case cases[] = {
      {"log folder is a file", [](testenv::TestPlatform& m) { m.AddFile(L"C:\\riviziduve\\log", "x"); }},
      {"system drive missing", [](testenv::TestPlatform& m) { m.environment[L"SYSTEMDRIVE"] = L"Q:"; }},
      {"main log is a folder", [](testenv::TestPlatform& m) { m.AddFolder(kMain); }},
  };
  for (const Case& c : cases) {
    testenv::TestPlatform machine;
    c.arrange(machine);
    machine.environment[kVariable] = L"C:\\verbose.log";
    CCmpLog2 log(machine);
    EXPECT_EQ(103u, log.Open()) << c.what;
    // The verbose log is not tried after the main log failed, and nothing is open.
    EXPECT_FALSE(machine.Exists(L"C:\\verbose.log")) << c.what;
    EXPECT_EQ(0, machine.openFiles()) << c.what;
    log.Write(CMPLOG2_BOTH, CMPLOG2_ERROR, nullptr, 0, L"lost\r\n");
    EXPECT_FALSE(machine.Exists(L"C:\\verbose.log")) << c.what;
  }
}

TEST_F(CmpLog2Test, VerboseLogThatCannotBeOpenedLeavesTheMainLogWorking) {
  // An inherited path whose folder does not exist: that folder is not created.
  platform.environment[kVariable] = L"C:\\missing\\trace.log";
  CCmpLog2 log(platform);
  EXPECT_EQ(103u, log.Open());
  EXPECT_FALSE(platform.Exists(L"C:\\missing"));
  log.Write(CMPLOG2_BOTH, CMPLOG2_WARNING, kExtractSource, 5, L"still logged\r\n");
  EXPECT_EQ("**WARNING** - still logged\r\n", MainBytes());
}

TEST_F(CmpLog2Test, OpenCreatesOnlyTheMissingLevelsOfTheFolder) {
  platform.AddFile(L"C:\\riviziduve\\keep.txt", "k");
  CCmpLog2 log(platform);
  ASSERT_EQ(0u, log.Open());
  EXPECT_TRUE(platform.IsFolder(L"C:\\riviziduve\\log"));
  EXPECT_EQ("k", Bytes(L"C:\\riviziduve\\keep.txt"));
}

TEST_F(CmpLog2Test, ForwardSlashesSeparateFolderLevelsToo) {
  platform.environment[L"SYSTEMDRIVE"] = L"C:/a/b";
  CCmpLog2 log(platform);
  ASSERT_EQ(0u, log.Open());
  EXPECT_TRUE(platform.IsFolder(L"C:\\a\\b\\riviziduve\\log"));
  log.Write(CMPLOG2_MAIN, CMPLOG2_INFO, nullptr, 0, L"deep\r\n");
  EXPECT_EQ("deep\r\n", Bytes(L"C:\\a\\b\\riviziduve\\log\\vorqsetup.log"));
}

TEST_F(CmpLog2Test, WritesBeforeOpenAndAfterCloseChangeNothing) {
  platform.AddFile(kMain, "earlier run\r\n");
  platform.AddFile(kDefaultVerbose, "earlier verbose\r\n");
  CCmpLog2 log(platform);
  log.EnableVerbose();
  log.Write(CMPLOG2_BOTH, CMPLOG2_ERROR, kExtractSource, 1, L"before open\r\n");
  EXPECT_EQ("earlier run\r\n", MainBytes());
  EXPECT_EQ("earlier verbose\r\n", Bytes(kDefaultVerbose));

  ASSERT_EQ(0u, log.Open());
  EXPECT_EQ(2, platform.openFiles());
  log.Close();
  EXPECT_EQ(0, platform.openFiles());
  log.Write(CMPLOG2_BOTH, CMPLOG2_ERROR, kExtractSource, 2, L"after close\r\n");
  log.Write(CMPLOG2_BOTH_CONT, CMPLOG2_INFO, nullptr, 0, L"after close\r\n");
  log.Close();  // again: harmless
  EXPECT_EQ("earlier run\r\n", MainBytes());
  EXPECT_EQ("earlier verbose\r\n", Bytes(kDefaultVerbose));
}

TEST_F(CmpLog2Test, DestructorClosesTheFiles) {
  {
    CCmpLog2 log(platform);
    log.EnableVerbose();
    ASSERT_EQ(0u, log.Open());
    EXPECT_EQ(2, platform.openFiles());
  }
  EXPECT_EQ(0, platform.openFiles());
}

// --- What lands in the files ----------------------------------------------------------------------

TEST_F(CmpLog2Test, EveryDestinationAndSeverityWritesExactlyItsBytes) {
  // What each destination sends to each file.
  enum Part { kNothing, kMarked, kPrefixed };
  struct Destination {
    uint32_t value;
    Part main;
    Part verbose;
  };
  const Destination destinations[] = {
      {CMPLOG2_MAIN, kMarked, kNothing},       {CMPLOG2_VERBOSE, kNothing, kPrefixed},
      {CMPLOG2_VERBOSE_CONT, kNothing, kMarked}, {CMPLOG2_BOTH, kMarked, kPrefixed},
      {CMPLOG2_BOTH_CONT, kMarked, kMarked},   {5, kNothing, kNothing},
      {0xFFFFFFFFu, kNothing, kNothing},
  };
  struct Severity {
    int32_t value;
    std::string marker;
  };
  const Severity severities[] = {
      {CMPLOG2_INFO, ""},
      {CMPLOG2_WARNING, "**WARNING** - "},
      {CMPLOG2_ERROR, "**ERROR** - "},
      {CMPLOG2_CRITICAL, "**CRITICAL** - "},
      {4, ""},
      {-1, ""},
  };
  const std::string message = "Failed! code 7 at C:\\x\r\n\r\n";
  for (const Destination& d : destinations) {
    for (const Severity& s : severities) {
      testenv::TestPlatform machine;
      CCmpLog2 log(machine);
      ASSERT_TRUE(log.SetVerboseFileName(L"pkg.exe.log"));
      ASSERT_EQ(0u, log.Open());
      log.Write(d.value, s.value, kExtractSource, 252, L"Failed! code %d at %s\r\n\r\n", 7, L"C:\\x");

      const auto expected = [&](Part part) -> std::string {
        switch (part) {
          case kMarked: return s.marker + message;
          case kPrefixed: return "[17:52:07]::extract.cpp[252] " + s.marker + message;
          default: return "";
        }
      };
      const std::string where = "destination " + std::to_string(d.value) + ", severity " + std::to_string(s.value);
      EXPECT_EQ(expected(d.main), machine.FileBytes(kMain)) << where;
      EXPECT_EQ(expected(d.verbose), machine.FileBytes(kFolder + L"pkg.exe.log")) << where;
    }
  }
}

TEST_F(CmpLog2Test, PrefixNamesOnlyTheSourceFileNameAndExtension) {
  struct Case {
    const wchar_t* source;
    std::string shown;
  };
  const Case cases[] = {
      {nullptr, ""},
      {L"", ""},
      {L"stub.cpp", "stub.cpp"},
      {L"..\\..\\src\\setup\\misc.cpp", "misc.cpp"},
      {L"/work/main/src/setup/extract.cpp", "extract.cpp"},
      {L"C:misc.cpp", "misc.cpp"},
      {L"D:\\build\\src/setup\\stub.cpp", "stub.cpp"},
  };
  for (const Case& c : cases) {
    testenv::TestPlatform machine;
    CCmpLog2 log(machine);
    log.EnableVerbose();
    ASSERT_EQ(0u, log.Open());
    log.Write(CMPLOG2_BOTH, CMPLOG2_INFO, c.source, -3, L"m\r\n");
    EXPECT_EQ("[17:52:07]::" + c.shown + "[-3] m\r\n", machine.FileBytes(kDefaultVerbose)) << c.shown;
    EXPECT_EQ("m\r\n", machine.FileBytes(kMain));
  }
}

TEST_F(CmpLog2Test, ThePrefixUsesTheCurrentTimeOfEachWrite) {
  CCmpLog2 log(platform);
  log.EnableVerbose();
  ASSERT_EQ(0u, log.Open());
  log.Write(CMPLOG2_BOTH, CMPLOG2_INFO, L"a.cpp", 1, L"one ");
  log.Write(CMPLOG2_BOTH_CONT, CMPLOG2_INFO, L"a.cpp", 2, L"done\r\n");
  platform.timeText = L"08:00:59";
  log.Write(CMPLOG2_BOTH, CMPLOG2_CRITICAL, L"a.cpp", 3, L"two\r\n");
  EXPECT_EQ("[17:52:07]::a.cpp[1] one done\r\n[08:00:59]::a.cpp[3] **CRITICAL** - two\r\n",
            Bytes(kDefaultVerbose));
  EXPECT_EQ("one done\r\n**CRITICAL** - two\r\n", MainBytes());
}

TEST_F(CmpLog2Test, TextIsWrittenInTheAnsiCodePageWithReplacements) {
  CCmpLog2 log(platform);
  ASSERT_EQ(0u, log.Open());
  log.Write(CMPLOG2_MAIN, CMPLOG2_INFO, nullptr, 0, L"Gr\u00FC\u00DFe %s \u20AC \u4E2D\u6587 \u0394\r\n",
            L"\u00E9t\u00E9 \u2603");
  EXPECT_EQ("Gr\xFC\xDF" "e \xE9t\xE9 ? \x80 ?? ?\r\n", MainBytes());
}

TEST_F(CmpLog2Test, LongMessagesAreWrittenWhole) {
  CCmpLog2 log(platform);
  log.EnableVerbose();
  ASSERT_EQ(0u, log.Open());
  const std::wstring body(3000, L'b');
  log.Write(CMPLOG2_BOTH, CMPLOG2_INFO, nullptr, 0, L"[%s]%s\r\n", body.c_str(), body.c_str());
  const std::string expected = "[" + std::string(3000, 'b') + "]" + std::string(3000, 'b') + "\r\n";
  EXPECT_EQ(expected, MainBytes());
  EXPECT_EQ("[17:52:07]::[0] " + expected, Bytes(kDefaultVerbose));
}

TEST_F(CmpLog2Test, EmptyExpansionWritesNothingButTheMarker) {
  CCmpLog2 log(platform);
  ASSERT_EQ(0u, log.Open());
  log.Write(CMPLOG2_MAIN, CMPLOG2_INFO, nullptr, 0, L"");
  log.Write(CMPLOG2_MAIN, CMPLOG2_INFO, nullptr, 0, L"%s", L"");
  log.Write(CMPLOG2_MAIN, CMPLOG2_ERROR, nullptr, 0, L"%s", L"");
  EXPECT_EQ("**ERROR** - ", MainBytes());
}

TEST_F(CmpLog2Test, AppendsAfterWhatIsAlreadyThere) {
  platform.AddFile(kMain, "line of an earlier run\r\n");
  CCmpLog2 log(platform);
  ASSERT_EQ(0u, log.Open());
  log.Write(CMPLOG2_MAIN, CMPLOG2_INFO, nullptr, 0, L"new\r\n");
  EXPECT_EQ("line of an earlier run\r\nnew\r\n", MainBytes());
}

TEST_F(CmpLog2Test, EveryWriteGoesToTheEndEvenWhenAnotherWriterAppended) {
  // Two writers on the same files, like the stub and its installer.
  CCmpLog2 stub(platform);
  CCmpLog2 installer(platform);
  stub.EnableVerbose();
  installer.EnableVerbose();
  ASSERT_EQ(0u, stub.Open());
  ASSERT_EQ(0u, installer.Open());
  stub.Write(CMPLOG2_BOTH, CMPLOG2_INFO, L"stub.cpp", 1, L"stub one\r\n");
  installer.Write(CMPLOG2_BOTH, CMPLOG2_ERROR, L"setup.cpp", 2, L"installer one\r\n");
  stub.Write(CMPLOG2_BOTH, CMPLOG2_INFO, L"stub.cpp", 3, L"stub two\r\n");
  EXPECT_EQ("stub one\r\n**ERROR** - installer one\r\nstub two\r\n", MainBytes());
  EXPECT_EQ(
      "[17:52:07]::stub.cpp[1] stub one\r\n"
      "[17:52:07]::setup.cpp[2] **ERROR** - installer one\r\n"
      "[17:52:07]::stub.cpp[3] stub two\r\n",
      Bytes(kDefaultVerbose));
}

TEST_F(CmpLog2Test, PrefixAndMessageAreSeparateWrites) {
  CCmpLog2 log(platform);
  log.EnableVerbose();
  ASSERT_EQ(0u, log.Open());
  // Room on the disk for the prefix only: the prefix lands, the message that follows does not.
  const std::string prefix = "[17:52:07]::a.cpp[1] **ERROR** - ";
  platform.faults.diskBytesLeft = static_cast<int64_t>(prefix.size());
  log.Write(CMPLOG2_VERBOSE, CMPLOG2_ERROR, L"a.cpp", 1, L"message\r\n");
  EXPECT_EQ(prefix, Bytes(kDefaultVerbose));

  // In the main log the marker alone fits the same way.
  platform.faults.diskBytesLeft = 12;
  log.Write(CMPLOG2_MAIN, CMPLOG2_ERROR, nullptr, 0, L"message\r\n");
  EXPECT_EQ("**ERROR** - ", MainBytes());
}

TEST_F(CmpLog2Test, AFileOpenedAgainKeepsAppending) {
  CCmpLog2 log(platform);
  ASSERT_EQ(0u, log.Open());
  log.Write(CMPLOG2_MAIN, CMPLOG2_INFO, nullptr, 0, L"first\r\n");
  ASSERT_EQ(0u, log.Open());  // a second run without Close in between
  EXPECT_EQ(1, platform.openFiles());
  log.Write(CMPLOG2_MAIN, CMPLOG2_INFO, nullptr, 0, L"second\r\n");
  EXPECT_EQ("first\r\nsecond\r\n", MainBytes());
}

// --- Run header, footer and the free functions ---------------------------------------------------

std::string Header(const std::string& version) {
  return kRule +
         "\r\n"
         "Source:          pkg.exe\r\n"
         "Version:         " +
         version +
         "\r\n"
         "Log Date:        12/11/2026 17:52:07\r\n"
         "\r\n"
         "Log Session Start...\r\n"
         "\r\n";
}

std::string Footer(const std::string& time, int code) {
  return "\r\n\r\nLog Session End. [" + time + "]\r\nReturn Code (" + std::to_string(code) + ")\r\n" + kRule +
         "\r\n\r\n";
}

TEST_F(CmpLog2Test, RunHeaderNamesTheStubItsVersionAndTheDate) {
  struct Case {
    bool hasVersion;
    uint16_t parts[4];
    std::string shown;
  };
  const Case cases[] = {
      {true, {1, 0, 0, 0}, "1.0.0.0"},
      {true, {10, 2, 300, 4000}, "10.2.300.4000"},
      {true, {65535, 65535, 65535, 65535}, "65535.65535.65535.65535"},
      {false, {1, 2, 3, 4}, ""},
  };
  for (const Case& c : cases) {
    testenv::TestPlatform machine;
    machine.hasVersionResource = c.hasVersion;
    std::copy(c.parts, c.parts + 4, machine.fileVersion);
    CCmpLog2 log(machine);
    log.EnableVerbose();
    ASSERT_EQ(0u, log.Open());
    WriteRunHeader(machine, log);
    // No prefix in the verbose log either: the header is written as a continuation.
    EXPECT_EQ(Header(c.shown), machine.FileBytes(kMain)) << c.shown;
    EXPECT_EQ(Header(c.shown), machine.FileBytes(kDefaultVerbose)) << c.shown;
  }
}

TEST_F(CmpLog2Test, SecondRunAppendsItsHeaderBelowTheFirstFooter) {
  CCmpLog2 log(platform);
  ASSERT_EQ(0u, log.Open());
  WriteRunHeader(platform, log);
  log.Write(CMPLOG2_BOTH, CMPLOG2_ERROR, kExtractSource, 252, L"Failed!\r\n\r\n");
  WriteRunFooter(platform, log, 0);
  log.Close();

  platform.timeText = L"18:00:00";
  ASSERT_EQ(0u, log.Open());
  WriteRunHeader(platform, log);
  WriteRunFooter(platform, log, 2);
  log.Close();

  std::string second = Header("1.0.0.0");
  second.replace(second.find("17:52:07"), 8, "18:00:00");
  EXPECT_EQ(Header("1.0.0.0") + "**ERROR** - Failed!\r\n\r\n" + Footer("17:52:07", 0) + second +
                Footer("18:00:00", 2),
            MainBytes());
}

TEST_F(CmpLog2Test, FreeFunctionsReadTheMachine) {
  EXPECT_EQ(L"17:52:07", GetLogTime(platform));
  EXPECT_EQ(L"12/11/2026 17:52:07", GetLogDateTime(platform));
  EXPECT_EQ(L"pkg.exe", GetStubFileName(platform));
  platform.modulePath = L"D:\\deploy\\Firmware Update v2.exe";
  EXPECT_EQ(L"Firmware Update v2.exe", GetStubFileName(platform));

  // Texts longer than their 255-character buffers are cut.
  platform.timeText = std::wstring(300, L't');
  EXPECT_EQ(std::wstring(254, L't'), GetLogTime(platform));
  EXPECT_EQ((L"12/11/2026 " + std::wstring(254, L't')).substr(0, 254), GetLogDateTime(platform));
}

TEST_F(CmpLog2Test, StubFileVersionNeedsRoomAndAResource) {
  struct Case {
    bool hasVersion;
    size_t capacity;
    bool ok;
    std::wstring text;
  };
  const Case cases[] = {
      {true, 32, true, L"65535.65535.65535.65535"},
      {true, 24, true, L"65535.65535.65535.65535"},
      {true, 23, true, L"65535.65535.65535.6553"},
      {true, 10, true, L"65535.655"},
      {true, 9, false, L"untouched"},
      {true, 0, false, L"untouched"},
      {false, 32, false, L"untouched"},
  };
  for (const Case& c : cases) {
    testenv::TestPlatform machine;
    machine.hasVersionResource = c.hasVersion;
    std::fill(machine.fileVersion, machine.fileVersion + 4, uint16_t{65535});
    std::wstring version = L"untouched";
    EXPECT_EQ(c.ok, GetStubFileVersion(machine, &version, c.capacity)) << c.capacity;
    EXPECT_EQ(c.text, version) << c.capacity;
  }
}

}  // namespace
