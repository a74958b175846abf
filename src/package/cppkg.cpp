#include "package/cppkg.h"

#include <cstring>
#include <cwchar>
#include <new>

#include "archive/zip_file.h"
#include "log/wformat.h"
#include "package/des_crypt.h"
#include "platform/port.h"
#include "setup/options.h"

namespace {

constexpr size_t kNameCapacity = 261;  // file names of the package data, terminator included

bool EqualsExactly(const wchar_t* text, const wchar_t* expected) {
  return text && std::wstring(text) == expected;
}

// The child `name` of `parent`; null when the parent itself is missing (a null parent would
// otherwise mean the document root).
CVorqXMLNode* Child(const CVorqXMLReader& reader, CVorqXMLNode* parent, const wchar_t* name) {
  return parent ? reader.FindNode(parent, name, nullptr, nullptr) : nullptr;
}

}  // namespace

const wchar_t* ElementText(const CVorqXMLNode* element) {
  if (!element || !element->FirstChild() || element->FirstChild()->Kind() != CVorqXMLNode::NODE_CHARDATA) return nullptr;
  return element->FirstChild()->GetText();
}

bool ReadEntryBytes(vorqzip::ZIP_FileEntry& entry, std::vector<uint8_t>* bytes, size_t extraZeros) {
  bytes->clear();
  if (!entry.SizeIsPlausible()) return false;
  try {
    bytes->assign(static_cast<size_t>(entry.uncompressedSize) + extraZeros, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (entry.uncompressedSize == 0) return entry.Extract(bytes->data(), 0) == vorqzip::ZIP_OK;
  return entry.Extract(bytes->data(), entry.uncompressedSize) == vorqzip::ZIP_OK;
}

CPPkg::CPPkg(port::Platform& platform) : platform_(platform) {}

CPPkg::~CPPkg() { Reset(); }

bool CPPkg::Reset() {
  configData_ = ConfigData();
  language_ = L"en";
  config_ = PkgConfigInfo();
  archivePath_.clear();
  componentDefinition_.Clear();
  packageData_.Clear();
  return true;
}

bool CPPkg::Load(const wchar_t* archivePath, const wchar_t* entryName, const wchar_t* languageCode) {
  if (!archivePath || !entryName) return false;
  if (!archivePath_.empty()) Reset();
  // The language code has room for two letters.
  if (languageCode) language_ = std::wstring(languageCode).substr(0, 2);

  vorqzip::ZIP_File archive(platform_.Files(), platform_.System());
  if (archive.Open(archivePath) != vorqzip::ZIP_OK) return false;

  std::vector<uint8_t> bytes;
  vorqzip::ZIP_FileEntry* definition = archive.FindEntry(entryName);
  if (!definition || !ReadEntryBytes(*definition, &bytes)) return false;
  if (componentDefinition_.Load(bytes.data(), static_cast<int32_t>(bytes.size())) != XMLREAD_OK) return false;

  config_ = PkgConfigInfo();
  configData_ = ConfigData();
  // Whatever an earlier, failed load parsed must not answer for this package.
  packageData_.Clear();
  vorqzip::ZIP_FileEntry* data = archive.FindEntry(L"cp_data.xml");
  if (data) {
    // A broken package data document is no failure: the package loads without it.
    if (!ReadEntryBytes(*data, &bytes) ||
        packageData_.Load(bytes.data(), static_cast<int32_t>(bytes.size())) != XMLREAD_OK || !ReadPackageData()) {
      archivePath_ = archivePath;
      return true;
    }
  }

  if (config_.configFileName.empty()) {
    archivePath_ = archivePath;
    return true;
  }
  vorqzip::ZIP_FileEntry* configEntry = archive.FindEntry(config_.configFileName);
  if (!configEntry) {
    archivePath_ = archivePath;
    return true;
  }
  if (!ReadEntryBytes(*configEntry, &bytes)) return false;

  ConfigData loaded;
  loaded.isByteArray = true;
  if (!config_.encryptConfigFile) {
    loaded.bytes = bytes;
  } else {
    // The key is made from the package's file name; without one nothing can be decoded.
    const wchar_t* fileName = GetFilename();
    if (!fileName) return false;
    const std::string keyText = platform_.System().WideToAnsi(fileName, port::CodePage::kThreadAnsi);
    if (keyText.empty()) return false;
    DesCrypt des;
    unsigned char key[8];
    DesCrypt::MakeKey(keyText.c_str(), key);
    des.SetKey(key);
    unsigned char* decoded = nullptr;
    size_t decodedLength = 0;
    try {
      des.DecryptHexText(reinterpret_cast<const char*>(bytes.data()), bytes.size(), &decoded, &decodedLength);
    } catch (const DesCryptException&) {
      return false;
    }
    loaded.bytes.assign(decoded, decoded + decodedLength);
    delete[] decoded;
  }
  configData_ = std::move(loaded);
  archivePath_ = archivePath;
  return true;
}

bool CPPkg::ReadPackageData() {
  CVorqXMLNode* root = PackageDataRoot();
  if (!root) return false;
  CVorqXMLNode* configuration = Child(packageData_, root, L"configuration");
  CVorqXMLNode* virtualization = Child(packageData_, root, L"virtualization");
  bool named = false;
  CVorqXMLNode* configUi = Child(packageData_, configuration, L"configui");
  if (const wchar_t* text = ElementText(FindLocalized(packageData_, configUi, L"filename"))) {
    if (*text) {
      config_.configUIFileName = std::wstring(text).substr(0, kNameCapacity - 1);
      named = true;
    }
  }
  CVorqXMLNode* fileName = Child(packageData_, Child(packageData_, configuration, L"config_file"), L"filename");
  if (fileName) {
    config_.encryptConfigFile = EqualsExactly(fileName->GetAttribute(L"encrypt"), L"1");
    const wchar_t* text = ElementText(fileName);
    // A name that does not fit is not cut into the name of another entry: it names nothing.
    if (text && *text && std::wcslen(text) < kNameCapacity) {
      config_.configFileName = text;
      named = true;
    }
  }
  if (virtualization) config_.allowVirtualization = EqualsExactly(virtualization->GetAttribute(L"allow"), L"1");
  return named;
}

CVorqXMLNode* CPPkg::DefinitionRoot() const {
  return componentDefinition_.FindNode(nullptr, L"vorq_package", nullptr, nullptr);
}

CVorqXMLNode* CPPkg::PackageDataRoot() const {
  return packageData_.FindNode(nullptr, L"cp_pkg_data", nullptr, nullptr);
}

CVorqXMLNode* CPPkg::FindLocalized(const CVorqXMLReader& reader, CVorqXMLNode* parent, const wchar_t* name) const {
  if (!parent) return nullptr;
  if (CVorqXMLNode* found = reader.FindNode(parent, name, L"lang", language_.c_str())) return found;
  return reader.FindNode(parent, name, L"lang", L"en");
}

const wchar_t* CPPkg::GetName() const {
  CVorqXMLNode* name = Child(componentDefinition_, DefinitionRoot(), L"name");
  return ElementText(FindLocalized(componentDefinition_, name, L"name_xlate"));
}

const wchar_t* CPPkg::GetDescription() const {
  CVorqXMLNode* description = Child(componentDefinition_, DefinitionRoot(), L"description");
  CVorqXMLNode* localized = FindLocalized(componentDefinition_, description, L"description_xlate");
  if (!localized) return nullptr;
  const CVorqXMLNode* node = localized->FindChild(L"#CDATA");
  if (!node) node = localized->FirstChild();
  return node && node->Kind() == CVorqXMLNode::NODE_CHARDATA ? node->GetText() : nullptr;
}

const wchar_t* CPPkg::GetFilename() const {
  return ElementText(Child(componentDefinition_, DefinitionRoot(), L"filename"));
}

const wchar_t* CPPkg::GetVersion() const {
  CVorqXMLNode* version = Child(componentDefinition_, DefinitionRoot(), L"version");
  return version ? version->GetAttribute(L"value") : nullptr;
}

const wchar_t* CPPkg::GetInstallCommand() const {
  CVorqXMLNode* install = Child(componentDefinition_, Child(componentDefinition_, DefinitionRoot(), L"installation"), L"install");
  return ElementText(Child(componentDefinition_, install, L"command"));
}

const wchar_t* CPPkg::GetInstallCommandParams() const {
  CVorqXMLNode* install = Child(componentDefinition_, Child(componentDefinition_, DefinitionRoot(), L"installation"), L"install");
  return ElementText(Child(componentDefinition_, install, L"command_params"));
}

namespace {
CVorqXMLNode* SoftwareKey(const CVorqXMLReader& reader, CVorqXMLNode* root) {
  return Child(reader, Child(reader, Child(reader, root, L"sw_keys"), L"sw_keys_and"), L"sw_key");
}
}  // namespace

const wchar_t* CPPkg::GetSwKeyName() const {
  CVorqXMLNode* key = SoftwareKey(componentDefinition_, DefinitionRoot());
  return key ? key->GetAttribute(L"name") : nullptr;
}

const wchar_t* CPPkg::GetSwKeyExpectedPath() const {
  return ElementText(Child(componentDefinition_, SoftwareKey(componentDefinition_, DefinitionRoot()), L"sw_key_expectedpath"));
}

const wchar_t* CPPkg::GetSetting(const wchar_t* name) const {
  CVorqXMLNode* settings = Child(packageData_, PackageDataRoot(), L"settings");
  if (!settings || !name) return nullptr;
  CVorqXMLNode* value = packageData_.FindNode(settings, L"value", L"name", name);
  return value ? value->GetAttribute(L"value") : nullptr;
}

bool CPPkg::GetLicense(uint8_t* buffer, uint32_t* length) const {
  if (!packageData_.IsLoaded() || !length) return false;
  vorqzip::ZIP_File archive(platform_.Files(), platform_.System());
  if (archivePath_.empty() || archive.Open(archivePath_) != vorqzip::ZIP_OK) return false;
  CVorqXMLNode* license = Child(packageData_, PackageDataRoot(), L"license");
  const wchar_t* name = ElementText(FindLocalized(packageData_, license, L"filename"));
  if (!name) return false;
  vorqzip::ZIP_FileEntry* entry = archive.FindEntry(name);
  if (!entry || !entry->SizeIsPlausible()) return false;
  const uint64_t required = uint64_t{entry->uncompressedSize} + 5;
  if (required > 0xFFFFFFFFull) return false;
  if (*length < required) {
    *length = static_cast<uint32_t>(required);
    return true;
  }
  if (!buffer) return false;
  std::memset(buffer, 0, static_cast<size_t>(required));
  return entry->Extract(buffer, entry->uncompressedSize) == vorqzip::ZIP_OK;
}

std::wstring CPPkg::MapCommandLineArg(const std::wstring& argument) const {
  CVorqXMLNode* install = Child(packageData_, Child(packageData_, PackageDataRoot(), L"installation"), L"install");
  CVorqXMLNode* argMap = Child(packageData_, install, L"commandline_arg_map");
  if (!argMap) return argument;
  CVorqXMLNode* map = packageData_.FindNode(argMap, L"map", L"source", argument.c_str());
  const wchar_t* dest = map ? map->GetAttribute(L"dest") : nullptr;
  return dest ? std::wstring(dest) : argument;
}

int32_t CPPkg::MapReturnCode(int32_t code) const {
  CVorqXMLNode* install = Child(packageData_, Child(packageData_, PackageDataRoot(), L"installation"), L"install");
  CVorqXMLNode* codeMap = Child(packageData_, install, L"returncode_map");
  if (!codeMap) return code;
  const std::wstring text = FormatWide(L"%d", code);
  CVorqXMLNode* map = packageData_.FindNode(codeMap, L"map", L"source", text.c_str());
  const wchar_t* dest = map ? map->GetAttribute(L"dest") : nullptr;
  return dest ? ParseDecimal(dest) : code;
}

bool FindPackageDefinition(vorqzip::ZIP_File& archive, std::wstring* nameOut) {
  for (int index = 0; index < archive.GetEntryCount(); ++index) {
    vorqzip::ZIP_FileEntry* entry = archive.GetEntry(index);
    if (!entry) continue;
    const size_t dot = entry->name.find_last_of('.');
    if (dot == std::string::npos || !vorqzip::EqualsNoCaseAnsi(entry->name.substr(dot), ".xml")) continue;
    std::vector<uint8_t> bytes;
    if (!ReadEntryBytes(*entry, &bytes)) continue;
    CVorqXMLReader reader;
    if (reader.Load(bytes.data(), static_cast<int32_t>(bytes.size())) != XMLREAD_OK) continue;
    CVorqXMLNode* root = reader.FindNode(nullptr, L"vorq_package", nullptr, nullptr);
    const wchar_t* version = root ? root->GetAttribute(L"version") : nullptr;
    if (!version) continue;
    const std::wstring v(version);
    if (!EqualsNoCase(v, L"2.0.1.0") && !EqualsNoCase(v, L"2.0.2.0")) continue;
    if (nameOut) {
      nameOut->clear();
      for (char c : entry->name) nameOut->push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return true;
  }
  return false;
}
