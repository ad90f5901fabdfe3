// Prints every key, value and key DACL under the registry places the tests
// touch, one line each, so two snapshots can be compared with diff.
#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <string>

#include "utf8.h"

namespace {

void PrintKey(HKEY root, const std::wstring& rootName, const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
    std::printf("%s\\%s (absent)\n", ToUtf8(rootName).c_str(), ToUtf8(path).c_str());
    return;
  }
  BYTE security[4096];
  DWORD size = sizeof(security);
  wchar_t* sddl = nullptr;
  if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, security, &size) == ERROR_SUCCESS) {
    ConvertSecurityDescriptorToStringSecurityDescriptorW(security, SDDL_REVISION_1,
                                                         DACL_SECURITY_INFORMATION, &sddl, nullptr);
  }
  std::printf("%s\\%s dacl=%s\n", ToUtf8(rootName).c_str(), ToUtf8(path).c_str(),
              sddl ? ToUtf8(sddl).c_str() : "(unreadable)");
  LocalFree(sddl);
  for (DWORD index = 0;; ++index) {
    wchar_t name[16384];
    DWORD nameLength = 16384, type = 0;
    static BYTE data[65536];  // printed before any recursion
    DWORD dataSize = sizeof(data);
    if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &dataSize) != 0) break;
    std::printf("  %s type=%lu data=", ToUtf8(name).c_str(), type);
    for (DWORD i = 0; i < dataSize; ++i) std::printf("%02x", data[i]);
    std::printf("\n");
  }
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD nameLength = 256;
    if (RegEnumKeyExW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != 0) break;
    PrintKey(root, rootName, path + L"\\" + name);
  }
  RegCloseKey(key);
}

}  // namespace

int wmain() {
  const wchar_t* machineKeys[] = {
      L"SOFTWARE\\Khronos",
      L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
  };
  const wchar_t* userKeys[] = {
      L"Environment",
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
      L"Software\\Wine\\AppDefaults",
  };
  for (const wchar_t* path : machineKeys) PrintKey(HKEY_LOCAL_MACHINE, L"HKLM", path);
  for (const wchar_t* path : userKeys) PrintKey(HKEY_CURRENT_USER, L"HKCU", path);
  return 0;
}
