#pragma once

// The shares the simulator serves and the switches that shape its answers, read
// from JSON fixture files (format: see the comment atop fixture.cpp and
// `sharelink-sim --help`) or generated for benchmarks.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/knobs.h"
#include "sim/wire_format.h"

namespace sharelink::sim {

// The app_id the service reports for entries of the web disk.
inline constexpr const char* kWebAppId = "250528";

struct Entry {
  std::string name;    // server_filename
  std::string path;    // full path on the sharer's disk
  std::string parent;  // path of the folder holding it
  bool is_dir = false;
  std::uint64_t size = 0;
  std::uint64_t fs_id = 0;
  std::string app_id = kWebAppId;
  std::uint64_t mtime = 0;
  std::vector<std::size_t> children;  // indexes into Share::entries
  // Members that replace the entry's own in the page's list and in listings, a
  // null one removing it: a service that sends broken entries.
  nlohmann::ordered_json wire = nlohmann::ordered_json::object();
};

// When the service wants a captcha. Verification knows never, always and
// after (n wrong codes); downloads know never, from (the n-th request on) and
// every (each n-th request). A right answer serves one request.
struct CaptchaPolicy {
  enum class Mode { never, always, after, from, every };
  Mode mode = Mode::never;
  std::uint64_t n = 0;
};

struct Share {
  std::string surl;
  std::uint64_t shareid = 0;
  std::uint64_t uk = 0;
  std::optional<std::string> code;  // extraction code; none for a public share
  int wrong_code_errno = -9;
  int empty_code_errno = -12;
  CaptchaPolicy verify_captcha;
  CaptchaPolicy download_captcha;
  bool page_missing_first_fetch = false;
  // 0: a page's sign serves until it is eight hours old, whatever page came
  // after it. N: each page fetch issues a new sign, the only one valid from
  // then on, and it serves N download-link requests.
  std::uint64_t sign_expires_after = 0;
  // Download-link requests of the share answered at one time; one arriving
  // while that many are under way is asked for a captcha. 0: no limit.
  std::uint64_t max_download_in_flight = 0;
  std::string root = "/";  // the sharer's folder that holds the top-level entries
  std::string title;       // the page's share title; "" gives the first entry's path
  // Members that replace those of the page's data object, a null one removing
  // it: a page with a broken file list.
  nlohmann::ordered_json page_data = nlohmann::ordered_json::object();
  std::vector<Entry> entries;
  std::vector<std::size_t> top;  // top-level entries in page order

  bool is_protected() const { return code.has_value(); }
  const Entry* find_path(std::string_view path) const;
  const Entry* find_fs_id(std::uint64_t fs_id) const;

  // Adds an entry below parent (none: top level). Empty error on success.
  std::size_t add_entry(std::optional<std::size_t> parent, Entry entry, std::string& error);

 private:
  std::unordered_map<std::string, std::size_t> by_path_;
  std::unordered_map<std::uint64_t, std::size_t> by_fs_id_;
};

enum class ImageFormat { png, jpeg };

struct Fixture {
  JsonStyle style;
  ImageFormat captcha_format = ImageFormat::png;
  Knobs knobs;
  std::uint64_t seed = 0;  // 0: captchas differ from run to run
  bool quiet = false;      // no violation lines on stderr
  std::vector<Share> shares;

  const Share* find_surl(std::string_view surl) const;
  const Share* find_share(std::uint64_t shareid, std::uint64_t uk) const;
};

// Reads one fixture file's text into fixture: its shares are added, its options
// override those already set. Empty error on success; on failure fixture may
// hold part of the file.
bool parse_fixture(std::string_view json_text, Fixture& fixture, std::string& error);
bool load_fixture_file(const std::string& path, Fixture& fixture, std::string& error);

// Replaces the members of object by those of overrides; a null one removes the
// member.
void apply_overrides(nlohmann::ordered_json& object, const nlohmann::ordered_json& overrides);

// N files spread round-robin over the top level and a complete tree of folders
// `depth` levels deep with `fanout` sub-folders each.
struct TreeShape {
  std::uint64_t files = 0;
  std::uint32_t depth = 0;
  std::uint32_t fanout = 0;
};

// Adds a public share with a generated tree; ids and names are deterministic.
bool add_generated_share(Fixture& fixture, const std::string& surl, const TreeShape& shape,
                         std::string& error);

// "SURL:FILES,DEPTH,FANOUT" as given on the command line.
bool parse_generate_option(std::string_view written, std::string& surl, TreeShape& shape,
                           std::string& error);

}  // namespace sharelink::sim
