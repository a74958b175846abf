#include "setup/launch.h"

#include "log/wformat.h"
#include "setup/options.h"

namespace {

// Option names whose values never reach the log, compared in this order.
const wchar_t* const kMaskedOptionNames[] = {L"u",  L"user",     L"username", L"bmcuser", L"ovrauser",
                                             L"p",  L"pw",       L"password", L"bmcpw",   L"ovrapw"};

// Quotes an argument that holds a blank (and no quote of its own). Backslashes before the closing
// quote are doubled, so that the installer's argument splitter gives back exactly the argument
// the stub received ("C:\my dir\" stays a folder with its trailing backslash).
std::wstring QuoteIfNeeded(const std::wstring& text) {
  if (text.find(L' ') == std::wstring::npos || text.find(L'"') != std::wstring::npos) return text;
  size_t trailing = 0;
  while (trailing < text.size() && text[text.size() - 1 - trailing] == L'\\') ++trailing;
  return L"\"" + text + std::wstring(trailing, L'\\') + L"\"";
}

}  // namespace

bool BuildInstallerCommandLine(const InstallerCommandParts& parts, bool masked, size_t capacity,
                               std::wstring* line) {
  line->clear();
  if (parts.folder.empty() || !parts.installCommand || !*parts.installCommand) return false;
  std::wstring out = L"\"" + parts.folder;
  if (out.back() != L'\\') out += L'\\';
  out += parts.installCommand;
  out += L'"';
  if (parts.installParams && *parts.installParams) {
    out += L' ';
    out += parts.installParams;
  }
  const std::vector<std::wstring>& args = parts.stubArguments;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::wstring mapped = parts.mapArgument ? parts.mapArgument(args[i]) : args[i];
    if (mapped == L" ") continue;
    std::wstring text = mapped;
    if (masked && !mapped.empty() && (mapped[0] == L'-' || mapped[0] == L'/')) {
      const size_t skip = mapped.size() > 1 && mapped[1] == mapped[0] ? 2 : 1;
      const std::wstring name = mapped.substr(skip);
      for (const wchar_t* option : kMaskedOptionNames) {
        const std::wstring optionName(option);
        if (EqualsNoCase(name, optionName)) {
          // The option's value is the next argument: it is replaced, and not repeated.
          out += L' ';
          out += mapped;
          ++i;
          text = L"****";
          break;
        }
        if (name.size() > optionName.size() && StartsWithNoCase(name, optionName) &&
            (name[optionName.size()] == L':' || name[optionName.size()] == L'=')) {
          text = L"****";
          break;
        }
      }
    }
    out += L' ';
    out += QuoteIfNeeded(text);
  }
  if (out.size() >= capacity) return false;
  *line = out;
  return true;
}

std::wstring CompletionCodeText(int32_t code) {
  const wchar_t* format;
  switch (code) {
    case 0:
      format = L"Completion Code (0x%X) -> The Zarnic Component failed to install\r\n\r\n";
      break;
    case 1:
      format = L"Completion Code (0x%X) -> The Zarnic Component installed Successfully\r\n\r\n";
      break;
    case 2:
      format = L"Completion Code (0x%X) -> The Zarnic Component installed Successfully, but the system must be "
               L"restart\r\n\r\n";
      break;
    case 3:
      format = L"Completion Code (0x%X) -> The Zarnic Component installation was not attempted because the required "
               L"hardware was not present,\r\nthe software was current, or there was nothing to install\r\n\r\n";
      break;
    default:
      format = L"Completion Code (0x%X) -> The Zarnic Component returned an unknown completion code.\r\n\r\n";
      break;
  }
  return FormatWide(format, static_cast<uint32_t>(code));
}

ElapsedTime SplitElapsed(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  const int64_t totalMinutes = seconds / 60;
  return {static_cast<int>((totalMinutes / 60) % 24), static_cast<int>(totalMinutes % 60),
          static_cast<int>(seconds % 60)};
}
