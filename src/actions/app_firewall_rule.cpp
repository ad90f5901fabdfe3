#include "actions/app_firewall_rule.h"

#include <windows.h>

std::wstring ApplicationRuleDisplayName(std::wstring_view programPath) {
  const std::size_t separator = programPath.find_last_of(L"\\/");
  std::wstring_view fileName =
      separator == std::wstring_view::npos ? programPath : programPath.substr(separator + 1);
  if (fileName.size() > 4) fileName.remove_suffix(4);
  return L"ULVEX " + std::wstring(fileName);
}

std::wstring BuildApplicationRuleScript(std::wstring_view programPath) {
  const std::wstring displayName = ApplicationRuleDisplayName(programPath);
  // The look-ups take patterns: they get an escaped copy where the text holds
  // a pattern character, and the plain $p otherwise.
  const std::wstring escapedPath = EscapeWildcardPattern(programPath);
  const std::wstring lookUpPath =
      escapedPath == programPath ? L"$p" : QuotePowerShellLiteral(escapedPath);
  return kPowerShellPrologue + (L"$p=" + QuotePowerShellLiteral(programPath)) + L"; " +
         L"Get-NetFirewallApplicationFilter -Program " + lookUpPath +
         L" -ErrorAction SilentlyContinue | Get-NetFirewallRule | "
         L"Where-Object { $_.Action -eq 'Block' } | Remove-NetFirewallRule; " +
         L"Get-NetFirewallRule -DisplayName " +
         QuotePowerShellLiteral(EscapeWildcardPattern(displayName)) +
         L" -ErrorAction SilentlyContinue | Remove-NetFirewallRule; " +
         L"New-NetFirewallRule -DisplayName " + QuotePowerShellLiteral(displayName) +
         L" -Program $p -Direction Inbound -Action Allow -Profile Any -Enabled True | Out-Null";
}

std::wstring BuildApplicationRuleRemovalScript(std::wstring_view programPath) {
  return kPowerShellPrologue + (L"$p=" + QuotePowerShellLiteral(programPath)) + L"; " +
         RemoveRulesNamedScript(
             ApplicationRuleDisplayName(programPath),
             L" | Where-Object { ($_ | Get-NetFirewallApplicationFilter).Program -eq $p }");
}

ResultCode AllowApplicationThroughFirewall(const std::wstring& programPath) {
  if (programPath.empty() || GetFileAttributesW(programPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
    return ERROR_FILE_NOT_FOUND;
  }
  return RunPowerShellScript(BuildApplicationRuleScript(programPath));
}

ResultCode RemoveApplicationFromFirewall(const std::wstring& programPath) {
  if (programPath.empty() || programPath.find(L'"') != std::wstring::npos) {
    return ERROR_INVALID_PARAMETER;
  }
  return RunPowerShellScript(BuildApplicationRuleRemovalScript(programPath));
}
