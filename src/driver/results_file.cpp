#include "driver/results_file.h"

#include <cstdio>
#include <cwchar>

#include "unique_resource.h"

void WriteResultsFile(const std::wstring& path, const std::vector<TaskResult>& results) {
  UniqueFile file;
  if (_wfopen_s(file.Put(), path.c_str(), L"w, ccs=UTF-8") != 0 || !file.IsValid()) return;
  for (const TaskResult& result : results) {
    if (result.code == 0) {
      std::fwprintf(file.Get(), L"%ls=ok\n", result.name.c_str());
    } else {
      std::fwprintf(file.Get(), L"%ls=fail:%lu\n", result.name.c_str(), result.code);
    }
  }
}
