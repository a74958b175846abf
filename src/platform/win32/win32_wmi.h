// COM and WMI over the real system, with owners for COM interfaces, strings and variants.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

#include "platform/port.h"

namespace win32 {

// Owns one reference to a COM interface; releases it once, whatever the way out.
template <typename Interface>
class UniqueCom {
 public:
  UniqueCom() = default;
  ~UniqueCom() { Reset(); }
  UniqueCom(UniqueCom&& other) noexcept : pointer_(other.pointer_) { other.pointer_ = nullptr; }
  UniqueCom& operator=(UniqueCom&& other) noexcept {
    if (this != &other) {
      Reset();
      pointer_ = other.pointer_;
      other.pointer_ = nullptr;
    }
    return *this;
  }
  UniqueCom(const UniqueCom&) = delete;
  UniqueCom& operator=(const UniqueCom&) = delete;

  Interface* Get() const { return pointer_; }
  Interface* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }
  // For the out-parameter of a call that hands out a reference; releases one held before.
  Interface** Receive() {
    Reset();
    return &pointer_;
  }
  void Reset() {
    if (pointer_ != nullptr) pointer_->Release();
    pointer_ = nullptr;
  }

 private:
  Interface* pointer_ = nullptr;
};

// Owns a BSTR; frees it once.
class UniqueBstr {
 public:
  // Allocates a copy of `text`; Get() is null when it cannot be allocated.
  explicit UniqueBstr(const std::wstring& text)
      : bstr_(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  ~UniqueBstr() { ::SysFreeString(bstr_); }
  UniqueBstr(const UniqueBstr&) = delete;
  UniqueBstr& operator=(const UniqueBstr&) = delete;

  BSTR Get() const { return bstr_; }

 private:
  BSTR bstr_;
};

// Owns a VARIANT; clears it once.
class UniqueVariant {
 public:
  UniqueVariant() { ::VariantInit(&variant_); }
  ~UniqueVariant() { ::VariantClear(&variant_); }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;

  VARIANT* Get() { return &variant_; }
  const VARIANT& Value() const { return variant_; }

 private:
  VARIANT variant_;
};

// The port's COM and WMI calls on the calling thread.
class Win32Wmi : public port::Wmi {
 public:
  int32_t StartCom() override;
  void EndCom() override;
  int32_t InitializeSecurity() override;
  int32_t CreateLocator(std::unique_ptr<port::WmiLocator>* locator) override;
};

}  // namespace win32
