#pragma once

#include <string>
#include <string_view>

#include "actions/powershell_script.h"
#include "result_code.h"

// "ULVEX " + the file name after the last \ or /, less its last four
// characters when it is longer than four.
std::wstring ApplicationRuleDisplayName(std::wstring_view programPath);

// The -Command script that drops the program's blocking rules and our earlier
// rule of the same display name, then allows the program inbound.
std::wstring BuildApplicationRuleScript(std::wstring_view programPath);

// The -Command script that removes the rules BuildApplicationRuleScript makes
// for this path: our display name, and this program (ignoring letter case).
std::wstring BuildApplicationRuleRemovalScript(std::wstring_view programPath);

// 2 without starting anything when the path is empty or has no attributes;
// otherwise the code of the PowerShell run.
ResultCode AllowApplicationThroughFirewall(const std::wstring& programPath);

// 87 without starting anything when the path is empty or holds a double
// quote (no Windows path does, and it would end the -Command argument);
// otherwise the code of the PowerShell run. The file need not exist.
ResultCode RemoveApplicationFromFirewall(const std::wstring& programPath);
