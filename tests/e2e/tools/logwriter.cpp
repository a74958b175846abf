// Opens the real component log with the real platform and appends numbered lines to it, the
// way a stub and the installer it starts share the log. Several of these run at once show
// whether concurrent writers lose lines.
//
//   logwriter.exe <tag> <count> [verbose file name]
//
// Each line is "<tag> line <i>\r\n", i from 1 to count, written with CMPLOG2_BOTH. With a third
// argument the verbose log is switched on under that name in the log folder (as /verbose_log
// does); an inherited CMPLOG2_VERBOSE_FILENAME switches it on as well.
// Exit code: 0 done, 1 bad arguments, 2 the log could not be opened.
#include <windows.h>

#include <cwchar>
#include <string>

#include "log/cmplog2.h"
#include "platform/win32/win32_platform.h"

namespace {

void PrintUsage() {
  static const char kUsage[] = "usage: logwriter <tag> <count> [verbose file name]\n";
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), kUsage, sizeof(kUsage) - 1, &written, nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3 || argc > 4) {
    PrintUsage();
    return 1;
  }
  wchar_t* end = nullptr;
  const long count = std::wcstol(argv[2], &end, 10);
  if (!end || *end != L'\0' || count < 0) {
    PrintUsage();
    return 1;
  }

  win32::Win32Platform platform(::GetModuleHandleW(nullptr));
  CCmpLog2 log(platform);
  if (argc == 4) log.SetVerboseFileName(argv[3]);
  if (log.Open() != 0) {
    log.Close();
    return 2;
  }
  for (long i = 1; i <= count; ++i) {
    log.Write(CMPLOG2_BOTH, CMPLOG2_INFO, CMPLOG2_SOURCE, __LINE__, L"%s line %d\r\n", argv[1], static_cast<int>(i));
  }
  log.Close();
  return 0;
}
