// Where a hostile share's names land: every path a name turns into must stay
// inside the download folder and be one both systems accept, and no two files
// may share a path; and a record read from disk, whatever it holds, must
// never name a place outside the folder. Input: share paths, one per line,
// their names separated by "/" (a "\x01" stands for a "/" inside a name), a
// zero byte, then a record's text.

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "download/local_names.h"
#include "download/manifest.h"
#include "fuzz/fuzz_support.h"
#include "text/local_text.h"

namespace {

using namespace sharelink;

std::vector<std::vector<std::string>> share_paths(const std::string& text) {
  std::vector<std::vector<std::string>> paths;
  for (const std::string& line : split_text(text, "\n")) {
    std::vector<std::string> names;
    for (std::string name : split_text(line, "/"))
      names.push_back(replace_all(name, "\x01", "/"));
    paths.push_back(names);
  }
  return paths;
}

void check_names(const std::vector<std::vector<std::string>>& paths, NameRules rules) {
  LocalNames names(rules);
  std::set<std::string> given;
  for (const std::vector<std::string>& path : paths) {
    const std::string local = names.assign(path, [](const std::string&) { return false; });
    FUZZ_CHECK(is_safe_relative_path(local, rules));
    FUZZ_CHECK(given.insert(name_key(local, rules)).second);
    FUZZ_CHECK(given.count(name_key(local + ".part", rules)) == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> parts = fuzz::split_input(data, size, 2);
  const auto paths = share_paths(parts[0]);
  if (paths.size() <= 64) {
    check_names(paths, NameRules::posix);
    check_names(paths, NameRules::windows);
  }
  Manifest record;
  std::string problem;
  if (parse_manifest(parts[1], record, problem)) {
    for (const FileRecord& file : record.files) {
      FUZZ_CHECK(is_safe_relative_path(file.local_name, native_name_rules()));
      for (const PieceRecord& piece : file.pieces)
        FUZZ_CHECK(piece.done <= piece.length && piece.offset + piece.length <= file.size);
    }
  }
  return 0;
}
