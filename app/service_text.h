#pragma once

// Texts the service sent (names, paths, sizes, links) on their way to the
// user's terminal, the log box, the clipboard and other programs. The server
// behind a pasted link can be anyone's: a control character in a name could
// clear or retitle a terminal, a line break could forge a report line or add
// a line to the clipboard, a javascript: or file: link could be handed to a
// download tool.

#include <string>

namespace sharelink {

// text with every control character (C0 but TAB, DEL, and the C1 range) put
// as U+FFFD, the replacement character. Local text in and out.
std::string shown_text(const std::string& text);

// link with every control character and space percent-encoded, so that it
// stays one word on one line. Local text in and out.
std::string shown_link(const std::string& link);

// Whether link is one we hand on at all: an http or https address.
bool exportable_link(const std::string& link);

}  // namespace sharelink
