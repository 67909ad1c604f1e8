// The share's tree on hostile lists: duplicates, children before parents, deep
// chains, sizes near 2^64, GB18030 and "\" in names; then check marks and
// patterns, held to a plain backtracking matcher and to the marks counted again
// from scratch. Input: entry lines, a zero byte, operation lines. An entry line
// is a kind byte (bit 0 a folder, bits 1-3 its size), the path and, after a
// tab, a name (else the path's last step); "^", a count byte and a name add a
// chain of folders below the last folder. An operation line: "c" and two bytes
// (the box of the node they number), or "p" or "q" and a pattern (check or
// uncheck what it matches).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/share_tree.h"
#include "fuzz/fuzz_support.h"
#include "text/local_text.h"

namespace {

using namespace sharelink;
using Chars = std::vector<std::uint32_t>;
using Steps = std::vector<Chars>;
constexpr std::uint64_t kMost = ~std::uint64_t{0};
// The sizes a kind byte picks; past these, a number too large and no number.
const std::uint64_t kBytes[] = {0, 5, 12, kMost, kMost - 1, kMost / 2 + 1, 0, 0};
std::string size_field(unsigned pick) {
  return pick == 6 ? "18446744073709551616" : pick == 7 ? "7x" : std::to_string(kBytes[pick]);
}

// The names of a text, each a list of characters as local text reads them.
Steps steps_of(const std::string& text, bool pattern) {
  Steps steps(1);
  for (std::size_t at = 0; at < text.size();) {
    std::size_t length = 1;
    if (is_lead_byte(text[at]) && at + 1 < text.size())
      length = text[at + 1] >= '0' && text[at + 1] <= '9' && at + 3 < text.size() ? 4 : 2;
    std::uint32_t code = 0;
    for (std::size_t i = 0; i < length; ++i)
      code = code << 8 | static_cast<unsigned char>(text[at + i]);
    code += code >= 'A' && code <= 'Z' ? 'a' - 'A' : 0;
    code = pattern && code == '\\' ? '/' : code;
    at += length;
    if (code != '/') steps.back().push_back(code);
    if (code == '/' && !steps.back().empty()) steps.emplace_back();
  }
  if (steps.back().empty()) steps.pop_back();
  return steps;
}

// Backtracking: an item of p that is a star takes any run of t, another takes
// one item that fits it. A position seen again has failed before (else the
// search had ended), so stars cost no exponential time.
template <class P, class T, class Star, class Fits>
bool backtrack(const P& p, const T& t, Star star, Fits fits) {
  std::vector<char> seen((p.size() + 1) * (t.size() + 1), 0);
  std::function<bool(std::size_t, std::size_t)> at = [&](std::size_t i, std::size_t j) {
    if (i == p.size() || seen[i * (t.size() + 1) + j]++ != 0) return i == p.size() && j == t.size();
    if (star(p[i])) return at(i + 1, j) || (j < t.size() && at(i, j + 1));
    return j < t.size() && fits(p[i], t[j]) && at(i + 1, j + 1);
  };
  return at(0, 0);
}

// A pattern's steps against a path's names; what a step gave for a name is
// kept in tried, since the paths of a tree share their folders' names.
using Tried = std::map<std::pair<const Chars*, const Chars*>, bool>;
bool fits(const Steps& want, const std::vector<const Chars*>& path, Tried& tried) {
  const auto any_folders = [](const Chars& step) { return step == Chars{'*', '*'}; };
  const auto any = [](std::uint32_t c) { return c == '*'; };
  const auto same = [](std::uint32_t p, std::uint32_t c) { return p == '?' || p == c; };
  return !want.empty() && backtrack(want, path, any_folders, [&](const Chars& p, const Chars* n) {
    const auto [known, added] = tried.try_emplace({&p, n}, false);
    if (added) known->second = backtrack(p, *n, any, same);
    return known->second;
  });
}

FileList entries_of(const std::string& text) {
  FileList files;
  std::string folder = "/s";
  std::istringstream lines(text);
  // About as deep as a walk of a share goes: the reference's work grows with
  // the depth times the entries.
  for (std::string line; std::getline(lines, line) && files.size() < 512;) {
    if (line.size() < 2) continue;
    FileEntry entry;
    const auto kind = static_cast<unsigned char>(line[0]);
    const std::size_t tab = line.find('\t');
    entry.path = line.substr(1, tab == std::string::npos ? tab : tab - 1);
    entry.server_filename = tab == std::string::npos ? entry.path.substr(entry.path.rfind('/') + 1)
                                                     : line.substr(tab + 1);
    entry.isdir = kind & 1 || kind == '^' ? "1" : "0";
    entry.size = size_field(kind >> 1 & 7);
    folder = kind & 1 ? entry.path : folder;
    for (int n = kind == '^' ? static_cast<unsigned char>(line[1]) % 201 : 1; n > 0; --n) {
      if (kind == '^') entry.path = folder += "/c";
      if (kind == '^') entry.server_filename = line.substr(2, 16);
      files.push_back(entry);
    }
  }
  return files;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parts = fuzz::split_input(data, size, 2);
  const FileList files = entries_of(parts[0]);
  ShareTree tree(files);
  const std::size_t count = tree.size();
  // Each node's names below the top and on the disk, its folders' first.
  std::vector<Steps> names(count), disk(count);
  std::vector<std::vector<const Chars*>> below(count), on_disk(count);
  for (std::size_t node = 0; node < count; ++node) {
    const FileEntry& entry = files[tree.list_index(node)];
    const std::size_t up = tree.parent(node);
    names[node] = steps_of(entry.server_filename, false);
    disk[node] = steps_of(
        up == ShareTree::kNone ? entry.path : entry.path.substr(entry.path.rfind('/') + 1), false);
    below[node] = up == ShareTree::kNone ? below[node] : below[up];
    on_disk[node] = up == ShareTree::kNone ? on_disk[node] : on_disk[up];
    for (const Chars& name : names[node])
      below[node].push_back(&name);
    for (const Chars& name : disk[node])
      on_disk[node].push_back(&name);
  }
  std::vector<char> on(count, 1);
  std::istringstream operations(parts[1]);
  for (std::string op; std::getline(operations, op);) {
    if (op.size() >= 3 && op[0] == 'c' && count > 0) {
      const std::size_t node =
          (static_cast<unsigned char>(op[1]) << 8 | static_cast<unsigned char>(op[2])) % count;
      const bool checked = tree.check_state(node) != CheckState::checked;
      tree.set_checked(node, checked);
      std::fill(on.begin() + node, on.begin() + tree.end(node), checked);
    } else if (!op.empty() && (op[0] == 'p' || op[0] == 'q')) {
      const std::string pattern = op.substr(1);
      const bool rooted = !pattern.empty() && (pattern[0] == '/' || pattern[0] == '\\');
      const Steps want = steps_of(pattern, true);
      Tried tried;
      std::vector<char> chosen(count, 0);
      std::size_t matched = 0;
      for (std::size_t node = 0; node < count; ++node) {
        const std::size_t up = tree.parent(node);
        bool hit = fits(want, below[node], tried) || (rooted && fits(want, on_disk[node], tried));
        // A folder above the share's top chooses what it holds.
        for (std::size_t k = 1; rooted && up == ShareTree::kNone && k < on_disk[node].size(); ++k)
          hit = hit || fits(want, {on_disk[node].begin(), on_disk[node].begin() + k}, tried);
        chosen[node] = hit || (up != ShareTree::kNone && chosen[up]);
        matched += chosen[node] && !tree.is_folder(node) ? 1 : 0;
        on[node] = chosen[node] ? op[0] == 'p' : on[node];
      }
      FUZZ_CHECK(tree.set_matching(pattern, op[0] == 'p') == matched);
    }
    // The marks counted again.
    std::size_t checked_files = 0;
    std::uint64_t checked_bytes = 0;
    for (std::size_t node = 0; node < count; ++node) {
      const std::string& size_of = files[tree.list_index(node)].size;
      if (tree.is_folder(node) || !on[node]) continue;
      const bool number = size_of != size_field(6) && size_of != size_field(7);
      const std::uint64_t bytes = number ? std::stoull(size_of) : 0;
      ++checked_files;
      checked_bytes = checked_bytes > kMost - bytes ? kMost : checked_bytes + bytes;
    }
    FUZZ_CHECK(tree.checked_files() == checked_files && tree.checked_bytes() == checked_bytes);
  }
  return 0;
}
