#pragma once

#include <span>
#include <string_view>

#include "result_code.h"

// One task: its option is "--" + name. The parser, the usage text and the
// driver all read the one table, so a task cannot be known to one and
// missing from another.
struct TaskAction {
  std::wstring_view name;
  ActionFunction action;
  std::wstring_view valueName = {};  // in the usage text; empty: the option takes no value
};

// The tasks this program knows, in lookup and usage order.
std::span<const TaskAction> DefaultActionTable();

// nullptr when no entry has exactly this name.
ActionFunction FindAction(std::span<const TaskAction> table, std::wstring_view name);
