#pragma once

#include <string>

#include "result_code.h"

// All keys live under HKEY_LOCAL_MACHINE in the 64-bit registry view.
inline constexpr wchar_t kOpenXrKey[] = L"SOFTWARE\\Khronos\\OpenXR\\1";
inline constexpr wchar_t kOpenXrActiveRuntimeValue[] = L"ActiveRuntime";
inline constexpr wchar_t kMachineEnvironmentKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
inline constexpr wchar_t kXrRuntimeJsonValue[] = L"XR_RUNTIME_JSON";
inline constexpr wchar_t kMachineRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr wchar_t kLegacyAutostartValue[] = L"UlvexHub";

// Deletes one value; an absent key or value already is the wanted state (0).
ResultCode DeleteMachineValue(const wchar_t* subKey, const wchar_t* valueName);

ResultCode SetOpenXrActiveRuntime(const std::wstring& manifestPath);
ResultCode ClearXrRuntimeEnvironment(const std::wstring& unused);
ResultCode RemoveLegacyAutostart(const std::wstring& unused);
