#include "driver/command_line.h"

#include <windows.h>

#include <io.h>

#include <algorithm>
#include <cwchar>
#include <string_view>

namespace {

struct OptionEntry {
  std::wstring_view option;
  const wchar_t* task;  // nullptr for --result
  bool takesValue;
};

constexpr OptionEntry kOptions[] = {
    {L"--result", nullptr, true},
    {L"--firewall-add", L"firewall-add", false},
    {L"--firewall-app", L"firewall-app", true},
    {L"--openxr-runtime", L"openxr-runtime", true},
    {L"--clear-xr-env", L"clear-xr-env", false},
    {L"--remove-legacy-autostart", L"remove-legacy-autostart", false},
    {L"--firewall-remove", L"firewall-remove", false},
    {L"--firewall-app-remove", L"firewall-app-remove", true},
    {L"--openxr-runtime-remove", L"openxr-runtime-remove", true},
};

constexpr wchar_t kUsage[] =
    L"usage: UlvexSystemSetup [--result <file>] [--firewall-add] [--firewall-app <exe>] "
    L"[--openxr-runtime <manifest>] [--clear-xr-env] [--remove-legacy-autostart] "
    L"[--firewall-remove] [--firewall-app-remove <exe>] [--openxr-runtime-remove <manifest>]\n";

const OptionEntry* FindOption(std::wstring_view argument) {
  for (const OptionEntry& entry : kOptions) {
    if (entry.option == argument) return &entry;
  }
  return nullptr;
}

// The argument is often a path in the person's own language, and the message
// must name it whole. The C runtime's default text mode squeezes wide text
// into the ANSI code page and stops at the first character that does not fit,
// so text beyond ASCII goes around it: UTF-16 straight to a console, and to a
// file or pipe UTF-8 encoded here as one piece (a character outside the BMP
// must not reach an encoder in two halves; a lone surrogate becomes U+FFFD).
void PrintUnknownArgument(FILE* stream, const wchar_t* argument) {
  const std::wstring_view text(argument);
  if (std::all_of(text.begin(), text.end(), [](wchar_t c) { return c < 0x80; })) {
    std::fwprintf(stream, L"unknown argument: %ls\n", argument);
    return;
  }
  const std::wstring message = L"unknown argument: " + std::wstring(text) + L"\n";
  std::fflush(stream);
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD consoleMode = 0;
  if (GetConsoleMode(handle, &consoleMode)) {
    DWORD written = 0;
    WriteConsoleW(handle, message.data(), static_cast<DWORD>(message.size()), &written,
                  /*lpReserved=*/nullptr);
    return;
  }
  const int length = static_cast<int>(message.size());
  const int size = WideCharToMultiByte(CP_UTF8, /*dwFlags=*/0, message.data(), length, nullptr, 0,
                                       /*lpDefaultChar=*/nullptr, /*lpUsedDefaultChar=*/nullptr);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, /*dwFlags=*/0, message.data(), length, utf8.data(), size,
                      /*lpDefaultChar=*/nullptr, /*lpUsedDefaultChar=*/nullptr);
  // The stream stays in text mode, which turns the line feed into CR LF.
  std::fwrite(utf8.data(), 1, utf8.size(), stream);
}

}  // namespace

std::optional<CommandLine> ParseCommandLine(int argc, const wchar_t* const argv[],
                                            FILE* errorStream) {
  CommandLine result;
  int index = 1;
  while (index < argc) {
    const wchar_t* argument = argv[index];
    const OptionEntry* entry = FindOption(argument);
    if (entry == nullptr) {
      PrintUnknownArgument(errorStream, argument);
      return std::nullopt;
    }
    if (!entry->takesValue) {
      result.tasks.push_back({entry->task, {}});
      index += 1;
      continue;
    }
    if (index + 1 >= argc) return std::nullopt;  // value missing: no message
    const wchar_t* value = argv[index + 1];
    if (entry->task == nullptr) {
      result.resultsPath = value;
    } else {
      result.tasks.push_back({entry->task, value});
    }
    index += 2;
  }
  if (result.tasks.empty() || result.tasks.size() > kMaxTasks) {
    std::fputws(kUsage, errorStream);
    return std::nullopt;
  }
  return result;
}
