// Installation runs from the command line, over the emulated machine: every way a run can end,
// with its log, its folder, the installer it starts, the record it leaves and the exit code.
#include <gtest/gtest.h>
#include <zlib.h>

#include "platform/testenv/test_platform.h"
#include "setup/misc.h"
#include "setup/stub.h"
#include "zip_builder.h"

namespace {

const wchar_t kLog[] = L"C:\\riviziduve\\log\\vorqsetup.log";
const wchar_t kRecordParent[] = L"Software\\Dravik\\Version Control\\DravikRevisionManagement\\FwKey";

ziptest::EntrySpec Entry(const std::string& name, const std::string& content) {
  ziptest::EntrySpec e;
  e.name = name;
  e.data = content;
  e.crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size())));
  return e;
}

std::string Definition(const std::string& command = "<command>setup.exe</command><command_params>-q</command_params>") {
  return "<?xml version=\"1.0\"?>\n<vorq_package version=\"2.0.2.0\">\n<filename>pkg.exe</filename>\n"
         "<name><name_xlate lang=\"en\">Firmware Update</name_xlate></name>\n<version value=\"2.1\"/>\n"
         "<installation><install>" + command + "</install></installation>\n"
         "<sw_keys><sw_keys_and><sw_key name=\"FwKey\"><sw_key_expectedpath>firmware:system</sw_key_expectedpath>"
         "</sw_key></sw_keys_and></sw_keys>\n</vorq_package>\n";
}

class InstallRunTest : public ::testing::Test {
 protected:
  void SetUp() override { Give({Entry("pkg.xml", Definition()), Entry("setup.exe", "MZinstaller"), Entry("data/fw.bin", "firmware")}); }
  void Give(std::vector<ziptest::EntrySpec> entries) {
    ziptest::ArchiveSpec spec;
    spec.prefix = ziptest::FakeImage(4096);
    spec.entries = std::move(entries);
    platform.AddFile(platform.modulePath, ziptest::Build(spec));
  }
  int Run(const std::wstring& tail) {
    platform.commandTail = tail;
    StubGlobals globals(platform);
    const int code = RunStub(globals, nullptr, tail);
    completion = globals.completionCode;
    return code;
  }
  std::string Log() const { return platform.FileBytes(kLog); }
  bool LogHas(const std::string& text) const { return Log().find(text) != std::string::npos; }
  // Lines of the log in the order given must all be there, one after another.
  ::testing::AssertionResult LogInOrder(const std::vector<std::string>& lines) const {
    const std::string log = Log();
    size_t at = 0;
    for (const std::string& line : lines) {
      const size_t found = log.find(line, at);
      if (found == std::string::npos) return ::testing::AssertionFailure() << "missing after " << at << ": " << line << "\nlog:\n" << log;
      at = found + line.size();
    }
    return ::testing::AssertionSuccess();
  }
  std::vector<std::wstring> TempFolders() const { return platform.Tree(L"C:\\Users\\admin\\AppData\\Local\\Temp"); }

  testenv::TestPlatform platform;
  int32_t completion = -1;
};

TEST_F(InstallRunTest, SilentRunInstallsRecordsCleansUpAndExitsWithTheCode) {
  std::wstring folderSeen;
  platform.childBehaviour = [&](const port::ProcessStart& start) {
    testenv::ChildBehaviour b;
    folderSeen = start.currentDirectory;
    b.exitCode = 1;
    b.onRun = [&, dir = start.currentDirectory] { EXPECT_EQ("firmware", platform.FileBytes(dir + L"\\data\\fw.bin")); };
    return b;
  };
  const std::wstring before = platform.currentDirectory;
  EXPECT_EQ(1, Run(L"/s /force"));
  ASSERT_EQ(1u, platform.startedChildren.size());
  const port::ProcessStart& start = platform.startedChildren[0].start;
  EXPECT_TRUE(start.hiddenWithOutputPipe);
  EXPECT_EQ(L"\"" + folderSeen + L"\\setup.exe\" -q /s /force", start.commandLine);
  EXPECT_EQ(L"C:\\Users\\admin\\AppData\\Local\\Temp\\{", folderSeen.substr(0, 35));
  EXPECT_TRUE(TempFolders().empty()) << "the extraction folder is removed";
  EXPECT_EQ(before, platform.currentDirectory);
  EXPECT_TRUE(LogInOrder({"===", "Log Session Start...", "Creating extraction directory for Zarnic Component [pkg.exe]...",
                          "Extraction Directory Creation... Success.",
                          "Changing current directory to extraction directory [", "]... Success.\r\n\r\n",
                          "Verifying required disk space", "Required disk space is available. Success.",
                          "Component XML file = [pkg.xml]", "Extracting component contents...",
                          "Extracting component contents complete. Success.", "Extracting configuration file...",
                          "Extracting configuration file complete. Success.", "Building installation command line...",
                          "Building installation command line complete. Success.", "Setup program = [setup.exe]",
                          "Installation command line = [\"", "Setup utility completed in 00hh:00mm:00s",
                          "Process returned completion code of (0x1).",
                          "Completion Code (0x1) -> The Zarnic Component installed Successfully",
                          "Translating return code... No change (0x1).", "Updating component data... ",
                          "Component registry updates complete...success", "Done.\r\n\r\n", "Restoring current directory [",
                          "Done.\r\n", "Log Session End. [", "Return Code (1)"}));
  std::wstring value;
  ASSERT_TRUE(platform.registry.GetValue(std::wstring(kRecordParent) + L"\\0", L"ComponentFileName", &value));
  EXPECT_EQ(L"pkg.exe", value);
  EXPECT_EQ(Definition(), platform.FileBytes(L"C:\\RIVIZIDUVE\\cpxml\\pkg.xml"));
  EXPECT_TRUE(platform.trayIcons.empty());
  EXPECT_EQ(1, platform.trayIconsAdded);
  EXPECT_TRUE(platform.messageBoxes.empty());
  EXPECT_TRUE(platform.progressDialogs.empty()) << "silent runs show no progress";
}

