#include "script/json_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <system_error>

#include "script/json_tape.h"
#include "text/text_encoding.h"

namespace sharelink {

namespace {

template <typename Number>
std::string integer_text(Number number) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
  return std::string(buffer, result.ptr);
}

// A UTF-8 string with the escapes of JSON.stringify: quote, backslash and the
// control characters; everything else as it is.
void append_quoted(std::string_view text, std::string& out) {
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text.data() + run, i - run);
    run = i + 1;
    out += '\\';
    switch (c) {
      case '"':
      case '\\':
        out += static_cast<char>(c);
        break;
      case '\b':
        out += 'b';
        break;
      case '\f':
        out += 'f';
        break;
      case '\n':
        out += 'n';
        break;
      case '\r':
        out += 'r';
        break;
      case '\t':
        out += 't';
        break;
      default:
        out += "u00";
        out += kHex[c >> 4];
        out += kHex[c & 15];
        break;
    }
  }
  out.append(text.data() + run, text.size() - run);
  out += '"';
}

template <typename Ref>
void append_json(Ref value, std::string& out) {
  switch (value.kind()) {
    case ValueKind::object: {
      out += '{';
      bool first = true;
      value.for_each_member([&](std::string_view name, Ref member) {
        if (!first) out += ',';
        first = false;
        append_quoted(name, out);
        out += ':';
        append_json(member, out);
      });
      out += '}';
      break;
    }
    case ValueKind::array: {
      out += '[';
      for (std::size_t i = 0; i < value.size(); ++i) {
        if (i > 0) out += ',';
        append_json(value.element(i), out);
      }
      out += ']';
      break;
    }
    case ValueKind::string:
      append_quoted(value.text(), out);
      break;
    case ValueKind::boolean:
      out += value.boolean() ? "true" : "false";
      break;
    case ValueKind::number_integer:
      out += integer_text(value.integer());
      break;
    case ValueKind::number_unsigned:
      out += integer_text(value.unsigned_integer());
      break;
    case ValueKind::number_float: {
      const double number = value.floating();
      out += std::isfinite(number) ? script_number_text(number) : "null";
      break;
    }
    case ValueKind::null:
      out += "null";
      break;
  }
}

template <typename Ref>
std::string json_form_of(Ref value) {
  // Integers, the most read values, print the same in both forms.
  if (value.kind() == ValueKind::number_integer) return integer_text(value.integer());
  if (value.kind() == ValueKind::number_unsigned) return integer_text(value.unsigned_integer());
  std::string out;
  append_json(value, out);
  // Only strings, names and what holds them can be beyond ASCII.
  const ValueKind kind = value.kind();
  if (kind == ValueKind::string || kind == ValueKind::array || kind == ValueKind::object) {
    return utf8_to_gbk(out);
  }
  return out;
}

template <typename Ref>
std::string plain_form_of(Ref value) {
  switch (value.kind()) {
    case ValueKind::null:
      return {};
    case ValueKind::string:
      return utf8_to_gbk(value.text());
    case ValueKind::boolean:
      return value.boolean() ? "true" : "false";
    case ValueKind::number_float: {
      const double number = value.floating();
      if (std::isnan(number)) return "NaN";
      if (std::isinf(number)) return number > 0 ? "Infinity" : "-Infinity";
      return script_number_text(number);
    }
    case ValueKind::number_integer:
      return integer_text(value.integer());
    case ValueKind::number_unsigned:
      return integer_text(value.unsigned_integer());
    case ValueKind::array:
    case ValueKind::object:
      break;
  }
  return json_form_of(value);
}

double number_of_text(std::string_view text) {
  const std::size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string_view::npos) return 0;
  const std::size_t end = text.find_last_not_of(" \t\r\n") + 1;
  std::string_view number = text.substr(begin, end - begin);
  // Only a decimal spelling: from_chars would also take "inf" and "nan".
  if (number.find_first_not_of("0123456789.eE+-") != std::string_view::npos) return 0;
  const bool plus = number.front() == '+';
  if (plus) number.remove_prefix(1);
  if (number.empty() || (plus && number.front() == '-')) return 0;
  double parsed = 0;
  auto result = std::from_chars(number.data(), number.data() + number.size(), parsed);
  if (result.ec != std::errc() || result.ptr != number.data() + number.size()) return 0;
  return parsed;
}

template <typename Ref>
double number_of_value(Ref value) {
  switch (value.kind()) {
    case ValueKind::number_integer:
      return static_cast<double>(value.integer());
    case ValueKind::number_unsigned:
      return static_cast<double>(value.unsigned_integer());
    case ValueKind::number_float:
      return value.floating();
    case ValueKind::string:
      return number_of_text(value.text());
    default:
      return 0;
  }
}

}  // namespace

std::string json_form(const Json& value) {
  return json_form_of(JsonRef(value));
}

std::string json_form(TapeRef value) {
  return json_form_of(value);
}

std::string plain_form(const Json& value) {
  return plain_form_of(JsonRef(value));
}

std::string plain_form(TapeRef value) {
  return plain_form_of(value);
}

double number_of(const Json& value) {
  return number_of_value(JsonRef(value));
}

double number_of(TapeRef value) {
  return number_of_value(value);
}

std::string script_number_text(double number) {
  if (number == 0) return "0";  // also -0
  if (std::isnan(number)) return "NaN";
  if (std::isinf(number)) return number > 0 ? "Infinity" : "-Infinity";
  // Shortest round-trip digits in scientific form: "-d.ddde+XX".
  char buffer[64];
  auto result =
      std::to_chars(buffer, buffer + sizeof buffer, number, std::chars_format::scientific);
  std::string_view sci(buffer, static_cast<std::size_t>(result.ptr - buffer));
  std::string sign;
  if (sci.front() == '-') {
    sign = "-";
    sci.remove_prefix(1);
  }
  std::size_t e = sci.find('e');
  std::string digits(sci.substr(0, e));
  if (digits.size() > 1) digits.erase(1, 1);  // the decimal point
  int exponent = std::atoi(std::string(sci.substr(e + 1)).c_str());
  int k = static_cast<int>(digits.size());
  int n = exponent + 1;  // number = 0.digits * 10^n
  if (k <= n && n <= 21) return sign + digits + std::string(static_cast<std::size_t>(n - k), '0');
  if (0 < n && n <= 21) {
    return sign + digits.substr(0, static_cast<std::size_t>(n)) + "." +
           digits.substr(static_cast<std::size_t>(n));
  }
  if (-6 < n && n <= 0)
    return sign + "0." + std::string(static_cast<std::size_t>(-n), '0') + digits;
  std::string mantissa = digits.substr(0, 1);
  if (k > 1) mantissa += "." + digits.substr(1);
  return sign + mantissa + "e" + (n - 1 >= 0 ? "+" : "-") + std::to_string(std::abs(n - 1));
}

}  // namespace sharelink
