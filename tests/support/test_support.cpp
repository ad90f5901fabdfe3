#include "test_support.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>
#include <shellapi.h>

namespace {

// Written by scripts/wine-prefix.sh into the prefix it makes for the suite.
constexpr wchar_t kThrowawayMarkKey[] = L"Software\\UlvexSystemSetupTests";
constexpr wchar_t kThrowawayMarkValue[] = L"ThrowawayTestPrefix";

bool IsSuitesThrowawayPrefix() {
  // Real Windows is never a throwaway prefix, whatever its registry holds.
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr) return false;
  return ReadMachineValue(kThrowawayMarkKey, kThrowawayMarkValue).has_value();
}

}  // namespace

void MachineTest::SetUp() {
  if (!IsSuitesThrowawayPrefix()) {
    GTEST_SKIP() << "changes the machine: runs only in the test suite's own Wine prefix "
                    "(ctest makes it)";
  }
}

std::wstring BinDirectory() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring directory(path, length);
  return directory.substr(0, directory.find_last_of(L'\\'));
}

std::wstring ProgramPath() { return BinDirectory() + L"\\UlvexSystemSetup.exe"; }

std::wstring ToolPath(const wchar_t* name) { return BinDirectory() + L"\\" + name; }

TempDirectory::TempDirectory() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  static unsigned counter = 0;
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  path_ = std::wstring(temp) + L"ulvex-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
          std::to_wstring(++counter);
  if (info) path_ += L"-" + FromUtf8(info->name()).substr(0, 40);
  RemoveTree(path_);
  if (!CreateDirectoryW(path_.c_str(), nullptr)) {
    ADD_FAILURE() << "cannot create " << ToUtf8(path_) << ": " << GetLastError();
  }
}

TempDirectory::~TempDirectory() { RemoveTree(path_); }

void RemoveTree(const std::wstring& path) {
  // A junction or symbolic link (or nothing) is removed as it is: what it
  // points to is never entered.
  if (GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) {
    RemoveDirectoryW(path.c_str());
    return;
  }
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(path.c_str());
}

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadBytes(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string bytes;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    bytes.append(buffer, read);
  }
  CloseHandle(file);
  return bytes;
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

std::wstring QuoteArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes are literal unless they precede a quote.
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

namespace {

HANDLE CreateInheritableFile(const std::wstring& path) {
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
}

// Reads what the pipe holds now, without waiting for more.
void DrainPipe(HANDLE pipe, std::string& into) {
  DWORD available = 0;
  while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
    std::string chunk(available, '\0');
    DWORD read = 0;
    if (!ReadFile(pipe, chunk.data(), available, &read, nullptr)) break;
    into.append(chunk.data(), read);
  }
}

}  // namespace

ProcessOutput RunCommandLine(const std::wstring& commandLine, DWORD timeoutMs) {
  TempDirectory capture;
  const std::wstring outPath = capture.File(L"stdout");
  HANDLE out = CreateInheritableFile(outPath);
  // Standard error through a pipe, as a calling program reads it. The pipe is
  // drained while the child runs, and never read to its end: a process the
  // child leaves behind may hold the pipe open.
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE errRead = nullptr, errWrite = nullptr;
  EXPECT_TRUE(CreatePipe(&errRead, &errWrite, &inherit, 0));
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = out;
  startup.hStdError = errWrite;
  PROCESS_INFORMATION child = {};
  std::wstring writable = commandLine;
  ProcessOutput result;
  if (CreateProcessW(nullptr, writable.data(), nullptr, nullptr, /*bInheritHandles=*/TRUE, 0,
                     nullptr, nullptr, &startup, &child)) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (WaitForSingleObject(child.hProcess, 20) != WAIT_OBJECT_0) {
      DrainPipe(errRead, result.err);
      if (GetTickCount64() > deadline) {
        TerminateProcess(child.hProcess, 0xDEAD);
        ADD_FAILURE() << "timed out: " << ToUtf8(commandLine);
        break;
      }
    }
    DrainPipe(errRead, result.err);
    GetExitCodeProcess(child.hProcess, &result.exitCode);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
  } else {
    ADD_FAILURE() << "cannot start " << ToUtf8(commandLine) << ": " << GetLastError();
  }
  CloseHandle(out);
  CloseHandle(errRead);
  CloseHandle(errWrite);
  result.out = ReadBytes(outPath);
  return result;
}

