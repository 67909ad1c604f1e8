#pragma once

// A JSON value in one flat array of nodes: the form a document is read in.
// Replies are parsed once and then read field by field; in this form a parse
// costs a few allocations for the whole text instead of several per value,
// dropping it costs as few, and an array gives any element by position.
//
// Nodes stand in document order, each container followed by what it holds (an
// object: name, value, name, value, ...). Strings and names are UTF-8 in one
// buffer.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "script/json_value.h"

namespace sharelink {

struct TapeNode {
  ValueKind kind = ValueKind::null;
  bool boolean = false;
  std::uint32_t count = 0;    // string: bytes; array: elements; object: members
  std::uint32_t first = 0;    // array: where its elements' positions start in elements
  std::uint64_t payload = 0;  // number: its bits; string: offset in text;
                              // array, object: the position after everything it holds
};

class JsonTape {
 public:
  // A tape holding null.
  JsonTape();
  // A tape holding null, an empty array or an empty object.
  static JsonTape empty(ValueKind kind);

  // A tape holding json's value: it reads as one made by parsing json's text.
  static JsonTape from_json(const Json& json);

  std::vector<TapeNode> nodes;
  std::vector<std::uint32_t> elements;  // node positions of array elements
  std::string text;                     // every string and name
};

// A value of a tape; empty (false) stands for no value.
class TapeRef {
 public:
  TapeRef() = default;
  TapeRef(const JsonTape& tape, std::uint32_t node) : tape_(&tape), node_(node) {}

  explicit operator bool() const { return tape_ != nullptr; }

  ValueKind kind() const { return at().kind; }
  bool boolean() const { return at().boolean; }
  std::int64_t integer() const { return static_cast<std::int64_t>(at().payload); }
  std::uint64_t unsigned_integer() const { return at().payload; }
  double floating() const;
  std::string_view text() const {
    return std::string_view(tape_->text.data() + at().payload, at().count);
  }

  std::size_t size() const { return at().count; }
  TapeRef element(std::size_t index) const {
    return TapeRef(*tape_, tape_->elements[at().first + index]);
  }
  // Empty when the object has no member of that name.
  TapeRef member(std::string_view name) const {
    std::uint32_t node = node_ + 1;
    for (std::uint32_t i = 0; i < at().count; ++i) {
      const TapeRef value(*tape_, node + 1);
      if (TapeRef(*tape_, node).text() == name) return value;
      node = value.next();
    }
    return TapeRef();
  }
  // visit(std::string_view name, TapeRef value) for each member in order.
  template <typename Visit>
  void for_each_member(Visit visit) const {
    std::uint32_t node = node_ + 1;
    for (std::uint32_t i = 0; i < at().count; ++i) {
      const TapeRef value(*tape_, node + 1);
      visit(TapeRef(*tape_, node).text(), value);
      node = value.next();
    }
  }

 private:
  const TapeNode& at() const { return tape_->nodes[node_]; }
  // The position after this value and everything it holds.
  std::uint32_t next() const {
    const TapeNode& node = at();
    return node.kind == ValueKind::array || node.kind == ValueKind::object
               ? static_cast<std::uint32_t>(node.payload)
               : node_ + 1;
  }

  const JsonTape* tape_ = nullptr;
  std::uint32_t node_ = 0;
};

// The value of a tape, or the part of it at value, as an nlohmann document.
Json tape_to_json(TapeRef value);

// Local text holding one JSON value, read as parse_json_text reads it
// (json_text.h); nullopt where that gives nullopt, and for a text over
// kMaxTapeText bytes.
constexpr std::size_t kMaxTapeText = std::size_t{1} << 30;
std::optional<JsonTape> parse_json_tape(const std::string& local_text);

}  // namespace sharelink
