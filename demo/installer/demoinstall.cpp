// The demo package's installer: a stand-in for the real installer a component carries. It
// installs nothing, but it does everything a real one does that the setup stub can notice:
//
//   - it appends its own lines to the shared component log (and to the verbose log when it
//     inherits CMPLOG2_VERBOSE_FILENAME), so they land inside the stub's run;
//   - it writes a marker file that records its command line, its current directory (the
//     extracted package), the files there and the configuration file it was handed;
//   - it ends with a completion code chosen by its caller.
//
//   demoinstall.exe [/code:N] [/cfg:NAME] [/marker:PATH] [/sleep:MS] [/spew:BYTES] [other ...]
//
// Completion code: /code:N (decimal, 32 bits, may be negative), else the number in exitcode.txt
// in the current directory, else 1. A malformed option value or exitcode.txt makes it 0.
// /sleep:MS waits before exiting; /spew:BYTES writes that many bytes to standard output and as
// many to standard error (blocking while nobody reads them); /marker:PATH moves the marker file
// from its default, %SystemDrive%\riviziduve\demo\installed.txt. Other arguments are only
// recorded. Options compare without regard to case and may start with "/" or "-".
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "log/cmplog2.h"
#include "platform/win32/win32_platform.h"

namespace {

const wchar_t kDefaultMarker[] = L"%SystemDrive%\\riviziduve\\demo\\installed.txt";
const wchar_t kDefaultConfig[] = L"demo.cfg";
const wchar_t kExitCodeFile[] = L"exitcode.txt";
const wchar_t kVerboseVariable[] = L"CMPLOG2_VERBOSE_FILENAME";

// Limits that keep the marker file readable when the program runs somewhere unexpected.
constexpr size_t kMaxListedEntries = 2000;
constexpr int kMaxListingDepth = 8;
constexpr DWORD kMaxConfigBytes = 64 * 1024;
constexpr DWORD kMaxExitCodeFileBytes = 4096;

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], size, nullptr,
                          nullptr);
  }
  return utf8;
}

std::wstring FromUtf8(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size > 0 ? size : 0), L'\0');
  if (size > 0) ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
  return wide;
}

std::wstring Lower(std::wstring text) {
  for (auto& ch : text) ch = static_cast<wchar_t>(std::towlower(ch));
  return text;
}

// Writes all of `data` to a handle. Blocks while a pipe is full, which is the point of /spew.
// Returns the number of bytes that went out.
uint64_t WriteAll(HANDLE handle, const char* data, size_t size) {
  uint64_t total = 0;
  while (size > 0) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 20));
    if (!::WriteFile(handle, data, chunk, &written, nullptr) || written == 0) break;
    data += written;
    size -= written;
    total += written;
  }
  return total;
}

