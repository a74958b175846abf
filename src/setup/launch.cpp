#include "setup/launch.h"

#include "log/wformat.h"
#include "platform/cmdline_split.h"
#include "setup/misc.h"
#include "setup/options.h"
#include "setup/register.h"
#include "setup/stub.h"

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

namespace {

constexpr uint32_t kStringCaption = 1;
constexpr uint32_t kStringRebootRequired = 701;
constexpr uint32_t kStringRebootCaption = 706;
constexpr uint32_t kStringRebootQuestion = 707;
constexpr uint32_t kStringCannotStart = 1004;
constexpr uint32_t kWaitSliceMs = 100;

#define LOG(destination, severity, ...) \
  globals.log.Write(destination, severity, CMPLOG2_SOURCE, __LINE__, __VA_ARGS__)

}  // namespace

int32_t LaunchInstaller(StubGlobals& globals, port::WindowHandle owner, bool silent, const std::wstring& folder) {
  port::Platform& platform = globals.platform;
  port::UserInterface& ui = platform.Ui();
  SetupOptions& options = globals.options;

  LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Building installation command line...\r\n\r\n");
  InstallerCommandParts parts;
  parts.folder = folder;
  parts.installCommand = globals.package.GetInstallCommand();
  parts.installParams = globals.package.GetInstallCommandParams();
  // The stub's own arguments, split from its full command line as the platform splits it.
  std::vector<std::wstring> args;
  platform.Procs().SplitCommandLine(platform.Procs().CommandLine(), &args);
  if (!args.empty()) parts.stubArguments.assign(args.begin() + 1, args.end());
  parts.mapArgument = [&globals](const std::wstring& arg) { return globals.package.MapCommandLineArg(arg); };
  std::wstring plain, masked;
  if (!BuildInstallerCommandLine(parts, false, kCommandLineCapacity, &plain) ||
      !BuildInstallerCommandLine(parts, true, kCommandLineCapacity, &masked)) {
    LOG(CMPLOG2_BOTH, CMPLOG2_ERROR, L"Installation command line failed to build.\r\n\r\n");
    LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Installation Halted...ERROR CODE (0)\r\n\r\n");
    return kCompletionFailed;
  }
  LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Building installation command line complete. Success.\r\n\r\n");
  LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Setup program = [%s]\r\n\r\n", parts.installCommand);
  LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Installation command line = [%s]\r\n\r\n", masked.c_str());

  int32_t raw = kCompletionFailed;
  if (silent && options.dryRun) {
    LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Dry Run of Installer Component\r\n");
    LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Dry Run of Installer Component...Returning Completion Code (1)...Success\r\n");
    raw = kCompletionInstalled;
  } else {
    const int64_t started = platform.System().NowSeconds();
    port::ProcessStart start;
    start.commandLine = plain;
    start.currentDirectory = folder;
    start.hiddenWithOutputPipe = silent;
    std::unique_ptr<port::ChildProcess> child = platform.Procs().StartProcess(start);
    if (!child) {
      LogLastError(globals, L"CreateProcess");
      globals.log.Write(CMPLOG2_BOTH, CMPLOG2_CRITICAL, nullptr, 0, L"Install Command was - %s\r\n\r\n",
                        parts.installCommand);
      globals.log.Write(CMPLOG2_BOTH, CMPLOG2_CRITICAL, nullptr, 0, L"Installation Issue...FAILURE CODE (0)\r\n");
      raw = kCompletionFailed;
      if (!silent) {
        // The message names the program and the system's reason.
        const uint32_t error = platform.System().GetLastError();
        std::wstring reason = platform.System().FormatSystemMessage(error);
        while (!reason.empty() && (reason.back() == L'\n' || reason.back() == L'\r' || reason.back() == L' ' ||
                                   reason.back() == L'.')) {
          reason.pop_back();
        }
        const std::wstring text = ui.LoadString(kStringCannotStart, 1024);
        const std::wstring detail = std::wstring(parts.installCommand) + (reason.empty() ? L"" : L": " + reason);
        ui.SetWindowState(owner, port::UserInterface::WindowState::kShowRestored);
        ui.MessageBox(owner, FormatWide(text.c_str(), detail.c_str()), ui.LoadString(kStringCaption, 260),
                      port::kMbIconError);
      }
    } else {
      // Keep the stub's windows alive, and the installer's output flowing, while it runs.
      port::WaitResult wait;
      while ((wait = child->Wait(kWaitSliceMs)) == port::WaitResult::kTimeout) {
        child->DrainOutput();
        ui.PumpMessages();
      }
      child->DrainOutput();
      uint32_t code = 0;
      if (wait == port::WaitResult::kEnded && child->GetExitCode(&code)) raw = static_cast<int32_t>(code);
      child.reset();
      const ElapsedTime elapsed = SplitElapsed(platform.System().NowSeconds() - started);
      LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Setup utility completed in %02dhh:%02dmm:%02ds\r\n\r\n", elapsed.hours,
          elapsed.minutes, elapsed.seconds);
      LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Process returned completion code of (0x%X).\r\n\r\n", static_cast<uint32_t>(raw));
      LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"%s", CompletionCodeText(raw).c_str());
      if (raw == kCompletionRestartNeeded && !silent) {
        const std::wstring question = FormatWide(L"%s\r\n\r\n%s", ui.LoadString(kStringRebootRequired, 1024).c_str(),
                                                 ui.LoadString(kStringRebootQuestion, 1024).c_str());
        ui.SetWindowState(owner, port::UserInterface::WindowState::kShowRestored);
        const int answer = ui.MessageBox(owner, question, ui.LoadString(kStringRebootCaption, 1024),
                                         port::kMbYesNo | port::kMbIconQuestion);
        ui.SetWindowState(owner, port::UserInterface::WindowState::kHide);
        options.reboot = answer == port::kIdYes;
      }
    }
  }

  LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Translating return code... ");
  const int32_t translated = globals.package.MapReturnCode(raw);
  if (translated == raw) {
    LOG(CMPLOG2_BOTH_CONT, CMPLOG2_INFO, L"No change (0x%X).\r\n\r\n", static_cast<uint32_t>(translated));
  } else {
    LOG(CMPLOG2_BOTH_CONT, CMPLOG2_INFO, L"Changed from 0x%X to 0x%X.\r\n\r\n", static_cast<uint32_t>(raw),
        static_cast<uint32_t>(translated));
  }
  LOG(CMPLOG2_BOTH, CMPLOG2_INFO, L"Updating component data... ");
  RegisterComponent(globals, globals.definitionFileName, translated);
  LOG(CMPLOG2_BOTH_CONT, CMPLOG2_INFO, L"Done.\r\n\r\n");
  ui.RemoveTrayIcon(owner ? owner : ui.DesktopWindow());
  if (!silent) ui.DestroyWindow(owner);
  return translated;
}
