// Runs its command line (everything after its own name) with the filtered,
// non-elevated twin of its own token, passing on its standard handles, and
// exits with the child's exit code. Wine starts every process elevated; this
// is how the tests reach the non-elevated path.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain() {
  std::wstring commandLine = GetCommandLineW();
  // Skip our own (possibly quoted) name and the blank after it.
  std::size_t end = commandLine[0] == L'"' ? commandLine.find(L'"', 1) + 1 : commandLine.find(L' ');
  commandLine = commandLine.substr(commandLine.find_first_not_of(L' ', end));

  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &token)) return 90;
  TOKEN_LINKED_TOKEN linked = {};
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenLinkedToken, &linked, sizeof(linked), &size)) return 91;
  HANDLE primary = nullptr;
  if (!DuplicateTokenEx(linked.LinkedToken, TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation,
                        TokenPrimary, &primary)) {
    return 92;
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION child = {};
  if (!CreateProcessAsUserW(primary, nullptr, commandLine.data(), nullptr, nullptr,
                            /*bInheritHandles=*/TRUE, 0, nullptr, nullptr, &startup, &child)) {
    std::fprintf(stderr, "launcher: CreateProcessAsUserW failed: %lu\n", GetLastError());
    return 93;
  }
  WaitForSingleObject(child.hProcess, INFINITE);
  DWORD exitCode = 94;
  GetExitCodeProcess(child.hProcess, &exitCode);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  CloseHandle(primary);
  CloseHandle(linked.LinkedToken);
  CloseHandle(token);
  return static_cast<int>(exitCode);
}
