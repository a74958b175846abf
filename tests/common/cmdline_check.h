// Compares the options parsed from one table row with the row's expectations.
#pragma once

#include <string>
#include <vector>

#include "cmdline_table.h"
#include "setup/options.h"

namespace cmdline_table {

// Empty when everything matches; otherwise a description of every difference.
inline std::wstring Check(const Row& row, const SetupOptions& got, const std::vector<std::wstring>& args,
                          const std::wstring& self) {
  std::wstring problems;
  if (row.checkArgs) {
    std::vector<std::wstring> want;
    for (const std::wstring& arg : row.args) want.push_back(arg == L"<self>" ? self : arg);
    if (want != args) {
      problems += L" args=[";
      for (const std::wstring& arg : args) problems += L"{" + arg + L"}";
      problems += L"]";
    }
  }
  SetupOptions want;
  for (const std::wstring& item : row.expectations) {
    const size_t eq = item.find(L'=');
    const std::wstring key = item.substr(0, eq);
    const std::wstring value = eq == std::wstring::npos ? std::wstring() : item.substr(eq + 1);
    if (key == L"silent") want.silent = true;
    else if (key == L"showHelp") want.showHelp = true;
    else if (key == L"dosReturnCode") want.dosReturnCode = true;
    else if (key == L"noPrompt") want.noPrompt = true;
    else if (key == L"extractOnly") want.extractOnly = true;
    else if (key == L"useInstallPath") want.useInstallPath = true;
    else if (key == L"dryRun") want.dryRun = true;
    else if (key == L"tpmBypass") want.tpmBypass = true;
    else if (key == L"verboseLog") want.verboseLog = true;
    else if (key == L"reboot") want.reboot = true;
    else if (key == L"configFilePresent") want.configFilePresent = true;
    else if (key == L"extractPath") want.extractPath = value;
    else if (key == L"installPath") want.installPath = value;
    else if (key == L"configFilePath") want.configFilePath = value;
    else if (key == L"rebootMessage") want.rebootMessage = value;
    else if (key == L"rebootTimeout") want.rebootTimeout = std::stoi(value);
    else if (!key.empty()) problems += L" unknown-expectation:" + key;
  }
  auto flag = [&](const wchar_t* name, bool w, bool g) {
    if (w != g) problems += std::wstring(L" ") + name + (g ? L"=true" : L"=false");
  };
  auto text = [&](const wchar_t* name, const std::wstring& w, const std::wstring& g) {
    if (w != g) problems += std::wstring(L" ") + name + L"={" + g + L"}";
  };
  flag(L"silent", want.silent, got.silent);
  flag(L"showHelp", want.showHelp, got.showHelp);
  flag(L"dosReturnCode", want.dosReturnCode, got.dosReturnCode);
  flag(L"noPrompt", want.noPrompt, got.noPrompt);
  flag(L"extractOnly", want.extractOnly, got.extractOnly);
  flag(L"useInstallPath", want.useInstallPath, got.useInstallPath);
  flag(L"dryRun", want.dryRun, got.dryRun);
  flag(L"tpmBypass", want.tpmBypass, got.tpmBypass);
  flag(L"verboseLog", want.verboseLog, got.verboseLog);
  flag(L"reboot", want.reboot, got.reboot);
  flag(L"configFilePresent", want.configFilePresent, got.configFilePresent);
  text(L"extractPath", want.extractPath, got.extractPath);
  text(L"installPath", want.installPath, got.installPath);
  text(L"configFilePath", want.configFilePath, got.configFilePath);
  text(L"rebootMessage", want.rebootMessage, got.rebootMessage);
  if (want.rebootTimeout != got.rebootTimeout) {
    problems += L" rebootTimeout=" + std::to_wstring(got.rebootTimeout);
  }
  return problems;
}

}  // namespace cmdline_table
