#include "resources/string_table.h"

#include <iterator>

namespace res {
namespace {

// Generated from strings.json into the build's generated folder.
const StringEntry kStringTable[] = {
#include "string_table.inc"
};

}  // namespace

const StringEntry* StringTableBegin() { return std::begin(kStringTable); }

const StringEntry* StringTableEnd() { return std::end(kStringTable); }

const wchar_t* FindString(uint32_t id, uint16_t lang) {
  // About a hundred rows, looked up a handful of times per run: a scan is enough.
  for (const StringEntry& entry : kStringTable) {
    if (entry.id == id && entry.lang == lang) return entry.text;
  }
  return nullptr;
}

const wchar_t* LookupString(uint32_t id, uint16_t uiLanguage) {
  if (const wchar_t* text = FindString(id, uiLanguage)) return text;
  return FindString(id, kLangEnglish);
}

}  // namespace res
