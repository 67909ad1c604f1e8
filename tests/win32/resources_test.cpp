// What Windows reads from the programs' files: the manifest (visual styles, DPI
// scaling), the version Explorer shows, the icon. Faults there leave a program
// working but blurred, unthemed, nameless or iconless, unseen by other tests.

#include <windows.h>

#include <gtest/gtest.h>

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
  std::vector<std::string> manifest_has, manifest_lacks;
};

void PrintTo(const Program& program, std::ostream* out) {
  *out << program.name;
}

const Program kPrograms[] = {
    {"window",
     L"" SHARELINK_WINDOW_PROGRAM,
     {"asInvoker", kWindows10, "PerMonitorV2", ">true/pm</dpiAware>",
      "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""},
     {}},
    // Asked for by a console program, DPI awareness and the themed controls
    // would change only the console's ways.
    {"terminal",
     L"" SHARELINK_TERMINAL_PROGRAM,
     {"asInvoker", kWindows10},
     {"dpiAware", "Common-Controls"}},
};

std::string resource_bytes(HMODULE module, int id, const wchar_t* type) {
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  return data ? std::string(static_cast<const char*>(data), SizeofResource(module, found)) : "";
}

// The side of the icon picture the system picks from group for that side, as
// it decodes it; 0 when it cannot.
LONG decoded_side(HMODULE module, std::string group, int side) {
  const int id = LookupIconIdFromDirectoryEx(reinterpret_cast<BYTE*>(group.data()), TRUE, side,
                                             side, LR_DEFAULTCOLOR);
  std::string picture = resource_bytes(module, id, RT_ICON);
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

class ProgramResources : public testing::TestWithParam<Program> {};

TEST_P(ProgramResources, ManifestVersionAndIcon) {
  const std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)> module(
      LoadLibraryExW(GetParam().path, nullptr,
                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE),
      &FreeLibrary);
  ASSERT_TRUE(module) << GetLastError();
  const std::string manifest = resource_bytes(module.get(), 1, MAKEINTRESOURCEW(24));
  for (const std::string& entry : GetParam().manifest_has)
    EXPECT_NE(manifest.find(entry), std::string::npos) << entry;
  for (const std::string& entry : GetParam().manifest_lacks)
    EXPECT_EQ(manifest.find(entry), std::string::npos) << entry;

  // Explorer shows icon group 1: a picture of its own at each size, the
  // bitmaps and the 256-pixel PNG alike.
  const std::string group = resource_bytes(module.get(), 1, RT_GROUP_ICON);
  ASSERT_FALSE(group.empty());
  for (const int side : {16, 24, 32, 48, 256})
    EXPECT_EQ(decoded_side(module.get(), group, side), side);

  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(GetParam().path, &ignored);
  ASSERT_GT(size, 0u) << GetLastError();
  std::vector<BYTE> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(GetParam().path, 0, size, block.data()));
  const std::pair<const wchar_t*, const wchar_t*> texts[] = {
      {L"ProductName", L"sharelink"},
      {L"ProductVersion", L"" SHARELINK_VERSION},
      {L"LegalCopyright", L"" SHARELINK_COPYRIGHT}};
  for (const auto& [name, expected] : texts)
    EXPECT_EQ(version_text(block, name), expected) << testing::PrintToString(std::wstring(name));
}

INSTANTIATE_TEST_SUITE_P(Programs, ProgramResources, testing::ValuesIn(kPrograms),
                         testing::PrintToStringParamName());

}  // namespace
