#pragma once

// JSON values to and from local text. Parsing treats the text as data only, and
// the two text forms print numbers the way JavaScript does.

#include <optional>
#include <string>

#include "script/json_tape.h"
#include "script/json_value.h"

namespace sharelink {

// Nesting deeper than this is refused when parsing and when writing into a
// document: printing, copying and comparing values recurse once per level.
constexpr int kMaxJsonDepth = 2000;

struct ParsedJson {
  Json value;
  int depth = 0;  // nesting of arrays and objects; 0 for a scalar
};

// Local text holding one JSON value. nullopt for anything that is not exactly
// one JSON value (also a text with a zero byte) or that nests deeper than
// kMaxJsonDepth.
std::optional<ParsedJson> parse_json_text(const std::string& local_text);

// JSON.stringify of the value as local text: compact, strings escaped, integers
// with every digit, other numbers in their shortest script form.
std::string json_form(const Json& value);
std::string json_form(TapeRef value);

// The value as JavaScript would convert it to text: strings as they are, numbers in
// their shortest script form ("1.5", "100"), booleans as true and false, null as
// the empty text. Objects and arrays, which JavaScript would print as
// "[object Object]" or a comma list, give their JSON form instead.
std::string plain_form(const Json& value);
std::string plain_form(TapeRef value);

// A number as ECMAScript's Number::toString prints it: shortest round-trip
// digits, plain digits below 1e21, an exponent from there and below 1e-6.
std::string script_number_text(double number);

// A number of the value: itself for a number, the number a string spells in
// decimal (surrounding spaces allowed), 0 for anything else.
double number_of(const Json& value);
double number_of(TapeRef value);

}  // namespace sharelink
