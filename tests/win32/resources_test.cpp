// What Windows reads from the programs' files: the manifest (visual styles, DPI
// scaling), the version Explorer shows, the icon. Faults there leave a program
// working but blurred, unthemed, nameless or iconless, unseen by other tests.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <memory>
#include <ostream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

const char kWindows10[] = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}";

struct Program {
  const char* name;
  const wchar_t* path;
  const wchar_t* file_name;
  std::vector<std::string> manifest_has;
  std::vector<std::string> manifest_lacks;
};

const Program kPrograms[] = {
    {"window",
     L"" SHARELINK_WINDOW_PROGRAM,
     L"sharelink.exe",
     {"asInvoker", kWindows10, "PerMonitorV2", ">true/pm</dpiAware>",
      "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""},
     {}},
    // Asked for by a console program, DPI awareness and the themed controls
    // would change only the console's ways.
    {"terminal",
     L"" SHARELINK_TERMINAL_PROGRAM,
     L"sharelink-cli.exe",
     {"asInvoker", kWindows10},
     {"dpiAware", "Common-Controls"}},
};

std::string resource_bytes(HMODULE module, int id, const wchar_t* type) {
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  return data ? std::string(static_cast<const char*>(data), SizeofResource(module, found)) : "";
}

// A text of the string table that VarFileInfo names, as Explorer looks it up.
std::wstring version_text(const std::vector<BYTE>& block, const wchar_t* name) {
  WORD* translation = nullptr;
  UINT size = 0;
  VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                 reinterpret_cast<void**>(&translation), &size);
  if (size < 2 * sizeof(WORD)) return L"(no translation)";
  wchar_t key[96];
  std::swprintf(key, 96, L"\\StringFileInfo\\%04x%04x\\%ls", translation[0], translation[1], name);
  wchar_t* text = nullptr;
  if (!VerQueryValueW(block.data(), key, reinterpret_cast<void**>(&text), &size)) return L"(none)";
  return std::wstring(text, wcsnlen(text, size));
}

// The side of an icon picture as the system decodes it; 0 when it cannot.
LONG decoded_side(std::string picture) {
  HICON icon = CreateIconFromResourceEx(reinterpret_cast<BYTE*>(picture.data()),
                                        static_cast<DWORD>(picture.size()), TRUE, 0x00030000, 0, 0,
                                        LR_DEFAULTCOLOR);
  ICONINFO info{};
  BITMAP bitmap{};
  if (icon && GetIconInfo(icon, &info)) {
    GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
  }
  if (icon) DestroyIcon(icon);
  return bitmap.bmWidth == bitmap.bmHeight ? bitmap.bmWidth : 0;
}

class ProgramResources : public testing::TestWithParam<Program> {};

TEST_P(ProgramResources, VersionIsTheProjects) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(GetParam().path, &ignored);
  ASSERT_GT(size, 0u) << GetLastError();
  std::vector<BYTE> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(GetParam().path, 0, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixed_size = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixed_size));
  ASSERT_GE(fixed_size, sizeof *fixed);
  const auto dotted = [](DWORD high, DWORD low) {
    return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." +
           std::to_string(HIWORD(low)) + (LOWORD(low) ? "+" : "");
  };
  EXPECT_EQ(dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS), SHARELINK_VERSION);
  EXPECT_EQ(dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS), SHARELINK_VERSION);
  const std::pair<const wchar_t*, std::wstring> texts[] = {
      {L"ProductName", L"sharelink"},
      {L"ProductVersion", L"" SHARELINK_VERSION},
      {L"FileVersion", L"" SHARELINK_VERSION},
      {L"LegalCopyright", L"" SHARELINK_COPYRIGHT},
      {L"OriginalFilename", GetParam().file_name},
  };
  for (const auto& [name, expected] : texts)
    EXPECT_EQ(version_text(block, name), expected) << testing::PrintToString(std::wstring(name));
}

TEST_P(ProgramResources, ManifestAndIcon) {
  const std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)> module(
      LoadLibraryExW(GetParam().path, nullptr,
                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE),
      &FreeLibrary);
  ASSERT_TRUE(module) << GetLastError();
  const std::string manifest = resource_bytes(module.get(), 1, MAKEINTRESOURCEW(24));
  ASSERT_FALSE(manifest.empty());
  for (const std::string& entry : GetParam().manifest_has)
    EXPECT_NE(manifest.find(entry), std::string::npos) << entry;
  for (const std::string& entry : GetParam().manifest_lacks)
    EXPECT_EQ(manifest.find(entry), std::string::npos) << entry;

  // Explorer shows the first icon group, 1. GRPICONDIR: three WORDs, then
  // 14-byte entries, each the side of one picture (0 for 256) first and its
  // RT_ICON id last. Each picture must decode at its own size, the bitmaps and
  // the PNG alike.
  const std::string group = resource_bytes(module.get(), 1, RT_GROUP_ICON);
  ASSERT_GE(group.size(), 6u);
  WORD count = 0;
  std::memcpy(&count, group.data() + 4, sizeof count);
  ASSERT_EQ(group.size(), 6u + 14 * count);
  std::vector<LONG> sides, decoded;
  for (int i = 0; i < count; ++i) {
    const char* entry = group.data() + 6 + 14 * i;
    WORD id = 0;
    std::memcpy(&id, entry + 12, sizeof id);
    sides.push_back(static_cast<unsigned char>(*entry) ? static_cast<unsigned char>(*entry) : 256);
    decoded.push_back(decoded_side(resource_bytes(module.get(), id, RT_ICON)));
  }
  EXPECT_EQ(sides, (std::vector<LONG>{16, 24, 32, 48, 256}));
  EXPECT_EQ(decoded, sides);
}

void PrintTo(const Program& program, std::ostream* out) {
  *out << program.name;
}

INSTANTIATE_TEST_SUITE_P(Programs, ProgramResources, testing::ValuesIn(kPrograms),
                         testing::PrintToStringParamName());

}  // namespace
