// The generated string table: completeness, exact texts (the blanks, line feeds, quotes and
// non-ASCII characters that an escaping fault would damage) and the English fallback.
#include "resources/string_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <utility>

namespace {

using res::kLangChinese;
using res::kLangEnglish;
using res::kLangJapanese;

constexpr uint32_t kAllIds[] = {1,    200,  201,  202,  300,  301,  302,  303,  701,  706,
                                707,  708,  709,  712,  713,  1000, 1002, 1003, 1004, 1005,
                                1050, 1051, 2000, 2001, 2002, 2003, 3000, 3050, 3051};
constexpr uint16_t kAllLanguages[] = {kLangEnglish, kLangJapanese, kLangChinese};
constexpr uint16_t kLangGerman = 1031;

std::wstring Text(uint32_t id, uint16_t lang) {
  const wchar_t* text = res::FindString(id, lang);
  return text ? std::wstring(text) : std::wstring(L"<missing>");
}

TEST(StringTableTest, EveryIdExistsOnceInEveryLanguageAndNothingElse) {
  for (uint32_t id : kAllIds) {
    for (uint16_t lang : kAllLanguages) {
      const wchar_t* text = res::FindString(id, lang);
      ASSERT_NE(text, nullptr) << "id " << id << " lang " << lang;
      EXPECT_NE(text[0], L'\0') << "id " << id << " lang " << lang;
    }
  }
  std::set<std::pair<uint32_t, uint16_t>> seen;
  const std::set<uint32_t> ids(std::begin(kAllIds), std::end(kAllIds));
  const std::set<uint16_t> langs(std::begin(kAllLanguages), std::end(kAllLanguages));
  for (const res::StringEntry* e = res::StringTableBegin(); e != res::StringTableEnd(); ++e) {
    EXPECT_TRUE(seen.insert({e->id, e->lang}).second) << "duplicate " << e->id << "/" << e->lang;
    EXPECT_EQ(ids.count(e->id), 1u) << "unexpected id " << e->id;
    EXPECT_EQ(langs.count(e->lang), 1u) << "unexpected language " << e->lang;
  }
  EXPECT_EQ(seen.size(), ids.size() * langs.size());
}

struct ExactCase {
  uint32_t id;
  uint16_t lang;
  const wchar_t* expected;
};

// Texts as the product shows them; the expected values are written in UTF-8 source text here,
// independently of the escapes the generator writes.
const ExactCase kExactCases[] = {
    {1, kLangEnglish, L"Package Setup"},
    {1, kLangJapanese, L"パッケージセットアップ"},
    {1, kLangChinese, L"包设定"},
    {200, kLangEnglish, L"&View Contents..."},
    {200, kLangChinese, L"查看内容... "},
    {201, kLangJapanese, L"バージョン: "},
    {701, kLangJapanese, L"インストレーションを完了するには、再起動が必要です。 "},
    {1000, kLangEnglish,
     L"A package definition file was not found.  The file is not a valid Package."},
    {1003, kLangEnglish,
     L"Not enough disk space is available to extract the package:\n\n%lu bytes required\n\n"
     L"%lu bytes available\n\nPlease make %lu bytes available and try again."},
    {1003, kLangChinese,
     L"没有足够的可用磁盘空间解压包： \n\n需要%lu字节\n\n可用%lu 字节\n\n请确保%lu字节可用，然后再试一次。"},
    {2003, kLangJapanese, L"ファイル名"},
    {3000, kLangEnglish, L"Arial"},
    {3000, kLangJapanese, L"ＭＳ Ｐゴシック"},
    {3000, kLangChinese, L"\u2013宋体"},
};

TEST(StringTableTest, ExactTexts) {
  for (const ExactCase& c : kExactCases) {
    EXPECT_EQ(Text(c.id, c.lang), std::wstring(c.expected)) << "id " << c.id << " lang " << c.lang;
  }
}

TEST(StringTableTest, SignificantBlanksQuotesAndDashSurvive) {
  const std::wstring ja701 = Text(701, kLangJapanese);
  ASSERT_GE(ja701.size(), 2u);
  EXPECT_EQ(ja701.back(), L' ');
  EXPECT_EQ(ja701[ja701.size() - 2], L'\u3002');  // the ideographic full stop before the blank

  const std::wstring zh200 = Text(200, kLangChinese);
  ASSERT_GE(zh200.size(), 2u);
  EXPECT_EQ(zh200.back(), L' ');
  EXPECT_EQ(zh200[zh200.size() - 2], L'.');

  // Blank between the full-width colon and the line feed, and after the second %lu.
  EXPECT_NE(Text(1003, kLangChinese).find(L"\uFF1A \n\n"), std::wstring::npos);
  EXPECT_NE(Text(1003, kLangChinese).find(L"%lu \u5B57"), std::wstring::npos);

  const std::wstring zh3000 = Text(3000, kLangChinese);
  ASSERT_FALSE(zh3000.empty());
  EXPECT_EQ(static_cast<uint32_t>(zh3000[0]), 0x2013u);
  EXPECT_EQ(zh3000.size(), 3u);

  EXPECT_NE(Text(3050, kLangEnglish).find(L"is to \"disable\" BitLocker"), std::wstring::npos);
  EXPECT_NE(Text(3050, kLangChinese).find(L"\u201C禁用\u201D"), std::wstring::npos);
}

struct LookupCase {
  uint32_t id;
  uint16_t uiLanguage;
  uint16_t expectedLanguage;
};

const LookupCase kLookupCases[] = {
    {1, kLangEnglish, kLangEnglish},   {1, kLangJapanese, kLangJapanese},
    {1, kLangChinese, kLangChinese},   {1, kLangGerman, kLangEnglish},
    {3000, kLangGerman, kLangEnglish}, {701, 1028, kLangEnglish},  // Chinese (Taiwan)
    {1003, 0, kLangEnglish},
};

TEST(StringTableTest, LookupUsesTheUiLanguageElseEnglish) {
  for (const LookupCase& c : kLookupCases) {
    const wchar_t* expected = res::FindString(c.id, c.expectedLanguage);
    ASSERT_NE(expected, nullptr);
    EXPECT_EQ(res::LookupString(c.id, c.uiLanguage), expected)
        << "id " << c.id << " ui " << c.uiLanguage;
  }
  // The fallback really is a different text from the other variants.
  EXPECT_NE(std::wstring(res::LookupString(1, kLangGerman)), Text(1, kLangJapanese));
  EXPECT_EQ(std::wstring(res::LookupString(1, kLangGerman)), L"Package Setup");
}

TEST(StringTableTest, MissingEntriesGiveNull) {
  EXPECT_EQ(res::FindString(1, kLangGerman), nullptr);
  EXPECT_EQ(res::FindString(9999, kLangEnglish), nullptr);
  EXPECT_EQ(res::LookupString(9999, kLangJapanese), nullptr);
  EXPECT_EQ(res::LookupString(9999, kLangGerman), nullptr);
}

}  // namespace