TEST_F(InstallRunTest, CompletionCodesAreTranslatedAndTurnedIntoExitCodes) {
  Give({Entry("pkg.xml", Definition()), Entry("setup.exe", "MZ"),
        Entry("cp_data.xml", "<cp_pkg_data><installation><install><returncode_map>"
                             "<map source=\"3010\" dest=\"2\"/><map source=\"0\" dest=\"3\"/>"
                             "</returncode_map></install></installation></cp_pkg_data>")});
  struct Case {
    uint32_t raw;
    const wchar_t* tail;
    int exitCode;
    const char* line;
  } cases[] = {
      {3010, L"/s", 2, "Translating return code... Changed from 0xBC2 to 0x2."},
      {3010, L"/s /dosretcode", 0, "Completion Code (0xBC2) -> The Zarnic Component returned an unknown completion code."},
      {0, L"/s", 3, "Changed from 0x0 to 0x3."},
      {7, L"/s", 7, "No change (0x7)."},
      {7, L"/s /dosretcode", 0, "No change (0x7)."},
  };
  for (const Case& c : cases) {
    platform.childBehaviour = [&c](const port::ProcessStart&) {
      testenv::ChildBehaviour b;
      b.exitCode = c.raw;
      return b;
    };
    EXPECT_EQ(c.exitCode, Run(c.tail)) << c.raw;
    EXPECT_TRUE(LogHas(c.line)) << c.line;
  }
  EXPECT_TRUE(platform.restartRequests.empty()) << "no /reboot given";
}

TEST_F(InstallRunTest, LogThatCannotOpenEndsASilentRunAtOnce) {
  platform.AddFile(L"C:\\riviziduve", "a file where the log folder belongs");
  EXPECT_EQ(0, Run(L"/s"));
  EXPECT_TRUE(platform.startedChildren.empty());
  EXPECT_TRUE(TempFolders().empty());
  EXPECT_TRUE(platform.messageBoxes.empty());
  // On the preinstallation environment the run goes on without a log.
  platform.registry.AddKey(L"SYSTEM\\CurrentControlSet\\Control\\MiniNT");
  EXPECT_EQ(1, Run(L"/s"));
  EXPECT_EQ(1u, platform.startedChildren.size());
}

TEST_F(InstallRunTest, LogThatCannotOpenIsReportedWhenNotSilent) {
  platform.AddFile(L"C:\\riviziduve", "blocker");
  EXPECT_EQ(1, Run(L"/noprompt"));
  ASSERT_FALSE(platform.messageBoxes.empty());
  EXPECT_EQ(L"The log could not be opened.  Execution will continue, but will not be logged.", platform.messageBoxes[0].text);
  EXPECT_EQ(port::kMbIconExclamation, platform.messageBoxes[0].style);
  EXPECT_FALSE(platform.startedChildren[0].start.hiddenWithOutputPipe);
  ASSERT_EQ(1u, platform.progressDialogs.size());
  EXPECT_EQ(100, platform.progressDialogs[0].positions.back());
  EXPECT_TRUE(platform.progressDialogs[0].destroyed);
}

