// The platform port: the only way the portable core reaches the operating system.
//
// Every interface is narrow and speaks in Windows terms (wide paths with drive letters,
// Windows error codes in a per-thread "last error", message-box styles and button ids), so that
// the core behaves identically over the real Win32 backend and over the emulating test backend.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Some operations carry the names of Win32 functions that <windows.h> turns into A/W macros.
// Where that header came first, the macros go: the port's names are its own, and the Win32
// backend calls the wide functions by their full names.
#ifdef _WIN32
#undef CopyFile
#undef CreateDirectory
#undef DeleteFile
#undef ExpandEnvironmentStrings
#undef GetCurrentDirectory
#undef GetEnvironmentVariable
#undef GetFreeSpace
#undef GetTempPath
#undef LoadIcon
#undef LoadString
#undef MessageBox
#undef RemoveDirectory
#undef SetCurrentDirectory
#undef SetEnvironmentVariable
#endif

namespace port {

// Windows system error codes the core reasons about.
enum : uint32_t {
  kErrorSuccess = 0,
  kErrorFileNotFound = 2,
  kErrorPathNotFound = 3,
  kErrorAccessDenied = 5,
  kErrorInvalidHandle = 6,
  kErrorNotEnoughMemory = 8,
  kErrorNoMoreFiles = 18,
  kErrorHandleEof = 38,
  kErrorHandleDiskFull = 39,
  kErrorFileExists = 80,
  kErrorInvalidParameter = 87,
  kErrorDiskFull = 112,
  kErrorAlreadyExists = 183,
  kErrorFilenameExcedRange = 206,
  kErrorNegativeSeek = 131,
};

// Message-box styles and results (values of the Win32 API).
enum : uint32_t {
  kMbOk = 0x0,
  kMbOkCancel = 0x1,
  kMbYesNo = 0x4,
  kMbIconError = 0x10,
  kMbIconQuestion = 0x20,
  kMbIconExclamation = 0x30,
  kMbIconInformation = 0x40,
};
enum : int { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };

// Opaque window and module handles (HWND, HINSTANCE on Windows).
using WindowHandle = void*;
using ModuleHandle = void*;
using IconHandle = void*;

// Which ANSI code page a conversion uses: the calling thread's or the system's.
enum class CodePage { kThreadAnsi, kSystemAnsi };

// A zero member of FileTimes given to SetTimes leaves that time unchanged.
struct FileTimes {
  uint64_t creation = 0;
  uint64_t lastAccess = 0;
  uint64_t lastWrite = 0;
};

// File attributes (values of the Win32 API).
enum : uint32_t {
  kAttrReadOnly = 0x1,
  kAttrHidden = 0x2,
  kAttrSystem = 0x4,
  kAttrDirectory = 0x10,
  kAttrArchive = 0x20,
  kAttrNormal = 0x80,
  kAttrReparsePoint = 0x400,
  kInvalidAttributes = 0xFFFFFFFF,
};

// How CreateForWrite opens its file.
enum class CreateMode {
  kCreateNew,     // fails with error 80 when the file exists
  kCreateAlways,  // replaces an existing file
  kOpenAlways,    // keeps an existing file, creates a missing one
};
enum class ShareMode {
  kExclusive,  // no sharing: write access for this handle only
  kReadWrite,  // shared for reading and writing with other processes
};

// One entry of a folder listing.
struct FindData {
  std::wstring name;
  uint32_t attributes = 0;
};

// An open file. Reads and writes report success like ReadFile/WriteFile and leave the
// reason in the port's last error.
class File {
 public:
  virtual ~File() = default;
  virtual bool Read(void* buffer, uint32_t size, uint32_t* bytesRead) = 0;
  virtual bool Write(const void* buffer, uint32_t size, uint32_t* bytesWritten) = 0;
  // Moves the file position to an absolute offset.
  virtual bool Seek(uint64_t offset) = 0;
  virtual bool SeekToEnd() = 0;
  // Moves to the end of the file and writes there (a failed move is not reported: the write
  // goes where the position is). Backends whose files several processes share make the two
  // steps one with respect to everyone appending through this call, so that processes
  // appending to the same file at once never overwrite each other's bytes.
  virtual bool AppendAtEnd(const void* buffer, uint32_t size, uint32_t* bytesWritten) {
    SeekToEnd();
    return Write(buffer, size, bytesWritten);
  }
  virtual bool GetSize(uint64_t* size) = 0;
  // File times as FILETIME values (100 ns units since 1601, UTC).
  virtual bool GetTimes(FileTimes* times) = 0;
  virtual bool SetTimes(const FileTimes& times) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Opens an existing file for reading, sharing read access, with the sequential-scan hint.
  virtual std::unique_ptr<File> OpenForRead(const std::wstring& path) = 0;
  // True when FindFirstFile finds an entry (file or folder) for the name or pattern.
  virtual bool FindFirstMatch(const std::wstring& pattern) = 0;
  // Opens for writing (and reading, when shared) with the given disposition; sequential-scan
  // hint, normal attributes. Null on failure, with the reason in the last error.
  virtual std::unique_ptr<File> CreateForWrite(const std::wstring& path, CreateMode mode, ShareMode share) = 0;
  // CreateDirectory: creates one folder; its parent must exist.
  virtual bool CreateDirectory(const std::wstring& path) = 0;
  virtual bool RemoveDirectory(const std::wstring& path) = 0;
  virtual bool DeleteFile(const std::wstring& path) = 0;
  // MoveFileEx(path, null, MOVEFILE_DELAY_UNTIL_REBOOT): removal at the next restart.
  virtual bool DeleteAtReboot(const std::wstring& path) = 0;
  virtual uint32_t GetAttributes(const std::wstring& path) = 0;  // kInvalidAttributes on failure
  virtual bool SetAttributes(const std::wstring& path, uint32_t attributes) = 0;
  virtual bool CopyFile(const std::wstring& from, const std::wstring& to, bool failIfExists) = 0;
  // FindFirstFile/FindNextFile over a pattern; false when the listing cannot start.
  virtual bool ListFolder(const std::wstring& pattern, std::vector<FindData>* entries) = 0;
  virtual std::wstring GetCurrentDirectory() = 0;
  virtual bool SetCurrentDirectory(const std::wstring& path) = 0;
  // Free bytes available to the caller on the volume of `path`.
  virtual bool GetFreeSpace(const std::wstring& path, uint64_t* freeBytes) = 0;
  // The user's temporary folder (GetTempPath: with its trailing backslash).
  virtual std::wstring GetTempPath() = 0;
};

struct ProcessEntry {
  uint32_t processId = 0;
  uint32_t parentProcessId = 0;
  std::wstring exeFile;  // file name without folder
};

// A process snapshot walked like Process32First / Process32Next.
class ProcessSnapshot {
 public:
  virtual ~ProcessSnapshot() = default;
  virtual bool First(ProcessEntry* entry) = 0;
  virtual bool Next(ProcessEntry* entry) = 0;
};

// How a child process is started.
struct ProcessStart {
  std::wstring commandLine;       // the program path (quoted) and its arguments
  std::wstring currentDirectory;  // the child's current directory
  // Hidden, without a console, standard output and error into a pipe the stub drains (silent
  // runs); otherwise a new console of its own and no inherited handles.
  bool hiddenWithOutputPipe = false;
};

enum class WaitResult { kEnded, kTimeout, kFailed };

// A started child process; closing it releases the handles, never ends the process.
class ChildProcess {
 public:
  virtual ~ChildProcess() = default;
  virtual WaitResult Wait(uint32_t milliseconds) = 0;
  virtual bool GetExitCode(uint32_t* code) = 0;
  // Reads and discards what the child wrote to its output pipe so far, so that a talkative
  // child never blocks on a full pipe.
  virtual void DrainOutput() = 0;
};

class Processes {
 public:
  // Starts a process with the stub's environment; null when it cannot be started, with the
  // reason in the last error.
  virtual std::unique_ptr<ChildProcess> StartProcess(const ProcessStart& start) = 0;
  virtual ~Processes() = default;
  // The process's whole command line, program name included (GetCommandLine).
  virtual std::wstring CommandLine() = 0;
  // Full path of the running module; cut at `capacity` characters like GetModuleFileName.
  virtual std::wstring ModuleFileName(size_t capacity) = 0;
  virtual uint32_t CurrentProcessId() = 0;
  // Null when the snapshot cannot be taken.
  virtual std::unique_ptr<ProcessSnapshot> SnapshotProcesses() = 0;
  virtual bool SetShutdownLevel(uint32_t level, uint32_t flags) = 0;
  // Splits a command line with the CommandLineToArgvW rules; false when splitting fails.
  virtual bool SplitCommandLine(const std::wstring& commandLine, std::vector<std::wstring>* args) = 0;
  // Restricts the DLL search of the process to the system folder.
  virtual void RestrictDllSearchToSystem() = 0;
  // Loads a library from the system folder only; null on failure.
  virtual ModuleHandle LoadSystemLibrary(const std::wstring& name) = 0;
  virtual void FreeLibrary(ModuleHandle module) = 0;
};

class SystemFacts {
 public:
  virtual ~SystemFacts() = default;
  virtual uint32_t GetLastError() = 0;
  virtual void SetLastError(uint32_t error) = 0;
  // English name of the system default locale's language (LOCALE_SENGLANGUAGE).
  virtual std::wstring SystemLanguageName() = 0;
  // Code-page conversions with the system's default replacement character.
  virtual std::string WideToAnsi(const std::wstring& text, CodePage codePage) = 0;
  virtual std::wstring AnsiToWide(const std::string& text, CodePage codePage) = 0;
  // Environment of the process (inherited by the processes it starts).
  virtual bool GetEnvironmentVariable(const std::wstring& name, std::wstring* value) = 0;
  virtual bool SetEnvironmentVariable(const std::wstring& name, const std::wstring& value) = 0;
  virtual std::wstring ExpandEnvironmentStrings(const std::wstring& text) = 0;
  // The system's text for an error code in the user's language; empty when it has none.
  virtual std::wstring FormatSystemMessage(uint32_t error) = 0;
  // A new GUID in registry form: braces, upper-case hexadecimal groups of 8-4-4-4-12.
  virtual std::wstring NewGuidText() = 0;
  // Local time in the system default locale's format, 24 hours, no AM/PM marker ("17:52:07").
  virtual std::wstring LocalTimeText() = 0;
  // Local date in the system default locale's short date format.
  virtual std::wstring LocalShortDateText() = 0;
  // Converts a FILETIME read as local time to UTC (LocalFileTimeToFileTime).
  virtual bool LocalFileTimeToUtc(uint64_t local, uint64_t* utc) = 0;
  // Date and time of one reading of the local clock, for records that must not straddle
  // midnight: the system default locale's short date, and its time format forced to 24 hours
  // with the AM/PM marker left in ("17:52:07 PM" in English). Each text is empty when it cannot
  // be formatted.
  virtual void LocalDateAndTime24(std::wstring* shortDate, std::wstring* time) = 0;
  // Seconds since an arbitrary fixed point, for elapsed times.
  virtual int64_t NowSeconds() = 0;
  virtual void Sleep(uint32_t milliseconds) = 0;
  // The file version of the running module's version resource (four 16-bit parts).
  virtual bool ModuleFileVersion(uint16_t parts[4]) = 0;
};

// What a dialog's command handler decides for one command.
struct DialogCommandResult {
  bool handled = false;    // the procedure's return value
  bool endDialog = false;  // EndDialog is called
  intptr_t endResult = 0;  // the value EndDialog is given
};

// The core's side of a modal dialog: the backend creates the window from the resource
// template and forwards the messages the dialog handles.
class DialogController {
 public:
  virtual ~DialogController() = default;
  virtual DialogCommandResult OnCommand(uint32_t commandId) = 0;
};

class UserInterface {
 public:
  virtual ~UserInterface() = default;
  // LoadString semantics: at most capacity-1 characters; empty when the id is missing.
  virtual std::wstring LoadString(uint32_t id, size_t capacity) = 0;
  // Shows a message box and returns the button pressed (kIdOk, kIdYes, ...).
  virtual int MessageBox(WindowHandle owner, const std::wstring& text, const std::wstring& caption,
                         uint32_t style) = 0;
  // Shows the dialog template modally; returns the EndDialog value, or -1 when it cannot be shown.
  virtual intptr_t ShowModalDialog(uint32_t templateId, WindowHandle owner,
                                   DialogController* controller) = 0;
  virtual WindowHandle DesktopWindow() = 0;
  // Icon resource at the system's small-icon size, or at its default size; null on failure.
  virtual IconHandle LoadIcon(uint32_t resourceId, bool smallSize) = 0;
  virtual void DestroyIcon(IconHandle icon) = 0;
  // Removes and dispatches every message waiting in the thread's queue.
  virtual void PumpMessages() = 0;
  // The notification-area icon of `window` with id 0: icon and tip only.
  virtual bool AddTrayIcon(WindowHandle window, IconHandle icon, const std::wstring& tip) = 0;
  virtual void RemoveTrayIcon(WindowHandle window) = 0;
  // The extraction progress dialog: modeless, centred over its owner when there is one.
  virtual WindowHandle CreateProgressDialog(WindowHandle owner) = 0;
  virtual void SetProgress(WindowHandle dialog, int position) = 0;
  // Window states the run moves its owner window through.
  enum class WindowState { kHide, kMinimizeAndHide, kShowRestored };
  virtual void SetWindowState(WindowHandle window, WindowState state) = 0;
  virtual void DestroyWindow(WindowHandle window) = 0;
};

// --- Registry (HKEY_LOCAL_MACHINE only) ---------------------------------------------------------
// Results are Windows error codes as the registry functions return them (LSTATUS):
// kErrorSuccess, kErrorFileNotFound for a missing key or value, kErrorAccessDenied, and these.
enum : uint32_t {
  kErrorMoreData = 234,          // a value does not fit the caller's buffer
  kErrorNoMoreItems = 259,       // enumeration past the last subkey
  kErrorKeyDeleted = 1018,       // the open key has been deleted meanwhile
  kErrorUnsupportedType = 1630,  // a value read as a string is of another type
};

// The two views of HKEY_LOCAL_MACHINE on 64-bit Windows (KEY_WOW64_64KEY, KEY_WOW64_32KEY).
enum class RegistryView { k64Bit, k32Bit };

// The rights a key is opened with.
enum class RegistryAccess {
  kQueryValues,  // KEY_QUERY_VALUE: read values
  kRead,         // KEY_READ: read values and enumerate subkeys
  kAll,          // KEY_ALL_ACCESS
};

// An open key. Destroying it closes the key (RegCloseKey). Subkeys opened and deleted through
// it stay in the view it was opened in.
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  // RegEnumKeyEx: the name of the subkey at `index`, in the registry's order (names sorted
  // without regard to case); kErrorNoMoreItems past the last one. Needs kRead or kAll.
  virtual uint32_t EnumSubkey(uint32_t index, std::wstring* name) = 0;
  // RegOpenKeyEx of a subkey (a relative path) of this key.
  virtual uint32_t OpenSubkey(const std::wstring& name, RegistryAccess access,
                              std::unique_ptr<RegistryKey>* key) = 0;
  // RegQueryValueEx of a string value into a buffer of `capacityBytes` bytes, terminator
  // included: kErrorMoreData when it does not fit, kErrorUnsupportedType when the value is not
  // REG_SZ or REG_EXPAND_SZ. `value` gets the text up to its first null.
  virtual uint32_t QueryString(const std::wstring& name, size_t capacityBytes, std::wstring* value) = 0;
  // RegSetValueEx of a REG_SZ value, written with its terminating null. Needs kAll.
  virtual uint32_t SetString(const std::wstring& name, const std::wstring& value) = 0;
  // RegDeleteKeyEx: deletes a direct subkey and its values. A subkey that has subkeys of its
  // own is not deleted (kErrorAccessDenied).
  virtual uint32_t DeleteSubkey(const std::wstring& name) = 0;
};

