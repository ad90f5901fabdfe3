// The calling guide's example caller, run against the real program: what it
// reports is what a desktop program following the guide would learn.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using MachineElevatedCaller = MachineTest;

TEST_F(MachineElevatedCaller, ReportsEachTaskOrWhyThereAreNone) {
  TempDirectory dir;
  const struct {
    std::wstring results;
    std::wstring options;
    DWORD exitCode;
    std::string out;
  } cases[] = {
      {dir.File(L"setup results.txt"), L"--openxr-runtime C:\\Rt\\runtime.json --openxr-runtime \"\"",
       2, "openxr-runtime: ok\r\nopenxr-runtime: failed with code 87\r\n"},
      {dir.File(L"r.txt"), L"--bogus", 101, "refused: exit code 101, no task ran\r\n"},
      {dir.File(L"no-such-dir\\r.txt"), L"--remove-legacy-autostart", 0,
       "did not complete: exit code 0 but no results file\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.options));
    const ProcessOutput run =
        RunCommandLine(QuoteArgument(ToolPath(L"elevated_caller.exe")) + L" " +
                       QuoteArgument(ProgramPath()) + L" " + QuoteArgument(c.results) + L" " +
                       c.options);
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_EQ(run.out, c.out);
  }
  const std::optional<RegistryValue> runtime = ReadMachineValue(kOpenXrKey, L"ActiveRuntime");
  ASSERT_TRUE(runtime);
  EXPECT_EQ(RegistryString(*runtime), L"C:\\Rt\\runtime.json");
}

}  // namespace
