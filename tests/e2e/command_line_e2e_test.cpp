// A rejected command line: exit code 101, the exact message (or none) as a
// caller reads it from a pipe, and nothing changed: no task line, no results
// file, no registry change, no child process.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using MachineCommandLine = MachineTest;

constexpr char kUsage[] =
    "usage: UlvexSystemSetup [--result <file>] [--firewall-add] [--firewall-app <exe>] "
    "[--openxr-runtime <manifest>] [--clear-xr-env] [--remove-legacy-autostart] "
    "[--firewall-remove] [--firewall-app-remove <exe>] [--openxr-runtime-remove <manifest>] "
    "[--openxr-runtime-restore <manifest>]\r\n";

struct Sentinels {
  Sentinels() {
    SetMachineString(kOpenXrKey, L"ActiveRuntime", L"C:\\before.json");
    SetMachineString(kEnvironmentKey, L"XR_RUNTIME_JSON", L"C:\\override.json");
    SetMachineString(kRunKey, L"UlvexHub", L"C:\\old\\hub.exe");
  }
  void ExpectUnchanged() const {
    const std::optional<RegistryValue> runtime = ReadMachineValue(kOpenXrKey, L"ActiveRuntime");
    const std::optional<RegistryValue> xr = ReadMachineValue(kEnvironmentKey, L"XR_RUNTIME_JSON");
    const std::optional<RegistryValue> hub = ReadMachineValue(kRunKey, L"UlvexHub");
    ASSERT_TRUE(runtime && xr && hub);
    EXPECT_EQ(RegistryString(*runtime), L"C:\\before.json");
    EXPECT_EQ(RegistryString(*xr), L"C:\\override.json");
    EXPECT_EQ(RegistryString(*hub), L"C:\\old\\hub.exe");
  }
  ~Sentinels() { DeleteMachineValueForTest(kEnvironmentKey, L"XR_RUNTIME_JSON"); }
};

TEST_F(MachineCommandLine, RejectedCommandLinesChangeNothing) {
  TempDirectory dir;
  RecorderSession recorder(dir, L"0");
  const std::wstring results = QuoteArgument(dir.File(L"r.txt"));
  const std::wstring allTasks =
      L" --openxr-runtime C:\\new.json --clear-xr-env --remove-legacy-autostart --firewall-add";
  const struct {
    std::wstring arguments;
    std::string err;
  } cases[] = {
      {L"", kUsage},
      {L"--result " + results, kUsage},
      {L"--result --firewall-add", kUsage},
      {L"--result " + results + allTasks + L" --firewall-add --firewall-add", kUsage},
      {L"--result " + results + allTasks + L" --firewall-app", ""},
      {L"--result " + results + allTasks + L" --result", ""},
      {L"--result " + results + L" --Firewall-Add", "unknown argument: --Firewall-Add\r\n"},
      {L"--result " + results + L" -firewall-add", "unknown argument: -firewall-add\r\n"},
      {L"--result " + results + L" /firewall-add", "unknown argument: /firewall-add\r\n"},
      {L"--result " + results + allTasks + L" \"\"", "unknown argument: \r\n"},
      {L"--result " + results + allTasks + L" \"--bogus option\"",
       "unknown argument: --bogus option\r\n"},
      // Beyond ASCII: whole, in UTF-8.
      {L"--a\x20AC" L"b", "unknown argument: --a\xE2\x82\xAC" "b\r\n"},
      {L"--\x65E5\x672C", "unknown argument: --\xE6\x97\xA5\xE6\x9C\xAC\r\n"},
      {allTasks + L" --f\x00EFrewall-add", "unknown argument: --f\xC3\xAFrewall-add\r\n"},
      {L"\"D:\\\x30C4\x30FC\x30EB\\\xD840\xDC0B \x8A2D\x5B9A.exe\"",
       "unknown argument: D:\\\xE3\x83\x84\xE3\x83\xBC\xE3\x83\xAB\\\xF0\xA0\x80\x8B "
       "\xE8\xA8\xAD\xE5\xAE\x9A.exe\r\n"},
      {L"--x\xD800y", "unknown argument: --x\xEF\xBF\xBDy\r\n"},  // a lone surrogate
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.arguments));
    const Sentinels sentinels;
    const ProcessOutput run = RunProgram(c.arguments);
    EXPECT_EQ(run.exitCode, 101u);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(FileExists(dir.File(L"r.txt")));
    sentinels.ExpectUnchanged();
  }
  EXPECT_TRUE(recorder.Starts().empty()) << "netsh must not run";
}

}  // namespace
