#pragma once

// Texts the service sent (names, paths, sizes, links) on their way to the
// user's terminal, the log box, the clipboard and other programs. The server
// behind a pasted link can be anyone's: a control character in a name could
// clear or retitle a terminal, a line break could forge a report line or add
// a line to the clipboard, a direction override could show "x\u202Efdp.exe" as
// "xexe.pdf", a javascript: or file: link could be handed to a download tool.

#include <string>

namespace sharelink {

// text with every control character put as U+FFFD, the replacement character:
// C0 but TAB, DEL, the C1 range, the line and paragraph separators
// (U+2028, U+2029) and the direction embeddings, overrides and isolates
// (U+202A-202E, U+2066-2069). Bytes that are no whole character (a sequence
// cut short) are replaced one by one, so that what comes out never pairs
// into a character that was not there. Local text in and out.
std::string shown_text(const std::string& text);

// The same with those characters, and TAB, put as replacement: for formats
// in which a tab means something too.
std::string without_controls(const std::string& text, const std::string& replacement);

// link with every character shown_text replaces, and space, percent-encoded
// (a character as its UTF-8 bytes, a stray byte as itself), so that it stays
// one word on one line. Local text in and out.
std::string shown_link(const std::string& link);

// Whether link is one we hand on at all: an http or https address.
bool exportable_link(const std::string& link);

}  // namespace sharelink