TEST_F(InstallRunTest, PackageGatesEndTheRunAfterTheHeader) {
  Give({Entry("pkg.xml", Definition()), Entry("setup.exe", "MZ"),
        Entry("cp_data.xml", "<cp_pkg_data><settings><value name=\"DISABLE_INSTALL_BUTTON\" value=\"1\"/></settings></cp_pkg_data>")});
  EXPECT_EQ(0, Run(L"/s"));
  EXPECT_TRUE(LogInOrder({"Log Session Start...", "Log Session End. [", "Return Code (0)"}));
  EXPECT_FALSE(LogHas("Creating extraction directory"));
  Give({Entry("pkg.xml", Definition("<command></command>")), Entry("setup.exe", "MZ")});
  EXPECT_EQ(1, Run(L"/s /dosretcode")) << "no install command: failed, inverted";
  EXPECT_TRUE(platform.startedChildren.empty());
  EXPECT_TRUE(TempFolders().empty());
}

TEST_F(InstallRunTest, InstallPathIsCreatedUsedAndRemoved) {
  std::wstring folderSeen;
  platform.childBehaviour = [&](const port::ProcessStart& start) {
    folderSeen = start.currentDirectory;
    return testenv::ChildBehaviour();
  };
  EXPECT_EQ(1, Run(L"/s /instpath:C:\\deep\\new\\place"));
  EXPECT_EQ(L"C:\\deep\\new\\place", folderSeen);
  EXPECT_FALSE(platform.Exists(L"C:\\deep\\new\\place"));
  EXPECT_TRUE(platform.IsFolder(L"C:\\deep\\new")) << "the parents stay";
  EXPECT_EQ(0, Run(L"/s /instpath:Q:\\nowhere"));
  EXPECT_TRUE(LogInOrder({"**ERROR** - Unable to create extraction directory for Zarnic Component [pkg.exe]...",
                          "**ERROR** - Installation Halted...FAILURE CODE (0)...", "Return Code (0)"}));
}

TEST_F(InstallRunTest, ExtractionFailureReportsRemovesTheFolderAndStops) {
  ziptest::EntrySpec broken = Entry("data/fw.bin", "firmware");
  broken.data = "FIRMWARE";
  Give({Entry("pkg.xml", Definition()), Entry("setup.exe", "MZ"), broken});
  EXPECT_EQ(0, Run(L"/noprompt"));
  EXPECT_TRUE(platform.startedChildren.empty());
  EXPECT_TRUE(TempFolders().empty());
  ASSERT_EQ(1u, platform.messageBoxes.size());
  EXPECT_EQ(L"Package Setup was unable to extract the package properly.  Installation will not continue.",
            platform.messageBoxes[0].text);
  EXPECT_TRUE(platform.progressDialogs[0].destroyed);
  EXPECT_TRUE(LogInOrder({"**ERROR** - Package Setup was unable to extract the package properly.  Installation will not continue.\r\n",
                          "Installation Halted...ERROR CODE (0)...", "Return Code (0)"}));
}

TEST_F(InstallRunTest, EmbeddedConfigurationFileIsWrittenAndCommandLineConfigWins) {
  Give({Entry("pkg.xml", Definition()), Entry("setup.exe", "MZ"), Entry("settings.cfg", "speed=fast\n"),
        Entry("cp_data.xml", "<cp_pkg_data><configuration><configui><filename lang=\"en\">cfgtool.exe</filename></configui>"
                             "<config_file><filename>settings.cfg</filename></config_file></configuration></cp_pkg_data>")});
  std::string seen;
  platform.childBehaviour = [&](const port::ProcessStart& start) {
    testenv::ChildBehaviour b;
    b.onRun = [&, dir = start.currentDirectory] { seen = platform.FileBytes(dir + L"\\settings.cfg"); };
    return b;
  };
  EXPECT_EQ(1, Run(L"/s"));
  EXPECT_EQ("speed=fast\n", seen);
  platform.AddFile(L"C:\\site\\settings.cfg", "speed=slow\n");
  EXPECT_EQ(1, Run(L"/s /config_file C:\\site\\settings.cfg"));
  EXPECT_EQ("speed=slow\n", seen);
  EXPECT_TRUE(LogHas("Copy CFG file returncode[1] copyFileName[C:\\site\\settings.cfg] newPath["));
}

