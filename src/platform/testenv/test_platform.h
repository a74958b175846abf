// An emulated Windows machine for the native tests: drive-letter paths compared without regard
// to case, Windows error codes in a last-error slot, a process list with parent ids, the stub's
// string table in a chosen user-interface language, scripted message-box and dialog answers, and
// injectable faults.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/port.h"
#include "platform/testenv/test_wmi.h"

namespace testenv {

// Faults a test can inject into file access.
struct FileFaults {
  bool failGetSize = false;
  bool failSeek = false;
  // Reads that reach this offset fail (ERROR_HANDLE_EOF-like); -1 disables.
  int64_t failReadsFrom = -1;
  // Total bytes that writes may still add before the disk is full (error 112); -1: unlimited.
  int64_t diskBytesLeft = -1;
  bool failSetTimes = false;
  // Size that GetSize reports instead of the real one; -1: the real size.
  int64_t reportedSize = -1;
  bool failEnvironmentSet = false;
};

struct MessageBoxCall {
  port::WindowHandle owner;
  std::wstring text;
  std::wstring caption;
  uint32_t style;
};

// What an emulated child process does once started.
struct ChildBehaviour {
  bool starts = true;
  uint32_t startError = port::kErrorFileNotFound;  // when it does not start
  uint32_t exitCode = 1;
  int64_t runSeconds = 0;        // advances the emulated clock
  int timeoutsBeforeEnd = 1;     // waits that time out before the process ends
  uint64_t outputBytes = 0;      // written to its output pipe; must be drained before it can end
  std::function<void()> onRun;   // side effects of the run (files it writes, ...)
};

struct StartedChild {
  port::ProcessStart start;
  std::map<std::wstring, std::wstring> environment;  // the environment it inherited
};

struct ProgressDialog {
  port::WindowHandle owner;
  std::vector<int> positions;
  bool destroyed = false;
};

// The emulated HKEY_LOCAL_MACHINE.
//
// One tree serves both views the way 64-bit Windows arranges them: the 32-bit view sees
// "Software" through "Software\WOW6432Node", every other key is the same in both views. Key and
// value names keep the case they were created with and are compared without regard to case
// (ASCII letters folded to upper case); subkeys enumerate in that folded order, as the registry
// keeps them, and values in the order they were first set. Values hold strings only. An open key
// refers to its key by path, so a key deleted while open reports kErrorKeyDeleted, and rights are
// checked as Windows checks them (enumerating needs kRead, setting needs kAll).
class TestRegistry : public port::Registry {
 public:
  // Set-up and inspection. Paths are relative to HKEY_LOCAL_MACHINE and name the tree as
  // stored, so a 32-bit view key under Software is reached through "Software\WOW6432Node".
  void AddKey(const std::wstring& path);
  // Creates the key when needed; replaces a value of the same name in place.
  void SetValue(const std::wstring& path, const std::wstring& name, const std::wstring& value);
  bool KeyExists(const std::wstring& path) const;
  // False when the key or the value is missing.
  bool GetValue(const std::wstring& path, const std::wstring& name, std::wstring* value) const;
  // Subkey names in enumeration order; empty for a missing key.
  std::vector<std::wstring> Subkeys(const std::wstring& path) const;
  // Values as name and text in the order they were first set; empty for a missing key.
  std::vector<std::pair<std::wstring, std::wstring>> Values(const std::wstring& path) const;
  int openKeys() const { return openKeys_; }

  // Faults: the calls below fail with kErrorAccessDenied for these stored paths (any case), as
  // for keys whose security denies the stub. `failOpen` is a key that cannot be opened at all:
  // RegCreateKeyEx, which opens an existing key, and RegDeleteKeyEx fail on it too.
  std::vector<std::wstring> failCreate;  // CreateKey, whether the key exists or not
  std::vector<std::wstring> failOpen;    // OpenKey, OpenSubkey, and CreateKey of the existing key
  std::vector<std::wstring> failDelete;  // DeleteSubkey

  // port::Registry
  uint32_t CreateKey(port::RegistryView view, const std::wstring& path,
                     std::unique_ptr<port::RegistryKey>* key) override;
  uint32_t OpenKey(port::RegistryView view, const std::wstring& path, port::RegistryAccess access,
                   std::unique_ptr<port::RegistryKey>* key) override;

