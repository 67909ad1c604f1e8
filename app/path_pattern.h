#pragma once

// The patterns that choose entries of a share, in the window 选择文件 and for
// --select alike. A pattern is steps separated by "/" ("\" counts as "/";
// slashes at either end or doubled count once): "*" stands for any characters
// of one name, "?" for one character, a step "**" for any number of folders;
// letter case of ASCII letters is ignored. A pattern is matched against the
// path below the share's top; one that starts with "/" also against the
// entry's path on the sharer's disk (网盘路径, the share's root included), so
// that a path copied from the report chooses its entry; a folder's path, there
// too, chooses all below it. An empty pattern matches nothing. Texts are local
// text.
//
// A path is never put together to be matched: the pattern reads it name by
// name, from the top down, and a tree keeps what it has read at each level for
// the levels below. One name costs the same at any depth.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sharelink {

class PathPattern {
 public:
  // Which steps the names read so far can have reached: one flag for each
  // count of steps matched, from none to all.
  using Progress = std::vector<char>;

  explicit PathPattern(const std::string& pattern);

  bool empty() const { return steps_.empty(); }
  // Starts with "/": matched against the 网盘路径 as well.
  bool from_root() const { return from_root_; }

  // Before any name is read.
  Progress start() const;
  // Reads the names of text, a name or a path: a "/" in it separates names, as
  // it does in the path shown. False when no step can be reached any more, so
  // nothing below can match. passed, when given, is set when the names read
  // matched on the way, before the last one (a folder above the path's end).
  bool read(Progress& progress, std::string_view text, bool* passed = nullptr) const;
  // The names read so far match the whole pattern.
  bool matched(const Progress& progress) const;

 private:
  using Step = std::vector<std::uint32_t>;

  bool any_folders(std::size_t step) const;
  void read_name(Progress& progress, std::string_view name) const;
  // The steps "**" also match no folder at all.
  void skip_any_folders(Progress& progress) const;

  std::vector<Step> steps_;
  bool from_root_ = false;
};

// Whether pattern matches path, a path below the share's top.
bool path_matches(const std::string& pattern, const std::string& path);

}  // namespace sharelink
