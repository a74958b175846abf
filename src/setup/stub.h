// The entry point's logic: process-wide state, run modes and the exit code.
#pragma once

#include <cstdint>
#include <string>

#include "archive/zip_file.h"
#include "log/cmplog2.h"
#include "package/cppkg.h"
#include "platform/port.h"
#include "setup/options.h"

// Completion codes shared by every part of the run.
enum : int32_t {
  kCompletionFailed = 0,
  kCompletionInstalled = 1,
  kCompletionRestartNeeded = 2,
  kCompletionNotAttempted = 3,
};

// The one process-wide record. The log, the archive and the package are built in that order
// and destroyed in reverse order when the record goes away at process exit.
struct StubGlobals {
  explicit StubGlobals(port::Platform& platform)
      : platform(platform), log(platform), archive(platform.Files(), platform.System()), package(platform) {}
  StubGlobals(const StubGlobals&) = delete;
  StubGlobals& operator=(const StubGlobals&) = delete;

  port::Platform& platform;
  port::ModuleHandle instance = nullptr;
  int32_t completionCode = 0;
  SetupOptions options;
  std::wstring definitionFileName;  // at most kPathCapacity - 1 characters
  port::IconHandle smallIcon = nullptr;
  port::IconHandle largeIcon = nullptr;
  CCmpLog2 log;
  vorqzip::ZIP_File archive;
  CPPkg package;
};

// Resource ids of the stub's own windows and icon.
enum : uint32_t {
  kIconStub = 102,
  kDialogMain = 101,
  kDialogUsage = 108,
  kDialogMainLarge = 115,
};

// Runs the stub: from the command-line tail to the process exit code.
int RunStub(StubGlobals& globals, port::ModuleHandle instance, const std::wstring& commandTail);

// The exit code of a run that got past the early exits: under /dosretcode or with the management
// agent as parent, 1 for a failed run and 0 for any other; otherwise the completion code.
int ExitCodeFor(int32_t completionCode, bool dosReturnCode, bool startedByAgent);

// The stub's file name without folder and extension (at most 255 characters) plus ".xml".
std::wstring DefinitionNameForStub(const std::wstring& stubPath);
