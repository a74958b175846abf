#include "wmi/wmi.h"

#include <algorithm>
#include <new>

#include "platform/port.h"

namespace {

// Recorded by every failure to set up COM or to reach the namespace.
constexpr int32_t kSetupError = 11;
const wchar_t kSetupErrorText[] = L"An error occurred initializing the COM environment.";

// Query texts are built into 256 characters, the terminator included.
constexpr size_t kQueryMax = 255;
// Strings are read into 256 characters, the terminator included.
constexpr size_t kStringMax = 255;

bool Failed(int32_t result) { return result < 0; }

// SMBIOS structure layout.
constexpr size_t kHeaderSize = 4;  // type, formatted-area length, handle
constexpr uint8_t kEndOfTable = 127;

}  // namespace

struct WmiConnection::State {
  explicit State(port::Wmi& wmi) : wmi(wmi) {}

  port::Wmi& wmi;
  std::unique_ptr<port::WmiLocator> locator;
  std::unique_ptr<port::WmiServices> services;
  std::unique_ptr<port::WmiResult> result;
  int32_t lastError = 0;
  std::wstring lastErrorText;
  bool comStarted = false;  // COM use begun here and not yet ended
  bool stringNotAllocated = false;

  void EndCom() {
    if (!comStarted) return;
    comStarted = false;
    wmi.EndCom();
  }
  void SetupFailed() {
    lastError = kSetupError;
    lastErrorText = kSetupErrorText;
  }
  // Notes a COM string that could not be allocated; true when `status` says so.
  bool OutOfStringMemory(int32_t status) {
    if (status != port::kHrComStringNotAllocated) return false;
    stringNotAllocated = true;
    return true;
  }

  // Reads `name` of every object of the current result and hands each value to `store`, which
  // keeps what it can use: the last object's value remains.
  template <typename Store>
  int ReadProperty(const std::wstring& name, Store store) {
    if (stringNotAllocated || !result) return 0;

    // Count the objects first; fetching stops at the first call that returns none.
    result->Reset();
    size_t count = 0;
    for (;;) {
      std::unique_ptr<port::WmiObject> object;
      result->Next(&object);
      if (!object) break;
      ++count;
    }
    result->Reset();

    for (size_t i = 0; i < count; ++i) {
      std::unique_ptr<port::WmiObject> object;
      result->Next(&object);
      port::WmiValue value;
      // An object that can no longer be fetched fails the read like a failed property read.
      const int32_t status = object ? object->Get(name, &value) : port::kHrWbemFailed;
      if (status != port::kHrOk) {
        OutOfStringMemory(status);
        object.reset();
        result.reset();
        return 0;
      }
      store(value);
    }
    return 1;
  }
};

WmiConnection::WmiConnection(port::Platform& platform) : state_(std::make_unique<State>(platform.Wmi())) {
  State& s = *state_;
  if (Failed(s.wmi.StartCom())) {
    s.SetupFailed();
    return;
  }
  s.comStarted = true;
  // Process security is set by the first connection of the process; later ones are told so.
  const int32_t security = s.wmi.InitializeSecurity();
  if (Failed(security) && security != port::kHrSecurityAlreadySet) {
    s.EndCom();
    s.SetupFailed();
    return;
  }
  if (Failed(s.wmi.CreateLocator(&s.locator))) {
    s.locator.reset();
    s.EndCom();
    s.SetupFailed();
  }
}

WmiConnection::~WmiConnection() { Release(); }

int WmiConnection::Connect(const std::wstring& namespacePath) {
  State& s = *state_;
  if (s.stringNotAllocated || !s.locator) return 0;
  const int32_t connected = s.locator->ConnectServer(namespacePath, &s.services);
  if (s.OutOfStringMemory(connected)) {
    s.services.reset();
    return 0;
  }
  if (Failed(connected)) {
    s.services.reset();
    s.locator.reset();
    s.EndCom();
    s.SetupFailed();
    return 0;
  }
  if (Failed(s.services->SetProxyBlanket())) {
    s.services.reset();
    s.locator.reset();
    s.EndCom();
    s.SetupFailed();
    return 0;
  }
  return 1;
}

int WmiConnection::ExecQuery(const std::wstring& className) {
  State& s = *state_;
  if (s.stringNotAllocated || !s.services) return 0;
  const std::wstring query = (L"SELECT * FROM " + className).substr(0, kQueryMax);
  s.result.reset();
  const int32_t status = s.services->ExecQuery(query, &s.result);
  if (s.OutOfStringMemory(status)) s.result.reset();
  return status == port::kHrOk ? 1 : 0;
}

