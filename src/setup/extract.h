// The installation run: one installation or extraction from its gates to its completion code.
#pragma once

#include <cstdint>
#include <string>

#include "platform/port.h"

struct StubGlobals;

// Runs one installation (installMode) or extraction (extract-only) and returns the completion
// code. `folder` is the extraction folder of an extract-only run (empty: ask the user).
int32_t RunInstallation(StubGlobals& globals, port::WindowHandle owner, const std::wstring& folder,
                        bool installMode, bool silent);
