#pragma once

// Text forms the service speaks on the wire: its JSON style, percent and form
// encoding, Base64. The simulator has its own copies so that a fault in the
// client's versions is not mirrored here.

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace sharelink::sim {

// How replies are written. The service escapes every non-ASCII character as
// \uXXXX and every slash as \/; raw_utf8 sends the UTF-8 bytes instead, and
// hex_amp also writes "&" as \u0026.
struct JsonStyle {
  bool raw_utf8 = false;
  bool hex_amp = false;
};

// Member order is kept. Bytes that are not valid UTF-8 come out as U+FFFD.
std::string encode_json(const nlohmann::ordered_json& value, const JsonStyle& style);

// Every byte except A-Z a-z 0-9 - _ . ~ as %XX (upper-case hex).
std::string percent_encode(std::string_view bytes);

// True when text holds only unreserved characters and well-formed %XX escapes,
// the form the client promises for user-typed values and folder paths.
bool is_percent_encoded(std::string_view text);

// Decodes %XX escapes (either letter case); with plus_as_space, "+" is a blank as
// in a form body. False on a "%" without two hex digits after it.
bool percent_decode(std::string_view text, std::string& out, bool plus_as_space = false);

bool is_valid_utf8(std::string_view text);

std::string base64_encode(std::string_view bytes);

// Strict: standard alphabet, padding required, no blanks.
bool base64_decode(std::string_view text, std::string& out);

// Escapes <, >, & and " for HTML text and attribute values.
std::string html_escape(std::string_view text);

}  // namespace sharelink::sim
