#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "utf8.h"

// Base of every test that changes the machine: the registry, key security,
// files outside its own temporary folder, or the system's netsh and
// PowerShell. Such a test runs only in the throwaway Wine prefix that the
// CTest fixture makes and marks; anywhere else, a developer's own prefix or
// real Windows included, it is skipped before it touches anything.
class MachineTest : public testing::Test {
 protected:
  void SetUp() override;
};

// Folder of the running test executable; the program and the test tools are
// built into the same folder.
std::wstring BinDirectory();
std::wstring ProgramPath();  // UlvexSystemSetup.exe
std::wstring ToolPath(const wchar_t* name);  // e.g. L"test_recorder.exe"

// A fresh folder under %TEMP%, removed with its files when it goes.
class TempDirectory {
 public:
  TempDirectory();
  ~TempDirectory();
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;
  const std::wstring& Path() const { return path_; }
  std::wstring File(const wchar_t* name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

// Removes a folder and what it holds. A junction or symbolic link inside it
// is removed itself; what it points to is never entered.
void RemoveTree(const std::wstring& path);

bool FileExists(const std::wstring& path);
std::string ReadBytes(const std::wstring& path);
void WriteBytes(const std::wstring& path, const std::string& bytes);


// Quotes one argument by the rules CommandLineToArgvW and the C runtime read.
std::wstring QuoteArgument(const std::wstring& argument);

struct ProcessOutput {
  DWORD exitCode = 0xFFFFFFFF;
  std::string out;  // raw bytes, as a caller reading the pipe sees them
  std::string err;
};

// Runs a whole command line with stdout and stderr captured, and waits for it.
ProcessOutput RunCommandLine(const std::wstring& commandLine, DWORD timeoutMs = 300000);

// Runs the program with already quoted arguments.
ProcessOutput RunProgram(const std::wstring& arguments);

// Sets (or with nullptr clears) an environment variable for this process and
// the children it starts, and restores the old state on destruction.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(const wchar_t* name, const wchar_t* value);
  ~ScopedEnvironmentVariable();
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

 private:
  std::wstring name_;
  std::optional<std::wstring> old_;
};

// One start seen by the recorder that stands in for netsh and PowerShell.
struct RecordedStart {
  DWORD pid = 0;
  unsigned long flags = 0;
  unsigned show = 0;
  unsigned consoleProcesses = 0;  // attached to its console; 0: no console
  unsigned consoleWindow = 0;     // 1: that console has a window
  std::wstring currentDirectory;
  std::wstring commandLine;
};

std::vector<std::wstring> CommandLines(const std::vector<RecordedStart>& starts);

std::wstring SystemDirectory();

// The three netsh runs of one firewall-add, in order.
std::vector<std::wstring> NetshCommandLines();

// Started as every child of the program must be: hidden, with a console of
// its own that has no window, in the system directory.
void ExpectHidden(const RecordedStart& start);

// The -Command script of a recorded PowerShell start, split off by the
// Windows rules after checking every argument before it.
std::wstring PowerShellScript(const RecordedStart& start);

// Keeps a script the program gave PowerShell, with the path and rule name it
// is meant for, as three UTF-8 lines in bin\powershell-scripts\<name>.txt.
// ctest then has PowerShell parse each one, and the program run each task
// again against PowerShell for Windows (tests/powershell/engine_checks.ps1).
void SavePowerShellScript(const std::wstring& name, const std::wstring& path,
                          const std::wstring& displayName, const std::wstring& script);

// Points the recorder at a log in dir and fixes its per-start exit codes and
// sleeps for this test; Starts() reads back what it saw.
class RecorderSession {
 public:
  RecorderSession(const TempDirectory& dir, const wchar_t* exitCodes, const wchar_t* sleepsMs = L"");
  std::vector<RecordedStart> Starts() const;

