#include "setup/misc.h"

#include "log/wformat.h"
#include "setup/options.h"
#include "setup/stub.h"

// Joins a folder and a name with exactly one backslash.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
  if (!folder.empty() && folder.back() == L'\\') return folder + name;
  return folder + L"\\" + name;
}

std::wstring SelectPackageLanguage(port::Platform& platform) {
  static const struct {
    const wchar_t* name;
    const wchar_t* code;
  } kLanguages[] = {
      {L"french", L"fr"},   {L"spanish", L"es"},  {L"german", L"de"},
      {L"italian", L"it"},  {L"japanese", L"ja"}, {L"chinese", L"zh"},
  };
  const std::wstring name = platform.System().SystemLanguageName().substr(0, 255);
  for (const auto& language : kLanguages) {
    if (EqualsNoCase(name, language.name)) return language.code;
  }
  return L"en";
}

bool FindProcessEntry(port::ProcessSnapshot& snapshot, port::ProcessEntry* entry, uint32_t processId) {
  for (bool more = snapshot.First(entry); more; more = snapshot.Next(entry)) {
    if (entry->processId == processId) return true;
  }
  return false;
}

bool IsStartedByAgent(port::Platform& platform) {
  std::unique_ptr<port::ProcessSnapshot> snapshot = platform.Procs().SnapshotProcesses();
  if (!snapshot) return false;
  port::ProcessEntry self;
  if (!FindProcessEntry(*snapshot, &self, platform.Procs().CurrentProcessId())) return false;
  port::ProcessEntry parent;
  if (!FindProcessEntry(*snapshot, &parent, self.parentProcessId)) return false;
  // The snapshot names the executable without folder; strip one anyway in case a backend
  // reports a path.
  const size_t slash = parent.exeFile.find_last_of(L"\\/");
  const std::wstring file = slash == std::wstring::npos ? parent.exeFile : parent.exeFile.substr(slash + 1);
  return EqualsNoCase(file, L"kivagent.exe");
}

int ShowMessageById(StubGlobals& globals, port::WindowHandle owner, uint32_t textId,
                    uint32_t captionId, uint32_t style) {
  port::UserInterface& ui = globals.platform.Ui();
  const std::wstring text = ui.LoadString(textId, 32768);
  const std::wstring caption = ui.LoadString(captionId, 32768);
  return ui.MessageBox(owner, text, caption, style);
}

bool CreateFolderTree(port::Platform& platform, const std::wstring& path) {
  port::FileSystem& files = platform.Files();
  if (files.CreateDirectory(path)) return true;
  const uint32_t error = platform.System().GetLastError();
  if (error == port::kErrorAlreadyExists) return true;
  if (error != port::kErrorPathNotFound) return false;
  std::wstring work = path;
  if (!work.empty() && work.back() == L'\\') work.pop_back();
  const size_t slash = work.find_last_of(L'\\');
  if (slash == std::wstring::npos) return false;
  const std::wstring parent = work.substr(0, slash + 1);
  if (!CreateFolderTree(platform, parent)) return false;
  // With the parents in place one more attempt decides. Climbing again would never end when
  // the "parent" exists as a file: the platform then reports the path missing once more.
  if (files.CreateDirectory(path)) return true;
  return platform.System().GetLastError() == port::kErrorAlreadyExists;
}

bool CreateGuidTempFolder(port::Platform& platform, size_t capacity, std::wstring* path) {
  path->clear();
  const std::wstring temp = platform.Files().GetTempPath().substr(0, 260);
  const std::wstring guid = platform.System().NewGuidText();
  if (capacity < 260) return false;
  *path = JoinPath(temp, guid);
  // A path that does not fit is refused rather than cut into the name of another folder.
  if (guid.empty() || path->size() >= capacity) return false;
  return platform.Files().CreateDirectory(*path);
}

bool RemoveTree(port::Platform& platform, const std::wstring& folder) {
  port::FileSystem& files = platform.Files();
  std::vector<port::FindData> entries;
  if (!files.ListFolder(JoinPath(folder, L"*"), &entries)) return false;
  for (const port::FindData& entry : entries) {
    if (entry.name == L"." || entry.name == L"..") continue;
    const std::wstring path = JoinPath(folder, entry.name);
    if (entry.attributes & (port::kAttrReadOnly | port::kAttrSystem)) files.SetAttributes(path, port::kAttrNormal);
    const bool isFolder = (entry.attributes & port::kAttrDirectory) != 0;
    if (entry.attributes & port::kAttrReparsePoint) {
      // A link: remove the link itself, never what it points at.
      const bool removed = isFolder ? files.RemoveDirectory(path) : files.DeleteFile(path);
      if (!removed) files.DeleteAtReboot(path);
      continue;
    }
    if (isFolder) {
      if (!RemoveTree(platform, path)) return false;
    } else if (!files.DeleteFile(path)) {
      files.DeleteAtReboot(path);
    }
  }
  files.SetAttributes(folder, port::kAttrNormal);
  if (!files.RemoveDirectory(folder)) files.DeleteAtReboot(folder);
  return true;
}

void LogLastError(StubGlobals& globals, const std::wstring& operation) {
  const uint32_t error = globals.platform.System().GetLastError();
  const std::wstring text = globals.platform.System().FormatSystemMessage(error);
  const std::wstring line = FormatWide(L"%s FAILED with error %d: %s", operation.c_str(), static_cast<int32_t>(error),
                                       text.c_str());
  globals.log.Write(CMPLOG2_BOTH_CONT, CMPLOG2_CRITICAL, CMPLOG2_SOURCE, __LINE__, L"%s\r\n", line.c_str());
}

void RebootSystem(StubGlobals& globals) {
  port::Platform& platform = globals.platform;
  port::Machine& machine = platform.Host();
  const SetupOptions& options = globals.options;

  // Empty drives must not raise a system dialog while they are probed.
  const uint32_t previousMode = machine.SuppressCriticalErrors();
  bool mediumInserted = false;
  for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
    const std::wstring root = FormatWide(L"%c:\\", letter);
    const port::DriveType type = machine.GetDriveType(root);
    const bool counts = (type == port::DriveType::kRemovable && (letter == L'A' || letter == L'B')) ||
                        type == port::DriveType::kCdRom;
    if (counts && machine.IsRootAccessible(root)) mediumInserted = true;
  }
  machine.RestoreErrorMode(previousMode);

  port::UserInterface& ui = platform.Ui();
  if (mediumInserted && !options.silent) {
    ui.MessageBox(nullptr, ui.LoadString(713, 512), ui.LoadString(712, 255), port::kMbIconExclamation | port::kMbOk);
  }
  if (!machine.EnableShutdownPrivilege()) return;
  const std::wstring message = !options.rebootMessage.empty() ? options.rebootMessage : ui.LoadString(708, 512);
  // A negative time-out means no waiting.
  machine.RequestRestart(message, static_cast<uint32_t>(options.rebootTimeout < 0 ? 0 : options.rebootTimeout));
}