ProcessOutput RunProgram(const std::wstring& arguments) {
  return RunCommandLine(QuoteArgument(ProgramPath()) + L" " + arguments);
}

ScopedEnvironmentVariable::ScopedEnvironmentVariable(const wchar_t* name, const wchar_t* value)
    : name_(name) {
  wchar_t buffer[32768];
  const DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
  if (length > 0 && length < 32768) old_ = std::wstring(buffer, length);
  SetEnvironmentVariableW(name, value);
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
  SetEnvironmentVariableW(name_.c_str(), old_ ? old_->c_str() : nullptr);
}

RecorderSession::RecorderSession(const TempDirectory& dir, const wchar_t* exitCodes,
                                 const wchar_t* sleepsMs)
    : logPath_(dir.File(L"recorder.log")),
      log_(L"RECORDER_LOG", logPath_.c_str()),
      codes_(L"RECORDER_EXIT_CODES", exitCodes),
      sleeps_(L"RECORDER_SLEEP_MS", sleepsMs) {}

std::vector<RecordedStart> RecorderSession::Starts() const {
  std::vector<RecordedStart> starts;
  const std::string log = ReadBytes(logPath_);
  std::size_t begin = 0;
  for (std::size_t end; (end = log.find('\n', begin)) != std::string::npos; begin = end + 1) {
    const std::string line = log.substr(begin, end - begin);
    RecordedStart start;
    const std::size_t cwd = line.find(" cwd=");
    const std::size_t cmd = line.find(" cmd=");
    EXPECT_EQ(std::sscanf(line.c_str(), "pid=%lu flags=%lu show=%u console=%u window=%u",
                          &start.pid, &start.flags, &start.show, &start.consoleProcesses,
                          &start.consoleWindow),
              5);
    start.currentDirectory = FromUtf8(line.substr(cwd + 5, cmd - cwd - 5));
    start.commandLine = FromUtf8(line.substr(cmd + 5));
    starts.push_back(start);
  }
  return starts;
}

std::vector<std::wstring> CommandLines(const std::vector<RecordedStart>& starts) {
  std::vector<std::wstring> lines;
  for (const RecordedStart& start : starts) lines.push_back(start.commandLine);
  return lines;
}

std::wstring SystemDirectory() {
  wchar_t path[MAX_PATH];
  return std::wstring(path, GetSystemDirectoryW(path, MAX_PATH));
}

std::vector<std::wstring> NetshCommandLines() {
  const std::wstring netsh = L"\"" + SystemDirectory() + L"\\netsh.exe\" advfirewall firewall ";
  return {
      netsh + L"delete rule name=\"Ulvex Eyetracking (UDP 9000)\"",
      netsh + L"delete rule name=\"Ulvex Eyetracking (UDP 47900)\"",
      netsh + L"add rule name=\"Ulvex Eyetracking (UDP 47900)\" dir=in action=allow "
              L"protocol=UDP localport=47900 profile=any",
  };
}

void ExpectHidden(const RecordedStart& start) {
  EXPECT_TRUE(start.flags & STARTF_USESHOWWINDOW);
  EXPECT_EQ(start.show, static_cast<unsigned>(SW_HIDE));
  EXPECT_EQ(start.consoleProcesses, 1u) << "not a console of its own";
  EXPECT_EQ(start.consoleWindow, 0u);
  EXPECT_EQ(start.currentDirectory, SystemDirectory());
}