class Registry {
 public:
  virtual ~Registry() = default;
  // RegCreateKeyEx: opens the key with kAll, creating it and its missing parents first
  // (non-volatile).
  virtual uint32_t CreateKey(RegistryView view, const std::wstring& path, std::unique_ptr<RegistryKey>* key) = 0;
  // RegOpenKeyEx of an existing key.
  virtual uint32_t OpenKey(RegistryView view, const std::wstring& path, RegistryAccess access,
                           std::unique_ptr<RegistryKey>* key) = 0;
};

// Drive types (GetDriveType values).
enum class DriveType { kUnknown = 0, kNoRootDir = 1, kRemovable = 2, kFixed = 3, kRemote = 4, kCdRom = 5, kRamDisk = 6 };

// The machine as a whole: its drives and its restart.
class Machine {
 public:
  virtual ~Machine() = default;
  // SetErrorMode: with `quiet`, no system dialog for a drive without a medium; returns the mode
  // to give back to RestoreErrorMode.
  virtual uint32_t SuppressCriticalErrors() = 0;
  virtual void RestoreErrorMode(uint32_t mode) = 0;
  virtual DriveType GetDriveType(const std::wstring& root) = 0;
  // True when the root of a drive can be read (a medium is in the drive).
  virtual bool IsRootAccessible(const std::wstring& root) = 0;
  // Opens the process token and enables SeShutdownPrivilege; false when either fails.
  virtual bool EnableShutdownPrivilege() = 0;
  // InitiateSystemShutdownEx on the local machine: the notice, the time-out in seconds,
  // applications closed by force, a restart afterwards.
  virtual bool RequestRestart(const std::wstring& message, uint32_t timeoutSeconds) = 0;
};

