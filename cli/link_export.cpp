#include "cli/link_export.h"

#include <vector>

#include "app/service_text.h"
#include "app/share_tree.h"
#include "text/local_text.h"
#include "text/text_encoding.h"

namespace sharelink {

namespace {

// aria2 on Windows takes a backslash for a folder separator too.
std::string forward_slashes(const std::string& text) {
  std::string out = text;
  for (std::size_t at = 0; at < out.size(); ++at) {
    if (is_lead_byte(out[at])) {
      ++at;  // the second byte of a double-byte character may be 0x5C
    } else if (out[at] == '\\') {
      out[at] = '/';
    }
  }
  return out;
}

std::string safe_name(const std::string& name) {
  // Control characters would end the option line and start a new one.
  std::string out = without_controls(replace_all(forward_slashes(name), "/", "_"), "_");
  if (out.empty() || out == "." || out == "..") out = "_" + out;
  return out;
}

// The folder steps of path that stay inside the folder they start from.
std::string safe_folder(const std::string& path) {
  std::string out;
  for (const std::string& step : split_text(forward_slashes(path), "/")) {
    if (step.empty() || step == "." || step == "..") continue;
    if (!out.empty()) out += '/';
    out += without_controls(step, "_");
  }
  return out;
}

std::string parent_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The folder of path below root; the whole folder when path is not below it.
std::string folder_below(const std::string& root, const std::string& path) {
  const std::string parent = parent_of(path);
  std::string prefix = root;
  while (!prefix.empty() && prefix.back() == '/')
    prefix.pop_back();
  if (parent.compare(0, prefix.size(), prefix) == 0 &&
      (parent.size() == prefix.size() || parent[prefix.size()] == '/')) {
    return safe_folder(parent.substr(prefix.size()));
  }
  return safe_folder(parent);
}

}  // namespace

std::string link_list(const FileList& files) {
  std::string text;
  for (const FileEntry& entry : files) {
    if (exportable_link(entry.dlink)) text += gbk_to_utf8(shown_link(entry.dlink)) + "\n";
  }
  return text;
}

std::string aria2_input(const FileList& files, const std::string& user_agent) {
  // The top-level entries come first and carry the folder they were shared
  // from; entries found by listing folders carry only their full path.
  const std::string root = files.empty() ? "" : files.front().decoded_parent_path;
  // Content servers refuse a link to any other User-Agent than the one it
  // was requested with.
  const std::string agent_line = "  user-agent=" + without_controls(user_agent, "_") + "\n";
  std::string text;
  for (const FileEntry& entry : files) {
    if (!exportable_link(entry.dlink)) continue;
    text += shown_link(entry.dlink) + "\n";
    // aria2 takes a dir= line relative to where it runs, not to its -d
    // folder; a relative out= lands below -d and makes the folders.
    const bool top_level = !entry.decoded_parent_path.empty();
    const std::string folder =
        top_level ? "" : folder_below(forward_slashes(root), forward_slashes(entry.path));
    text +=
        "  out=" + (folder.empty() ? "" : folder + "/") + safe_name(entry.server_filename) + "\n";
    text += agent_line;
  }
  return gbk_to_utf8(text);
}

void tree_listing(const FileList& files, const ListingSink& write) {
  constexpr std::size_t kBatch = 64 * 1024;
  const ShareTree tree(files);
  std::vector<std::size_t> node_of(files.size());
  for (std::size_t node = 0; node < tree.size(); ++node)
    node_of[tree.list_index(node)] = node;
  const std::size_t number_width = std::to_string(files.size()).size();
  std::string batch;
  for (std::size_t index = 0; index < node_of.size(); ++index) {
    const std::size_t node = node_of[index];
    std::string number = std::to_string(index + 1);
    number.insert(0, number_width - number.size(), ' ');
    std::string size = std::to_string(tree.bytes(node));
    if (size.size() < 14) size.insert(0, 14 - size.size(), ' ');
    batch += gbk_to_utf8(number + "  " + (tree.is_folder(node) ? "目录" : "文件") + "  " + size +
                         "  " + shown_text(tree.path(node)) + "\n");
    if (batch.size() >= kBatch) {
      write(batch);
      batch.clear();
    }
  }
  if (!batch.empty()) write(batch);
}

}  // namespace sharelink
