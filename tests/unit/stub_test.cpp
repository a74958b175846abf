#include "setup/stub.h"

#include <gtest/gtest.h>

#include "platform/testenv/test_platform.h"
#include "setup/misc.h"
#include "zip_builder.h"

namespace {

const wchar_t kNoPackage[] = L"A package definition file was not found.  The file is not a valid Package.";

class StubTest : public ::testing::Test {
 protected:
  void GivePackage() {
    ziptest::ArchiveSpec spec;
    spec.prefix = ziptest::FakeImage(4096);
    ziptest::EntrySpec e;
    e.name = "payload.bin";
    e.data = "firmware";
    spec.entries = {e};
    platform.AddFile(platform.modulePath, ziptest::Build(spec));
  }
  void GivePlainExecutable() { platform.AddFile(platform.modulePath, ziptest::FakeImage(8192)); }
  void ParentIs(const std::wstring& exe) {
    platform.processes = {{1, 0, L"System"}, {700, 1, exe}, {platform.processId, 700, L"pkg.exe"}};
  }
  int Run(const std::wstring& tail) {
    StubGlobals globals(platform);
    const int code = RunStub(globals, reinterpret_cast<port::ModuleHandle>(0x400000), tail);
    lastCompletion = globals.completionCode;
    EXPECT_EQ(nullptr, globals.smallIcon);
    EXPECT_EQ(nullptr, globals.largeIcon);
    return code;
  }
  bool ShowedNoPackageMessage() const {
    return platform.messageBoxes.size() == 1 && platform.messageBoxes[0].text == kNoPackage &&
           platform.messageBoxes[0].caption == L"Package Setup" &&
           platform.messageBoxes[0].style == port::kMbIconError && platform.messageBoxes[0].owner == nullptr;
  }

