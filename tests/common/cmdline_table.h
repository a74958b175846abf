// Reader of tests/data/cmdlines.tsv, the table of command lines that both builds check: the
// native unit tests over the emulating backend and a probe run under Wine over the real API.
//
// Rows:
//   > <command tail, verbatim after "> ">
//   args: <argument>|<argument>|...    (optional; "<self>" stands for the program's own path)
//   expect: <flag>|<field>=<value>|...  (fields not named keep their start values)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "utf8.h"

namespace cmdline_table {

struct Row {
  int line = 0;
  std::wstring tail;
  bool checkArgs = false;
  std::vector<std::wstring> args;
  std::vector<std::wstring> expectations;
};

inline std::wstring FromUtf8(const std::string& text) {
  std::wstring out;
  // The table holds only characters of the basic plane.
  for (uint32_t cp : DecodeUtf8(text)) out += static_cast<wchar_t>(cp);
  return out;
}

inline std::vector<std::wstring> SplitBars(const std::wstring& text) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  while (true) {
    const size_t bar = text.find(L'|', start);
    parts.push_back(text.substr(start, bar == std::wstring::npos ? std::wstring::npos : bar - start));
    if (bar == std::wstring::npos) break;
    start = bar + 1;
  }
  return parts;
}

inline std::vector<Row> Parse(const std::string& fileText) {
  std::vector<Row> rows;
  size_t pos = 0;
  int lineNumber = 0;
  while (pos <= fileText.size()) {
    size_t end = fileText.find('\n', pos);
    if (end == std::string::npos) end = fileText.size();
    std::string line = fileText.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    pos = end + 1;
    ++lineNumber;
    const std::wstring wide = FromUtf8(line);
    if (wide.rfind(L"> ", 0) == 0 || wide == L">") {
      Row row;
      row.line = lineNumber;
      row.tail = wide.size() > 2 ? wide.substr(2) : std::wstring();
      rows.push_back(row);
    } else if (wide.rfind(L"args: ", 0) == 0 && !rows.empty()) {
      rows.back().checkArgs = true;
      rows.back().args = SplitBars(wide.substr(6));
    } else if (wide.rfind(L"args:", 0) == 0 && !rows.empty()) {
      rows.back().checkArgs = true;  // no arguments at all
    } else if (wide.rfind(L"expect: ", 0) == 0 && !rows.empty()) {
      rows.back().expectations = SplitBars(wide.substr(8));
    } else if (wide.rfind(L"expect:", 0) == 0 && !rows.empty()) {
      rows.back().expectations.clear();
    }
    if (end == fileText.size()) break;
  }
  return rows;
}

}  // namespace cmdline_table
