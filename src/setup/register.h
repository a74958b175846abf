// Records of installed components, and the preinstallation-environment test.
//
// After a successful installation the stub leaves two records for inventory and update tools:
// a copy of the component definition document in "<SystemDrive>\RIVIZIDUVE\cpxml\", and a
// registry record (64-bit view) under
// HKLM\Software\Dravik\Version Control\DravikRevisionManagement\<software key name>\<record>
// with the values ComponentXmlPath, InstallTime, ComponentFileName and
// ComponentKeyExpectedPath. All packages that update the same software key share that parent
// key; a package that matches an existing record (same file name or same expected path)
// overwrites the first record and removes the other matching ones, one that matches nothing
// takes the next free number.
#pragma once

#include <cstdint>
#include <string>

#include "platform/port.h"

struct StubGlobals;

// What the registration takes from the package; null for what the package lacks.
struct ComponentIdentity {
  const wchar_t* fileName = nullptr;      // the component definition's file name
  const wchar_t* swKeyName = nullptr;     // name of the software key it updates
  const wchar_t* expectedPath = nullptr;  // that key's expected path
};

// Records the component when `completionCode` says it was installed (1, or 2 with a restart
// pending), with the identity the loaded package gives. `definitionName` is the definition
// document's bare file name in the current directory. Returns 1 when the component was
// recorded or nothing had to be recorded, 0 when recording failed or was incomplete.
int RegisterComponent(StubGlobals& globals, const std::wstring& definitionName, int32_t completionCode);

// RegisterComponent with the package's identity given explicitly.
int RegisterComponentAs(StubGlobals& globals, const ComponentIdentity& identity, const std::wstring& definitionName,
                        int32_t completionCode);

// True on the Windows preinstallation environment: HKLM\SYSTEM\CurrentControlSet\Control\MiniNT
// can be opened (32-bit view) for querying values.
bool IsWinPE(port::Platform& platform);
