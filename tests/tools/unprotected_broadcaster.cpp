// Sends the same environment broadcast as the program, but without limiting
// where DLLs are searched for: the control case for the DLL-planting test.
#include <windows.h>

int wmain() {
  DWORD_PTR reply = 0;
  SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Environment"),
                      SMTO_ABORTIFHUNG, 5000, &reply);
  return 0;
}
