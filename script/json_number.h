#pragma once

// JSON numbers as the reader takes them.

#include <cstdint>
#include <optional>

namespace sharelink {

struct JsonNumber {
  enum class Kind { unsigned_integer, integer, floating };
  Kind kind = Kind::unsigned_integer;
  std::uint64_t unsigned_integer = 0;
  std::int64_t integer = 0;  // negative
  double floating = 0;
};

// Reads -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)? at p and moves p past it.
// Integers stay exact in 64 bits (unsigned when not negative); anything else
// is a double, 0 when too small for one. nullopt (p anywhere) for text that is
// no number, and for a number too large for a double.
std::optional<JsonNumber> read_json_number(const char*& p, const char* end);

}  // namespace sharelink
