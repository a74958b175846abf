#include "setup/checks.h"

#include "log/cmplog2.h"
#include "setup/misc.h"
#include "setup/stub.h"
#include "wmi/wmi.h"

namespace {

constexpr uint32_t kStringCaption = 1;
constexpr uint32_t kStringVirtualGuest = 1050;
constexpr uint32_t kStringNoWmi = 1051;
constexpr uint32_t kStringTpmCaution = 3050;
constexpr uint32_t kStringTmCaution = 3051;
constexpr size_t kMessageCapacity = 4096;

// Manufacturer strings and hypervisor texts are compared within a work buffer of 255 characters.
constexpr size_t kWorkTextMax = 254;

#define LOG(destination, severity, ...) \
  globals.log.Write(destination, severity, CMPLOG2_SOURCE, __LINE__, __VA_ARGS__)
// Lines that carry no source position in the verbose log.
#define LOG_UNPLACED(destination, severity, ...) globals.log.Write(destination, severity, nullptr, 0, __VA_ARGS__)

wchar_t FoldCase(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - (L'a' - L'A')) : c; }

bool EqualNoCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

}  // namespace

int FindSubstringNoCase(const std::wstring& text, const std::wstring& part) {
  if (part.empty() || part.size() > text.size()) return -1;
  for (size_t start = 0; start + part.size() <= text.size(); ++start) {
    size_t i = 0;
    while (i < part.size() && FoldCase(text[start + i]) == FoldCase(part[i])) ++i;
    if (i == part.size()) return static_cast<int>(start);
  }
  return -1;
}

std::wstring& TrimTrailingWhitespace(std::wstring& text) {
  const size_t last = text.find_last_not_of(L"\t\n\r ");
  text.erase(last == std::wstring::npos ? 0 : last + 1);
  return text;
}

// --- WMI service ------------------------------------------------------------------------------

bool IsServiceRunning(port::Platform& platform, const std::wstring& machine) {
  const port::ServiceQuery query = platform.Svc().QueryServiceState(machine, L"winmgmt");
  return query.queried && query.state == port::kServiceRunning;
}

bool CheckWmiService(StubGlobals& globals, bool silent) {
  LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Validating WMI service is available...\r\n\r\n");
  if (IsServiceRunning(globals.platform, std::wstring())) {
    LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"WMI service is available.\r\n\r\n");
    return true;
  }
  const std::wstring text = globals.platform.Ui().LoadString(kStringNoWmi, kMessageCapacity);
  LOG(CMPLOG2_BOTH, CMPLOG2_ERROR, L"\r\n\r\n%s\r\n\r\n", text.c_str());
  LOG(CMPLOG2_BOTH, CMPLOG2_ERROR,
      L"No WMI Service Available...Installation Software requires WMI Service Availability...FAILURE CODE (0) "
      L"...\r\n\r\n");
  if (!silent) ShowMessageById(globals, nullptr, kStringNoWmi, kStringCaption, port::kMbIconError);
  return false;
}

// --- Virtual machines -------------------------------------------------------------------------

// A computer system made by Microsoft counts as a Hyper-V guest, physical machines included.
const HypervisorRow HypervisorTable[3] = {
    {kManufacturerComputerSystem, L"Microsoft Corporation", 0},
    {kManufacturerComputerSystem, L"VMWare", 1},
    {kManufacturerBios, L"Xen", 2},
};

int32_t MatchHypervisor(const std::wstring& computerSystem, const std::wstring& bios) {
  for (const HypervisorRow& row : HypervisorTable) {
    std::wstring work = (row.manufacturer == kManufacturerBios ? bios : computerSystem).substr(0, kWorkTextMax);
    std::wstring text = row.text;
    TrimTrailingWhitespace(text);
    TrimTrailingWhitespace(work);
    if (FindSubstringNoCase(work, text) != -1) return row.identifier;
  }
  return -1;
}

bool DetectHypervisor(SystemManufacturers& manufacturers) {
  const int32_t identifier = MatchHypervisor(manufacturers.computerSystem(), manufacturers.bios());
  if (identifier == -1) return false;
  manufacturers.hypervisor = identifier;
  return true;
}

