#include "setup/launch.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/cmdline_split.h"

namespace {

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

struct LineCase {
  const char* label;
  std::wstring folder;
  const wchar_t* params;
  std::vector<std::wstring> args;
  std::map<std::wstring, std::wstring> map;  // source (lower case) -> dest
  std::wstring plain;
  std::wstring masked;
};

TEST(InstallerCommandLine, PlainAndMaskedLines) {
  const std::vector<LineCase> cases = {
      {"no arguments", L"C:\\Temp\\X", nullptr, {}, {}, L"\"C:\\Temp\\X\\setup.exe\"", L"\"C:\\Temp\\X\\setup.exe\""},
      {"folder with backslash", L"C:\\Temp\\X\\", nullptr, {}, {}, L"\"C:\\Temp\\X\\setup.exe\"",
       L"\"C:\\Temp\\X\\setup.exe\""},
      {"params and forwarded options", L"C:\\T", L"-q -f", {L"/s", L"/reboot"}, {},
       L"\"C:\\T\\setup.exe\" -q -f /s /reboot", L"\"C:\\T\\setup.exe\" -q -f /s /reboot"},
      {"empty params add nothing", L"C:\\T", L"", {L"/s"}, {}, L"\"C:\\T\\setup.exe\" /s", L"\"C:\\T\\setup.exe\" /s"},
      {"mapping to a blank drops", L"C:\\T", nullptr, {L"/s", L"/f"}, {{L"/s", L" "}}, L"\"C:\\T\\setup.exe\" /f",
       L"\"C:\\T\\setup.exe\" /f"},
      {"mapping renames", L"C:\\T", nullptr, {L"/S"}, {{L"/s", L"--silent"}}, L"\"C:\\T\\setup.exe\" --silent",
       L"\"C:\\T\\setup.exe\" --silent"},
      {"blank gets quotes", L"C:\\T", nullptr, {L"/config_file", L"C:\\my files\\a.cfg"}, {},
       L"\"C:\\T\\setup.exe\" /config_file \"C:\\my files\\a.cfg\"",
       L"\"C:\\T\\setup.exe\" /config_file \"C:\\my files\\a.cfg\""},
      {"trailing backslashes doubled inside added quotes", L"C:\\T", nullptr, {L"/instpath:C:\\my dir\\"}, {},
       L"\"C:\\T\\setup.exe\" \"/instpath:C:\\my dir\\\\\"", L"\"C:\\T\\setup.exe\" \"/instpath:C:\\my dir\\\\\""},
      {"no quotes, backslashes stay", L"C:\\T", nullptr, {L"C:\\dir\\"}, {}, L"\"C:\\T\\setup.exe\" C:\\dir\\",
       L"\"C:\\T\\setup.exe\" C:\\dir\\"},
      {"own quote: no added quotes", L"C:\\T", nullptr, {L"say \"hi\" now"}, {}, L"\"C:\\T\\setup.exe\" say \"hi\" now",
       L"\"C:\\T\\setup.exe\" say \"hi\" now"},
      {"user value and password joined", L"C:\\T", nullptr, {L"/user", L"admin", L"/password:secret"}, {},
       L"\"C:\\T\\setup.exe\" /user admin /password:secret", L"\"C:\\T\\setup.exe\" /user **** ****"},
      {"double dash and equals", L"C:\\T", nullptr, {L"--pw=hunter2", L"--pwx=keep", L"-pwd", L"v"}, {},
       L"\"C:\\T\\setup.exe\" --pw=hunter2 --pwx=keep -pwd v", L"\"C:\\T\\setup.exe\" **** --pwx=keep -pwd v"},
      {"every masked name", L"C:\\T", nullptr,
       {L"-u", L"a", L"/USERNAME", L"b", L"/bmcuser:c", L"//ovrauser", L"d", L"-p", L"e", L"/BmcPw=f", L"/ovrapw", L"g"},
       {},
       L"\"C:\\T\\setup.exe\" -u a /USERNAME b /bmcuser:c //ovrauser d -p e /BmcPw=f /ovrapw g",
       L"\"C:\\T\\setup.exe\" -u **** /USERNAME **** **** //ovrauser **** -p **** **** /ovrapw ****"},
      {"masked option last", L"C:\\T", nullptr, {L"/s", L"/p"}, {}, L"\"C:\\T\\setup.exe\" /s /p",
       L"\"C:\\T\\setup.exe\" /s /p ****"},
      {"separator other than colon or equals", L"C:\\T", nullptr, {L"/user-name"}, {},
       L"\"C:\\T\\setup.exe\" /user-name", L"\"C:\\T\\setup.exe\" /user-name"},
      {"mapped name is what is masked", L"C:\\T", nullptr, {L"/login", L"root"}, {{L"/login", L"/user"}},
       L"\"C:\\T\\setup.exe\" /user root", L"\"C:\\T\\setup.exe\" /user ****"},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.label);
    InstallerCommandParts parts;
    parts.folder = c.folder;
    parts.installCommand = L"setup.exe";
    parts.installParams = c.params;
    parts.stubArguments = c.args;
    parts.mapArgument = [&c](const std::wstring& arg) {
      std::wstring lower;
      for (wchar_t ch : arg) lower += (ch >= L'A' && ch <= L'Z') ? static_cast<wchar_t>(ch + 32) : ch;
      auto it = c.map.find(lower);
      return it == c.map.end() ? arg : it->second;
    };
    std::wstring plain, masked;
    ASSERT_TRUE(BuildInstallerCommandLine(parts, false, kCommandLineCapacity, &plain));
    ASSERT_TRUE(BuildInstallerCommandLine(parts, true, kCommandLineCapacity, &masked));
    EXPECT_EQ(Narrow(c.plain), Narrow(plain));
    EXPECT_EQ(Narrow(c.masked), Narrow(masked));
  }
}

