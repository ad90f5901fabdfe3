#pragma once

#include <span>
#include <string_view>

#include "result_code.h"

struct TaskAction {
  std::wstring_view name;
  ActionFunction action;
};

// The tasks this program knows, in lookup order.
std::span<const TaskAction> DefaultActionTable();

// nullptr when no entry has exactly this name.
ActionFunction FindAction(std::span<const TaskAction> table, std::wstring_view name);
