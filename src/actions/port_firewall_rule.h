#pragma once

#include <string>

#include "result_code.h"

inline constexpr unsigned long kNetshTimeoutMs = 60000;

// Replaces the eye-tracking port rules: deletes the old UDP 9000 and current
// UDP 47900 rules, then adds the UDP 47900 inbound allow rule. The result is
// the add run's code; the deletes fail harmlessly when there is nothing to
// delete.
ResultCode AddPortFirewallRule(const std::wstring& unused);

// Removes both eye-tracking port rules through PowerShell: netsh exits 1 both
// when nothing matches and when it fails, PowerShell tells the two apart.
// 0 also when there were none.
ResultCode RemovePortFirewallRules(const std::wstring& unused);
