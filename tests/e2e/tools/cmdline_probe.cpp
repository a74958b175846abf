// Runs every row of the shared command-line table through the real Windows argument splitter
// and the stub's option parser. Prints each mismatch; exit code 0 when every row matches,
// 1 when one does not, 2 when the table cannot be read.
#include <windows.h>

#include <string>
#include <vector>

#include "../../common/cmdline_check.h"
#include "platform/win32/win32_platform.h"
#include "setup/options.h"

namespace {

void Print(const std::wstring& text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], size, nullptr,
                          nullptr);
  }
  utf8 += "\n";
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    Print(L"usage: cmdline_probe <table file>");
    return 2;
  }
  win32::UniqueHandle file(::CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) {
    Print(L"cannot open the table");
    return 2;
  }
  std::string text;
  char buffer[65536];
  DWORD got = 0;
  while (::ReadFile(file.Get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) text.append(buffer, got);

  win32::Win32Platform platform(::GetModuleHandleW(nullptr));
  const std::wstring self = platform.Procs().ModuleFileName(32767);
  const auto rows = cmdline_table::Parse(text);
  int failures = 0;
  for (const auto& row : rows) {
    SetupOptions options;
    ParseCommandLine(platform, row.tail, &options);
    std::vector<std::wstring> args;
    platform.Procs().SplitCommandLine(row.tail, &args);
    const std::wstring problems = cmdline_table::Check(row, options, args, self);
    if (!problems.empty()) {
      ++failures;
      Print(L"line " + std::to_wstring(row.line) + L": " + row.tail + L" ->" + problems);
    }
  }
  Print(std::to_wstring(rows.size()) + L" rows, " + std::to_wstring(failures) + L" mismatches");
  return failures == 0 && !rows.empty() ? 0 : 1;
}
