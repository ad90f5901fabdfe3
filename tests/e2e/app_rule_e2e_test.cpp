// firewall-app as a caller sees it, with a recorder standing in for PowerShell.
#include <gtest/gtest.h>

#include <chrono>

#include "powershell_literal_reader.h"
#include "test_support.h"

namespace {

using MachineAppRule = MachineTest;
using MachineAppRuleSlow = MachineTest;

std::wstring PowerShellPrefix() {
  wchar_t path[MAX_PATH];
  const std::wstring system(path, GetSystemDirectoryW(path, MAX_PATH));
  return L"\"" + system +
         L"\\WindowsPowerShell\\v1.0\\powershell.exe\" -NoProfile -NonInteractive "
         L"-ExecutionPolicy Bypass -Command \"";
}

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

// The script from the recorded command line, after checking what surrounds it.
std::wstring RecordedScript(const RecordedStart& start) {
  const std::wstring prefix = PowerShellPrefix();
  EXPECT_EQ(start.commandLine.compare(0, prefix.size(), prefix), 0);
  EXPECT_EQ(start.commandLine.back(), L'"');
  return start.commandLine.substr(prefix.size(), start.commandLine.size() - prefix.size() - 1);
}

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
  EXPECT_EQ(starts[0].commandLine,
            PowerShellPrefix() +
                L"$ErrorActionPreference='Stop'; $p='C:\\Apps\\Viewer.exe'; "
                L"Get-NetFirewallApplicationFilter -Program $p -ErrorAction SilentlyContinue | "
                L"Get-NetFirewallRule | Where-Object { $_.Action -eq 'Block' } | "
                L"Remove-NetFirewallRule; Get-NetFirewallRule -DisplayName 'ULVEX Viewer' "
                L"-ErrorAction SilentlyContinue | Remove-NetFirewallRule; New-NetFirewallRule "
                L"-DisplayName 'ULVEX Viewer' -Program $p -Direction Inbound -Action Allow "
                L"-Profile Any -Enabled True | Out-Null\"");
  EXPECT_TRUE(starts[0].flags & STARTF_USESHOWWINDOW);
  EXPECT_EQ(starts[0].show, static_cast<unsigned>(SW_HIDE));
}

TEST_F(MachineAppRule, EmptyOrMissingPathFailsWith2AndStartsNothing) {
  TempDirectory dir;
  RecorderSession recorder(dir, L"0");
  const ProcessOutput run = RunProgram(L"--firewall-app \"\" --firewall-app " +
                                       QuoteArgument(dir.File(L"missing.exe")));
  EXPECT_EQ(run.exitCode, 3u);
  EXPECT_EQ(run.out, "task=firewall-app ok=0 code=2\r\ntask=firewall-app ok=0 code=2\r\n");
  EXPECT_TRUE(recorder.Starts().empty());
}

TEST_F(MachineAppRule, PathsReachPowerShellAsExactLiterals) {
  TempDirectory dir;
  const struct {
    std::wstring path;
    std::wstring displayName;
  } cases[] = {
      {dir.File(L"Apps\\"), L"ULVEX "},  // an existing folder
      {dir.File(L"Bob's Apps\\Viewer.exe"), L"ULVEX Viewer"},
      {dir.File(L"a\x2019;Start-Process calc;\x2019.exe"), L"ULVEX a\x2019;Start-Process calc;\x2019"},
      {dir.File(L"q\x2018\x201A\x201B'' $x `; {}.exe"), L"ULVEX q\x2018\x201A\x201B'' $x `; {}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.path));
    const ScopedPath file(c.path);
    RecorderSession recorder(dir, L"0");
    const ProcessOutput run = RunProgram(L"--firewall-app " + QuoteArgument(c.path));
    EXPECT_EQ(run.out, "task=firewall-app ok=1 code=0\r\n");
    const std::vector<RecordedStart> starts = recorder.Starts();
    ASSERT_EQ(starts.size(), 1u);
    const std::vector<std::wstring> literals =
        SplitScript(RecordedScript(starts[0]), kApplicationRuleScriptPieces);
    EXPECT_EQ(literals, (std::vector<std::wstring>{c.path, c.displayName, c.displayName}));
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
  EXPECT_EQ(SplitScript(RecordedScript(starts[0]), kApplicationRuleScriptPieces),
            (std::vector<std::wstring>{L"C:/Apps/Viewer.exe", L"ULVEX Viewer", L"ULVEX Viewer"}));
  EXPECT_EQ(SplitScript(RecordedScript(starts[1]), kApplicationRuleScriptPieces),
            (std::vector<std::wstring>{L"Viewer.exe", L"ULVEX Viewer", L"ULVEX Viewer"}));
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
  EXPECT_LT(elapsed, std::chrono::seconds(280));
}

}  // namespace
