#include "driver/elevation.h"

#include <windows.h>

#include "unique_resource.h"

bool IsProcessElevated() {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put())) return false;
  DWORD elevated = 0;
  DWORD returnedSize = 0;
  const BOOL queried = GetTokenInformation(token.Get(), TokenElevation, &elevated,
                                           /*TokenInformationLength=*/sizeof(elevated),
                                           &returnedSize);
  return queried && elevated != 0;
}
