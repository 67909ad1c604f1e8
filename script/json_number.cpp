#include "script/json_number.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

namespace sharelink {

namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

bool skip_digits(const char*& p, const char* end) {
  const char* start = p;
  while (p != end && is_digit(*p))
    ++p;
  return p != start;
}

// Whether the well-formed number from begin to end is out of a double's range
// on the large side: its first significant digit stands above the units.
bool overflows(const char* begin, const char* end) {
  const char* q = *begin == '-' ? begin + 1 : begin;
  long long place = 0;  // power of ten of the first significant digit, plus one
  while (q != end && *q == '0')
    ++q;
  while (q != end && is_digit(*q)) {
    ++place;
    ++q;
  }
  if (q != end && *q == '.') {
    ++q;
    if (place == 0) {
      while (q != end && *q == '0') {
        --place;
        ++q;
      }
    }
    while (q != end && is_digit(*q))
      ++q;
  }
  long long exponent = 0;
  if (q != end && (*q == 'e' || *q == 'E')) {
    ++q;
    const bool minus = *q == '-';
    if (*q == '+' || *q == '-') ++q;
    for (; q != end; ++q)
      exponent = std::min(exponent * 10 + (*q - '0'), 1000000000LL);
    if (minus) exponent = -exponent;
  }
  return place + exponent > 0;
}

// A number too large for a double is refused; one too small for it is 0, as
// strtod gives it.
bool read_double(const char* begin, const char* end, double& value) {
  auto [stop, ec] = std::from_chars(begin, end, value);
  if (ec == std::errc::result_out_of_range) {
    if (overflows(begin, end)) return false;
    value = *begin == '-' ? -0.0 : 0.0;
  } else if (ec != std::errc() || stop != end) {
    return false;
  }
  return std::isfinite(value);
}

}  // namespace

std::optional<JsonNumber> read_json_number(const char*& p, const char* end) {
  const char* begin = p;
  const bool negative = p != end && *p == '-';
  if (negative) ++p;
  if (p == end || !is_digit(*p)) return std::nullopt;
  const char* digits = p;
  // Up to 19 digits always fit in 64 bits: summed while they are skipped.
  std::uint64_t magnitude = 0;
  if (*p == '0') {
    ++p;
  } else {
    while (p != end && is_digit(*p))
      magnitude = magnitude * 10 + static_cast<std::uint64_t>(*p++ - '0');
  }
  const char* digits_end = p;
  bool integer = true;
  if (p != end && *p == '.') {
    ++p;
    if (!skip_digits(p, end)) return std::nullopt;
    integer = false;
  }
  if (p != end && (*p == 'e' || *p == 'E')) {
    ++p;
    if (p != end && (*p == '+' || *p == '-')) ++p;
    if (!skip_digits(p, end)) return std::nullopt;
    integer = false;
  }
  JsonNumber number;
  if (integer) {
    bool fits = digits_end - digits <= 19;
    if (!fits) {
      auto [stop, ec] = std::from_chars(digits, digits_end, magnitude);
      fits = ec == std::errc() && stop == digits_end;
    }
    if (fits) {
      if (!negative) {
        number.unsigned_integer = magnitude;
        return number;
      }
      if (magnitude <= static_cast<std::uint64_t>(INT64_MAX) + 1) {
        number.kind = JsonNumber::Kind::integer;
        number.integer = static_cast<std::int64_t>(0 - magnitude);
        return number;
      }
    }
  }
  number.kind = JsonNumber::Kind::floating;
  if (!read_double(begin, p, number.floating)) return std::nullopt;
  return number;
}

}  // namespace sharelink
