#pragma once

#include <string>
#include <vector>

namespace sharelink {

// One entry of a share: a file or a folder. Numbers and flags stay texts as the
// service wrote them.
struct FileEntry {
  std::string fs_id;  // the JSON text of the id, every digit kept
  std::string app_id;
  std::string parent_path;          // percent-encoded, as the share page gives it
  std::string decoded_parent_path;  // parent_path decoded to local text
  std::string server_filename;
  std::string size;
  std::string isdir;  // "1" folder, "0" file
  std::string path;   // full path on the sharer's disk
  std::string dlink;  // the direct link, once requested
};

using FileList = std::vector<FileEntry>;

}  // namespace sharelink
