// The example installer (examples/installer.nsi, built by CMake with makensis)
// through its whole life, run silently as a fleet tool runs it.
#include <gtest/gtest.h>

#include "actions/app_firewall_rule.h"
#include "test_support.h"

namespace {

using MachineInstaller = MachineTest;

constexpr wchar_t kUninstallKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Ulvex Hub";
constexpr wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

TEST_F(MachineInstaller, UninstallGivesBackTheRuntimeTheInstallFound) {
  TempDirectory dir;
  const std::wstring folder = L"C:\\Program Files\\Ulvex Hub", hub = folder + L"\\Hub.exe",
                     manifest = folder + L"\\runtime.json", uninstaller = folder + L"\\uninstall.exe",
                     program = folder + L"\\UlvexSystemSetup.exe", a = dir.File(L"a.json"),
                     c = dir.File(L"c.json");
  WriteBytes(a, "{}");
  WriteBytes(c, "{}");
  // A's value as a runtime switcher may write it: it is recorded expanded.
  const RegistryValue aExpandable = StringValue(L"%SystemDrive%" + a.substr(2), REG_EXPAND_SZ),
                      aValue = StringValue(a), cValue = StringValue(c), ours = StringValue(manifest);
  const std::string ok = "\xEF\xBB\xBF" "firewall-add=ok\r\nfirewall-app=ok\r\nopenxr-runtime=ok\r\n"
                         "clear-xr-env=ok\r\nremove-legacy-autostart=ok\r\n";
  std::string appFailed = ok;
  appFailed.replace(appFailed.find("app=ok"), 6, "app=fail:7");
  const struct {
    const char* step;
    const RegistryValue* activeFirst;  // set before the step; nullptr: left
    const std::wstring* deleteFirst;
    bool install;  // else the Add/Remove Programs entry's quiet uninstall
    const wchar_t* recorderCodes;
    DWORD exitCode;
    std::optional<RegistryValue> active, record;
    std::string results = {};  // install.txt
  } steps[] = {
      {"(a) install over A", &aExpandable, nullptr, true, L"", 0, ours, aValue, ok},
      {"(b) repair", nullptr, nullptr, true, L"", 0, ours, aValue, ok},
      {"(b) uninstall", nullptr, nullptr, false, L"", 0, aValue, {}},
      {"(c) install", nullptr, nullptr, true, L"", 0, ours, aValue, ok},
      {"(c) the person chose C; uninstall", &cValue, nullptr, false, L"", 0, cValue, {}},
      {"(d) install over A", &aValue, nullptr, true, L"", 0, ours, aValue, ok},
      {"(d) A uninstalled; uninstall", nullptr, &a, false, L"", 1008, {}, {}},
      {"(e) firewall-app fails", nullptr, nullptr, true, L"0,0,0,7", 1002, ours, {}, appFailed},
      {"repair while ours is active", nullptr, nullptr, true, L"", 0, ours, {}, ok},
      {"uninstall without the program", nullptr, &program, false, L"", 1999, ours, {}},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.step);
    if (step.activeFirst) SetActiveRuntime(*step.activeFirst);
    if (step.deleteFirst) {
      ASSERT_TRUE(DeleteFileW(step.deleteFirst->c_str()));
    }
    DeleteFileW(dir.File(L"recorder.log").c_str());
    RecorderSession recorder(dir, step.recorderCodes);
    const std::optional<RegistryValue> quiet =
        ReadMachineValue(kUninstallKey, L"QuietUninstallString");
    ASSERT_TRUE(step.install || quiet);
    EXPECT_EQ(RunCommandLine(step.install ? QuoteArgument(ToolPath(L"test_installer.exe")) + L" /S"
                                          : RegistryString(*quiet))
                  .exitCode,
              step.exitCode);
    EXPECT_EQ(ReadMachineValue(kOpenXrKey, L"ActiveRuntime"), step.active);
    EXPECT_EQ(ReadMachineValue(kAvailableRuntimesKey, manifest.c_str()).has_value(), step.active == ours);
    EXPECT_EQ(ReadMachineValue(L"SOFTWARE\\Ulvex\\Hub", L"PreviousOpenXrRuntime"), step.record);
    EXPECT_EQ(MachineKeyExists(L"SOFTWARE\\Ulvex"), step.record.has_value());
    EXPECT_EQ(MachineKeyExists(kUninstallKey), step.install);
    const std::vector<RecordedStart> starts = recorder.Starts();
    if (step.install) {
      EXPECT_EQ(ReadBytes(folder + L"\\install.txt"), step.results);
      ASSERT_EQ(starts.size(), 4u);
      EXPECT_EQ(CommandLines({starts.begin(), starts.begin() + 3}), NetshCommandLines());
      EXPECT_EQ(PowerShellScript(starts[3]), BuildApplicationRuleScript(hub));
      continue;
    }
    ASSERT_EQ(starts.size(), step.exitCode == 1999 ? 0u : 2u);
    if (!starts.empty()) {
      EXPECT_EQ(PowerShellScript(starts[1]), BuildApplicationRuleRemovalScript(hub));
    }
    // Windows deletes the running uninstaller, then the folder, at the next
    // restart. Here the test does, which fails if anything else was left.
    EXPECT_EQ(ReadMachineValue(kSessionManagerKey, L"PendingFileRenameOperations"),
              StringValue(L"\\??\\" + uninstaller + L'\0' + L'\0' + L"\\??\\" + folder + L"\\" +
                              L'\0' + L'\0',
                          REG_MULTI_SZ));
    DeleteMachineValueForTest(kSessionManagerKey, L"PendingFileRenameOperations");
    EXPECT_TRUE(DeleteFileW(uninstaller.c_str()) && RemoveDirectoryW(folder.c_str()));
  }
  DeleteMachineKeyForTest(L"SOFTWARE\\Khronos");
}

}  // namespace
