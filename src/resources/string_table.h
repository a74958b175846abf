// The stub's string table: every user-visible text, in English, Japanese and Simplified Chinese.
// The rows are generated from strings.json, the same source as the Windows resources, so the
// portable code and the executable's resources always hold the same texts.
#pragma once

#include <cstdint>

namespace res {

enum : uint16_t { kLangEnglish = 1033, kLangJapanese = 1041, kLangChinese = 2052 };

struct StringEntry {
  uint32_t id;
  uint16_t lang;
  const wchar_t* text;
};

// Every entry of the table, all languages.
const StringEntry* StringTableBegin();
const StringEntry* StringTableEnd();

// The text of `id` in `lang`, or null when the table has no such entry.
const wchar_t* FindString(uint32_t id, uint16_t lang);

// The text the platform's resource lookup would pick for a user-interface language: that
// language's entry, else English. Null when the id is missing.
const wchar_t* LookupString(uint32_t id, uint16_t uiLanguage);

}  // namespace res
