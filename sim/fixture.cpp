// Fixture files are one JSON object; every member is optional unless noted.
//
// {
//   "options": {
//     "raw_utf8": false,         replies carry raw UTF-8 instead of \uXXXX escapes
//     "hex_amp": false,          "&" in replies written as \u0026
//     "captcha_format": "png",   or "jpeg"
//     "latency_ms": 0,           added to every request
//     "connect_latency_ms": 0,   paid once by every new connection (at most an hour)
//     "endpoint_latency_ms": {"list": 50},
//     "faults": ["list:http500@3", "image:corrupt_captcha@every2", "page:close"],
//     "hang_ms": 120000,         how long a "hang" fault holds a request
//     "huge_bytes": 104857600,   size of a "huge" reply
//     "content": {                how the content host serves the files (see ContentKnobs)
//       "rate": "2M",             bytes per second per response (K, M, G suffixes); 0: unthrottled
//       "connections_per_file": 0, "link_lifetime_seconds": 28800,
//       "drop_after": 0, "ignore_range": false, "short_by": 0
//     },
//     "seed": 0,                 fixed captcha answers when not 0
//     "quiet": false             no violation lines on stderr
//   },
//   "shares": [{
//     "surl": "1AbCdEf", "shareid": 101, "uk": 202,      required
//     "code": "ab12",                                    absent: a public share
//     "wrong_code_errno": -9, "empty_code_errno": -12,
//     "verify_captcha": "always" | "after:N",            N wrong codes
//     "download_captcha": "from:K" | "every:K",          K-th download request
//     "page_missing_first_fetch": false,
//     "sign_expires_after": 0,                           N: see below
//     "max_download_in_flight": 0,                       C: see below
//     "root": "/",                                       folder holding the top level
//     "title": "...",                                    default: the first entry's path
//     "page_data": {"file_list": {"list": 5}},           replaces data object members
//     "tree": [ENTRY, ...]   and/or   "generate": {"files": N, "depth": D, "fanout": F}
//   }]
// }
//
// ENTRY: {"name": "a.txt", "size": 12, "fs_id": 7, "app_id": "250528", "mtime": 1600000000,
//         "wire": {"fs_id": "7x", "isdir": null}}
// A folder has "children": [ENTRY, ...] and/or "generated_files": N instead of "size".
// Entries without fs_id get one counting up from 300000000000001. "wire" replaces
// members of the entry as the page and listings send it, and "page_data" members
// of the page's data object; a null member is removed. The service still knows
// the entry by its own fs_id.
//
// With "sign_expires_after": N > 0 each fetch of the share page issues a new sign,
// from then on the only valid one, and it serves N download-link requests; the
// requests after them and those with a replaced sign are answered errno 112 (page
// expired). With 0 a sign serves until it is eight hours old, like the service's.
// With "max_download_in_flight": C > 0 a download-link request that comes while C
// of the share are under way (in their latency, say) is answered errno -20, the
// captcha demand; one carrying a right captcha answer is served all the same.
// There are no sessions: the last page and the requests under way count per share.

#include "sim/fixture.h"

#include <algorithm>
#include <fstream>
#include <initializer_list>
#include <sstream>

#include <nlohmann/json.hpp>

#include "sim/generator.h"

