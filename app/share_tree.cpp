#include "app/share_tree.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <unordered_map>

#include "text/local_text.h"

namespace sharelink {

namespace {

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
  std::vector<std::size_t> parent(count, kNone);
  std::size_t name_bytes = 0;
  {
    std::unordered_map<std::string_view, std::size_t> folders;
    for (std::size_t i = 0; i < count; ++i) {
      if (files[i].isdir == "1") folders.emplace(files[i].path, i);
      name_bytes += files[i].server_filename.size();
    }
    for (std::size_t i = 0; i < count; ++i) {
      const std::string_view path = files[i].path;
      const std::size_t slash = path.rfind('/');
      if (slash == std::string::npos) continue;
      const auto found = folders.find(path.substr(0, slash));
      if (found != folders.end()) parent[i] = found->second;
    }
  }
  texts_.reserve(name_bytes);
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
      node_of[entry] = nodes_.size();
      add_node(files, entry, parent[entry] == kNone ? kNone : node_of[parent[entry]]);
      if (nodes_.back().folder && first_child[entry] != kNone) {
        stack.push_back(first_child[entry]);
      } else {
        stack.back() = next_sibling[entry];
        if (stack.size() == 1) stack.back() = kNone;
      }
    }
  }
  add_totals();
  set_all(true);
}

void ShareTree::add_node(const FileList& files, std::size_t entry, std::size_t up) {
  const FileEntry& from = files[entry];
  Node node;
  node.list_index = entry;
  node.folder = from.isdir == "1";
  node.parent = up;
  node.depth = up == kNone ? 0 : nodes_[up].depth + 1;
  node.end = nodes_.size() + 1;
  node.name_at = texts_.size();
  node.name_size = from.server_filename.size();
  texts_ += from.server_filename;
  // Below a folder the path on the disk goes on by what follows its last
  // slash, mostly the name itself.
  std::string_view disk = from.path;
  if (up != kNone) disk.remove_prefix(disk.rfind('/') + 1);
  node.disk_at = node.name_at;
  if (disk != from.server_filename) {
    node.disk_at = texts_.size();
    texts_ += disk;
  }
  node.disk_size = disk.size();
  if (!node.folder) {
    node.bytes = size_of(from.size);
    node.files = 1;
  }
  nodes_.push_back(node);
}

void ShareTree::add_totals() {
  // From the bottom up: a node comes after the folder above it.
  for (std::size_t i = nodes_.size(); i-- > 0;) {
    Node& node = nodes_[i];
    if (node.parent == kNone) continue;
    Node& up = nodes_[node.parent];
    up.files += node.files;
    up.bytes = saturated_sum(up.bytes, node.bytes);
  }
  for (std::size_t i = 0; i < nodes_.size(); i = nodes_[i].end) {
    total_files_ += nodes_[i].files;
    total_bytes_ = saturated_sum(total_bytes_, nodes_[i].bytes);
  }
}

std::string_view ShareTree::text(std::size_t at, std::size_t size) const {
  return std::string_view(texts_).substr(at, size);
}

std::string ShareTree::path(std::size_t node) const {
  std::size_t length = 0;
  for (std::size_t at = node; at != kNone; at = nodes_[at].parent)
    length += nodes_[at].name_size + (nodes_[at].parent == kNone ? 0 : 1);
  std::string out(length, '/');
  for (std::size_t at = node; at != kNone; at = nodes_[at].parent) {
    const Node& step = nodes_[at];
    length -= step.name_size;
    out.replace(length, step.name_size, texts_, step.name_at, step.name_size);
    if (step.parent != kNone) --length;  // the slash before the name
  }
  return out;
}

std::string ShareTree::name(std::size_t node) const {
  return std::string(text(nodes_[node].name_at, nodes_[node].name_size));
}

CheckState ShareTree::check_state(std::size_t node) const {
  const Node& n = nodes_[node];
  if (n.checked_files == 0) return CheckState::unchecked;
  return n.checked_files == n.files ? CheckState::checked : CheckState::partly;
}

void ShareTree::set_checked(std::size_t node, bool checked) {
  mark(node, checked);
  for (std::size_t up = nodes_[node].parent; up != kNone; up = nodes_[up].parent)
    recount(up);
  recount_total();
}

void ShareTree::mark(std::size_t node, bool checked) {
  for (std::size_t i = node; i < nodes_[node].end; ++i) {
    Node& n = nodes_[i];
    n.checked_files = checked ? n.files : 0;
    n.checked_bytes = checked ? n.bytes : 0;
  }
}

void ShareTree::recount(std::size_t folder) {
  Node& up = nodes_[folder];
  up.checked_files = 0;
  up.checked_bytes = 0;
  for (std::size_t child = folder + 1; child < up.end; child = nodes_[child].end) {
    up.checked_files += nodes_[child].checked_files;
    up.checked_bytes = saturated_sum(up.checked_bytes, nodes_[child].checked_bytes);
  }
}

void ShareTree::recount_total() {
  checked_files_ = 0;
  checked_bytes_ = 0;
  for (std::size_t top = 0; top < nodes_.size(); top = nodes_[top].end) {
    checked_files_ += nodes_[top].checked_files;
    checked_bytes_ = saturated_sum(checked_bytes_, nodes_[top].checked_bytes);
  }
}

void ShareTree::set_all(bool checked) {
  for (Node& n : nodes_) {
    n.checked_files = checked ? n.files : 0;
    n.checked_bytes = checked ? n.bytes : 0;
  }
  checked_files_ = checked ? total_files_ : 0;
  checked_bytes_ = checked ? total_bytes_ : 0;
}

std::size_t ShareTree::set_matching(const std::string& text_of_pattern, bool checked) {
  const PathPattern pattern(text_of_pattern);
  if (pattern.empty()) return 0;
  // What the pattern has read on the way down to each level: the path below
  // the top, and the path on the disk.
  std::vector<PathPattern::Progress> below, disk;
  std::size_t matched = 0;
  for (std::size_t i = 0; i < nodes_.size();) {
    const Node& node = nodes_[i];
    const std::size_t level = node.depth;
    if (below.size() <= level) {
      below.resize(level + 1);
      disk.resize(level + 1);
    }
    below[level] = level == 0 ? pattern.start() : below[level - 1];
    bool hopes = pattern.read(below[level], text(node.name_at, node.name_size));
    bool hit = pattern.matched(below[level]);
    if (pattern.from_root()) {
      // At the top the whole path is read: a folder above the share's top
      // chooses what it holds, as a listed one does.
      bool above = false;
      disk[level] = level == 0 ? pattern.start() : disk[level - 1];
      hopes = pattern.read(disk[level], text(node.disk_at, node.disk_size), &above) || hopes;
      hit = hit || above || pattern.matched(disk[level]);
    }
    if (hit) {
      matched += node.files;
      mark(i, checked);
    }
    // Below a match all is chosen already; below a dead end nothing can be.
    i = hit || !hopes ? node.end : i + 1;
  }
  if (matched > 0) {
    for (std::size_t i = nodes_.size(); i-- > 0;) {
      if (nodes_[i].folder) recount(i);
    }
    recount_total();
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
