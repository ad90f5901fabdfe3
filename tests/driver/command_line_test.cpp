#include "driver/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

constexpr char kUsage[] =
    "usage: UlvexSystemSetup [--result <file>] [--firewall-add] [--firewall-app <exe>] "
    "[--openxr-runtime <manifest>] [--clear-xr-env] [--remove-legacy-autostart] "
    "[--firewall-remove] [--firewall-app-remove <exe>] [--openxr-runtime-remove <manifest>] "
    "[--openxr-runtime-restore <manifest>]\r\n";

struct Parsed {
  std::optional<CommandLine> commandLine;
  std::string errors;  // what went to the error stream
};

Parsed Parse(std::vector<std::wstring> args) {
  args.insert(args.begin(), L"C:\\any\\name.exe");
  std::vector<const wchar_t*> argv;
  for (const std::wstring& arg : args) argv.push_back(arg.c_str());
  CapturedStream errors;
  Parsed parsed;
  parsed.commandLine = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), errors.Get());
  parsed.errors = errors.Bytes();
  return parsed;
}

TEST(ParseCommandLine, RejectsWithTheMessageForEachSituation) {
  const struct {
    std::vector<std::wstring> args;
    std::string errors;
  } cases[] = {
      {{}, kUsage},
      {{L"--result", L"C:\\r.txt"}, kUsage},
      {{L"--result", L"--firewall-add"}, kUsage},
      {{L"--firewall-add", L"--firewall-add", L"--firewall-add", L"--firewall-add",
        L"--firewall-add", L"--firewall-add"},
       kUsage},
      {{L"--firewall-app"}, ""},
      {{L"--firewall-add", L"--openxr-runtime"}, ""},
      {{L"--firewall-add", L"--result"}, ""},
      {{L"--firewall-remove", L"--firewall-app-remove"}, ""},
      {{L"--firewall-remove", L"--openxr-runtime-remove"}, ""},
      {{L"--firewall-remove", L"--openxr-runtime-restore"}, ""},
      {{L"--Firewall-Add"}, "unknown argument: --Firewall-Add\r\n"},
      {{L"-firewall-add"}, "unknown argument: -firewall-add\r\n"},
      {{L"/firewall-add"}, "unknown argument: /firewall-add\r\n"},
      {{L"--firewall"}, "unknown argument: --firewall\r\n"},
      {{L"--firewall-add-"}, "unknown argument: --firewall-add-\r\n"},
      {{L"--firewall-Remove"}, "unknown argument: --firewall-Remove\r\n"},
      {{L"--result=C:\\r.txt", L"--firewall-add"}, "unknown argument: --result=C:\\r.txt\r\n"},
      {{L"--firewall-add", L""}, "unknown argument: \r\n"},
      {{L"--clear-xr-env", L"stray", L"--firewall-add"}, "unknown argument: stray\r\n"},
      // An unknown argument is reported even when the tasks before it are too many.
      {{L"--clear-xr-env", L"--clear-xr-env", L"--clear-xr-env", L"--clear-xr-env",
        L"--clear-xr-env", L"--clear-xr-env", L"x"},
       "unknown argument: x\r\n"},
      {{L"--result", L"r.txt", L"--firewall-app"}, ""},
  };
  for (const auto& c : cases) {
    std::wstring joined;
    for (const auto& arg : c.args) joined += L"[" + arg + L"]";
    SCOPED_TRACE(testing::Message() << "args " << joined.size() << " chars: "
                                    << std::string(joined.begin(), joined.end()));
    const Parsed parsed = Parse(c.args);
    EXPECT_FALSE(parsed.commandLine.has_value());
    EXPECT_EQ(parsed.errors, c.errors);
  }
}

TEST(ParseCommandLine, KeepsTasksInOrderWithTheirValues) {
  // A value is taken whole, even when it is empty or looks like an option.
  const struct {
    std::vector<std::wstring> args;
    std::vector<std::wstring> tasks;  // name=argument
  } cases[] = {
      {{L"--openxr-runtime", L"C:\\Rt\\runtime.json", L"--firewall-add", L"--firewall-app",
        L"--clear-xr-env", L"--remove-legacy-autostart", L"--firewall-app", L""},
       {L"openxr-runtime=C:\\Rt\\runtime.json", L"firewall-add=", L"firewall-app=--clear-xr-env",
        L"remove-legacy-autostart=", L"firewall-app="}},
      {{L"--firewall-remove", L"--openxr-runtime-remove", L"--firewall-remove",
        L"--firewall-app-remove", L"C:\\A b\\V.exe", L"--openxr-runtime-remove", L"",
        L"--openxr-runtime-restore", L"C:\\r.json"},
       {L"firewall-remove=", L"openxr-runtime-remove=--firewall-remove",
        L"firewall-app-remove=C:\\A b\\V.exe", L"openxr-runtime-remove=",
        L"openxr-runtime-restore=C:\\r.json"}},
  };
  for (const auto& c : cases) {
    const Parsed parsed = Parse(c.args);
    ASSERT_TRUE(parsed.commandLine);
    EXPECT_EQ(parsed.errors, "");
    std::vector<std::wstring> tasks;
    for (const TaskRequest& task : parsed.commandLine->tasks) {
      tasks.push_back(task.name + L"=" + task.argument);
    }
    EXPECT_EQ(tasks, c.tasks);
    EXPECT_TRUE(parsed.commandLine->resultsPath.empty());
  }
}

TEST(ParseCommandLine, LaterResultPathWins) {
  const Parsed parsed = Parse({L"--result", L"first.txt", L"--clear-xr-env", L"--result",
                               L"second.txt"});
  ASSERT_TRUE(parsed.commandLine);
  EXPECT_EQ(parsed.commandLine->resultsPath, L"second.txt");
  EXPECT_EQ(parsed.commandLine->tasks.size(), 1u);
}

TEST(ParseCommandLine, AcceptsUpToFiveTasksIncludingRepeats) {
  for (std::size_t count = 1; count <= 5; ++count) {
    const Parsed parsed = Parse(std::vector<std::wstring>(count, L"--firewall-add"));
    ASSERT_TRUE(parsed.commandLine) << count;
    EXPECT_EQ(parsed.commandLine->tasks.size(), count);
    EXPECT_EQ(parsed.errors, "");
  }
}

TEST(ParseCommandLine, ResultValueIsNotParsedAsATask) {
  const Parsed parsed = Parse({L"--result", L"--firewall-add", L"--clear-xr-env"});
  ASSERT_TRUE(parsed.commandLine);
  EXPECT_EQ(parsed.commandLine->resultsPath, L"--firewall-add");
  ASSERT_EQ(parsed.commandLine->tasks.size(), 1u);
  EXPECT_EQ(parsed.commandLine->tasks[0].name, L"clear-xr-env");
}

}  // namespace
