#include "driver/command_line.h"

#include <cwchar>
#include <string_view>

namespace {

struct OptionSpec {
  std::wstring_view option;
  const wchar_t* task;  // nullptr for --result
  bool takesValue;
};

constexpr OptionSpec kOptions[] = {
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

const OptionSpec* FindOption(std::wstring_view argument) {
  for (const OptionSpec& spec : kOptions) {
    if (spec.option == argument) return &spec;
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
    const OptionSpec* spec = FindOption(argument);
    if (spec == nullptr) {
      std::fwprintf(errorStream, L"unknown argument: %ls\n", argument);
      return std::nullopt;
    }
    if (!spec->takesValue) {
      result.tasks.push_back({spec->task, {}});
      index += 1;
      continue;
    }
    if (index + 1 >= argc) return std::nullopt;  // value missing: no message
    const wchar_t* value = argv[index + 1];
    if (spec->task == nullptr) {
      result.resultsPath = value;
    } else {
      result.tasks.push_back({spec->task, value});
    }
    index += 2;
  }
  if (result.tasks.empty() || result.tasks.size() > kMaxTasks) {
    std::fputws(kUsage, errorStream);
    return std::nullopt;
  }
  return result;
}
