#include "package/cppkg.h"

bool CPPkg::Load(const std::wstring&, const std::wstring&, const std::wstring&) {
  loaded_ = false;
  return false;
}

bool FindPackageDefinition(StubGlobals&) { return false; }

const wchar_t* CPPkg::GetFilename() const { return nullptr; }
const wchar_t* CPPkg::GetSwKeyName() const { return nullptr; }
const wchar_t* CPPkg::GetSwKeyExpectedPath() const { return nullptr; }