// --- Service control manager ---------------------------------------------------------------------
// Current states of a service (SERVICE_STATUS_PROCESS.dwCurrentState values).
enum : uint32_t {
  kServiceStopped = 1,
  kServiceStartPending = 2,
  kServiceStopPending = 3,
  kServiceRunning = 4,
  kServiceContinuePending = 5,
  kServicePausePending = 6,
  kServicePaused = 7,
};
enum : uint32_t {
  kErrorServiceDoesNotExist = 1060,
  kErrorRpcServerUnavailable = 1722,  // a machine that cannot be reached
};

// What one look at a service found. Each step runs only when the one before it succeeded; the
// first step that fails leaves its Windows error code in `error`.
struct ServiceQuery {
  bool managerOpened = false;  // OpenSCManager on the active database, full access
  bool serviceOpened = false;  // OpenService, full access
  bool queried = false;        // QueryServiceStatusEx for the process status record
  uint32_t state = 0;          // the current state, when queried
  uint32_t error = 0;
};

class Services {
 public:
  virtual ~Services() = default;
  // Looks at the service `name` of `machine` (empty: this machine) and closes every handle it
  // opened before returning. Never starts, stops or changes a service.
  virtual ServiceQuery QueryServiceState(const std::wstring& machine, const std::wstring& name) = 0;
};

