#pragma once

// Users often paste a whole share message ("链接: <link> 提取码: abcd") or a link
// ending in ?pwd=abcd instead of the bare link. This finds the link and the code.

#include <string>

namespace sharelink {

struct ShareText {
  // The link to resolve: the text itself when it is a bare link or holds no link
  // at all, otherwise the link found in it (without a pwd parameter).
  std::string link;
  // Four letters or digits after 提取码 or pwd=; "" when there are none.
  std::string code;
};

ShareText parse_share_text(const std::string& text);

// A pasted text as a one-line box takes it: each line break (CR LF, CR or LF)
// a space, so that a share message's second line ("提取码: ...") comes along.
std::string one_line(const std::string& text);

// The typed answer of a prompt as it is stored: every ASCII and full-width
// space removed. "" means the prompt must ask again.
std::string confirmed_answer(const std::string& typed);

}  // namespace sharelink
