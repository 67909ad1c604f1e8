#include "app/share_text.h"

#include <algorithm>

#include "text/local_text.h"

namespace sharelink {

namespace {

bool is_alnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A link ends at white space, at the first non-ASCII byte (Chinese text often
// follows without a blank) and at quotes or angle brackets.
bool ends_link(char c) {
  const unsigned char b = static_cast<unsigned char>(c);
  return b <= ' ' || b >= 0x80 || c == '"' || c == '\'' || c == '<' || c == '>';
}

std::size_t find_link_start(const std::string& text) {
  std::size_t http = find_local(text, "http://", 0, true);
  std::size_t https = find_local(text, "https://", 0, true);
  return http < https ? http : https;
}

// Four letters or digits at text[pos], not followed by a fifth.
std::string code_at(const std::string& text, std::size_t pos) {
  if (pos + 4 > text.size()) return {};
  for (std::size_t i = pos; i < pos + 4; ++i) {
    if (!is_alnum(text[i])) return {};
  }
  if (pos + 4 < text.size() && is_alnum(text[pos + 4])) return {};
  return text.substr(pos, 4);
}

std::string code_after_label(const std::string& text) {
  const std::string label = "提取码";
  std::size_t at = find_local(text, label);
  if (at == std::string::npos) return {};
  std::size_t pos = at + label.size();
  // Separators people put between the label and the code.
  for (;;) {
    if (pos < text.size() && (text[pos] == ':' || text[pos] == ' ' || text[pos] == '\t')) {
      ++pos;
    } else if (text.compare(pos, 2, "：") == 0 || text.compare(pos, 2, "　") == 0) {
      pos += 2;
    } else {
      break;
    }
  }
  return code_at(text, pos);
}

// Removes a pwd=XXXX parameter from link and returns its value.
std::string take_pwd_parameter(std::string& link) {
  std::size_t query = link.find('?');
  if (query == std::string::npos) return {};
  for (std::size_t at = link.find("pwd=", query); at != std::string::npos;
       at = link.find("pwd=", at + 4)) {
    const char before = link[at - 1];
    if (before != '?' && before != '&') continue;
    std::size_t end = link.find('&', at);
    const std::string code = code_at(link.substr(0, end), at + 4);
    if (code.empty()) continue;
    // Drop the parameter with its separator, and a query left empty.
    if (end != std::string::npos) {
      link.erase(at, end + 1 - at);
    } else {
      link.erase(at - 1);
    }
    return code;
  }
  return {};
}

}  // namespace

ShareText parse_share_text(const std::string& text) {
  ShareText result{text, {}};
  const std::size_t start = find_link_start(text);
  if (start == std::string::npos) return result;
  // A text that is the link alone is the link, whatever characters it holds;
  // in a message, Chinese text, quotes or brackets may follow it unspaced.
  const bool bare = start == 0 && std::none_of(text.begin(), text.end(), [](char c) {
                      return static_cast<unsigned char>(c) <= ' ';
                    });
  std::size_t end = bare ? text.size() : start;
  while (end < text.size() && !ends_link(text[end]))
    ++end;
  // Sentence punctuation right after a link in a message belongs to the
  // sentence; a text that is the link alone has none.
  while (!bare && end > start && std::string(".,;:!?)]}").find(text[end - 1]) != std::string::npos)
    --end;
  std::string link = text.substr(start, end - start);
  const std::string pwd = take_pwd_parameter(link);
  if (link == text) return result;  // a bare link stays exactly as typed
  result.link = link;
  result.code = pwd.empty() ? code_after_label(text) : pwd;
  return result;
}

std::string one_line(const std::string& text) {
  return replace_all(replace_all(replace_all(text, "\r\n", " "), "\r", " "), "\n", " ");
}

std::string confirmed_answer(const std::string& typed) {
  return remove_spaces(typed);
}

}  // namespace sharelink
