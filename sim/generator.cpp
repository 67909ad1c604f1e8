#include "sim/generator.h"

#include <cstdio>
#include <vector>

namespace sharelink::sim {
namespace {

constexpr std::uint64_t kMostEntries = 10000000;

// Sizes from a few bytes to a few GB, so that small files and large numbers
// are both exercised.
std::uint64_t generated_size(std::uint64_t n) {
  std::uint64_t x = n * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull;
  x ^= x >> 29;
  return 1 + x % (x % 7 == 0 ? 4000000000ull : 5000000ull);
}

bool folder_count(const TreeShape& shape, std::uint64_t& total) {
  total = 0;
  std::uint64_t level = 1;
  for (std::uint32_t d = 0; d < shape.depth; ++d) {
    level *= shape.fanout;
    total += level;
    if (total + shape.files > kMostEntries) return false;
  }
  return true;
}

}  // namespace

bool add_generated_tree(Share& share, std::optional<std::size_t> parent, const TreeShape& shape,
                        std::string& error) {
  std::uint64_t folders = 0;
  if (shape.files > kMostEntries || !folder_count(shape, folders)) {
    error = "generated tree of more than " + std::to_string(kMostEntries) + " entries";
    return false;
  }
  std::vector<std::optional<std::size_t>> holders{parent};
  std::vector<std::optional<std::size_t>> level{parent};
  char name[64];
  for (std::uint32_t depth = 1; depth <= shape.depth; ++depth) {
    std::vector<std::optional<std::size_t>> next;
    for (const auto& above : level) {
      for (std::uint32_t i = 0; i < shape.fanout; ++i) {
        std::snprintf(name, sizeof name, "目录 %u-%06zu", depth, next.size());
        Entry folder;
        folder.name = name;
        folder.is_dir = true;
        folder.mtime = 1600000000 + share.entries.size();
        next.push_back(share.add_entry(above, std::move(folder), error));
        if (!error.empty()) return false;
      }
    }
    holders.insert(holders.end(), next.begin(), next.end());
    level = std::move(next);
  }
  for (std::uint64_t n = 0; n < shape.files; ++n) {
    std::snprintf(name, sizeof name, "数据 %07llu.bin", static_cast<unsigned long long>(n));
    Entry file;
    file.name = name;
    file.size = generated_size(n);
    file.mtime = 1600000000 + share.entries.size();
    share.add_entry(holders[n % holders.size()], std::move(file), error);
    if (!error.empty()) return false;
  }
  return true;
}

bool add_generated_share(Fixture& fixture, const std::string& surl, const TreeShape& shape,
                         std::string& error) {
  error.clear();
  Share share;
  share.surl = surl;
  share.shareid = 5000000000ull + fixture.shares.size() * 7919;
  share.uk = 1100000000ull + fixture.shares.size();
  share.root = "/bench";
  while (fixture.find_share(share.shareid, share.uk))
    ++share.shareid;
  if (surl.empty() || fixture.find_surl(surl)) {
    error = "generated share needs a new surl";
    return false;
  }
  if (!add_generated_tree(share, std::nullopt, shape, error)) return false;
  fixture.shares.push_back(std::move(share));
  return true;
}

bool parse_generate_option(std::string_view written, std::string& surl, TreeShape& shape,
                           std::string& error) {
  const auto colon = written.find(':');
  const auto comma1 = written.find(',', colon);
  const auto comma2 = comma1 == written.npos ? written.npos : written.find(',', comma1 + 1);
  std::uint64_t files = 0, depth = 0, fanout = 0;
  if (colon == written.npos || comma2 == written.npos || colon == 0 ||
      !parse_uint(written.substr(colon + 1, comma1 - colon - 1), files) ||
      !parse_uint(written.substr(comma1 + 1, comma2 - comma1 - 1), depth) ||
      !parse_uint(written.substr(comma2 + 1), fanout) || depth > 64 || fanout > 100000) {
    error = "generate '" + std::string(written) + "' is not SURL:FILES,DEPTH,FANOUT";
    return false;
  }
  surl = std::string(written.substr(0, colon));
  shape = TreeShape{files, static_cast<std::uint32_t>(depth), static_cast<std::uint32_t>(fanout)};
  return true;
}

}  // namespace sharelink::sim
