#include "platform/win32/win32_platform.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <vector>

namespace win32 {

namespace {

uint64_t FromFileTime(const FILETIME& time) {
  return static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

FILETIME ToFileTime(uint64_t value) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(value);
  time.dwHighDateTime = static_cast<DWORD>(value >> 32);
  return time;
}

// Calls a Win32 function that fills a wide buffer and reports the length it needs.
template <typename Fill>
std::wstring GrowingBuffer(Fill fill) {
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD length = fill(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::wstring();
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    buffer.resize(length + 1);
  }
  return std::wstring();
}

class Win32File : public port::File {
 public:
  explicit Win32File(UniqueHandle handle) : handle_(std::move(handle)) {}

  bool Read(void* buffer, uint32_t size, uint32_t* bytesRead) override {
    DWORD got = 0;
    const BOOL ok = ::ReadFile(handle_.Get(), buffer, size, &got, nullptr);
    *bytesRead = got;
    return ok != FALSE;
  }
  bool Write(const void* buffer, uint32_t size, uint32_t* bytesWritten) override {
    DWORD written = 0;
    const BOOL ok = ::WriteFile(handle_.Get(), buffer, size, &written, nullptr);
    *bytesWritten = written;
    return ok != FALSE;
  }
  bool Seek(uint64_t offset) override {
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(offset);
    return ::SetFilePointerEx(handle_.Get(), distance, nullptr, FILE_BEGIN) != FALSE;
  }
  bool SeekToEnd() override {
    LARGE_INTEGER distance;
    distance.QuadPart = 0;
    return ::SetFilePointerEx(handle_.Get(), distance, nullptr, FILE_END) != FALSE;
  }
  bool AppendAtEnd(const void* buffer, uint32_t size, uint32_t* bytesWritten) override {
    // Another process can append between a move to the end and the write that follows, and the
    // later write then overwrites its bytes (append-only access does not prevent this under
    // Wine). An exclusive lock on one byte far beyond any data serialises the two steps among
    // all appenders; where the file system has no locks they run unguarded.
    OVERLAPPED region = {};
    region.Offset = 0xFFFFFFFF;
    region.OffsetHigh = 0x7FFFFFFF;
    const bool locked = ::LockFileEx(handle_.Get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &region) != FALSE;
    SeekToEnd();
    const bool ok = Write(buffer, size, bytesWritten);
    const DWORD error = ::GetLastError();
    if (locked) ::UnlockFileEx(handle_.Get(), 0, 1, 0, &region);
    ::SetLastError(error);
    return ok;
  }
  bool GetSize(uint64_t* size) override {
    LARGE_INTEGER value;
    if (!::GetFileSizeEx(handle_.Get(), &value)) return false;
    *size = static_cast<uint64_t>(value.QuadPart);
    return true;
  }
  bool GetTimes(port::FileTimes* times) override {
    FILETIME creation, access, write;
    if (!::GetFileTime(handle_.Get(), &creation, &access, &write)) return false;
    times->creation = FromFileTime(creation);
    times->lastAccess = FromFileTime(access);
    times->lastWrite = FromFileTime(write);
    return true;
  }
  bool SetTimes(const port::FileTimes& times) override {
    const FILETIME creation = ToFileTime(times.creation);
    const FILETIME access = ToFileTime(times.lastAccess);
    const FILETIME write = ToFileTime(times.lastWrite);
    return ::SetFileTime(handle_.Get(), times.creation ? &creation : nullptr, times.lastAccess ? &access : nullptr,
                         times.lastWrite ? &write : nullptr) != FALSE;
  }

 private:
  UniqueHandle handle_;
};

class Win32Snapshot : public port::ProcessSnapshot {
 public:
  explicit Win32Snapshot(UniqueHandle snapshot) : snapshot_(std::move(snapshot)) {}
  bool First(port::ProcessEntry* entry) override { return Fill(::Process32FirstW, entry); }
  bool Next(port::ProcessEntry* entry) override { return Fill(::Process32NextW, entry); }

