#include "setup/options.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "../common/cmdline_check.h"
#include "platform/cmdline_split.h"
#include "platform/testenv/test_platform.h"

namespace {

std::string ReadTable() {
  std::ifstream in(std::string(SETUPSTUB_TEST_DATA) + "/cmdlines.tsv", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

// Every row of the shared table, over the emulated machine (which holds C:\windows\win.ini as
// a Wine prefix does).
TEST(ParseCommandLine, SharedTable) {
  const auto rows = cmdline_table::Parse(ReadTable());
  ASSERT_GT(rows.size(), 40u);
  testenv::TestPlatform platform;
  platform.AddFile(L"C:\\windows\\win.ini", "[windows]\r\n");
  for (const auto& row : rows) {
    SetupOptions options;
    options.silent = true;  // parsing starts from a reset record
    options.extractPath = L"stale";
    ParseCommandLine(platform, row.tail, &options);
    std::vector<std::wstring> args;
    platform.Procs().SplitCommandLine(row.tail, &args);
    const std::wstring problems = cmdline_table::Check(row, options, args, platform.modulePath);
    EXPECT_TRUE(problems.empty()) << "line " << row.line << ": " << Narrow(row.tail) << " ->"
                                  << Narrow(problems);
  }
}

TEST(ParseCommandLine, ConfigFileFoundAsFolderCountsAsPresent) {
  testenv::TestPlatform platform;
  platform.AddFolder(L"C:\\configs\\settings");
  SetupOptions options;
  ParseCommandLine(platform, L"/silent /config_file C:\\configs\\settings", &options);
  EXPECT_TRUE(options.configFilePresent);
}

TEST(SplitCommandLine, EmptyLineGivesTheProgramPath) {
  EXPECT_EQ(std::vector<std::wstring>{L"C:\\p.exe"}, port::SplitCommandLineLikeWindows(L"", L"C:\\p.exe"));
  // A leading blank makes the first token empty.
  EXPECT_EQ((std::vector<std::wstring>{L"", L"/s"}), port::SplitCommandLineLikeWindows(L" /s", L"x"));
  // The first token keeps its backslashes before quotes; a quoted first token ends at the quote.
  EXPECT_EQ((std::vector<std::wstring>{L"a b", L"c"}), port::SplitCommandLineLikeWindows(L"\"a b\"c", L"x"));
}

TEST(ParseDecimal, WideTextConversion) {
  struct Case {
    const wchar_t* text;
    int32_t value;
  } cases[] = {{L"30", 30}, {L"  42", 42}, {L"\t-5x", -5}, {L"+7", 7},  {L"abc", 0},  {L"", 0},
               {L"- 3", 0}, {L"12 34", 12}, {L"2147483647", 2147483647}, {L"-2147483648", INT32_MIN},
               {L"99999999999999999999", INT32_MAX}, {L"-99999999999", INT32_MIN}};
  for (const Case& c : cases) EXPECT_EQ(c.value, ParseDecimal(c.text)) << Narrow(c.text);
}

}  // namespace
