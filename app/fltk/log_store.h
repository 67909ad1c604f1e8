#pragma once

// The log box's text: UTF-8 lines in blocks of whole lines, each block with
// the offsets of its lines. Appending touches only the last block, so it costs
// the same however long the log already is; an edit copies only the blocks it
// falls in. A report of 100,000 files (some 60 MB) costs its bytes plus four
// per line.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sharelink {

// A place in the text: a line and a byte offset into it, on a character's
// first byte.
struct TextPos {
  std::size_t line = 0;
  std::size_t col = 0;
};

inline bool operator<(const TextPos& a, const TextPos& b) {
  return a.line != b.line ? a.line < b.line : a.col < b.col;
}
inline bool operator==(const TextPos& a, const TextPos& b) {
  return a.line == b.line && a.col == b.col;
}
inline bool operator!=(const TextPos& a, const TextPos& b) {
  return !(a == b);
}

class LogStore {
 public:
  LogStore();

  // Text whose lines end with LF; the last line stays open for the next append.
  void append(std::string_view text);
  void clear();

  // At least one: an empty text is one empty line.
  std::size_t lines() const { return first_line_.back() + blocks_.back().starts.size(); }
  // Without its LF.
  std::string_view line(std::size_t index) const;
  std::size_t bytes() const { return bytes_; }
  TextPos end() const;
  // from <= to; lines joined by LF.
  std::string text(TextPos from, TextPos to) const;
  // Replaces [from, to) by text; where the new text ends.
  TextPos replace(TextPos from, TextPos to, std::string_view text);

 private:
  // Every block but the last ends with LF; starts holds an offset after every
  // LF, so a block other than the last has one more than it has lines.
  struct Block {
    std::string text;
    std::vector<std::uint32_t> starts{0};
  };

  std::size_t block_of(std::size_t line) const;
  std::size_t offset_of(std::size_t block, TextPos pos) const;
  static void add_to(Block& block, std::string_view text);
  // Cuts text into blocks of about kBlockBytes at line ends.
  static std::vector<Block> cut(std::string_view text);
  void count_lines_from(std::size_t block);

  std::vector<Block> blocks_;
  std::vector<std::size_t> first_line_;  // of each block
  std::size_t bytes_ = 0;
};

}  // namespace sharelink
