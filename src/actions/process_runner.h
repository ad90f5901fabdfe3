#pragma once

#include <windows.h>

#include <string>

#include "result_code.h"

inline constexpr wchar_t kFallbackSystemDirectory[] = L"C:\\Windows\\System32";

// The system directory without a trailing backslash; the fixed fallback when
// GetSystemDirectoryW fails or the path would not fit MAX_PATH.
std::wstring GetSystemDirectoryPath();

// The choice GetSystemDirectoryPath makes from GetSystemDirectoryW's result.
std::wstring SystemDirectoryFromResult(const wchar_t* buffer, UINT length);

// Starts commandLine (quoted program path plus arguments) hidden, without
// inherited handles and in the system directory, waits up to timeoutMs and
// returns: the child's exit code, 1 when that cannot be read, WAIT_TIMEOUT
// (258) when the child was terminated at the time-out, or CreateProcessW's
// error when it could not start.
ResultCode RunHidden(const std::wstring& commandLine, DWORD timeoutMs);