void PrintTo(DWORD stdHandle, const std::wstring& text) {
  const HANDLE handle = ::GetStdHandle(stdHandle);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  DWORD mode = 0;
  if (::GetConsoleMode(handle, &mode)) {
    DWORD written = 0;
    ::WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  const std::string utf8 = ToUtf8(text);
  WriteAll(handle, utf8.data(), utf8.size());
}

// Reads at most `limit` bytes of a file. False when it cannot be opened or read; `truncated`
// tells whether the file held more.
bool ReadFileBytes(const std::wstring& path, DWORD limit, std::string* data, bool* truncated) {
  win32::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return false;
  data->clear();
  *truncated = false;
  char buffer[8192];
  DWORD got = 0;
  while (true) {
    if (!::ReadFile(file.Get(), buffer, sizeof(buffer), &got, nullptr)) return false;
    if (got == 0) break;
    const size_t room = limit - data->size();
    if (got > room) {
      data->append(buffer, room);
      *truncated = true;
      break;
    }
    data->append(buffer, got);
  }
  return true;
}

bool FileExists(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A decimal 32-bit value: optional sign, digits, nothing else. Values up to 4294967295 are
// taken as the unsigned exit code they stand for (4294967295 is -1).
bool ParseCode(const std::wstring& text, int32_t* code) {
  if (text.empty()) return false;
  size_t i = (text[0] == L'-' || text[0] == L'+') ? 1 : 0;
  if (i == text.size()) return false;
  for (size_t k = i; k < text.size(); ++k) {
    if (text[k] < L'0' || text[k] > L'9') return false;
  }
  if (text.size() - i > 10) return false;
  const long long value = std::wcstoll(text.c_str(), nullptr, 10);
  if (value < INT32_MIN || value > static_cast<long long>(UINT32_MAX)) return false;
  *code = static_cast<int32_t>(static_cast<uint32_t>(value));
  return true;
}

// An unsigned decimal count of at most `max`.
bool ParseCount(const std::wstring& text, unsigned long long max, unsigned long long* value) {
  if (text.empty() || text.size() > 19) return false;
  for (wchar_t ch : text) {
    if (ch < L'0' || ch > L'9') return false;
  }
  *value = std::wcstoull(text.c_str(), nullptr, 10);
  return *value <= max;
}

// The command line without the program name, the way the runtime splits off argv[0].
std::wstring ArgumentsOf(const wchar_t* commandLine) {
  const wchar_t* p = commandLine;
  if (*p == L'"') {
    ++p;
    while (*p && *p != L'"') ++p;
    if (*p) ++p;
  } else {
    while (*p && *p != L' ' && *p != L'\t') ++p;
  }
  while (*p == L' ' || *p == L'\t') ++p;
  return p;
}

// Creates every missing folder above `file`; errors show later, when the file is created.
void CreateParentFolders(const std::wstring& file) {
  const size_t last = file.find_last_of(L"\\/");
  if (last == std::wstring::npos) return;
  // Start after the root ("C:\" or "\\server\share\"), which cannot be created.
  size_t start = 0;
  if (file.size() >= 3 && file[1] == L':') {
    start = 3;
  } else if (file.compare(0, 2, L"\\\\") == 0) {
    start = file.find_first_of(L"\\/", 2);
    if (start != std::wstring::npos) start = file.find_first_of(L"\\/", start + 1);
    if (start == std::wstring::npos) return;
    ++start;
  }
  for (size_t pos = file.find_first_of(L"\\/", start); pos != std::wstring::npos && pos <= last;
       pos = file.find_first_of(L"\\/", pos + 1)) {
    ::CreateDirectoryW(file.substr(0, pos).c_str(), nullptr);
  }
}

std::wstring FullPath(const std::wstring& path) {
  const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return path;
  std::wstring full(size, L'\0');
  const DWORD got = ::GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
  if (got == 0 || got >= size) return path;
  full.resize(got);
  return full;
}

std::wstring ExpandEnvironment(const wchar_t* text) {
  const DWORD size = ::ExpandEnvironmentStringsW(text, nullptr, 0);
  if (size == 0) return text;
  std::wstring expanded(size, L'\0');
  const DWORD got = ::ExpandEnvironmentStringsW(text, &expanded[0], size);
  if (got == 0 || got > size) return text;
  expanded.resize(got - 1);
  return expanded;
}

std::wstring CurrentDirectory() {
  const DWORD size = ::GetCurrentDirectoryW(0, nullptr);
  if (size == 0) return std::wstring();
  std::wstring folder(size, L'\0');
  const DWORD got = ::GetCurrentDirectoryW(size, &folder[0]);
  folder.resize(got < size ? got : 0);
  return folder;
}

bool GetVariable(const wchar_t* name, std::wstring* value) {
  const DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return false;
  std::wstring text(size, L'\0');
  const DWORD got = ::GetEnvironmentVariableW(name, &text[0], size);
  if (got == 0 || got >= size) return false;
  text.resize(got);
  *value = text;
  return true;
}

struct Listing {
  std::vector<std::wstring> lines;
  size_t files = 0;
  bool cut = false;
};

// Lists `folder` and its subfolders, names relative to the listed root and sorted; folders end
// in "\", files carry their size. Folder links are named but not followed.
void ListFolder(const std::wstring& folder, const std::wstring& relative, int depth, Listing* listing) {
  std::vector<WIN32_FIND_DATAW> entries;
  WIN32_FIND_DATAW data;
  const HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (std::wcscmp(data.cFileName, L".") != 0 && std::wcscmp(data.cFileName, L"..") != 0) entries.push_back(data);
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  std::sort(entries.begin(), entries.end(), [](const WIN32_FIND_DATAW& a, const WIN32_FIND_DATAW& b) {
    return Lower(a.cFileName) < Lower(b.cFileName);
  });
  for (const auto& entry : entries) {
    if (listing->lines.size() >= kMaxListedEntries) {
      listing->cut = true;
      return;
    }
    const std::wstring name = relative + entry.cFileName;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      listing->lines.push_back(name + L"\\");
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
      if (depth >= kMaxListingDepth) {
        listing->cut = true;
        continue;
      }
      ListFolder(folder + L"\\" + entry.cFileName, name + L"\\", depth + 1, listing);
    } else {
      const unsigned long long size =
          (static_cast<unsigned long long>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
      listing->lines.push_back(name + L" (" + std::to_wstring(size) + L" bytes)");
      ++listing->files;
    }
  }
}

// The filler that /spew writes: lines of 64 bytes, "stdout" or "stderr" and a running number,
// so that a reader can tell where the output came from and whether any of it went missing.
std::string Filler(const char* stream, unsigned long long bytes) {
  std::string out;
  out.reserve(static_cast<size_t>(bytes));
  char line[80];
  for (unsigned long long n = 0; out.size() < bytes; ++n) {
    std::snprintf(line, sizeof(line), "demoinstall %s filler %010llu .........................\r\n", stream, n);
    out.append(line, std::min<size_t>(std::strlen(line), static_cast<size_t>(bytes) - out.size()));
  }
  return out;
}

struct Options {
  bool hasCode = false;
  int32_t code = 0;
  std::wstring config = kDefaultConfig;
  std::wstring marker;
  DWORD sleepMs = 0;
  unsigned long long spewBytes = 0;
  std::vector<std::wstring> errors;  // one text per malformed argument
};

Options ParseArguments(int argc, wchar_t** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg.size() < 2 || (arg[0] != L'/' && arg[0] != L'-')) continue;
    const size_t colon = arg.find(L':');
    if (colon == std::wstring::npos) continue;
    const std::wstring name = Lower(arg.substr(1, colon - 1));
    const std::wstring value = arg.substr(colon + 1);
    unsigned long long count = 0;
    if (name == L"code") {
      if (ParseCode(value, &options.code)) {
        options.hasCode = true;
      } else {
        options.errors.push_back(L"not a 32-bit decimal completion code: " + arg);
      }
    } else if (name == L"sleep") {
      if (ParseCount(value, UINT32_MAX, &count)) {
        options.sleepMs = static_cast<DWORD>(count);
      } else {
        options.errors.push_back(L"not a number of milliseconds: " + arg);
      }
    } else if (name == L"spew") {
      // The filler is built in memory; a gigabyte is far more than any pipe holds.
      if (ParseCount(value, 1ull << 30, &count)) {
        options.spewBytes = count;
      } else {
        options.errors.push_back(L"not a number of bytes up to 1073741824: " + arg);
      }
    } else if (name == L"marker") {
      if (!value.empty()) {
        options.marker = value;
      } else {
        options.errors.push_back(L"no marker path: " + arg);
      }
    } else if (name == L"cfg") {
      if (!value.empty()) {
        options.config = value;
      } else {
        options.errors.push_back(L"no configuration file name: " + arg);
      }
    }
  }
  return options;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const wchar_t* const commandLine = ::GetCommandLineW();
  Options options = ParseArguments(argc, argv);
  const std::wstring folder = CurrentDirectory();

  win32::Win32Platform platform(::GetModuleHandleW(nullptr));
  CCmpLog2 log(platform);
  const bool logOpen = log.Open() == 0;
  if (!logOpen) PrintTo(STD_ERROR_HANDLE, L"demoinstall: the component log could not be opened\r\n");
  log.Write(CMPLOG2_BOTH, CMPLOG2_INFO, CMPLOG2_SOURCE, __LINE__,
            L"Demo installer started with arguments [%s]\r\n\r\n", ArgumentsOf(commandLine).c_str());
  log.Write(CMPLOG2_BOTH, CMPLOG2_INFO, CMPLOG2_SOURCE, __LINE__, L"Demo installer working folder [%s]\r\n\r\n",
            folder.c_str());
  for (const auto& error : options.errors) {
    log.Write(CMPLOG2_BOTH, CMPLOG2_ERROR, CMPLOG2_SOURCE, __LINE__, L"Demo installer: %s\r\n\r\n",
              error.c_str());
  }

  // The completion code, and where it came from.
  int32_t code = 1;
  std::wstring codeSource = L"default";
  if (options.hasCode) {
    code = options.code;
    codeSource = L"/code argument";
  } else if (FileExists(kExitCodeFile)) {
    std::string text;
    bool truncated = false;
    codeSource = kExitCodeFile;
    std::wstring value;
    if (ReadFileBytes(kExitCodeFile, kMaxExitCodeFileBytes, &text, &truncated) && !truncated) {
      if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
      value = FromUtf8(text);
      const auto blank = [](wchar_t ch) { return ch == L' ' || ch == L'\t' || ch == L'\r' || ch == L'\n'; };
      while (!value.empty() && blank(value.back())) value.pop_back();
      value.erase(0, std::find_if_not(value.begin(), value.end(), blank) - value.begin());
    }
    if (!ParseCode(value, &code)) {
      options.errors.push_back(L"exitcode.txt does not hold a 32-bit decimal completion code");
      log.Write(CMPLOG2_BOTH, CMPLOG2_ERROR, CMPLOG2_SOURCE, __LINE__,
                L"Demo installer: exitcode.txt does not hold a 32-bit decimal completion code\r\n\r\n");
    }
  }
  if (!options.errors.empty()) {
    code = 0;
    codeSource = L"malformed input";
  }

  // The configuration file the stub hands over, if any.
  const std::wstring configPath = FullPath(options.config);
  std::string configData;
  bool configTruncated = false;
  const bool hasConfig =
      FileExists(configPath) && ReadFileBytes(configPath, kMaxConfigBytes, &configData, &configTruncated);
  if (hasConfig) {
    log.Write(CMPLOG2_BOTH, CMPLOG2_INFO, CMPLOG2_SOURCE, __LINE__,
              L"Demo installer read configuration file [%s] (%llu bytes)\r\n\r\n", configPath.c_str(),
              static_cast<unsigned long long>(configData.size()));
  } else {
    log.Write(CMPLOG2_BOTH, CMPLOG2_INFO, CMPLOG2_SOURCE, __LINE__,
              L"Demo installer found no configuration file [%s]\r\n\r\n", configPath.c_str());
  }

  // The marker file.
  Listing listing;
  if (!folder.empty()) ListFolder(folder, L"", 0, &listing);
  std::wstring verbosePath;
  const bool verboseInherited = GetVariable(kVerboseVariable, &verbosePath);
  std::wstring marker = L"Demo installer ran.\r\n";
  marker += L"Command line: " + std::wstring(commandLine) + L"\r\n";
  marker += L"Current directory: " + folder + L"\r\n";
  marker += L"Completion code: " + std::to_wstring(code) + L" (" + codeSource + L")\r\n";
  for (const auto& error : options.errors) marker += L"Error: " + error + L"\r\n";
  marker += std::wstring(kVerboseVariable) + L": " + (verboseInherited ? verbosePath : L"(not set)") + L"\r\n";
  marker += L"Files in the current directory:\r\n";
  for (const auto& line : listing.lines) marker += L"  " + line + L"\r\n";
  if (listing.cut) marker += L"  (listing cut short)\r\n";
  std::string markerBytes = ToUtf8(marker);
  if (hasConfig) {
    markerBytes += ToUtf8(L"Configuration file " + configPath + L" (" + std::to_wstring(configData.size()) +
                          L" bytes" + (configTruncated ? L", cut short" : L"") + L"):\r\n");
    markerBytes += configData;  // as the file holds it
    if (!configData.empty() && configData.back() != '\n') markerBytes += "\r\n";
  } else {
    markerBytes += ToUtf8(L"Configuration file " + configPath + L": not present\r\n");
  }

  const std::wstring markerPath = FullPath(options.marker.empty() ? ExpandEnvironment(kDefaultMarker) : options.marker);
  CreateParentFolders(markerPath);
  bool markerWritten = false;
  DWORD markerError = 0;
  {
    win32::UniqueHandle file(::CreateFileW(markerPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Valid()) {
      markerWritten = WriteAll(file.Get(), markerBytes.data(), markerBytes.size()) == markerBytes.size();
      if (!markerWritten) markerError = ::GetLastError();
    } else {
      markerError = ::GetLastError();
    }
  }
  if (markerWritten) {
    log.Write(CMPLOG2_BOTH, CMPLOG2_INFO, CMPLOG2_SOURCE, __LINE__,
              L"Demo installer wrote marker file [%s] (%u files listed)\r\n\r\n", markerPath.c_str(),
              static_cast<unsigned>(listing.files));
  } else {
    log.Write(CMPLOG2_BOTH, CMPLOG2_ERROR, CMPLOG2_SOURCE, __LINE__,
              L"Demo installer could not write marker file [%s] (error %lu)\r\n\r\n", markerPath.c_str(),
              markerError);
    PrintTo(STD_ERROR_HANDLE, L"demoinstall: cannot write the marker file " + markerPath + L"\r\n");
  }

  // Output for whoever holds our standard handles; a pipe nobody reads stops us here.
  if (options.spewBytes > 0) {
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    const std::string outFiller = Filler("stdout", options.spewBytes);
    const std::string errFiller = Filler("stderr", options.spewBytes);
    uint64_t outWritten = 0;
    uint64_t errWritten = 0;
    // Alternate in slices, so that a reader of either stream sees both move.
    const size_t slice = 4096;
    bool outOk = out != nullptr && out != INVALID_HANDLE_VALUE;
    bool errOk = err != nullptr && err != INVALID_HANDLE_VALUE;
    while ((outOk && outWritten < outFiller.size()) || (errOk && errWritten < errFiller.size())) {
      if (outOk && outWritten < outFiller.size()) {
        const size_t n = std::min<size_t>(slice, outFiller.size() - static_cast<size_t>(outWritten));
        const uint64_t got = WriteAll(out, outFiller.data() + outWritten, n);
        outWritten += got;
        outOk = got == n;
      }
      if (errOk && errWritten < errFiller.size()) {
        const size_t n = std::min<size_t>(slice, errFiller.size() - static_cast<size_t>(errWritten));
        const uint64_t got = WriteAll(err, errFiller.data() + errWritten, n);
        errWritten += got;
        errOk = got == n;
      }
    }
    log.Write(CMPLOG2_BOTH, CMPLOG2_INFO, CMPLOG2_SOURCE, __LINE__,
              L"Demo installer wrote %llu bytes to standard output and %llu bytes to standard error\r\n\r\n",
              static_cast<unsigned long long>(outWritten), static_cast<unsigned long long>(errWritten));
  }

  if (options.sleepMs > 0) {
    log.Write(CMPLOG2_BOTH, CMPLOG2_INFO, CMPLOG2_SOURCE, __LINE__, L"Demo installer waiting %lu ms\r\n\r\n",
              options.sleepMs);
    ::Sleep(options.sleepMs);
  }

  log.Write(CMPLOG2_BOTH, CMPLOG2_INFO, CMPLOG2_SOURCE, __LINE__,
            L"Demo installer finished: completion code %d (%s)\r\n\r\n", code, codeSource.c_str());
  log.Close();

  std::wstring summary = L"demoinstall: completion code " + std::to_wstring(code) + L" (" + codeSource + L")\r\n";
  summary += L"demoinstall: " + std::to_wstring(listing.files) + L" files in " + folder + L"\r\n";
  summary += L"demoinstall: marker " + markerPath + (markerWritten ? L"" : L" NOT written") + L"\r\n";
  for (const auto& error : options.errors) summary += L"demoinstall: error: " + error + L"\r\n";
  PrintTo(STD_OUTPUT_HANDLE, summary);
  return code;
}