// --- COM and WMI ---------------------------------------------------------------------------------
// Results are HRESULT values as the COM and WMI calls return them: negative for failures.
enum : int32_t {
  kHrOk = 0,                                                 // S_OK
  kHrFalse = 1,                                              // S_FALSE, WBEM_S_FALSE
  kHrSecurityAlreadySet = static_cast<int32_t>(0x80010119),  // RPC_E_TOO_LATE
  kHrComNotInitialized = static_cast<int32_t>(0x800401F0),   // CO_E_NOTINITIALIZED
  kHrWbemFailed = static_cast<int32_t>(0x80041001),          // WBEM_E_FAILED
  kHrWbemNotFound = static_cast<int32_t>(0x80041002),        // WBEM_E_NOT_FOUND
  kHrWbemAccessDenied = static_cast<int32_t>(0x80041003),    // WBEM_E_ACCESS_DENIED
  kHrWbemInvalidNamespace = static_cast<int32_t>(0x8004100E),
  kHrWbemInvalidClass = static_cast<int32_t>(0x80041010),
  // A text argument could not be allocated as a COM string (BSTR), so the call was not made.
  // E_OUTOFMEMORY's code with the customer bit set: no COM or WMI call returns it.
  kHrComStringNotAllocated = static_cast<int32_t>(0xA000000E),
};