TEST_F(InstallRunTest, InstallerThatCannotStartIsReportedWithItsReason) {
  Give({Entry("pkg.xml", Definition("<command>missing.exe</command>")), Entry("setup.exe", "MZ")});
  EXPECT_EQ(0, Run(L"/s"));
  EXPECT_TRUE(LogInOrder({"**CRITICAL** - CreateProcess FAILED with error 2: The system cannot find the file specified.\r\n",
                          "**CRITICAL** - Install Command was - missing.exe", "**CRITICAL** - Installation Issue...FAILURE CODE (0)",
                          "Translating return code... No change (0x0).", "Return Code (0)"}));
  EXPECT_FALSE(platform.registry.KeyExists(kRecordParent)) << "a failed run records nothing";
  EXPECT_EQ(0, Run(L"/noprompt"));
  ASSERT_EQ(1u, platform.messageBoxes.size());
  EXPECT_EQ(L"Package Setup was unable to start the installation program - missing.exe: The system cannot find the "
            L"file specified.  Installation will not continue.",
            platform.messageBoxes[0].text);
}

TEST_F(InstallRunTest, RestartQuestionDecidesForInteractiveRuns) {
  platform.childBehaviour = [](const port::ProcessStart&) {
    testenv::ChildBehaviour b;
    b.exitCode = 2;
    return b;
  };
  platform.messageBoxAnswers = {port::kIdNo};
  EXPECT_EQ(2, Run(L"/noprompt /reboot"));
  ASSERT_EQ(1u, platform.messageBoxes.size());
  EXPECT_EQ(L"A reboot is required to finish the installation completely.\r\n\r\nDo you want to reboot your system now?",
            platform.messageBoxes[0].text);
  EXPECT_EQ(L"Reboot Confirmation", platform.messageBoxes[0].caption);
  EXPECT_TRUE(platform.restartRequests.empty()) << "No wins over /reboot";
  platform.messageBoxAnswers = {port::kIdYes};
  EXPECT_EQ(2, Run(L"/noprompt"));
  ASSERT_EQ(1u, platform.restartRequests.size());
  EXPECT_EQ(L"Setup is initiating a reboot of your system.", platform.restartRequests[0].message);
}

TEST_F(InstallRunTest, SilentRestartFollowsRebootOption) {
  struct Case {
    uint32_t raw;
    const wchar_t* tail;
    size_t restarts;
  } cases[] = {{2, L"/s", 0}, {2, L"/s /reboot", 1}, {1, L"/s /r", 0}, {3, L"/s /r", 0},
               {2, L"/s /r /reboot_message \"Firmware flash\" /t 30", 1}};
  for (const Case& c : cases) {
    testenv::TestPlatform fresh;
    platform.restartRequests.clear();
    platform.childBehaviour = [&c](const port::ProcessStart&) {
      testenv::ChildBehaviour b;
      b.exitCode = c.raw;
      return b;
    };
    Run(c.tail);
    EXPECT_EQ(c.restarts, platform.restartRequests.size()) << c.raw;
  }
  EXPECT_EQ(L"Firmware flash", platform.restartRequests[0].message);
  EXPECT_EQ(30u, platform.restartRequests[0].timeoutSeconds);
  EXPECT_TRUE(platform.messageBoxes.empty());
}

TEST_F(InstallRunTest, SilentDryRunStartsNothingAndRecordsTheComponent) {
  EXPECT_EQ(1, Run(L"/s /dryrun"));
  EXPECT_TRUE(platform.startedChildren.empty());
  EXPECT_TRUE(LogInOrder({"Dry Run of Installer Component\r\n",
                          "Dry Run of Installer Component...Returning Completion Code (1)...Success\r\n",
                          "Translating return code... No change (0x1)."}));
  EXPECT_FALSE(LogHas("Completion Code (0x"));
  EXPECT_TRUE(platform.registry.KeyExists(std::wstring(kRecordParent) + L"\\0"));
  EXPECT_EQ(1, Run(L"/noprompt /dryrun"));
  EXPECT_EQ(1u, platform.startedChildren.size()) << "a dry run needs /silent";
}

TEST_F(InstallRunTest, CredentialsNeverReachTheLog) {
  EXPECT_EQ(1, Run(L"/s /user operator7 /password:Secret1"));
  EXPECT_NE(std::wstring::npos, platform.startedChildren[0].start.commandLine.find(L"/user operator7 /password:Secret1"));
  EXPECT_TRUE(LogHas("/s /user **** ****]"));
  EXPECT_FALSE(LogHas("Secret1"));
  EXPECT_FALSE(LogHas("operator7"));
}

TEST_F(InstallRunTest, LongAndTalkativeInstallersAreWaitedFor) {
  platform.childBehaviour = [](const port::ProcessStart&) {
    testenv::ChildBehaviour b;
    b.runSeconds = 25 * 3600 + 3 * 60;
    b.outputBytes = 1 << 20;  // far more than a pipe holds
    b.timeoutsBeforeEnd = 5;
    return b;
  };
  EXPECT_EQ(1, Run(L"/s"));
  EXPECT_TRUE(LogHas("Setup utility completed in 01hh:03mm:00s"));
  EXPECT_GE(platform.messagePumps, 5);
  EXPECT_GE(platform.drains, 1);
}