 private:
  template <typename Walk>
  bool Fill(Walk walk, port::ProcessEntry* entry) {
    PROCESSENTRY32W record;
    record.dwSize = sizeof(record);
    if (!walk(snapshot_.Get(), &record)) return false;
    entry->processId = record.th32ProcessID;
    entry->parentProcessId = record.th32ParentProcessID;
    entry->exeFile = record.szExeFile;
    return true;
  }
  UniqueHandle snapshot_;
};

// Forwards the commands of a modal dialog to its controller.
INT_PTR CALLBACK ControlledDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    return TRUE;
  }
  auto* controller = reinterpret_cast<port::DialogController*>(::GetWindowLongPtrW(dialog, DWLP_USER));
  if (message == WM_COMMAND && controller) {
    const port::DialogCommandResult result = controller->OnCommand(LOWORD(wParam));
    if (result.endDialog) ::EndDialog(dialog, result.endResult);
    return result.handled ? TRUE : FALSE;
  }
  return FALSE;
}

class Win32Child : public port::ChildProcess {
 public:
  Win32Child(UniqueHandle process, UniqueHandle thread, UniqueHandle outputPipe)
      : process_(std::move(process)), thread_(std::move(thread)), outputPipe_(std::move(outputPipe)) {}

  port::WaitResult Wait(uint32_t milliseconds) override {
    switch (::WaitForSingleObject(process_.Get(), milliseconds)) {
      case WAIT_OBJECT_0:
        return port::WaitResult::kEnded;
      case WAIT_TIMEOUT:
        return port::WaitResult::kTimeout;
      default:
        return port::WaitResult::kFailed;
    }
  }
  bool GetExitCode(uint32_t* code) override {
    DWORD value = 0;
    if (!::GetExitCodeProcess(process_.Get(), &value)) return false;
    *code = value;
    return true;
  }
  void DrainOutput() override {
    if (!outputPipe_.Valid()) return;
    char buffer[65536];
    for (;;) {
      DWORD available = 0;
      if (!::PeekNamedPipe(outputPipe_.Get(), nullptr, 0, nullptr, &available, nullptr) || available == 0) return;
      DWORD got = 0;
      const DWORD want = available < sizeof(buffer) ? available : static_cast<DWORD>(sizeof(buffer));
      if (!::ReadFile(outputPipe_.Get(), buffer, want, &got, nullptr) || got == 0) return;
    }
  }

 private:
  UniqueHandle process_;
  UniqueHandle thread_;
  UniqueHandle outputPipe_;
};

// The extraction progress dialog: placed over its owner (or the middle of the screen) and shown.
INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
  if (message != WM_INITDIALOG) return FALSE;
  RECT self;
  ::GetWindowRect(dialog, &self);
  const int width = self.right - self.left;
  const int height = self.bottom - self.top;
  RECT area;
  HWND owner = ::GetWindow(dialog, GW_OWNER);
  if (!owner || !::GetWindowRect(owner, &area)) ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  const int x = area.left + ((area.right - area.left) - width) / 2;
  const int y = area.top + ((area.bottom - area.top) - height) / 2;
  ::SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ::ShowWindow(dialog, SW_SHOW);
  return TRUE;
}

UINT CodePageId(port::CodePage codePage) {
  return codePage == port::CodePage::kThreadAnsi ? CP_THREAD_ACP : CP_ACP;
}

}  // namespace

std::unique_ptr<port::File> Win32Platform::OpenForRead(const std::wstring& path) {
  UniqueHandle handle(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!handle.Valid()) return nullptr;
  return std::make_unique<Win32File>(std::move(handle));
}

bool Win32Platform::FindFirstMatch(const std::wstring& pattern) {
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  ::FindClose(find);
  return true;
}

