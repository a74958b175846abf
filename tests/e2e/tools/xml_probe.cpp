// Runs every row of the shared XML document table through the document reader of the Windows
// build, whose parser delivers wide characters itself. Prints each mismatch; exit code 0 when
// every row matches, 1 when one does not, 2 when the table cannot be read.
#include <windows.h>

#include <string>
#include <vector>

#include "../../common/xml_table.h"
#include "package/xml_document.h"
#include "platform/win32/win32_platform.h"

namespace {

void Print(const std::string& text) {
  const std::string line = text + "\n";
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    Print("usage: xml_probe <table file>");
    return 2;
  }
  win32::UniqueHandle file(::CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) {
    Print("cannot open the table");
    return 2;
  }
  std::string text;
  char buffer[65536];
  DWORD got = 0;
  while (::ReadFile(file.Get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) text.append(buffer, got);

  std::string error;
  const std::vector<xml_table::Row> rows = xml_table::Parse(text, &error);
  if (!error.empty()) {
    Print("cannot read the table: " + error);
    return 2;
  }
  CVorqXMLReader reader;
  int failures = 0;
  for (const xml_table::Row& row : rows) {
    const std::string problems = xml_table::Check(row, reader);
    if (!problems.empty()) {
      ++failures;
      Print("line " + std::to_string(row.line) + ":" + problems);
    }
  }
  Print(std::to_string(rows.size()) + " rows, " + std::to_string(failures) + " mismatches");
  return failures == 0 && !rows.empty() ? 0 : 1;
}
