#include "actions/app_firewall_rule.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

TEST(QuotePowerShellLiteral, DoublesEachOfTheFiveSingleQuotes) {
  const struct {
    std::wstring text;
    std::wstring quoted;
  } cases[] = {
      {L"", L"''"},
      {L"Bob's Tool", L"'Bob''s Tool'"},
      {L"C:\\Apps\\Viewer.exe", L"'C:\\Apps\\Viewer.exe'"},
      {L"'", L"''''"},
      {L"a\x2018" L"b\x2019" L"c\x201A" L"d\x201B" L"e", L"'a\x2018\x2018" L"b\x2019\x2019"
       L"c\x201A\x201A" L"d\x201B\x201B" L"e'"},
      {L"\x2019'", L"'\x2019\x2019'''"},
      // Double quotes, $, backtick and the rest are literal inside single quotes.
      {L"$x `n \" \x201C\x201D; | {}", L"'$x `n \" \x201C\x201D; | {}'"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(QuotePowerShellLiteral(c.text), c.quoted) << ToUtf8(c.text);
  }
}

TEST(ApplicationRuleDisplayName, UsesTheFileNameLessItsLastFourCharacters) {
  const struct {
    std::wstring path;
    std::wstring displayName;
  } cases[] = {
      {L"C:\\Apps\\Viewer.exe", L"ULVEX Viewer"},
      {L"C:/Apps/Viewer.exe", L"ULVEX Viewer"},
      {L"C:\\Apps/sub\\Viewer.exe", L"ULVEX Viewer"},
      {L"Viewer.exe", L"ULVEX Viewer"},
      {L"C:\\Apps\\tool.bin", L"ULVEX tool"},
      {L"C:\\Apps\\a.exe", L"ULVEX a"},
      {L"C:\\Apps\\abcd", L"ULVEX abcd"},
      {L"abc", L"ULVEX abc"},
      {L"C:\\Apps\\", L"ULVEX "},
      {L"C:\\Bob's Apps\\Viewer.exe", L"ULVEX Viewer"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ApplicationRuleDisplayName(c.path), c.displayName) << ToUtf8(c.path);
  }
}

TEST(BuildApplicationRuleScript, IsExactForAPlainPath) {
  EXPECT_EQ(BuildApplicationRuleScript(L"C:\\Apps\\Viewer.exe"),
            L"$ErrorActionPreference='Stop'; Import-Module -Name ($PSHOME + "
            L"'\\Modules\\NetSecurity\\NetSecurity.psd1'); $p='C:\\Apps\\Viewer.exe'; "
            L"Get-NetFirewallApplicationFilter -Program $p -ErrorAction SilentlyContinue "
            L"-ErrorVariable e | Get-NetFirewallRule | Where-Object { $_.Action -eq 'Block' } | "
            L"Remove-NetFirewallRule; $e | Where-Object { $_.CategoryInfo.Category -ne "
            L"'ObjectNotFound' } | ForEach-Object { throw $_ }; Get-NetFirewallRule -DisplayName "
            L"'ULVEX Viewer' -ErrorAction SilentlyContinue -ErrorVariable e | "
            L"Remove-NetFirewallRule; $e | Where-Object { $_.CategoryInfo.Category -ne "
            L"'ObjectNotFound' } | ForEach-Object { throw $_ }; New-NetFirewallRule "
            L"-DisplayName 'ULVEX Viewer' -Program $p -Direction Inbound -Action Allow -Profile "
            L"Any -Enabled True | Out-Null");
}

// How the escaped text reads as a pattern is checked by PowerShell itself
// (tests/powershell), on paths that exist; * and ? cannot be in a file name,
// only in a path given for removal, so they are checked here.
TEST(EscapeWildcardPattern, PutsABacktickBeforeEachPatternCharacter) {
  EXPECT_EQ(EscapeWildcardPattern(L"C:\\[GOG] F'oo\\Foo [x64] `a[b*?.exe"),
            L"C:\\`[GOG`] F'oo\\Foo `[x64`] ``a`[b`*`?.exe");
  EXPECT_EQ(EscapeWildcardPattern(L"C:\\$x ; 'q' {}.exe"), L"C:\\$x ; 'q' {}.exe");
}

}  // namespace
