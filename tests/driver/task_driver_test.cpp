#include "driver/task_driver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

// Fake actions: the argument is the code to return; every call is logged.
std::vector<std::wstring> g_calls;

ResultCode AlphaAction(const std::wstring& argument) {
  g_calls.push_back(L"alpha:" + argument);
  return std::wcstoul(argument.c_str(), nullptr, 10);
}

ResultCode BetaAction(const std::wstring& argument) {
  g_calls.push_back(L"beta:" + argument);
  return std::wcstoul(argument.c_str(), nullptr, 10);
}

constexpr TaskAction kFakeTable[] = {{L"alpha", &AlphaAction}, {L"beta", &BetaAction}};

struct Executed {
  std::vector<TaskResult> results;
  std::string output;
};

Executed Execute(const std::vector<TaskRequest>& tasks) {
  g_calls.clear();
  CapturedStream output;
  Executed executed;
  executed.results = ExecuteTasks(tasks, kFakeTable, output.Get());
  executed.output = output.Bytes();
  return executed;
}

TEST(ExecuteTasks, RunsEveryTaskInOrderAndPrintsOneLineEach) {
  const Executed executed =
      Execute({{L"alpha", L"0"}, {L"beta", L"5"}, {L"alpha", L"4294967295"}, {L"alpha", L"0"}});
  EXPECT_EQ(g_calls, (std::vector<std::wstring>{L"alpha:0", L"beta:5", L"alpha:4294967295",
                                                 L"alpha:0"}));
  EXPECT_EQ(executed.output,
            "task=alpha ok=1 code=0\r\n"
            "task=beta ok=0 code=5\r\n"
            "task=alpha ok=0 code=4294967295\r\n"
            "task=alpha ok=1 code=0\r\n");
  ASSERT_EQ(executed.results.size(), 4u);
  EXPECT_EQ(executed.results[1].name, L"beta");
  EXPECT_EQ(executed.results[1].code, 5u);
  EXPECT_EQ(executed.results[2].code, 4294967295u);
}

TEST(ExecuteTasks, UnknownOrNearMissNamesSucceedWithoutCallingAnything) {
  const Executed executed = Execute({{L"alph", L"7"}, {L"alphaa", L"7"}, {L"Alpha", L"7"}});
  EXPECT_TRUE(g_calls.empty());
  EXPECT_EQ(executed.output,
            "task=alph ok=1 code=0\r\ntask=alphaa ok=1 code=0\r\ntask=Alpha ok=1 code=0\r\n");
}

TEST(FailureMask, SetsBitJForFailedTaskJ) {
  const struct {
    std::vector<ResultCode> codes;
    unsigned long mask;
  } cases[] = {
      {{0}, 0},
      {{1}, 1},
      {{0, 5, 0}, 2},
      {{0, 0, 0, 0, 258}, 16},
      {{2, 87, 1, 258, 4294967295u}, 31},
      {{0, 0, 0, 0, 0}, 0},
  };
  for (const auto& c : cases) {
    std::vector<TaskResult> results;
    for (ResultCode code : c.codes) results.push_back({L"alpha", code});
    EXPECT_EQ(FailureMask(results), c.mask) << "tasks: " << c.codes.size();
  }
}

}  // namespace
