#include "driver/command_line.h"

#include <windows.h>

#include <io.h>

#include <algorithm>
#include <cwchar>
#include <string_view>

#include "driver/action_table.h"

namespace {

constexpr std::wstring_view kResultOption = L"--result";

// nullptr when the argument is no task's option, exactly.
const TaskAction* FindTaskOption(std::wstring_view argument) {
  if (!argument.starts_with(L"--")) return nullptr;
  for (const TaskAction& task : DefaultActionTable()) {
    if (task.name == argument.substr(2)) return &task;
  }
  return nullptr;
}

std::wstring UsageText() {
  std::wstring usage = L"usage: UlvexSystemSetup [--result <file>]";
  for (const TaskAction& task : DefaultActionTable()) {
    usage += L" [--" + std::wstring(task.name);
    if (!task.valueName.empty()) usage += L" <" + std::wstring(task.valueName) + L">";
    usage += L"]";
  }
  return usage + L"\n";
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
    const bool isResult = argument == kResultOption;
    const TaskAction* task = isResult ? nullptr : FindTaskOption(argument);
    if (!isResult && task == nullptr) {
      PrintUnknownArgument(errorStream, argument);
      return std::nullopt;
    }
    if (task != nullptr && task->valueName.empty()) {
      result.tasks.push_back({std::wstring(task->name), {}});
      index += 1;
      continue;
    }
    if (index + 1 >= argc) return std::nullopt;  // value missing: no message
    const wchar_t* value = argv[index + 1];
    if (isResult) {
      result.resultsPath = value;
    } else {
      result.tasks.push_back({std::wstring(task->name), value});
    }
    index += 2;
  }
  if (result.tasks.empty() || result.tasks.size() > kMaxTasks) {
    std::fputws(UsageText().c_str(), errorStream);
    return std::nullopt;
  }
  return result;
}