std::unique_ptr<port::File> Win32Platform::CreateForWrite(const std::wstring& path, port::CreateMode mode,
                                                          port::ShareMode share) {
  const DWORD disposition = mode == port::CreateMode::kCreateNew      ? CREATE_NEW
                            : mode == port::CreateMode::kCreateAlways ? CREATE_ALWAYS
                                                                      : OPEN_ALWAYS;
  const DWORD access = share == port::ShareMode::kReadWrite ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE;
  const DWORD sharing = share == port::ShareMode::kReadWrite ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
  UniqueHandle handle(::CreateFileW(path.c_str(), access, sharing, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!handle.Valid()) return nullptr;
  return std::make_unique<Win32File>(std::move(handle));
}

bool Win32Platform::CreateDirectory(const std::wstring& path) {
  return ::CreateDirectoryW(path.c_str(), nullptr) != FALSE;
}

bool Win32Platform::RemoveDirectory(const std::wstring& path) { return ::RemoveDirectoryW(path.c_str()) != FALSE; }

bool Win32Platform::DeleteFile(const std::wstring& path) { return ::DeleteFileW(path.c_str()) != FALSE; }

bool Win32Platform::DeleteAtReboot(const std::wstring& path) {
  return ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

uint32_t Win32Platform::GetAttributes(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()); }

bool Win32Platform::SetAttributes(const std::wstring& path, uint32_t attributes) {
  return ::SetFileAttributesW(path.c_str(), attributes) != FALSE;
}

bool Win32Platform::CopyFile(const std::wstring& from, const std::wstring& to, bool failIfExists) {
  return ::CopyFileW(from.c_str(), to.c_str(), failIfExists ? TRUE : FALSE) != FALSE;
}

bool Win32Platform::ListFolder(const std::wstring& pattern, std::vector<port::FindData>* entries) {
  entries->clear();
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  do {
    entries->push_back({data.cFileName, data.dwFileAttributes});
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  return true;
}

std::wstring Win32Platform::GetCurrentDirectory() {
  return GrowingBuffer([](wchar_t* buffer, DWORD size) { return ::GetCurrentDirectoryW(size, buffer); });
}

bool Win32Platform::SetCurrentDirectory(const std::wstring& path) {
  return ::SetCurrentDirectoryW(path.c_str()) != FALSE;
}

bool Win32Platform::GetFreeSpace(const std::wstring& path, uint64_t* freeBytes) {
  ULARGE_INTEGER available;
  if (!::GetDiskFreeSpaceExW(path.c_str(), &available, nullptr, nullptr)) return false;
  *freeBytes = available.QuadPart;
  return true;
}

std::wstring Win32Platform::GetTempPath() {
  return GrowingBuffer([](wchar_t* buffer, DWORD size) { return ::GetTempPathW(size, buffer); });
}

std::wstring Win32Platform::ModuleFileName(size_t capacity) {
  std::vector<wchar_t> buffer(capacity + 1, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(capacity + 1));
  return std::wstring(buffer.data(), length > capacity ? capacity : length);
}

uint32_t Win32Platform::CurrentProcessId() { return ::GetCurrentProcessId(); }

std::unique_ptr<port::ProcessSnapshot> Win32Platform::SnapshotProcesses() {
  UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.Valid()) return nullptr;
  return std::make_unique<Win32Snapshot>(std::move(snapshot));
}

bool Win32Platform::SetShutdownLevel(uint32_t level, uint32_t flags) {
  return ::SetProcessShutdownParameters(level, flags) != FALSE;
}

bool Win32Platform::SplitCommandLine(const std::wstring& commandLine, std::vector<std::wstring>* args) {
  args->clear();
  int count = 0;
  LPWSTR* argv = ::CommandLineToArgvW(commandLine.c_str(), &count);
  if (!argv) return false;
  for (int i = 0; i < count; ++i) args->emplace_back(argv[i]);
  ::LocalFree(argv);
  return true;
}

void Win32Platform::RestrictDllSearchToSystem() {
  // Take the current folder and the application folder out of the DLL search; where the
  // system supports it, search only the system folder.
  ::SetDllDirectoryW(L"");
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  auto setDefault = kernel ? reinterpret_cast<SetDefaultDllDirectoriesFn>(
                                 reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")))
                           : nullptr;
  if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

std::unique_ptr<port::ChildProcess> Win32Platform::StartProcess(const port::ProcessStart& start) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  UniqueHandle readEnd, outputWrite, errorWrite;
  DWORD flags = NORMAL_PRIORITY_CLASS;
  BOOL inherit = FALSE;
  if (start.hiddenWithOutputPipe) {
    HANDLE read = nullptr, write = nullptr;
    if (!::CreatePipe(&read, &write, nullptr, 0)) return nullptr;
    readEnd = UniqueHandle(read);
    UniqueHandle writeEnd(write);
    HANDLE self = ::GetCurrentProcess();
    HANDLE out = nullptr, err = nullptr;
    if (!::DuplicateHandle(self, writeEnd.Get(), self, &out, 0, TRUE, DUPLICATE_SAME_ACCESS)) return nullptr;
    outputWrite = UniqueHandle(out);
    if (!::DuplicateHandle(self, outputWrite.Get(), self, &err, 0, TRUE, DUPLICATE_SAME_ACCESS)) return nullptr;
    errorWrite = UniqueHandle(err);
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = outputWrite.Get();
    startup.hStdError = errorWrite.Get();
    flags |= CREATE_NO_WINDOW;
    inherit = TRUE;
  } else {
    flags |= CREATE_NEW_CONSOLE;
  }
  std::vector<wchar_t> commandLine(start.commandLine.begin(), start.commandLine.end());
  commandLine.push_back(L'\0');
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, inherit, flags, nullptr,
                        start.currentDirectory.empty() ? nullptr : start.currentDirectory.c_str(), &startup, &info)) {
    return nullptr;
  }
  // The child holds its own copies of the write ends; with ours closed, the pipe reports the
  // child's end of output.
  outputWrite.Reset();
  errorWrite.Reset();
  return std::make_unique<Win32Child>(UniqueHandle(info.hProcess), UniqueHandle(info.hThread), std::move(readEnd));
}

