// Stand-in for netsh.exe and powershell.exe in the test prefix. Appends one
// line per start to %RECORDER_LOG%:
//   pid=<process id> flags=<STARTUPINFO dwFlags> show=<wShowWindow>
//   console=<processes attached to its console, 0 without one>
//   window=<1 if that console has a window, else 0> cwd=<current folder, UTF-8>
//   cmd=<GetCommandLineW, UTF-8>
// (all on one line).
// The n-th start (n = lines already in the log) sleeps for the n-th entry of
// %RECORDER_SLEEP_MS% and exits with the n-th entry of %RECORDER_EXIT_CODES%
// (comma lists; missing entries mean 0).
#include <windows.h>

#include <string>
#include <vector>

#include "utf8.h"

namespace {

std::wstring Env(const wchar_t* name) {
  wchar_t buffer[4096];
  const DWORD length = GetEnvironmentVariableW(name, buffer, 4096);
  return length > 0 && length < 4096 ? std::wstring(buffer, length) : std::wstring();
}

unsigned long NthNumber(const std::wstring& list, std::size_t n) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < n; ++i) {
    start = list.find(L',', start);
    if (start == std::wstring::npos) return 0;
    ++start;
  }
  return wcstoul(list.c_str() + start, nullptr, 10);
}

// Appends the record and returns how many records were there before it.
std::size_t AppendRecord(const std::wstring& logPath, const std::string& record) {
  HANDLE log = CreateFileW(logPath.c_str(), GENERIC_READ | FILE_APPEND_DATA, 0, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return 0;
  std::size_t lines = 0;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(log, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    for (DWORD i = 0; i < read; ++i) lines += buffer[i] == '\n';
  }
  DWORD written = 0;
  WriteFile(log, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
  CloseHandle(log);
  return lines;
}

}  // namespace

int wmain() {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  GetStartupInfoW(&startup);
  DWORD consoleProcesses[8];
  wchar_t cwd[MAX_PATH];
  const DWORD cwdLength = GetCurrentDirectoryW(MAX_PATH, cwd);
  const std::string record =
      "pid=" + std::to_string(GetCurrentProcessId()) + " flags=" + std::to_string(startup.dwFlags) +
      " show=" + std::to_string(startup.wShowWindow) +
      " console=" + std::to_string(GetConsoleProcessList(consoleProcesses, 8)) +
      " window=" + std::to_string(GetConsoleWindow() != nullptr ? 1 : 0) +
      " cwd=" + ToUtf8(std::wstring(cwd, cwdLength < MAX_PATH ? cwdLength : 0)) +
      " cmd=" + ToUtf8(GetCommandLineW()) + "\n";
  const std::wstring logPath = Env(L"RECORDER_LOG");
  const std::size_t index = logPath.empty() ? 0 : AppendRecord(logPath, record);
  Sleep(NthNumber(Env(L"RECORDER_SLEEP_MS"), index));
  return static_cast<int>(NthNumber(Env(L"RECORDER_EXIT_CODES"), index));
}