 private:
  friend class TestRegistryKey;
  struct Node {
    std::wstring name;          // as created
    std::vector<Node> subkeys;  // sorted by folded name: the enumeration order
    std::vector<std::pair<std::wstring, std::wstring>> values;
  };
  // Path components as stored: empty components dropped, the 32-bit view redirected.
  static std::vector<std::wstring> Resolve(port::RegistryView view, const std::wstring& path);
  static std::wstring Fold(const std::wstring& text);
  static bool Listed(const std::vector<std::wstring>& faults, const std::vector<std::wstring>& components);
  Node* Find(const std::vector<std::wstring>& components);
  const Node* Find(const std::vector<std::wstring>& components) const;
  Node* Create(const std::vector<std::wstring>& components);
  uint32_t Open(port::RegistryView view, std::vector<std::wstring> components, port::RegistryAccess access,
                bool create, std::unique_ptr<port::RegistryKey>* key);

  Node root_;
  int openKeys_ = 0;
};

// The emulated service control manager of this machine. Service names are compared without
// regard to case; "winmgmt" runs unless a test says otherwise. Opening a service that is not
// listed fails with kErrorServiceDoesNotExist, and other machines cannot be reached
// (kErrorRpcServerUnavailable).
class TestServices : public port::Services {
 public:
  struct Service {
    uint32_t state = port::kServiceRunning;
    uint32_t openError = 0;   // OpenService fails with it (e.g. kErrorAccessDenied) when not 0
    uint32_t queryError = 0;  // QueryServiceStatusEx fails with it when not 0
  };
  std::map<std::wstring, Service> services = {{L"winmgmt", Service()}};
  uint32_t managerError = 0;  // OpenSCManager fails with it when not 0
  // Every look asked for: machine and service name.
  std::vector<std::pair<std::wstring, std::wstring>> queries;

