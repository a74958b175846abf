#include "platform/testenv/test_wmi.h"

#include <algorithm>
#include <utility>

namespace testenv {

namespace {

wchar_t Fold(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c; }

const wchar_t kSelectAll[] = L"SELECT * FROM ";

}  // namespace

port::WmiValue WmiString(const std::wstring& text) {
  port::WmiValue value;
  value.type = port::WmiValue::Type::kString;
  value.text = text;
  return value;
}

port::WmiValue WmiInt32(int32_t number) {
  port::WmiValue value;
  value.type = port::WmiValue::Type::kInt32;
  value.integer = number;
  return value;
}

port::WmiValue WmiBytes(std::vector<uint8_t> bytes) {
  port::WmiValue value;
  value.type = port::WmiValue::Type::kByteArray;
  value.bytes = std::move(bytes);
  return value;
}

port::WmiValue WmiOther() { return port::WmiValue(); }

// What every emulated COM object shares: it counts as live until released, and using or
// releasing it while COM is not started on the thread is a misuse.
class TestWmiComObject {
 public:
  explicit TestWmiComObject(TestWmi* wmi) : wmi_(wmi) { ++wmi_->liveObjects_; }
  ~TestWmiComObject() {
    --wmi_->liveObjects_;
    Touch();
  }
  TestWmiComObject(const TestWmiComObject&) = delete;
  TestWmiComObject& operator=(const TestWmiComObject&) = delete;

 protected:
  // True when COM runs; records a misuse otherwise.
  bool Touch() {
    if (wmi_->comRunning()) return true;
    ++wmi_->misuses;
    return false;
  }
  TestWmi* wmi_;
};

class TestWmiObject : public port::WmiObject, private TestWmiComObject {
 public:
  TestWmiObject(TestWmi* wmi, TestWmi::Object object) : TestWmiComObject(wmi), object_(std::move(object)) {}

  int32_t Get(const std::wstring& name, port::WmiValue* value) override {
    if (!Touch()) return port::kHrComNotInitialized;
    if (!wmi_->Allocatable(name)) return port::kHrComStringNotAllocated;
    auto fault = TestWmi::FindName(wmi_->readFailures, name);
    if (fault != wmi_->readFailures.end()) return fault->second;
    auto it = TestWmi::FindName(object_, name);
    if (it == object_.end()) return port::kHrWbemNotFound;
    *value = it->second;
    return port::kHrOk;
  }

 private:
  TestWmi::Object object_;
};

class TestWmiResult : public port::WmiResult, private TestWmiComObject {
 public:
  // `fetchError` is not kHrOk for a result that only reports an error.
  TestWmiResult(TestWmi* wmi, std::vector<TestWmi::Object> objects, int32_t fetchError)
      : TestWmiComObject(wmi), objects_(std::move(objects)), fetchError_(fetchError) {}

  int32_t Reset() override {
    if (!Touch()) return port::kHrComNotInitialized;
    position_ = 0;
    return port::kHrOk;
  }
  int32_t Next(std::unique_ptr<port::WmiObject>* object) override {
    object->reset();
    if (!Touch()) return port::kHrComNotInitialized;
    if (fetchError_ != port::kHrOk) return fetchError_;
    if (position_ >= objects_.size()) return port::kHrFalse;
    *object = std::make_unique<TestWmiObject>(wmi_, objects_[position_++]);
    return port::kHrOk;
  }

 private:
  std::vector<TestWmi::Object> objects_;
  int32_t fetchError_;
  size_t position_ = 0;
};

class TestWmiServices : public port::WmiServices, private TestWmiComObject {
 public:
  TestWmiServices(TestWmi* wmi, std::wstring namespacePath)
      : TestWmiComObject(wmi), namespacePath_(std::move(namespacePath)) {}

  int32_t SetProxyBlanket() override {
    if (!Touch()) return port::kHrComNotInitialized;
    if (wmi_->proxyBlanketResult != port::kHrOk) return wmi_->proxyBlanketResult;
    ++wmi_->proxyBlankets;
    return port::kHrOk;
  }

