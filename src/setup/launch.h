// Starting the package's installer: its command line, the meaning of its completion codes, and
// the launch itself.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/port.h"

struct StubGlobals;

// Capacity of the installer's command line, terminator included.
constexpr size_t kCommandLineCapacity = 2048;

// Everything the installer's command line is made of.
struct InstallerCommandParts {
  std::wstring folder;                    // the extraction folder
  const wchar_t* installCommand = nullptr;  // the setup program, relative to the folder
  const wchar_t* installParams = nullptr;   // fixed parameters, or null
  std::vector<std::wstring> stubArguments;  // the stub's own arguments, program name excluded
  // Maps one stub argument through the package's argument map.
  std::function<std::wstring(const std::wstring&)> mapArgument;
};

// Builds the installer's command line: the quoted program path, the fixed parameters, then the
// stub's arguments after mapping (a mapping to one blank drops the argument; one with a blank is
// quoted). With `masked`, the values of the credential options are written as "****": that
// copy is for the log only. Fails without an install command, or when the line would not fit
// `capacity` characters (terminator included) — a cut line would run the installer with
// arguments nobody gave it.
bool BuildInstallerCommandLine(const InstallerCommandParts& parts, bool masked, size_t capacity,
                               std::wstring* line);

// The log text for an installer's raw completion code.
std::wstring CompletionCodeText(int32_t code);

// "Setup utility completed in HHhh:MMmm:SSs" figures for an elapsed time in seconds: hours wrap
// at a day.
struct ElapsedTime {
  int hours, minutes, seconds;
};
ElapsedTime SplitElapsed(int64_t seconds);

// Starts the installer in the extraction folder (the current folder), waits for it while keeping
// the stub's windows alive, logs and translates its completion code, records the component and
// returns the translated code.
int32_t LaunchInstaller(StubGlobals& globals, port::WindowHandle owner, bool silent, const std::wstring& folder);