std::wstring PowerShellScript(const RecordedStart& start) {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(start.commandLine.c_str(), &count);
  std::vector<std::wstring> arguments(argv, argv + count);
  LocalFree(argv);
  const std::vector<std::wstring> expected = {
      SystemDirectory() + L"\\WindowsPowerShell\\v1.0\\powershell.exe",
      L"-NoProfile", L"-NonInteractive", L"-ExecutionPolicy", L"Bypass", L"-Command"};
  EXPECT_EQ(arguments.size(), expected.size() + 1) << ToUtf8(start.commandLine);
  if (arguments.size() != expected.size() + 1) return {};
  EXPECT_EQ(std::vector<std::wstring>(arguments.begin(), arguments.end() - 1), expected);
  return arguments.back();
}

void SavePowerShellScript(const std::wstring& name, const std::wstring& path,
                          const std::wstring& displayName, const std::wstring& script) {
  const std::wstring folder = BinDirectory() + L"\\powershell-scripts";
  CreateDirectoryW(folder.c_str(), nullptr);
  WriteBytes(folder + L"\\" + name + L".txt",
             ToUtf8(path + L"\n" + displayName + L"\n" + script + L"\n"));
}

namespace {

HKEY OpenKey(HKEY root, const wchar_t* subKey, REGSAM access) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, subKey, 0, access | KEY_WOW64_64KEY, &key) != 0) return nullptr;
  return key;
}

}  // namespace

std::optional<RegistryValue> ReadRegistryValue(HKEY root, const wchar_t* subKey,
                                               const wchar_t* name) {
  HKEY key = OpenKey(root, subKey, KEY_QUERY_VALUE);
  if (!key) return std::nullopt;
  RegistryValue value;
  DWORD size = 0;
  LSTATUS status = RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size);
  if (status == ERROR_SUCCESS) {
    value.data.resize(size);
    status = RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size);
  }
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return std::nullopt;
  return value;
}

std::wstring RegistryString(const RegistryValue& value) {
  std::wstring text(reinterpret_cast<const wchar_t*>(value.data.data()),
                    value.data.size() / sizeof(wchar_t));
  return text.substr(0, text.find(L'\0'));
}

RegistryValue StringValue(const std::wstring& text, DWORD type) {
  const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
  return {type, std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t))};
}

void SetActiveRuntime(const std::optional<RegistryValue>& value) {
  DeleteMachineValueForTest(kOpenXrKey, L"ActiveRuntime");
  if (value) RegSetKeyValueW(HKEY_LOCAL_MACHINE, kOpenXrKey, L"ActiveRuntime", value->type,
                             value->data.data(), static_cast<DWORD>(value->data.size()));
}

void SetRegistryString(HKEY root, const wchar_t* subKey, const wchar_t* name,
                       const std::wstring& data) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(root, subKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                 static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

void DeleteRegistryValue(HKEY root, const wchar_t* subKey, const wchar_t* name) {
  if (HKEY key = OpenKey(root, subKey, KEY_SET_VALUE)) {
    RegDeleteValueW(key, name);
    RegCloseKey(key);
  }
}

void DeleteMachineKeyForTest(const wchar_t* subKey) {
  // The tests are 64-bit processes, so this is the 64-bit view.
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, subKey);
}

bool MachineKeyExists(const wchar_t* subKey) {
  HKEY key = OpenKey(HKEY_LOCAL_MACHINE, subKey, KEY_READ);
  if (key) RegCloseKey(key);
  return key != nullptr;
}

SettingChangeListener::SettingChangeListener(const TempDirectory& dir)
    : logPath_(dir.File(L"settingchange.log")) {
  const std::wstring suffix = std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(GetTickCount64());
  const std::wstring readyName = L"ulvex-listener-ready-" + suffix;
  const std::wstring stopName = L"ulvex-listener-stop-" + suffix;
  ready_ = CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
  stop_ = CreateEventW(nullptr, TRUE, FALSE, stopName.c_str());
  std::wstring commandLine = QuoteArgument(ToolPath(L"test_settingchange_listener.exe")) + L" " +
                             QuoteArgument(logPath_) + L" " + readyName + L" " + stopName;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION child = {};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &child)) {
    ADD_FAILURE() << "cannot start the listener: " << GetLastError();
    return;
  }
  CloseHandle(child.hThread);
  process_ = child.hProcess;
  const HANDLE waitFor[] = {ready_, process_};
  EXPECT_EQ(WaitForMultipleObjects(2, waitFor, FALSE, 180000), WAIT_OBJECT_0)
      << "the listener did not come up";
}

