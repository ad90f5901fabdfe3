// A hidden top-level window that logs every WM_SETTINGCHANGE it receives, one
// line each: "wParam=<n> lParam=<text or (null)>". Arguments: log path, name
// of an event it sets once the window exists, name of an event that ends it.
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

FILE* g_log = nullptr;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETTINGCHANGE) {
    const wchar_t* text = reinterpret_cast<const wchar_t*>(lParam);
    std::fwprintf(g_log, L"wParam=%llu lParam=%ls\n", static_cast<unsigned long long>(wParam),
                  text ? text : L"(null)");
    std::fflush(g_log);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
  if (argc != 4) return 2;
  if (_wfopen_s(&g_log, argv[1], L"w") != 0) return 3;
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, argv[2]);
  HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, argv[3]);

  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"SettingChangeListener";
  if (!RegisterClassW(&windowClass)) return 4;
  HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"listener", WS_OVERLAPPED, 0, 0,
                                10, 10, nullptr, nullptr, windowClass.hInstance, nullptr);
  if (window == nullptr) return 5;
  SetEvent(ready);

  // Listens until told to stop, however long the test takes. Ending any other
  // way is a failure: a test must not read "no broadcast" from a dead listener.
  int exitCode = 0;
  for (;;) {
    const DWORD woken = MsgWaitForMultipleObjects(1, &stop, FALSE, /*dwMilliseconds=*/1800000,
                                                  QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    if (woken == WAIT_OBJECT_0) break;
    if (woken != WAIT_OBJECT_0 + 1) {
      exitCode = 6;
      break;
    }
  }
  DestroyWindow(window);
  std::fclose(g_log);
  return exitCode;
}