// A property value (VARIANT) as far as the stub reads it.
struct WmiValue {
  enum class Type {
    kOther,      // any type not listed below, VT_NULL and VT_EMPTY included
    kString,     // VT_BSTR: `text`, every character of the string (a null one included)
    kInt32,      // VT_I4 (WMI's sint32 and uint32): `integer`
    kByteArray,  // VT_ARRAY | VT_UI1 with one dimension: `bytes`, in index order
  };
  Type type = Type::kOther;
  std::wstring text;
  int32_t integer = 0;
  std::vector<uint8_t> bytes;
};

// One object of a query result (IWbemClassObject); destroying it releases it.
class WmiObject {
 public:
  virtual ~WmiObject() = default;
  // IWbemClassObject::Get of the property `name`, no flags. `value` is set only on kHrOk.
  virtual int32_t Get(const std::wstring& name, WmiValue* value) = 0;
};

// A query result (IEnumWbemClassObject) that can be rewound; destroying it releases it.
class WmiResult {
 public:
  virtual ~WmiResult() = default;
  virtual int32_t Reset() = 0;
  // Next with an infinite time-out for one object: `object` is set when one was returned
  // (kHrOk) and null otherwise (kHrFalse at the end, or the failure).
  virtual int32_t Next(std::unique_ptr<WmiObject>* object) = 0;
};

