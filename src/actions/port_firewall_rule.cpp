#include "actions/port_firewall_rule.h"

#include "actions/process_runner.h"

ResultCode AddPortFirewallRule(const std::wstring&) {
  const std::wstring netsh = L"\"" + GetSystemDirectoryPath() + L"\\netsh.exe\" advfirewall firewall ";
  RunHidden(netsh + L"delete rule name=\"Ulvex Eyetracking (UDP 9000)\"", kNetshTimeoutMs);
  RunHidden(netsh + L"delete rule name=\"Ulvex Eyetracking (UDP 47900)\"", kNetshTimeoutMs);
  return RunHidden(netsh + L"add rule name=\"Ulvex Eyetracking (UDP 47900)\" dir=in action=allow "
                           L"protocol=UDP localport=47900 profile=any",
                   kNetshTimeoutMs);
}
