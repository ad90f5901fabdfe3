// What a caller sees from the three registry tasks: exit code, console bytes,
// results file bytes, and the registry and broadcasts afterwards.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using MachineOpenXrRuntime = MachineTest;
using MachineClearXrEnv = MachineTest;
using MachineRegistryTasks = MachineTest;
using MachineRemoveLegacyAutostart = MachineTest;
using MachineResultsFile = MachineTest;

constexpr char kBom[] = "\xEF\xBB\xBF";
const std::vector<std::string> kEnvironmentBroadcast = {"wParam=0 lParam=Environment"};
// An AvailableRuntimes entry: 0 offers the runtime to switchers, 1 hides it.
const RegistryValue kOffered = {REG_DWORD, {0, 0, 0, 0}}, kHidden = {REG_DWORD, {1, 0, 0, 0}};

void ExpectMachineString(const wchar_t* key, const wchar_t* name, const std::wstring& expected) {
  EXPECT_EQ(ReadMachineValue(key, name), StringValue(expected)) << ToUtf8(name);
}

TEST_F(MachineOpenXrRuntime, CreatesTheKeyAndStoresThePathExactlyAsGiven) {
  DeleteMachineKeyForTest(L"SOFTWARE\\Khronos");
  // Not checked for existence, not normalised, not parsed.
  const std::wstring manifest = L"C:\\No Such\\r\x00FCntime \x2713.json";
  const ProcessOutput run = RunProgram(L"--openxr-runtime " + QuoteArgument(manifest));
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.out, "task=openxr-runtime ok=1 code=0\r\n");
  EXPECT_EQ(run.err, "");
  ExpectMachineString(kOpenXrKey, L"ActiveRuntime", manifest);
  EXPECT_EQ(ReadMachineValue(kAvailableRuntimesKey, manifest.c_str()), kOffered);
  // A volatile key (gone at the next reboot) refuses a lasting subkey (1021).
  const std::wstring probe = std::wstring(kOpenXrKey) + L"\\ulvex-probe";
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, probe.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_READ | KEY_WOW64_64KEY, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  DeleteMachineKeyForTest(probe.c_str());
}

TEST_F(MachineOpenXrRuntime, RemoveDeletesTheValueOnlyWhileItNamesThisManifest) {
  const struct {
    const wchar_t* before;  // nullptr: no value
    std::wstring argument;
    std::string out;
    bool deleted;
    DWORD type = REG_SZ;
  } cases[] = {
      {L"C:\\Rt\\R\x00FCntime.json", L"C:\\Rt\\R\x00FCntime.json", "ok=1 code=0", true},
      {L"C:\\Rt\\R\x00FCntime.json", L"c:\\rT\\r\x00DCNTIME.JSON", "ok=1 code=0", true},
      {L"C:\\Other\\runtime.json", L"C:\\Rt\\runtime.json", "ok=1 code=0", false},
      {L"C:\\Rt\\runtime.json", L"C:\\Rt\\.\\runtime.json", "ok=1 code=0", false},  // no normalising
      {L"C:\\Rt\\runtime.json", L"C:\\Rt\\runtime.jso", "ok=1 code=0", false},
      {L"C:\\Rt\\runtime.json", L"", "ok=0 code=87", false},
      {nullptr, L"C:\\Rt\\runtime.json", "ok=1 code=0", false},
      // As a switcher may write it; compared as stored, not expanded.
      {L"C:\\Rt\\runtime.json", L"c:\\rt\\RUNTIME.json", "ok=1 code=0", true, REG_EXPAND_SZ},
      {L"%SystemDrive%\\Rt\\runtime.json", L"C:\\Rt\\runtime.json", "ok=1 code=0", false,
       REG_EXPAND_SZ},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.argument));
    SetActiveRuntime(c.before ? std::optional(StringValue(c.before, c.type)) : std::nullopt);
    for (const wchar_t* listed : {c.before, c.argument.c_str()}) {
      if (listed && *listed) RegSetKeyValueW(HKEY_LOCAL_MACHINE, kAvailableRuntimesKey, listed,
                                             REG_DWORD, kOffered.data.data(), 4);
    }
    const ProcessOutput run = RunProgram(L"--openxr-runtime-remove " + QuoteArgument(c.argument));
    EXPECT_EQ(run.out, "task=openxr-runtime-remove " + c.out + "\r\n");
    // Delisted whether active or not; another runtime's entry stays.
    EXPECT_FALSE(ReadMachineValue(kAvailableRuntimesKey, c.argument.c_str()));
    if (c.before && !c.deleted) {
      EXPECT_EQ(ReadMachineValue(kOpenXrKey, L"ActiveRuntime"), StringValue(c.before, c.type));
      EXPECT_TRUE(ReadMachineValue(kAvailableRuntimesKey, c.before));
    } else {
      EXPECT_FALSE(ReadMachineValue(kOpenXrKey, L"ActiveRuntime"));
    }
  }
  DeleteMachineKeyForTest(L"SOFTWARE\\Khronos");
  const ProcessOutput run = RunProgram(L"--openxr-runtime-remove C:\\Rt\\runtime.json");
  EXPECT_EQ(run.out, "task=openxr-runtime-remove ok=1 code=0\r\n");
  EXPECT_FALSE(MachineKeyExists(L"SOFTWARE\\Khronos")) << "removing must not create the key";
}

