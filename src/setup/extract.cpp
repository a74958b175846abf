#include "setup/extract.h"

#include "log/wformat.h"
#include "setup/checks.h"
#include "setup/launch.h"
#include "setup/misc.h"
#include "setup/register.h"
#include "setup/stub.h"

namespace {

constexpr uint32_t kStringCaption = 1;
constexpr uint32_t kStringLogNotOpened = 709;
constexpr uint32_t kStringDiskSpace = 1003;
constexpr uint32_t kStringExtractFailed = 1005;
constexpr uint32_t kProgressWaitMs = 2000;

#define LOG(destination, severity, ...) \
  globals.log.Write(destination, severity, CMPLOG2_SOURCE, __LINE__, __VA_ARGS__)

// The file name part of a path.
std::wstring FileNamePart(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}


// Copies the file named by /config_file into the extraction folder under its own name. A failed
// copy is only logged: the installer may not need it.
void CopyConfigFile(StubGlobals& globals, const std::wstring& folder) {
  const std::wstring& source = globals.options.configFilePath;
  LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"CFG file option passed...begin process...\r\n\r\n");
  LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Copying CFG file...\r\n\r\n");
  const std::wstring target = JoinPath(folder, FileNamePart(source)).substr(0, 260);
  const bool copied = globals.platform.Files().CopyFile(source, target, false);
  LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Copy CFG file returncode[%d] copyFileName[%s] newPath[%s]\r\n\r\n", copied ? 1 : 0,
      source.c_str(), target.c_str());
}

// Moves the extraction progress bar: the entry number over the number of entries, in percent.
bool ExtractProgressCallback(void* context, const vorqzip::ExtractProgressInfo* info) {
  auto* progress = static_cast<std::pair<port::UserInterface*, port::WindowHandle>*>(context);
  if (!progress || !progress->second || !info || info->total == 0) return true;
  const float index = static_cast<float>(info->index);
  const float total = static_cast<float>(info->total);
  progress->first->SetProgress(progress->second, static_cast<int>(static_cast<double>(index / total) * 100.0));
  return true;
}

}  // namespace

bool WriteEmbeddedConfigFile(StubGlobals& globals) {
  const CPPkg& package = globals.package;
  if (!package.HasConfigUI()) return true;
  const std::wstring& name = package.GetConfigFileName();
  if (name.empty()) return true;
  if (!globals.archive.FindEntry(name)) return true;
  const ConfigData& data = package.GetConfigData();
  if (!data.isByteArray) return false;
  std::unique_ptr<port::File> file =
      globals.platform.Files().CreateForWrite(name, port::CreateMode::kCreateAlways, port::ShareMode::kExclusive);
  if (!file) return false;
  uint32_t written = 0;
  const uint32_t size = static_cast<uint32_t>(data.bytes.size());
  return file->Write(data.bytes.data(), size, &written) && written == size;
}

uint64_t GetPackageUnpackedSize(StubGlobals& globals) {
  vorqzip::ZIP_File archive(globals.platform.Files(), globals.platform.System());
  const std::wstring stubPath = globals.platform.Procs().ModuleFileName(kPathCapacity - 1);
  if (archive.Open(stubPath) != vorqzip::ZIP_OK) return 0;
  uint64_t total = 0;
  vorqzip::ZIP_EnumCursor* cursor = archive.BeginEnum();
  while (vorqzip::ZIP_FileEntry* entry = archive.NextEntry(cursor)) total += entry->uncompressedSize;
  vorqzip::ZIP_File::EndEnum(cursor);
  return total;
}

