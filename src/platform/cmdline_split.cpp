#include "platform/cmdline_split.h"

namespace port {

namespace {
bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }
}  // namespace

std::vector<std::wstring> SplitCommandLineLikeWindows(const std::wstring& commandLine,
                                                      const std::wstring& emptyResult) {
  std::vector<std::wstring> args;
  if (commandLine.empty() || commandLine[0] == L'\0') {
    args.push_back(emptyResult);
    return args;
  }
  // Stop at an embedded terminator, as the C string the platform sees would.
  const std::wstring line = commandLine.substr(0, commandLine.find(L'\0'));
  size_t i = 0;
  const size_t n = line.size();

  // The first token: a program path.
  std::wstring first;
  if (line[0] == L'"') {
    for (i = 1; i < n; ++i) {
      if (line[i] == L'"') {
        ++i;
        break;
      }
      first += line[i];
    }
  } else {
    while (i < n && !IsBlank(line[i])) first += line[i++];
  }
  args.push_back(first);
  while (i < n && IsBlank(line[i])) ++i;
  if (i >= n) return args;

  std::wstring current;
  int quoteCount = 0;
  size_t backslashes = 0;
  while (i < n) {
    const wchar_t c = line[i];
    if (IsBlank(c) && quoteCount == 0) {
      args.push_back(current);
      current.clear();
      backslashes = 0;
      while (i < n && IsBlank(line[i])) ++i;
      if (i >= n) return args;
      continue;
    }
    if (c == L'\\') {
      current += c;
      ++backslashes;
      ++i;
    } else if (c == L'"') {
      if (backslashes % 2 == 0) {
        // Half the backslashes stay; the quote opens or closes a group.
        current.erase(current.size() - backslashes / 2);
        ++quoteCount;
      } else {
        // Half the backslashes stay, followed by a literal quote.
        current.erase(current.size() - backslashes / 2 - 1);
        current += L'"';
      }
      ++i;
      backslashes = 0;
      while (i < n && line[i] == L'"') {
        if (++quoteCount == 3) {
          current += L'"';
          quoteCount = 0;
        }
        ++i;
      }
      if (quoteCount == 2) quoteCount = 0;
    } else {
      current += c;
      backslashes = 0;
      ++i;
    }
  }
  args.push_back(current);
  return args;
}

}  // namespace port
