#pragma once

#include <string>
#include <vector>

#include "result_code.h"

struct TaskResult {
  std::wstring name;
  ResultCode code;
};

// UTF-8 with BOM, CR LF, one "name=ok" or "name=fail:code" line per result.
// Run elevated or as Local System, often in a folder standard users can write
// to, it never writes through a link: it writes only a file it has just
// created at that name, in the folder the path names. A file that cannot be
// written so is skipped silently: the console lines and the exit code already
// tell the caller everything.
void WriteResultsFile(const std::wstring& path, const std::vector<TaskResult>& results);