port::ModuleHandle Win32Platform::LoadSystemLibrary(const std::wstring& name) {
  wchar_t system[MAX_PATH];
  const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::wstring path(system, length);
  if (path.back() != L'\\') path += L'\\';
  path += name;
  return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void Win32Platform::FreeLibrary(port::ModuleHandle module) {
  ::FreeLibrary(static_cast<HMODULE>(module));
}

uint32_t Win32Platform::GetLastError() { return ::GetLastError(); }
void Win32Platform::SetLastError(uint32_t error) { ::SetLastError(error); }

std::wstring Win32Platform::SystemLanguageName() {
  wchar_t name[256] = {};
  if (!::GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_SENGLANGUAGE, name, 256)) return std::wstring();
  return name;
}

std::string Win32Platform::WideToAnsi(const std::wstring& text, port::CodePage codePage) {
  if (text.empty()) return std::string();
  const UINT cp = CodePageId(codePage);
  const int size = ::WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
  return out;
}

std::wstring Win32Platform::AnsiToWide(const std::string& text, port::CodePage codePage) {
  if (text.empty()) return std::wstring();
  const UINT cp = CodePageId(codePage);
  const int size = ::MultiByteToWideChar(cp, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (size <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(size), L'\0');
  ::MultiByteToWideChar(cp, 0, text.data(), static_cast<int>(text.size()), &out[0], size);
  return out;
}

bool Win32Platform::GetEnvironmentVariable(const std::wstring& name, std::wstring* value) {
  ::SetLastError(ERROR_SUCCESS);
  const DWORD needed = ::GetEnvironmentVariableW(name.c_str(), nullptr, 0);
  if (needed == 0) return false;
  std::vector<wchar_t> buffer(needed + 1);
  const DWORD length = ::GetEnvironmentVariableW(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length == 0 && ::GetLastError() != ERROR_SUCCESS) return false;
  value->assign(buffer.data(), length);
  return true;
}

bool Win32Platform::SetEnvironmentVariable(const std::wstring& name, const std::wstring& value) {
  return ::SetEnvironmentVariableW(name.c_str(), value.c_str()) != FALSE;
}

std::wstring Win32Platform::ExpandEnvironmentStrings(const std::wstring& text) {
  const DWORD needed = ::ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  if (needed == 0) return std::wstring();
  std::vector<wchar_t> buffer(needed + 1);
  const DWORD length = ::ExpandEnvironmentStringsW(text.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length == 0 || length > buffer.size()) return std::wstring();
  return std::wstring(buffer.data());
}

std::wstring Win32Platform::FormatSystemMessage(uint32_t error) {
  LPWSTR text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  std::wstring result = length && text ? std::wstring(text, length) : std::wstring();
  if (text) ::LocalFree(text);
  return result;
}

std::wstring Win32Platform::NewGuidText() {
  GUID guid;
  if (FAILED(::CoCreateGuid(&guid))) return std::wstring();
  wchar_t text[40];
  if (!::StringFromGUID2(guid, text, 40)) return std::wstring();
  return text;
}

std::wstring Win32Platform::LocalTimeText() {
  wchar_t text[256] = {};
  if (!::GetTimeFormatW(LOCALE_SYSTEM_DEFAULT, TIME_FORCE24HOURFORMAT | TIME_NOTIMEMARKER, nullptr, nullptr, text, 255)) {
    return std::wstring();
  }
  return text;
}

std::wstring Win32Platform::LocalShortDateText() {
  wchar_t text[256] = {};
  if (!::GetDateFormatW(LOCALE_SYSTEM_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, text, 255)) return std::wstring();
  return text;
}

bool Win32Platform::LocalFileTimeToUtc(uint64_t local, uint64_t* utc) {
  const FILETIME in = ToFileTime(local);
  FILETIME out;
  if (!::LocalFileTimeToFileTime(&in, &out)) return false;
  *utc = FromFileTime(out);
  return true;
}

int64_t Win32Platform::NowSeconds() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return static_cast<int64_t>(FromFileTime(now) / 10000000ull);
}

