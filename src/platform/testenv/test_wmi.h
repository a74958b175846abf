// The emulated COM runtime of the stub's thread and the WMI service behind it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/port.h"

namespace testenv {

// Property values as WMI hands them out.
port::WmiValue WmiString(const std::wstring& text);
port::WmiValue WmiInt32(int32_t value);
port::WmiValue WmiBytes(std::vector<uint8_t> bytes);
port::WmiValue WmiOther();  // a type the stub does not read (VT_NULL, a date, a 64-bit number...)

// COM keeps a start count for the thread as CoInitializeEx / CoUninitialize do (a start while COM
// runs answers kHrFalse and must be balanced too), and process security can be set once: every
// later attempt answers kHrSecurityAlreadySet, as on Windows. Creating the locator without COM
// fails with kHrComNotInitialized.
//
// The service holds namespaces with classes and their objects, each object a set of typed
// properties. Namespace, class and property names are compared without regard to case. Queries
// are understood in the form "SELECT * FROM <class>"; being semisynchronous, a query of a class
// the namespace does not have succeeds and its result reports kHrWbemInvalidClass on the first
// fetch. Reading a property an object lacks fails with kHrWbemNotFound.
//
// Every call on a COM object, and every release of one, made while COM is not started on the
// thread counts as a misuse, as does an end of COM use that no start balances.
class TestWmi : public port::Wmi {
 public:
  using Object = std::map<std::wstring, port::WmiValue>;  // property name -> value
  struct Namespace {
    std::map<std::wstring, std::vector<Object>> classes;  // class name -> objects in result order
  };

  TestWmi();
  ~TestWmi() override;
  TestWmi(const TestWmi&) = delete;
  TestWmi& operator=(const TestWmi&) = delete;

  // --- Set-up ---------------------------------------------------------------------------------
  // Namespace path -> contents. "ROOT\CIMV2" and "ROOT\WMI" exist from the start, without classes.
  std::map<std::wstring, Namespace> namespaces;
  // The objects of a class, with the class and its namespace created empty when missing.
  std::vector<Object>& Objects(const std::wstring& namespacePath, const std::wstring& className);

  // Faults. A value other than kHrOk is what the call answers instead of doing its work.
  int32_t startComResult = port::kHrOk;   // CoInitializeEx
  int32_t securityResult = port::kHrOk;   // CoInitializeSecurity
  int32_t locatorResult = port::kHrOk;    // CoCreateInstance of the locator
  int32_t proxyBlanketResult = port::kHrOk;
  std::map<std::wstring, int32_t> connectFailures;  // namespace path -> ConnectServer's answer
  std::map<std::wstring, int32_t> queryFailures;    // class name -> ExecQuery's answer
  std::map<std::wstring, int32_t> readFailures;     // property name -> Get's answer, every object
  // Texts that cannot be allocated as COM strings (namespace paths, "WQL", query texts, property
  // names): the call that needs one answers kHrComStringNotAllocated.
  std::vector<std::wstring> unallocatableStrings;
  // Whether the process has set its COM security (an earlier connection did).
  bool securitySet = false;

  // --- Inspection -----------------------------------------------------------------------------
  int comStarts = 0;  // successful CoInitializeEx calls (kHrOk and kHrFalse)
  int comEnds = 0;    // CoUninitialize calls
  int securityCalls = 0;
  int proxyBlankets = 0;  // successful CoSetProxyBlanket calls
  std::vector<std::wstring> connections;  // namespace paths of successful connections
  std::vector<std::wstring> queries;      // query texts that ExecQuery accepted
  int misuses = 0;
  // COM objects handed out and not yet released: locators, services, results, objects.
  int liveObjects() const { return liveObjects_; }
  bool comRunning() const { return comStarts > comEnds; }

  // port::Wmi
  int32_t StartCom() override;
  void EndCom() override;
  int32_t InitializeSecurity() override;
  int32_t CreateLocator(std::unique_ptr<port::WmiLocator>* locator) override;

 private:
  friend class TestWmiComObject;
  friend class TestWmiLocator;
  friend class TestWmiServices;
  friend class TestWmiResult;
  friend class TestWmiObject;
  static bool SameName(const std::wstring& a, const std::wstring& b);
  template <typename Map>
  static auto FindName(Map& map, const std::wstring& name) -> decltype(map.begin());
  bool Allocatable(const std::wstring& text) const;

  int liveObjects_ = 0;
};

}  // namespace testenv
