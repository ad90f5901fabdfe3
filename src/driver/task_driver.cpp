#include "driver/task_driver.h"

#include <cwchar>

#include "driver/elevation.h"

std::vector<TaskResult> ExecuteTasks(const std::vector<TaskRequest>& tasks,
                                     std::span<const TaskAction> table, FILE* output) {
  std::vector<TaskResult> results;
  results.reserve(tasks.size());
  for (const TaskRequest& task : tasks) {
    const ActionFunction action = FindAction(table, task.name);
    const ResultCode code = action ? action(task.argument) : 0;
    results.push_back({task.name, code});
    std::fwprintf(output, L"task=%ls ok=%d code=%lu\n", task.name.c_str(), code == 0 ? 1 : 0,
                  code);
    // A caller watching the console sees each task as it ends.
    std::fflush(output);
  }
  return results;
}

unsigned long FailureMask(const std::vector<TaskResult>& results) {
  unsigned long mask = 0;
  for (std::size_t j = 0; j < results.size(); ++j) {
    if (results[j].code != 0) mask |= 1ul << (j % 32);
  }
  return mask;
}

unsigned long RunTasks(const std::vector<TaskRequest>& tasks, const std::wstring& resultsPath) {
  if (!IsProcessElevated()) {
    std::fputws(L"administrator privileges required\n", stderr);
    return kExitNotElevated;
  }
  const std::vector<TaskResult> results = ExecuteTasks(tasks, DefaultActionTable(), stdout);
  if (!resultsPath.empty()) WriteResultsFile(resultsPath, results);
  return FailureMask(results);
}
