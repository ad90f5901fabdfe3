#include "driver/results_file.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "test_support.h"

namespace {

TEST(WriteResultsFile, WritesUtf8WithBomAndCrLfLinesWhateverThePathsSpelling) {
  TempDirectory dir;
  const std::wstring path = dir.File(L"results.txt");
  ASSERT_TRUE(CreateDirectoryW(dir.File(L"sub").c_str(), nullptr));
  wchar_t shortFolder[MAX_PATH];
  ASSERT_NE(GetShortPathNameW(dir.Path().c_str(), shortFolder, MAX_PATH), 0u);
  std::wstring slashes = path;
  std::replace(slashes.begin(), slashes.end(), L'\\', L'/');
  // The folder is checked against where its handle really leads: every
  // spelling of the same folder must pass.
  for (const std::wstring& spelling : {path, slashes, dir.File(L"sub\\..\\results.txt"),
                                       L"\\\\?\\" + path, shortFolder + std::wstring(L"\\results.txt")}) {
    WriteResultsFile(spelling, {{L"firewall-add", 0}, {L"openxr-runtime", 5},
                                {L"clear-xr-env", 4294967295u}, {L"firewall-add", 0}});
    EXPECT_EQ(ReadBytes(path),
              "\xEF\xBB\xBF"
              "firewall-add=ok\r\n"
              "openxr-runtime=fail:5\r\n"
              "clear-xr-env=fail:4294967295\r\n"
              "firewall-add=ok\r\n")
        << ToUtf8(spelling);
    DeleteFileW(path.c_str());
  }
}

TEST(WriteResultsFile, SkipsSilentlyWhenThePathCannotBeOpened) {
  TempDirectory dir;
  const std::wstring missing = dir.File(L"no-such-dir\\results.txt");
  WriteResultsFile(missing, {{L"clear-xr-env", 0}});
  EXPECT_FALSE(FileExists(missing));
}

}  // namespace
