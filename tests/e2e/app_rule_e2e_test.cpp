// firewall-app as a caller sees it, with a recorder standing in for PowerShell.
#include <gtest/gtest.h>

#include <chrono>

#include "actions/app_firewall_rule.h"
#include "test_support.h"

namespace {

using MachineAppRule = MachineTest;
using MachineAppRuleSlow = MachineTest;

// A file (or, with a trailing backslash, a folder) that exists for one test;
// a folder it had to create for it goes too.
class ScopedPath {
 public:
  explicit ScopedPath(std::wstring path) : path_(std::move(path)) {
    const std::wstring folder = path_.substr(0, path_.find_last_of(L'\\'));
    if (CreateDirectoryW(folder.c_str(), nullptr)) createdFolder_ = folder;
    if (path_.back() != L'\\') WriteBytes(path_, "MZ");
  }
  ~ScopedPath() {
    if (path_.back() != L'\\') DeleteFileW(path_.c_str());
    if (!createdFolder_.empty()) RemoveDirectoryW(createdFolder_.c_str());
  }

 private:
  std::wstring path_;
  std::wstring createdFolder_;
};

TEST_F(MachineAppRule, RunsPowerShellOnceWithTheWholeScript) {
  TempDirectory dir;
  const ScopedPath viewer(L"C:\\Apps\\Viewer.exe");
  RecorderSession recorder(dir, L"0,5");
  const ProcessOutput run =
      RunProgram(L"--firewall-app C:\\Apps\\Viewer.exe --firewall-app C:\\Apps\\Viewer.exe");
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_EQ(run.out, "task=firewall-app ok=1 code=0\r\ntask=firewall-app ok=0 code=5\r\n");
  const std::vector<RecordedStart> starts = recorder.Starts();
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(PowerShellScript(starts[0]), BuildApplicationRuleScript(L"C:\\Apps\\Viewer.exe"));
  ExpectHidden(starts[0]);
}

TEST_F(MachineAppRule, UnusablePathFailsAndStartsNothing) {
  TempDirectory dir;
  RecorderSession recorder(dir, L"0");
  WriteBytes(dir.File(L"Viewer.exe"), "MZ");
  // Removal needs no file, but a path: none holds a double quote. With one,
  // "x\"\..\" still finds the file, but PowerShell would read another path.
  const ProcessOutput run = RunProgram(L"--firewall-app \"\" --firewall-app " +
                                       QuoteArgument(dir.File(L"missing.exe")) +
                                       L" --firewall-app-remove \"\" --firewall-app-remove \"C:\\a\\\"b.exe\"" +
                                       L" --firewall-app " + QuoteArgument(dir.File(L"x\"\\..\\Viewer.exe")));
  EXPECT_EQ(run.exitCode, 31u);
  EXPECT_EQ(run.out,
            "task=firewall-app ok=0 code=2\r\ntask=firewall-app ok=0 code=2\r\n"
            "task=firewall-app-remove ok=0 code=87\r\ntask=firewall-app-remove ok=0 code=87\r\n"
            "task=firewall-app ok=0 code=87\r\n");
  // What -Command "..." cannot carry is refused by the runner itself.
  for (const wchar_t* script : {L"Write-Output \"x\"", L"Write-Output x\\"}) {
    EXPECT_EQ(RunPowerShellScript(script), 87u) << ToUtf8(script);
  }
  EXPECT_TRUE(recorder.Starts().empty());
}

TEST_F(MachineAppRule, PathsReachPowerShellAsExactLiterals) {
  TempDirectory dir;
  // Each path is allowed, then removed (twice: the file need not exist). The
  // scripts are saved for the PowerShell engine checks, which parse them and
  // run the program on each task again, against PowerShell for Windows.
  const struct {
    std::wstring path;
    std::wstring displayName;
  } cases[] = {
      {dir.File(L"Apps\\"), L"ULVEX "},  // an existing folder
      {dir.File(L"x'\\"), L"ULVEX "},
      {dir.File(L"Bob's Apps\\Viewer.exe"), L"ULVEX Viewer"},
      {dir.File(L"end'"), L"ULVEX end'"},
      // Each of PowerShell's five single quotes can end a literal.
      {dir.File(L"a\x2019;Start-Process calc;\x2019.exe"), L"ULVEX a\x2019;Start-Process calc;\x2019"},
      {dir.File(L"a\x2018;calc;\x2018 \x201A;calc;\x201B.exe"), L"ULVEX a\x2018;calc;\x2018 \x201A;calc;\x201B"},
      {dir.File(L"''\x2019\x2019\x201B'\x2018.exe"), L"ULVEX ''\x2019\x2019\x201B'\x2018"},
      {dir.File(L"q\x2018\x2019\x201A\x201B'' $x `; {}\x201C\x201D\x201E.exe"),
       L"ULVEX q\x2018\x2019\x201A\x201B'' $x `; {}\x201C\x201D\x201E"},
      {dir.File(L"$(calc)\\`$env:x` ; { } Caf\x00E9 \x4E2D.exe"), L"ULVEX `$env:x` ; { } Caf\x00E9 \x4E2D"},
      // Pattern characters: the look-ups must match these names and paths exactly.
      {dir.File(L"[GOG] Foo\\Foo [x64.exe"), L"ULVEX Foo [x64"},
      {dir.File(L"[GOG] O'Brien\\O'Brien [x64] `v2 Tool.exe"), L"ULVEX O'Brien [x64] `v2 Tool"},
  };
  int row = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.path));
    RecorderSession recorder(dir, L"0,0,1");
    const std::wstring removal = L" --firewall-app-remove " + QuoteArgument(c.path);
    {
      const ScopedPath file(c.path);
      EXPECT_EQ(RunProgram(L"--firewall-app " + QuoteArgument(c.path) + removal).out,
                "task=firewall-app ok=1 code=0\r\ntask=firewall-app-remove ok=1 code=0\r\n");
    }
    EXPECT_EQ(RunProgram(removal).out, "task=firewall-app-remove ok=0 code=1\r\n");
    const std::vector<RecordedStart> starts = recorder.Starts();
    ASSERT_EQ(starts.size(), 3u);
    EXPECT_EQ(PowerShellScript(starts[2]), PowerShellScript(starts[1]));
    const std::wstring name = L"row" + std::to_wstring(++row);
    SavePowerShellScript(name + L".firewall-app", c.path, c.displayName, PowerShellScript(starts[0]));
    SavePowerShellScript(name + L".firewall-app-remove", c.path, c.displayName,
                         PowerShellScript(starts[1]));
    DeleteFileW(dir.File(L"recorder.log").c_str());
  }
}

