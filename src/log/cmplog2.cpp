#include "log/cmplog2.h"


#include "log/wformat.h"

namespace {

const wchar_t kVerboseVariable[] = L"CMPLOG2_VERBOSE_FILENAME";
const wchar_t kLogFolder[] = L"%systemdrive%\\riviziduve\\log\\";
const wchar_t kMainLogName[] = L"vorqsetup.log";
const wchar_t kVerboseLogName[] = L"vorqsetup.verbose.log";

// Longest text that the fixed buffers of the log keep (their size less the terminator).
constexpr size_t kPathMax = kCmpLog2PathCapacity - 1;
constexpr size_t kTimeMax = 254;  // time and date texts live in buffers of 255 characters

std::wstring Bounded(const std::wstring& text, size_t maxLength) { return text.substr(0, maxLength); }

const wchar_t* MarkerOf(int32_t severity) {
  switch (severity) {
    case CMPLOG2_WARNING: return L"**WARNING** - ";
    case CMPLOG2_ERROR: return L"**ERROR** - ";
    case CMPLOG2_CRITICAL: return L"**CRITICAL** - ";
    default: return L"";
  }
}

// File name and extension of a path, without drive and folders.
std::wstring FileNameOf(const wchar_t* path) {
  if (!path) return std::wstring();
  std::wstring text(path);
  if (text.size() >= 2 && text[1] == L':') text.erase(0, 2);
  const size_t slash = text.find_last_of(L"\\/");
  return slash == std::wstring::npos ? text : text.substr(slash + 1);
}

const wchar_t kRule[] = L"===========================================================================";

}  // namespace

CCmpLog2::CCmpLog2(port::Platform& platform) : platform_(platform) {
  port::SystemFacts& system = platform_.System();
  folder_ = Bounded(system.ExpandEnvironmentStrings(kLogFolder), kPathMax);
  main_.path = Bounded(folder_ + kMainLogName, kPathMax);

  // A verbose path inherited from the process that started us (the stub hands it to its
  // installer this way) turns verbose logging on. The system reports an empty variable like a
  // missing one, so an empty value does too.
  std::wstring inherited;
  if (system.GetEnvironmentVariable(kVerboseVariable, &inherited) && !inherited.empty()) {
    verbose_ = 1;
    // A value that does not fit the path buffer is not taken at all: no verbose log then.
    if (inherited.size() <= kPathMax) verboseLog_.path = inherited;
  } else {
    verboseLog_.path = Bounded(folder_ + kVerboseLogName, kPathMax);
  }
}

CCmpLog2::~CCmpLog2() { Close(); }

bool CCmpLog2::SetVerboseFileName(const std::wstring& name) {
  verbose_ = 1;
  verboseLog_.path = Bounded(folder_ + name, kPathMax);
  return platform_.System().SetEnvironmentVariable(kVerboseVariable, verboseLog_.path);
}

void CCmpLog2::EnableVerbose() {
  if (!verboseLog_.path.empty()) verbose_ = 1;
}

int32_t CCmpLog2::IsVerbose() const { return verbose_; }

uint32_t CCmpLog2::Open() {
  CreateFolderChain();
  if (!main_.path.empty()) {
    const uint32_t result = OpenFile(main_);
    if (result != 0) return result;
  }
  // The verbose log's own folder is not created: an inherited path names a folder that the
  // process which chose it is responsible for.
  if (verbose_ == 1 && !verboseLog_.path.empty()) {
    const uint32_t result = OpenFile(verboseLog_);
    if (result != 0) return result;
  }
  return 0;
}

void CCmpLog2::Close() {
  main_.file.reset();
  verboseLog_.file.reset();
}

void CCmpLog2::Write(uint32_t destination, int32_t severity, const wchar_t* sourceFile, int32_t sourceLine,
                     const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  WriteV(destination, severity, sourceFile, sourceLine, format, args);
  va_end(args);
}

