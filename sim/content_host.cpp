#include "sim/content_host.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>
#include <vector>

#include "sim/checks.h"
#include "sim/file_content.h"

namespace sharelink::sim {
namespace {

// Room for every connection of a downloader's budget and an aria2c beside it.
constexpr std::size_t kServingThreads = 64;
constexpr std::size_t kLargestPiece = 256 * 1024;
constexpr std::size_t kSmallestPiece = 1024;
// A paced body goes out in pieces of 5 ms each, so that it ends within a few
// milliseconds of its pace whatever its size.
constexpr std::uint64_t kPiecesPerSecond = 200;

// The bytes a response carries.
struct Span {
  std::uint64_t first = 0;
  std::uint64_t length = 0;
  bool partial = false;        // 206
  bool unsatisfiable = false;  // 416
};

// "bytes=A-B" and "bytes=A-" are served (B past the end is cut to it; A past
// it is 416); any other form, or none, gets the whole file.
Span pick_span(const std::string& range, std::uint64_t total, bool ignore_range) {
  const Span whole{0, total, false, false};
  const std::string prefix = "bytes=";
  if (ignore_range || range.compare(0, prefix.size(), prefix) != 0) return whole;
  const std::string asked = range.substr(prefix.size());
  const auto dash = asked.find('-');
  std::uint64_t first = 0, last = std::numeric_limits<std::uint64_t>::max();
  if (dash == std::string::npos || !parse_uint(asked.substr(0, dash), first)) return whole;
  const std::string written_last = asked.substr(dash + 1);
  if (!written_last.empty() && (!parse_uint(written_last, last) || last < first)) return whole;
  if (first >= total) return Span{0, 0, false, true};
  last = std::min(last, total - 1);
  return Span{first, last - first + 1, true, false};
}

std::string joined_header(const httplib::Request& req, const char* name) {
  std::string value;
  for (std::size_t i = 0; i < req.get_header_value_count(name); ++i) {
    value += (i > 0 ? ", " : "") + req.get_header_value(name, i);
  }
  return value;
}

// Where one body stands; shared by the copies cpp-httplib makes of its provider.
struct Body {
  std::vector<char> piece;
  std::chrono::steady_clock::time_point start;
};

}  // namespace

ContentHost::ContentHost(Service& service, std::unique_ptr<httplib::Server> server)
    : service_(service), server_(std::move(server), service.state(), kServingThreads) {
  server_.server().Get(
      "/c/.*", [this](const httplib::Request& req, httplib::Response& res) { serve(req, res); });
}

bool ContentHost::start(const std::string& host, std::string& error) {
  port_ = server_.bind(host, 0, error);
  if (port_ <= 0) return false;
  server_.run();
  return true;
}

void ContentHost::reset_counters() {
  bytes_served_ = 0;
  connections_seen_ = 0;
}

void ContentHost::refuse(httplib::Response& res, int status, const std::string& why) const {
  if (!service_.fixture().quiet) std::fprintf(stderr, "sharelink-sim: content: %s\n", why.c_str());
  res.status = status;
  res.set_content(status == 503 ? "too many connections" : "link not valid",
                  "text/plain; charset=utf-8");
}

ContentHost::Slot ContentHost::take_slot(std::uint64_t fs_id, std::uint64_t most) {
  std::lock_guard<std::mutex> lock(slots_mutex_);
  std::uint64_t& count = under_way_[fs_id];
  if (most > 0 && count >= most) return nullptr;
  ++count;
  return Slot(this, [fs_id](ContentHost* host) {
    std::lock_guard<std::mutex> lock(host->slots_mutex_);
    if (--host->under_way_[fs_id] == 0) host->under_way_.erase(fs_id);
  });
}

void ContentHost::serve(const httplib::Request& req, httplib::Response& res) {
  // cpp-httplib cuts a handler's body to the request's Range on its own, and
  // knows neither a file shorter than listed nor a host that ignores Range:
  // this host answers ranges itself. The request is the server's own object.
  const_cast<httplib::Request&>(req).ranges.clear();
  if (first_request_on_connection()) ++connections_seen_;
  const ContentKnobs knobs = service_.state().knobs().content;
  const auto question = req.target.find('?');
  const std::string query = question == std::string::npos ? "" : req.target.substr(question + 1);
  const LinkedFile linked =
      service_.linked_file(split_params(query), joined_header(req, "User-Agent"));
  if (!linked.file) return refuse(res, 403, linked.violation);
  if (req.path != "/c/" + std::to_string(linked.file->fs_id)) {
    return refuse(res, 403, "the address " + req.path + " is not the link's file");
  }
  const std::uint64_t fs_id = linked.file->fs_id;
  Slot slot = take_slot(fs_id, knobs.connections_per_file);
  if (!slot) return refuse(res, 503, "file " + std::to_string(fs_id) + " has its connections");
  const std::uint64_t size = linked.file->size;
  const std::uint64_t total = size - std::min(size, knobs.short_by);
  const Span span = pick_span(joined_header(req, "Range"), total, knobs.ignore_range);
  res.set_header("Accept-Ranges", "bytes");
  const std::string total_text = std::to_string(total);
  if (span.unsatisfiable) {
    res.status = 416;
    res.set_header("Content-Range", "bytes */" + total_text);
    res.set_content("", "text/plain");
    return;
  }
  res.status = span.partial ? 206 : 200;
  if (span.partial) {
    res.set_header("Content-Range", "bytes " + std::to_string(span.first) + "-" +
                                        std::to_string(span.first + span.length - 1) + "/" +
                                        total_text);
  }
  if (span.length == 0) return res.set_content("", "application/octet-stream");
  stream_body(res, fs_id, span.first, span.length, knobs, std::move(slot));
}

// Paced from the first body byte on: each piece leaves when the bytes before
// it are due, and the wait gives way to a stop.
void ContentHost::stream_body(httplib::Response& res, std::uint64_t fs_id, std::uint64_t first,
                              std::uint64_t length, const ContentKnobs& knobs, Slot slot) {
  const std::uint64_t cut = knobs.drop_after > 0 ? std::min(knobs.drop_after, length) : length;
  const std::uint64_t rate = knobs.rate;
  const std::size_t piece = rate == 0
                                ? kLargestPiece
                                : static_cast<std::size_t>(std::clamp<std::uint64_t>(
                                      rate / kPiecesPerSecond, kSmallestPiece, kLargestPiece));
  auto body = std::make_shared<Body>();
  res.set_content_provider(
      length, "application/octet-stream",
      [this, fs_id, first, cut, rate, piece, body, slot](std::size_t offset, std::size_t want,
                                                         httplib::DataSink& sink) {
        if (offset >= cut) return false;  // closes the connection mid-body
        if (offset == 0) body->start = std::chrono::steady_clock::now();
        if (rate > 0 && offset > 0) {
          const auto due =
              body->start + std::chrono::duration_cast<std::chrono::nanoseconds>(
                                std::chrono::duration<double>(static_cast<double>(offset) / rate));
          if (service_.state().wait_for_stop_until(due)) return false;
        }
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>({want, piece, cut - offset}));
        body->piece.resize(n);
        fill_file_content(fs_id, first + offset, body->piece.data(), n);
        if (!sink.write(body->piece.data(), n)) return false;
        bytes_served_ += n;
        return true;
      });
}

}  // namespace sharelink::sim
