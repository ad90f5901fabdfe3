// The real program on a few hundred generated command lines: the exit code is
// always one a caller can read, and a rejected command line leaves the
// program's registry keys exactly as they were.
#include <gtest/gtest.h>

#include <map>

#include "argument_generator.h"
#include "test_support.h"

namespace {

using MachineCommandLineFuzz = MachineTest;

using KeySnapshot = std::map<std::wstring, RegistryValue>;

KeySnapshot Snapshot(const wchar_t* subKey) {
  KeySnapshot snapshot;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != 0) {
    return snapshot;
  }
  for (DWORD index = 0;; ++index) {
    wchar_t name[16384];
    DWORD nameLength = 16384;
    if (RegEnumValueW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != 0) {
      break;
    }
    snapshot[name] = *ReadMachineValue(subKey, name);
  }
  RegCloseKey(key);
  return snapshot;
}

TEST_F(MachineCommandLineFuzz, ExitCodesStayInRangeAndRejectionsChangeNothing) {
  TempDirectory dir;
  RecorderSession recorder(dir, L"");  // every netsh/PowerShell start exits 0
  // Generated values can become results paths; keep those files in dir.
  wchar_t previousDirectory[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previousDirectory);
  ASSERT_TRUE(SetCurrentDirectoryW(dir.Path().c_str()));

  ArgumentGenerator generator(/*seed=*/47900, /*longArgumentLength=*/3000);
  int rejected = 0;
  constexpr int kRuns = 300;
  for (int run = 0; run < kRuns; ++run) {
    std::wstring commandLine;
    for (const std::wstring& argument : generator.Next()) commandLine += L" " + QuoteArgument(argument);
    SetMachineString(kOpenXrKey, L"ActiveRuntime", L"C:\\before.json");
    SetMachineString(kEnvironmentKey, L"XR_RUNTIME_JSON", L"C:\\override.json");
    SetMachineString(kRunKey, L"UlvexHub", L"C:\\old\\hub.exe");
    const std::vector<KeySnapshot> before = {Snapshot(kOpenXrKey), Snapshot(kEnvironmentKey),
                                             Snapshot(kRunKey)};

    const ProcessOutput result = RunProgram(commandLine);
    SCOPED_TRACE(testing::Message() << "run " << run << ": " << ToUtf8(commandLine.substr(0, 300)));
    ASSERT_TRUE(result.exitCode < 32 || result.exitCode == 100 || result.exitCode == 101)
        << result.exitCode;
    if (result.exitCode != 101) continue;
    ++rejected;
    EXPECT_EQ(result.out, "");
    const std::vector<KeySnapshot> after = {Snapshot(kOpenXrKey), Snapshot(kEnvironmentKey),
                                            Snapshot(kRunKey)};
    ASSERT_TRUE(before == after) << "a rejected command line changed the registry";
  }
  SetCurrentDirectoryW(previousDirectory);
  DeleteMachineValueForTest(kEnvironmentKey, L"XR_RUNTIME_JSON");
  // Both outcomes must be common, or the generator is not exploring.
  EXPECT_GT(rejected, kRuns / 10);
  EXPECT_LT(rejected, kRuns - kRuns / 10);
}

}  // namespace
