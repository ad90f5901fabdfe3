// firewall-add as a caller sees it, with a recorder standing in for netsh.
#include <gtest/gtest.h>

#include <chrono>

#include "test_support.h"

namespace {

using MachinePortRule = MachineTest;
using MachinePortRuleSlow = MachineTest;

std::wstring SystemDirectory() {
  wchar_t path[MAX_PATH];
  return std::wstring(path, GetSystemDirectoryW(path, MAX_PATH));
}

std::vector<std::wstring> NetshCommandLines() {
  const std::wstring netsh = L"\"" + SystemDirectory() + L"\\netsh.exe\" advfirewall firewall ";
  return {
      netsh + L"delete rule name=\"Ulvex Eyetracking (UDP 9000)\"",
      netsh + L"delete rule name=\"Ulvex Eyetracking (UDP 47900)\"",
      netsh + L"add rule name=\"Ulvex Eyetracking (UDP 47900)\" dir=in action=allow "
              L"protocol=UDP localport=47900 profile=any",
  };
}

std::vector<std::wstring> CommandLines(const std::vector<RecordedStart>& starts) {
  std::vector<std::wstring> lines;
  for (const RecordedStart& start : starts) lines.push_back(start.commandLine);
  return lines;
}

TEST_F(MachinePortRule, RunsNetshThreeTimesHiddenInOrder) {
  TempDirectory dir;
  RecorderSession recorder(dir, L"1,1,0");  // no old rules to delete
  const ProcessOutput run = RunProgram(L"--firewall-add");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.out, "task=firewall-add ok=1 code=0\r\n");
  EXPECT_EQ(run.err, "");
  const std::vector<RecordedStart> starts = recorder.Starts();
  EXPECT_EQ(CommandLines(starts), NetshCommandLines());
  for (const RecordedStart& start : starts) {
    EXPECT_TRUE(start.flags & STARTF_USESHOWWINDOW);
    EXPECT_EQ(start.show, static_cast<unsigned>(SW_HIDE));
  }
}

TEST_F(MachinePortRule, TaskCodeIsTheAddRunsCode) {
  TempDirectory dir;
  RecorderSession recorder(dir, L"0,0,7");
  const ProcessOutput run = RunProgram(L"--firewall-add");
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_EQ(run.out, "task=firewall-add ok=0 code=7\r\n");
  EXPECT_EQ(recorder.Starts().size(), 3u);
}

TEST_F(MachinePortRule, FiveTasksEachRunAllThreeAndReportTheirOwnAdd) {
  TempDirectory dir;
  const std::wstring results = dir.File(L"r.txt");
  RecorderSession recorder(dir, L"1,1,0, 0,0,9, 5,5,0, 0,0,0, 1,1,3");
  const ProcessOutput run = RunProgram(L"--result " + QuoteArgument(results) +
                                       L" --firewall-add --firewall-add --firewall-add "
                                       L"--firewall-add --firewall-add");
  EXPECT_EQ(run.exitCode, 2u | 16u);
  EXPECT_EQ(run.out,
            "task=firewall-add ok=1 code=0\r\n"
            "task=firewall-add ok=0 code=9\r\n"
            "task=firewall-add ok=1 code=0\r\n"
            "task=firewall-add ok=1 code=0\r\n"
            "task=firewall-add ok=0 code=3\r\n");
  EXPECT_EQ(ReadBytes(results),
            "\xEF\xBB\xBF"
            "firewall-add=ok\r\nfirewall-add=fail:9\r\nfirewall-add=ok\r\n"
            "firewall-add=ok\r\nfirewall-add=fail:3\r\n");
  std::vector<std::wstring> expected;
  for (int i = 0; i < 5; ++i) {
    for (const std::wstring& line : NetshCommandLines()) expected.push_back(line);
  }
  EXPECT_EQ(CommandLines(recorder.Starts()), expected);
}

TEST_F(MachinePortRule, NetshToolMissingReportsTheStartError) {
  TempDirectory dir;
  RecorderSession recorder(dir, L"0");
  const std::wstring netsh = SystemDirectory() + L"\\netsh.exe";
  const std::wstring parked = SystemDirectory() + L"\\netsh.exe.parked";
  ASSERT_TRUE(MoveFileW(netsh.c_str(), parked.c_str()));
  const ProcessOutput run = RunProgram(L"--firewall-add --remove-legacy-autostart");
  ASSERT_TRUE(MoveFileW(parked.c_str(), netsh.c_str()));
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_EQ(run.out,
            "task=firewall-add ok=0 code=2\r\ntask=remove-legacy-autostart ok=1 code=0\r\n");
  EXPECT_TRUE(recorder.Starts().empty());
}

TEST_F(MachinePortRuleSlow, AddRunOverrunningSixtySecondsIsTerminatedWith258) {
  TempDirectory dir;
  // The add run would sleep ten minutes: ending well before that means it was cut off.
  RecorderSession recorder(dir, L"0,0,0", L"0,0,600000");
  const auto start = std::chrono::steady_clock::now();
  const ProcessOutput run = RunProgram(L"--firewall-add");
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_EQ(run.out, "task=firewall-add ok=0 code=258\r\n");
  EXPECT_GE(elapsed, std::chrono::seconds(60));
  EXPECT_LT(elapsed, std::chrono::seconds(240));
  EXPECT_EQ(recorder.Starts().size(), 3u);
}

}  // namespace