SettingChangeListener::~SettingChangeListener() {
  if (process_) Stop();
  CloseHandle(ready_);
  CloseHandle(stop_);
}

std::vector<std::string> SettingChangeListener::Stop() {
  std::vector<std::string> lines;
  if (!process_) return lines;
  SetEvent(stop_);
  EXPECT_EQ(WaitForSingleObject(process_, 180000), WAIT_OBJECT_0);
  DWORD exitCode = 1;
  GetExitCodeProcess(process_, &exitCode);
  EXPECT_EQ(exitCode, 0u) << "listener failed";
  CloseHandle(process_);
  process_ = nullptr;
  const std::string log = ReadBytes(logPath_);
  std::size_t begin = 0;
  for (std::size_t end; (end = log.find('\n', begin)) != std::string::npos; begin = end + 1) {
    std::string line = log.substr(begin, end - begin);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

CapturedStream::CapturedStream() { _wfopen_s(&file_, dir_.File(L"stream").c_str(), L"w"); }

CapturedStream::~CapturedStream() {
  if (file_) std::fclose(file_);
}

std::string CapturedStream::Bytes() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  return ReadBytes(dir_.File(L"stream"));
}

DWORD CountOpenHandles() {
  DWORD count = 0;
  DWORD flags = 0;
  for (ULONG_PTR value = 4; value < 0x40000; value += 4) {
    count += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
  }
  return count;
}

ScopedDenyKeyAccess::ScopedDenyKeyAccess(const wchar_t* subKey, REGSAM denied) {
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, nullptr, 0,
                            READ_CONTROL | WRITE_DAC | KEY_WOW64_64KEY, nullptr, &key_, nullptr),
            ERROR_SUCCESS);
  DWORD size = 0;
  RegGetKeySecurity(key_, DACL_SECURITY_INFORMATION, nullptr, &size);
  original_.resize(size);
  EXPECT_EQ(RegGetKeySecurity(key_, DACL_SECURITY_INFORMATION, original_.data(), &size),
            ERROR_SUCCESS);
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  EXPECT_TRUE(GetSecurityDescriptorDacl(original_.data(), &present, &dacl, &defaulted));
  // SetEntriesInAcl puts the deny entry ahead of the existing ones.
  EXPLICIT_ACCESSW deny = {};
  deny.grfAccessPermissions = denied;
  deny.grfAccessMode = DENY_ACCESS;
  deny.grfInheritance = NO_INHERITANCE;
  PSID everyone = nullptr;
  EXPECT_TRUE(ConvertStringSidToSidW(L"S-1-1-0", &everyone));
  BuildTrusteeWithSidW(&deny.Trustee, everyone);
  PACL withDeny = nullptr;
  EXPECT_EQ(SetEntriesInAclW(1, &deny, present ? dacl : nullptr, &withDeny), ERROR_SUCCESS);
  SECURITY_DESCRIPTOR descriptor;
  InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&descriptor, TRUE, withDeny, FALSE);
  EXPECT_EQ(RegSetKeySecurity(key_, DACL_SECURITY_INFORMATION, &descriptor), ERROR_SUCCESS);
  LocalFree(withDeny);
  LocalFree(everyone);
}

ScopedDenyKeyAccess::~ScopedDenyKeyAccess() {
  EXPECT_EQ(RegSetKeySecurity(key_, DACL_SECURITY_INFORMATION, original_.data()), ERROR_SUCCESS);
  RegCloseKey(key_);
}