TEST_F(MachineAppRule, ForwardSlashesAndBareNamesAreUsedAsGiven) {
  TempDirectory dir;
  const ScopedPath viewer(L"C:\\Apps\\Viewer.exe");
  RecorderSession recorder(dir, L"0,0");
  // Relative to the program's current directory, which it inherits from us.
  wchar_t cwd[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, cwd);
  SetCurrentDirectoryW(L"C:\\Apps");
  const ProcessOutput run = RunProgram(L"--firewall-app C:/Apps/Viewer.exe --firewall-app Viewer.exe");
  SetCurrentDirectoryW(cwd);
  EXPECT_EQ(run.exitCode, 0u);
  const std::vector<RecordedStart> starts = recorder.Starts();
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(PowerShellScript(starts[0]), BuildApplicationRuleScript(L"C:/Apps/Viewer.exe"));
  EXPECT_EQ(PowerShellScript(starts[1]), BuildApplicationRuleScript(L"Viewer.exe"));
}

TEST_F(MachineAppRuleSlow, PowerShellOverrunningTwoMinutesIsTerminatedWith258) {
  TempDirectory dir;
  const std::wstring program = dir.File(L"Viewer.exe");
  WriteBytes(program, "MZ");
  RecorderSession recorder(dir, L"0", L"600000");  // ten minutes, as in the netsh test
  const auto start = std::chrono::steady_clock::now();
  const ProcessOutput run = RunProgram(L"--firewall-app " + QuoteArgument(program));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_EQ(run.out, "task=firewall-app ok=0 code=258\r\n");
  EXPECT_GE(elapsed, std::chrono::seconds(120));
  EXPECT_LT(elapsed, std::chrono::seconds(180));
}

}  // namespace