bool CheckDiskSpace(StubGlobals& globals, port::WindowHandle owner, bool installMode, bool silent) {
  port::Platform& platform = globals.platform;
  if (installMode) {
    LOG(CMPLOG2_BOTH, CMPLOG2_INFO,
        L"Verifying required disk space for Zarnic Component Installation is available...\r\n\r\n");
  }
  uint64_t available = 0;
  if (!platform.Files().GetFreeSpace(platform.Files().GetCurrentDirectory(), &available)) available = 0;
  const uint64_t required = GetPackageUnpackedSize(globals);
  if (available > required) {
    if (installMode) LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Required disk space is available. Success.\r\n\r\n");
    return true;
  }
  // The message shows each number's low 32 bits.
  const std::wstring text = platform.Ui().LoadString(kStringDiskSpace, 1024);
  const std::wstring message =
      FormatWide(text.c_str(), static_cast<uint32_t>(required), static_cast<uint32_t>(available),
                 static_cast<uint32_t>(required - available));
  if (!silent) {
    const std::wstring caption = platform.Ui().LoadString(kStringCaption, 260);
    platform.Ui().MessageBox(owner, message, caption, port::kMbIconExclamation);
  }
  if (installMode) {
    LOG(CMPLOG2_BOTH, CMPLOG2_ERROR, L"%s", message.c_str());
    LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Installation Halted...ERROR CODE (0)...\r\n\r\n");
  }
  return false;
}

namespace {

// The part of a run from its extraction folder to its result; the caller writes the footer.
int32_t RunFromFolder(StubGlobals& globals, port::WindowHandle owner, const std::wstring* folder, bool installMode,
                      bool silent) {
  port::Platform& platform = globals.platform;
  port::UserInterface& ui = platform.Ui();
  const SetupOptions& options = globals.options;
  const std::wstring savedDirectory = platform.Files().GetCurrentDirectory();

  std::wstring target;
  if (!installMode) {
    // Choosing a folder in the folder browser belongs to the main dialog's Extract command.
    if (!folder) return kCompletionFailed;
    target = *folder;  // used as given: it must exist
  } else {
    const std::wstring stubName = GetStubFileName(platform);
    LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Creating extraction directory for Zarnic Component [%s]...\r\n\r\n",
        stubName.c_str());
    if (options.useInstallPath) {
      target = options.installPath;
      if (target.empty() || !CreateFolderTree(platform, target)) {
        LOG(CMPLOG2_BOTH, CMPLOG2_ERROR, L"Unable to create extraction directory for Zarnic Component [%s]...\r\n\r\n",
            stubName.c_str());
        LOG(CMPLOG2_BOTH, CMPLOG2_ERROR, L"Installation Halted...FAILURE CODE (0)...\r\n\r\n");
        return kCompletionFailed;
      }
    } else if (!CreateGuidTempFolder(platform, 260, &target)) {
      LOG(CMPLOG2_BOTH, CMPLOG2_ERROR, L"Unable to create extraction directory [%s].\r\n\r\n", target.c_str());
      LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Installation Halted...FAILURE CODE (0)...\r\n\r\n");
      return kCompletionFailed;
    }
    LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Extraction Directory Creation... Success.\r\n\r\n");
    LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Changing current directory to extraction directory [%s]... ", target.c_str());
  }

  // An empty folder name would extract into whatever folder happens to be current.
  if (target.empty() || !platform.Files().SetCurrentDirectory(target)) {
    if (installMode) {
      LOG(CMPLOG2_BOTH_CONT, CMPLOG2_INFO, L"Failed!\r\n\r\n");
      LOG(CMPLOG2_BOTH, CMPLOG2_ERROR, L"Installation Halted...ERROR CODE (0)\r\n\r\n");
    }
    return kCompletionFailed;
  }
  if (installMode) LOG(CMPLOG2_BOTH_CONT, CMPLOG2_INFO, L"Success.\r\n\r\n");

  if (!CheckDiskSpace(globals, owner, installMode, silent)) return kCompletionFailed;

  port::WindowHandle progress = silent ? nullptr : ui.CreateProgressDialog(owner);
  if (installMode) {
    LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Component XML file = [%s]\r\n\r\n", globals.definitionFileName.c_str());
    LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Extracting component contents...\r\n\r\n");
  }
  std::pair<port::UserInterface*, port::WindowHandle> bar(&ui, progress);
  if (globals.archive.ExtractAll(target, &ExtractProgressCallback, progress ? &bar : nullptr) != vorqzip::ZIP_OK) {
    if (!silent) {
      ShowMessageById(globals, owner, kStringExtractFailed, kStringCaption, port::kMbIconError);
      if (progress) ui.DestroyWindow(progress);
      ui.DestroyWindow(owner);
    }
    if (installMode) {
      const std::wstring text = ui.LoadString(kStringExtractFailed, 260);
      LOG(CMPLOG2_BOTH, CMPLOG2_ERROR, L"%s\r\n", text.c_str());
      LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Installation Halted...ERROR CODE (0)...\r\n\r\n");
      // The current folder is the one being removed; what cannot go now goes at the restart.
      RemoveTree(platform, target);
    }
    return kCompletionFailed;
  }
  if (installMode) LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Extracting component contents complete. Success.\r\n\r\n");

