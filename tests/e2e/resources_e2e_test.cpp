// The built program's outward identity: the manifest that makes Windows
// elevate it, and its version block.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

std::string ManifestOf(const std::wstring& exe) {
  HMODULE module = LoadLibraryExW(exe.c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module) return {};
  std::string manifest;
  if (HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))) {
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, found)));
    manifest.assign(bytes, SizeofResource(module, found));
  }
  FreeLibrary(module);
  return manifest;
}

TEST(Resources, ManifestRequiresAdministratorWithoutUiAccess) {
  const std::string manifest = ManifestOf(ProgramPath());
  ASSERT_FALSE(manifest.empty());
  EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"requireAdministrator\" "
                          "uiAccess=\"false\"/>"),
            std::string::npos)
      << manifest;
  EXPECT_NE(manifest.find("urn:schemas-microsoft-com:asm.v3"), std::string::npos);
}

TEST(Resources, VersionBlockNamesTheProduct) {
  const std::wstring exe = ProgramPath();
  DWORD ignored = 0;
  std::vector<BYTE> block(GetFileVersionInfoSizeW(exe.c_str(), &ignored));
  ASSERT_FALSE(block.empty());
  ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT size = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);
  EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u);
  EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

  struct Translation {
    WORD language;
    WORD codePage;
  }* translations = nullptr;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translations), &size));
  ASSERT_EQ(size, sizeof(Translation)) << "exactly one translation";
  EXPECT_EQ(translations->language, 0x0409);
  EXPECT_EQ(translations->codePage, 1200);

  const struct {
    const wchar_t* name;
    std::wstring value;
  } strings[] = {
      {L"FileVersion", L"1.0.0.0"},
      {L"ProductVersion", L"1.0.0.0"},
      {L"FileDescription", L"Ulvex Hub System Setup"},
      {L"InternalName", L"UlvexSystemSetup"},
      {L"OriginalFilename", L"UlvexSystemSetup.exe"},
      {L"ProductName", L"Ulvex Hub"},
  };
  for (const auto& s : strings) {
    wchar_t* value = nullptr;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + s.name;
    ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &size))
        << ToUtf8(s.name);
    EXPECT_EQ(std::wstring(value), s.value) << ToUtf8(s.name);
  }
}

}  // namespace
