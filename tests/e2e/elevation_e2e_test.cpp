// Started without elevation (through a launcher that drops to the filtered
// token), the program refuses before any task.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using MachineElevation = MachineTest;

ProcessOutput RunProgramUnelevated(const std::wstring& arguments) {
  return RunCommandLine(QuoteArgument(ToolPath(L"test_unelevated_launcher.exe")) + L" " +
                        QuoteArgument(ProgramPath()) + L" " + arguments);
}

TEST_F(MachineElevation, NotElevatedRunsNoTaskAndWritesNoFile) {
  TempDirectory dir;
  RecorderSession recorder(dir, L"0");
  SetMachineString(kRunKey, L"UlvexHub", L"C:\\old\\hub.exe");
  const std::wstring results = dir.File(L"r.txt");
  const ProcessOutput run = RunProgramUnelevated(
      L"--result " + QuoteArgument(results) + L" --remove-legacy-autostart --firewall-add");
  EXPECT_EQ(run.exitCode, 100u);
  EXPECT_EQ(run.err, "administrator privileges required\r\n");
  EXPECT_EQ(run.out, "");
  EXPECT_FALSE(FileExists(results));
  EXPECT_TRUE(ReadMachineValue(kRunKey, L"UlvexHub"));
  EXPECT_TRUE(recorder.Starts().empty());
  DeleteMachineValueForTest(kRunKey, L"UlvexHub");
}

TEST_F(MachineElevation, CommandLineIsCheckedBeforeElevation) {
  const ProcessOutput run = RunProgramUnelevated(L"--firewall-add --nope");
  EXPECT_EQ(run.exitCode, 101u);
  EXPECT_EQ(run.err, "unknown argument: --nope\r\n");
}

}  // namespace