void Win32Platform::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

bool Win32Platform::ModuleFileVersion(uint16_t parts[4]) {
  wchar_t path[MAX_PATH + 1] = {};
  if (!::GetModuleFileNameW(nullptr, path, MAX_PATH)) return false;
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) return false;
  std::vector<unsigned char> block(size);
  if (!::GetFileVersionInfoW(path, 0, size, block.data())) return false;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info) return false;
  parts[0] = HIWORD(info->dwFileVersionMS);
  parts[1] = LOWORD(info->dwFileVersionMS);
  parts[2] = HIWORD(info->dwFileVersionLS);
  parts[3] = LOWORD(info->dwFileVersionLS);
  return true;
}

std::wstring Win32Platform::LoadString(uint32_t id, size_t capacity) {
  if (capacity == 0) return std::wstring();
  std::vector<wchar_t> buffer(capacity, L'\0');
  const int length = ::LoadStringW(instance_, id, buffer.data(), static_cast<int>(capacity));
  return std::wstring(buffer.data(), length > 0 ? static_cast<size_t>(length) : 0);
}

int Win32Platform::MessageBox(port::WindowHandle owner, const std::wstring& text,
                              const std::wstring& caption, uint32_t style) {
  return ::MessageBoxW(static_cast<HWND>(owner), text.c_str(), caption.c_str(), style);
}

intptr_t Win32Platform::ShowModalDialog(uint32_t templateId, port::WindowHandle owner,
                                        port::DialogController* controller) {
  return ::DialogBoxParamW(instance_, MAKEINTRESOURCEW(templateId), static_cast<HWND>(owner),
                           ControlledDialogProc, reinterpret_cast<LPARAM>(controller));
}

port::WindowHandle Win32Platform::DesktopWindow() { return ::GetDesktopWindow(); }

port::IconHandle Win32Platform::LoadIcon(uint32_t resourceId, bool smallSize) {
  if (smallSize) {
    return ::LoadImageW(instance_, MAKEINTRESOURCEW(resourceId), IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                        ::GetSystemMetrics(SM_CYSMICON), 0);
  }
  return ::LoadImageW(instance_, MAKEINTRESOURCEW(resourceId), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE);
}

void Win32Platform::DestroyIcon(port::IconHandle icon) { ::DestroyIcon(static_cast<HICON>(icon)); }

void Win32Platform::PumpMessages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
}

bool Win32Platform::AddTrayIcon(port::WindowHandle window, port::IconHandle icon, const std::wstring& tip) {
  NOTIFYICONDATAW data = {};
  data.cbSize = sizeof(data);
  data.hWnd = static_cast<HWND>(window);
  data.uID = 0;
  data.uFlags = NIF_ICON | NIF_TIP;
  data.hIcon = static_cast<HICON>(icon);
  lstrcpynW(data.szTip, tip.c_str(), 128);
  return ::Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
}

