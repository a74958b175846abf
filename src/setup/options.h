// The stub's command line: options and their values.
#pragma once

#include <cstdint>
#include <string>

namespace port {
class Platform;
}

// Capacities of the value fields, terminator included.
constexpr size_t kPathCapacity = 261;
constexpr size_t kRebootMessageCapacity = 512;

struct SetupOptions {
  bool silent = false;
  bool showHelp = false;
  bool dosReturnCode = false;
  bool noPrompt = false;
  bool extractOnly = false;
  bool useInstallPath = false;
  bool dryRun = false;
  bool tpmBypass = false;
  bool verboseLog = false;
  bool reboot = false;
  bool configFilePresent = false;
  std::wstring extractPath;     // at most kPathCapacity - 1 characters
  std::wstring installPath;     // at most kPathCapacity - 1 characters
  std::wstring configFilePath;  // at most kPathCapacity - 1 characters
  std::wstring rebootMessage;   // at most kRebootMessageCapacity - 1 characters
  int32_t rebootTimeout = 0;
};

// Fills `options` from the command-line tail (the arguments after the program name). Never
// rejects an argument: unknown ones are left for the installer.
void ParseCommandLine(port::Platform& platform, const std::wstring& tail, SetupOptions* options);

// Case-insensitive comparison of option names (ASCII letters fold; nothing else does).
bool EqualsNoCase(const std::wstring& a, const std::wstring& b);
bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix);

// The decimal conversion of "/t": leading blanks, optional sign, digits up to the first other
// character; no digits give 0. Values beyond the 32-bit range are clamped.
int32_t ParseDecimal(const std::wstring& text);