bool CheckVirtualization(StubGlobals& globals, bool silent) {
  // Read even when the package allows virtual machines.
  SystemManufacturers manufacturers(globals.platform);
  // Out of memory for a COM string: the run ends in order, with completion code 0.
  if (manufacturers.comStringNotAllocated()) return false;
  LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Checking for virtualized environment...\r\n\r\n");
  if (globals.package.IsVirtualizationAllowed() || !DetectHypervisor(manufacturers)) {
    LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Virtualized environment not detected.\r\n\r\n");
    return true;
  }
  LOG_UNPLACED(CMPLOG2_BOTH, CMPLOG2_ERROR, L"\r\n\r\n%s\r\n\r\n",
               L"Execution currently not supported in Server Virtualized Guest operating systems.");
  LOG(CMPLOG2_BOTH, CMPLOG2_ERROR, L"Installation Halted...FAILURE CODE (0)...\r\n\r\n");
  if (!silent) ShowMessageById(globals, nullptr, kStringVirtualGuest, kStringCaption, port::kMbIconError);
  return false;
}

// --- Trusted module ---------------------------------------------------------------------------

namespace {

// Record offsets.
constexpr size_t kRecordLength = 1;
constexpr size_t kRecordFlags = 4;
constexpr size_t kRecordModuleKind = 6;
// Formatted-area lengths from this one on use the UEFI layout.
constexpr uint8_t kUefiLayoutLength = 6;

// Firmware kinds cautioned while a TPM is active; the first is contained, the others whole.
const wchar_t kContainedFirmwareKind[] = L"firmware:ovra";
const wchar_t* const kWholeFirmwareKinds[] = {
    L"firmware:intel_nic", L"firmware:netxen_nic", L"firmware:nic",      L"firmware:SAS",
    L"firmware:SATA",      L"firmware:sd:SAS",     L"firmware:sd:SATA", L"firmware:system",
};

// The caution before a flash that changes the module's measurements. An interactive run shows it
// and goes on whatever the answer; a silent run stops unless the operator passed /tpmbypass.
bool Caution(StubGlobals& globals, bool silent, bool placed) {
  if (silent && globals.options.tpmBypass) return true;
  const std::wstring text = globals.platform.Ui().LoadString(kStringTpmCaution, kMessageCapacity);
  if (!silent) {
    if (placed) {
      LOG(CMPLOG2_BOTH, CMPLOG2_WARNING, L"\r\n\r\n%s\r\n\r\n", text.c_str());
    } else {
      LOG_UNPLACED(CMPLOG2_BOTH, CMPLOG2_WARNING, L"\r\n\r\n%s\r\n\r\n", text.c_str());
    }
    ShowMessageById(globals, nullptr, kStringTpmCaution, kStringCaption, port::kMbIconExclamation);
    return true;
  }
  LOG_UNPLACED(CMPLOG2_BOTH, CMPLOG2_ERROR, L"\r\n\r\n%s\r\n\r\n", text.c_str());
  LOG(CMPLOG2_BOTH, CMPLOG2_ERROR,
      L"TPM (Trusted Platform Module) is enabled, and needs to be disabled. Installation halted. FAILURE CODE "
      L"(0).\r\n\r\n");
  return false;
}

// What the check takes from a record: whether a TPM counts, and the option ROM measuring status.
struct TrustedModuleReading {
  bool active = false;
  uint8_t optionRom = 0;
};

// Decodes a record in the UEFI layout, logging what it finds.
TrustedModuleReading DecodeUefiRecord(StubGlobals& globals, const uint8_t* record) {
  LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"SMBIOS Type 224 record found in UEFI format.\r\n\r\n");
  const uint8_t state = record[kRecordFlags] & 0x01;
  LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"btTMState is [0%X]...\r\n\r\n", state);
  uint8_t tpmType = 0;
  uint8_t tmType = 0;
  uint8_t optionRom = 0;
  if (state == 1) {
    LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"btTMState is 0x01...\r\n\r\n");
    const uint8_t kind = record[kRecordModuleKind] & 0x0F;
    if (kind == 3) {
      tmType = 1;
      LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"btTMType is 0x01...\r\n\r\n");
    } else if (kind == 1 || kind == 2) {
      tpmType = kind;
    }
    optionRom = (record[kRecordFlags] >> 2) & 0x01;
  }
  LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"SMBIOS Type 224 record - (UEFI) TMState is [%0X]...\r\n\r\n", state);
  LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"SMBIOS Type 224 record - (UEFI) TM TPM Type is [%0X]...\r\n\r\n", tpmType);
  LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"SMBIOS Type 224 record - (UEFI) TM Type is [%0X]...\r\n\r\n", tmType);
  LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"SMBIOS Type 224 record - (UEFI) Option ROM status is [%0X]...\r\n\r\n",
      optionRom);
  if (state == 1 && (tpmType == 1 || tpmType == 2 || tmType == 1)) {
    LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"SMBIOS Type 224 record - (UEFI) TM State is active...\r\n\r\n");
    if (tpmType == 1) {
      LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"SMBIOS Type 224 record - (UEFI) TPM 1.2 is installed\r\n\r\n");
      return {true, optionRom};
    }
    if (tpmType == 2) {
      LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"SMBIOS Type 224 record - (UEFI) TPM 2.0 is installed\r\n\r\n");
      return {true, optionRom};
    }
    // A trusted module that is not a TPM: cautioned in the log only, and treated as inactive.
    LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"SMBIOS Type 224 record - (UEFI) TM 1.0 is installed\r\n\r\n");
    const std::wstring text = globals.platform.Ui().LoadString(kStringTmCaution, kMessageCapacity);
    LOG_UNPLACED(CMPLOG2_BOTH, CMPLOG2_ERROR, L"\r\n\r\n%s\r\n\r\n", text.c_str());
    return {false, optionRom};
  }
  LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"SMBIOS Type 224 record - (UEFI) TM State is NOT active...\r\n\r\n");
  return {false, optionRom};
}

