#pragma once

#include <string>

// 0 is success; anything else is a Windows error code or a child's exit code,
// passed through unchanged. unsigned long is 32 bits on every Windows compiler,
// which keeps %lu right in the output formats.
using ResultCode = unsigned long;

using ActionFunction = ResultCode (*)(const std::wstring& argument);
