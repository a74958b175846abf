#include "setup/options.h"

#include <climits>
#include <vector>

#include "platform/port.h"

namespace {

wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }

bool IsAnyOf(const std::wstring& arg, std::initializer_list<const wchar_t*> forms) {
  for (const wchar_t* form : forms) {
    if (EqualsNoCase(arg, form)) return true;
  }
  return false;
}

// Copies an option value into its field. A path that does not fit its field is refused (the field
// is left empty) rather than cut, because a cut path names a different folder or file and the run
// would act on it; the run then fails visibly on the empty value. The reboot message is plain text
// shown to users and is cut at its capacity.
void StorePath(const std::wstring& value, std::wstring* field) {
  *field = value.size() < kPathCapacity ? value : std::wstring();
}

}  // namespace

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

int32_t ParseDecimal(const std::wstring& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == L' ' || text[i] == L'\t' || text[i] == L'\n' ||
                             text[i] == L'\r' || text[i] == L'\v' || text[i] == L'\f')) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  long long value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    value = value * 10 + (text[i] - L'0');
    if (value > static_cast<long long>(INT_MAX) + 1) break;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int32_t>(value);
}

void ParseCommandLine(port::Platform& platform, const std::wstring& tail, SetupOptions* options) {
  *options = SetupOptions();

  std::vector<std::wstring> args;
  if (!platform.Procs().SplitCommandLine(tail, &args)) args.clear();

  for (size_t i = 0; i < args.size(); ++i) {
    const std::wstring& arg = args[i];
    // The options that take the next argument read it without consuming it; one that stands
    // last has no value and changes nothing.
    const bool hasNext = i + 1 < args.size();
    const std::wstring next = hasNext ? args[i + 1] : std::wstring();

    if (IsAnyOf(arg, {L"/s", L"/silent"})) options->silent = true;
    if (IsAnyOf(arg, {L"/?", L"-?", L"/h", L"-h", L"/help", L"-help", L"--help"})) {
      options->showHelp = true;
    }
    if (StartsWithNoCase(arg, L"/extract:")) {
      options->extractOnly = true;
      StorePath(arg.substr(9), &options->extractPath);
    }
    if (StartsWithNoCase(arg, L"/instpath:")) {
      options->useInstallPath = true;
      StorePath(arg.substr(10), &options->installPath);
    }
    if (EqualsNoCase(arg, L"/noprompt")) options->noPrompt = true;
    if (EqualsNoCase(arg, L"/dosretcode")) options->dosReturnCode = true;
    if (IsAnyOf(arg, {L"/dryrun", L"-dryrun", L"--dryrun"})) options->dryRun = true;
    if (IsAnyOf(arg, {L"/tpmbypass", L"/ignore_tpm"})) options->tpmBypass = true;
    if (EqualsNoCase(arg, L"/verbose_log")) options->verboseLog = true;
    if (IsAnyOf(arg, {L"/reboot", L"-reboot", L"--reboot", L"/r", L"-r"})) options->reboot = true;
    if (hasNext && EqualsNoCase(arg, L"/reboot_message")) {
      options->rebootMessage = next.substr(0, kRebootMessageCapacity - 1);
    }
    if (hasNext && EqualsNoCase(arg, L"/t")) options->rebootTimeout = ParseDecimal(next);
    if (hasNext && IsAnyOf(arg, {L"/config_file", L"-config_file"})) {
      StorePath(next, &options->configFilePath);
      if (!options->configFilePath.empty() &&
          platform.Files().FindFirstMatch(options->configFilePath)) {
        options->configFilePresent = true;
      }
    }
  }
}
