// The port over the real Win32 API.
#pragma once

#include <windows.h>

#include "platform/port.h"
#include "platform/win32/win32_wmi.h"

namespace win32 {

// Owns a kernel handle; closes it once, whatever the way out.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = other.Release();
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  HANDLE Get() const { return handle_; }
  bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Release() {
    HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }
  void Reset() {
    if (Valid()) ::CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};

// Owns an open registry key; closes it once, whatever the way out.
class UniqueHKey {
 public:
  UniqueHKey() = default;
  explicit UniqueHKey(HKEY key) : key_(key) {}
  ~UniqueHKey() { Reset(); }
  UniqueHKey(UniqueHKey&& other) noexcept : key_(other.Release()) {}
  UniqueHKey& operator=(UniqueHKey&& other) noexcept {
    if (this != &other) {
      Reset();
      key_ = other.Release();
    }
    return *this;
  }
  UniqueHKey(const UniqueHKey&) = delete;
  UniqueHKey& operator=(const UniqueHKey&) = delete;

  HKEY Get() const { return key_; }
  // For the out-parameter of RegCreateKeyEx / RegOpenKeyEx; closes a key held before.
  HKEY* Receive() {
    Reset();
    return &key_;
  }
  HKEY Release() {
    HKEY key = key_;
    key_ = nullptr;
    return key;
  }
  void Reset() {
    if (key_ != nullptr) ::RegCloseKey(key_);
    key_ = nullptr;
  }

 private:
  HKEY key_ = nullptr;
};

// Owns a service control manager or service handle; closes it once, whatever the way out.
class UniqueServiceHandle {
 public:
  UniqueServiceHandle() = default;
  explicit UniqueServiceHandle(SC_HANDLE handle) : handle_(handle) {}
  ~UniqueServiceHandle() { Reset(); }
  UniqueServiceHandle(UniqueServiceHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueServiceHandle& operator=(UniqueServiceHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = other.Release();
    }
    return *this;
  }
  UniqueServiceHandle(const UniqueServiceHandle&) = delete;
  UniqueServiceHandle& operator=(const UniqueServiceHandle&) = delete;

  SC_HANDLE Get() const { return handle_; }
  bool Valid() const { return handle_ != nullptr; }
  SC_HANDLE Release() {
    SC_HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }
  void Reset() {
    if (handle_ != nullptr) ::CloseServiceHandle(handle_);
    handle_ = nullptr;
  }

 private:
  SC_HANDLE handle_ = nullptr;
};

// The service control manager through the service functions.
class Win32Services : public port::Services {
 public:
  port::ServiceQuery QueryServiceState(const std::wstring& machine, const std::wstring& name) override;
};

// HKEY_LOCAL_MACHINE through the registry functions.
class Win32Registry : public port::Registry {
 public:
  uint32_t CreateKey(port::RegistryView view, const std::wstring& path,
                     std::unique_ptr<port::RegistryKey>* key) override;
  uint32_t OpenKey(port::RegistryView view, const std::wstring& path, port::RegistryAccess access,
                   std::unique_ptr<port::RegistryKey>* key) override;
};

class Win32Platform : public port::Platform,
                      private port::FileSystem,
                      private port::Processes,
                      private port::SystemFacts,
                      private port::UserInterface,
                      private port::Machine {
 public:
  explicit Win32Platform(HINSTANCE instance) : instance_(instance) {}
  port::Machine& Host() override { return *this; }

  port::FileSystem& Files() override { return *this; }
  port::Processes& Procs() override { return *this; }
  port::SystemFacts& System() override { return *this; }
  port::UserInterface& Ui() override { return *this; }
  port::Registry& Reg() override { return registry_; }
  port::Services& Svc() override { return services_; }
  port::Wmi& Wmi() override { return wmi_; }

 private:
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
  std::wstring GetCurrentDirectory() override;
  bool SetCurrentDirectory(const std::wstring& path) override;
  bool GetFreeSpace(const std::wstring& path, uint64_t* freeBytes) override;
  std::wstring GetTempPath() override;
  // port::Processes
  std::wstring CommandLine() override { return ::GetCommandLineW(); }
  std::wstring ModuleFileName(size_t capacity) override;
  uint32_t CurrentProcessId() override;
  std::unique_ptr<port::ProcessSnapshot> SnapshotProcesses() override;
  bool SetShutdownLevel(uint32_t level, uint32_t flags) override;
  bool SplitCommandLine(const std::wstring& commandLine, std::vector<std::wstring>* args) override;
  void RestrictDllSearchToSystem() override;
  std::unique_ptr<port::ChildProcess> StartProcess(const port::ProcessStart& start) override;
  port::ModuleHandle LoadSystemLibrary(const std::wstring& name) override;
  void FreeLibrary(port::ModuleHandle module) override;
  // port::SystemFacts
  uint32_t GetLastError() override;
  void SetLastError(uint32_t error) override;
  std::wstring SystemLanguageName() override;
  std::string WideToAnsi(const std::wstring& text, port::CodePage codePage) override;
  std::wstring AnsiToWide(const std::string& text, port::CodePage codePage) override;
  bool GetEnvironmentVariable(const std::wstring& name, std::wstring* value) override;
  bool SetEnvironmentVariable(const std::wstring& name, const std::wstring& value) override;
  std::wstring ExpandEnvironmentStrings(const std::wstring& text) override;
  std::wstring FormatSystemMessage(uint32_t error) override;
  std::wstring NewGuidText() override;
  std::wstring LocalTimeText() override;
  std::wstring LocalShortDateText() override;
  bool LocalFileTimeToUtc(uint64_t local, uint64_t* utc) override;
  void LocalDateAndTime24(std::wstring* shortDate, std::wstring* time) override;
  bool ModuleFileVersion(uint16_t parts[4]) override;
  int64_t NowSeconds() override;
  void Sleep(uint32_t milliseconds) override;
  // port::UserInterface
  std::wstring LoadString(uint32_t id, size_t capacity) override;
  int MessageBox(port::WindowHandle owner, const std::wstring& text, const std::wstring& caption,
                 uint32_t style) override;
  intptr_t ShowModalDialog(uint32_t templateId, port::WindowHandle owner,
                           port::DialogController* controller) override;
  port::WindowHandle DesktopWindow() override;
  port::IconHandle LoadIcon(uint32_t resourceId, bool smallSize) override;
  void DestroyIcon(port::IconHandle icon) override;
  void PumpMessages() override;
  bool AddTrayIcon(port::WindowHandle window, port::IconHandle icon, const std::wstring& tip) override;
  void RemoveTrayIcon(port::WindowHandle window) override;
  port::WindowHandle CreateProgressDialog(port::WindowHandle owner) override;
  void SetProgress(port::WindowHandle dialog, int position) override;
  void SetWindowState(port::WindowHandle window, WindowState state) override;
  void DestroyWindow(port::WindowHandle window) override;
  // port::Machine
  uint32_t SuppressCriticalErrors() override;
  void RestoreErrorMode(uint32_t mode) override;
  port::DriveType GetDriveType(const std::wstring& root) override;
  bool IsRootAccessible(const std::wstring& root) override;
  bool EnableShutdownPrivilege() override;
  bool RequestRestart(const std::wstring& message, uint32_t timeoutSeconds) override;

  HINSTANCE instance_;
  Win32Registry registry_;
  Win32Services services_;
  Win32Wmi wmi_;
};

}  // namespace win32
