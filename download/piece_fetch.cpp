#include "download/piece_fetch.h"

#include <cctype>
#include <cstdlib>

namespace sharelink {
namespace {

bool same_name(const std::string& line, const std::string& name) {
  if (line.size() <= name.size() || line[name.size()] != ':') return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(line[i])) !=
        std::tolower(static_cast<unsigned char>(name[i])))
      return false;
  }
  return true;
}

bool read_number(const std::string& text, std::size_t& at, std::uint64_t& value) {
  const std::size_t start = at;
  value = 0;
  while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
    const std::uint64_t digit = static_cast<std::uint64_t>(text[at] - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
    ++at;
  }
  return at > start;
}

// Only printable ASCII goes into a header line of ours.
std::string header_safe(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c >= 0x20 && c < 0x7f) out += c;
  }
  return out;
}

HttpRequest piece_request(const FetchTarget& target, std::uint64_t from, std::uint64_t to) {
  HttpRequest request;
  request.url = target.url;
  request.headers = "Range: bytes=" + std::to_string(from) + "-" + std::to_string(to - 1);
  const std::string agent = header_safe(target.user_agent);
  if (!agent.empty()) request.headers += "\r\nUser-Agent: " + agent;
  request.cookies = target.to_link ? target.cookies : std::nullopt;
  request.timeout_seconds = target.stall_seconds;
  request.connections = target.connections;
  request.cancel = target.cancel;
  return request;
}

// Whether the answer may be written, before its first byte; sets the end
// that stops it otherwise.
bool accept_answer(const FetchTarget& target, std::uint64_t from, long status,
                   const std::string& block, FetchResult& result) {
  result.status = status;
  if (status == 206) {
    std::uint64_t first = 0, last = 0, total = 0;
    if (!parse_content_range(header_value(block, "Content-Range"), first, last, total) ||
        first != from || total != target.file_size) {
      result.end = FetchEnd::size_mismatch;
      result.served_size = total;
      // A start other than the one asked for with the right total is no size
      // fault but a broken server: the bytes would land at the wrong place.
      if (total == target.file_size) result.end = FetchEnd::status;
      return false;
    }
    return true;
  }
  if (status == 200) {
    if (!target.whole || target.piece->offset() != 0) {
      result.end = FetchEnd::ignored_range;
      return false;
    }
    const std::string length = header_value(block, "Content-Length");
    std::uint64_t served = 0;
    std::size_t at = 0;
    if (!length.empty() && read_number(length, at, served) && served != target.file_size) {
      result.end = FetchEnd::size_mismatch;
      result.served_size = served;
      return false;
    }
    target.piece->restart();
    return true;
  }
  result.end = status == 403 || status == 410   ? FetchEnd::expired
               : status == 503 || status == 429 ? FetchEnd::throttled
               : status >= 500 && status <= 599 ? FetchEnd::cut
                                                : FetchEnd::status;
  return false;
}

bool write_body(const FetchTarget& target, const char* data, std::size_t length,
                std::atomic<std::uint64_t>& fetched, FetchResult& result) {
  while (length > 0) {
    std::uint64_t at = 0;
    const std::size_t granted = target.piece->reserve(length, at);
    // The piece's end was reached (or moved before us): the rest is another's.
    if (granted == 0) return false;
    result.disk = target.file->write_at(at, data, granted);
    if (result.disk) {
      result.end = FetchEnd::disk;
      return false;
    }
    target.piece->commit(granted);
    fetched.fetch_add(granted, std::memory_order_relaxed);
    result.bytes += granted;
    data += granted;
    length -= granted;
  }
  return true;
}

}  // namespace

std::string header_value(const std::string& block, const std::string& name) {
  std::size_t start = 0;
  while (start < block.size()) {
    std::size_t end = block.find("\r\n", start);
    if (end == std::string::npos) end = block.size();
    const std::string line = block.substr(start, end - start);
    if (same_name(line, name)) {
      std::size_t first = name.size() + 1;
      while (first < line.size() && (line[first] == ' ' || line[first] == '\t'))
        ++first;
      std::size_t last = line.size();
      while (last > first && (line[last - 1] == ' ' || line[last - 1] == '\t'))
        --last;
      return line.substr(first, last - first);
    }
    start = end + 2;
  }
  return "";
}

bool parse_content_range(const std::string& value, std::uint64_t& first, std::uint64_t& last,
                         std::uint64_t& total) {
  const std::string unit = "bytes ";
  if (value.compare(0, unit.size(), unit) != 0) return false;
  std::size_t at = unit.size();
  if (!read_number(value, at, first) || at >= value.size() || value[at++] != '-') return false;
  if (!read_number(value, at, last) || at >= value.size() || value[at++] != '/') return false;
  if (!read_number(value, at, total) || at != value.size()) return false;
  return first <= last && last < total;
}

FetchResult fetch_piece(const FetchTarget& target, std::atomic<std::uint64_t>& fetched) {
  FetchResult result;
  const std::uint64_t from = target.piece->position();
  const std::uint64_t to = target.piece->end();
  if (from >= to) {
    result.end = FetchEnd::complete;
    return result;
  }
  bool checked = false;
  HttpStreamSink sink;
  sink.on_headers = [&](long status, const std::string& block) {
    checked = accept_answer(target, from, status, block, result);
    return checked;
  };
  sink.on_body = [&](const char* data, std::size_t length) {
    return write_body(target, data, length, fetched, result);
  };
  const HttpStreamResponse response = http_stream(piece_request(target, from, to), sink);
  result.final_url = response.final_url.empty() ? target.url : response.final_url;
  if (response.status != 0) result.status = response.status;
  const bool ended_on_the_way = result.end == FetchEnd::disk || (!checked && response.status != 0);
  // An answer the check refused failed for its status, not for the stop of
  // the transfer that the refusal made.
  if (!(ended_on_the_way && response.reason == kReasonReceiverStopped)) {
    result.failure = response.failure;
    result.cause = response.cause;
    result.reason = response.reason;
  }
  if (target.piece->complete()) {
    result.end = FetchEnd::complete;
  } else if (response.failure == kHttpFailureCancelled || response.cause == HttpCause::cancelled) {
    result.end = FetchEnd::stopped;
  } else if (ended_on_the_way) {
    // The answer's check or the disk said how.
  } else if (response.cause == HttpCause::refused) {
    result.end = FetchEnd::throttled;
  } else if (response.failure != 0 && !response.transient) {
    result.end = FetchEnd::failed;
  } else {
    result.end = FetchEnd::cut;  // broke off, stalled, or ended before the piece did
  }
  return result;
}

}  // namespace sharelink
