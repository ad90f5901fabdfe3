#include "driver/results_file.h"

#include <windows.h>
#include <winternl.h>

#include "unique_resource.h"

namespace {

// MinGW's headers hide this class behind a wrong version test.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
// Older SDKs lack the first; the second is in ntstatus.h, which clashes with
// windows.h.
constexpr ULONG kObjDontReparse = 0x00001000;
constexpr NTSTATUS kStatusInvalidParameter = static_cast<NTSTATUS>(0xC000000D);

// For the Win32 calls that fill a buffer and return the length written, or
// the size they need when the buffer is too small.
template <typename Fill>
std::wstring FilledString(Fill fill) {
  std::wstring text(fill(nullptr, 0), L'\0');
  const DWORD length = fill(text.data(), static_cast<DWORD>(text.size()));
  text.resize(length < text.size() ? length : 0);
  return text;
}

std::wstring FinalPath(HANDLE handle) {
  return FilledString([handle](wchar_t* buffer, DWORD size) {
    return GetFinalPathNameByHandleW(handle, buffer, size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  });
}

// A folder path as GetFinalPathNameByHandleW spells it: long names, \\?\ or
// \\?\UNC\ in front, no backslash at the end.
std::wstring FinalForm(const std::wstring& path) {
  std::wstring form = FilledString([&path](wchar_t* buffer, DWORD size) {
    return GetLongPathNameW(path.c_str(), buffer, size);
  });
  if (form.empty()) return form;  // a failed look-up matches nothing
  if (!form.starts_with(L"\\\\?\\")) {
    form = form.starts_with(L"\\\\") ? L"\\\\?\\UNC" + form.substr(1) : L"\\\\?\\" + form;
  }
  if (form.ends_with(L'\\')) form.pop_back();
  return form;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
  return !a.empty() && CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                            static_cast<int>(b.size()), /*ignoreCase=*/TRUE) ==
                           CSTR_EQUAL;
}

// Never follows a link at the path itself: a link is opened as what it is.
UniqueFileHandle OpenEntry(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                           DWORD flags) {
  return UniqueFileHandle(CreateFileW(path.c_str(), access, share, /*securityAttributes=*/nullptr,
                                      disposition, flags | FILE_FLAG_OPEN_REPARSE_POINT,
                                      /*templateFile=*/nullptr));
}

// Opens a bare name inside the held folder, as POSIX's openat does: the
// folder's path is not walked again, and a reparse point is followed neither
// at the name nor, where Windows knows OBJ_DONT_REPARSE, anywhere on the way.
// Win32 has no relative open; ntdll is mapped in every process already.
UniqueFileHandle OpenInFolder(HANDLE folder, const std::wstring& name, ACCESS_MASK access,
                              ULONG share, ULONG disposition, ULONG options) {
  static const auto ntCreateFile = reinterpret_cast<decltype(&NtCreateFile)>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtCreateFile")));
  if (ntCreateFile == nullptr || name.size() > 32767) return UniqueFileHandle();
  UNICODE_STRING objectName = {static_cast<USHORT>(name.size() * sizeof(wchar_t)),
                               static_cast<USHORT>(name.size() * sizeof(wchar_t)),
                               const_cast<wchar_t*>(name.data())};
  // Names ignore case, as with CreateFileW. Systems older than
  // OBJ_DONT_REPARSE refuse it as an invalid parameter.
  constexpr ULONG kIgnoreCase = OBJ_CASE_INSENSITIVE;
  for (const ULONG attributes : {kIgnoreCase | kObjDontReparse, kIgnoreCase}) {
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &objectName, attributes, folder,
                               /*SecurityDescriptor=*/nullptr);
    IO_STATUS_BLOCK io = {};
    HANDLE handle = nullptr;
    const NTSTATUS opened = ntCreateFile(
        &handle, access | SYNCHRONIZE, &object, &io, /*AllocationSize=*/nullptr,
        FILE_ATTRIBUTE_NORMAL, share, disposition,
        options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, /*EaBuffer=*/nullptr,
        /*EaLength=*/0);
    if (opened >= 0) return UniqueFileHandle(handle);
    if (opened != kStatusInvalidParameter) break;
  }
  return UniqueFileHandle();
}

