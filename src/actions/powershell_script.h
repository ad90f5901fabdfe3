#pragma once

#include <string>
#include <string_view>

#include "result_code.h"

inline constexpr unsigned long kPowerShellTimeoutMs = 120000;

// Every script starts with this: errors end the script (and so fail the
// task), and the firewall cmdlets come from the system's own module, loaded
// by full path. A cmdlet of a module not yet loaded would first be looked
// for on PATH, which the unelevated person controls.
inline constexpr wchar_t kPowerShellPrologue[] =
    L"$ErrorActionPreference='Stop'; "
    L"Import-Module -Name ($PSHOME + '\\Modules\\NetSecurity\\NetSecurity.psd1'); ";

// Wraps text as a PowerShell single-quoted string. PowerShell ends such a
// string at any of its five single-quote characters (', ‘, ’, ‚, ‛), so each
// of them is doubled; nothing else is special inside the literal.
std::wstring QuotePowerShellLiteral(std::wstring_view text);

// Puts a backtick before each of ` [ ] * ?, so that a parameter that takes a
// wildcard pattern matches the text exactly. File names may hold the first
// three; text without any of the five comes back unchanged.
std::wstring EscapeWildcardPattern(std::wstring_view text);

// Runs a look-up into the rest of its pipeline. A look-up that finds nothing
// is success; any other error of it ends the script once the pipeline is
// done, so nothing after it runs.
std::wstring LookUpScript(std::wstring_view lookUp, std::wstring_view pipeline);

// Removes every rule with exactly this display name that passes filter (a
// pipeline stage such as " | Where-Object { ... }", or empty). No such rule
// is success; any other error of the look-up or the removal ends the script.
std::wstring RemoveRulesNamedScript(std::wstring_view displayName, std::wstring_view filter);

// Runs the script with the system's Windows PowerShell, hidden, and returns
// the code of that run; 87 without starting anything for a script that holds
// a double quote or ends in a backslash, which -Command "..." cannot carry.
ResultCode RunPowerShellScript(const std::wstring& script);
