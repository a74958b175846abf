// The component log shared by the stub and the installer it starts.
//
// Every installation run appends to a main log, "vorqsetup.log" in the log folder on the system
// drive, and on request to a verbose log whose lines also carry the time and the writer's source
// position. Both files are opened shared for reading and writing, and every write first moves to
// the end of the file, so the stub, the installer it starts and other stubs all append to the
// same files. The verbose log's full path reaches child processes through the environment
// variable CMPLOG2_VERBOSE_FILENAME.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/port.h"

// Where a message goes (first argument of Write).
enum : uint32_t {
  CMPLOG2_MAIN = 0,          // main log only
  CMPLOG2_VERBOSE = 1,       // verbose log only, with the line prefix
  CMPLOG2_VERBOSE_CONT = 2,  // verbose log only, continuing a line: no prefix
  CMPLOG2_BOTH = 3,          // both logs, the verbose one with the line prefix
  CMPLOG2_BOTH_CONT = 4,     // both logs, no prefix (line ends, run header and footer)
};
// How serious a message is (second argument of Write); selects the marker before it.
enum : int32_t {
  CMPLOG2_INFO = 0,
  CMPLOG2_WARNING = 1,
  CMPLOG2_ERROR = 2,
  CMPLOG2_CRITICAL = 3,
};

// The writer's source file, as a wide string, for the verbose log's line prefix.
#define CMPLOG2_SOURCE (L"" __FILE__)

// What Open returns when a log file cannot be opened.
constexpr uint32_t kCmpLog2OpenFailed = 103;

// Paths are held within 260 characters, terminator included, and cut silently beyond.
constexpr size_t kCmpLog2PathCapacity = 260;

class CCmpLog2 {
 public:
  // Works out the paths and takes over an inherited verbose-log path (CMPLOG2_VERBOSE_FILENAME).
  // Opens nothing.
  explicit CCmpLog2(port::Platform& platform);
  virtual ~CCmpLog2();
  CCmpLog2(const CCmpLog2&) = delete;
  CCmpLog2& operator=(const CCmpLog2&) = delete;

  // Turns verbose logging on with `name` in the log folder, and publishes the full path in
  // CMPLOG2_VERBOSE_FILENAME for every process started afterwards. Returns whether the
  // environment variable could be set.
  virtual bool SetVerboseFileName(const std::wstring& name);
  // Turns verbose logging on, if there is a verbose path.
  virtual void EnableVerbose();
  // 1 when verbose logging is on, else 0.
  virtual int32_t IsVerbose() const;
  // Creates the log folder and opens the main log, then the verbose log when verbose logging is
  // on. 0 on success, kCmpLog2OpenFailed when a file cannot be opened (what was opened before
  // stays open).
  virtual uint32_t Open();
  // Closes both files; harmless when they are closed already.
  virtual void Close();
  // Writes a printf-style wide message (see log/wformat.h: "%s" takes a wide string) to the
  // files `destination` names, each preceded by the marker of `severity`; lines that start in
  // the verbose log get the prefix "[time]::file[line] ". `sourceFile` may be null. Messages
  // carry their own line ends. Files that are not open are skipped; nothing is reported.
  virtual void Write(uint32_t destination, int32_t severity, const wchar_t* sourceFile, int32_t sourceLine,
                     const wchar_t* format, ...);

  // Write with the arguments as a va_list (not consumed).
  void WriteV(uint32_t destination, int32_t severity, const wchar_t* sourceFile, int32_t sourceLine,
              const wchar_t* format, va_list args);

  const std::wstring& LogFolder() const { return folder_; }
  const std::wstring& MainLogPath() const { return main_.path; }
  const std::wstring& VerboseLogPath() const { return verboseLog_.path; }

 private:
  // One log file: its path and, while open, its handle.
  struct LogFile {
    std::unique_ptr<port::File> file;
    std::wstring path;
    bool IsOpen() const { return file != nullptr; }
  };

  uint32_t OpenFile(LogFile& log);
  void CreateFolderChain();
  void WriteText(LogFile& log, const std::wstring& text);

  port::Platform& platform_;
  int32_t verbose_ = 0;
  std::wstring folder_;  // with its trailing backslash
  LogFile main_;
  LogFile verboseLog_;
};

// Local time in the system default locale's format, 24 hours, no AM/PM marker ("17:52:07").
std::wstring GetLogTime(port::Platform& platform);
// The system default locale's short date, a blank, then the time as GetLogTime gives it.
std::wstring GetLogDateTime(port::Platform& platform);
// The stub's own file name and extension, without folder.
std::wstring GetStubFileName(port::Platform& platform);
// The stub's file version "major.minor.build.revision" from its version resource. Fails, leaving
// `version` untouched, when `capacity` (characters, terminator included) is below 10 or the stub
// has no readable version resource; a longer text is cut to capacity - 1 characters.
bool GetStubFileVersion(port::Platform& platform, std::wstring* version, size_t capacity = 32);
// Writes the block that starts every installation run: stub name, version and date.
void WriteRunHeader(port::Platform& platform, CCmpLog2& log);
// Writes the block that ends every installation run: time and the run's completion code.
void WriteRunFooter(port::Platform& platform, CCmpLog2& log, int32_t completionCode);
