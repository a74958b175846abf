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

// Joins a folder and a name with exactly one backslash.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);

// Creates a folder with every missing parent; a folder that exists already counts as created.
bool CreateFolderTree(port::Platform& platform, const std::wstring& path);

// Creates a new folder named by a fresh GUID in the user's temporary folder. `path` receives the
// folder tried (empty when `capacity` is below 260 characters, and nothing is created then).
bool CreateGuidTempFolder(port::Platform& platform, size_t capacity, std::wstring* path);

// Removes a folder and everything below it. Read-only and system entries are made normal first;
// what cannot be removed now is scheduled for removal at the next restart. Links to other
// folders (junctions and other reparse points) are removed as links: what they point at is
// never touched. False only when a folder cannot be listed.
bool RemoveTree(port::Platform& platform, const std::wstring& folder);

// Logs the calling thread's last error with the system's text for it:
// "<operation> FAILED with error <code>: <text>".
void LogLastError(StubGlobals& globals, const std::wstring& operation);

// Restarts the machine: warns (unless silent) when a floppy or CD drive holds a medium, enables
// the shutdown privilege and asks for a forced restart with the /reboot_message text (or the
// stub's own notice) and the /t time-out. Reports nothing: a refused restart leaves the machine
// running.
void RebootSystem(StubGlobals& globals);

// A message box whose text and caption are string-table entries; returns the button pressed.
int ShowMessageById(StubGlobals& globals, port::WindowHandle owner, uint32_t textId,
                    uint32_t captionId, uint32_t style);