TEST_F(MachineOpenXrRuntime, SecondOfTwoPathsWins) {
  SetMachineString(kOpenXrKey, L"ActiveRuntime", L"C:\\before.json");
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, kAvailableRuntimesKey, L"c:\\rt\\SECOND.JSON", REG_DWORD,
                  kHidden.data.data(), 4);
  const ProcessOutput run =
      RunProgram(L"--openxr-runtime C:\\first.json --openxr-runtime C:\\Rt\\second.json");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.out, "task=openxr-runtime ok=1 code=0\r\ntask=openxr-runtime ok=1 code=0\r\n");
  ExpectMachineString(kOpenXrKey, L"ActiveRuntime", L"C:\\Rt\\second.json");
  // Both are listed; an entry already there, under any letter case, is kept as it is.
  EXPECT_EQ(ReadMachineValue(kAvailableRuntimesKey, L"C:\\first.json"), kOffered);
  EXPECT_EQ(ReadMachineValue(kAvailableRuntimesKey, L"C:\\Rt\\second.json"), kHidden);
}

// Restore gives back the runtime an install displaced, only while none is
// active; no task takes a path the loader would resolve per application.
TEST_F(MachineOpenXrRuntime, RestoreOnlyWhileNoneIsActiveAndOnlyAbsolutePaths) {
  TempDirectory dir;
  const std::wstring previous = dir.File(L"previous.json");
  const std::wstring longPath = L"C:\\" + std::wstring(16397, L'a');
  WriteBytes(previous, "{}");
  const std::wstring restore = L"--openxr-runtime-restore ";
  const std::wstring ours = L"--openxr-runtime-remove C:\\ours.json ";
  const RegistryValue was = StringValue(previous), third = StringValue(L"C:\\Third\\r.json"),
                      dword = {REG_DWORD, {1, 0, 0, 0}};
  const std::string restored = "task=openxr-runtime-restore ok=1 code=0\r\n",
                    refused = "task=openxr-runtime-restore ok=0 code=",
                    removed = "task=openxr-runtime-remove ok=1 code=0\r\n",
                    set = "task=openxr-runtime ok=1 code=0\r\n",
                    rejected = "task=openxr-runtime ok=0 code=87\r\n";
  const struct {
    std::optional<RegistryValue> before, after;
    std::wstring arguments;
    std::string out;
    bool listed = false;  // AvailableRuntimes exists afterwards
    REGSAM denied = 0;    // on the OpenXR key while the program runs
  } cases[] = {
      {{}, was, restore + QuoteArgument(previous), restored},
      {StringValue(L""), was, restore + QuoteArgument(previous), restored},
      {third, third, restore + QuoteArgument(previous), restored},
      {dword, dword, restore + QuoteArgument(previous), restored},
      {{}, {}, restore + QuoteArgument(dir.File(L"gone.json")), refused + "2\r\n"},
      {{}, {}, restore + QuoteArgument(dir.Path()), refused + "2\r\n"},
      {{}, {}, restore + L"previous.json", refused + "87\r\n"},
      {{}, {}, restore + L"\"\"", refused + "87\r\n"},
      {StringValue(L"C:\\ours.json"), was, ours + restore + QuoteArgument(previous),
       removed + restored},
      {third, third, ours + restore + QuoteArgument(previous), removed + restored},
      // A read that fails is the task's failure, never "no runtime active".
      {{}, {}, restore + QuoteArgument(previous), refused + "5\r\n", false, KEY_QUERY_VALUE},
      {StringValue(L"C:\\ours.json"), StringValue(L"C:\\ours.json"), ours,
       "task=openxr-runtime-remove ok=0 code=5\r\n", false, KEY_QUERY_VALUE},
      {{}, {}, L"--openxr-runtime runtime.json", rejected},
      {{}, {}, L"--openxr-runtime ..\\r.json", rejected},
      {{}, {}, L"--openxr-runtime C:r.json", rejected},
      {{}, {}, L"--openxr-runtime \\r.json", rejected},
      {{}, StringValue(L"C:/Rt/r.json"), L"--openxr-runtime C:/Rt/r.json", set, true},
      {{}, StringValue(L"\\\\srv\\share\\r.json"), L"--openxr-runtime \\\\srv\\share\\r.json", set,
       true},
      // Too long for a value name: ActiveRuntime is written, the listing fails.
      {{}, StringValue(longPath), L"--openxr-runtime " + longPath, rejected, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.arguments.substr(0, 200)));
    SetActiveRuntime(c.before);
    DeleteMachineKeyForTest(kAvailableRuntimesKey);
    {
      std::optional<ScopedDenyKeyAccess> denial;
      if (c.denied) denial.emplace(kOpenXrKey, c.denied);
      EXPECT_EQ(RunProgram(c.arguments).out, c.out);
    }
    EXPECT_EQ(ReadMachineValue(kOpenXrKey, L"ActiveRuntime"), c.after);
    EXPECT_EQ(MachineKeyExists(kAvailableRuntimesKey), c.listed);
  }
}

