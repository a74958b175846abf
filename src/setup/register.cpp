#include "setup/register.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "setup/misc.h"
#include "setup/stub.h"

namespace {

#define LOG(severity, ...) globals.log.Write(CMPLOG2_BOTH, severity, CMPLOG2_SOURCE, __LINE__, __VA_ARGS__)

const wchar_t kDefinitionsFolder[] = L"\\RIVIZIDUVE\\cpxml\\";
const wchar_t kRecordsKey[] = L"Software\\Dravik\\Version Control\\DravikRevisionManagement\\";
const wchar_t kMiniNtKey[] = L"SYSTEM\\CurrentControlSet\\Control\\MiniNT";

const wchar_t kValueXmlPath[] = L"ComponentXmlPath";
const wchar_t kValueInstallTime[] = L"InstallTime";
const wchar_t kValueFileName[] = L"ComponentFileName";
const wchar_t kValueExpectedPath[] = L"ComponentKeyExpectedPath";

// Stored values are read back into a buffer of this many bytes; a longer value matches nothing.
constexpr size_t kValueCapacityBytes = 512;
// Each part of InstallTime keeps at most this many characters.
constexpr size_t kTimePartMax = 255;

bool Present(const wchar_t* text) { return text != nullptr && *text != L'\0'; }

// True when the key holds the string value `name` and it equals `expected` exactly.
bool ValueEquals(port::RegistryKey& key, const wchar_t* name, const std::wstring& expected) {
  std::wstring stored;
  return key.QueryString(name, kValueCapacityBytes, &stored) == port::kErrorSuccess && stored == expected;
}

}  // namespace

int RegisterComponent(StubGlobals& globals, const std::wstring& definitionName, int32_t completionCode) {
  ComponentIdentity identity;
  identity.fileName = globals.package.GetFilename();
  identity.swKeyName = globals.package.GetSwKeyName();
  identity.expectedPath = globals.package.GetSwKeyExpectedPath();
  return RegisterComponentAs(globals, identity, definitionName, completionCode);
}