// Decodes a record in the legacy layout, logging what it finds.
TrustedModuleReading DecodeLegacyRecord(StubGlobals& globals, const uint8_t* record) {
  LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"SMBIOS Type 224 record found in legacy BIOS format.\r\n\r\n");
  const uint8_t status = record[kRecordFlags] & 0x01;
  const uint8_t optionRom = (record[kRecordFlags] >> 2) & 0x01;
  LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"SMBIOS Type 224 record - (Legacy) TPM Status is [%0X]...\r\n\r\n", status);
  LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"SMBIOS Type 224 record - (Legacy) Opt ROM is [%0X]...\r\n\r\n", optionRom);
  if (status == 1) {
    LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"SMBIOS Type 224 record - (Legacy) TPM Status is active...\r\n\r\n");
    return {true, optionRom};
  }
  LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"SMBIOS Type 224 record - (Legacy) TPM Status is NOT active...\r\n\r\n");
  return {false, optionRom};
}

}  // namespace

bool IsCautionedFirmwareKind(const std::wstring& expectedPath) {
  if (FindSubstringNoCase(expectedPath, kContainedFirmwareKind) != -1) return true;
  for (const wchar_t* kind : kWholeFirmwareKinds) {
    if (EqualNoCase(expectedPath, kind)) return true;
  }
  return false;
}

bool JudgeTpmState(StubGlobals& globals, bool silent, const uint8_t* record, const uint8_t* end) {
  if (!record || record >= end || static_cast<size_t>(end - record) <= kRecordLength) return true;
  const uint8_t length = record[kRecordLength];
  const bool uefi = length >= kUefiLayoutLength;
  // The last byte the layout reads must lie inside the table.
  if (static_cast<size_t>(end - record) <= (uefi ? kRecordModuleKind : kRecordFlags)) return true;

  LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Reading TPM (Trusted Platform Module) state from SMBIOS...\r\n\r\n");
  LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Retrieving SMBIOS Type 224 record... length is [%0X] bytes.\r\n\r\n", length);
  const TrustedModuleReading reading = uefi ? DecodeUefiRecord(globals, record) : DecodeLegacyRecord(globals, record);
  LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"TPM State determined.\r\n\r\n");

  const wchar_t* path = globals.package.GetSwKeyExpectedPath();
  const std::wstring expectedPath = path ? path : L"";
  if (reading.active && IsCautionedFirmwareKind(expectedPath)) return Caution(globals, silent, true);
  if (reading.optionRom == 1 && FindSubstringNoCase(expectedPath, L"firmware") != -1) return Caution(globals, silent, false);
  LOG(CMPLOG2_BOTH, CMPLOG2_INFO,
      L"TPM (Trusted Platform Module) is in CORRECT setting. Installation will continue.\r\n\r\n");
  return true;
}

bool CheckTpmState(StubGlobals& globals, bool silent) {
  LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Checking TPM (Trusted Platform Module) state...\r\n\r\n");
  SmbiosTable table(globals.platform);
  if (table.comStringNotAllocated()) return false;
  LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Retrieving SMBIOS table via WMI query of MSSmBios_RawSMBiosTables...\r\n\r\n");
  const uint8_t* record = table.FindStructure(kTrustedModuleRecordType);
  // Written whether or not the table could be read: an unreadable table has no record.
  LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"SMBIOS table access via WMI query... Success.\r\n\r\n");
  return JudgeTpmState(globals, silent, record, table.end());
}
