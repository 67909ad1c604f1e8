#include "app/share_tree.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <unordered_map>

#include "text/local_text.h"

namespace sharelink {

namespace {

using Chars = std::vector<std::uint32_t>;

constexpr std::uint32_t kSlash = '/';

// The characters of local text, each as one number, ASCII letters lower-cased:
// a byte of a double-byte character never compares with a letter or a "/".
Chars characters(const std::string& text) {
  Chars out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    std::size_t length = 1;
    if (is_lead_byte(text[at]) && at + 1 < text.size()) {
      const bool four = byte(at + 1) >= '0' && byte(at + 1) <= '9' && at + 3 < text.size();
      length = four ? 4 : 2;
    }
    std::uint32_t code = 0;
    for (std::size_t i = 0; i < length; ++i)
      code = code << 8 | byte(at + i);
    if (code >= 'A' && code <= 'Z') code += 'a' - 'A';
    out.push_back(code);
    at += length;
  }
  return out;
}

// The names of a path, empty ones dropped.
std::vector<Chars> steps_of(const Chars& chars) {
  std::vector<Chars> steps(1);
  for (const std::uint32_t c : chars) {
    if (c == kSlash) {
      if (!steps.back().empty()) steps.emplace_back();
    } else {
      steps.back().push_back(c);
    }
  }
  if (steps.back().empty()) steps.pop_back();
  return steps;
}

// One name against one step of a pattern: "*" any characters, "?" one.
bool name_matches(const Chars& pattern, const Chars& name) {
  std::size_t p = 0, n = 0;
  std::size_t star = std::string::npos, star_n = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      star_n = n;
    } else if (star != std::string::npos) {
      p = star + 1;
      n = ++star_n;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*')
    ++p;
  return p == pattern.size();
}

bool is_any_folders(const Chars& step) {
  return step.size() == 2 && step[0] == '*' && step[1] == '*';
}

std::uint64_t size_of(const std::string& text) {
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return 0;
    const unsigned digit = static_cast<unsigned>(c - '0');
    if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return 0;
    value = value * 10 + digit;
  }
  return value;
}

std::uint64_t saturated_sum(std::uint64_t a, std::uint64_t b) {
  return a > std::numeric_limits<std::uint64_t>::max() - b
             ? std::numeric_limits<std::uint64_t>::max()
             : a + b;
}

}  // namespace

bool path_matches(const std::string& pattern, const std::string& path) {
  Chars pattern_chars = characters(pattern);
  for (std::uint32_t& c : pattern_chars) {
    if (c == '\\') c = kSlash;
  }
  const std::vector<Chars> want = steps_of(pattern_chars);
  const std::vector<Chars> have = steps_of(characters(path));
  if (want.empty()) return false;
  // matched[j]: the steps of the pattern so far match the first j names.
  std::vector<char> matched(have.size() + 1, 0);
  matched[0] = 1;
  for (const Chars& step : want) {
    std::vector<char> next(have.size() + 1, 0);
    for (std::size_t j = 0; j <= have.size(); ++j) {
      if (is_any_folders(step)) {
        next[j] = matched[j] || (j > 0 && next[j - 1]);
      } else {
        next[j] = j > 0 && matched[j - 1] && name_matches(step, have[j - 1]);
      }
    }
    matched.swap(next);
  }
  return matched[have.size()] != 0;
}