namespace sharelink::sim {
namespace {

using Json = nlohmann::json;

constexpr std::uint64_t kBaseMtime = 1600000000;

bool fail(std::string& error, const std::string& message) {
  if (error.empty()) error = message;
  return false;
}

bool known_members(const Json& object, std::initializer_list<const char*> names,
                   const std::string& where, std::string& error) {
  if (!object.is_object()) return fail(error, where + " is not a JSON object");
  for (const auto& item : object.items()) {
    bool known = false;
    for (const char* name : names)
      known = known || item.key() == name;
    if (!known) return fail(error, where + " has an unknown member '" + item.key() + "'");
  }
  return true;
}

bool read_uint(const Json& value, std::uint64_t& out) {
  if (value.is_number_unsigned()) {
    out = value.get<std::uint64_t>();
    return true;
  }
  return value.is_string() && parse_uint(value.get<std::string>(), out);
}

bool read_uint_member(const Json& object, const char* name, std::uint64_t& out,
                      const std::string& where, std::string& error) {
  if (!object.contains(name)) return true;
  if (!read_uint(object[name], out)) {
    return fail(error, where + ": '" + name + "' is not an unsigned integer");
  }
  return true;
}

// A byte count: a number, or a string with a K, M or G suffix.
bool read_size_member(const Json& object, const char* name, std::uint64_t& out,
                      const std::string& where, std::string& error) {
  if (!object.contains(name)) return true;
  const Json& value = object[name];
  if (value.is_number_unsigned() ||
      (value.is_string() && parse_size(value.get<std::string>(), out))) {
    if (value.is_number_unsigned()) out = value.get<std::uint64_t>();
    return true;
  }
  return fail(error, where + ": '" + name + "' is not a byte count");
}

bool read_content(const Json& options, ContentKnobs& knobs, std::string& error) {
  if (!options.contains("content")) return true;
  const Json& object = options["content"];
  const std::string where = "options/content";
  if (!known_members(object,
                     {"rate", "connections_per_file", "link_lifetime_seconds", "drop_after",
                      "ignore_range", "short_by"},
                     where, error)) {
    return false;
  }
  if (object.contains("ignore_range") && !object["ignore_range"].is_boolean()) {
    return fail(error, where + ": 'ignore_range' is not true or false");
  }
  knobs.ignore_range = object.value("ignore_range", knobs.ignore_range);
  return read_size_member(object, "rate", knobs.rate, where, error) &&
         read_uint_member(object, "connections_per_file", knobs.connections_per_file, where,
                          error) &&
         read_uint_member(object, "link_lifetime_seconds", knobs.link_lifetime_seconds, where,
                          error) &&
         read_size_member(object, "drop_after", knobs.drop_after, where, error) &&
         read_size_member(object, "short_by", knobs.short_by, where, error);
}

bool read_policy(const Json& object, const char* name, bool for_download, CaptchaPolicy& policy,
                 const std::string& where, std::string& error) {
  if (!object.contains(name)) return true;
  const std::string text = object[name].is_string() ? object[name].get<std::string>() : "";
  using Mode = CaptchaPolicy::Mode;
  const auto colon = text.find(':');
  const std::string mode = text.substr(0, colon);
  if (mode == "never" || mode == "always") {
    policy.mode = mode == "never" ? Mode::never : (for_download ? Mode::from : Mode::always);
    policy.n = 1;
    if (colon == std::string::npos) return true;
  } else if (colon != std::string::npos && parse_uint(text.substr(colon + 1), policy.n) &&
             policy.n > 0) {
    const bool fits = for_download ? (mode == "from" || mode == "every") : mode == "after";
    policy.mode = mode == "after" ? Mode::after : (mode == "from" ? Mode::from : Mode::every);
    if (fits) return true;
  }
  return fail(error,
              where + ": '" + name + "' is not " +
                  (for_download ? "\"from:K\" or \"every:K\"" : "\"always\" or \"after:N\""));
}

bool read_entries(const Json& list, Share& share, std::optional<std::size_t> parent,
                  const std::string& where, std::string& error);

// The members of an object that override those the service writes.
bool read_overrides(const Json& object, const char* name, nlohmann::ordered_json& overrides,
                    const std::string& where, std::string& error) {
  if (!object.contains(name)) return true;
  if (!object[name].is_object()) return fail(error, where + ": '" + name + "' is not an object");
  overrides = nlohmann::ordered_json::parse(object[name].dump());
  return true;
}

bool read_entry(const Json& item, Share& share, std::optional<std::size_t> parent,
                const std::string& where, std::string& error) {
  if (!known_members(
          item, {"name", "size", "fs_id", "app_id", "mtime", "children", "generated_files", "wire"},
          where, error)) {
    return false;
  }
  Entry entry;
  if (!read_overrides(item, "wire", entry.wire, where, error)) return false;
  entry.name = item.value("name", "");
  entry.is_dir = item.contains("children") || item.contains("generated_files");
  entry.mtime = kBaseMtime + share.entries.size() * 37;
  if (item.contains("app_id")) {
    std::uint64_t app_id = 0;
    if (!read_uint(item["app_id"], app_id)) return fail(error, where + ": bad 'app_id'");
    entry.app_id = std::to_string(app_id);
  }
  if (!read_uint_member(item, "size", entry.size, where, error) ||
      !read_uint_member(item, "fs_id", entry.fs_id, where, error) ||
      !read_uint_member(item, "mtime", entry.mtime, where, error)) {
    return false;
  }
  if (entry.is_dir && item.contains("size")) return fail(error, where + ": a folder has no size");
  const std::size_t index = share.add_entry(parent, std::move(entry), error);
  if (!error.empty()) return fail(error, where + ": " + error);
  std::uint64_t generated = 0;
  if (!read_uint_member(item, "generated_files", generated, where, error)) return false;
  if (generated > 0 && !add_generated_tree(share, index, TreeShape{generated, 0, 0}, error)) {
    return false;
  }
  return !item.contains("children") || read_entries(item["children"], share, index,
                                                    where + "/" + share.entries[index].name, error);
}

bool read_entries(const Json& list, Share& share, std::optional<std::size_t> parent,
                  const std::string& where, std::string& error) {
  if (!list.is_array()) return fail(error, where + ": entries must be an array");
  for (const auto& item : list) {
    if (!read_entry(item, share, parent, where, error)) return false;
  }
  return true;
}

bool read_share(const Json& object, Fixture& fixture, std::string& error) {
  const std::string where = "share " + object.value("surl", std::string("?"));
  if (!known_members(
          object,
          {"surl", "shareid", "uk", "code", "wrong_code_errno", "empty_code_errno",
           "verify_captcha", "download_captcha", "page_missing_first_fetch", "sign_expires_after",
           "max_download_in_flight", "root", "title", "page_data", "tree", "generate"},
          where, error)) {
    return false;
  }
  Share share;
  if (!read_overrides(object, "page_data", share.page_data, where, error)) return false;
  share.surl = object.value("surl", "");
  if (share.surl.empty() || !is_percent_encoded(share.surl) ||
      share.surl.find('%') != std::string::npos) {
    return fail(error, where + ": 'surl' must be a non-empty run of A-Z a-z 0-9 - _ . ~");
  }
  if (!object.contains("shareid") || !object.contains("uk") ||
      !read_uint_member(object, "shareid", share.shareid, where, error) ||
      !read_uint_member(object, "uk", share.uk, where, error)) {
    return fail(error, where + ": 'shareid' and 'uk' are required unsigned integers");
  }
  if (fixture.find_surl(share.surl) || fixture.find_share(share.shareid, share.uk)) {
    return fail(error, where + ": surl or shareid/uk used twice");
  }
  if (object.contains("code")) share.code = object["code"].get<std::string>();
  share.wrong_code_errno = object.value("wrong_code_errno", -9);
  share.empty_code_errno = object.value("empty_code_errno", -12);
  share.page_missing_first_fetch = object.value("page_missing_first_fetch", false);
  if (!read_uint_member(object, "sign_expires_after", share.sign_expires_after, where, error) ||
      !read_uint_member(object, "max_download_in_flight", share.max_download_in_flight, where,
                        error)) {
    return false;
  }
  share.root = object.value("root", "/");
  share.title = object.value("title", "");
  if (share.root.empty() || share.root[0] != '/' ||
      (share.root.size() > 1 && share.root.back() == '/') || !is_valid_utf8(share.root)) {
    return fail(error, where + ": 'root' must be an absolute path without a final slash");
  }
  if (!read_policy(object, "verify_captcha", false, share.verify_captcha, where, error) ||
      !read_policy(object, "download_captcha", true, share.download_captcha, where, error)) {
    return false;
  }
  if (object.contains("tree") && !read_entries(object["tree"], share, std::nullopt, where, error)) {
    return false;
  }
  if (object.contains("generate")) {
    const Json& written = object["generate"];
    TreeShape shape;
    std::uint64_t depth = 0, fanout = 0;
    if (!known_members(written, {"files", "depth", "fanout"}, where + " generate", error) ||
        !read_uint_member(written, "files", shape.files, where, error) ||
        !read_uint_member(written, "depth", depth, where, error) ||
        !read_uint_member(written, "fanout", fanout, where, error) || depth > 64 ||
        fanout > 100000) {
      return fail(error, where + ": bad 'generate'");
    }
    shape.depth = static_cast<std::uint32_t>(depth);
    shape.fanout = static_cast<std::uint32_t>(fanout);
    if (!add_generated_tree(share, std::nullopt, shape, error)) return false;
  }
  fixture.shares.push_back(std::move(share));
  return true;
}

bool read_options(const Json& object, Fixture& fixture, std::string& error) {
  if (!known_members(
          object,
          {"raw_utf8", "hex_amp", "captcha_format", "latency_ms", "connect_latency_ms",
           "endpoint_latency_ms", "faults", "hang_ms", "huge_bytes", "content", "seed", "quiet"},
          "options", error)) {
    return false;
  }
  fixture.style.raw_utf8 = object.value("raw_utf8", fixture.style.raw_utf8);
  fixture.style.hex_amp = object.value("hex_amp", fixture.style.hex_amp);
  fixture.quiet = object.value("quiet", fixture.quiet);
  const std::string format = object.value("captcha_format", std::string());
  if (format == "png" || format == "jpeg") {
    fixture.captcha_format = format == "png" ? ImageFormat::png : ImageFormat::jpeg;
  } else if (!format.empty()) {
    return fail(error, "options: 'captcha_format' is \"png\" or \"jpeg\"");
  }
  Knobs& knobs = fixture.knobs;
  std::uint64_t latency = knobs.latency_ms, connect_latency = knobs.connect_latency_ms,
                hang = knobs.hang_ms;
  if (!read_uint_member(object, "latency_ms", latency, "options", error) ||
      !read_uint_member(object, "connect_latency_ms", connect_latency, "options", error) ||
      !read_uint_member(object, "hang_ms", hang, "options", error) ||
      !read_uint_member(object, "huge_bytes", knobs.huge_bytes, "options", error) ||
      !read_content(object, knobs.content, error) ||
      !read_uint_member(object, "seed", fixture.seed, "options", error)) {
    return false;
  }
  if (latency > kLongestDelayMs) return fail(error, "options: 'latency_ms' is more than an hour");
  if (connect_latency > kLongestDelayMs) {
    return fail(error, "options: 'connect_latency_ms' is more than an hour");
  }
  knobs.latency_ms = static_cast<std::uint32_t>(latency);
  knobs.connect_latency_ms = static_cast<std::uint32_t>(connect_latency);
  knobs.hang_ms = static_cast<std::uint32_t>(std::min(hang, kLongestDelayMs));
  const Json endpoint_latency = object.value("endpoint_latency_ms", Json::object());
  for (const auto& item : endpoint_latency.items()) {
    if (!parse_latency(item.key() + "=" + item.value().dump(), knobs, error)) return false;
  }
  for (const auto& written : object.value("faults", Json::array())) {
    const auto rule = parse_fault(written.is_string() ? written.get<std::string>() : "?", error);
    if (!rule) return false;
    knobs.faults.push_back(*rule);
  }
  return true;
}

}  // namespace

const Entry* Share::find_path(std::string_view path) const {
  const auto found = by_path_.find(std::string(path));
  return found == by_path_.end() ? nullptr : &entries[found->second];
}

const Entry* Share::find_fs_id(std::uint64_t fs_id) const {
  const auto found = by_fs_id_.find(fs_id);
  return found == by_fs_id_.end() ? nullptr : &entries[found->second];
}

std::size_t Share::add_entry(std::optional<std::size_t> parent, Entry entry, std::string& error) {
  error.clear();
  if (entry.name.empty() || entry.name.find('/') != std::string::npos ||
      !is_valid_utf8(entry.name)) {
    error = "entry name '" + entry.name + "' is empty, holds a slash or is not UTF-8";
    return 0;
  }
  entry.parent = parent ? entries[*parent].path : root;
  entry.path = (entry.parent == "/" ? "" : entry.parent) + "/" + entry.name;
  if (by_path_.count(entry.path) > 0) {
    error = "two entries named '" + entry.path + "'";
    return 0;
  }
  if (entry.fs_id == 0) {
    static constexpr std::uint64_t kFirstAutoFsId = 300000000000001;
    entry.fs_id = kFirstAutoFsId + entries.size();
    while (by_fs_id_.count(entry.fs_id) > 0)
      ++entry.fs_id;
  }
  if (by_fs_id_.count(entry.fs_id) > 0) {
    error = "fs_id " + std::to_string(entry.fs_id) + " used twice";
    return 0;
  }
  const std::size_t index = entries.size();
  by_path_.emplace(entry.path, index);
  by_fs_id_.emplace(entry.fs_id, index);
  entries.push_back(std::move(entry));
  (parent ? entries[*parent].children : top).push_back(index);
  return index;
}

const Share* Fixture::find_surl(std::string_view surl) const {
  for (const Share& share : shares) {
    if (share.surl == surl) return &share;
  }
  return nullptr;
}

const Share* Fixture::find_share(std::uint64_t shareid, std::uint64_t uk) const {
  for (const Share& share : shares) {
    if (share.shareid == shareid && share.uk == uk) return &share;
  }
  return nullptr;
}

bool parse_fixture(std::string_view json_text, Fixture& fixture, std::string& error) {
  error.clear();
  try {
    const Json root = Json::parse(json_text.begin(), json_text.end());
    if (!known_members(root, {"options", "shares"}, "fixture", error)) return false;
    if (root.contains("options") && !read_options(root["options"], fixture, error)) return false;
    for (const auto& share : root.value("shares", Json::array())) {
      if (!read_share(share, fixture, error)) return false;
    }
    return true;
  } catch (const nlohmann::json::exception& e) {
    return fail(error, std::string("fixture: ") + e.what());
  }
}

void apply_overrides(nlohmann::ordered_json& object, const nlohmann::ordered_json& overrides) {
  for (const auto& item : overrides.items()) {
    if (item.value().is_null()) {
      object.erase(item.key());
    } else {
      object[item.key()] = item.value();
    }
  }
}

bool load_fixture_file(const std::string& path, Fixture& fixture, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read fixture " + path;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (parse_fixture(text.str(), fixture, error)) return true;
  error = path + ": " + error;
  return false;
}

}  // namespace sharelink::sim