TEST_F(MachineOpenXrRuntime, EmptyPathFailsWith87AndChangesNothing) {
  SetMachineString(kOpenXrKey, L"ActiveRuntime", L"C:\\before.json");
  const ProcessOutput run = RunProgram(L"--openxr-runtime \"\"");
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_EQ(run.out, "task=openxr-runtime ok=0 code=87\r\n");
  ExpectMachineString(kOpenXrKey, L"ActiveRuntime", L"C:\\before.json");
}

TEST_F(MachineClearXrEnv, DeletesOnlyTheMachineVariableAndAnnouncesIt) {
  TempDirectory dir;
  SetMachineString(kEnvironmentKey, L"XR_RUNTIME_JSON", L"C:\\override.json");
  SetMachineString(kEnvironmentKey, L"ULVEX_TEST_NEIGHBOUR", L"stays");
  SetRegistryString(HKEY_CURRENT_USER, L"Environment", L"XR_RUNTIME_JSON", L"user");

  SettingChangeListener listener(dir);
  const ProcessOutput run = RunProgram(L"--clear-xr-env");
  EXPECT_EQ(listener.Stop(), kEnvironmentBroadcast);

  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.out, "task=clear-xr-env ok=1 code=0\r\n");
  EXPECT_FALSE(ReadMachineValue(kEnvironmentKey, L"XR_RUNTIME_JSON"));
  ExpectMachineString(kEnvironmentKey, L"ULVEX_TEST_NEIGHBOUR", L"stays");
  EXPECT_TRUE(ReadRegistryValue(HKEY_CURRENT_USER, L"Environment", L"XR_RUNTIME_JSON"))
      << "the user's variable must stay";
  DeleteRegistryValue(HKEY_CURRENT_USER, L"Environment", L"XR_RUNTIME_JSON");
  DeleteMachineValueForTest(kEnvironmentKey, L"ULVEX_TEST_NEIGHBOUR");
}

TEST_F(MachineClearXrEnv, AbsentVariableSucceedsAndStillAnnounces) {
  TempDirectory dir;
  DeleteMachineValueForTest(kEnvironmentKey, L"XR_RUNTIME_JSON");
  SettingChangeListener listener(dir);
  const ProcessOutput run = RunProgram(L"--clear-xr-env --clear-xr-env");
  EXPECT_EQ(listener.Stop(), (std::vector<std::string>{kEnvironmentBroadcast[0],
                                                       kEnvironmentBroadcast[0]}));
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.out, "task=clear-xr-env ok=1 code=0\r\ntask=clear-xr-env ok=1 code=0\r\n");
}

TEST_F(MachineClearXrEnv, DeletionErrorIsReturnedAndNothingIsAnnounced) {
  TempDirectory dir;
  SetMachineString(kEnvironmentKey, L"XR_RUNTIME_JSON", L"C:\\override.json");
  ProcessOutput run;
  std::vector<std::string> broadcasts;
  {
    const ScopedDenyKeyAccess denied(kEnvironmentKey);
    SettingChangeListener listener(dir);
    run = RunProgram(L"--clear-xr-env");
    broadcasts = listener.Stop();
  }
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_EQ(run.out, "task=clear-xr-env ok=0 code=5\r\n");
  EXPECT_EQ(broadcasts, std::vector<std::string>{});
  ExpectMachineString(kEnvironmentKey, L"XR_RUNTIME_JSON", L"C:\\override.json");
  DeleteMachineValueForTest(kEnvironmentKey, L"XR_RUNTIME_JSON");
}

