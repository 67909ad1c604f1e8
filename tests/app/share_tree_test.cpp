// Choosing files by pattern and by folder, on lists as the service may send
// them.

#include "app/share_tree.h"

#include <gtest/gtest.h>

namespace sharelink {
namespace {

TEST(PathPattern, Matches) {
  struct Row {
    const char* pattern;
    const char* path;
    bool match;
  };
  const Row rows[] = {
      {"a.txt", "a.txt", true},
      {"A.TXT", "a.txt", true},
      {"*.txt", "a.txt", true},
      {"*.txt", "dir/a.txt", false},  // "*" stays within a name
      {"*/*.txt", "dir/a.txt", true},
      {"**/*.txt", "a.txt", true},  // "**" is any number of folders, none too
      {"**/*.txt", "d/e/f/a.txt", true},
      {"d/**", "d/e/a.txt", true},
      {"d/**/a.txt", "d/a.txt", true},
      {"d/**/b.txt", "d/e/a.txt", false},
      {"?.txt", "ab.txt", false},
      {"??.txt", "ab.txt", true},
      {"/d//a.txt/", "d/a.txt", true},
      {"d\\a.txt", "d/a.txt", true},
      {"", "a.txt", false},
      {"/", "a.txt", false},
      {"d", "d/a.txt", false},  // a folder's pattern names the folder itself
      {"*a*b*c", "xaybzc", true},
      {"*a*b*c", "xaybz", false},
      // One "?" is one character, of one, two or four bytes; a byte of a
      // double-byte character is never a letter to fold.
      {"?.txt", "\xB5\xDA.txt", true},
      {"??.txt", "\xB5\xDA.txt", false},
      {"?.txt", "\x81\x30\x81\x30.txt", true},
      {"\xB5\x41", "\xB5\x61", false},
      {"\xB5\x41*", "\xB5\x41xyz", true},
      {"\x95\x5C/?", "\x95\x5C/x", true},  // the second byte is no backslash
      // A "*" or "?" of the pattern is a wildcard whatever the name holds there.
      {"*", "*x", true},
      {"*.txt", "*a.txt", true},
      {"a*", "a*b", true},
      {"?x", "*x", true},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(path_matches(row.pattern, row.path), row.match) << row.pattern << " " << row.path;
  }
}

TEST(PathPattern, ManyStarsStayQuick) {
  const std::string path = std::string(4000, 'a') + "/" + std::string(4000, 'a');
  EXPECT_FALSE(path_matches("**/**/**/**/*a*a*a*a*a*a*a*b", path));
}

FileEntry entry(const std::string& path, const char* isdir, const char* size = "0") {
  FileEntry out;
  out.path = path;
  out.server_filename = path.substr(path.rfind('/') + 1);
  out.isdir = isdir;
  out.size = size;
  return out;
}

TEST(ShareTree, NestsByPathWhateverTheOrderAndCountsWhatIsChecked) {
  const FileList files = {
      entry("/s/d/e/x.bin", "0", "100"),                    // 0: before its folders
      entry("/s/d", "1"),                                   // 1
      entry("/s/top.txt", "0", "5"),                        // 2
      entry("/s/d/e", "1"),                                 // 3
      entry("/s/d", "1"),                                   // 4: the same folder again
      entry("/s/d/y.bin", "0", "99999999999999999999999"),  // 5: no number
      entry("", "1"),                                       // 6: below itself it is not
      entry("/elsewhere/z", "0", "7"),                      // 7
  };
  ShareTree tree(files);
  ASSERT_EQ(tree.size(), files.size());
  EXPECT_EQ(tree.total_files(), 4u);
  EXPECT_EQ(tree.total_bytes(), 112u);
  // Tree order: the folder, then all below it.
  std::string order;
  for (std::size_t node = 0; node < tree.size(); ++node)
    order += tree.path(node) + (tree.is_folder(node) ? "/" : "") + "|";
  EXPECT_EQ(order, "d/|d/e/|d/e/x.bin|d/y.bin|top.txt|d/|/|z|");

  EXPECT_EQ(tree.set_matching("d/e", false), 1u);
  EXPECT_EQ(tree.check_state(0), CheckState::partly);
  EXPECT_EQ(tree.check_state(1), CheckState::unchecked);
  EXPECT_EQ(tree.chosen_mask(), "01100101");
  EXPECT_EQ(tree.summary(), "已选 3 个文件, 12 B / 共 4 个文件, 112 B");
  tree.set_checked(0, false);
  EXPECT_EQ(tree.chosen_mask(), "00100001");
  tree.set_checked(1, true);
  EXPECT_EQ(tree.check_state(0), CheckState::partly);
  EXPECT_EQ(tree.checked_files(), 3u);
}

// What is checked is counted afresh, so a total that saturated at 2^64 - 1
// comes back down when the file that filled it is unchecked.
TEST(ShareTree, CheckedBytesCountAfreshPastSaturation) {
  const FileEntry big = entry("/s/d/big", "0", "18446744073709551615"),
                  five = entry("/s/5", "0", "5");
  const std::pair<FileList, const char*> rows[] = {
      {{big, five}, "已选 1 个文件, 5 B / 共 2 个文件, 16 EB"},
      {{entry("/s/d", "1"), big, five}, "已选 1 个文件, 5 B / 共 2 个文件, 16 EB"},
      {{entry("/s/d", "1"), big, big, five}, "已选 2 个文件, 16 EB / 共 3 个文件, 16 EB"},
  };
  for (const auto& [files, summary] : rows) {
    ShareTree tree(files);
    tree.set_checked(tree.size() - 2, false);
    EXPECT_EQ(tree.summary(), summary);
  }
}

// A pattern from "/" is matched against the path on the sharer's disk, as the
// report shows it, and still against the path below the share's top.
TEST(ShareTree, PatternsFromTheRootMatchTheDiskPathToo) {
  const FileList files = {entry("/资源/大目录", "1"), entry("/资源/大目录/a.pdf", "0"),
                          entry("/资源/大目录/子", "1"), entry("/资源/大目录/子/b.PDF", "0"),
                          entry("/资源/c.pdf", "0")};
  const std::pair<const char*, std::size_t> rows[] = {
      {"/资源/大目录/*.pdf", 1}, {"\\资源\\c.pdf", 1},     {"/**/b.pdf", 1},
      {"/大目录/**/*.pdf", 2},   {"资源/大目录/a.pdf", 0}, {"/资源", 3},
  };
  for (const auto& [pattern, matched] : rows)
    EXPECT_EQ(ShareTree(files).set_matching(pattern, false), matched) << pattern;
}

TEST(SizeText, Steps) {
  const std::pair<std::uint64_t, const char*> rows[] = {
      {0, "0 B"},
      {1023, "1023 B"},
      {1024, "1.0 KB"},
      {10137, "9.9 KB"},
      {10200, "10 KB"},
      {3650722201ull, "3.4 GB"},
      {871878361088ull, "812 GB"},
      {~0ull, "16 EB"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(size_text(row.first), row.second) << row.first;
}

}  // namespace
}  // namespace sharelink
