#include <windows.h>

#include <cstdio>

#include "driver/command_line.h"
#include "driver/task_driver.h"

int wmain(int argc, wchar_t* argv[]) {
  // Runs elevated, often from a user-writable folder: any DLL loaded by name
  // later on (by us or inside system DLLs) must come from the system
  // directory, never from the folder the program was started from.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);

  const std::optional<CommandLine> commandLine = ParseCommandLine(argc, argv, stderr);
  if (!commandLine) return kExitCommandLineRejected;
  return static_cast<int>(RunTasks(commandLine->tasks, commandLine->resultsPath));
}
