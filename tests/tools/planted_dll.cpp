// A DLL planted next to the program under the name of a system DLL. When any
// process loads it, it creates the file named by %PLANTED_DLL_MARKER%.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"PLANTED_DLL_MARKER", path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
      HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    }
  }
  return TRUE;
}
