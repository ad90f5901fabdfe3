#pragma once

#include <optional>
#include <string>
#include <vector>

// A reader of PowerShell single-quoted literals written from the language's
// rules, independent of the quoting code under test.

struct Literal {
  std::wstring text;
  std::size_t end;  // index just past the closing quote
};

// Reads the literal whose opening quote is at start; nothing if there is no
// quote there or the literal never closes.
std::optional<Literal> ReadSingleQuotedLiteral(const std::wstring& script, std::size_t start);

// Walks the script as fixed text, literal, fixed text, ..., fixed text and
// returns the literals; fails the current test where the script strays.
std::vector<std::wstring> SplitScript(const std::wstring& script,
                                      const std::vector<std::wstring>& fixedPieces);

// The fixed pieces of the firewall-app script around its literals: the path
// and the display name for look-up and for the new rule; where the path holds
// a pattern character, the escaped path for the look-up comes second.
extern const std::vector<std::wstring> kApplicationRuleScriptPieces;
extern const std::vector<std::wstring> kApplicationRulePatternScriptPieces;
// firewall-app-remove: the path, then the escaped display name.
extern const std::vector<std::wstring> kApplicationRuleRemovalScriptPieces;
