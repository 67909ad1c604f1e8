// parse_json_text: the JSON reader building an nlohmann document, for values
// that are written into documents and for the readers of single members.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "script/json_reader.h"
#include "script/json_text.h"

namespace sharelink {

namespace {

using json_reader::KeyIndex;
using json_reader::kLinearKeySearch;

class JsonSink {
 public:
  using Result = Json;

  explicit JsonSink(std::string_view /*text*/) {}

  void open(bool object) {
    Json& value = place(object ? Json::value_t::object : Json::value_t::array);
    open_.push_back(Open{&value, object});
    if (levels_.size() < open_.size()) levels_.emplace_back();
  }

  // Moves what the innermost container holds into it, at its exact size.
  void close() {
    const Open& top = open_.back();
    Level& level = levels_[open_.size() - 1];
    if (top.object) {
      Json::object_t& object = top.value->get_ref<Json::object_t&>();
      object.reserve(level.members.size());
      for (auto& member : level.members)
        object.emplace_back(std::move(member.first), std::move(member.second));
      level.members.clear();
      level.keys.clear();
    } else {
      Json::array_t& array = top.value->get_ref<Json::array_t&>();
      array.reserve(level.elements.size());
      for (Json& element : level.elements)
        array.push_back(std::move(element));
      level.elements.clear();
    }
    open_.pop_back();
  }

  // A repeated name keeps its first place and takes the last value, as in
  // JavaScript.
  void key(std::string_view name) {
    Level& level = levels_[open_.size() - 1];
    const Members& members = level.members;
    std::size_t position = members.size();
    if (members.size() <= kLinearKeySearch) {
      for (std::size_t i = 0; i < members.size(); ++i) {
        if (members[i].first == name) position = i;
      }
    } else {
      position = level.keys.find_or_add(
          members.size(), [&](std::size_t i) { return std::string_view(members[i].first); }, name);
    }
    old_member_ = position;
    if (position == members.size()) key_.assign(name.data(), name.size());
  }

  void string(std::string_view text) { place(std::string(text)); }
  void unsigned_integer(std::uint64_t value) { place(value); }
  void integer(std::int64_t value) { place(value); }
  void floating(double value) { place(value); }
  void boolean(bool value) { place(value); }
  void null() { place(nullptr); }

  Json take() { return std::move(root_); }

 private:
  // An object's members while it is read. The ordered object's own vector
  // holds pairs with a const name, which it copies, values and all, each time
  // it grows; these pairs move, and go into the object once.
  using Members = std::vector<std::pair<std::string, Json>>;

  struct Open {
    Json* value;
    bool object;
  };
  // What the containers at one depth hold while they are read; kept from one
  // container to the next, so reading allocates no scratch space per container.
  struct Level {
    Members members;
    std::vector<Json> elements;
    KeyIndex keys;
  };

  // Makes the next value from arg where it goes, built in place.
  template <typename Arg>
  Json& place(Arg&& arg) {
    if (open_.empty()) {
      root_ = Json(std::forward<Arg>(arg));
      return root_;
    }
    Level& level = levels_[open_.size() - 1];
    if (!open_.back().object) return level.elements.emplace_back(std::forward<Arg>(arg));
    if (old_member_ == level.members.size()) {
      return level.members.emplace_back(std::move(key_), std::forward<Arg>(arg)).second;
    }
    Json& value = level.members[old_member_].second;
    value = Json(std::forward<Arg>(arg));
    return value;
  }

  Json root_;
  std::vector<Open> open_;
  std::vector<Level> levels_;   // by depth
  std::string key_;             // of a new member
  std::size_t old_member_ = 0;  // the member the value goes to
};

}  // namespace

std::optional<ParsedJson> parse_json_text(const std::string& local_text) {
  ParsedJson parsed;
  std::optional<Json> value = json_reader::read_text<JsonSink>(local_text, parsed.depth);
  if (!value) return std::nullopt;
  parsed.value = std::move(*value);
  return parsed;
}

}  // namespace sharelink
