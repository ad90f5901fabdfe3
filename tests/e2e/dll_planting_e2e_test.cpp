// The program runs elevated, often from a folder its user can write to. A DLL
// planted there under the name of one that Windows loads on demand must not
// be loaded into it.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using MachineDllPlanting = MachineTest;

// Wine prefers its built-in copies of system DLLs; native-first, as set here
// for one program, is how Windows treats every DLL that is not a KnownDLL.
// (Wine reads WINEDLLOVERRIDES from a child's Unix environment, so the
// per-program registry setting is the one a test can change.)
class ScopedNativeFirst {
 public:
  ScopedNativeFirst(const std::wstring& program, std::initializer_list<const wchar_t*> dlls)
      : key_(L"Software\\Wine\\AppDefaults\\" + program) {
    HKEY overrides = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (key_ + L"\\DllOverrides").c_str(), 0, nullptr,
                              0, KEY_SET_VALUE, nullptr, &overrides, nullptr),
              ERROR_SUCCESS);
    for (const wchar_t* dll : dlls) {
      RegSetValueExW(overrides, dll, 0, REG_SZ, reinterpret_cast<const BYTE*>(L"native,builtin"),
                     sizeof(L"native,builtin"));
    }
    RegCloseKey(overrides);
  }
  ~ScopedNativeFirst() { RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str()); }

 private:
  std::wstring key_;
};

TEST_F(MachineDllPlanting, PlantedDllNextToTheProgramIsNotLoaded) {
  TempDirectory dir;
  const std::wstring program = dir.File(L"UlvexSystemSetup.exe");
  const std::wstring control = dir.File(L"unprotected_broadcaster.exe");
  const std::wstring marker = dir.File(L"planted-dll-was-loaded");
  ASSERT_TRUE(CopyFileW(ProgramPath().c_str(), program.c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(ToolPath(L"test_unprotected_broadcaster.exe").c_str(), control.c_str(), FALSE));
  // user32 loads both by name when a broadcast is sent.
  for (const wchar_t* name : {L"imm32.dll", L"uxtheme.dll"}) {
    ASSERT_TRUE(CopyFileW(ToolPath(L"planted.dll").c_str(), dir.File(name).c_str(), FALSE));
  }
  const ScopedNativeFirst programOverrides(L"UlvexSystemSetup.exe", {L"imm32", L"uxtheme"});
  const ScopedNativeFirst controlOverrides(L"unprotected_broadcaster.exe", {L"imm32", L"uxtheme"});
  const ScopedEnvironmentVariable markerPath(L"PLANTED_DLL_MARKER", marker.c_str());

  // Control: a program that does not restrict the search picks the DLL up,
  // so the check below can fail.
  EXPECT_EQ(RunCommandLine(QuoteArgument(control)).exitCode, 0u);
  ASSERT_TRUE(FileExists(marker)) << "the planted DLL is not loaded even without protection";
  ASSERT_TRUE(DeleteFileW(marker.c_str()));

  // The program did broadcast, so user32 did need those DLLs.
  SettingChangeListener listener(dir);
  const ProcessOutput run = RunCommandLine(QuoteArgument(program) + L" --clear-xr-env");
  EXPECT_EQ(listener.Stop(), std::vector<std::string>{"wParam=0 lParam=Environment"});
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.out, "task=clear-xr-env ok=1 code=0\r\n");
  EXPECT_FALSE(FileExists(marker)) << "the program loaded the planted DLL";
}

}  // namespace
