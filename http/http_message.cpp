#include "http/http_message.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "script/regex_object.h"
#include "text/local_text.h"
#include "text/text_encoding.h"

namespace sharelink {
namespace {

struct DefaultRow {
  const char* search;
  bool ignore_case;
  const char* line;
};

#define SHARELINK_USER_AGENT \
  "Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)"

// Searched in this order, each against the block as it has grown so far.
const DefaultRow kDefaultRows[] = {
    {"User-Agent: ", true, "User-Agent: " SHARELINK_USER_AGENT "\r\n"},
    {"Accept: ", true, "Accept: text/html, application/xhtml+xml, */*\r\n"},
    {"Accept-Encoding: ", true, "Accept-Encoding: gbk, GB2312\r\n"},
    {"Accept-Language: ", true, "Accept-Language: zh-cn\r\n"},
    {"Content-Type:", false, "Content-Type: application/x-www-form-urlencoded\r\n"},
    {"Cache-Control: ", true, "Cache-Control: no-cache\r\n"},
};

// Lines libcurl would add on its own when the block has no line of that name.
const char* const kTransportDefaults[] = {"Accept", "User-Agent", "Content-Type", "Expect"};

const std::string kFullWidthSpace = "\xA1\xA1";

bool equals_ignoring_case(const std::string& a, const std::string& b) {
  return a.size() == b.size() && ascii_upper(a) == ascii_upper(b);
}

bool is_token_char(unsigned char c) {
  return c > 0x20 && c < 0x7F && std::strchr("()<>@,;:\\\"/[]?={}", c) == nullptr;
}

std::string header_name(const std::string& line) {
  std::size_t colon = line.find(':');
  return colon == std::string::npos ? std::string() : line.substr(0, colon);
}

// Trims ASCII and full-width spaces; the full-width one only where it stands as a
// whole character, so stepping goes from the front.
std::string trim_all_spaces(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = 0;  // end of the last character that is no space
  bool leading = true;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t width = is_lead_byte(text[i]) ? 2 : 1;
    bool space = text[i] == ' ' || text.compare(i, 2, kFullWidthSpace) == 0;
    if (leading && space) begin = i + width;
    if (!space) {
      leading = false;
      end = i + width;
    }
    i += width;
  }
  if (leading) return std::string();
  return text.substr(begin, std::min(end, text.size()) - begin);
}

std::size_t host_part_end(const std::string& url) {
  std::size_t scheme_end = url.find("://");
  if (scheme_end == std::string::npos) return std::string::npos;
  std::size_t end = url.find_first_of("/?#", scheme_end + 3);
  return end == std::string::npos ? url.size() : end;
}

bool needs_escape(unsigned char c) {
  return c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}", c) != nullptr;
}

// Pages declare their charset in a meta tag near the top; only that much is searched.
constexpr std::size_t kCharsetSearchLength = 1024;

std::string meta_charset(const std::string& head) {
  RegexObject regex;
  if (!regex.execute("<meta.+?charset=[^\\w]?([-\\w]+)", head)) return std::string();
  return regex.submatch_text(1, 1);
}

}  // namespace

std::string default_user_agent() {
  return SHARELINK_USER_AGENT;
}

std::string build_header_block(const std::string& headers, const std::string& cookies) {
  std::string block = headers.empty() ? std::string() : headers + "\r\n";
  for (const DefaultRow& row : kDefaultRows) {
    if (find_local(block, row.search, 0, row.ignore_case) == std::string::npos) block += row.line;
  }
  if (!cookies.empty() && find_local(block, "Cookie: ", 0, true) == std::string::npos) {
    block += "Cookie: " + cookies + "\r\n";
  }
  return block;
}

OutgoingHeaders split_header_block(const std::string& block, bool own_cookies) {
  OutgoingHeaders out;
  std::vector<std::string> names;
  bool cookie_seen = false;
  for (const std::string& line : split_text(block, "\r\n")) {
    if (line.empty()) continue;
    std::string name = header_name(line);
    bool name_ok = !name.empty();
    for (unsigned char c : name)
      name_ok = name_ok && is_token_char(c);
    if (!name_ok || line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
      out.valid = false;
      return out;
    }
    std::string value = trim_spaces(line.substr(name.size() + 1));
    if (own_cookies && equals_ignoring_case(name, "Cookie")) {
      // One Cookie line goes out, so that the cookies a redirect sets can join it.
      out.cookie += (out.cookie.empty() ? "" : "; ") + value;
      if (!cookie_seen) out.cookie_at = out.lines.size();
      cookie_seen = true;
      continue;
    }
    // libcurl reads "Name:" without a value as "drop this header"; "Name;" sends
    // it empty, as written.
    out.lines.push_back(value.empty() ? name + ";" : line);
    names.push_back(name);
  }
  if (!cookie_seen) out.cookie_at = out.lines.size();
  for (const char* name : kTransportDefaults) {
    bool present = false;
    for (const std::string& own : names)
      present = present || equals_ignoring_case(own, name);
    if (!present) out.lines.push_back(std::string(name) + ":");
  }
  return out;
}

