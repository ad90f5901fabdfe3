#pragma once

#include <string>
#include <vector>

#include "result_code.h"

struct TaskResult {
  std::wstring name;
  ResultCode code;
};

// UTF-8 with BOM, CR LF, one "name=ok" or "name=fail:code" line per result.
// A path that cannot be opened is skipped silently: the console lines and the
// exit code already tell the caller everything.
void WriteResultsFile(const std::wstring& path, const std::vector<TaskResult>& results);