TEST_F(InstallRunTest, VerboseLogIsNamedAfterTheStubAndInherited) {
  EXPECT_EQ(1, Run(L"/s /verbose_log"));
  const std::wstring verbose = L"C:\\riviziduve\\log\\pkg.exe.log";
  EXPECT_TRUE(platform.Exists(verbose));
  EXPECT_EQ(verbose, platform.startedChildren[0].environment[L"CMPLOG2_VERBOSE_FILENAME"]);
  EXPECT_TRUE(LogHas("Successfully created verbose log file [pkg.exe.log]"));
  EXPECT_NE(std::string::npos, platform.FileBytes(verbose).find("]::extract.cpp["));
}

TEST(RebootSystem, WarnsAboutMediaUnlessSilentAndRestarts) {
  struct Case {
    std::map<wchar_t, testenv::TestPlatform::Drive> drives;
    bool silent;
    bool warned;
  } cases[] = {
      {{{L'D', {port::DriveType::kCdRom, true}}}, false, true},
      {{{L'D', {port::DriveType::kCdRom, true}}}, true, false},
      {{{L'D', {port::DriveType::kCdRom, false}}}, false, false},
      {{{L'A', {port::DriveType::kRemovable, true}}}, false, true},
      {{{L'E', {port::DriveType::kRemovable, true}}}, false, false},  // USB sticks do not count
  };
  for (const Case& c : cases) {
    testenv::TestPlatform platform;
    platform.drives = c.drives;
    StubGlobals globals(platform);
    globals.options.silent = c.silent;
    RebootSystem(globals);
    EXPECT_EQ(c.warned ? 1u : 0u, platform.messageBoxes.size());
    if (c.warned) {
      EXPECT_EQ(L"Disks Found in Drives", platform.messageBoxes[0].caption);
      EXPECT_EQ(port::kMbIconExclamation, platform.messageBoxes[0].style);
    }
    EXPECT_EQ(1u, platform.restartRequests.size()) << "the restart goes on after the warning";
    EXPECT_EQ(26u, platform.errorModeWhileProbing.size());
    for (bool quiet : platform.errorModeWhileProbing) EXPECT_TRUE(quiet);
    EXPECT_FALSE(platform.criticalErrorsSuppressed) << "the error mode is restored";
  }
  testenv::TestPlatform denied;
  denied.failShutdownPrivilege = true;
  StubGlobals globals(denied);
  RebootSystem(globals);
  EXPECT_TRUE(denied.restartRequests.empty());
}

}  // namespace

namespace {

TEST_F(InstallRunTest, WithoutSilentOrNopromptNothingIsAttempted) {
  EXPECT_EQ(3, Run(L""));
  EXPECT_EQ(0, Run(L"/dosretcode"));
  EXPECT_TRUE(platform.startedChildren.empty());
  EXPECT_FALSE(platform.Exists(kLog));
}

}  // namespace

namespace {

TEST_F(InstallRunTest, ComStringsThatCannotBeAllocatedEndTheRunInOrder) {
  // A machine whose WMI answers every read the checks make.
  platform.wmi.Objects(L"ROOT\\CIMV2", L"Win32_ComputerSystem").push_back({{L"Manufacturer", testenv::WmiString(L"Maker")}});
  platform.wmi.Objects(L"ROOT\\CIMV2", L"Win32_BIOS").push_back({{L"Manufacturer", testenv::WmiString(L"Maker")}});
  platform.wmi.Objects(L"ROOT\\WMI", L"MSSmBios_RawSMBiosTables")
      .push_back({{L"Size", testenv::WmiInt32(4)}, {L"SMBiosData", testenv::WmiBytes({127, 4, 0, 0})}});
  EXPECT_EQ(1, Run(L"/s")) << "the machine passes every check";
  for (const wchar_t* text : {L"ROOT\\CIMV2", L"Manufacturer", L"SMBiosData"}) {
    platform.wmi.unallocatableStrings = {text};
    platform.messageBoxes.clear();
    const size_t children = platform.startedChildren.size();
    EXPECT_EQ(0, Run(L"/noprompt")) << text;
    EXPECT_EQ(children, platform.startedChildren.size()) << "nothing is installed";
    EXPECT_TRUE(platform.messageBoxes.empty()) << "no further action, no window";
    EXPECT_TRUE(LogInOrder({"Validating WMI service is available...", "Return Code (0)"}));
  }
}

}  // namespace
