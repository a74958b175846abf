// The package description: the component definition and the package data document.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package/xml_document.h"

namespace port {
class Platform;
}
namespace vorqzip {
class ZIP_File;
}

// The configuration file's bytes, held as the platform's byte-array variant holds them: empty,
// or a one-dimensional array of bytes with lower bound 0.
struct ConfigData {
  bool isByteArray = false;  // false: nothing (an empty variant)
  int32_t lowerBound = 0;
  std::vector<uint8_t> bytes;
};

// The configuration entries of the package data document.
struct PkgConfigInfo {
  std::wstring configUIFileName;  // empty when none
  std::wstring configFileName;    // empty when none
  bool encryptConfigFile = false;
  bool allowVirtualization = false;
};

class CPPkg {
 public:
  explicit CPPkg(port::Platform& platform);
  virtual ~CPPkg();
  CPPkg(const CPPkg&) = delete;
  CPPkg& operator=(const CPPkg&) = delete;

  // Loads the definition entry `entryName` (and the package data document) from the archive in
  // `archivePath`; the language code picks localized texts (English is the fallback).
  bool Load(const wchar_t* archivePath, const wchar_t* entryName, const wchar_t* languageCode);
  bool Reset();
  bool IsLoaded() const { return !archivePath_.empty(); }

  // Component definition queries: null when the definition has no such element or text.
  const wchar_t* GetName() const;
  const wchar_t* GetDescription() const;
  const wchar_t* GetFilename() const;
  const wchar_t* GetVersion() const;
  const wchar_t* GetInstallCommand() const;
  const wchar_t* GetInstallCommandParams() const;
  const wchar_t* GetSwKeyName() const;
  const wchar_t* GetSwKeyExpectedPath() const;

  // Package data queries.
  const wchar_t* GetSetting(const wchar_t* name) const;
  // Size protocol: with too small a `*length` (or a null buffer and 0), true and the size to
  // allocate; with room, the license bytes followed by at least five zero bytes.
  bool GetLicense(uint8_t* buffer, uint32_t* length) const;
  std::wstring MapCommandLineArg(const std::wstring& argument) const;
  int32_t MapReturnCode(int32_t code) const;
  bool HasConfigUI() const { return !config_.configUIFileName.empty(); }
  const std::wstring& GetConfigFileName() const { return config_.configFileName; }
  const ConfigData& GetConfigData() const { return configData_; }
  bool IsVirtualizationAllowed() const { return config_.allowVirtualization; }
  const std::wstring& language() const { return language_; }

  // Reads the configuration entries of the loaded package data document; true when it named a
  // configuration UI file or a configuration file.
  bool ReadPackageData();

 private:
  CVorqXMLNode* DefinitionRoot() const;
  CVorqXMLNode* PackageDataRoot() const;
  // The child `name` of `parent` whose `lang` is the package language, else English.
  CVorqXMLNode* FindLocalized(const CVorqXMLReader& reader, CVorqXMLNode* parent, const wchar_t* name) const;

  port::Platform& platform_;
  CVorqXMLReader componentDefinition_;
  CVorqXMLReader packageData_;
  std::wstring language_ = L"en";
  std::wstring archivePath_;
  ConfigData configData_;
  PkgConfigInfo config_;
};

// The text of an element: its first child's text when that child is character data.
const wchar_t* ElementText(const CVorqXMLNode* element);

// Finds, in archive order, the first ".xml" entry whose document element is `vorq_package`
// with version "2.0.1.0" or "2.0.2.0"; writes its name (bytes widened) to `nameOut`.
bool FindPackageDefinition(vorqzip::ZIP_File& archive, std::wstring* nameOut);

namespace vorqzip {
class ZIP_FileEntry;
}
// Reads an entry whole into memory (with `extraZeros` zero bytes behind it). Sizes the archive
// declares are trusted only as far as the stored data can really produce them, so a forged size
// cannot make the stub allocate gigabytes.
bool ReadEntryBytes(vorqzip::ZIP_FileEntry& entry, std::vector<uint8_t>* bytes, size_t extraZeros = 0);
