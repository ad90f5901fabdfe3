#include "powershell_literal_reader.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

// PowerShell's single quotes: ' ‘ ’ ‚ ‛
bool IsSingleQuote(wchar_t c) {
  return c == L'\'' || c == L'\x2018' || c == L'\x2019' || c == L'\x201A' || c == L'\x201B';
}

}  // namespace

// Reads a single-quoted literal the way PowerShell's tokenizer does: any of
// the five quotes closes it unless another one follows, and such a pair
// stands for its second character.
std::optional<Literal> ReadSingleQuotedLiteral(const std::wstring& script, std::size_t start) {
  if (start >= script.size() || !IsSingleQuote(script[start])) return std::nullopt;
  Literal literal;
  for (std::size_t i = start + 1; i < script.size(); ++i) {
    if (!IsSingleQuote(script[i])) {
      literal.text += script[i];
    } else if (i + 1 < script.size() && IsSingleQuote(script[i + 1])) {
      literal.text += script[++i];
    } else {
      literal.end = i + 1;
      return literal;
    }
  }
  return std::nullopt;  // never closed
}

// Walks the script piece by piece: fixed text, literal, fixed text, ... and
// returns the literals, or fails the test where the script strays.
std::vector<std::wstring> SplitScript(const std::wstring& script,
                                      const std::vector<std::wstring>& fixedPieces) {
  std::vector<std::wstring> literals;
  std::size_t at = 0;
  for (std::size_t piece = 0; piece < fixedPieces.size(); ++piece) {
    const std::wstring& fixed = fixedPieces[piece];
    if (script.compare(at, fixed.size(), fixed) != 0) {
      ADD_FAILURE() << "fixed piece " << piece << " not found at " << at << ": "
                    << ToUtf8(script.substr(at, 60));
      return literals;
    }
    at += fixed.size();
    if (piece + 1 == fixedPieces.size()) break;
    const std::optional<Literal> literal = ReadSingleQuotedLiteral(script, at);
    if (!literal) {
      ADD_FAILURE() << "no literal at " << at;
      return literals;
    }
    literals.push_back(literal->text);
    at = literal->end;
  }
  EXPECT_EQ(at, script.size()) << "text after the last fixed piece";
  return literals;
}

namespace {

const std::wstring kSetP =
    L"$ErrorActionPreference='Stop'; Import-Module -Name ($PSHOME + "
    L"'\\Modules\\NetSecurity\\NetSecurity.psd1'); $p=";
const std::wstring kRemoveBlocking =
    L" -ErrorAction SilentlyContinue | Get-NetFirewallRule | Where-Object { $_.Action -eq 'Block' }"
    L" | Remove-NetFirewallRule; Get-NetFirewallRule -DisplayName ";
const std::wstring kAddRule =
    L" -ErrorAction SilentlyContinue | Remove-NetFirewallRule; New-NetFirewallRule -DisplayName ";
const std::wstring kRuleOptions =
    L" -Program $p -Direction Inbound -Action Allow -Profile Any -Enabled True | Out-Null";

}  // namespace

const std::vector<std::wstring> kApplicationRuleScriptPieces = {
    kSetP, L"; Get-NetFirewallApplicationFilter -Program $p" + kRemoveBlocking, kAddRule,
    kRuleOptions};

const std::vector<std::wstring> kApplicationRulePatternScriptPieces = {
    kSetP, L"; Get-NetFirewallApplicationFilter -Program ", kRemoveBlocking, kAddRule,
    kRuleOptions};

const std::vector<std::wstring> kApplicationRuleRemovalScriptPieces = {
    kSetP, L"; Get-NetFirewallRule -DisplayName ",
    L" -ErrorAction SilentlyContinue -ErrorVariable e | Where-Object { ($_ | "
    L"Get-NetFirewallApplicationFilter).Program -eq $p } | Remove-NetFirewallRule; $e | "
    L"Where-Object { $_.CategoryInfo.Category -ne 'ObjectNotFound' } | ForEach-Object { throw $_ }"};

