#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

struct TaskRequest {
  std::wstring name;
  std::wstring argument;  // empty for tasks that take none
};

struct CommandLine {
  std::vector<TaskRequest> tasks;  // 1 to kMaxTasks entries, command-line order
  std::wstring resultsPath;        // empty: no results file
};

inline constexpr int kExitCommandLineRejected = 101;
inline constexpr std::size_t kMaxTasks = 5;

// argv[0] is the program's own name and is skipped. On rejection the reason
// (if the command line has one) has been written to errorStream and nothing
// is returned; the caller ends the run with kExitCommandLineRejected.
std::optional<CommandLine> ParseCommandLine(int argc, const wchar_t* const argv[],
                                            FILE* errorStream);
