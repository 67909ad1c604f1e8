#pragma once

// A share's list seen as the tree of its folders, with a check mark on every
// file, for choosing the files that get a link before any is requested.
// Entries nest by their paths: an entry belongs to the listed folder whose path
// is its own up to the last slash; the rest sits at the top. An entry's path
// below the share's top is the names of the folders on its way and its own,
// joined by "/". The tree keeps each name once and puts a path together only
// when asked, so that folders nested deep with long names take memory in
// proportion to the list, not to the square of its depth. Texts are local text.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/path_pattern.h"
#include "share/file_entry.h"

namespace sharelink {

enum class CheckState { unchecked, partly, checked };

// "0 B", "512 B", "3.4 GB", "812 GB": 1024 to the step, one decimal below 10.
std::string size_text(std::uint64_t bytes);

class ShareTree {
 public:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  // Every file checked.
  explicit ShareTree(const FileList& files);

  // Nodes run in tree order: a folder is followed by everything below it, the
  // entries of one folder in list order.
  std::size_t size() const { return nodes_.size(); }
  // The node's entry in the list the tree was made of.
  std::size_t list_index(std::size_t node) const { return nodes_[node].list_index; }
  bool is_folder(std::size_t node) const { return nodes_[node].folder; }
  std::size_t depth(std::size_t node) const { return nodes_[node].depth; }
  // The folder above node, kNone at the top.
  std::size_t parent(std::size_t node) const { return nodes_[node].parent; }
  // One past the last node below node.
  std::size_t end(std::size_t node) const { return nodes_[node].end; }
  // Put together from the names on the way down: as long as they are.
  std::string path(std::size_t node) const;
  std::string name(std::size_t node) const;
  // A file's size; a folder's, the total of the files below it.
  std::uint64_t bytes(std::size_t node) const { return nodes_[node].bytes; }
  CheckState check_state(std::size_t node) const;

  // Checks or unchecks a file, or every file below a folder.
  void set_checked(std::size_t node, bool checked);
  void set_all(bool checked);
  // Checks or unchecks the files pattern (path_pattern.h) matches and every
  // file below the folders it matches; how many files it matched. Each name is
  // read once, whatever its depth.
  std::size_t set_matching(const std::string& pattern, bool checked);

  std::size_t checked_files() const { return checked_files_; }
  std::uint64_t checked_bytes() const { return checked_bytes_; }
  std::size_t total_files() const { return total_files_; }
  std::uint64_t total_bytes() const { return total_bytes_; }
  // "已选 12 个文件, 3.4 GB / 共 10000 个文件, 812 GB"
  std::string summary() const;

  // One character per entry of the list the tree was made of, in list order:
  // '1' for the checked files and the folders on their paths, '0' for the rest.
  std::string chosen_mask() const;

 private:
  struct Node {
    std::size_t list_index = 0;
    std::size_t parent = kNone;
    std::size_t end = 0;
    std::size_t depth = 0;
    bool folder = false;
    // In texts_: the own name, and the own step of the path on the sharer's
    // disk (at the top, that whole path).
    std::size_t name_at = 0;
    std::size_t name_size = 0;
    std::size_t disk_at = 0;
    std::size_t disk_size = 0;
    std::uint64_t bytes = 0;
    std::size_t files = 0;  // files at or below the node
    std::size_t checked_files = 0;
    std::uint64_t checked_bytes = 0;
  };

  void add_node(const FileList& files, std::size_t entry, std::size_t up);
  void add_totals();
  std::string_view text(std::size_t at, std::size_t size) const;
  // Counts afresh what is checked below a folder from its direct children, and
  // over the whole share from the top level: a sum that saturated cannot be
  // undone by subtraction.
  void recount(std::size_t folder);
  void recount_total();
  void mark(std::size_t node, bool checked);

  std::vector<Node> nodes_;
  std::string texts_;
  std::size_t list_size_ = 0;
  std::size_t checked_files_ = 0;
  std::uint64_t checked_bytes_ = 0;
  std::size_t total_files_ = 0;
  std::uint64_t total_bytes_ = 0;
};

}  // namespace sharelink
