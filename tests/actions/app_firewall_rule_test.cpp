#include "actions/app_firewall_rule.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "powershell_literal_reader.h"
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
            L"Get-NetFirewallApplicationFilter -Program $p -ErrorAction SilentlyContinue | "
            L"Get-NetFirewallRule | Where-Object { $_.Action -eq 'Block' } | "
            L"Remove-NetFirewallRule; Get-NetFirewallRule -DisplayName 'ULVEX Viewer' "
            L"-ErrorAction SilentlyContinue | Remove-NetFirewallRule; New-NetFirewallRule "
            L"-DisplayName 'ULVEX Viewer' -Program $p -Direction Inbound -Action Allow -Profile "
            L"Any -Enabled True | Out-Null");
}

TEST(BuildApplicationRuleScript, HostilePathsReadBackAsPlainText) {
  // Where the text holds ` [ ] * or ?, the look-ups get it escaped: a
  // wildcard pattern that matches exactly this text.
  const struct {
    std::wstring path;
    std::wstring displayName;
    std::wstring escapedPath = {};  // empty: no pattern character
    std::wstring escapedName = {};
  } cases[] = {
      {L"C:\\Bob's Apps\\Viewer.exe", L"ULVEX Viewer"},
      {L"C:\\x\\a\x2019;Start-Process calc;\x2019.exe", L"ULVEX a\x2019;Start-Process calc;\x2019"},
      {L"C:\\x\\a\x2018;calc;\x2018.exe", L"ULVEX a\x2018;calc;\x2018"},
      {L"C:\\x\\a\x201A;calc;\x201B.exe", L"ULVEX a\x201A;calc;\x201B"},
      {L"C:\\x\\''\x2019\x2019\x201B'\x2018.exe", L"ULVEX ''\x2019\x2019\x201B'\x2018"},
      {L"C:\\x\\end'", L"ULVEX end'"},
      {L"C:\\x'\\", L"ULVEX "},
      {L"C:\\x\\'", L"ULVEX '"},
      {L"C:\\$(calc)\\`$env:x` ; | { } .exe", L"ULVEX `$env:x` ; | { } ",
       L"C:\\$(calc)\\``$env:x`` ; | { } .exe", L"ULVEX ``$env:x`` ; | { } "},
      {L"C:\\[GOG] F'oo\\Foo [x64] `a[b*?.exe", L"ULVEX Foo [x64] `a[b*?",
       L"C:\\`[GOG`] F'oo\\Foo `[x64`] ``a`[b`*`?.exe", L"ULVEX Foo `[x64`] ``a`[b`*`?"},
      {L"C:\\x\\\x201C\x201D\x201E quotes.exe", L"ULVEX \x201C\x201D\x201E quotes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.path));
    const bool pattern = !c.escapedPath.empty();
    const std::vector<std::wstring> literals =
        pattern ? std::vector<std::wstring>{c.path, c.escapedPath, c.escapedName, c.displayName}
                : std::vector<std::wstring>{c.path, c.displayName, c.displayName};
    EXPECT_EQ(SplitScript(BuildApplicationRuleScript(c.path), pattern
                                                                  ? kApplicationRulePatternScriptPieces
                                                                  : kApplicationRuleScriptPieces),
              literals);
    EXPECT_EQ(SplitScript(BuildApplicationRuleRemovalScript(c.path),
                          kApplicationRuleRemovalScriptPieces),
              (std::vector<std::wstring>{c.path, pattern ? c.escapedName : c.displayName}));
  }
}

}  // namespace
