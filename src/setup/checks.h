// The machine checks an installation run passes before it extracts anything: the WMI service
// runs, the machine is not a refused virtual machine, and the trusted module's state allows a
// firmware flash. Every gate logs its own lines, shows its own message unless the run is silent,
// and returns true to go on or false to stop.
#pragma once

#include <cstdint>
#include <string>

#include "platform/port.h"

struct StubGlobals;
class SystemManufacturers;

// --- Text helpers -----------------------------------------------------------------------------

// Index of the first occurrence of `part` in `text`, letters compared without regard to case;
// -1 when there is none, and when `part` is empty or longer than `text`.
int FindSubstringNoCase(const std::wstring& text, const std::wstring& part);

// Removes trailing tabs, line feeds, carriage returns and blanks in place; other control
// characters stay. Returns `text`.
std::wstring& TrimTrailingWhitespace(std::wstring& text);

// --- WMI service ------------------------------------------------------------------------------

// True when the service "winmgmt" of `machine` (empty: this machine) is running. A service that
// cannot be opened or queried, or is in any other state, is not; it is never started.
bool IsServiceRunning(port::Platform& platform, const std::wstring& machine);

// Passes when the WMI service runs; otherwise logs the failure and shows message 1051.
bool CheckWmiService(StubGlobals& globals, bool silent);

// --- Virtual machines -------------------------------------------------------------------------

// Which manufacturer string a hypervisor row searches.
enum : int32_t {
  kManufacturerComputerSystem = 0,
  kManufacturerBios = 1,
};

struct HypervisorRow {
  int32_t manufacturer;  // kManufacturerComputerSystem or kManufacturerBios
  const wchar_t* text;   // searched for, without regard to case
  int32_t identifier;
};

// The recognised hypervisors, searched in this order.
extern const HypervisorRow HypervisorTable[3];

// The identifier of the first row whose text occurs in its manufacturer string (trailing
// whitespace ignored on both sides), or -1. Strings that were not read are empty and match
// nothing.
int32_t MatchHypervisor(const std::wstring& computerSystem, const std::wstring& bios);

// True when a row matches the strings read; records the row's identifier in `manufacturers`.
bool DetectHypervisor(SystemManufacturers& manufacturers);

// Reads the manufacturer strings through WMI (also when the package allows virtual machines)
// and passes when the package allows them or no hypervisor row matches; otherwise logs the
// refusal and shows message 1050.
bool CheckVirtualization(StubGlobals& globals, bool silent);

// --- Trusted module ---------------------------------------------------------------------------

// The SMBIOS structure type of the platform's trusted-module record.
constexpr uint8_t kTrustedModuleRecordType = 224;

// True when the package's expected key path names a firmware kind that is cautioned while a TPM
// is active: "firmware:ovra" anywhere in it, or the whole path equal to one of the listed kinds,
// letters compared without regard to case.
bool IsCautionedFirmwareKind(const std::wstring& expectedPath);

// The TPM gate over an SMBIOS table already read: `record` is its first trusted-module structure
// (null when there is none) and `end` the end of the table. A record cut short by the table's end
// counts as none. Logs the decoded state; cautions (message 3050) when the package flashes
// firmware that the module's measurements cover. Only a silent caution without /tpmbypass stops.
bool JudgeTpmState(StubGlobals& globals, bool silent, const uint8_t* record, const uint8_t* end);

// Reads the SMBIOS table through WMI and judges its trusted-module record.
bool CheckTpmState(StubGlobals& globals, bool silent);