void CCmpLog2::WriteV(uint32_t destination, int32_t severity, const wchar_t* sourceFile, int32_t sourceLine,
                      const wchar_t* format, va_list args) {
  const bool toMain = destination == CMPLOG2_MAIN || destination == CMPLOG2_BOTH || destination == CMPLOG2_BOTH_CONT;
  const bool toVerbose = destination >= CMPLOG2_VERBOSE && destination <= CMPLOG2_BOTH_CONT;
  const std::wstring marker = MarkerOf(severity);

  if (toMain && main_.IsOpen()) {
    WriteText(main_, marker);
    WriteText(main_, FormatWideV(format, args));
  }
  if (toVerbose && verboseLog_.IsOpen()) {
    if (destination == CMPLOG2_VERBOSE || destination == CMPLOG2_BOTH) {
      // The prefix carries the marker: "[time]::file[line] **ERROR** - ".
      WriteText(verboseLog_, FormatWide(L"[%s]::%s[%d] %s", GetLogTime(platform_).c_str(),
                                        FileNameOf(sourceFile).c_str(), sourceLine, marker.c_str()));
    } else {
      WriteText(verboseLog_, marker);
    }
    // Formatted afresh: the message is expanded once per file.
    WriteText(verboseLog_, FormatWideV(format, args));
  }
}

uint32_t CCmpLog2::OpenFile(LogFile& log) {
  log.file.reset();  // a run that opens the log again starts with fresh handles
  if (log.path.empty()) return kCmpLog2OpenFailed;
  log.file = platform_.Files().CreateForWrite(log.path, port::CreateMode::kOpenAlways, port::ShareMode::kReadWrite);
  return log.IsOpen() ? 0 : kCmpLog2OpenFailed;
}

// Creates the log folder one level at a time from the drive down ("C:\a", "C:\a\b", ...).
// Levels that exist already or cannot be made are passed over; a folder that is really missing
// shows up when the log file cannot be opened.
void CCmpLog2::CreateFolderChain() {
  std::wstring level;
  std::wstring rest = folder_;
  if (rest.size() >= 2 && rest[1] == L':') {
    level = rest.substr(0, 2);
    rest.erase(0, 2);
  }
  size_t start = 0;
  while (start < rest.size()) {
    size_t end = rest.find_first_of(L"\\/", start);
    if (end == std::wstring::npos) end = rest.size();
    if (end > start) {
      level += L'\\';
      level.append(rest, start, end - start);
      platform_.Files().CreateDirectory(level);
    }
    start = end + 1;
  }
}

// Converts to the system's ANSI code page and appends the bytes at the end of the file in one
// write. Moving to the end before each write keeps every process that shares the file appending;
// the platform keeps other appenders from slipping in between the move and the write.
void CCmpLog2::WriteText(LogFile& log, const std::wstring& text) {
  if (text.empty() || !log.IsOpen()) return;
  const std::string bytes = platform_.System().WideToAnsi(text, port::CodePage::kSystemAnsi);
  if (bytes.empty()) return;
  uint32_t written = 0;
  log.file->AppendAtEnd(bytes.data(), static_cast<uint32_t>(bytes.size()), &written);
}

std::wstring GetLogTime(port::Platform& platform) {
  return Bounded(platform.System().LocalTimeText(), kTimeMax);
}

std::wstring GetLogDateTime(port::Platform& platform) {
  return Bounded(platform.System().LocalShortDateText() + L" " + GetLogTime(platform), kTimeMax);
}

std::wstring GetStubFileName(port::Platform& platform) {
  return Bounded(FileNameOf(platform.Procs().ModuleFileName(kPathMax).c_str()), kPathMax);
}

bool GetStubFileVersion(port::Platform& platform, std::wstring* version, size_t capacity) {
  if (capacity < 10) return false;
  uint16_t parts[4] = {};
  if (!platform.System().ModuleFileVersion(parts)) return false;
  *version = Bounded(FormatWide(L"%d.%d.%d.%d", parts[0], parts[1], parts[2], parts[3]), capacity - 1);
  return true;
}

void WriteRunHeader(port::Platform& platform, CCmpLog2& log) {
  std::wstring version;
  if (!GetStubFileVersion(platform, &version, 32)) version.clear();
  const std::wstring format = std::wstring(kRule) +
                              L"\r\nSource:          %s\r\nVersion:         %s\r\nLog Date:        %s\r\n\r\n"
                              L"Log Session Start...\r\n\r\n";
  log.Write(CMPLOG2_BOTH_CONT, CMPLOG2_INFO, nullptr, 0, format.c_str(), GetStubFileName(platform).c_str(),
            version.c_str(), GetLogDateTime(platform).c_str());
}

void WriteRunFooter(port::Platform& platform, CCmpLog2& log, int32_t completionCode) {
  const std::wstring format =
      L"\r\n\r\nLog Session End. [%s]\r\nReturn Code (%d)\r\n" + std::wstring(kRule) + L"\r\n\r\n";
  log.Write(CMPLOG2_BOTH_CONT, CMPLOG2_INFO, nullptr, 0, format.c_str(), GetLogTime(platform).c_str(),
            completionCode);
}