void Win32Platform::RemoveTrayIcon(port::WindowHandle window) {
  NOTIFYICONDATAW data = {};
  data.cbSize = sizeof(data);
  data.hWnd = static_cast<HWND>(window);
  data.uID = 0;
  ::Shell_NotifyIconW(NIM_DELETE, &data);
}

port::WindowHandle Win32Platform::CreateProgressDialog(port::WindowHandle owner) {
  return ::CreateDialogParamW(instance_, MAKEINTRESOURCEW(110), static_cast<HWND>(owner), ProgressDialogProc, 0);
}

void Win32Platform::SetProgress(port::WindowHandle dialog, int position) {
  ::SendDlgItemMessageW(static_cast<HWND>(dialog), 1011, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void Win32Platform::SetWindowState(port::WindowHandle window, WindowState state) {
  HWND hwnd = static_cast<HWND>(window);
  if (!hwnd) return;
  switch (state) {
    case WindowState::kHide:
      ::ShowWindow(hwnd, SW_HIDE);
      break;
    case WindowState::kMinimizeAndHide:
      ::ShowWindow(hwnd, SW_MINIMIZE);
      ::ShowWindow(hwnd, SW_HIDE);
      break;
    case WindowState::kShowRestored:
      ::ShowWindow(hwnd, SW_SHOW);
      ::ShowWindow(hwnd, SW_RESTORE);
      break;
  }
}

void Win32Platform::DestroyWindow(port::WindowHandle window) {
  if (window) ::DestroyWindow(static_cast<HWND>(window));
}

}  // namespace win32

// --- Local time for records ----------------------------------------------------------------------

namespace win32 {

void Win32Platform::LocalDateAndTime24(std::wstring* shortDate, std::wstring* time) {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  wchar_t text[256] = {};
  shortDate->assign(::GetDateFormatW(LOCALE_SYSTEM_DEFAULT, DATE_SHORTDATE, &now, nullptr, text, 256) ? text : L"");
  time->assign(::GetTimeFormatW(LOCALE_SYSTEM_DEFAULT, TIME_FORCE24HOURFORMAT, &now, nullptr, text, 256) ? text : L"");
}

// --- Registry ------------------------------------------------------------------------------------

namespace {

REGSAM ViewFlag(port::RegistryView view) {
  return view == port::RegistryView::k64Bit ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

REGSAM Rights(port::RegistryAccess access) {
  switch (access) {
    case port::RegistryAccess::kQueryValues: return KEY_QUERY_VALUE;
    case port::RegistryAccess::kRead: return KEY_READ;
    case port::RegistryAccess::kAll: break;
  }
  return KEY_ALL_ACCESS;
}

// Subkey names are at most 255 characters; the buffer leaves room to spare.
constexpr DWORD kSubkeyNameCapacity = 512;

class Win32RegistryKey : public port::RegistryKey {
 public:
  Win32RegistryKey(UniqueHKey key, REGSAM view) : key_(std::move(key)), view_(view) {}

  uint32_t EnumSubkey(uint32_t index, std::wstring* name) override {
    wchar_t buffer[kSubkeyNameCapacity];
    DWORD length = kSubkeyNameCapacity;
    const LSTATUS status = ::RegEnumKeyExW(key_.Get(), index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS) name->assign(buffer, length);
    return static_cast<uint32_t>(status);
  }

  uint32_t OpenSubkey(const std::wstring& name, port::RegistryAccess access,
                      std::unique_ptr<port::RegistryKey>* key) override {
    key->reset();
    UniqueHKey subkey;
    const LSTATUS status = ::RegOpenKeyExW(key_.Get(), name.c_str(), 0, Rights(access) | view_, subkey.Receive());
    if (status == ERROR_SUCCESS) *key = std::make_unique<Win32RegistryKey>(std::move(subkey), view_);
    return static_cast<uint32_t>(status);
  }

  uint32_t QueryString(const std::wstring& name, size_t capacityBytes, std::wstring* value) override {
    // One spare character: a stored string need not end with its null.
    std::vector<wchar_t> buffer(capacityBytes / sizeof(wchar_t) + 1, L'\0');
    DWORD type = REG_NONE;
    DWORD size = static_cast<DWORD>(capacityBytes);
    const LSTATUS status =
        ::RegQueryValueExW(key_.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
    if (status != ERROR_SUCCESS) return static_cast<uint32_t>(status);
    if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_UNSUPPORTED_TYPE;
    const size_t characters = size / sizeof(wchar_t);
    size_t length = 0;
    while (length < characters && buffer[length] != L'\0') ++length;
    value->assign(buffer.data(), length);
    return ERROR_SUCCESS;
  }

  uint32_t SetString(const std::wstring& name, const std::wstring& value) override {
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    return static_cast<uint32_t>(
        ::RegSetValueExW(key_.Get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes));
  }

  uint32_t DeleteSubkey(const std::wstring& name) override {
    return static_cast<uint32_t>(::RegDeleteKeyExW(key_.Get(), name.c_str(), view_, 0));
  }

 private:
  UniqueHKey key_;
  REGSAM view_;
};

}  // namespace

uint32_t Win32Registry::CreateKey(port::RegistryView view, const std::wstring& path,
                                  std::unique_ptr<port::RegistryKey>* key) {
  key->reset();
  UniqueHKey created;
  const LSTATUS status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           KEY_ALL_ACCESS | ViewFlag(view), nullptr, created.Receive(), nullptr);
  if (status == ERROR_SUCCESS) *key = std::make_unique<Win32RegistryKey>(std::move(created), ViewFlag(view));
  return static_cast<uint32_t>(status);
}

uint32_t Win32Registry::OpenKey(port::RegistryView view, const std::wstring& path, port::RegistryAccess access,
                                std::unique_ptr<port::RegistryKey>* key) {
  key->reset();
  UniqueHKey opened;
  const LSTATUS status =
      ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, Rights(access) | ViewFlag(view), opened.Receive());
  if (status == ERROR_SUCCESS) *key = std::make_unique<Win32RegistryKey>(std::move(opened), ViewFlag(view));
  return static_cast<uint32_t>(status);
}

uint32_t Win32Platform::SuppressCriticalErrors() { return ::SetErrorMode(SEM_FAILCRITICALERRORS); }

void Win32Platform::RestoreErrorMode(uint32_t mode) { ::SetErrorMode(mode); }

port::DriveType Win32Platform::GetDriveType(const std::wstring& root) {
  return static_cast<port::DriveType>(::GetDriveTypeW(root.c_str()));
}

bool Win32Platform::IsRootAccessible(const std::wstring& root) {
  return ::GetFileAttributesW(root.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Win32Platform::EnableShutdownPrivilege() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
  UniqueHandle owned(token);
  TOKEN_PRIVILEGES privileges = {};
  if (!::LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid)) return false;
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!::AdjustTokenPrivileges(owned.Get(), FALSE, &privileges, 0, nullptr, nullptr)) return false;
  return ::GetLastError() == ERROR_SUCCESS;
}

bool Win32Platform::RequestRestart(const std::wstring& message, uint32_t timeoutSeconds) {
  std::vector<wchar_t> text(message.begin(), message.end());
  text.push_back(L'\0');
  return ::InitiateSystemShutdownExW(nullptr, text.data(), timeoutSeconds, TRUE, TRUE,
                                     SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_INSTALLATION |
                                         SHTDN_REASON_FLAG_PLANNED) != FALSE;
}

port::ServiceQuery Win32Services::QueryServiceState(const std::wstring& machine, const std::wstring& name) {
  port::ServiceQuery result;
  UniqueServiceHandle manager(
      ::OpenSCManagerW(machine.empty() ? nullptr : machine.c_str(), SERVICES_ACTIVE_DATABASEW, SC_MANAGER_ALL_ACCESS));
  if (!manager.Valid()) {
    result.error = ::GetLastError();
    return result;
  }
  result.managerOpened = true;
  UniqueServiceHandle service(::OpenServiceW(manager.Get(), name.c_str(), SERVICE_ALL_ACCESS));
  if (!service.Valid()) {
    result.error = ::GetLastError();
    return result;
  }
  result.serviceOpened = true;
  SERVICE_STATUS_PROCESS status = {};
  DWORD needed = 0;
  if (!::QueryServiceStatusEx(service.Get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                              &needed)) {
    result.error = ::GetLastError();
    return result;
  }
  result.queried = true;
  result.state = status.dwCurrentState;
  return result;
}

}  // namespace win32
