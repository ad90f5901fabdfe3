#include "driver/command_line.h"

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
};

constexpr wchar_t kUsage[] =
    L"usage: UlvexSystemSetup [--result <file>] [--firewall-add] [--firewall-app <exe>] "
    L"[--openxr-runtime <manifest>] [--clear-xr-env] [--remove-legacy-autostart]\n";

const OptionEntry* FindOption(std::wstring_view argument) {
  for (const OptionEntry& entry : kOptions) {
    if (entry.option == argument) return &entry;
  }
  return nullptr;
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
      std::fwprintf(errorStream, L"unknown argument: %ls\n", argument);
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