std::string size_text(std::uint64_t bytes) {
  static const char* const kUnits[] = {"B", "KB", "MB", "GB", "TB", "PB", "EB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes);
  std::size_t unit = 0;
  while (value >= 1024 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  // 9.96 would print as "10.0": from there on no decimal.
  if (value < 9.95) {
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  } else {
    std::snprintf(text, sizeof text, "%.0f %s", value, kUnits[unit]);
  }
  return text;
}

ShareTree::ShareTree(const FileList& files) : list_size_(files.size()) {
  const std::size_t count = files.size();
  // The folder each entry belongs to, by path: a parent's path is shorter than
  // its child's, so no entry ends up below itself.
  std::unordered_map<std::string, std::size_t> folders;
  for (std::size_t i = 0; i < count; ++i) {
    if (files[i].isdir == "1") folders.emplace(files[i].path, i);
  }
  std::vector<std::size_t> parent(count, kNone);
  for (std::size_t i = 0; i < count; ++i) {
    const std::string& path = files[i].path;
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) continue;
    const auto found = folders.find(path.substr(0, slash));
    if (found != folders.end()) parent[i] = found->second;
  }
  folders.clear();
  // Children as linked lists in list order, then a walk in tree order.
  std::vector<std::size_t> first_child(count, kNone), next_sibling(count, kNone);
  std::vector<std::size_t> tops;
  for (std::size_t i = count; i-- > 0;) {
    if (parent[i] == kNone) continue;
    next_sibling[i] = first_child[parent[i]];
    first_child[parent[i]] = i;
  }
  for (std::size_t i = 0; i < count; ++i) {
    if (parent[i] == kNone) tops.push_back(i);
  }
  nodes_.reserve(count);
  std::vector<std::size_t> node_of(count, kNone);
  // The walk's stack holds the next entry to visit at each level.
  std::vector<std::size_t> stack;
  for (const std::size_t top : tops) {
    stack.push_back(top);
    while (!stack.empty()) {
      const std::size_t entry = stack.back();
      if (entry == kNone) {
        stack.pop_back();
        if (!stack.empty()) {
          // The folder at this level is done: go on with its next sibling.
          Node& done = nodes_[node_of[stack.back()]];
          done.end = nodes_.size();
          stack.back() = next_sibling[stack.back()];
        }
        continue;
      }
      Node node;
      node.list_index = entry;
      node.folder = files[entry].isdir == "1";
      const std::size_t up = parent[entry] == kNone ? kNone : node_of[parent[entry]];
      node.parent = up;
      node.depth = up == kNone ? 0 : nodes_[up].depth + 1;
      if (up != kNone) node.path = nodes_[up].path + "/";
      node.name_at = node.path.size();
      node.path += files[entry].server_filename;
      node.end = nodes_.size() + 1;
      if (!node.folder) {
        node.bytes = size_of(files[entry].size);
        node.files = 1;
      }
      node_of[entry] = nodes_.size();
      nodes_.push_back(std::move(node));
      if (nodes_.back().folder && first_child[entry] != kNone) {
        stack.push_back(first_child[entry]);
      } else {
        stack.back() = next_sibling[entry];
        if (stack.size() == 1) stack.back() = kNone;
      }
    }
  }
  // Totals from the bottom up: a node comes after the folder above it.
  for (std::size_t i = nodes_.size(); i-- > 0;) {
    Node& node = nodes_[i];
    if (node.parent == kNone) continue;
    Node& up = nodes_[node.parent];
    up.files += node.files;
    up.bytes = saturated_sum(up.bytes, node.bytes);
  }
  for (const Node& node : nodes_) {
    if (node.parent != kNone) continue;
    total_files_ += node.files;
    total_bytes_ = saturated_sum(total_bytes_, node.bytes);
  }
  set_all(true);
}

std::string ShareTree::name(std::size_t node) const {
  return nodes_[node].path.substr(nodes_[node].name_at);
}

CheckState ShareTree::check_state(std::size_t node) const {
  const Node& n = nodes_[node];
  if (n.checked_files == 0) return CheckState::unchecked;
  return n.checked_files == n.files ? CheckState::checked : CheckState::partly;
}

void ShareTree::set_checked(std::size_t node, bool checked) {
  Node& target = nodes_[node];
  const std::size_t old_files = target.checked_files;
  const std::uint64_t old_bytes = target.checked_bytes;
  for (std::size_t i = node; i < target.end; ++i) {
    Node& n = nodes_[i];
    n.checked_files = checked ? n.files : 0;
    n.checked_bytes = checked ? n.bytes : 0;
  }
  // The sums above change by the difference; bytes saturate, so above a
  // saturated total they are counted afresh rather than subtracted.
  for (std::size_t up = target.parent; up != kNone; up = nodes_[up].parent) {
    Node& n = nodes_[up];
    n.checked_files = n.checked_files - old_files + target.checked_files;
    n.checked_bytes =
        saturated_sum(n.checked_bytes - std::min(n.checked_bytes, old_bytes), target.checked_bytes);
  }
  checked_files_ = checked_files_ - old_files + target.checked_files;
  checked_bytes_ =
      saturated_sum(checked_bytes_ - std::min(checked_bytes_, old_bytes), target.checked_bytes);
}

void ShareTree::set_all(bool checked) {
  for (Node& n : nodes_) {
    n.checked_files = checked ? n.files : 0;
    n.checked_bytes = checked ? n.bytes : 0;
  }
  checked_files_ = checked ? total_files_ : 0;
  checked_bytes_ = checked ? total_bytes_ : 0;
}

std::size_t ShareTree::set_matching(const std::string& pattern, bool checked) {
  std::size_t matched = 0;
  for (std::size_t i = 0; i < nodes_.size();) {
    if (!path_matches(pattern, nodes_[i].path)) {
      ++i;
      continue;
    }
    matched += nodes_[i].files;
    set_checked(i, checked);
    i = nodes_[i].end;
  }
  return matched;
}

std::string ShareTree::summary() const {
  return "已选 " + std::to_string(checked_files_) + " 个文件, " + size_text(checked_bytes_) +
         " / 共 " + std::to_string(total_files_) + " 个文件, " + size_text(total_bytes_);
}

std::string ShareTree::chosen_mask() const {
  std::string mask(list_size_, '0');
  for (const Node& node : nodes_) {
    if (node.checked_files > 0) mask[node.list_index] = '1';
  }
  return mask;
}

}  // namespace sharelink
