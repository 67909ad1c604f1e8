#pragma once

// Read access to one JSON value, the same for a value of an nlohmann document
// (JsonRef) and for one of a parsed text's flat form (TapeRef, json_tape.h), so
// the path reader and the text forms are written once for both.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include <nlohmann/json.hpp>

namespace sharelink {

using Json = nlohmann::ordered_json;

enum class ValueKind : std::uint8_t {
  null,
  boolean,
  number_integer,   // integers; the reader makes them for those below 0 only
  number_unsigned,  // integers from 0 up
  number_float,
  string,
  array,
  object,
};

// A value of an nlohmann document; empty (false) stands for no value.
class JsonRef {
 public:
  JsonRef() = default;
  explicit JsonRef(const Json& value) : value_(&value) {}

  explicit operator bool() const { return value_ != nullptr; }
  const Json& json() const { return *value_; }

  ValueKind kind() const {
    switch (value_->type()) {
      case Json::value_t::boolean:
        return ValueKind::boolean;
      case Json::value_t::number_integer:
        return ValueKind::number_integer;
      case Json::value_t::number_unsigned:
        return ValueKind::number_unsigned;
      case Json::value_t::number_float:
        return ValueKind::number_float;
      case Json::value_t::string:
        return ValueKind::string;
      case Json::value_t::array:
        return ValueKind::array;
      case Json::value_t::object:
        return ValueKind::object;
      default:
        return ValueKind::null;
    }
  }

  bool boolean() const { return value_->get<bool>(); }
  std::int64_t integer() const { return value_->get<Json::number_integer_t>(); }
  std::uint64_t unsigned_integer() const { return value_->get<Json::number_unsigned_t>(); }
  double floating() const { return value_->get<Json::number_float_t>(); }
  // UTF-8.
  std::string_view text() const { return value_->get_ref<const std::string&>(); }

  // Elements of an array, members of an object.
  std::size_t size() const { return value_->size(); }
  JsonRef element(std::size_t index) const {
    return JsonRef(value_->get_ref<const Json::array_t&>()[index]);
  }
  // Empty when the object has no member of that name.
  JsonRef member(std::string_view name) const {
    // A linear search, as the ordered object's own: members keep document order.
    for (const auto& member : value_->get_ref<const Json::object_t&>()) {
      if (member.first == name) return JsonRef(member.second);
    }
    return JsonRef();
  }
  // visit(std::string_view name, JsonRef value) for each member in order.
  template <typename Visit>
  void for_each_member(Visit visit) const {
    for (const auto& member : value_->get_ref<const Json::object_t&>())
      visit(std::string_view(member.first), JsonRef(member.second));
  }

 private:
  const Json* value_ = nullptr;
};

}  // namespace sharelink
