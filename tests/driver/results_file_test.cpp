#include "driver/results_file.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

TEST(WriteResultsFile, WritesUtf8WithBomAndCrLfLines) {
  TempDirectory dir;
  const std::wstring path = dir.File(L"results.txt");
  WriteResultsFile(path, {{L"firewall-add", 0}, {L"openxr-runtime", 5},
                          {L"clear-xr-env", 4294967295u}, {L"firewall-add", 0}});
  EXPECT_EQ(ReadBytes(path),
            "\xEF\xBB\xBF"
            "firewall-add=ok\r\n"
            "openxr-runtime=fail:5\r\n"
            "clear-xr-env=fail:4294967295\r\n"
            "firewall-add=ok\r\n");
}

TEST(WriteResultsFile, TruncatesAnExistingFile) {
  TempDirectory dir;
  const std::wstring path = dir.File(L"results.txt");
  WriteBytes(path, std::string(1000, 'x') + "\r\nold-task=ok\r\n");
  WriteResultsFile(path, {{L"clear-xr-env", 0}});
  EXPECT_EQ(ReadBytes(path), "\xEF\xBB\xBF" "clear-xr-env=ok\r\n");
}

TEST(WriteResultsFile, SkipsSilentlyWhenThePathCannotBeOpened) {
  TempDirectory dir;
  const std::wstring missing = dir.File(L"no-such-dir\\results.txt");
  WriteResultsFile(missing, {{L"clear-xr-env", 0}});
  EXPECT_FALSE(FileExists(missing));
}

}  // namespace