TEST_F(MachineRegistryTasks, RegistryErrorsAreReportedUnchanged) {
  SetMachineString(kRunKey, L"UlvexHub", L"C:\\old\\hub.exe");
  SetMachineString(kOpenXrKey, L"ActiveRuntime", L"C:\\Rt\\runtime.json");
  ProcessOutput run;
  {
    const ScopedDenyKeyAccess deniedRun(kRunKey);
    const ScopedDenyKeyAccess deniedOpenXr(kOpenXrKey);
    run = RunProgram(L"--openxr-runtime C:\\Rt\\runtime.json --remove-legacy-autostart "
                     L"--openxr-runtime-remove C:\\Rt\\runtime.json");
  }
  EXPECT_EQ(run.exitCode, 7u);
  EXPECT_EQ(run.out,
            "task=openxr-runtime ok=0 code=5\r\ntask=remove-legacy-autostart ok=0 code=5\r\n"
            "task=openxr-runtime-remove ok=0 code=5\r\n");
  EXPECT_TRUE(ReadMachineValue(kRunKey, L"UlvexHub"));
  DeleteMachineValueForTest(kRunKey, L"UlvexHub");
}

TEST_F(MachineRegistryTasks, OpenXrRuntimeAndRemoveLegacyAutostartBroadcastNothing) {
  TempDirectory dir;
  SetMachineString(kRunKey, L"UlvexHub", L"C:\\old\\hub.exe");
  SettingChangeListener listener(dir);
  const ProcessOutput run =
      RunProgram(L"--openxr-runtime C:\\Rt\\runtime.json --remove-legacy-autostart");
  EXPECT_EQ(listener.Stop(), std::vector<std::string>{});
  EXPECT_EQ(run.exitCode, 0u);
}

TEST_F(MachineRemoveLegacyAutostart, DeletesOnlyTheMachineEntry) {
  SetMachineString(kRunKey, L"UlvexHub", L"C:\\old\\hub.exe");
  SetMachineString(kRunKey, L"OtherProduct", L"C:\\other.exe");
  SetRegistryString(HKEY_CURRENT_USER, kRunKey, L"UlvexHub", L"u");

  const ProcessOutput run = RunProgram(L"--remove-legacy-autostart");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.out, "task=remove-legacy-autostart ok=1 code=0\r\n");
  EXPECT_FALSE(ReadMachineValue(kRunKey, L"UlvexHub"));
  ExpectMachineString(kRunKey, L"OtherProduct", L"C:\\other.exe");
  EXPECT_TRUE(ReadRegistryValue(HKEY_CURRENT_USER, kRunKey, L"UlvexHub")) << "the user's entry must stay";
  DeleteRegistryValue(HKEY_CURRENT_USER, kRunKey, L"UlvexHub");
  DeleteMachineValueForTest(kRunKey, L"OtherProduct");
}

TEST_F(MachineRemoveLegacyAutostart, AbsentValueOrMissingKeyIsSuccess) {
  DeleteMachineValueForTest(kRunKey, L"UlvexHub");
  ProcessOutput run = RunProgram(L"--remove-legacy-autostart");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.out, "task=remove-legacy-autostart ok=1 code=0\r\n");

  DeleteMachineKeyForTest(kRunKey);
  ASSERT_FALSE(MachineKeyExists(kRunKey));
  run = RunProgram(L"--remove-legacy-autostart");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.out, "task=remove-legacy-autostart ok=1 code=0\r\n");
  EXPECT_FALSE(MachineKeyExists(kRunKey)) << "deleting must not create the key";
  SetMachineString(kRunKey, L"ULVEX_TEST", L"");
  DeleteMachineValueForTest(kRunKey, L"ULVEX_TEST");
}

TEST_F(MachineResultsFile, MiddleTaskFailsTheOthersStillRun) {
  TempDirectory dir;
  const std::wstring results = dir.File(L"setup results.txt");
  SetMachineString(kRunKey, L"UlvexHub", L"C:\\old\\hub.exe");
  const ProcessOutput run = RunProgram(L"--result " + QuoteArgument(results) +
                                       L" --clear-xr-env --openxr-runtime \"\" "
                                       L"--remove-legacy-autostart");
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_EQ(run.out,
            "task=clear-xr-env ok=1 code=0\r\n"
            "task=openxr-runtime ok=0 code=87\r\n"
            "task=remove-legacy-autostart ok=1 code=0\r\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(ReadBytes(results), std::string(kBom) +
                                    "clear-xr-env=ok\r\n"
                                    "openxr-runtime=fail:87\r\n"
                                    "remove-legacy-autostart=ok\r\n");
  EXPECT_FALSE(ReadMachineValue(kRunKey, L"UlvexHub")) << "the task after the failure ran";
}

