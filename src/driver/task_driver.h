#pragma once

#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "driver/action_table.h"
#include "driver/command_line.h"
#include "driver/results_file.h"

inline constexpr int kExitNotElevated = 100;

// The whole run after a successful parse: elevation check, every task in
// order, task lines on stdout, the results file, and the exit code (bit j set
// when task j failed).
unsigned long RunTasks(const std::vector<TaskRequest>& tasks, const std::wstring& resultsPath);

// Runs each task through the table and prints its line to output. A name the
// table does not know succeeds without doing anything.
std::vector<TaskResult> ExecuteTasks(const std::vector<TaskRequest>& tasks,
                                     std::span<const TaskAction> table, FILE* output);

unsigned long FailureMask(const std::vector<TaskResult>& results);
