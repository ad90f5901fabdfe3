#include "actions/app_firewall_rule.h"

#include <windows.h>

#include "actions/process_runner.h"

namespace {

bool IsPowerShellSingleQuote(wchar_t c) {
  return c == L'\'' || c == L'\x2018' || c == L'\x2019' || c == L'\x201A' || c == L'\x201B';
}

}  // namespace

std::wstring QuotePowerShellLiteral(std::wstring_view text) {
  std::wstring quoted = L"'";
  for (const wchar_t c : text) {
    if (IsPowerShellSingleQuote(c)) quoted += c;
    quoted += c;
  }
  quoted += L'\'';
  return quoted;
}

std::wstring ApplicationRuleDisplayName(std::wstring_view programPath) {
  const std::size_t separator = programPath.find_last_of(L"\\/");
  std::wstring_view fileName =
      separator == std::wstring_view::npos ? programPath : programPath.substr(separator + 1);
  if (fileName.size() > 4) fileName.remove_suffix(4);
  return L"ULVEX " + std::wstring(fileName);
}

std::wstring BuildApplicationRuleScript(std::wstring_view programPath) {
  const std::wstring displayName = QuotePowerShellLiteral(ApplicationRuleDisplayName(programPath));
  return L"$ErrorActionPreference='Stop'; $p=" + QuotePowerShellLiteral(programPath) + L"; " +
         L"Get-NetFirewallApplicationFilter -Program $p -ErrorAction SilentlyContinue | "
         L"Get-NetFirewallRule | Where-Object { $_.Action -eq 'Block' } | Remove-NetFirewallRule; " +
         L"Get-NetFirewallRule -DisplayName " + displayName +
         L" -ErrorAction SilentlyContinue | Remove-NetFirewallRule; " +
         L"New-NetFirewallRule -DisplayName " + displayName +
         L" -Program $p -Direction Inbound -Action Allow -Profile Any -Enabled True | Out-Null";
}

ResultCode AllowApplicationThroughFirewall(const std::wstring& programPath) {
  if (programPath.empty() || GetFileAttributesW(programPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
    return ERROR_FILE_NOT_FOUND;
  }
  const std::wstring commandLine =
      L"\"" + GetSystemDirectoryPath() +
      L"\\WindowsPowerShell\\v1.0\\powershell.exe\" -NoProfile -NonInteractive "
      L"-ExecutionPolicy Bypass -Command \"" +
      BuildApplicationRuleScript(programPath) + L"\"";
  return RunHidden(commandLine, kPowerShellTimeoutMs);
}