 private:
  std::wstring logPath_;
  ScopedEnvironmentVariable log_;
  ScopedEnvironmentVariable codes_;
  ScopedEnvironmentVariable sleeps_;
};

// Registry, 64-bit view (the tests are 64-bit processes).
struct RegistryValue {
  DWORD type = 0;
  std::vector<BYTE> data;
  bool operator==(const RegistryValue&) const = default;
};
std::optional<RegistryValue> ReadRegistryValue(HKEY root, const wchar_t* subKey, const wchar_t* name);
std::wstring RegistryString(const RegistryValue& value);  // data up to its terminating zero
RegistryValue StringValue(const std::wstring& text, DWORD type = REG_SZ);
void SetRegistryString(HKEY root, const wchar_t* subKey, const wchar_t* name,
                       const std::wstring& data);
void DeleteRegistryValue(HKEY root, const wchar_t* subKey, const wchar_t* name);

inline std::optional<RegistryValue> ReadMachineValue(const wchar_t* subKey, const wchar_t* name) {
  return ReadRegistryValue(HKEY_LOCAL_MACHINE, subKey, name);
}
inline void SetMachineString(const wchar_t* subKey, const wchar_t* name, const std::wstring& data) {
  SetRegistryString(HKEY_LOCAL_MACHINE, subKey, name, data);
}
inline void DeleteMachineValueForTest(const wchar_t* subKey, const wchar_t* name) {
  DeleteRegistryValue(HKEY_LOCAL_MACHINE, subKey, name);
}
void DeleteMachineKeyForTest(const wchar_t* subKey);
bool MachineKeyExists(const wchar_t* subKey);

// Runs the broadcast listener (a hidden top-level window) for as long as it
// lives; Stop() ends it and returns the WM_SETTINGCHANGE lines it logged.
class SettingChangeListener {
 public:
  explicit SettingChangeListener(const TempDirectory& dir);
  ~SettingChangeListener();
  SettingChangeListener(const SettingChangeListener&) = delete;
  SettingChangeListener& operator=(const SettingChangeListener&) = delete;
  std::vector<std::string> Stop();

 private:
  std::wstring logPath_;
  HANDLE ready_ = nullptr;
  HANDLE stop_ = nullptr;
  HANDLE process_ = nullptr;
};

// The keys the program owns, spelled out here rather than taken from the
// program, so a wrong path in the program fails the tests.
inline constexpr wchar_t kEnvironmentKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
inline constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr wchar_t kOpenXrKey[] = L"SOFTWARE\\Khronos\\OpenXR\\1";
inline constexpr wchar_t kAvailableRuntimesKey[] = L"SOFTWARE\\Khronos\\OpenXR\\1\\AvailableRuntimes";

// Sets ActiveRuntime to the value, of any type, or deletes it.
void SetActiveRuntime(const std::optional<RegistryValue>& value);

// A stream opened like the program's standard streams (text mode, no
// Unicode mode), so what is written to it shows the bytes a caller reads.
class CapturedStream {
 public:
  CapturedStream();
  ~CapturedStream();
  CapturedStream(const CapturedStream&) = delete;
  CapturedStream& operator=(const CapturedStream&) = delete;
  FILE* Get() const { return file_; }
  std::string Bytes();  // closes the stream

 private:
  TempDirectory dir_;
  FILE* file_ = nullptr;
};

// Open handles of this process, found by probing handle values; works under
// Wine, whose GetProcessHandleCount always says 0.
DWORD CountOpenHandles();

// While it lives, nobody has the given rights on the HKLM key (the key is
// created if missing; by default, the right to set or delete values): a deny
// entry goes in front of the key's own entries, so no one gains any right,
// and its own security is restored afterwards.
class ScopedDenyKeyAccess {
 public:
  explicit ScopedDenyKeyAccess(const wchar_t* subKey, REGSAM denied = KEY_SET_VALUE);
  ~ScopedDenyKeyAccess();
  ScopedDenyKeyAccess(const ScopedDenyKeyAccess&) = delete;
  ScopedDenyKeyAccess& operator=(const ScopedDenyKeyAccess&) = delete;

 private:
  HKEY key_ = nullptr;
  std::vector<BYTE> original_;
};
