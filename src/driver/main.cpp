#include <cstdio>

#include "driver/command_line.h"
#include "driver/task_driver.h"

int wmain(int argc, wchar_t* argv[]) {
  const std::optional<CommandLine> commandLine = ParseCommandLine(argc, argv, stderr);
  if (!commandLine) return kExitCommandLineRejected;
  return static_cast<int>(RunTasks(commandLine->tasks, commandLine->resultsPath));
}
