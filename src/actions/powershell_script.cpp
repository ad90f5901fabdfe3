#include "actions/powershell_script.h"

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

std::wstring EscapeWildcardPattern(std::wstring_view text) {
  std::wstring escaped;
  for (const wchar_t c : text) {
    if (std::wstring_view(L"`[]*?").find(c) != std::wstring_view::npos) escaped += L'`';
    escaped += c;
  }
  return escaped;
}

std::wstring LookUpScript(std::wstring_view lookUp, std::wstring_view pipeline) {
  // A value without a pattern that matches nothing is reported as an
  // ObjectNotFound error; that one alone means "nothing there".
  return std::wstring(lookUp) + L" -ErrorAction SilentlyContinue -ErrorVariable e" +
         std::wstring(pipeline) +
         L"; $e | Where-Object { $_.CategoryInfo.Category -ne 'ObjectNotFound' } | "
         L"ForEach-Object { throw $_ }";
}

std::wstring RemoveRulesNamedScript(std::wstring_view displayName, std::wstring_view filter) {
  return LookUpScript(
      L"Get-NetFirewallRule -DisplayName " + QuotePowerShellLiteral(EscapeWildcardPattern(displayName)),
      std::wstring(filter) + L" | Remove-NetFirewallRule");
}

ResultCode RunPowerShellScript(const std::wstring& script) {
  // The script is one double-quoted argument: a quote in it, or a backslash
  // before the closing one, would end it early and the rest would be read as
  // other arguments.
  if (script.find(L'"') != std::wstring::npos || script.ends_with(L'\\')) {
    return ERROR_INVALID_PARAMETER;
  }
  const std::wstring commandLine =
      L"\"" + GetSystemDirectoryPath() +
      L"\\WindowsPowerShell\\v1.0\\powershell.exe\" -NoProfile -NonInteractive "
      L"-ExecutionPolicy Bypass -Command \"" +
      script + L"\"";
  return RunHidden(commandLine, kPowerShellTimeoutMs);
}
