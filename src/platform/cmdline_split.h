// Command-line splitting with the rules of the Windows shell's CommandLineToArgvW.
#pragma once

#include <string>
#include <vector>

namespace port {

// Splits `commandLine` exactly as CommandLineToArgvW does. The first token follows the rules
// for a program path (a leading quote runs to the next quote, otherwise the token ends at the
// first blank or tab, no backslash escapes); the rest follow the argument rules: blanks and tabs
// separate, quotes group, 2n backslashes before a quote give n backslashes and a grouping quote,
// 2n+1 give n backslashes and a literal quote, and a run of quotes inside a group yields a
// literal quote for every third. An empty command line yields one argument, `emptyResult`
// (the platform gives the program's own path there).
std::vector<std::wstring> SplitCommandLineLikeWindows(const std::wstring& commandLine,
                                                      const std::wstring& emptyResult);

}  // namespace port
