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
  EXPECT_EQ(SplitScript(RecordedScript(starts[0]), kApplicationRuleScriptPieces),
            (std::vector<std::wstring>{L"C:\\Apps\\Viewer.exe", L"ULVEX Viewer", L"ULVEX Viewer"}));
  ExpectHidden(starts[0]);
}

TEST_F(MachineAppRule, EmptyOrMissingPathFailsWith2AndStartsNothing) {
  TempDirectory dir;
  RecorderSession recorder(dir, L"0");
  // Removal needs no file, but a path: none holds a double quote.
  const ProcessOutput run = RunProgram(L"--firewall-app \"\" --firewall-app " +
                                       QuoteArgument(dir.File(L"missing.exe")) +
                                       L" --firewall-app-remove \"\" --firewall-app-remove \"C:\\a\\\"b.exe\"");
  EXPECT_EQ(run.exitCode, 15u);
  EXPECT_EQ(run.out,
            "task=firewall-app ok=0 code=2\r\ntask=firewall-app ok=0 code=2\r\n"
            "task=firewall-app-remove ok=0 code=87\r\ntask=firewall-app-remove ok=0 code=87\r\n");
  EXPECT_TRUE(recorder.Starts().empty());
}

TEST_F(MachineAppRule, PathsReachPowerShellAsExactLiterals) {
  TempDirectory dir;
  // Each path is allowed, then removed (twice: the file need not exist).
  const struct {
    std::wstring path;
    std::wstring displayName;
    std::wstring escapedPath = {};  // for the look-ups, where they differ
    std::wstring escapedName = {};
  } cases[] = {
      {dir.File(L"Apps\\"), L"ULVEX "},  // an existing folder
      {dir.File(L"Bob's Apps\\Viewer.exe"), L"ULVEX Viewer"},
      {dir.File(L"a\x2019;Start-Process calc;\x2019.exe"), L"ULVEX a\x2019;Start-Process calc;\x2019"},
      // Every kind of quote PowerShell knows, and a backtick.
      {dir.File(L"q\x2018\x2019\x201A\x201B'' $x `; {}\x201C\x201D\x201E.exe"),
       L"ULVEX q\x2018\x2019\x201A\x201B'' $x `; {}\x201C\x201D\x201E",
       dir.File(L"q\x2018\x2019\x201A\x201B'' $x ``; {}\x201C\x201D\x201E.exe"),
       L"ULVEX q\x2018\x2019\x201A\x201B'' $x ``; {}\x201C\x201D\x201E"},
      {dir.File(L"[GOG] Foo\\Foo [x64.exe"), L"ULVEX Foo [x64",
       dir.File(L"`[GOG`] Foo\\Foo `[x64.exe"), L"ULVEX Foo `[x64"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.path));
    const bool pattern = !c.escapedPath.empty();
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
    const std::vector<std::wstring> literals =
        pattern ? std::vector<std::wstring>{c.path, c.escapedPath, c.escapedName, c.displayName}
                : std::vector<std::wstring>{c.path, c.displayName, c.displayName};
    EXPECT_EQ(SplitScript(RecordedScript(starts[0]), pattern ? kApplicationRulePatternScriptPieces
                                                             : kApplicationRuleScriptPieces),
              literals);
    for (const RecordedStart& start : {starts[1], starts[2]}) {
      EXPECT_EQ(SplitScript(RecordedScript(start), kApplicationRuleRemovalScriptPieces),
                (std::vector<std::wstring>{c.path, pattern ? c.escapedName : c.displayName}));
    }
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
  EXPECT_LT(elapsed, std::chrono::seconds(180));
}

}  // namespace
