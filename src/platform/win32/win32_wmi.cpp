#include "platform/win32/win32_wmi.h"

#include <objbase.h>
#include <wbemidl.h>

#include <utility>

namespace win32 {

namespace {

// Converts what the stub reads of a property value; every other type stays kOther.
port::WmiValue ToWmiValue(const VARIANT& variant) {
  port::WmiValue value;
  if (V_VT(&variant) == VT_BSTR) {
    value.type = port::WmiValue::Type::kString;
    if (V_BSTR(&variant) != nullptr) value.text.assign(V_BSTR(&variant), ::SysStringLen(V_BSTR(&variant)));
  } else if (V_VT(&variant) == VT_I4) {
    value.type = port::WmiValue::Type::kInt32;
    value.integer = V_I4(&variant);
  } else if (V_VT(&variant) == (VT_ARRAY | VT_UI1) && V_ARRAY(&variant) != nullptr &&
             ::SafeArrayGetDim(V_ARRAY(&variant)) == 1) {
    SAFEARRAY* array = V_ARRAY(&variant);
    LONG lower = 0;
    LONG upper = -1;
    void* data = nullptr;
    if (FAILED(::SafeArrayGetLBound(array, 1, &lower)) || FAILED(::SafeArrayGetUBound(array, 1, &upper))) return value;
    if (FAILED(::SafeArrayAccessData(array, &data))) return value;
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (upper >= lower) value.bytes.assign(bytes, bytes + (static_cast<size_t>(upper) - lower + 1));
    ::SafeArrayUnaccessData(array);
    value.type = port::WmiValue::Type::kByteArray;
  }
  return value;
}

class Win32WmiObject : public port::WmiObject {
 public:
  explicit Win32WmiObject(UniqueCom<IWbemClassObject> object) : object_(std::move(object)) {}

  int32_t Get(const std::wstring& name, port::WmiValue* value) override {
    const UniqueBstr property(name);
    if (property.Get() == nullptr) return port::kHrComStringNotAllocated;
    UniqueVariant variant;
    const HRESULT result = object_->Get(property.Get(), 0, variant.Get(), nullptr, nullptr);
    if (result == S_OK) *value = ToWmiValue(variant.Value());
    return result;
  }

 private:
  UniqueCom<IWbemClassObject> object_;
};

class Win32WmiResult : public port::WmiResult {
 public:
  explicit Win32WmiResult(UniqueCom<IEnumWbemClassObject> enumerator) : enumerator_(std::move(enumerator)) {}

  int32_t Reset() override { return enumerator_->Reset(); }

  int32_t Next(std::unique_ptr<port::WmiObject>* object) override {
    object->reset();
    UniqueCom<IWbemClassObject> fetched;
    ULONG returned = 0;
    const HRESULT result = enumerator_->Next(WBEM_INFINITE, 1, fetched.Receive(), &returned);
    if (returned == 1 && fetched) *object = std::make_unique<Win32WmiObject>(std::move(fetched));
    return result;
  }

 private:
  UniqueCom<IEnumWbemClassObject> enumerator_;
};

class Win32WmiServices : public port::WmiServices {
 public:
  explicit Win32WmiServices(UniqueCom<IWbemServices> services) : services_(std::move(services)) {}

  int32_t SetProxyBlanket() override {
    return ::CoSetProxyBlanket(services_.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                               RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
  }

  int32_t ExecQuery(const std::wstring& query, std::unique_ptr<port::WmiResult>* result) override {
    result->reset();
    const UniqueBstr language(L"WQL");
    const UniqueBstr text(query);
    if (language.Get() == nullptr || text.Get() == nullptr) return port::kHrComStringNotAllocated;
    UniqueCom<IEnumWbemClassObject> enumerator;
    const HRESULT status =
        services_->ExecQuery(language.Get(), text.Get(), WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, enumerator.Receive());
    if (SUCCEEDED(status) && enumerator) *result = std::make_unique<Win32WmiResult>(std::move(enumerator));
    return status;
  }

 private:
  UniqueCom<IWbemServices> services_;
};

class Win32WmiLocator : public port::WmiLocator {
 public:
  explicit Win32WmiLocator(UniqueCom<IWbemLocator> locator) : locator_(std::move(locator)) {}

  int32_t ConnectServer(const std::wstring& namespacePath, std::unique_ptr<port::WmiServices>* services) override {
    services->reset();
    const UniqueBstr path(namespacePath);
    if (path.Get() == nullptr) return port::kHrComStringNotAllocated;
    UniqueCom<IWbemServices> connected;
    const HRESULT status =
        locator_->ConnectServer(path.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, connected.Receive());
    if (SUCCEEDED(status) && connected) *services = std::make_unique<Win32WmiServices>(std::move(connected));
    return status;
  }

 private:
  UniqueCom<IWbemLocator> locator_;
};

}  // namespace

int32_t Win32Wmi::StartCom() { return ::CoInitializeEx(nullptr, COINIT_MULTITHREADED); }

void Win32Wmi::EndCom() { ::CoUninitialize(); }

int32_t Win32Wmi::InitializeSecurity() {
  return ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
                                nullptr, EOAC_NONE, nullptr);
}

int32_t Win32Wmi::CreateLocator(std::unique_ptr<port::WmiLocator>* locator) {
  locator->reset();
  UniqueCom<IWbemLocator> created;
  const HRESULT status = ::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                            reinterpret_cast<void**>(created.Receive()));
  if (SUCCEEDED(status) && created) *locator = std::make_unique<Win32WmiLocator>(std::move(created));
  return status;
}

}  // namespace win32
