// What we ship is what we built: a standalone, hardened console image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>
#include <string>

#include "test_support.h"

namespace {

// Windows' KnownDLLs list (HKLM\...\Session Manager\KnownDLLs): always loaded
// from the system directory, never from next to the program.
const std::set<std::string> kKnownDlls = {
    "advapi32.dll", "clbcatq.dll",  "combase.dll",  "comdlg32.dll", "coml2.dll",
    "difxapi.dll",  "gdi32.dll",    "gdiplus.dll",  "imagehlp.dll", "imm32.dll",
    "kernel32.dll", "msctf.dll",    "msvcrt.dll",   "normaliz.dll", "nsi.dll",
    "ole32.dll",    "oleaut32.dll", "psapi.dll",    "rpcrt4.dll",   "sechost.dll",
    "setupapi.dll", "shcore.dll",   "shell32.dll",  "shlwapi.dll",  "user32.dll",
    "wldap32.dll",  "ws2_32.dll",
};

class PeImage {
 public:
  explicit PeImage(std::string bytes) : bytes_(std::move(bytes)) {}

  const IMAGE_NT_HEADERS64* Headers() const {
    if (bytes_.size() < sizeof(IMAGE_DOS_HEADER)) return nullptr;
    const auto* dos = At<IMAGE_DOS_HEADER>(0);
    if (dos == nullptr || dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
    const auto* nt = At<IMAGE_NT_HEADERS64>(dos->e_lfanew);
    if (nt == nullptr || nt->Signature != IMAGE_NT_SIGNATURE ||
        nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
      return nullptr;
    }
    return nt;
  }

  // DLL names of the import directory, lower case.
  std::vector<std::string> ImportedDlls() const {
    std::vector<std::string> names;
    const IMAGE_NT_HEADERS64* nt = Headers();
    const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (entry.VirtualAddress == 0) return names;
    // Each descriptor is 20 bytes, with the RVA of the DLL's name at 12.
    constexpr std::size_t recordSize = 20, nameOffset = 12;
    for (std::size_t record = Offset(entry.VirtualAddress);; record += recordSize) {
      const auto* nameRva = At<DWORD>(record + nameOffset);
      if (nameRva == nullptr || *nameRva == 0) break;
      std::string name = bytes_.c_str() + Offset(*nameRva);
      std::transform(name.begin(), name.end(), name.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      names.push_back(name);
    }
    return names;
  }

 private:
  template <typename T>
  const T* At(std::size_t offset) const {
    return offset + sizeof(T) <= bytes_.size() ? reinterpret_cast<const T*>(bytes_.data() + offset)
                                               : nullptr;
  }

  std::size_t Offset(DWORD rva) const {
    const IMAGE_NT_HEADERS64* nt = Headers();
    const auto* section = reinterpret_cast<const IMAGE_SECTION_HEADER*>(
        reinterpret_cast<const char*>(&nt->OptionalHeader) + nt->FileHeader.SizeOfOptionalHeader);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
      if (rva >= section->VirtualAddress &&
          rva < section->VirtualAddress + section->Misc.VirtualSize) {
        return rva - section->VirtualAddress + section->PointerToRawData;
      }
    }
    return bytes_.size();  // outside every section: reads as nothing
  }

  std::string bytes_;
};

TEST(PeImage, ImportsOnlyKnownSystemDlls) {
  const PeImage image(ReadBytes(ProgramPath()));
  ASSERT_NE(image.Headers(), nullptr);
  const std::vector<std::string> imports = image.ImportedDlls();
  EXPECT_FALSE(imports.empty());
  EXPECT_NE(std::find(imports.begin(), imports.end(), "kernel32.dll"), imports.end());
  for (const std::string& dll : imports) {
    EXPECT_TRUE(kKnownDlls.count(dll)) << dll << " is not a KnownDLL";
  }
  // Delay-loaded DLLs would escape the check above; user32 is bound by hand.
  EXPECT_EQ(image.Headers()->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].Size,
            0u);
}

TEST(PeImage, IsAHardenedX64ConsoleProgram) {
  const PeImage image(ReadBytes(ProgramPath()));
  const IMAGE_NT_HEADERS64* nt = image.Headers();
  ASSERT_NE(nt, nullptr);
  EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
  EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_CUI);
  const WORD flags = nt->OptionalHeader.DllCharacteristics;
  EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE);
  EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT);
  EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA);
  EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE);  // as Visual Studio links
  // Relocations must be kept, or Windows cannot move the image after all.
  EXPECT_FALSE(nt->FileHeader.Characteristics & IMAGE_FILE_RELOCS_STRIPPED);
  EXPECT_NE(nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size, 0u);
}

}  // namespace
