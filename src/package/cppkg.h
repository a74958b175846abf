// The package description: the component definition and the package data document.
#pragma once

#include <string>

namespace port {
class Platform;
}

class CPPkg {
 public:
  CPPkg() = default;
  virtual ~CPPkg() = default;
  CPPkg(const CPPkg&) = delete;
  CPPkg& operator=(const CPPkg&) = delete;

  // Loads the definition entry `definitionName` (and the package data document) from the archive
  // in `stubPath`. The document reader is not part of this build yet, so no definition can be
  // loaded and every package counts as one without a usable definition.
  bool Load(const std::wstring& stubPath, const std::wstring& definitionName,
            const std::wstring& languageCode);
  bool IsLoaded() const { return loaded_; }

  // Component definition queries: null when the definition has no such element or text.
  const wchar_t* GetFilename() const;
  const wchar_t* GetSwKeyName() const;
  const wchar_t* GetSwKeyExpectedPath() const;

 private:
  bool loaded_ = false;
};

struct StubGlobals;
// Searches the archive for a component definition under another name; on success writes the
// entry's name into `definitionFileName`. Needs the document reader, which this build lacks.
bool FindPackageDefinition(StubGlobals& globals);