  testenv::TestPlatform platform;
  int32_t lastCompletion = -1;
};

TEST_F(StubTest, HelpShowsUsageDialogAndExitsOneBeforeAnythingElse) {
  for (const wchar_t* tail : {L"/?", L"/help /silent", L"-h /dosretcode", L"/s --help"}) {
    platform.dialogs.clear();
    platform.dialogCommands = {{1, 2}};  // an unknown command first, then Close
    // No file behind the module path: help must not need the archive.
    EXPECT_EQ(1, Run(tail));
    ASSERT_EQ(1u, platform.dialogs.size());
    const testenv::DialogCall& dialog = platform.dialogs[0];
    EXPECT_EQ(108u, dialog.templateId);
    EXPECT_EQ(testenv::TestPlatform::kDesktop, dialog.owner);
    ASSERT_EQ(2u, dialog.results.size());
    EXPECT_FALSE(dialog.results[0].endDialog);
    EXPECT_TRUE(dialog.results[1].endDialog);
    EXPECT_EQ(3, dialog.endResult);
    EXPECT_EQ(3, lastCompletion) << "Close sets the completion code 3";
    EXPECT_TRUE(platform.messageBoxes.empty());
  }
}

TEST_F(StubTest, FileWithoutArchiveShowsMessageAndExitsZeroEvenSilentOrDos) {
  for (const wchar_t* tail : {L"", L"/silent", L"/s /dosretcode", L"/extract:C:\\out"}) {
    platform.messageBoxes.clear();
    GivePlainExecutable();
    EXPECT_EQ(0, Run(tail));
    EXPECT_TRUE(ShowedNoPackageMessage());
  }
  platform.messageBoxes.clear();
  platform.modulePath = L"C:\\gone\\pkg.exe";
  EXPECT_EQ(0, Run(L"/silent"));
  EXPECT_TRUE(ShowedNoPackageMessage());
}

TEST_F(StubTest, ArchiveOnAgentParentStillExitsZeroWhenUnreadable) {
  GivePlainExecutable();
  ParentIs(L"kivagent.exe");
  EXPECT_EQ(0, Run(L"/silent")) << "early exits are not inverted";
}

TEST_F(StubTest, PackageWithoutDefinitionFailsWithMessageUnlessSilent) {
  GivePackage();
  struct Case {
    const wchar_t* tail;
    int exitCode;
    bool message;
  } cases[] = {
      {L"", 0, true},
      {L"/noprompt", 0, true},
      {L"/silent", 0, false},
      {L"/s /dosretcode", 1, false},
      {L"/dosretcode", 1, true},
  };
  for (const Case& c : cases) {
    platform.messageBoxes.clear();
    EXPECT_EQ(c.exitCode, Run(c.tail));
    EXPECT_EQ(0, lastCompletion);
    EXPECT_EQ(c.message, ShowedNoPackageMessage());
    if (!c.message) EXPECT_TRUE(platform.messageBoxes.empty());
  }
}

TEST_F(StubTest, AgentParentInvertsTheExitCodeInAnyCase) {
  GivePackage();
  for (const wchar_t* agent : {L"kivagent.exe", L"KIVAGENT.EXE", L"KivAgent.Exe"}) {
    ParentIs(agent);
    EXPECT_EQ(1, Run(L"/silent")) << "completion 0 under the agent exits 1";
  }
  ParentIs(L"kivagent.exe.bak");
  EXPECT_EQ(0, Run(L"/silent"));
  ParentIs(L"cmd.exe");
  EXPECT_EQ(0, Run(L"/silent"));
}

TEST_F(StubTest, ExtractOnlyDoesNotLoadThePackageAndIgnoresDosRetCode) {
  GivePackage();
  // No extraction is available in this build: the run reports failure, and the early exit
  // keeps it as is, with no message and no inversion.
  EXPECT_EQ(0, Run(L"/extract:C:\\out /dosretcode"));
  EXPECT_TRUE(platform.messageBoxes.empty());
}

TEST_F(StubTest, StartUpRestrictsDllSearchLoadsRichEditAndReleasesIt) {
  GivePackage();
  Run(L"/silent");
  EXPECT_TRUE(platform.dllSearchRestrictedBeforeLoad);
  EXPECT_EQ(std::vector<std::wstring>{L"riched32.dll"}, platform.loadedLibraries);
  EXPECT_EQ(1, platform.freedLibraries);
  EXPECT_EQ(0x64u, platform.shutdownLevel);
  // A missing library is tolerated and nothing is freed.
  testenv::TestPlatform other;
  other.failLibraryLoad = true;
  StubGlobals globals(other);
  other.dialogCommands = {{2}};
  EXPECT_EQ(1, RunStub(globals, nullptr, L"/?"));
  EXPECT_EQ(0, other.freedLibraries);
}

TEST(ExitCode, Rules) {
  struct Case {
    int32_t completion;
    bool dos, agent;
    int exitCode;
  } cases[] = {
      {0, false, false, 0}, {1, false, false, 1}, {2, false, false, 2}, {3, false, false, 3},
      {1603, false, false, 1603}, {-1, false, false, -1},
      {0, true, false, 1}, {1, true, false, 0}, {2, true, false, 0}, {3, true, false, 0}, {-7, true, false, 0},
      {0, false, true, 1}, {2, false, true, 0}, {0, true, true, 1}, {1, true, true, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.exitCode, ExitCodeFor(c.completion, c.dos, c.agent))
        << c.completion << " dos=" << c.dos << " agent=" << c.agent;
  }
}

TEST(DefinitionName, FromStubPath) {
  EXPECT_EQ(L"package.xml", DefinitionNameForStub(L"C:\\dl\\package.exe"));
  EXPECT_EQ(L"cp012345.xml", DefinitionNameForStub(L"C:\\a.b\\cp012345.EXE"));
  EXPECT_EQ(L"noext.xml", DefinitionNameForStub(L"C:\\dl\\noext"));
  EXPECT_EQ(L"my.pkg.xml", DefinitionNameForStub(L"my.pkg.exe"));
  EXPECT_EQ(std::wstring(255, L'n') + L".xml", DefinitionNameForStub(L"C:\\" + std::wstring(300, L'n') + L".exe"));
}

TEST(PackageLanguage, SystemLocaleNames) {
  struct Case {
    const wchar_t* name;
    const wchar_t* code;
  } cases[] = {{L"French", L"fr"}, {L"SPANISH", L"es"}, {L"German", L"de"}, {L"Italian", L"it"},
               {L"Japanese", L"ja"}, {L"Chinese", L"zh"}, {L"English", L"en"}, {L"Dutch", L"en"},
               {L"Korean", L"en"}, {L"", L"en"}, {L"German (Germany)", L"en"}};
  for (const Case& c : cases) {
    testenv::TestPlatform platform;
    platform.languageName = c.name;
    EXPECT_EQ(c.code, SelectPackageLanguage(platform));
  }
}

TEST(AgentParent, SnapshotWalk) {
  testenv::TestPlatform platform;
  EXPECT_FALSE(IsStartedByAgent(platform)) << "parent explorer.exe";
  platform.processes = {{platform.processId, 77, L"pkg.exe"}, {77, 1, L"kivagent.exe"}};
  EXPECT_TRUE(IsStartedByAgent(platform)) << "parent listed after the child";
  platform.processes = {{77, 1, L"kivagent.exe"}};
  EXPECT_FALSE(IsStartedByAgent(platform)) << "own entry missing";
  platform.processes = {{platform.processId, 77, L"pkg.exe"}};
  EXPECT_FALSE(IsStartedByAgent(platform)) << "parent gone";
  platform.processes = {{platform.processId, 77, L"pkg.exe"}, {77, 1, L"kivagent.exe"}};
  platform.failSnapshot = true;
  EXPECT_FALSE(IsStartedByAgent(platform));
}

TEST(MessageById, LoadsTextAndCaptionInTheUserInterfaceLanguage) {
  testenv::TestPlatform platform;
  platform.uiLanguage = 1041;
  StubGlobals globals(platform);
  platform.messageBoxAnswers = {port::kIdNo};
  EXPECT_EQ(port::kIdNo, ShowMessageById(globals, nullptr, 707, 706, port::kMbYesNo));
  ASSERT_EQ(1u, platform.messageBoxes.size());
  EXPECT_EQ(L"\u518D\u8D77\u52D5\u78BA\u8A8D", platform.messageBoxes[0].caption);  // 再起動確認
  EXPECT_EQ(port::kMbYesNo, platform.messageBoxes[0].style);
  // A language without its own table shows English; placeholders stay as stored.
  platform.uiLanguage = 1031;
  ShowMessageById(globals, nullptr, 1004, 1, port::kMbOk);
  EXPECT_NE(std::wstring::npos, platform.messageBoxes[1].text.find(L"%s"));
  EXPECT_EQ(L"Package Setup", platform.messageBoxes[1].caption);
}

}  // namespace
