#include "share/reply_text.h"

#include <cctype>

#include "http/cookies.h"
#include "script/json_text.h"
#include "text/local_text.h"
#include "text/text_encoding.h"

namespace sharelink {

namespace {

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The JSON string literal whose opening quote is at text[open], quotes
// included; "" when it does not end. Steps over double-byte characters whole.
std::string json_string_literal(const std::string& text, std::size_t open) {
  for (std::size_t i = open + 1; i < text.size(); ++i) {
    if (is_lead_byte(text[i])) {
      ++i;
    } else if (text[i] == '\\') {
      ++i;
    } else if (text[i] == '"') {
      return text.substr(open, i - open + 1);
    }
  }
  return {};
}

}  // namespace

std::string origin_of(const std::string& address) {
  std::size_t sep = address.find("://");
  if (sep == std::string::npos || sep == 0) return {};
  for (std::size_t i = 0; i < sep; ++i) {
    char c = address[i];
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return {};
  }
  std::size_t end = address.find_first_of("/?#", sep + 3);
  return address.substr(0, end == std::string::npos ? address.size() : end);
}

std::string resolve_location(const std::string& base, const std::string& location) {
  if (!origin_of(location).empty()) return location;
  const std::string origin = origin_of(base);
  if (origin.empty()) return location;
  if (location.compare(0, 2, "//") == 0) return origin.substr(0, origin.find("://") + 1) + location;
  if (!location.empty() && location[0] == '/') return origin + location;
  // A relative path replaces the last segment of the base's path.
  std::string path = base.substr(origin.size());
  path = path.substr(0, path.find_first_of("?#"));
  if (location.empty()) return origin + (path.empty() ? "/" : path);
  if (location[0] == '?') return origin + (path.empty() ? "/" : path) + location;
  std::size_t slash = path.rfind('/');
  std::string directory = slash == std::string::npos ? "/" : path.substr(0, slash + 1);
  return origin + directory + location;
}

std::string cut_json_object(const std::string& page, const std::string& marker) {
  std::size_t at = find_local(page, marker);
  if (at == std::string::npos) return {};
  std::size_t begin = at + marker.size();
  while (begin < page.size() && is_space(page[begin]))
    ++begin;
  if (begin >= page.size() || page[begin] != '{') return {};
  int depth = 0;
  bool in_string = false;
  for (std::size_t i = begin; i < page.size(); ++i) {
    char c = page[i];
    if (is_lead_byte(c)) {
      ++i;  // both bytes of a double-byte character
      continue;
    }
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    if (c == '"') {
      in_string = true;
    } else if (c == '{' || c == '[') {
      ++depth;
    } else if (c == '}' || c == ']') {
      if (--depth == 0) return page.substr(begin, i - begin + 1);
    }
  }
  return {};
}

std::string json_string_member(const std::string& reply, const std::string& key) {
  const std::string name = "\"" + key + "\"";
  std::size_t at = 0;
  while ((at = find_local(reply, name, at)) != std::string::npos) {
    std::size_t i = at + name.size();
    while (i < reply.size() && is_space(reply[i]))
      ++i;
    if (i < reply.size() && reply[i] == ':') {
      ++i;
      while (i < reply.size() && is_space(reply[i]))
        ++i;
      if (i < reply.size() && reply[i] == '"') {
        // The JSON reader decodes every escape, \\uXXXX pairs included.
        const std::optional<ParsedJson> value = parse_json_text(json_string_literal(reply, i));
        if (value && value->value.is_string()) return plain_form(value->value);
      }
    }
    at += name.size();
  }
  return {};
}

std::string cookie_value(const std::string& cookies, const std::string& name) {
  for (const std::string& item : split_text(cookies, ";")) {
    if (cookie_name(item) != name) continue;
    std::size_t eq = item.find('=');
    return eq == std::string::npos ? std::string() : trim_spaces(item.substr(eq + 1));
  }
  return {};
}

}  // namespace sharelink
