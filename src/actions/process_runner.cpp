#include "actions/process_runner.h"

#include <vector>

#include "unique_resource.h"

std::wstring SystemDirectoryFromResult(const wchar_t* buffer, UINT length) {
  if (length == 0 || length >= MAX_PATH) return kFallbackSystemDirectory;
  return std::wstring(buffer, length);
}

std::wstring GetSystemDirectoryPath() {
  wchar_t buffer[MAX_PATH];
  const UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
  return SystemDirectoryFromResult(buffer, length);
}

ResultCode RunHidden(const std::wstring& commandLine, DWORD timeoutMs) {
  // CreateProcessW may write into the command line it is given.
  std::vector<wchar_t> writableCommandLine(commandLine.c_str(),
                                           commandLine.c_str() + commandLine.size() + 1);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  // Our own current folder is often one the person can write to; a DLL a
  // child loads by name must not be looked for there.
  const std::wstring systemDirectory = GetSystemDirectoryPath();
  PROCESS_INFORMATION started = {};
  if (!CreateProcessW(/*lpApplicationName=*/nullptr, writableCommandLine.data(),
                      /*lpProcessAttributes=*/nullptr, /*lpThreadAttributes=*/nullptr,
                      /*bInheritHandles=*/FALSE, CREATE_NO_WINDOW, /*lpEnvironment=*/nullptr,
                      systemDirectory.c_str(), &startup, &started)) {
    return GetLastError();
  }
  // Declared in this order so the thread handle is closed before the process.
  const UniqueHandle process(started.hProcess);
  const UniqueHandle thread(started.hThread);

  ResultCode code = 1;
  if (WaitForSingleObject(process.Get(), timeoutMs) == WAIT_OBJECT_0) {
    DWORD exitCode = 0;
    if (GetExitCodeProcess(process.Get(), &exitCode)) code = exitCode;
  } else {
    TerminateProcess(process.Get(), /*uExitCode=*/1);
    code = WAIT_TIMEOUT;
  }
  return code;
}