// A connected namespace (IWbemServices); destroying it releases it.
class WmiServices {
 public:
  virtual ~WmiServices() = default;
  // CoSetProxyBlanket: Windows NT authentication, no authorisation service, no principal name,
  // authentication level call, impersonation level impersonate, no identity, no capabilities.
  virtual int32_t SetProxyBlanket() = 0;
  // ExecQuery of `query` in "WQL" with WBEM_FLAG_RETURN_IMMEDIATELY only (semisynchronous, not
  // forward-only). `result` is set only when the call succeeds.
  virtual int32_t ExecQuery(const std::wstring& query, std::unique_ptr<WmiResult>* result) = 0;
};

// The WMI locator (IWbemLocator); destroying it releases it.
class WmiLocator {
 public:
  virtual ~WmiLocator() = default;
  // ConnectServer to `namespacePath` with no user, password, locale, authority or context and
  // flags 0. `services` is set only when the call succeeds.
  virtual int32_t ConnectServer(const std::wstring& namespacePath, std::unique_ptr<WmiServices>* services) = 0;
};

// COM on the calling thread and the way into WMI. Objects obtained here must be destroyed before
// the COM use they were made under ends.
class Wmi {
 public:
  virtual ~Wmi() = default;
  // CoInitializeEx for the multithreaded apartment. Every success (kHrOk, or kHrFalse when COM
  // already runs on the thread) is balanced by one EndCom.
  virtual int32_t StartCom() = 0;
  virtual void EndCom() = 0;  // CoUninitialize
  // CoInitializeSecurity for the process: no security descriptor, authentication services
  // chosen by COM, authentication level default, impersonation level impersonate, no
  // capabilities. kHrSecurityAlreadySet once the process has set it.
  virtual int32_t InitializeSecurity() = 0;
  // CoCreateInstance of the WMI locator as an in-process server. `locator` is set only when the
  // call succeeds.
  virtual int32_t CreateLocator(std::unique_ptr<WmiLocator>* locator) = 0;
};

// The whole port.
class Platform {
 public:
  virtual ~Platform() = default;
  virtual Machine& Host() = 0;
  virtual FileSystem& Files() = 0;
  virtual Processes& Procs() = 0;
  virtual SystemFacts& System() = 0;
  virtual UserInterface& Ui() = 0;
  virtual Registry& Reg() = 0;
  virtual Services& Svc() = 0;
  virtual port::Wmi& Wmi() = 0;
};

}  // namespace port