  int32_t ExecQuery(const std::wstring& query, std::unique_ptr<port::WmiResult>* result) override {
    result->reset();
    if (!Touch()) return port::kHrComNotInitialized;
    if (!wmi_->Allocatable(L"WQL") || !wmi_->Allocatable(query)) return port::kHrComStringNotAllocated;
    const size_t prefix = sizeof(kSelectAll) / sizeof(wchar_t) - 1;
    if (query.size() <= prefix || !TestWmi::SameName(query.substr(0, prefix), kSelectAll)) {
      return static_cast<int32_t>(0x80041017);  // WBEM_E_INVALID_QUERY
    }
    const std::wstring className = query.substr(prefix);
    auto fault = TestWmi::FindName(wmi_->queryFailures, className);
    if (fault != wmi_->queryFailures.end()) return fault->second;
    wmi_->queries.push_back(query);

    // The namespace may have gone meanwhile; its classes are looked up as the query runs.
    std::vector<TestWmi::Object> objects;
    int32_t fetchError = port::kHrWbemInvalidClass;
    auto space = TestWmi::FindName(wmi_->namespaces, namespacePath_);
    if (space != wmi_->namespaces.end()) {
      auto cls = TestWmi::FindName(space->second.classes, className);
      if (cls != space->second.classes.end()) {
        objects = cls->second;
        fetchError = port::kHrOk;
      }
    }
    *result = std::make_unique<TestWmiResult>(wmi_, std::move(objects), fetchError);
    return port::kHrOk;
  }

 private:
  std::wstring namespacePath_;
};

class TestWmiLocator : public port::WmiLocator, private TestWmiComObject {
 public:
  explicit TestWmiLocator(TestWmi* wmi) : TestWmiComObject(wmi) {}

  int32_t ConnectServer(const std::wstring& namespacePath, std::unique_ptr<port::WmiServices>* services) override {
    services->reset();
    if (!Touch()) return port::kHrComNotInitialized;
    if (!wmi_->Allocatable(namespacePath)) return port::kHrComStringNotAllocated;
    auto fault = TestWmi::FindName(wmi_->connectFailures, namespacePath);
    if (fault != wmi_->connectFailures.end()) return fault->second;
    if (TestWmi::FindName(wmi_->namespaces, namespacePath) == wmi_->namespaces.end()) {
      return port::kHrWbemInvalidNamespace;
    }
    wmi_->connections.push_back(namespacePath);
    *services = std::make_unique<TestWmiServices>(wmi_, namespacePath);
    return port::kHrOk;
  }
};

TestWmi::TestWmi() {
  namespaces[L"ROOT\\CIMV2"];
  namespaces[L"ROOT\\WMI"];
}

TestWmi::~TestWmi() = default;

bool TestWmi::SameName(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) { return Fold(x) == Fold(y); });
}

template <typename Map>
auto TestWmi::FindName(Map& map, const std::wstring& name) -> decltype(map.begin()) {
  return std::find_if(map.begin(), map.end(), [&name](const auto& entry) { return SameName(entry.first, name); });
}

bool TestWmi::Allocatable(const std::wstring& text) const {
  return std::find(unallocatableStrings.begin(), unallocatableStrings.end(), text) == unallocatableStrings.end();
}

std::vector<TestWmi::Object>& TestWmi::Objects(const std::wstring& namespacePath, const std::wstring& className) {
  auto space = FindName(namespaces, namespacePath);
  if (space == namespaces.end()) space = namespaces.emplace(namespacePath, Namespace()).first;
  auto& classes = space->second.classes;
  auto cls = FindName(classes, className);
  if (cls == classes.end()) cls = classes.emplace(className, std::vector<Object>()).first;
  return cls->second;
}

int32_t TestWmi::StartCom() {
  if (startComResult != port::kHrOk) return startComResult;
  const bool running = comRunning();
  ++comStarts;
  return running ? port::kHrFalse : port::kHrOk;
}

void TestWmi::EndCom() {
  if (!comRunning()) {
    ++misuses;
    return;
  }
  ++comEnds;
}

int32_t TestWmi::InitializeSecurity() {
  ++securityCalls;
  if (!comRunning()) return port::kHrComNotInitialized;
  if (securityResult != port::kHrOk) return securityResult;
  if (securitySet) return port::kHrSecurityAlreadySet;
  securitySet = true;
  return port::kHrOk;
}

int32_t TestWmi::CreateLocator(std::unique_ptr<port::WmiLocator>* locator) {
  locator->reset();
  if (!comRunning()) return port::kHrComNotInitialized;
  if (locatorResult != port::kHrOk) return locatorResult;
  *locator = std::make_unique<TestWmiLocator>(this);
  return port::kHrOk;
}

}  // namespace testenv
