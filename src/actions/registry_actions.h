#pragma once

#include <string>

#include "result_code.h"

// Deletes one value; an absent key or value already is the wanted state (0).
ResultCode DeleteMachineValue(const wchar_t* subKey, const wchar_t* valueName);

// Sets ActiveRuntime, then lists the manifest under AvailableRuntimes unless
// it is listed already; a failure to list leaves ActiveRuntime set. A path
// that is not absolute: 87, nothing written.
ResultCode SetOpenXrActiveRuntime(const std::wstring& manifestPath);
// Deletes ActiveRuntime only while it still names this manifest (REG_SZ or
// REG_EXPAND_SZ, as stored, ignoring letter case), and the manifest's
// AvailableRuntimes entry in any case; another runtime, an absent value or a
// missing key: 0.
ResultCode RemoveOpenXrActiveRuntime(const std::wstring& manifestPath);
// Makes the manifest (another vendor's, active before the install) the active
// runtime only while none is: ActiveRuntime absent or an empty string. Not
// absolute: 87; not an existing file: 2. AvailableRuntimes is not touched.
ResultCode RestoreOpenXrActiveRuntime(const std::wstring& manifestPath);
ResultCode ClearXrRuntimeEnvironment(const std::wstring& unused);
ResultCode RemoveLegacyAutostart(const std::wstring& unused);
