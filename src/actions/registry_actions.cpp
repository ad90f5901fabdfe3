#include "actions/registry_actions.h"

#include <windows.h>

#include <optional>

#include "unique_resource.h"

namespace {

// All keys live under HKEY_LOCAL_MACHINE in the 64-bit registry view.
constexpr wchar_t kOpenXrKey[] = L"SOFTWARE\\Khronos\\OpenXR\\1";
constexpr wchar_t kOpenXrActiveRuntimeValue[] = L"ActiveRuntime";
constexpr wchar_t kOpenXrAvailableRuntimesKey[] =
    L"SOFTWARE\\Khronos\\OpenXR\\1\\AvailableRuntimes";
constexpr wchar_t kMachineEnvironmentKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr wchar_t kXrRuntimeJsonValue[] = L"XR_RUNTIME_JSON";
constexpr wchar_t kMachineRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kLegacyAutostartValue[] = L"UlvexHub";

constexpr REGSAM kMachineWriteAccess = KEY_WOW64_64KEY | KEY_SET_VALUE;
constexpr UINT kBroadcastTimeoutMs = 5000;

using SendMessageTimeoutFunction = LRESULT(WINAPI*)(HWND, UINT, WPARAM, LPARAM, UINT, UINT,
                                                    PDWORD_PTR);

// Lets running programs (Explorer and whatever they start next) pick up the
// machine environment without a log-off. user32 is bound here, not imported:
// only this task needs it, and loading it at start-up would slow every run.
void BroadcastEnvironmentChange() {
  const HMODULE user32 =
      LoadLibraryExW(L"user32.dll", /*hFile=*/nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (user32 == nullptr) return;
  const auto sendMessageTimeout = reinterpret_cast<SendMessageTimeoutFunction>(
      reinterpret_cast<void*>(GetProcAddress(user32, "SendMessageTimeoutW")));
  if (sendMessageTimeout != nullptr) {
    DWORD_PTR unusedReply = 0;
    sendMessageTimeout(HWND_BROADCAST, WM_SETTINGCHANGE, /*wParam=*/0,
                       reinterpret_cast<LPARAM>(L"Environment"), SMTO_ABORTIFHUNG,
                       kBroadcastTimeoutMs, &unusedReply);
  }
  // user32 is left loaded for the rest of this short-lived process.
}

// ActiveRuntime's text as stored, not expanded, up to its first zero: for
// REG_SZ and REG_EXPAND_SZ, which runtime switchers write and the loader
// reads; nullopt for a value of another type.
LSTATUS ReadActiveRuntime(std::optional<std::wstring>& runtime) {
  UniqueRegistryKey key;
  LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kOpenXrKey, /*ulOptions=*/0,
                                 KEY_WOW64_64KEY | KEY_QUERY_VALUE, key.Put());
  DWORD type = REG_NONE;
  DWORD byteCount = 0;
  if (status == ERROR_SUCCESS) {
    status = RegQueryValueExW(key.Get(), kOpenXrActiveRuntimeValue, /*lpReserved=*/nullptr, &type,
                              /*lpData=*/nullptr, &byteCount);
  }
  if (status != ERROR_SUCCESS) return status;
  // One unit more than the value holds, so the text always ends in a zero.
  std::wstring text(byteCount / sizeof(wchar_t) + 1, L'\0');
  status = RegQueryValueExW(key.Get(), kOpenXrActiveRuntimeValue, /*lpReserved=*/nullptr, &type,
                            reinterpret_cast<BYTE*>(text.data()), &byteCount);
  if (type == REG_SZ || type == REG_EXPAND_SZ) runtime = text.c_str();
  return status;
}

// What the loader reads as a path of its own in every application: a drive
// with its root, or a UNC or \\?\ path. Anything else it makes absolute
// against each application's current folder, which whoever can write there
// would then choose.
bool IsAbsolutePath(const std::wstring& path) {
  const bool driveLetter = path.size() >= 3 && ((path[0] >= L'A' && path[0] <= L'Z') ||
                                                (path[0] >= L'a' && path[0] <= L'z'));
  return path.starts_with(L"\\\\") ||
         (driveLetter && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/'));
}

ResultCode WriteActiveRuntime(const std::wstring& manifestPath) {
  UniqueRegistryKey key;
  const LSTATUS created = RegCreateKeyExW(
      HKEY_LOCAL_MACHINE, kOpenXrKey, /*Reserved=*/0, /*lpClass=*/nullptr, REG_OPTION_NON_VOLATILE,
      kMachineWriteAccess, /*lpSecurityAttributes=*/nullptr, key.Put(), /*lpdwDisposition=*/nullptr);
  if (created != ERROR_SUCCESS) return static_cast<ResultCode>(created);
  const DWORD byteCount = static_cast<DWORD>((manifestPath.size() + 1) * sizeof(wchar_t));
  return static_cast<ResultCode>(RegSetValueExW(
      key.Get(), kOpenXrActiveRuntimeValue, /*Reserved=*/0, REG_SZ,
      reinterpret_cast<const BYTE*>(manifestPath.c_str()), byteCount));
}

// Runtime switchers offer what this list names (the loader never reads it).
// An entry already there, whatever its data, is the runtime's own say (non-zero
// hides it) and stays; looking for it needs the right to query.
ResultCode ListAvailableRuntime(const std::wstring& manifestPath) {
  UniqueRegistryKey key;
  LSTATUS status = RegCreateKeyExW(
      HKEY_LOCAL_MACHINE, kOpenXrAvailableRuntimesKey, /*Reserved=*/0, /*lpClass=*/nullptr,
      REG_OPTION_NON_VOLATILE, kMachineWriteAccess | KEY_QUERY_VALUE,
      /*lpSecurityAttributes=*/nullptr, key.Put(), /*lpdwDisposition=*/nullptr);
  if (status == ERROR_SUCCESS) {
    status = RegQueryValueExW(key.Get(), manifestPath.c_str(), /*lpReserved=*/nullptr,
                              /*lpType=*/nullptr, /*lpData=*/nullptr, /*lpcbData=*/nullptr);
  }
  if (status != ERROR_FILE_NOT_FOUND) return static_cast<ResultCode>(status);  // listed, or failed
  const DWORD offered = 0;
  return static_cast<ResultCode>(RegSetValueExW(key.Get(), manifestPath.c_str(), /*Reserved=*/0,
                                                REG_DWORD, reinterpret_cast<const BYTE*>(&offered),
                                                sizeof(offered)));
}

// Deletes ActiveRuntime only while it still names this manifest.
ResultCode DeleteActiveRuntimeNaming(const std::wstring& manifestPath) {
  std::optional<std::wstring> current;
  const LSTATUS read = ReadActiveRuntime(current);
  if (read == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;  // no key, or no value
  if (read != ERROR_SUCCESS) return static_cast<ResultCode>(read);
  // A runtime chosen since, by the person or another installer, stays. Paths
  // are compared as Windows compares them: ordinal, ignoring letter case.
  if (!current || CompareStringOrdinal(current->c_str(), static_cast<int>(current->size()),
                                       manifestPath.c_str(), static_cast<int>(manifestPath.size()),
                                       /*bIgnoreCase=*/TRUE) != CSTR_EQUAL) {
    return ERROR_SUCCESS;
  }
  return DeleteMachineValue(kOpenXrKey, kOpenXrActiveRuntimeValue);
}

// Both steps always run: the first failure is the task's code.
ResultCode FirstFailure(ResultCode first, ResultCode second) {
  return first != ERROR_SUCCESS ? first : second;
}

}  // namespace

ResultCode DeleteMachineValue(const wchar_t* subKey, const wchar_t* valueName) {
  UniqueRegistryKey key;
  const LSTATUS opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, /*ulOptions=*/0,
                                       kMachineWriteAccess, key.Put());
  if (opened == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (opened != ERROR_SUCCESS) return static_cast<ResultCode>(opened);
  const LSTATUS deleted = RegDeleteValueW(key.Get(), valueName);
  if (deleted == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  return static_cast<ResultCode>(deleted);
}

ResultCode SetOpenXrActiveRuntime(const std::wstring& manifestPath) {
  if (!IsAbsolutePath(manifestPath)) return ERROR_INVALID_PARAMETER;
  const ResultCode active = WriteActiveRuntime(manifestPath);
  return FirstFailure(active, ListAvailableRuntime(manifestPath));
}

ResultCode RemoveOpenXrActiveRuntime(const std::wstring& manifestPath) {
  if (manifestPath.empty()) return ERROR_INVALID_PARAMETER;
  const ResultCode active = DeleteActiveRuntimeNaming(manifestPath);
  return FirstFailure(active,
                      DeleteMachineValue(kOpenXrAvailableRuntimesKey, manifestPath.c_str()));
}

ResultCode RestoreOpenXrActiveRuntime(const std::wstring& manifestPath) {
  if (!IsAbsolutePath(manifestPath)) return ERROR_INVALID_PARAMETER;
  // A runtime uninstalled since is never made active again.
  const DWORD attributes = GetFileAttributesW(manifestPath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return ERROR_FILE_NOT_FOUND;
  }
  // Whatever the person or another installer chose since stays: any value
  // but an empty string, of any type.
  std::optional<std::wstring> current;
  const LSTATUS read = ReadActiveRuntime(current);
  if (read == ERROR_FILE_NOT_FOUND || (read == ERROR_SUCCESS && current && current->empty())) {
    return WriteActiveRuntime(manifestPath);
  }
  return static_cast<ResultCode>(read);
}

ResultCode ClearXrRuntimeEnvironment(const std::wstring&) {
  const ResultCode code = DeleteMachineValue(kMachineEnvironmentKey, kXrRuntimeJsonValue);
  if (code == ERROR_SUCCESS) BroadcastEnvironmentChange();
  return code;
}

ResultCode RemoveLegacyAutostart(const std::wstring&) {
  return DeleteMachineValue(kMachineRunKey, kLegacyAutostartValue);
}
