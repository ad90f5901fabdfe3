#include "actions/process_runner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "test_support.h"

namespace {

// For children that end at once: long enough for a loaded machine.
constexpr DWORD kAmpleMs = 120000;

std::wstring RecorderCommand(const std::wstring& arguments) {
  return QuoteArgument(ToolPath(L"test_recorder.exe")) + L" " + arguments;
}

TEST(SystemDirectoryFromResult, FallsBackWhenTheCallFailsOrTheBufferIsTooSmall) {
  wchar_t buffer[MAX_PATH + 40];
  std::fill(std::begin(buffer), std::end(buffer), L'x');
  const struct {
    UINT length;
    std::wstring expected;
  } cases[] = {
      {0, L"C:\\Windows\\System32"},
      {1, L"x"},
      {MAX_PATH - 1, std::wstring(MAX_PATH - 1, L'x')},
      {MAX_PATH, L"C:\\Windows\\System32"},
      {MAX_PATH + 30, L"C:\\Windows\\System32"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SystemDirectoryFromResult(buffer, c.length), c.expected) << c.length;
  }
}

TEST(RunHidden, ReturnsTheChildsExitCode) {
  TempDirectory dir;
  RecorderSession recorder(dir, L"0,3,258,4294967295");
  for (const ResultCode code : {0ul, 3ul, 258ul, 4294967295ul}) {
    EXPECT_EQ(RunHidden(RecorderCommand(L"x"), kAmpleMs), code);
  }
}

TEST(RunHidden, StartsTheChildHiddenWithTheWholeCommandLine) {
  TempDirectory dir;
  RecorderSession recorder(dir, L"0");
  // Longer than MAX_PATH, quotes and backslashes: passed through untouched.
  const std::wstring arguments =
      L"add rule name=\"Ulvex Eyetracking (UDP 47900)\" \\\\server\\share " +
      std::wstring(400, L'a') + L" \"trailing \\\"quote\\\"\"";
  const std::wstring commandLine = RecorderCommand(arguments);
  EXPECT_EQ(RunHidden(commandLine, kAmpleMs), 0u);
  const std::vector<RecordedStart> starts = recorder.Starts();
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].commandLine, commandLine);
  ExpectHidden(starts[0]);
}

TEST(RunHidden, ReturnsTheStartErrorWhenTheProgramIsMissing) {
  TempDirectory dir;
  EXPECT_EQ(RunHidden(L"\"" + dir.File(L"missing.exe") + L"\" x", kAmpleMs),
            static_cast<ResultCode>(ERROR_FILE_NOT_FOUND));
}

TEST(RunHidden, TerminatesAChildThatOverrunsTheTimeout) {
  TempDirectory dir;
  RecorderSession recorder(dir, L"0", L"600000");
  // Open the child while it sleeps, so that its end can be read once it is
  // gone. The log exists once the recorder has written it; reading it only
  // then never locks the recorder out.
  HANDLE child = nullptr;
  std::thread watcher([&] {
    for (int i = 0; i < 6000 && child == nullptr; ++i, Sleep(20)) {
      if (!FileExists(dir.File(L"recorder.log"))) continue;
      for (const RecordedStart& start : recorder.Starts()) {
        child = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, start.pid);
      }
    }
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunHidden(RecorderCommand(L"sleep"), 10000), static_cast<ResultCode>(WAIT_TIMEOUT));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  watcher.join();
  // A timed wait on Windows may end up to one clock tick (15.6 ms) early.
  EXPECT_GE(elapsed, std::chrono::milliseconds(10000 - 16));
  EXPECT_LT(elapsed, std::chrono::seconds(300)) << "waited for the child, not the time-out";

  ASSERT_NE(child, nullptr) << "the child was not seen running";
  EXPECT_EQ(WaitForSingleObject(child, 60000), WAIT_OBJECT_0) << "the child was left running";
  DWORD exitCode = 0;
  EXPECT_TRUE(GetExitCodeProcess(child, &exitCode));
  EXPECT_EQ(exitCode, 1u);
  CloseHandle(child);
}

TEST(RunHidden, ClosesEveryHandleItOpens) {
  TempDirectory dir;
  RecorderSession recorder(dir, L"0");
  const std::wstring commandLine = RecorderCommand(L"x");
  const std::wstring missing = L"\"" + dir.File(L"missing.exe") + L"\"";
  // First-call allocations of both paths out of the way.
  RunHidden(commandLine, kAmpleMs);
  RunHidden(missing, kAmpleMs);

  const DWORD before = CountOpenHandles();
  for (int i = 0; i < 25; ++i) {
    ASSERT_EQ(RunHidden(commandLine, kAmpleMs), 0u);
    ASSERT_EQ(RunHidden(missing, kAmpleMs), static_cast<ResultCode>(ERROR_FILE_NOT_FOUND));
  }
  const DWORD after = CountOpenHandles();
  EXPECT_EQ(after, before);

  // The count does see a handle left open, so the check above can fail.
  HANDLE leaked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const DWORD withLeak = CountOpenHandles();
  CloseHandle(leaked);
  EXPECT_EQ(withLeak, after + 1);
}

}  // namespace
