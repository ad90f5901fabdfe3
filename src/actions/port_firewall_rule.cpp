#include "actions/port_firewall_rule.h"

#include "actions/powershell_script.h"
#include "actions/process_runner.h"

namespace {

constexpr wchar_t kOldRuleName[] = L"Ulvex Eyetracking (UDP 9000)";
constexpr wchar_t kRuleName[] = L"Ulvex Eyetracking (UDP 47900)";

}  // namespace

ResultCode AddPortFirewallRule(const std::wstring&) {
  const std::wstring netsh = L"\"" + GetSystemDirectoryPath() + L"\\netsh.exe\" advfirewall firewall ";
  RunHidden(netsh + L"delete rule name=\"" + kOldRuleName + L"\"", kNetshTimeoutMs);
  RunHidden(netsh + L"delete rule name=\"" + kRuleName + L"\"", kNetshTimeoutMs);
  return RunHidden(netsh + L"add rule name=\"" + kRuleName +
                       L"\" dir=in action=allow protocol=UDP localport=47900 profile=any",
                   kNetshTimeoutMs);
}

ResultCode RemovePortFirewallRules(const std::wstring&) {
  return RunPowerShellScript(kPowerShellPrologue + RemoveRulesNamedScript(kRuleName, L"") + L"; " +
                             RemoveRulesNamedScript(kOldRuleName, L""));
}
