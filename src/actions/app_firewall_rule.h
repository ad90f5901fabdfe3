#pragma once

#include <string>
#include <string_view>

#include "result_code.h"

inline constexpr unsigned long kPowerShellTimeoutMs = 120000;

// Wraps text as a PowerShell single-quoted string. PowerShell ends such a
// string at any of its five single-quote characters (', ‘, ’, ‚, ‛), so each
// of them is doubled; nothing else is special inside the literal.
std::wstring QuotePowerShellLiteral(std::wstring_view text);

// "ULVEX " + the file name after the last \ or /, less its last four
// characters when it is longer than four.
std::wstring ApplicationRuleDisplayName(std::wstring_view programPath);

// The -Command script that drops the program's blocking rules and our earlier
// rule of the same display name, then allows the program inbound.
std::wstring BuildApplicationRuleScript(std::wstring_view programPath);

// 2 without starting anything when the path is empty or has no attributes;
// otherwise the code of the PowerShell run.
ResultCode AllowApplicationThroughFirewall(const std::wstring& programPath);
