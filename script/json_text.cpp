#include "script/json_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

#include "http/text_encoding.h"

namespace sharelink {

namespace {

// Builds the value from parser events. It refuses nesting past the cap as soon
// as it opens, and finds duplicate keys through an index: the ordered object's
// own lookup is a linear search, which would make a wide object quadratic. A
// duplicate key keeps its first place and takes the last value, as in JavaScript.
class ValueBuilder {
 public:
  explicit ValueBuilder(Json& root) : root_(root) {}

  bool null() { return place(Json(nullptr)) != nullptr; }
  bool boolean(bool value) { return place(Json(value)) != nullptr; }
  bool number_integer(Json::number_integer_t value) { return place(Json(value)) != nullptr; }
  bool number_unsigned(Json::number_unsigned_t value) { return place(Json(value)) != nullptr; }
  bool number_float(Json::number_float_t value, const std::string&) {
    return place(Json(value)) != nullptr;
  }
  bool string(std::string& value) { return place(Json(std::move(value))) != nullptr; }
  bool binary(Json::binary_t&) { return false; }
  bool key(std::string& name) {
    key_ = std::move(name);
    return true;
  }
  bool start_object(std::size_t) { return open(Json::object()); }
  bool start_array(std::size_t) { return open(Json::array()); }
  bool end_object() { return close(); }
  bool end_array() { return close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    return false;
  }

  int depth() const { return deepest_; }

 private:
  struct Container {
    Json* value;
    std::unordered_map<std::string, std::size_t> keys;  // objects: key -> position
  };

  // Puts a value into the innermost open container, or makes it the root.
  Json* place(Json value) {
    if (open_.empty()) {
      root_ = std::move(value);
      return &root_;
    }
    Container& top = open_.back();
    if (top.value->is_array()) {
      Json::array_t& elements = top.value->get_ref<Json::array_t&>();
      elements.push_back(std::move(value));
      return &elements.back();
    }
    Json::object_t::Container& members = top.value->get_ref<Json::object_t&>();
    auto [it, inserted] = top.keys.emplace(key_, members.size());
    if (!inserted) {
      members[it->second].second = std::move(value);
      return &members[it->second].second;
    }
    members.emplace_back(std::move(key_), std::move(value));
    return &members.back().second;
  }

  bool open(Json container) {
    if (open_.size() >= static_cast<std::size_t>(kMaxJsonDepth)) return false;
    Json* placed = place(std::move(container));
    open_.push_back(Container{placed, {}});
    deepest_ = std::max(deepest_, static_cast<int>(open_.size()));
    return true;
  }

  bool close() {
    open_.pop_back();
    return true;
  }

  Json& root_;
  std::vector<Container> open_;
  std::string key_;
  int deepest_ = 0;
};

void append_json(const Json& value, std::string& out) {
  switch (value.type()) {
    case Json::value_t::object: {
      out += '{';
      bool first = true;
      for (auto it = value.begin(); it != value.end(); ++it) {
        if (!first) out += ',';
        first = false;
        out += Json(it.key()).dump(-1, ' ', false, Json::error_handler_t::replace);
        out += ':';
        append_json(it.value(), out);
      }
      out += '}';
      break;
    }
    case Json::value_t::array: {
      out += '[';
      for (std::size_t i = 0; i < value.size(); ++i) {
        if (i > 0) out += ',';
        append_json(value[i], out);
      }
      out += ']';
      break;
    }
    case Json::value_t::number_float: {
      double number = value.get<double>();
      out += std::isfinite(number) ? script_number_text(number) : "null";
      break;
    }
    default:
      // Strings, integers, booleans and null print as nlohmann prints them:
      // integers exact, strings with the escapes of JSON.stringify.
      out += value.dump(-1, ' ', false, Json::error_handler_t::replace);
      break;
  }
}

}  // namespace

std::optional<ParsedJson> parse_json_text(const std::string& local_text) {
  // A zero byte can stand nowhere in a JSON text; local text would also end there.
  if (local_text.find('\0') != std::string::npos) return std::nullopt;
  Json value;
  ValueBuilder builder(value);
  if (!Json::sax_parse(gbk_to_utf8(local_text), &builder)) return std::nullopt;
  return ParsedJson{std::move(value), builder.depth()};
}

std::string json_form(const Json& value) {
  std::string out;
  append_json(value, out);
  return utf8_to_gbk(out);
}

std::string plain_form(const Json& value) {
  switch (value.type()) {
    case Json::value_t::null:
    case Json::value_t::discarded:
      return {};
    case Json::value_t::string:
      return utf8_to_gbk(value.get_ref<const std::string&>());
    case Json::value_t::boolean:
      return value.get<bool>() ? "true" : "false";
    case Json::value_t::number_float: {
      double number = value.get<double>();
      if (std::isnan(number)) return "NaN";
      if (std::isinf(number)) return number > 0 ? "Infinity" : "-Infinity";
      return script_number_text(number);
    }
    default:
      return json_form(value);
  }
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

double number_of(const Json& value) {
  if (value.is_number()) return value.get<double>();
  if (!value.is_string()) return 0;
  const std::string& text = value.get_ref<const std::string&>();
  std::size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return 0;
  std::size_t end = text.find_last_not_of(" \t\r\n") + 1;
  std::string_view number(text.data() + begin, end - begin);
  // Only a decimal spelling: from_chars would also take "inf" and "nan".
  if (number.find_first_not_of("0123456789.eE+-") != std::string_view::npos) return 0;
  bool plus = number.front() == '+';
  if (plus) number.remove_prefix(1);
  if (number.empty() || (plus && number.front() == '-')) return 0;
  double parsed = 0;
  auto result = std::from_chars(number.data(), number.data() + number.size(), parsed);
  if (result.ec != std::errc() || result.ptr != number.data() + number.size()) return 0;
  return parsed;
}

}  // namespace sharelink
