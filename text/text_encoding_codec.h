#pragma once

// The platform's charset converter under text_encoding.cpp, one source file per
// platform chosen at configure time: iconv on Linux (text_encoding_iconv.cpp),
// the code pages of MultiByteToWideChar and WideCharToMultiByte on Windows
// (text_encoding_win32.cpp). Nothing else includes this header.
//
// Charsets are named the way iconv names them; the Windows converter maps the
// names to code pages. Wide text is UTF-16LE units in a byte string.

#include <optional>
#include <string>
#include <string_view>

#include "text/local_text.h"

namespace sharelink::codec {

inline constexpr char kLocal[] = "GB18030";
inline constexpr char kUtf8[] = "UTF-8";
inline constexpr char kWide[] = "UTF-16LE";

// Text in charset -> wide text without a terminator. A byte sequence the
// charset rejects becomes U+FFFD and the text after it survives. nullopt for a
// charset the platform does not have.
std::optional<Bytes> to_wide(std::string_view text, const char* charset);

// Wide text (an even number of bytes) -> charset. A character the charset
// lacks, and a surrogate without its partner, becomes '?'. nullopt for a
// charset the platform does not have.
std::optional<std::string> from_wide(std::string_view wide, const char* charset);

// The conversion of the whole of input between two of kLocal, kUtf8 and
// kWide, appended to out; false, with out unchanged, when any byte of input is
// not part of a whole character of from, or a character has no form in to.
bool append_exact(std::string_view input, const char* from, const char* to, std::string& out);

// Body bytes in a charset a page declared -> local text, converted a piece at
// a time so that a long page is never held whole in wide form. charset is
// lower case, checked against a charset name's alphabet, with the GB family
// already named kLocal. A leading byte-order mark is dropped. nullopt when the
// platform does not know the name.
std::optional<std::string> recode_to_local(std::string_view body, const std::string& charset);

}  // namespace sharelink::codec
