#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "argument_generator.h"
#include "driver/command_line.h"
#include "test_support.h"

namespace {

TEST(ParseCommandLineProperty, AnyArgumentVectorGivesOneToFiveKnownTasksOrARejection) {
  const std::set<std::wstring> taskNames = {
      L"firewall-add",    L"firewall-app",        L"openxr-runtime",
      L"clear-xr-env",    L"remove-legacy-autostart",
      L"firewall-remove", L"firewall-app-remove", L"openxr-runtime-remove",
      L"openxr-runtime-restore"};
  const std::set<std::wstring> valueTasks = {L"firewall-app", L"openxr-runtime",
                                             L"firewall-app-remove", L"openxr-runtime-remove",
                                             L"openxr-runtime-restore"};
  FILE* discard = nullptr;
  ASSERT_EQ(_wfopen_s(&discard, L"NUL", L"w"), 0);
  ArgumentGenerator generator(/*seed=*/20261207, /*longArgumentLength=*/32000);
  std::size_t accepted = 0;
  constexpr int kVectors = 100000;
  for (int i = 0; i < kVectors; ++i) {
    std::vector<std::wstring> arguments = generator.Next();
    arguments.insert(arguments.begin(), L"UlvexSystemSetup.exe");
    std::vector<const wchar_t*> argv;
    for (const std::wstring& argument : arguments) argv.push_back(argument.c_str());
    const std::optional<CommandLine> parsed =
        ParseCommandLine(static_cast<int>(argv.size()), argv.data(), discard);
    if (!parsed) continue;
    ++accepted;
    const auto given = [&](const std::wstring& text) {
      return std::find(arguments.begin() + 1, arguments.end(), text) != arguments.end();
    };
    ASSERT_GE(parsed->tasks.size(), 1u) << "vector " << i;
    ASSERT_LE(parsed->tasks.size(), 5u) << "vector " << i;
    for (const TaskRequest& task : parsed->tasks) {
      ASSERT_TRUE(taskNames.count(task.name)) << "vector " << i;
      ASSERT_TRUE(valueTasks.count(task.name) ? given(task.argument) : task.argument.empty())
          << "vector " << i;
    }
    ASSERT_TRUE(parsed->resultsPath.empty() || given(parsed->resultsPath)) << "vector " << i;
  }
  std::fclose(discard);
  // Both outcomes must be common, or the generator is not exploring.
  EXPECT_GT(accepted, kVectors / 20u);
  EXPECT_LT(accepted, kVectors - kVectors / 20u);
}

}  // namespace
