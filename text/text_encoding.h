#pragma once

// Conversions between local text (GB18030, a superset of GBK), UTF-16LE wide text,
// UTF-8 and the charsets pages declare. None of them fails: invalid input turns
// into replacement characters, as the platform converters of the original did.

#include <optional>
#include <string>
#include <string_view>

#include "text/local_text.h"

namespace sharelink {

// Code page numbers understood by decode_to_utf16 and encode_from_utf16.
// 0 is the local code page, which here is GB18030.
constexpr int kCodePageLocal = 0;
constexpr int kCodePageGbk = 936;
constexpr int kCodePageUtf8 = 65001;

// Local text up to its first zero byte -> UTF-16LE units plus one zero unit.
// An empty text gives an empty array (no terminator).
Bytes gbk_to_utf16(const std::string& text, bool drop_terminator = false);

// UTF-16LE units (an odd last byte ignored) up to the first zero unit -> local text.
std::string utf16_to_gbk(const Bytes& wide);

// Text in the given code page, up to its first zero byte -> UTF-16LE units followed
// by one zero unit. An unknown code page gives just the zero unit.
Bytes decode_to_utf16(const std::string& text, int code_page = kCodePageUtf8);

// UTF-16LE units up to the first zero unit -> text in the given code page, up to
// its first zero byte. An unknown code page gives the empty text.
std::string encode_from_utf16(const Bytes& wide, int code_page = kCodePageLocal);

// UTF-8 bytes up to the first zero byte -> local text.
std::string utf8_to_gbk(std::string_view utf8);

// Local text -> UTF-8, for the toolkit, the terminal and the JSON parser.
std::string gbk_to_utf8(std::string_view text);

// Exact conversions for callers that build a text piece by piece: the conversion
// of the whole of the input appended to out, or false, with out unchanged, when
// any byte of it is not a whole character (nothing is replaced).
bool append_utf8_of_local(std::string_view local, std::string& out);
bool append_local_of_utf8(std::string_view utf8, std::string& out);

// Body bytes in the named charset -> local text. The name is matched
// case-insensitively with the usual aliases (utf8, gb2312, big5, iso-8859-1,
// windows-1252, ...). nullopt when no decoder knows the name: the caller keeps
// its text. A leading byte-order mark is dropped.
std::optional<std::string> recode_by_charset(const Bytes& body, const std::string& charset);

}  // namespace sharelink
