// The port over the real Win32 API.
#pragma once

#include <windows.h>

#include "platform/port.h"

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

class Win32Platform : public port::Platform,
                      private port::FileSystem,
                      private port::Processes,
                      private port::SystemFacts,
                      private port::UserInterface {
 public:
  explicit Win32Platform(HINSTANCE instance) : instance_(instance) {}

  port::FileSystem& Files() override { return *this; }
  port::Processes& Procs() override { return *this; }
  port::SystemFacts& System() override { return *this; }
  port::UserInterface& Ui() override { return *this; }

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
  std::wstring ModuleFileName(size_t capacity) override;
  uint32_t CurrentProcessId() override;
  std::unique_ptr<port::ProcessSnapshot> SnapshotProcesses() override;
  bool SetShutdownLevel(uint32_t level, uint32_t flags) override;
  bool SplitCommandLine(const std::wstring& commandLine, std::vector<std::wstring>* args) override;
  void RestrictDllSearchToSystem() override;
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
  bool ModuleFileVersion(uint16_t parts[4]) override;
  // port::UserInterface
  std::wstring LoadString(uint32_t id, size_t capacity) override;
  int MessageBox(port::WindowHandle owner, const std::wstring& text, const std::wstring& caption,
                 uint32_t style) override;
  intptr_t ShowModalDialog(uint32_t templateId, port::WindowHandle owner,
                           port::DialogController* controller) override;
  port::WindowHandle DesktopWindow() override;
  port::IconHandle LoadIcon(uint32_t resourceId, bool smallSize) override;
  void DestroyIcon(port::IconHandle icon) override;

  HINSTANCE instance_;
};

}  // namespace win32
