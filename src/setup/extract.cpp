#include "setup/extract.h"

#include "log/wformat.h"
#include "setup/misc.h"
#include "setup/stub.h"

namespace {

constexpr uint32_t kStringCaption = 1;
constexpr uint32_t kStringDiskSpace = 1003;
constexpr uint32_t kStringExtractFailed = 1005;

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
  const std::wstring target = (folder + L"\\" + FileNamePart(source)).substr(0, 260);
  const bool copied = globals.platform.Files().CopyFile(source, target, false);
  LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Copy CFG file returncode[%d] copyFileName[%s] newPath[%s]\r\n\r\n", copied ? 1 : 0,
      source.c_str(), target.c_str());
}

}  // namespace

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

int32_t RunInstallation(StubGlobals& globals, port::WindowHandle owner, const std::wstring* folder,
                        bool installMode, bool silent) {
  // Installation runs arrive with the installer launch; until then an installation fails
  // without touching the machine.
  if (installMode) return kCompletionFailed;

  port::Platform& platform = globals.platform;
  const std::wstring savedDirectory = platform.Files().GetCurrentDirectory();
  // Choosing a folder in the folder browser arrives with the main dialog.
  if (!folder) return kCompletionFailed;
  const std::wstring target = *folder;

  // The folder is used as given: it must exist. An empty name would extract into whatever
  // folder happens to be current.
  if (target.empty() || !platform.Files().SetCurrentDirectory(target)) return kCompletionFailed;
  if (!CheckDiskSpace(globals, owner, installMode, silent)) return kCompletionFailed;

  if (globals.archive.ExtractAll(target, nullptr, nullptr) != vorqzip::ZIP_OK) {
    if (!silent) ShowMessageById(globals, owner, kStringExtractFailed, kStringCaption, port::kMbIconError);
    return kCompletionFailed;
  }
  if (globals.options.configFilePresent) CopyConfigFile(globals, target);
  platform.Files().SetCurrentDirectory(savedDirectory);
  return kCompletionInstalled;
}
