#include "setup/misc.h"

#include "setup/options.h"
#include "setup/stub.h"

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
