#include "actions/app_firewall_rule.h"

#include <windows.h>

namespace {

// Keeps what the expression finds equal to $p as Windows compares paths:
// ordinal, ignoring case. -eq compares strings by culture and takes texts
// that differ only by a soft hyphen, say, for equal. This form runs in
// ConstrainedLanguage too.
std::wstring WherePathIsP(const wchar_t* expression) {
  return L" | Where-Object { [string]::Equals(" + std::wstring(expression) +
         L", $p, 'OrdinalIgnoreCase') }";
}

}  // namespace

std::wstring ApplicationRuleDisplayName(std::wstring_view programPath) {
  const std::size_t separator = programPath.find_last_of(L"\\/");
  std::wstring_view fileName =
      separator == std::wstring_view::npos ? programPath : programPath.substr(separator + 1);
  if (fileName.size() > 4) fileName.remove_suffix(4);
  return L"ULVEX " + std::wstring(fileName);
}

std::wstring BuildApplicationRuleScript(std::wstring_view programPath) {
  const std::wstring displayName = ApplicationRuleDisplayName(programPath);
  // Whether -Program reads a pattern is documented both ways, so a path with
  // a pattern character is compared as text (ignoring case, as Windows
  // compares paths) against every filter; escaping would match nothing if
  // -Program takes the value as it stands.
  const bool plainPath = EscapeWildcardPattern(programPath) == programPath;
  const std::wstring programFilters =
      plainPath ? L"Get-NetFirewallApplicationFilter -Program $p"
                : L"Get-NetFirewallApplicationFilter -All";
  const std::wstring blockingRules =
      (plainPath ? L"" : WherePathIsP(L"$_.Program")) +
      L" | Get-NetFirewallRule | Where-Object { $_.Action -eq 'Block' } | Remove-NetFirewallRule";
  // A look-up that fails must not end in an allow rule that a blocking rule
  // left behind still beats.
  return kPowerShellPrologue + (L"$p=" + QuotePowerShellLiteral(programPath)) + L"; " +
         LookUpScript(programFilters, blockingRules) + L"; " +
         RemoveRulesNamedScript(displayName, L"") + L"; " +
         L"New-NetFirewallRule -DisplayName " + QuotePowerShellLiteral(displayName) +
         L" -Program $p -Direction Inbound -Action Allow -Profile Any -Enabled True | Out-Null";
}

std::wstring BuildApplicationRuleRemovalScript(std::wstring_view programPath) {
  return kPowerShellPrologue + (L"$p=" + QuotePowerShellLiteral(programPath)) + L"; " +
         RemoveRulesNamedScript(
             ApplicationRuleDisplayName(programPath),
             WherePathIsP(L"($_ | Get-NetFirewallApplicationFilter).Program"));
}

ResultCode AllowApplicationThroughFirewall(const std::wstring& programPath) {
  if (programPath.empty()) return ERROR_FILE_NOT_FOUND;
  // No Windows path holds one, yet "x\"\..\y" passes the existence check
  // (.. is folded as text first). The runner would refuse the script too; this
  // makes such a path 87 whether or not the rest of it exists.
  if (programPath.find(L'"') != std::wstring::npos) return ERROR_INVALID_PARAMETER;
  if (GetFileAttributesW(programPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
    return ERROR_FILE_NOT_FOUND;
  }
  return RunPowerShellScript(BuildApplicationRuleScript(programPath));
}

ResultCode RemoveApplicationFromFirewall(const std::wstring& programPath) {
  if (programPath.empty()) return ERROR_INVALID_PARAMETER;
  return RunPowerShellScript(BuildApplicationRuleRemovalScript(programPath));
}