int RegisterComponentAs(StubGlobals& globals, const ComponentIdentity& identity, const std::wstring& definitionName,
                        int32_t completionCode) {
  if (completionCode != kCompletionInstalled && completionCode != kCompletionRestartNeeded) return 1;
  port::Platform& platform = globals.platform;

  // A record without its folder, its software key or the values that later runs match on would
  // mislead the tools that read it, and could never be found again to be overwritten: without
  // all four nothing is recorded. Empty values count as missing (the system reports an empty
  // environment variable like a missing one).
  std::wstring systemDrive;
  if (!platform.System().GetEnvironmentVariable(L"SystemDrive", &systemDrive)) systemDrive.clear();
  std::wstring missing;
  if (systemDrive.empty()) missing += L"    - The environment variable SystemDrive is not set\r\n";
  if (!Present(identity.swKeyName)) missing += L"    - The package names no software key\r\n";
  if (!Present(identity.fileName)) missing += L"    - The package names no component file name\r\n";
  if (!Present(identity.expectedPath)) missing += L"    - The package names no expected path for its software key\r\n";
  if (!missing.empty()) {
    LOG(CMPLOG2_ERROR, L"Failed to update component data...\r\n%s    - Nothing recorded...FAILURE CODE (0)\r\n",
        missing.c_str());
    return 0;
  }
  const std::wstring fileName = identity.fileName;
  const std::wstring expectedPath = identity.expectedPath;

  // The definitions folder and the copy of the definition document.
  const std::wstring folder = systemDrive + kDefinitionsFolder;
  LOG(CMPLOG2_INFO, L"Copying component definition XML to %s...", folder.c_str());
  if (!CreateFolderTree(platform, folder)) {
    LOG(CMPLOG2_ERROR,
        L"Failed to update component data...\r\n    - Unable to copy component definition XML to %s...FAILURE "
        L"CODE (0)\r\n",
        folder.c_str());
    return 0;
  }
  // A failed copy is reported, but the registry record is still written: the installation did
  // succeed, and without the record the inventory would go on naming the component it replaced
  // (or none). The result then says that recording was incomplete.
  const bool copied = platform.Files().CopyFile(definitionName, folder + definitionName, false);
  if (copied) {
    LOG(CMPLOG2_INFO, L"copy component definition XML...Success.\r\n");
  } else {
    LOG(CMPLOG2_ERROR, L"copy component definition XML...FAILED with error %lu.\r\n",
        platform.System().GetLastError());
  }

  const std::wstring parentPath = kRecordsKey + std::wstring(identity.swKeyName);
  std::wstring date, time;
  platform.System().LocalDateAndTime24(&date, &time);
  const std::wstring installTime = date.substr(0, kTimePartMax) + L"-" + time.substr(0, kTimePartMax);

  LOG(CMPLOG2_INFO, L"    - Creating registry key HKLM\\%s...\r\n", parentPath.c_str());
  port::Registry& registry = platform.Reg();
  std::unique_ptr<port::RegistryKey> parent;
  if (registry.CreateKey(port::RegistryView::k64Bit, parentPath, &parent) != port::kErrorSuccess) {
    LOG(CMPLOG2_ERROR, L"Cannot Create Registry Key HKLM\\%s ... Failed!\r\n", parentPath.c_str());
    LOG(CMPLOG2_ERROR, L"Create Registry Key HKLM FAILURE CODE (0)\r\n");
    return 0;
  }

  // Walk the existing records. The first one is where this component's record goes if any
  // record belongs to it; the others that belong to it are removed. A removal moves the
  // following subkeys up, so the walk then stays at its index.
  bool found = false;
  std::wstring recordName;
  std::vector<std::wstring> remaining;  // names of the subkeys left in place
  for (uint32_t index = 0;;) {
    std::wstring name;
    if (parent->EnumSubkey(index, &name) != port::kErrorSuccess) break;
    bool matches = false;
    std::unique_ptr<port::RegistryKey> subkey;
    if (parent->OpenSubkey(name, port::RegistryAccess::kRead, &subkey) == port::kErrorSuccess) {
      matches = ValueEquals(*subkey, kValueFileName, fileName) || ValueEquals(*subkey, kValueExpectedPath, expectedPath);
      subkey.reset();
    }
    if (matches) found = true;
    if (index == 0) recordName = name;
    if (matches && index != 0 && parent->DeleteSubkey(name) == port::kErrorSuccess) continue;
    remaining.push_back(name);
    ++index;
  }
  if (!found) {
    // The first free number. Nothing was removed, so `remaining` lists every subkey.
    for (unsigned number = 0;; ++number) {
      recordName = std::to_wstring(number);
      if (std::find(remaining.begin(), remaining.end(), recordName) == remaining.end()) break;
    }
  }

  const std::wstring recordPath = parentPath + L"\\" + recordName;
  std::unique_ptr<port::RegistryKey> record;
  if (registry.CreateKey(port::RegistryView::k64Bit, recordPath, &record) != port::kErrorSuccess) {
    LOG(CMPLOG2_ERROR, L"Failed to update component data...\r\n    - Unable to update registry HKLM\\%s\r\n",
        recordPath.c_str());
    LOG(CMPLOG2_INFO, L"FAILURE CODE (0)\r\n");
    return 0;
  }
  // A value that cannot be written leaves the others to be written all the same.
  record->SetString(kValueXmlPath, kDefinitionsFolder);
  record->SetString(kValueInstallTime, installTime);
  record->SetString(kValueFileName, fileName);
  record->SetString(kValueExpectedPath, expectedPath);
  record.reset();
  parent.reset();
  LOG(CMPLOG2_INFO, L"Component registry updates complete...success\r\n");
  return copied ? 1 : 0;
}

bool IsWinPE(port::Platform& platform) {
  std::unique_ptr<port::RegistryKey> key;
  return platform.Reg().OpenKey(port::RegistryView::k32Bit, kMiniNtKey, port::RegistryAccess::kQueryValues, &key) ==
         port::kErrorSuccess;
}