TEST(InstallerCommandLine, InstallerReceivesExactlyTheStubArguments) {
  // What the installer's own splitter makes of the plain line must be what the stub received.
  const std::vector<std::wstring> args = {L"/instpath:C:\\my dir\\", L"C:\\a b\\\\", L"plain\\", L"x y"};
  InstallerCommandParts parts;
  parts.folder = L"C:\\Temp\\{GUID}";
  parts.installCommand = L"setup.exe";
  parts.stubArguments = args;
  std::wstring line;
  ASSERT_TRUE(BuildInstallerCommandLine(parts, false, kCommandLineCapacity, &line));
  const std::vector<std::wstring> split = port::SplitCommandLineLikeWindows(line, L"");
  ASSERT_EQ(args.size() + 1, split.size());
  EXPECT_EQ(L"C:\\Temp\\{GUID}\\setup.exe", split[0]);
  for (size_t i = 0; i < args.size(); ++i) EXPECT_EQ(Narrow(args[i]), Narrow(split[i + 1]));
}

TEST(InstallerCommandLine, RefusedWithoutCommandOrWhenTooLong) {
  InstallerCommandParts parts;
  parts.folder = L"C:\\T";
  std::wstring line = L"stale";
  EXPECT_FALSE(BuildInstallerCommandLine(parts, false, kCommandLineCapacity, &line));
  EXPECT_TRUE(line.empty());
  parts.installCommand = L"";
  EXPECT_FALSE(BuildInstallerCommandLine(parts, false, kCommandLineCapacity, &line));
  parts.installCommand = L"setup.exe";
  parts.folder = L"";
  EXPECT_FALSE(BuildInstallerCommandLine(parts, false, kCommandLineCapacity, &line));
  parts.folder = L"C:\\T";
  // "C:\T\setup.exe" quoted is 16 characters; one argument of n characters adds n + 1.
  parts.stubArguments = {std::wstring(2047 - 16 - 1, L'a')};
  ASSERT_TRUE(BuildInstallerCommandLine(parts, false, kCommandLineCapacity, &line));
  EXPECT_EQ(2047u, line.size());
  parts.stubArguments = {std::wstring(2047 - 16, L'a')};
  EXPECT_FALSE(BuildInstallerCommandLine(parts, false, kCommandLineCapacity, &line));
  EXPECT_TRUE(line.empty());
}

TEST(CompletionCodes, Texts) {
  EXPECT_EQ(L"Completion Code (0x0) -> The Zarnic Component failed to install\r\n\r\n", CompletionCodeText(0));
  EXPECT_EQ(L"Completion Code (0x1) -> The Zarnic Component installed Successfully\r\n\r\n", CompletionCodeText(1));
  EXPECT_EQ(L"Completion Code (0x2) -> The Zarnic Component installed Successfully, but the system must be "
            L"restart\r\n\r\n",
            CompletionCodeText(2));
  EXPECT_NE(std::wstring::npos, CompletionCodeText(3).find(L"not attempted because the required hardware was not "
                                                             L"present,\r\nthe software was current"));
  EXPECT_EQ(L"Completion Code (0xBC2) -> The Zarnic Component returned an unknown completion code.\r\n\r\n",
            CompletionCodeText(3010));
  EXPECT_EQ(L"Completion Code (0xFFFFFFFF) -> The Zarnic Component returned an unknown completion code.\r\n\r\n",
            CompletionCodeText(-1));
}

TEST(ElapsedTime, HoursWrapAtADay) {
  struct Case {
    int64_t seconds;
    int h, m, s;
  } cases[] = {{0, 0, 0, 0}, {59, 0, 0, 59}, {61, 0, 1, 1}, {3600, 1, 0, 0}, {25 * 3600 + 3 * 60, 1, 3, 0},
               {24 * 3600 - 1, 23, 59, 59}, {-5, 0, 0, 0}};
  for (const Case& c : cases) {
    const ElapsedTime t = SplitElapsed(c.seconds);
    EXPECT_EQ(c.h, t.hours) << c.seconds;
    EXPECT_EQ(c.m, t.minutes) << c.seconds;
    EXPECT_EQ(c.s, t.seconds) << c.seconds;
  }
}

}  // namespace
