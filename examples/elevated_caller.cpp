// How a program running without elevation starts UlvexSystemSetup and learns
// what it did:
//   elevated_caller <UlvexSystemSetup.exe> <results file> <options...>
// Both paths must be absolute. Prints one line per task, or why there are
// none, and exits with the setup program's exit code.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

// Standard Windows quoting for a path (a path holds no double quote): the
// backslashes that end it are doubled, or the last one would escape the
// closing quote. "C:\My Apps\" becomes "C:\My Apps\\".
std::wstring QuotePath(const std::wstring& path) {
  std::wstring quoted = L"\"" + path;
  for (std::size_t i = path.size(); i > 0 && path[i - 1] == L'\\'; --i) quoted += L'\\';
  return quoted + L"\"";
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
  if (argc < 4) {
    std::fwprintf(stderr, L"usage: elevated_caller <UlvexSystemSetup.exe> <results file> <options...>\n");
    return 2;
  }
  const std::wstring setup = argv[1], results = argv[2];
  std::wstring parameters = L"--result " + QuotePath(results);
  for (int i = 3; i < argc; ++i) parameters += L" " + QuotePath(argv[i]);
  // A results file left by an earlier run must not pass for this one.
  DeleteFileW(results.c_str());
  // An elevated process does not start in our folder: give it one we chose.
  const std::wstring folder = setup.substr(0, setup.find_last_of(L'\\'));

  SHELLEXECUTEINFOW run = {};
  run.cbSize = sizeof(run);
  run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
  run.lpVerb = L"runas";  // the elevation prompt
  run.lpFile = setup.c_str();
  run.lpParameters = parameters.c_str();
  run.lpDirectory = folder.c_str();
  run.nShow = SW_HIDE;  // no console window flashing up
  if (!ShellExecuteExW(&run)) {
    const DWORD error = GetLastError();
    if (error == ERROR_CANCELLED) {
      std::wprintf(L"declined: the elevation prompt was refused, nothing ran\n");
    } else {
      std::wprintf(L"not started: error %lu\n", error);
    }
    return static_cast<int>(error);
  }
  WaitForSingleObject(run.hProcess, INFINITE);
  DWORD exitCode = 1;
  GetExitCodeProcess(run.hProcess, &exitCode);
  CloseHandle(run.hProcess);

  // 100 (not elevated) and 101 (command line rejected) run no task.
  FILE* file = nullptr;
  if (exitCode > 31) {
    std::wprintf(L"refused: exit code %lu, no task ran\n", exitCode);
  } else if (_wfopen_s(&file, results.c_str(), L"r, ccs=UTF-8") != 0) {
    std::wprintf(L"did not complete: exit code %lu but no results file\n", exitCode);
  } else {
    // One line per task, in order: "name=ok" or "name=fail:code".
    wchar_t line[256];
    while (std::fgetws(line, 256, file)) {
      const std::wstring text(line, wcscspn(line, L"\n"));
      const std::size_t equals = text.find(L'=');
      const std::wstring name = text.substr(0, equals), outcome = text.substr(equals + 1);
      if (outcome == L"ok") {
        std::wprintf(L"%ls: ok\n", name.c_str());
      } else if (outcome.compare(0, 5, L"fail:") == 0) {
        std::wprintf(L"%ls: failed with code %ls\n", name.c_str(), outcome.c_str() + 5);
      }
    }
    std::fclose(file);
  }
  return static_cast<int>(exitCode);
}
