// Reading machine facts through Windows Management Instrumentation: one connection to one
// namespace, one query at a time, single properties of the result; and the two reads built on
// it, the raw SMBIOS table and the manufacturer strings.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace port {
class Platform;
}

class WmiConnection {
 public:
  // Starts COM and creates the locator (the state records a failure).
  explicit WmiConnection(port::Platform& platform);
  ~WmiConnection();
  WmiConnection(const WmiConnection&) = delete;
  WmiConnection& operator=(const WmiConnection&) = delete;

  int Connect(const std::wstring& namespacePath);  // 1 connected, 0 not
  int ExecQuery(const std::wstring& className);    // 1 when the query succeeded
  // Reads a property of every object of the result (the last one's value remains); 1 or 0.
  int GetProperty(const std::wstring& name, std::wstring* text);           // at most 255 characters
  int GetProperty(const std::wstring& name, int32_t* value);
  int GetProperty(const std::wstring& name, uint8_t* bytes, uint32_t capacity);
  void EndQuery();
  void Release();
  int32_t lastError() const;
  const std::wstring& lastErrorText() const;
  // True once a query, namespace or property name could not be allocated as a COM string. The
  // operation that met it returned 0, as does every later one; the stub cannot go on and ends in
  // order (completion code 0, nothing further done).
  bool comStringNotAllocated() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The raw SMBIOS structure table, read when built; empty when it cannot be read.
class SmbiosTable : public WmiConnection {
 public:
  explicit SmbiosTable(port::Platform& platform);
  // The first structure of `type` (a pointer to its header), or null. The walk never reads past
  // end().
  const uint8_t* FindStructure(uint8_t type) const;
  const uint8_t* begin() const;
  const uint8_t* end() const;  // one past the table bytes and the zero byte behind them

 private:
  std::vector<uint8_t> table_;  // size + 1 bytes, the last one zero; empty when not read
};

// The computer system's and the BIOS's manufacturer strings, read when built; a string that
// could not be read is empty.
class SystemManufacturers : public WmiConnection {
 public:
  explicit SystemManufacturers(port::Platform& platform);
  const std::wstring& computerSystem() const { return computerSystem_; }
  const std::wstring& bios() const { return bios_; }
  int32_t hypervisor = -1;  // the identifier of the matching hypervisor row, once detected

 private:
  std::wstring computerSystem_;
  std::wstring bios_;
};
