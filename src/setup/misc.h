// System utilities shared by the entry point and the installation run.
#pragma once

#include <cstdint>
#include <string>

#include "platform/port.h"

struct StubGlobals;

// The two-letter code of the system default locale's language among the languages packages
// carry texts for ("fr", "es", "de", "it", "ja", "zh"); "en" for any other.
std::wstring SelectPackageLanguage(port::Platform& platform);

// Walks the snapshot from its first entry until the process id is found.
bool FindProcessEntry(port::ProcessSnapshot& snapshot, port::ProcessEntry* entry, uint32_t processId);

// True when the parent of this process runs kivagent.exe (any case).
bool IsStartedByAgent(port::Platform& platform);

// A message box whose text and caption are string-table entries; returns the button pressed.
int ShowMessageById(StubGlobals& globals, port::WindowHandle owner, uint32_t textId,
                    uint32_t captionId, uint32_t style);