int WmiConnection::GetProperty(const std::wstring& name, std::wstring* text) {
  return state_->ReadProperty(name, [text](const port::WmiValue& value) {
    if (value.type != port::WmiValue::Type::kString) return;
    // Copied as a C string: up to the first null character, at most 255 characters.
    const size_t length = std::min(value.text.find(L'\0'), kStringMax);
    text->assign(value.text, 0, length);
  });
}

int WmiConnection::GetProperty(const std::wstring& name, int32_t* number) {
  return state_->ReadProperty(name, [number](const port::WmiValue& value) {
    if (value.type == port::WmiValue::Type::kInt32) *number = value.integer;
  });
}

int WmiConnection::GetProperty(const std::wstring& name, uint8_t* bytes, uint32_t capacity) {
  return state_->ReadProperty(name, [bytes, capacity](const port::WmiValue& value) {
    if (value.type != port::WmiValue::Type::kByteArray) return;
    const size_t count = std::min<size_t>(value.bytes.size(), capacity);
    std::copy_n(value.bytes.begin(), count, bytes);
  });
}

void WmiConnection::EndQuery() { state_->result.reset(); }

void WmiConnection::Release() {
  State& s = *state_;
  // Every interface goes before the COM use it was made under ends.
  s.result.reset();
  s.services.reset();
  s.locator.reset();
  s.EndCom();
}

int32_t WmiConnection::lastError() const { return state_->lastError; }

const std::wstring& WmiConnection::lastErrorText() const { return state_->lastErrorText; }

bool WmiConnection::comStringNotAllocated() const { return state_->stringNotAllocated; }

// --- SMBIOS table ---------------------------------------------------------------------------------

SmbiosTable::SmbiosTable(port::Platform& platform) : WmiConnection(platform) {
  int32_t size = 0;
  if (!Connect(L"ROOT\\WMI") || !ExecQuery(L"MSSmBios_RawSMBiosTables") || !GetProperty(L"Size", &size)) return;
  // The size is an unsigned 32-bit count; the table is followed by one zero byte.
  const uint64_t bytes = static_cast<uint64_t>(static_cast<uint32_t>(size)) + 1;
  try {
    table_.assign(static_cast<size_t>(bytes), 0);
  } catch (const std::bad_alloc&) {
    table_.clear();  // a table that does not fit in memory stays unread
    return;
  }
  // A failed read leaves the zeros.
  GetProperty(L"SMBiosData", table_.data(), static_cast<uint32_t>(size));
}

const uint8_t* SmbiosTable::begin() const { return table_.empty() ? nullptr : table_.data(); }

const uint8_t* SmbiosTable::end() const { return table_.empty() ? nullptr : table_.data() + table_.size(); }

const uint8_t* SmbiosTable::FindStructure(uint8_t type) const {
  // The table bytes, without the zero byte that follows them: no part of a structure lies there.
  const size_t size = table_.empty() ? 0 : table_.size() - 1;
  const uint8_t* const t = table_.data();
  size_t at = 0;
  while (at < size) {
    if (t[at] == kEndOfTable) return nullptr;
    // A structure is its header and formatted area inside the table; anything shorter, or longer
    // than what is left, is no structure, and the walk ends there.
    if (size - at < kHeaderSize) return nullptr;
    const size_t formatted = t[at + 1];
    if (formatted < kHeaderSize || formatted > size - at) return nullptr;
    if (t[at] == type) return t + at;
    // Its strings end with two zero bytes, both inside the table.
    size_t next = at + formatted;
    while (next + 1 < size && !(t[next] == 0 && t[next + 1] == 0)) ++next;
    if (next + 1 >= size) return nullptr;
    at = next + 2;
  }
  return nullptr;
}

// --- Manufacturer strings -------------------------------------------------------------------------

SystemManufacturers::SystemManufacturers(port::Platform& platform) : WmiConnection(platform) {
  if (!Connect(L"ROOT\\CIMV2") || !ExecQuery(L"Win32_ComputerSystem")) return;
  const int read = GetProperty(L"Manufacturer", &computerSystem_);
  EndQuery();
  if (!read) return;
  if (ExecQuery(L"Win32_BIOS")) GetProperty(L"Manufacturer", &bios_);
}
