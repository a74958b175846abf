#include "setup/stub.h"

#include "setup/extract.h"
#include "setup/misc.h"
#include "ui/dialog_logic.h"

namespace {

constexpr uint32_t kStringCaption = 1;
constexpr uint32_t kStringNoPackage = 1000;
constexpr uint32_t kShutdownLevelLast = 0x64;

// Everything the entry point loaded that must be released on every way out.
class EntryResources {
 public:
  explicit EntryResources(StubGlobals& globals) : globals_(globals) {}
  ~EntryResources() {
    port::Platform& platform = globals_.platform;
    if (richEdit_) platform.Procs().FreeLibrary(richEdit_);
    if (globals_.largeIcon) platform.Ui().DestroyIcon(globals_.largeIcon);
    if (globals_.smallIcon) platform.Ui().DestroyIcon(globals_.smallIcon);
    globals_.largeIcon = nullptr;
    globals_.smallIcon = nullptr;
  }
  void set_rich_edit(port::ModuleHandle module) { richEdit_ = module; }

 private:
  StubGlobals& globals_;
  port::ModuleHandle richEdit_ = nullptr;
};

}  // namespace

int ExitCodeFor(int32_t completionCode, bool dosReturnCode, bool startedByAgent) {
  if (dosReturnCode || startedByAgent) return completionCode == kCompletionFailed ? 1 : 0;
  return completionCode;
}

std::wstring DefinitionNameForStub(const std::wstring& stubPath) {
  const size_t slash = stubPath.find_last_of(L"\\/");
  std::wstring file = slash == std::wstring::npos ? stubPath : stubPath.substr(slash + 1);
  const size_t dot = file.find_last_of(L'.');
  if (dot != std::wstring::npos) file.erase(dot);
  return file.substr(0, 255) + L".xml";
}

int RunStub(StubGlobals& globals, port::ModuleHandle instance, const std::wstring& commandTail) {
  port::Platform& platform = globals.platform;
  // A package is usually started from a download folder: never let a DLL planted there be
  // loaded into this elevated process.
  platform.Procs().RestrictDllSearchToSystem();

  globals.instance = instance;
  globals.smallIcon = nullptr;
  globals.largeIcon = nullptr;
  globals.completionCode = kCompletionInstalled;
  const std::wstring language = SelectPackageLanguage(platform);
  platform.Procs().SetShutdownLevel(kShutdownLevelLast, 0);

  EntryResources resources(globals);
  // The main dialog's description control needs the Rich Edit 1.0 class; a failure shows later
  // as a dialog that cannot be created.
  resources.set_rich_edit(platform.Procs().LoadSystemLibrary(L"riched32.dll"));

  ParseCommandLine(platform, commandTail, &globals.options);
  const SetupOptions& options = globals.options;

  if (options.showHelp) {
    UsageDialogController usage(globals);
    platform.Ui().ShowModalDialog(kDialogUsage, platform.Ui().DesktopWindow(), &usage);
    return 1;
  }

  const std::wstring stubPath = platform.Procs().ModuleFileName(kPathCapacity - 1);
  if (globals.archive.Open(stubPath) != vorqzip::ZIP_OK) {
    ShowMessageById(globals, nullptr, kStringNoPackage, kStringCaption, port::kMbIconError);
    return 0;
  }

  if (options.extractOnly) {
    return RunInstallation(globals, nullptr, &options.extractPath, false, true);
  }

  globals.definitionFileName = DefinitionNameForStub(stubPath);
  bool loaded = globals.package.Load(stubPath.c_str(), globals.definitionFileName.c_str(), language.c_str());
  if (!loaded && FindPackageDefinition(globals.archive, &globals.definitionFileName)) {
    loaded = globals.package.Load(stubPath.c_str(), globals.definitionFileName.c_str(), language.c_str());
  }

  if (loaded) {
    globals.smallIcon = platform.Ui().LoadIcon(kIconStub, true);
    globals.largeIcon = platform.Ui().LoadIcon(kIconStub, false);
    if (options.silent || options.noPrompt) {
      globals.completionCode = RunInstallation(globals, nullptr, nullptr, true, options.silent);
      if (globals.completionCode == kCompletionRestartNeeded && options.reboot) RebootSystem(globals);
    } else {
      // Without /silent or /noprompt the package is offered in the main dialog, which this
      // build does not have yet: nothing is attempted, and the exit code says so.
      globals.completionCode = kCompletionNotAttempted;
    }
  } else {
    if (!options.silent) {
      ShowMessageById(globals, nullptr, kStringNoPackage, kStringCaption, port::kMbIconError);
    }
    globals.log.Write(CMPLOG2_BOTH, CMPLOG2_INFO, CMPLOG2_SOURCE, __LINE__,
                      L"A package definition file was not found.  The file is not a valid Package\r\n");
    globals.log.Write(CMPLOG2_BOTH, CMPLOG2_INFO, CMPLOG2_SOURCE, __LINE__, L"FAIL CODE (0)\r\n");
    globals.completionCode = kCompletionFailed;
  }

  // The parent process is looked at only when /dosretcode has not already decided.
  const bool startedByAgent = !options.dosReturnCode && IsStartedByAgent(platform);
  return ExitCodeFor(globals.completionCode, options.dosReturnCode, startedByAgent);
}
