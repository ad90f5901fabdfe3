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

// The fixed pieces of the firewall-app script around its three literals.
extern const std::vector<std::wstring> kApplicationRuleScriptPieces;
