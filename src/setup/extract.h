// The installation run: one installation or extraction from its gates to its completion code.
#pragma once

#include <cstdint>
#include <string>

#include "platform/port.h"

struct StubGlobals;

// Runs one installation (installMode) or extraction (extract-only) and returns the completion
// code. `folder` is the extraction folder of an extract-only run, used as given; null means the
// user chooses one.
int32_t RunInstallation(StubGlobals& globals, port::WindowHandle owner, const std::wstring* folder,
                        bool installMode, bool silent);

// Writes the package's own configuration file into the current folder (the extraction folder);
// true when written or when the package has none to write.
bool WriteEmbeddedConfigFile(StubGlobals& globals);

// Total unpacked size of every entry of the stub's archive; 0 when it cannot be opened.
uint64_t GetPackageUnpackedSize(StubGlobals& globals);

// True when the volume of the current folder has more free bytes than the package unpacks to.
// Logs its lines in install mode; shows message 1003 unless silent.
bool CheckDiskSpace(StubGlobals& globals, port::WindowHandle owner, bool installMode, bool silent);