  port::ServiceQuery QueryServiceState(const std::wstring& machine, const std::wstring& name) override;
};

struct DialogCall {
  uint32_t templateId;
  port::WindowHandle owner;
  std::vector<port::DialogCommandResult> results;  // what the controller answered per command
  intptr_t endResult;
};

class TestPlatform : public port::Platform,
                     private port::FileSystem,
                     private port::Processes,
                     private port::SystemFacts,
                     private port::UserInterface,
                     private port::Machine {
 public:
  TestPlatform();
  port::Machine& Host() override { return *this; }

  port::FileSystem& Files() override { return *this; }
  port::Processes& Procs() override { return *this; }
  port::SystemFacts& System() override { return *this; }
  port::UserInterface& Ui() override { return *this; }
  port::Registry& Reg() override { return registry; }
  port::Services& Svc() override { return services; }
  port::Wmi& Wmi() override { return wmi; }

  // --- Set-up and inspection -----------------------------------------------------------------
  // Drives other than fixed ones: letter -> type and whether a medium is in it.
  struct Drive {
    port::DriveType type;
    bool medium;
  };
  std::map<wchar_t, Drive> drives;
  bool criticalErrorsSuppressed = false;
  std::vector<bool> errorModeWhileProbing;  // the error mode seen at each drive probe
  bool failShutdownPrivilege = false;
  struct RestartRequest {
    std::wstring message;
    uint32_t timeoutSeconds;
  };
  std::vector<RestartRequest> restartRequests;

  void AddFile(const std::wstring& path, std::string bytes, uint32_t attributes = port::kAttrArchive);
  void AddFolder(const std::wstring& path);
  // A folder junction at `path` whose listing shows the contents of `target`.
  void AddJunction(const std::wstring& path, const std::wstring& target);
  bool Exists(const std::wstring& path) const;
  bool IsFolder(const std::wstring& path) const;
  // Content, attributes and times of a file; empty/zero when missing.
  std::string FileBytes(const std::wstring& path) const;
  uint32_t Attributes(const std::wstring& path) const;
  port::FileTimes Times(const std::wstring& path) const;
  // Every path below `folder` (files and folders), in the original case, sorted.
  std::vector<std::wstring> Tree(const std::wstring& folder) const;
  // Files another process holds open without delete sharing: deleting them fails with 32.
  void LockFile(const std::wstring& path);
  std::vector<std::wstring> deletedAtReboot;
  std::map<std::wstring, uint64_t> freeSpaceByDrive;  // by upper-case drive letter "C"
  std::wstring tempPath = L"C:\\Users\\admin\\AppData\\Local\\Temp\\";
  std::wstring currentDirectory = L"C:\\Windows\\system32";
  std::map<std::wstring, std::wstring> environment;  // names compared without regard to case
  std::map<uint32_t, std::wstring> systemMessages;   // FormatSystemMessage texts
  std::wstring timeText = L"17:52:07";
  std::wstring dateText = L"12/11/2026";
  std::wstring time24Text = L"17:52:07 PM";  // LocalDateAndTime24: 24 hours, marker kept
  int64_t timeZoneBiasMinutes = -60;  // UTC = local + bias (here: local is UTC+1)
  uint64_t clock = 134100000000000000ull;  // FILETIME given to new files
  bool hasVersionResource = true;
  uint16_t fileVersion[4] = {1, 0, 0, 0};
  int guidCounter = 0;
  FileFaults faults;
  TestRegistry registry;  // HKEY_LOCAL_MACHINE, with its faults
  TestServices services;  // the service control manager, with its faults
  TestWmi wmi;            // COM and the WMI service, with their faults
  int openFiles() const { return openFiles_; }

  std::wstring modulePath = L"C:\\Users\\admin\\Downloads\\pkg.exe";
  std::wstring commandTail;  // what follows the program in the process's command line
  uint32_t processId = 4242;
  std::vector<port::ProcessEntry> processes;  // the snapshot's entries, in order
  bool failSnapshot = false;
  std::wstring languageName = L"English";
  uint16_t uiLanguage = 1033;

  // Message boxes answer with the queued buttons, then with kIdOk.
  std::deque<int> messageBoxAnswers;
  std::vector<MessageBoxCall> messageBoxes;
  // Each shown dialog receives the next queued list of commands; a dialog whose commands never
  // end it is closed with -1, as a window that could not be shown.
  std::deque<std::vector<uint32_t>> dialogCommands;
  std::vector<DialogCall> dialogs;

  // Child processes: by default a program that exists in the emulated file system starts and
  // ends with exit code 1; `childBehaviour` decides otherwise.
  std::function<ChildBehaviour(const port::ProcessStart&)> childBehaviour;
  std::vector<StartedChild> startedChildren;
  int64_t nowSeconds = 1000000;
  uint64_t sleptMilliseconds = 0;
  int messagePumps = 0;
  int drains = 0;
  std::map<port::WindowHandle, std::wstring> trayIcons;  // window -> tip
  int trayIconsAdded = 0;
  std::vector<ProgressDialog> progressDialogs;
  std::vector<std::pair<port::WindowHandle, port::UserInterface::WindowState>> windowStates;
  std::vector<port::WindowHandle> destroyedWindows;

  // What the entry point asked of the process.
  bool dllSearchRestricted = false;
  bool dllSearchRestrictedBeforeLoad = false;
  std::vector<std::wstring> loadedLibraries;
  int freedLibraries = 0;
  uint32_t shutdownLevel = 0;
  int iconsLoaded = 0;
  int iconsDestroyed = 0;
  bool failIconLoad = false;
  bool failLibraryLoad = false;

 private:
  friend class TestFile;
  struct Node {
    bool folder = false;
    std::string bytes;
    std::wstring name;  // the last component as created, original case
    uint32_t attributes = 0;
    port::FileTimes times;
    std::wstring junctionTarget;  // a key, for junctions
    int openCount = 0;
    bool openExclusive = false;
    bool locked = false;
  };
  std::wstring Absolute(const std::wstring& path) const;
  std::wstring Key(const std::wstring& path) const;
  static std::wstring ParentOf(const std::wstring& key);
  static bool ValidDrivePath(const std::wstring& key);
  Node* Find(const std::wstring& key);
  const Node* Find(const std::wstring& key) const;
  // Error for a missing path: 3 when its folder is missing too, 2 otherwise.
  uint32_t MissingError(const std::wstring& key) const;

  // port::FileSystem
  std::unique_ptr<port::File> OpenForRead(const std::wstring& path) override;
  bool FindFirstMatch(const std::wstring& pattern) override;
  std::unique_ptr<port::File> CreateForWrite(const std::wstring& path, port::CreateMode mode,
                                             port::ShareMode share) override;
  bool CreateDirectory(const std::wstring& path) override;
  bool RemoveDirectory(const std::wstring& path) override;
  bool DeleteFile(const std::wstring& path) override;
  bool DeleteAtReboot(const std::wstring& path) override;
  uint32_t GetAttributes(const std::wstring& path) override;
  bool SetAttributes(const std::wstring& path, uint32_t attributes) override;
  bool CopyFile(const std::wstring& from, const std::wstring& to, bool failIfExists) override;
  bool ListFolder(const std::wstring& pattern, std::vector<port::FindData>* entries) override;
  std::wstring GetCurrentDirectory() override { return currentDirectory; }
  bool SetCurrentDirectory(const std::wstring& path) override;
  bool GetFreeSpace(const std::wstring& path, uint64_t* freeBytes) override;
  std::wstring GetTempPath() override { return tempPath; }
  // port::Processes
  std::wstring CommandLine() override { return L"\"" + modulePath + L"\" " + commandTail; }
  std::wstring ModuleFileName(size_t capacity) override;
  uint32_t CurrentProcessId() override { return processId; }
  std::unique_ptr<port::ProcessSnapshot> SnapshotProcesses() override;
  bool SetShutdownLevel(uint32_t level, uint32_t flags) override;
  bool SplitCommandLine(const std::wstring& commandLine, std::vector<std::wstring>* args) override;
  void RestrictDllSearchToSystem() override;
  std::unique_ptr<port::ChildProcess> StartProcess(const port::ProcessStart& start) override;
  port::ModuleHandle LoadSystemLibrary(const std::wstring& name) override;
  void FreeLibrary(port::ModuleHandle module) override;
  // port::SystemFacts
  uint32_t GetLastError() override { return lastError_; }
  void SetLastError(uint32_t error) override { lastError_ = error; }
  std::wstring SystemLanguageName() override { return languageName; }
  std::string WideToAnsi(const std::wstring& text, port::CodePage codePage) override;
  std::wstring AnsiToWide(const std::string& text, port::CodePage codePage) override;
  bool GetEnvironmentVariable(const std::wstring& name, std::wstring* value) override;
  bool SetEnvironmentVariable(const std::wstring& name, const std::wstring& value) override;
  std::wstring ExpandEnvironmentStrings(const std::wstring& text) override;
  std::wstring FormatSystemMessage(uint32_t error) override;
  std::wstring NewGuidText() override;
  std::wstring LocalTimeText() override { return timeText; }
  std::wstring LocalShortDateText() override { return dateText; }
  bool LocalFileTimeToUtc(uint64_t local, uint64_t* utc) override;
  void LocalDateAndTime24(std::wstring* shortDate, std::wstring* time) override {
    *shortDate = dateText;
    *time = time24Text;
  }
  bool ModuleFileVersion(uint16_t parts[4]) override;
  int64_t NowSeconds() override { return nowSeconds; }
  void Sleep(uint32_t milliseconds) override { sleptMilliseconds += milliseconds; }
  // port::UserInterface
  std::wstring LoadString(uint32_t id, size_t capacity) override;
  int MessageBox(port::WindowHandle owner, const std::wstring& text, const std::wstring& caption,
                 uint32_t style) override;
  intptr_t ShowModalDialog(uint32_t templateId, port::WindowHandle owner,
                           port::DialogController* controller) override;
  port::WindowHandle DesktopWindow() override { return kDesktop; }
  port::IconHandle LoadIcon(uint32_t resourceId, bool smallSize) override;
  void DestroyIcon(port::IconHandle icon) override;
  void PumpMessages() override { ++messagePumps; }
  bool AddTrayIcon(port::WindowHandle window, port::IconHandle icon, const std::wstring& tip) override;
  void RemoveTrayIcon(port::WindowHandle window) override { trayIcons.erase(window); }
  port::WindowHandle CreateProgressDialog(port::WindowHandle owner) override;
  void SetProgress(port::WindowHandle dialog, int position) override;
  void SetWindowState(port::WindowHandle window, WindowState state) override {
    windowStates.emplace_back(window, state);
  }
  void DestroyWindow(port::WindowHandle window) override;
  // port::Machine
  uint32_t SuppressCriticalErrors() override {
    const uint32_t previous = criticalErrorsSuppressed ? 1 : 0;
    criticalErrorsSuppressed = true;
    return previous;
  }
  void RestoreErrorMode(uint32_t mode) override { criticalErrorsSuppressed = mode != 0; }
  port::DriveType GetDriveType(const std::wstring& root) override;
  bool IsRootAccessible(const std::wstring& root) override;
  bool EnableShutdownPrivilege() override { return !failShutdownPrivilege; }
  bool RequestRestart(const std::wstring& message, uint32_t timeoutSeconds) override {
    restartRequests.push_back({message, timeoutSeconds});
    return true;
  }

 public:
  static inline port::WindowHandle const kDesktop = reinterpret_cast<port::WindowHandle>(0x10010);

 private:
  std::map<std::wstring, Node> nodes_;
  uint32_t lastError_ = 0;
  int openFiles_ = 0;
  uintptr_t nextHandle_ = 0x1000;
};

// Windows-1252 conversions as the platform performs them, '?' for what the code page lacks.
std::string WideToCp1252(const std::wstring& text);
std::wstring Cp1252ToWide(const std::string& text);

// Wildcard match of FindFirstFile patterns ('*' and '?'), without regard to case.
bool WildcardMatch(const std::wstring& pattern, const std::wstring& name);

}  // namespace testenv
