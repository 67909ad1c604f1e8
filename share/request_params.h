#pragma once

// Small text routines behind the service requests: time stamps and random values
// for the t and logid parameters, Base64, the marker search every reply is read
// with, slash removal and percent-decoding.

#include <cstdint>
#include <string>

namespace sharelink {

// Unix time in milliseconds (13 digits for present dates); seconds_only gives the
// first 10 characters. Taken from one clock reading, the same in every time zone.
std::string timestamp_text(bool seconds_only = false);

// The text of a given Unix time in milliseconds, in the form of timestamp_text.
std::string timestamp_text_at(std::int64_t unix_millis, bool seconds_only = false);

// count random decimal digits (0 or less: 19); leading zeros stay.
std::string random_digits(int count = 0);

// Base64 of timestamp_text() + "." + 19 random digits: 44 characters.
std::string make_logid();

// Standard Base64 (RFC 4648 section 4) with padding and no line breaks.
std::string base64_encode(const std::string& data);

// text without any "/" (forward) or without any "\" (not forward).
std::string strip_slashes(const std::string& text, bool forward = false);

// The text between the first occurrence of before (searched from the 1-based
// start, 0 meaning the beginning) and the next occurrence of after; "" when either
// is missing. "#引号" in a marker stands for a double quote. Searches step over
// double-byte characters whole.
std::string text_between(const std::string& text, const std::string& before,
                         const std::string& after, int start = 0, bool ignore_case = false);

// Decodes %XX escapes (either letter case). A "%" without two hex digits after it
// stays as it is; "+" stays "+". With from_utf8 the result is then read as UTF-8
// and converted to local text, a "%00" becoming U+FFFD.
std::string percent_decode(const std::string& text, bool from_utf8 = false);

// Local text as UTF-8 with every byte but A-Z a-z 0-9 - _ . ~ written %XX, for
// values that go into an address or a form body.
std::string percent_encode(const std::string& text);

// value with A-Z a-z 0-9 - _ . ~ and its %XX escapes as they are and every
// other byte written %XX: a value that came percent-encoded goes out unchanged,
// and nothing in it can end the value or start another parameter.
std::string escape_form_value(const std::string& value);

}  // namespace sharelink
