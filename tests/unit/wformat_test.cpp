// The wide formatter: Windows wide-format conventions on every platform.
#include "log/wformat.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

namespace {

struct FormatCase {
  const char* what;
  std::wstring got;
  std::wstring want;
};

TEST(FormatWide, ConversionsFlagsAndSizes) {
  const wchar_t* nullWide = nullptr;
  const char* nullNarrow = nullptr;
  const FormatCase cases[] = {
      // Strings: %s is wide in a wide format, %hs and %S narrow.
      {"wide %s", FormatWide(L"[%s]", L"abc"), L"[abc]"},
      {"wide %ls", FormatWide(L"[%ls]", L"abc"), L"[abc]"},
      {"wide %ws", FormatWide(L"[%ws]", L"abc"), L"[abc]"},
      {"narrow %hs", FormatWide(L"[%hs]", "abc"), L"[abc]"},
      {"narrow %S", FormatWide(L"[%S]", "abc"), L"[abc]"},
      {"narrow bytes keep their value", FormatWide(L"%hs", "caf\xE9"), L"caf\u00E9"},
      {"non-ASCII wide text", FormatWide(L"%s", L"\u00FC\u20AC\u4E2D"), L"\u00FC\u20AC\u4E2D"},
      {"right-aligned width", FormatWide(L"[%5s]", L"ab"), L"[   ab]"},
      {"left-aligned width", FormatWide(L"[%-5s]", L"ab"), L"[ab   ]"},
      {"precision cuts", FormatWide(L"[%.3s]", L"abcdef"), L"[abc]"},
      {"precision and width", FormatWide(L"[%5.2s]", L"abcdef"), L"[   ab]"},
      {"precision on narrow", FormatWide(L"[%.2hs]", "abcdef"), L"[ab]"},
      {"width shorter than text", FormatWide(L"[%2s]", L"abcdef"), L"[abcdef]"},
      {"null wide string", FormatWide(L"%s", nullWide), L"(null)"},
      {"null narrow string", FormatWide(L"%hs", nullNarrow), L"(null)"},
      // Characters: %c wide, %hc and %C narrow.
      {"wide %c", FormatWide(L"%c%c", L'O', L'k'), L"Ok"},
      {"wide %c beyond Latin-1", FormatWide(L"%c", L'\u20AC'), L"\u20AC"},
      {"narrow %hc", FormatWide(L"%hc", 'q'), L"q"},
      {"narrow %C high byte", FormatWide(L"%C", static_cast<char>(0xE9)), L"\u00E9"},
      {"%c with width", FormatWide(L"[%-3c]", L'x'), L"[x  ]"},
      // Signed and unsigned integers.
      {"%d negative", FormatWide(L"%d", -42), L"-42"},
      {"%i", FormatWide(L"%i", 17), L"17"},
      {"%d zero argument", FormatWide(L"%d", 0), L"0"},
      {"%d extremes", FormatWide(L"%d %d", INT32_MIN, INT32_MAX), L"-2147483648 2147483647"},
      {"%u of the largest 32-bit value", FormatWide(L"%u", UINT32_MAX), L"4294967295"},
      {"%lu is 32-bit as on Windows", FormatWide(L"%lu", uint32_t{4000000000u}), L"4000000000"},
      {"%ld is 32-bit as on Windows", FormatWide(L"%ld", int32_t{-5}), L"-5"},
      {"%x", FormatWide(L"%x", 0xBEEFu), L"beef"},
      {"%X", FormatWide(L"%X", 0xBEEFu), L"BEEF"},
      {"%08X", FormatWide(L"%08X", 0x1A2Bu), L"00001A2B"},
      {"%#x", FormatWide(L"%#x", 31u), L"0x1f"},
      {"%o", FormatWide(L"%o", 8u), L"10"},
      {"%-5d", FormatWide(L"[%-5d]", 42), L"[42   ]"},
      {"%5d", FormatWide(L"[%5d]", 42), L"[   42]"},
      {"%+d", FormatWide(L"%+d", 5), L"+5"},
      {"% d", FormatWide(L"[% d]", 5), L"[ 5]"},
      {"%05d negative", FormatWide(L"%05d", -42), L"-0042"},
      {"%.3d", FormatWide(L"%.3d", 7), L"007"},
      {"%.0d of zero", FormatWide(L"[%.0d]", 0), L"[]"},
      {"%hd narrows to short", FormatWide(L"%hd", 65537), L"1"},
      {"%hu narrows to unsigned short", FormatWide(L"%hu", 70000u), L"4464"},
      {"%hhu narrows to unsigned char", FormatWide(L"%hhu", 257u), L"1"},
      {"%hhd narrows to signed char", FormatWide(L"%hhd", 255), L"-1"},
      {"%I64u", FormatWide(L"%I64u", UINT64_MAX), L"18446744073709551615"},
      {"%I64d", FormatWide(L"%I64d", INT64_MIN), L"-9223372036854775808"},
      {"%I64X", FormatWide(L"%I64X", uint64_t{0x123456789ABCDEFull}), L"123456789ABCDEF"},
      {"%llu", FormatWide(L"%llu", uint64_t{10000000000ull}), L"10000000000"},
      {"%lld", FormatWide(L"%lld", int64_t{-10000000000ll}), L"-10000000000"},
      {"%I32d", FormatWide(L"%I32d", -7), L"-7"},
      {"%Iu size_t", FormatWide(L"%Iu", size_t{123456789012u}), L"123456789012"},
      {"%zu size_t", FormatWide(L"%zu", size_t{123456789012u}), L"123456789012"},
      // Widths and precisions from the arguments.
      {"%*d", FormatWide(L"[%*d]", 6, 42), L"[    42]"},
      {"%*d negative width aligns left", FormatWide(L"[%*d]", -4, 42), L"[42  ]"},
      {"%-*s", FormatWide(L"[%-*s]", 4, L"ab"), L"[ab  ]"},
      {"%.*s", FormatWide(L"[%.*s]", 2, L"abcdef"), L"[ab]"},
      {"%.*s negative precision is none", FormatWide(L"[%.*s]", -1, L"abc"), L"[abc]"},
      // Floating point.
      {"%f", FormatWide(L"%f", 1.5), L"1.500000"},
      {"%.2f", FormatWide(L"%.2f", 3.14159), L"3.14"},
      {"%8.3f", FormatWide(L"[%8.3f]", -2.5), L"[  -2.500]"},
      {"%g", FormatWide(L"%g", 0.5), L"0.5"},
      // Pointer: all digits of the pointer size, upper case.
      {"%p", FormatWide(L"%p", reinterpret_cast<void*>(uintptr_t{0xAB12})),
       std::wstring(sizeof(void*) * 2 - 4, L'0') + L"AB12"},
      // Percent signs and what is not a conversion.
      {"%%", FormatWide(L"100%%"), L"100%"},
      {"%% between conversions", FormatWide(L"%d%%%d", 1, 2), L"1%2"},
      {"unknown conversion takes no argument", FormatWide(L"%y %d", 5), L"%y 5"},
      {"%n is not supported", FormatWide(L"a%nb %d", 3), L"a%nb 3"},
      {"lone % at the end", FormatWide(L"50%"), L"50%"},
      {"cut-off conversion at the end", FormatWide(L"x%-5"), L"x%-5"},
      // Arguments are taken in order, whatever their kinds.
      {"mixed arguments", FormatWide(L"%s=%d (%hs) %I64u %c", L"key", -1, "n", uint64_t{1} << 40, L'!'),
       L"key=-1 (n) 1099511627776 !"},
      {"no conversions", FormatWide(L"plain text\r\n"), L"plain text\r\n"},
      {"empty format", FormatWide(L""), L""},
  };
  for (const FormatCase& c : cases) {
    EXPECT_EQ(c.want, c.got) << c.what;
  }
}

TEST(FormatWide, NullFormatGivesEmptyText) {
  const wchar_t* format = nullptr;
  EXPECT_EQ(L"", FormatWide(format));
}

TEST(FormatWide, LongExpansionsAreWhole) {
  const std::wstring value(5000, L'x');
  const std::wstring text = FormatWide(L"<%s>%0*d", value.c_str(), 3000, 7);
  ASSERT_EQ(2 + 5000 + 3000u, text.size());
  EXPECT_EQ(L"<" + value + L">" + std::wstring(2999, L'0') + L"7", text);
}

// Formats the same arguments twice through FormatWideV, as the log does once per file.
std::wstring Twice(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring first = FormatWideV(format, args);
  std::wstring second = FormatWideV(format, args);
  va_end(args);
  return first + L"|" + second;
}

TEST(FormatWide, VaListFormLeavesTheArgumentsForAnotherPass) {
  EXPECT_EQ(L"a 1 b|a 1 b", Twice(L"%s %d %hs", L"a", 1, "b"));
}

}  // namespace
