#include "script/json_tape.h"

#include <cstring>
#include <stdexcept>
#include <utility>

#include "script/json_reader.h"
#include "script/json_text.h"

namespace sharelink {

namespace {

using json_reader::KeyIndex;
using json_reader::kLinearKeySearch;

// Counts and positions are 32 bits: a tape refuses to grow past them.
std::uint32_t narrow(std::size_t value) {
  if (value > UINT32_MAX) throw std::length_error("value too large for its reading form");
  return static_cast<std::uint32_t>(value);
}

void push_string(JsonTape& tape, std::string_view text) {
  TapeNode node;
  node.kind = ValueKind::string;
  node.count = narrow(text.size());
  node.payload = tape.text.size();
  tape.nodes.push_back(node);
  tape.text.append(text.data(), text.size());
}

void push_number(JsonTape& tape, ValueKind kind, std::uint64_t bits) {
  TapeNode node;
  node.kind = kind;
  node.payload = bits;
  tape.nodes.push_back(node);
}

std::uint64_t bits_of(double value) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

class TapeSink {
 public:
  struct Result {
    JsonTape tape;
    bool repeated_names = false;
  };

  // The tape's text starts with a copy of the whole text read: a string
  // that needs no decoding, as most do, is not copied again but stands there.
  explicit TapeSink(std::string_view text) : input_(text) {
    result_.tape.nodes.clear();
    result_.tape.nodes.reserve(text.size() / 16 + 4);
    result_.tape.text.reserve(text.size() + text.size() / 4);
    result_.tape.text.assign(text.data(), text.size());
  }

  void open(bool object) {
    note_element();
    open_.push_back(Open{narrow(nodes().size()), object, keys_.size(), pending_.size()});
    TapeNode node;
    node.kind = object ? ValueKind::object : ValueKind::array;
    nodes().push_back(node);
    if (object && key_indexes_.size() < open_.size()) key_indexes_.resize(open_.size());
  }

  void close() {
    const Open& top = open_.back();
    JsonTape& tape = result_.tape;
    TapeNode& node = tape.nodes[top.node];
    node.payload = tape.nodes.size();
    if (top.object) {
      node.count = narrow(keys_.size() - top.keys);
      keys_.resize(top.keys);
      key_indexes_[open_.size() - 1].clear();
    } else {
      node.count = narrow(pending_.size() - top.elements);
      node.first = narrow(tape.elements.size());
      tape.elements.insert(tape.elements.end(),
                           pending_.begin() + static_cast<std::ptrdiff_t>(top.elements),
                           pending_.end());
      pending_.resize(top.elements);
    }
    open_.pop_back();
  }

  // A repeated name is only noted: the caller reads such a text into an
  // nlohmann document, which settles what the object holds.
  void key(std::string_view name) {
    const Open& top = open_.back();
    const std::size_t count = keys_.size() - top.keys;
    const auto name_at = [&](std::size_t i) {
      return TapeRef(result_.tape, keys_[top.keys + i]).text();
    };
    if (count <= kLinearKeySearch) {
      for (std::size_t i = 0; i < count; ++i) {
        if (name_at(i) == name) result_.repeated_names = true;
      }
    } else if (key_indexes_[open_.size() - 1].find_or_add(count, name_at, name) != count) {
      result_.repeated_names = true;
    }
    keys_.push_back(narrow(nodes().size()));
    add_string(name);
  }

  void string(std::string_view text) {
    note_element();
    add_string(text);
  }
  void unsigned_integer(std::uint64_t value) {
    note_element();
    push_number(result_.tape, ValueKind::number_unsigned, value);
  }
  void integer(std::int64_t value) {
    note_element();
    push_number(result_.tape, ValueKind::number_integer, static_cast<std::uint64_t>(value));
  }
  void floating(double value) {
    note_element();
    push_number(result_.tape, ValueKind::number_float, bits_of(value));
  }
  void boolean(bool value) {
    note_element();
    TapeNode node;
    node.kind = ValueKind::boolean;
    node.boolean = value;
    nodes().push_back(node);
  }
  void null() {
    note_element();
    nodes().push_back(TapeNode{});
  }

  Result take() { return std::move(result_); }

 private:
  struct Open {
    std::uint32_t node;
    bool object;
    std::size_t keys;      // where its names start in keys_
    std::size_t elements;  // where its elements start in pending_
  };

  std::vector<TapeNode>& nodes() { return result_.tape.nodes; }

  void add_string(std::string_view text) {
    const auto at = reinterpret_cast<std::uintptr_t>(text.data());
    const auto input = reinterpret_cast<std::uintptr_t>(input_.data());
    if (at < input || at - input >= input_.size()) {
      push_string(result_.tape, text);  // decoded: not in the text read
      return;
    }
    const std::size_t offset = at - input;
    TapeNode node;
    node.kind = ValueKind::string;
    node.count = narrow(text.size());
    node.payload = offset;
    nodes().push_back(node);
  }

