#include "download/local_names.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <atomic>
#include <cctype>
#include <filesystem>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "download/disk_file.h"
#include "scratch_path.h"
#include "text/text_encoding.h"
#include "windows/local_text_support.h"

namespace sharelink {
namespace {

using Path = std::vector<std::string>;
constexpr NameRules kPosix = NameRules::posix;
constexpr NameRules kWindows = NameRules::windows;

std::string repeat(const std::string& unit, int times) {
  std::string text;
  for (int i = 0; i < times; ++i)
    text += unit;
  return text;
}

// A row's name as ctest shows it: its words joined by "_".
std::string case_name(const char* name) {
  std::string out = name;
  for (char& c : out) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return out;
}

struct NamesCase {
  const char* name;
  NameRules rules;
  std::vector<Path> files;  // UTF-8, in list order
  std::vector<std::string> expected;
  std::set<std::string> occupied = {};     // taken on disk by the user's files
  std::vector<std::string> reserved = {};  // given on an earlier run
};

void PrintTo(const NamesCase& row, std::ostream* out) {
  *out << row.name;
}

class Assign : public ::testing::TestWithParam<NamesCase> {};

TEST_P(Assign, GivesEachFileASafeUniqueName) {
  const NamesCase& row = GetParam();
  LocalNames names(row.rules);
  for (const std::string& path : row.reserved)
    names.reserve(path);
  std::vector<std::string> given;
  for (const Path& path : row.files) {
    given.push_back(
        names.assign(path, [&](const std::string& p) { return row.occupied.count(p) != 0; }));
    EXPECT_TRUE(is_safe_relative_path(given.back(), row.rules)) << given.back();
  }
  EXPECT_EQ(given, row.expected);
}

const std::string kLongStem = repeat(u8"\u00e9", 300);      // 2 bytes, 1 unit each
const std::string kLongWide = repeat(u8"\U00020000", 300);  // 4 bytes, 2 units each
const std::string kLongCjk = repeat(u8"\u4e2d", 300);       // 3 bytes, 1 unit each

INSTANTIATE_TEST_SUITE_P(
    Names, Assign,
    ::testing::Values(
        NamesCase{"plain",
                  kPosix,
                  {{"a", "b.txt"}, {u8"照片", u8"雪.jpg"}},
                  {"a/b.txt", u8"照片/雪.jpg"}},
        NamesCase{"forbidden",
                  kWindows,
                  {{"a<b>:c\"d|e?f*g\\h/i"}, {"\x01x\x7f\xc2\x9fy"}},
                  {"a_b__c_d_e_f_g_h_i", "_x__y"}},
        NamesCase{"direction controls and separators",
                  kPosix,
                  {{u8"x\u202efdp.exe"}, {u8"a\u2028b\u2066c"}},
                  {"x_fdp.exe", "a_b_c"}},
        NamesCase{"not UTF-8",
                  kPosix,
                  {{"\xff\xc0\x80.txt"}, {"\xed\xa0\x80"}},
                  {u8"\ufffd\ufffd\ufffd.txt", u8"\ufffd\ufffd\ufffd"}},
        NamesCase{"dots and empties never climb",
                  kPosix,
                  {{"..", "x"}, {".", "y"}, {"", "z"}, {"a", ".."}, {"a", "..."}},
                  {"_/x", "_ (1)/y", "_ (2)/z", "a/_", "a/_ (1)"}},
        NamesCase{"trailing dots and spaces", kWindows, {{"dir. ", "name. . "}}, {"dir/name"}},
        NamesCase{"device names",
                  kPosix,
                  {{"con.txt"},
                   {"Com1.tar.gz"},
                   {"NUL"},
                   {"lpt9"},
                   {"con .txt"},
                   {"CONOUT$"},
                   {u8"com\u00b9"},
                   {"COM10.txt"},
                   {"console.txt"},
                   {"aux", "x"}},
                  {"con_.txt", "Com1_.tar.gz", "NUL_", "lpt9_", "con _.txt", "CONOUT$_",
                   u8"com\u00b9_", "COM10.txt", "console.txt", "aux_/x"}},
        NamesCase{
            "letter case matters on posix", kPosix, {{"A.txt"}, {"a.txt"}}, {"A.txt", "a.txt"}},
        NamesCase{
            "letter case folds on windows",
            kWindows,
            {{"A.txt"}, {"a.txt"}, {u8"\u042f.txt"}, {u8"\u044f.txt"}, {u8"\u00c9"}, {u8"\u00e9"}},
            {"A.txt", "a (1).txt", u8"\u042f.txt", u8"\u044f (1).txt", u8"\u00c9", u8"\u00e9 (1)"}},
        NamesCase{"names mapped to one",
                  kPosix,
                  {{"a:b.txt"}, {"a_b.txt"}, {"a?b.txt"}},
                  {"a_b.txt", "a_b (1).txt", "a_b (2).txt"}},
        NamesCase{
            "number before the extension",
            kPosix,
            {{"a.tar.gz"}, {"a.tar.gz"}, {".profile"}, {".profile"}, {"v1.2.iso"}, {"v1.2.iso"}},
            {"a.tar.gz", "a (1).tar.gz", ".profile", ".profile (1)", "v1.2.iso", "v1.2 (1).iso"}},
        NamesCase{"partial names stay apart",
                  kPosix,
                  {{"x"}, {"x.part"}, {"y.part"}, {"y"}},
                  {"x", "x (1).part", "y.part", "y (1)"}},
        NamesCase{"file then folder of one name",
                  kPosix,
                  {{"d"}, {"d", "x"}, {"d", "y"}},
                  {"d", "d (1)/x", "d (1)/y"}},
        NamesCase{"folder then file of one name",
                  kWindows,
                  {{"D", "x"}, {"d"}, {"d", "y"}},
                  {"D/x", "d (1)", "d (2)/y"}},
        NamesCase{"the record's name",
                  kWindows,
                  {{".sharelink-download.JSON"}},
                  {".sharelink-download (1).JSON"}},
        NamesCase{"the user's files",
                  kPosix,
                  {{"a.txt"}, {"d", "a.txt"}},
                  {"a (2).txt", "d/a.txt"},
                  {"a.txt", "a (1).txt"}},
        NamesCase{"an earlier run's names",
                  kWindows,
                  {{"a.txt"}, {"d", "A.txt"}, {"d", "b.txt"}},
                  {"a (1).txt", "d/A (2).txt", "d/b.txt"},
                  {},
                  {"a.txt", "d/a.txt", "D/a (1).TXT"}},
        // Cut at a character's end to 239 units with the extension kept:
        // 117 x 2 + 4 bytes, 58 x 4 + 4, 79 x 3; 117 x 2 + 4 units, 239.
        NamesCase{"long on posix",
                  kPosix,
                  {{kLongStem + ".txt"}, {kLongWide + ".txt"}, {kLongCjk}},
                  {repeat(u8"\u00e9", 117) + ".txt", repeat(u8"\U00020000", 58) + ".txt",
                   repeat(u8"\u4e2d", 79)}},
        NamesCase{"long on windows",
                  kWindows,
                  {{kLongWide + ".txt"}, {kLongWide + ".txt"}, {kLongCjk}},
                  {repeat(u8"\U00020000", 117) + ".txt", repeat(u8"\U00020000", 117) + " (1).txt",
                   repeat(u8"\u4e2d", 239)}},
        NamesCase{"long extension is not kept",
                  kPosix,
                  {{"a." + repeat("e", 300)}},
                  {"a." + repeat("e", 237)}}),
    [](const auto& info) { return case_name(info.param.name); });

// Writes files through the names given and the disk calls, and reads back what
// the file system holds: each row's bytes land at the offsets they were sent to,
// under the name expected, below the folder and nowhere else.
struct DiskCase {
  const char* name;
  std::vector<Path> path;  // in local text when local is set, else UTF-8
  std::string landed;      // UTF-8, the last file's path below the folder
  bool local = false;      // goes through the local code page (GB18030)
};

void PrintTo(const DiskCase& row, std::ostream* out) {
  *out << row.name;
}

class Land : public ::testing::TestWithParam<DiskCase> {};

// The files below folder, by the file system's own listing, "/"-separated
// UTF-8; with remove, they and their folders go. On Windows through the wide
// calls in the \\?\ form, since the C++ library there misses paths past 260.
#ifdef _WIN32
std::set<std::string> files_below(const std::wstring& folder, const std::string& prefix,
                                  bool remove) {
  std::set<std::string> files;
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return files;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    char utf8[1024] = {};
    WideCharToMultiByte(CP_UTF8, 0, name.c_str(), -1, utf8, sizeof utf8, nullptr, nullptr);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      files.merge(files_below(folder + L"\\" + name, prefix + utf8 + "/", remove));
      if (remove) RemoveDirectoryW((folder + L"\\" + name).c_str());
    } else {
      files.insert(prefix + utf8);
      if (remove) DeleteFileW((folder + L"\\" + name).c_str());
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return files;
}

std::set<std::string> files_below(const std::string& folder, bool remove = false) {
  const std::wstring wide =
      std::filesystem::absolute(std::filesystem::u8path(folder)).make_preferred().wstring();
  return files_below(L"\\\\?\\" + wide, "", remove);
}
#else
std::set<std::string> files_below(const std::string& folder, bool remove = false) {
  namespace fs = std::filesystem;
  std::set<std::string> files;
  std::error_code error;
  for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    if (it->is_regular_file())
      files.insert(it->path().lexically_relative(folder).generic_u8string());
  }
  if (remove) fs::remove_all(folder, error);
  return files;
}
#endif

// Removes what a case made, whichever way it ends.
struct Made {
  explicit Made(std::string folder) : folder(std::move(folder)) { files_below(this->folder, true); }
  ~Made() { files_below(folder, true); }
  std::string folder;
};

const std::string kFolder200 = repeat("f", 200);

TEST_P(Land, WritesTheNameGivenWithBytesAtTheirOffsets) {
  const DiskCase& row = GetParam();
  if (row.local && testing::local_text_lacks_gb18030()) GTEST_SKIP() << testing::kLocalTextIsGbk;
  // ctest runs the rows side by side: each its own folder.
  testing::ScratchPath scratch("sharelink_land_" + case_name(row.name));
  const std::string folder = scratch.path() + "/dir";
  const Made made(folder);
  LocalNames names(native_name_rules());
  std::string relative;
  for (Path path : row.path) {
    if (row.local) {
      for (std::string& part : path)
        part = gbk_to_utf8(part);
    }
    relative =
        names.assign(path, [&](const std::string& p) { return path_exists(join_path(folder, p)); });
  }
  ASSERT_EQ(relative, row.landed);
  const std::string final_path = join_path(folder, relative);
  const std::size_t slash = relative.rfind('/');
  const std::string parent = slash == std::string::npos ? "" : "/" + relative.substr(0, slash);
  ASSERT_FALSE(make_folders(folder + parent));
  DiskError error;
  {
    auto file = DiskFile::open(final_path + ".part", error);
    ASSERT_TRUE(file) << error.reason;
    ASSERT_FALSE(file->resize(10));
    ASSERT_FALSE(file->write_at(6, "6789", 4));  // the later piece first
    ASSERT_FALSE(file->write_at(0, "012345", 6));
    ASSERT_FALSE(file->flush());
  }
  ASSERT_FALSE(rename_replacing(final_path + ".part", final_path));
  EXPECT_EQ(file_size(final_path), 10u);
  EXPECT_EQ(read_small_file(final_path, 10), "0123456789");
  EXPECT_EQ(read_small_file(final_path, 9), std::nullopt);
  // What the file system holds, by its own listing.
  const std::set<std::string> listed = files_below(folder);
  EXPECT_EQ(listed, std::set<std::string>{row.landed});
}

INSTANTIATE_TEST_SUITE_P(
    Disk, Land,
    ::testing::Values(
        DiskCase{"plain", {{"a", "b.txt"}}, "a/b.txt"},
        DiskCase{"beyond GBK",
                 {{u8"\U00020000", u8"\U0001f600 \u00e9.txt"}},
                 u8"\U00020000/\U0001f600 \u00e9.txt"},
        DiskCase{"beyond GBK through local text", {{"\U00020000.txt"}}, u8"\U00020000.txt", true},
        DiskCase{"past 260 characters",
                 {{kFolder200, kFolder200, repeat("n", 200) + ".bin"}},
                 kFolder200 + "/" + kFolder200 + "/" + repeat("n", 200) + ".bin"},
        DiskCase{"device name and letter case",
                 {{"Con.txt"}, {"con.TXT"}},
                 native_name_rules() == kWindows ? "con_ (1).TXT" : "con_.TXT"}),
    [](const auto& info) { return case_name(info.param.name); });

TEST(Disk, WritesFromManyThreadsLandAtTheirOffsets) {
  testing::ScratchPath scratch("sharelink_threads.part");
  DiskError error;
  auto file = DiskFile::open(scratch.path(), error);
  ASSERT_TRUE(file) << error.reason;
  constexpr int kThreads = 4, kBlocks = 256;
  constexpr std::size_t kBlock = 4096;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int b = kBlocks - 1 - t; b >= 0; b -= kThreads) {
        const std::string block(kBlock, static_cast<char>('a' + b % 26));
        if (file->write_at(b * kBlock, block.data(), block.size())) ++failures;
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
  file.reset();
  EXPECT_EQ(failures, 0);
  const std::optional<std::string> bytes = read_small_file(scratch.path(), kBlocks * kBlock);
  ASSERT_TRUE(bytes);
  ASSERT_EQ(bytes->size(), kBlocks * kBlock);
  for (std::size_t at = 0; at < bytes->size(); ++at) {
    ASSERT_EQ((*bytes)[at], 'a' + (at / kBlock) % 26) << at;
  }
}

TEST(Disk, FolderWithAFileInTheWayFailsNamingThePath) {
  testing::ScratchPath scratch("sharelink_in_the_way");
  ASSERT_FALSE(make_folders(scratch.path()));
  const std::string blocker = join_path(scratch.path(), "file");
  ASSERT_FALSE(write_file_atomically(blocker, "user's"));
  const DiskError error = make_folders(join_path(blocker, "sub"));
  EXPECT_TRUE(error);
  EXPECT_NE(error.path.find("file"), std::string::npos) << error.path;
  EXPECT_EQ(read_small_file(blocker, 100), "user's");
  DiskError space_error;
  EXPECT_TRUE(free_space(join_path(scratch.path(), "not/yet"), space_error)) << space_error.reason;
}

}  // namespace
}  // namespace sharelink
