#include "package/cppkg.h"

bool CPPkg::Load(const std::wstring&, const std::wstring&, const std::wstring&) {
  loaded_ = false;
  return false;
}

bool FindPackageDefinition(StubGlobals&) { return false; }
