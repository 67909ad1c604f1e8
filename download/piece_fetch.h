#pragma once

// One request for one piece of a file: the answer is checked before a byte
// is written, and the body goes straight to the file at the piece's
// position, so nothing larger than what the HTTP layer hands over at a time
// is ever held.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "download/disk_file.h"
#include "download/piece_plan.h"
#include "http/http_request.h"
#include "http/http_stream.h"

namespace sharelink {

struct FetchTarget {
  std::string url;
  bool to_link = true;                 // the link itself, not the content host it led to
  std::optional<std::string> cookies;  // with the link only
  std::string user_agent;
  int stall_seconds = 30;
  std::uint64_t file_size = 0;
  // A server that ignores ranges: its 200 answer of the whole file is taken.
  bool whole = false;
  std::shared_ptr<HttpConnectionPool> connections;
  std::shared_ptr<HttpCancel> cancel;
  std::shared_ptr<DiskFile> file;
  std::shared_ptr<Piece> piece;
};

// How a try ended, each with its own handling by the owner.
enum class FetchEnd {
  complete,       // the piece reached its end
  cut,            // broke off, timed out, 5xx, or ended early: the rest again later
  throttled,      // 503, 429, or the connection refused: fewer connections
  expired,        // 403 or 410: the address no longer serves
  ignored_range,  // 200 to a ranged request
  size_mismatch,  // the server's total is not the listed size
  status,         // any other answer: the file fails with it
  failed,         // the HTTP layer refused for good (bad address, certificate ...)
  disk,           // writing failed
  stopped,        // cancelled
};

struct FetchResult {
  FetchEnd end = FetchEnd::cut;
  long status = 0;
  int failure = 0;
  HttpCause cause = HttpCause::none;
  std::string reason;
  std::uint64_t served_size = 0;
  DiskError disk;
  std::string final_url;
  std::uint64_t bytes = 0;  // written by this try
};

// fetched grows by every byte written, for the speed shown.
FetchResult fetch_piece(const FetchTarget& target, std::atomic<std::uint64_t>& fetched);

// The value of a header in a response's block ("" when absent), and the
// parts of "bytes FIRST-LAST/TOTAL"; false for anything else.
std::string header_value(const std::string& block, const std::string& name);
bool parse_content_range(const std::string& value, std::uint64_t& first, std::uint64_t& last,
                         std::uint64_t& total);

}  // namespace sharelink
