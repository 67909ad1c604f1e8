#include "app/fltk/log_store.h"

#include <algorithm>
#include <cstring>

namespace sharelink {

namespace {

// Small enough that an edit's copy of its block takes no time worth noticing,
// large enough that the index of blocks stays short.
constexpr std::size_t kBlockBytes = 64 * 1024;

// How much of text goes on a block holding used bytes: up to the block's room,
// then on to the end of that line, so that blocks end at line ends.
std::size_t piece_for(std::size_t used, std::string_view text) {
  const std::size_t room = used < kBlockBytes ? kBlockBytes - used : 0;
  if (room >= text.size()) return text.size();
  const std::size_t line_end = text.find('\n', room == 0 ? 0 : room - 1);
  return line_end == std::string_view::npos ? text.size() : line_end + 1;
}

}  // namespace

LogStore::LogStore() {
  clear();
}

void LogStore::clear() {
  blocks_.assign(1, Block{});
  first_line_.assign(1, 0);
  bytes_ = 0;
}

void LogStore::add_to(Block& block, std::string_view text) {
  const std::size_t base = block.text.size();
  block.text.append(text.data(), text.size());
  const char* start = text.data();
  const char* end = start + text.size();
  for (const char* at = start; (at = static_cast<const char*>(std::memchr(at, '\n', end - at)));) {
    ++at;
    block.starts.push_back(static_cast<std::uint32_t>(base + (at - start)));
  }
}

void LogStore::append(std::string_view text) {
  bytes_ += text.size();
  while (!text.empty()) {
    Block* last = &blocks_.back();
    if (last->text.size() >= kBlockBytes && last->text.back() == '\n') {
      // The full block is closed: give back what its growth left unused.
      last->text.shrink_to_fit();
      last->starts.shrink_to_fit();
      first_line_.push_back(first_line_.back() + last->starts.size() - 1);
      blocks_.emplace_back();
      last = &blocks_.back();
      last->text.reserve(kBlockBytes + 1024);
    }
    const std::size_t take = piece_for(last->text.size(), text);
    add_to(*last, text.substr(0, take));
    text.remove_prefix(take);
  }
}

std::size_t LogStore::block_of(std::size_t line) const {
  return static_cast<std::size_t>(std::upper_bound(first_line_.begin(), first_line_.end(), line) -
                                  first_line_.begin() - 1);
}

std::size_t LogStore::offset_of(std::size_t block, TextPos pos) const {
  return blocks_[block].starts[pos.line - first_line_[block]] + pos.col;
}

std::string_view LogStore::line(std::size_t index) const {
  const std::size_t b = block_of(index);
  const Block& block = blocks_[b];
  const std::size_t k = index - first_line_[b];
  const std::size_t start = block.starts[k];
  const std::size_t end = k + 1 < block.starts.size() ? block.starts[k + 1] - 1 : block.text.size();
  return std::string_view(block.text).substr(start, end - start);
}

TextPos LogStore::end() const {
  const std::size_t last = lines() - 1;
  return {last, line(last).size()};
}

std::string LogStore::text(TextPos from, TextPos to) const {
  std::string out;
  std::size_t b = block_of(from.line);
  std::size_t at = offset_of(b, from);
  const std::size_t last = block_of(to.line);
  out.reserve(last == b ? offset_of(b, to) - at : (last - b + 1) * kBlockBytes);
  for (; b < last; ++b, at = 0)
    out.append(blocks_[b].text, at, std::string::npos);
  out.append(blocks_[last].text, at, offset_of(last, to) - at);
  return out;
}

std::vector<LogStore::Block> LogStore::cut(std::string_view text) {
  std::vector<Block> out;
  do {
    out.emplace_back();
    const std::size_t take = piece_for(0, text);
    add_to(out.back(), text.substr(0, take));
    text.remove_prefix(take);
  } while (!text.empty());
  return out;
}

TextPos LogStore::replace(TextPos from, TextPos to, std::string_view text) {
  const std::size_t first = block_of(from.line);
  const std::size_t last = block_of(to.line);
  const Block& tail = blocks_[last];
  const std::size_t cut_at = offset_of(last, to);
  const std::size_t keep = offset_of(first, from);
  std::size_t removed = cut_at - keep;
  for (std::size_t b = first; b < last; ++b)
    removed += blocks_[b].text.size();
  bytes_ = bytes_ - removed + text.size();
  std::string joined = blocks_[first].text.substr(0, keep);
  joined.append(text.data(), text.size());
  joined.append(tail.text, cut_at, std::string::npos);
  std::vector<Block> made = cut(joined);
  blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(first),
                blocks_.begin() + static_cast<std::ptrdiff_t>(last) + 1);
  blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(first),
                 std::make_move_iterator(made.begin()), std::make_move_iterator(made.end()));
  count_lines_from(first);

  const std::size_t breaks = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  if (breaks == 0) return {from.line, from.col + text.size()};
  return {from.line + breaks, text.size() - text.rfind('\n') - 1};
}

void LogStore::count_lines_from(std::size_t block) {
  first_line_.resize(blocks_.size());
  for (std::size_t b = std::max<std::size_t>(block, 1); b < blocks_.size(); ++b)
    first_line_[b] = first_line_[b - 1] + blocks_[b - 1].starts.size() - 1;
  first_line_[0] = 0;
}

}  // namespace sharelink
