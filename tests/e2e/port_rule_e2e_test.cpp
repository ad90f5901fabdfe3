// firewall-add as a caller sees it, with a recorder standing in for netsh.
#include <gtest/gtest.h>

#include <chrono>

#include "test_support.h"

namespace {

using MachinePortRule = MachineTest;
using MachinePortRuleSlow = MachineTest;

TEST_F(MachinePortRule, RunsNetshThreeTimesHiddenInOrder) {
  TempDirectory dir;
  RecorderSession recorder(dir, L"1,1,0");  // no old rules to delete
  const ProcessOutput run = RunProgram(L"--firewall-add");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.out, "task=firewall-add ok=1 code=0\r\n");
  EXPECT_EQ(run.err, "");
  const std::vector<RecordedStart> starts = recorder.Starts();
  EXPECT_EQ(CommandLines(starts), NetshCommandLines());
  for (const RecordedStart& start : starts) ExpectHidden(start);
}

TEST_F(MachinePortRule, RemovalIsOnePowerShellRunForBothRules) {
  TempDirectory dir;
  RecorderSession recorder(dir, L"0,1");
  const ProcessOutput run = RunProgram(L"--firewall-remove --firewall-remove");
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_EQ(run.out, "task=firewall-remove ok=1 code=0\r\ntask=firewall-remove ok=0 code=1\r\n");
  // Not finding a rule is the one error that counts as success.
  const auto removeNamed = [](const wchar_t* port) {
    return L"Get-NetFirewallRule -DisplayName 'Ulvex Eyetracking (UDP " + std::wstring(port) +
           L")' -ErrorAction SilentlyContinue -ErrorVariable e | Remove-NetFirewallRule; $e | "
           L"Where-Object { $_.CategoryInfo.Category -ne 'ObjectNotFound' } | ForEach-Object { "
           L"throw $_ }";
  };
  const std::wstring commandLine =
      L"\"" + SystemDirectory() +
      L"\\WindowsPowerShell\\v1.0\\powershell.exe\" -NoProfile -NonInteractive -ExecutionPolicy "
      L"Bypass -Command \"$ErrorActionPreference='Stop'; Import-Module -Name ($PSHOME + "
      L"'\\Modules\\NetSecurity\\NetSecurity.psd1'); " +
      removeNamed(L"47900") + L"; " + removeNamed(L"9000") + L"\"";
  const std::vector<RecordedStart> starts = recorder.Starts();
  EXPECT_EQ(CommandLines(starts), (std::vector<std::wstring>{commandLine, commandLine}));
  for (const RecordedStart& start : starts) ExpectHidden(start);
  SavePowerShellScript(L"port.firewall-remove", L"", L"", PowerShellScript(starts[0]));
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
  // Every later test needs netsh back, whatever happens here.
  const struct PutBack {
    const std::wstring &from, &to;
    ~PutBack() { EXPECT_TRUE(MoveFileW(from.c_str(), to.c_str())); }
  } putBack{parked, netsh};
  const ProcessOutput run = RunProgram(L"--firewall-add --remove-legacy-autostart");
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
  EXPECT_LT(elapsed, std::chrono::seconds(90));
  EXPECT_EQ(recorder.Starts().size(), 3u);
}

}  // namespace