  // An array's element positions wait in pending_ until it closes, then go
  // into the tape together.
  void note_element() {
    if (!open_.empty() && !open_.back().object) pending_.push_back(narrow(nodes().size()));
  }

  std::string_view input_;
  Result result_;
  std::vector<Open> open_;
  std::vector<std::uint32_t> keys_;     // name nodes of the open objects
  std::vector<std::uint32_t> pending_;  // element nodes of the open arrays
  std::vector<KeyIndex> key_indexes_;   // by depth, for wide objects
};

void add_json(const Json& value, JsonTape& tape) {
  const std::size_t position = tape.nodes.size();
  switch (value.type()) {
    case Json::value_t::object: {
      tape.nodes.push_back(TapeNode{ValueKind::object, false, narrow(value.size()), 0, 0});
      for (const auto& member : value.get_ref<const Json::object_t&>()) {
        push_string(tape, member.first);
        add_json(member.second, tape);
      }
      tape.nodes[position].payload = tape.nodes.size();
      break;
    }
    case Json::value_t::array: {
      const std::size_t first = tape.elements.size();
      tape.nodes.push_back(
          TapeNode{ValueKind::array, false, narrow(value.size()), narrow(first), 0});
      // The elements' positions go together; what they hold comes after them.
      tape.elements.resize(first + value.size());
      for (std::size_t i = 0; i < value.size(); ++i) {
        tape.elements[first + i] = narrow(tape.nodes.size());
        add_json(value[i], tape);
      }
      tape.nodes[position].payload = tape.nodes.size();
      break;
    }
    case Json::value_t::string:
      push_string(tape, value.get_ref<const std::string&>());
      break;
    case Json::value_t::boolean:
      tape.nodes.push_back(TapeNode{ValueKind::boolean, value.get<bool>(), 0, 0, 0});
      break;
    case Json::value_t::number_integer:
      push_number(tape, ValueKind::number_integer,
                  static_cast<std::uint64_t>(value.get<Json::number_integer_t>()));
      break;
    case Json::value_t::number_unsigned:
      push_number(tape, ValueKind::number_unsigned, value.get<Json::number_unsigned_t>());
      break;
    case Json::value_t::number_float:
      push_number(tape, ValueKind::number_float, bits_of(value.get<double>()));
      break;
    default:
      tape.nodes.push_back(TapeNode{});
      break;
  }
}

}  // namespace

JsonTape::JsonTape() : nodes(1) {}

JsonTape JsonTape::empty(ValueKind kind) {
  JsonTape tape;
  if (kind == ValueKind::array || kind == ValueKind::object) {
    tape.nodes[0].kind = kind;
    tape.nodes[0].payload = 1;
  }
  return tape;
}

JsonTape JsonTape::from_json(const Json& json) {
  JsonTape tape;
  tape.nodes.clear();
  add_json(json, tape);
  return tape;
}

double TapeRef::floating() const {
  double value = 0;
  std::memcpy(&value, &at().payload, sizeof value);
  return value;
}

Json tape_to_json(TapeRef value) {
  switch (value.kind()) {
    case ValueKind::object: {
      Json object(Json::value_t::object);
      Json::object_t& members = object.get_ref<Json::object_t&>();
      members.reserve(value.size());
      value.for_each_member([&](std::string_view name, TapeRef member) {
        members.emplace_back(std::string(name), tape_to_json(member));
      });
      return object;
    }
    case ValueKind::array: {
      Json array(Json::value_t::array);
      Json::array_t& elements = array.get_ref<Json::array_t&>();
      elements.reserve(value.size());
      for (std::size_t i = 0; i < value.size(); ++i)
        elements.push_back(tape_to_json(value.element(i)));
      return array;
    }
    case ValueKind::string:
      return Json(std::string(value.text()));
    case ValueKind::boolean:
      return Json(value.boolean());
    case ValueKind::number_integer:
      return Json(value.integer());
    case ValueKind::number_unsigned:
      return Json(value.unsigned_integer());
    case ValueKind::number_float:
      return Json(value.floating());
    case ValueKind::null:
      break;
  }
  return Json(nullptr);
}

std::optional<JsonTape> parse_json_tape(const std::string& local_text) {
  if (local_text.size() > kMaxTapeText) return std::nullopt;
  int depth = 0;
  std::optional<TapeSink::Result> result = json_reader::read_text<TapeSink>(local_text, depth);
  if (!result) return std::nullopt;
  if (!result->repeated_names) return std::move(result->tape);
  // A repeated name keeps its first place and takes the last value, which the
  // reader building an nlohmann document settles.
  std::optional<ParsedJson> json = parse_json_text(local_text);
  if (!json) return std::nullopt;
  return JsonTape::from_json(json->value);
}

}  // namespace sharelink