TEST_F(MachineResultsFile, FiveFailuresGiveMask31AndFiveLines) {
  TempDirectory dir;
  const std::wstring results = dir.File(L"r.txt");
  std::wstring arguments = L"--result " + QuoteArgument(results);
  for (int i = 0; i < 5; ++i) arguments += L" --openxr-runtime \"\"";
  const ProcessOutput run = RunProgram(arguments);
  EXPECT_EQ(run.exitCode, 31u);
  std::string expectedOut, expectedFile = kBom;
  for (int i = 0; i < 5; ++i) {
    expectedOut += "task=openxr-runtime ok=0 code=87\r\n";
    expectedFile += "openxr-runtime=fail:87\r\n";
  }
  EXPECT_EQ(run.out, expectedOut);
  EXPECT_EQ(ReadBytes(results), expectedFile);
}

// Run elevated, the program deletes whatever stands at the path and writes
// a file of its own there; nothing outside the folder changes. A folder there
// stays, and so do the symbolic links the suite's prefix holds, which Wine
// opens only as what they point to: those leave no results file.
TEST_F(MachineResultsFile, WhatStandsAtThePathIsReplacedNeverWrittenThrough) {
  TempDirectory dir;
  const std::wstring links = L"C:\\ulvex-links\\", sentinel = links + L"outside\\sentinel.txt";
  const std::wstring linked[] = {links + L"to-sentinel.txt", links + L"dangling.txt",
                                 links + L"to-outside\\r.txt"};
  const std::string forged = std::string(kBom) + "firewall-add=ok\r\nopenxr-runtime=ok\r\n";
  const std::string written = std::string(kBom) + "remove-legacy-autostart=ok\r\n";
  enum Standing { kFile, kReadOnlyFile, kHardLink, kFolder, kFileLink, kDanglingLink, kFolderLink };
  for (const int standing : {kFile, kReadOnlyFile, kHardLink, kFolder, kFileLink, kDanglingLink,
                             kFolderLink}) {
    const std::wstring results = dir.File((std::to_wstring(standing) + L".txt").c_str());
    WriteBytes(sentinel, forged);
    if (standing <= kReadOnlyFile) WriteBytes(results, forged);
    if (standing == kReadOnlyFile) SetFileAttributesW(results.c_str(), FILE_ATTRIBUTE_READONLY);
    if (standing == kHardLink) CreateHardLinkW(results.c_str(), sentinel.c_str(), nullptr);
    if (standing == kFolder) CreateDirectoryW(results.c_str(), nullptr);
    ASSERT_TRUE(FileExists(standing < kFileLink ? results : links + L"to-outside\\sentinel.txt"));
    const ProcessOutput run = RunProgram(
        L"--result " + QuoteArgument(standing < kFileLink ? results : linked[standing - kFileLink]) +
        L" --remove-legacy-autostart");
    EXPECT_EQ(run.exitCode, 0u) << standing;
    if (standing <= kFolder) {
      EXPECT_EQ(ReadBytes(results), standing == kFolder ? "" : written) << standing;
      // A file of its own: not read-only, and no other name.
      EXPECT_TRUE(standing == kFolder || DeleteFileW(results.c_str())) << standing;
    }
    EXPECT_EQ(ReadBytes(sentinel), forged) << standing;
    for (const wchar_t* stray : {L"never.txt", L"r.txt"}) {
      EXPECT_FALSE(DeleteFileW((links + L"outside\\" + stray).c_str())) << standing;
    }
  }
}

TEST_F(MachineResultsFile, MissingDirectoryIsSkippedSilently) {
  TempDirectory dir;
  const std::wstring results = dir.File(L"no-such-dir\\r.txt");
  const ProcessOutput run = RunProgram(L"--result " + QuoteArgument(results) +
                                       L" --remove-legacy-autostart --openxr-runtime \"\"");
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_EQ(run.out,
            "task=remove-legacy-autostart ok=1 code=0\r\ntask=openxr-runtime ok=0 code=87\r\n");
  EXPECT_EQ(run.err, "");
  EXPECT_FALSE(FileExists(results));
}

}  // namespace