std::vector<std::string> lines_for_leg(const OutgoingHeaders& headers, bool on_origin,
                                       const std::string& cookie) {
  std::vector<std::string> lines;
  lines.reserve(headers.lines.size() + 1);
  for (std::size_t i = 0; i <= headers.lines.size(); ++i) {
    if (i == headers.cookie_at && !cookie.empty()) lines.push_back("Cookie: " + cookie);
    if (i == headers.lines.size()) break;
    const std::string& line = headers.lines[i];
    std::string name = line.substr(0, line.find_first_of(":;"));
    bool speaks_for_caller = equals_ignoring_case(name, "Authorization") ||
                             equals_ignoring_case(name, "Cookie") ||
                             equals_ignoring_case(name, "Host");
    if (on_origin || !speaks_for_caller) lines.push_back(line);
  }
  return lines;
}

std::string escape_address(const std::string& url) {
  std::size_t start = host_part_end(url);
  if (start == std::string::npos || start == url.size()) return url;
  std::string rest = url.substr(start);
  for (unsigned char c : rest) {
    if (c >= 0x80) {
      rest = gbk_to_utf8(rest);
      break;
    }
  }
  return url.substr(0, start) + percent_escape(rest, needs_escape);
}

bool has_empty_path(const std::string& url) {
  std::size_t start = host_part_end(url);
  return start != std::string::npos && (start == url.size() || url[start] != '/');
}

std::string status_from_headers(const std::string& response_headers) {
  if (response_headers.size() < 10) return std::string();
  std::size_t end = response_headers.find("\r\n", 9);
  return end == std::string::npos ? std::string() : response_headers.substr(9, end - 9);
}

void read_header_lines(std::string& response_headers, std::string& set_cookies,
                       std::string& location) {
  const std::string kName = "Set-Cookie";
  for (std::size_t at = find_local(response_headers, kName, 0, true); at != std::string::npos;
       at = find_local(response_headers, kName, at + kName.size(), true)) {
    response_headers.replace(at, kName.size(), kName);
  }
  bool any_cookie = false;
  for (const std::string& line : split_text(response_headers, "\r\n")) {
    if (line.find(kName) != std::string::npos) {
      std::string item;
      if (line.find(';') != std::string::npos) {
        std::size_t start = line.find("Set-Cookie:");
        std::size_t end = start == std::string::npos ? start : line.find(';', start + 11);
        if (end != std::string::npos) item = line.substr(start + 11, end - start - 11);
      } else {
        item = replace_all(line, "Set-Cookie:", "");
      }
      set_cookies += trim_all_spaces(item) + "; ";
      any_cookie = true;
    }
    if (line.size() >= 10 && equals_ignoring_case(line.substr(0, 10), "Location: ")) {
      location = line.substr(10);
    }
  }
  if (any_cookie) set_cookies.erase(set_cookies.size() - 2);
}

std::string content_type_charset(const std::string& response_headers) {
  std::string charset;
  for (const std::string& line : split_text(response_headers, "\r\n")) {
    if (!equals_ignoring_case(trim_spaces(header_name(line)), "Content-Type")) continue;
    charset.clear();
    for (const std::string& part : split_text(line.substr(line.find(':') + 1), ";")) {
      std::string param = trim_spaces(part);
      if (param.size() > 8 && equals_ignoring_case(param.substr(0, 8), "charset=")) {
        charset = trim_spaces(param.substr(8));
        if (charset.size() >= 2 && charset.front() == '"' && charset.back() == '"') {
          charset = charset.substr(1, charset.size() - 2);
        }
      }
    }
  }
  return charset;
}

// A JSON reply in UTF-8 without a meta tag is re-decoded by its Content-Type
// line, not read as local text. A body may be 64 MiB: the text is built once,
// without a second copy held along.
std::string response_text(const std::string& body, const std::string& response_headers) {
  std::string charset = meta_charset(until_zero(body.substr(0, kCharsetSearchLength)));
  if (charset.empty()) charset = content_type_charset(response_headers);
  if (!charset.empty() && charset != "gbk" && charset != "gb2312") {
    std::optional<std::string> recoded = recode_by_charset(body, charset);
    if (recoded) {
      std::string text = std::move(*recoded);
      text.resize(std::strlen(text.c_str()));
      // The converter sizes its buffer for the worst case; the text keeps only its own bytes.
      text.shrink_to_fit();
      return text;
    }
  }
  return until_zero(body);
}

}  // namespace sharelink