bool IsPlainFolder(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(handle, &info) &&
         (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
             FILE_ATTRIBUTE_DIRECTORY;
}

// Removes the name the handle was opened by: a link goes, its target stays.
// With POSIX semantics the name goes when this handle closes, whoever else
// holds the file, and a read-only attribute is ignored (Windows 10 1809 on);
// without, the name goes when the last handle to the file closes.
bool DeleteByHandle(HANDLE handle) {
  FILE_DISPOSITION_INFO_EX posix = {FILE_DISPOSITION_FLAG_DELETE |
                                    FILE_DISPOSITION_FLAG_POSIX_SEMANTICS |
                                    FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE};
  FILE_DISPOSITION_INFO plain = {TRUE};
  return SetFileInformationByHandle(handle, kFileDispositionInfoEx, &posix, sizeof(posix)) ||
         SetFileInformationByHandle(handle, FileDispositionInfo, &plain, sizeof(plain));
}

// Without POSIX semantics a read-only file cannot be deleted: its attribute
// is cleared through the handle, and only where no other name (a hard link to
// someone's file) shares it.
bool ClearReadOnly(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info) || info.nNumberOfLinks != 1 ||
      !(info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) {
    return false;
  }
  const UniqueFileHandle writable(ReOpenFile(handle, FILE_WRITE_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             FILE_FLAG_OPEN_REPARSE_POINT));
  FILE_BASIC_INFO basic = {};  // times of 0 stay as they are
  basic.FileAttributes = (info.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_NORMAL;
  return writable.IsValid() &&
         SetFileInformationByHandle(writable.Get(), FileBasicInfo, &basic, sizeof(basic));
}

UniqueFileHandle CreateNewFile(HANDLE folder, const std::wstring& name) {
  return OpenInFolder(folder, name, GENERIC_WRITE | DELETE, /*share=*/0, FILE_CREATE,
                      FILE_NON_DIRECTORY_FILE);
}

// Whatever stands at the name (a file, a hard or symbolic link, a junction,
// someone's forged results) is deleted as itself, then the file is created
// once more. A real folder there is left alone, and so is anything the handle
// reached elsewhere (Wine opens a Unix symbolic link only as its target).
UniqueFileHandle CreateFreshFile(HANDLE folder, const std::wstring& name,
                                 const std::wstring& finalPath) {
  UniqueFileHandle file = CreateNewFile(folder, name);
  if (file.IsValid()) return file;
  {
    // A link or junction at the name is opened as itself, a folder too.
    const UniqueFileHandle old =
        OpenInFolder(folder, name, DELETE | FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                     /*options=*/0);
    if (!old.IsValid() || IsPlainFolder(old.Get()) || !SameText(FinalPath(old.Get()), finalPath) ||
        !(DeleteByHandle(old.Get()) || (ClearReadOnly(old.Get()) && DeleteByHandle(old.Get())))) {
      return file;
    }
  }
  return CreateNewFile(folder, name);
}

std::string ResultsBytes(const std::vector<TaskResult>& results) {
  std::wstring text;
  for (const TaskResult& result : results) {
    text += result.name + (result.code == 0 ? L"=ok" : L"=fail:" + std::to_wstring(result.code)) +
            L"\r\n";
  }
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string bytes = "\xEF\xBB\xBF" + std::string(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data() + 3,
                      size, nullptr, nullptr);
  return bytes;
}

// RedirectionGuard: from here on Windows follows no junction that a
// non-administrator made. It cannot be turned off, so it waits until the
// tasks are done. Systems without it go on without it.
void TrustOnlyAdministratorsRedirections() {
  PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy = {};
  policy.EnforceRedirectionTrust = 1;
  SetProcessMitigationPolicy(ProcessRedirectionTrustPolicy, &policy, sizeof(policy));
}

}  // namespace

void WriteResultsFile(const std::wstring& path, const std::vector<TaskResult>& results) {
  TrustOnlyAdministratorsRedirections();
  const std::wstring full = FilledString([&path](wchar_t* buffer, DWORD size) {
    return GetFullPathNameW(path.c_str(), size, buffer, /*filePart=*/nullptr);
  });
  const std::size_t separator = full.find_last_of(L'\\');
  if (separator == std::wstring::npos) return;
  const std::wstring folderPath = full.substr(0, separator + 1);
  const std::wstring name = full.substr(separator + 1);
  if (name.empty() || name.find(L':') != std::wstring::npos) return;  // no streams

  // Held without delete sharing, the folder cannot be renamed or removed, and
  // so neither can the folders above it. Sharing counts only for a handle with
  // data access, hence the listing right. The handle does not stop whoever
  // may write the folder from changing what is in it, or from making the
  // emptied folder a mount point: so the file is made through this handle.
  const UniqueFileHandle folder =
      OpenEntry(folderPath, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  if (!folder.IsValid() || !IsPlainFolder(folder.Get())) return;
  // A junction or link anywhere above would show here as another place.
  const std::wstring folderFinal = FinalForm(FinalPath(folder.Get()));
  if (!SameText(folderFinal, FinalForm(folderPath))) return;

  const std::wstring finalPath = folderFinal + L"\\" + name;
  const UniqueFileHandle file = CreateFreshFile(folder.Get(), name, finalPath);
  if (!file.IsValid()) return;
  const std::string bytes = ResultsBytes(results);
  DWORD written = 0;
  if (!SameText(FinalPath(file.Get()), finalPath) ||
      !WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                 /*overlapped=*/nullptr) ||
      written != bytes.size()) {
    DeleteByHandle(file.Get());
  }
}