  if (options.configFilePresent) {
    CopyConfigFile(globals, target);
  } else {
    if (installMode) LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Extracting configuration file...\r\n\r\n");
    if (!WriteEmbeddedConfigFile(globals)) {
      if (!silent) {
        ShowMessageById(globals, owner, kStringExtractFailed, kStringCaption, port::kMbIconError);
        if (progress) ui.DestroyWindow(progress);
        ui.DestroyWindow(owner);
      }
      if (installMode) {
        LOG(CMPLOG2_BOTH, CMPLOG2_ERROR,
            L"Dravik Package Setup was unable to extract the configuration file properly.  Installation will not "
            L"continue.\r\n\r\n");
        LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Installation Halted...ERROR CODE (0)...\r\n\r\n");
        RemoveTree(platform, target);
      }
      return kCompletionFailed;
    }
    if (installMode) LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Extracting configuration file complete. Success.\r\n\r\n");
  }

  port::WindowHandle trayWindow = owner ? owner : ui.DesktopWindow();
  if (installMode) {
    const wchar_t* name = globals.package.GetName();
    ui.AddTrayIcon(trayWindow, globals.smallIcon, name ? std::wstring(name).substr(0, 127) : std::wstring());
  }
  if (!silent) {
    if (progress) {
      ui.SetProgress(progress, 100);
      // The full bar stays up a moment; the windows keep painting meanwhile.
      for (uint32_t waited = 0; waited < kProgressWaitMs; waited += 100) {
        ui.PumpMessages();
        platform.System().Sleep(100);
      }
      ui.DestroyWindow(progress);
    }
    if (installMode && owner) ui.SetWindowState(owner, port::UserInterface::WindowState::kMinimizeAndHide);
  }

  int32_t result = kCompletionInstalled;
  if (installMode) {
    result = LaunchInstaller(globals, owner, silent, target);
    LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Restoring current directory [%s]... ", savedDirectory.c_str());
  }
  platform.Files().SetCurrentDirectory(savedDirectory);
  if (!installMode) return result;

  LOG(CMPLOG2_BOTH_CONT, CMPLOG2_INFO, L"Done.\r\n");
  platform.System().Sleep(kProgressWaitMs);
  RemoveTree(platform, target);
  return result;
}

}  // namespace

int32_t RunInstallation(StubGlobals& globals, port::WindowHandle owner, const std::wstring* folder, bool installMode,
                        bool silent) {
  if (!installMode) return RunFromFolder(globals, owner, folder, false, silent);

  port::Platform& platform = globals.platform;
  const SetupOptions& options = globals.options;
  std::wstring verboseName;
  if (options.verboseLog) {
    verboseName = (GetStubFileName(platform) + L".log").substr(0, 260);
    globals.log.SetVerboseFileName(verboseName);
  }
  if (globals.log.Open() != 0 && !IsWinPE(platform)) {
    if (silent) return kCompletionFailed;
    ShowMessageById(globals, nullptr, kStringLogNotOpened, kStringCaption, port::kMbIconExclamation);
  }
  WriteRunHeader(platform, globals.log);
  if (options.verboseLog) {
    LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Successfully created verbose log file [%s]\r\n\r\n", verboseName.c_str());
  }

  int32_t result = kCompletionFailed;
  const wchar_t* disable = globals.package.GetSetting(L"DISABLE_INSTALL_BUTTON");
  const wchar_t* command = globals.package.GetInstallCommand();
  const bool installDisabled = disable && std::wstring(disable) == L"1";
  // The gates in order; the machine checks log their own lines, and the first that fails ends
  // the run with nothing extracted.
  if (!installDisabled && command && *command && CheckWmiService(globals, silent) &&
      CheckVirtualization(globals, silent) && CheckTpmState(globals, silent)) {
    result = RunFromFolder(globals, owner, folder, true, silent);
  }

  WriteRunFooter(platform, globals.log, result);
  globals.log.Close();
  return result;
}
