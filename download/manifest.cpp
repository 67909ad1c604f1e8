#include "download/manifest.h"

#include <algorithm>
#include <new>
#include <set>
#include <utility>

#include <nlohmann/json.hpp>

#include "download/local_names.h"

namespace sharelink {

namespace {

using Json = nlohmann::json;

// A record of 300,000 files is some 60 MiB; a larger one is not ours.
constexpr std::size_t kManifestLimit = std::size_t{64} << 20;
// No file a share lists comes near this; a larger number is damage, and
// refusing it keeps every sum of offsets and lengths far from overflow.
constexpr std::uint64_t kLargestSize = std::uint64_t{1} << 50;
constexpr std::size_t kLongestText = 4096;

bool read_number(const Json& value, std::uint64_t& number) {
  if (!value.is_number_unsigned() &&
      !(value.is_number_integer() && value.get<std::int64_t>() >= 0)) {
    return false;
  }
  number = value.get<std::uint64_t>();
  return number <= kLargestSize;
}

bool read_text(const Json& object, const char* name, std::string& text) {
  const auto found = object.find(name);
  if (found == object.end() || !found->is_string()) return false;
  text = found->get<std::string>();
  return !text.empty() && text.size() <= kLongestText;
}

bool read_piece(const Json& value, std::uint64_t size, PieceRecord& piece) {
  if (!value.is_array() || value.size() != 3 || !read_number(value[0], piece.offset) ||
      !read_number(value[1], piece.length) || !read_number(value[2], piece.done)) {
    return false;
  }
  // Every byte a piece stands for lies inside the file.
  return piece.length > 0 && piece.offset < size && piece.length <= size - piece.offset &&
         piece.done <= piece.length;
}

bool pieces_apart(std::vector<PieceRecord> pieces) {
  std::sort(pieces.begin(), pieces.end(),
            [](const PieceRecord& a, const PieceRecord& b) { return a.offset < b.offset; });
  for (std::size_t i = 1; i < pieces.size(); ++i) {
    if (pieces[i - 1].offset + pieces[i - 1].length > pieces[i].offset) return false;
  }
  return true;
}

// One file of the record, or a reason it is not one.
const char* read_file(const Json& value, FileRecord& file) {
  if (!value.is_object()) return u8"文件项不是对象";
  const auto size = value.find("size");
  const auto finished = value.find("finished");
  const auto pieces = value.find("pieces");
  if (!read_text(value, "id", file.id) || !read_text(value, "share", file.share) ||
      !read_text(value, "name", file.local_name) || size == value.end() ||
      !read_number(*size, file.size) || finished == value.end() || !finished->is_boolean() ||
      pieces == value.end() || !pieces->is_array()) {
    return u8"文件项缺少字段或字段无效";
  }
  if (!is_safe_relative_path(file.local_name, native_name_rules()))
    return u8"文件名不是下载目录内的安全路径";
  file.finished = finished->get<bool>();
  for (const Json& item : *pieces) {
    PieceRecord piece;
    if (!read_piece(item, file.size, piece)) return u8"分段超出文件大小";
    file.pieces.push_back(piece);
  }
  if (!pieces_apart(file.pieces)) return u8"分段相互重叠";
  return nullptr;
}

// Two records of one path would write one file twice; and no file may take
// the record's own name.
const char* check_names(const Manifest& manifest) {
  const NameRules rules = native_name_rules();
  std::set<std::string> names{name_key(kManifestName, rules),
                              name_key(std::string(kManifestName) + kAtomicWriteSuffix, rules)};
  std::set<std::pair<std::string, std::string>> files;
  for (const FileRecord& file : manifest.files) {
    const std::string key = name_key(file.local_name, rules);
    if (!names.insert(key).second || !names.insert(key + name_key(".part", rules)).second) {
      return u8"文件名重复";
    }
    if (!files.emplace(file.share, file.id).second) return u8"文件重复";
  }
  return nullptr;
}

// Whether text nests no deeper than a record does (an object, its file list,
// a file, its pieces, a piece): deeper nesting is refused before a parser
// builds it.
bool shallow(const std::string& text) {
  constexpr int kRecordDepth = 5;
  int depth = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') ++i;
      in_string = c != '"';
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kRecordDepth) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

bool parse_into(const std::string& text, Manifest& manifest, std::string& problem) {
  if (!shallow(text)) {
    problem = u8"记录嵌套过深";
    return false;
  }
  const Json document = Json::parse(text, nullptr, false);
  if (document.is_discarded() || !document.is_object()) {
    problem = u8"记录不是 JSON 对象";
    return false;
  }
  const auto version = document.find("version");
  if (version == document.end() || !version->is_number_integer() ||
      version->get<std::int64_t>() != kManifestVersion) {
    problem = u8"记录的版本不是 " + std::to_string(kManifestVersion);
    return false;
  }
  const auto files = document.find("files");
  if (files == document.end() || !files->is_array()) {
    problem = u8"记录缺少文件列表";
    return false;
  }
  Manifest read;
  for (const Json& item : *files) {
    read.files.emplace_back();
    if (const char* reason = read_file(item, read.files.back())) {
      problem = reason;
      return false;
    }
  }
  if (const char* reason = check_names(read)) {
    problem = reason;
    return false;
  }
  manifest = std::move(read);
  return true;
}

}  // namespace

std::string manifest_text(const Manifest& manifest) try {
  Json files = Json::array();
  for (const FileRecord& file : manifest.files) {
    Json pieces = Json::array();
    for (const PieceRecord& piece : file.pieces) {
      pieces.push_back(Json::array({piece.offset, piece.length, piece.done}));
    }
    files.push_back({{"id", file.id},
                     {"share", file.share},
                     {"size", file.size},
                     {"name", file.local_name},
                     {"finished", file.finished},
                     {"pieces", std::move(pieces)}});
  }
  // Names from a share may hold bytes that are not UTF-8: replaced, never a throw.
  return Json{{"version", kManifestVersion}, {"files", std::move(files)}}.dump(
      -1, ' ', false, Json::error_handler_t::replace);
} catch (const std::exception&) {
  return {};  // out of memory: write_manifest keeps the last record
}

bool parse_manifest(const std::string& text, Manifest& manifest, std::string& problem) {
  problem.clear();
  try {
    return parse_into(text, manifest, problem);
  } catch (const std::bad_alloc&) {
    problem = u8"记录太大, 内存不足";
  } catch (const std::exception&) {
    problem = u8"记录无法读取";
  }
  return false;
}

Manifest read_manifest(const std::string& folder, std::string& problem) {
  problem.clear();
  const std::string path = join_path(folder, kManifestName);
  if (!path_exists(path)) return {};
  const std::optional<std::string> text = read_small_file(path, kManifestLimit);
  if (!text) {
    problem = u8"记录无法读取或超过 64 MiB";
    return {};
  }
  Manifest manifest;
  if (!parse_manifest(*text, manifest, problem)) return {};
  return manifest;
}

DiskError write_manifest(const std::string& folder, const Manifest& manifest) {
  const std::string path = join_path(folder, kManifestName);
  const std::string text = manifest_text(manifest);
  if (text.empty()) return {DiskCause::other, path, "out of memory"};
  return write_file_atomically(path, text);
}

}  // namespace sharelink
