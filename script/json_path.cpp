#include "script/json_path.h"

#include <string_view>
#include <utility>

#include "text/text_encoding.h"

namespace sharelink {

namespace {

// Script arrays index with 32-bit unsigned numbers; a larger "index" is an
// ordinary property name, which a JSON array cannot hold.
constexpr std::size_t kNotAnIndex = static_cast<std::size_t>(-1);
constexpr std::size_t kMaxArrayIndex = 4294967294u;

// What a byte can be in a member name: its start, or any of it.
struct NameBytes {
  static constexpr unsigned char kStart = 1;
  static constexpr unsigned char kPart = 2;
  unsigned char table[256] = {};
  constexpr NameBytes() {
    for (int c = 0; c < 256; ++c) {
      const bool start =
          (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$' || c >= 0x80;
      const bool part = start || (c >= '0' && c <= '9');
      table[c] = static_cast<unsigned char>((start ? kStart : 0) | (part ? kPart : 0));
    }
  }
};
constexpr NameBytes kNameBytes;

bool is_name_start(unsigned char c) {
  return (kNameBytes.table[c] & NameBytes::kStart) != 0;
}

bool is_name_char(unsigned char c) {
  return (kNameBytes.table[c] & NameBytes::kPart) != 0;
}

// A step as it stands in the path text: names point into the text.
struct StepView {
  bool is_index = false;
  std::string_view name;
  std::size_t index = 0;
};

// Reads "[digits]" at pos; false when the text there is anything else.
bool read_index(std::string_view text, std::size_t& pos, StepView& step) {
  const std::size_t close = text.find(']', pos);
  if (close == std::string_view::npos || close == pos + 1) return false;
  std::size_t value = 0;
  std::size_t first_digit = close;
  for (std::size_t i = pos + 1; i < close; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return false;
    if (first_digit == close && c == '0') continue;  // 007 is 7
    if (first_digit == close) first_digit = i;
    value = value > kMaxArrayIndex ? kNotAnIndex : value * 10 + static_cast<std::size_t>(c - '0');
  }
  step.is_index = true;
  step.name =
      first_digit == close ? std::string_view("0") : text.substr(first_digit, close - first_digit);
  step.index = value > kMaxArrayIndex ? kNotAnIndex : value;
  pos = close + 1;
  return true;
}

// Reads a member name starting at pos (past its ".").
bool read_name(std::string_view text, std::size_t& pos, StepView& step) {
  std::size_t end = pos;
  if (end >= text.size() || !is_name_start(static_cast<unsigned char>(text[end]))) return false;
  while (end < text.size() && is_name_char(static_cast<unsigned char>(text[end])))
    ++end;
  step.is_index = false;
  step.name = text.substr(pos, end - pos);
  pos = end;
  return true;
}

// Walks the steps of a UTF-8 path joined by rule, calling on_step for each;
// false when the joined text is not a member-access expression.
template <typename OnStep>
bool for_each_step(JoinRule rule, std::string_view path, OnStep on_step) {
  const bool bracket = !path.empty() && path[0] == '[';
  // Whether the caller's path is joined to the document with a ".".
  bool dot = true;
  switch (rule) {
    case JoinRule::member:
      break;
    case JoinRule::element_or_member:
      dot = !bracket;
      break;
    case JoinRule::root_or_member:
      dot = !path.empty();
      break;
    case JoinRule::root_or_element:
      dot = !path.empty() && !bracket;
      break;
  }
  std::size_t pos = 0;
  if (dot) {
    StepView step;
    if (!read_name(path, pos, step)) return false;
    on_step(step);
  }
  while (pos < path.size()) {
    StepView step;
    const char c = path[pos];
    const bool ok = c == '.'   ? read_name(path, ++pos, step)
                    : c == '[' ? read_index(path, pos, step)
                               : false;
    if (!ok) return false;
    on_step(step);
  }
  return true;
}

// Paths are local text; names beyond ASCII are matched as UTF-8. Like every
// local text, a path ends at a zero byte.
template <typename Body>
auto with_utf8_path(const std::string& local_path, Body body) {
  const char* begin = local_path.c_str();
  const char* end = begin;
  while (*end != '\0' && !is_lead_byte(*end))
    ++end;
  if (*end != '\0') return body(std::string_view(gbk_to_utf8(local_path)));
  return body(std::string_view(begin, static_cast<std::size_t>(end - begin)));
}

// Script strings count UTF-16 units.
std::size_t utf16_length(std::string_view utf8) {
  std::size_t units = 0;
  for (unsigned char c : utf8) {
    if ((c & 0xC0) != 0x80) ++units;
    if (c >= 0xF0) ++units;
  }
  return units;
}

// One read step. Reading a member of null or of nothing fails; a computed
// length, a number, has no members.
template <typename Ref>
PathValue<Ref> step_from(const PathValue<Ref>& current, const StepView& step) {
  using Value = PathValue<Ref>;
  if (current.outcome != PathOutcome::found) return Value{};
  if (!current.value) return Value{PathOutcome::absent};
  const Ref& value = current.value;
  const auto length = [&] { return !step.is_index && step.name == "length"; };
  switch (value.kind()) {
    case ValueKind::null:
      return Value{};
    case ValueKind::object: {
      const Ref member = value.member(step.name);
      return member ? Value{PathOutcome::found, member} : Value{PathOutcome::absent};
    }
    case ValueKind::array:
      if (step.is_index && step.index < value.size()) {
        return Value{PathOutcome::found, value.element(step.index)};
      }
      return length() ? Value{PathOutcome::found, Ref(), value.size()} : Value{PathOutcome::absent};
    case ValueKind::string:
      return length() ? Value{PathOutcome::found, Ref(), utf16_length(value.text())}
                      : Value{PathOutcome::absent};
    default:
      return Value{PathOutcome::absent};
  }
}

// Sets the length of an array as JavaScript does: a shorter length drops elements.
PathOutcome write_length(Json& array, const Json& value) {
  if (!value.is_number()) return PathOutcome::failed;
  double wanted = value.get<double>();
  if (!(wanted >= 0 && wanted <= static_cast<double>(kMaxArrayIndex + 1)) ||
      wanted != static_cast<double>(static_cast<std::size_t>(wanted))) {
    return PathOutcome::failed;  // a RangeError in JavaScript
  }
  auto length = static_cast<std::size_t>(wanted);
  if (length > array.size() + kMaxArrayGrowth) return PathOutcome::too_large;
  Json::array_t& elements = array.get_ref<Json::array_t&>();
  elements.resize(length);
  return PathOutcome::found;
}

}  // namespace

std::optional<Path> join_path(JoinRule rule, const std::string& local_path) {
  return with_utf8_path(local_path, [&](std::string_view path) -> std::optional<Path> {
    Path steps;
    const bool ok = for_each_step(rule, path, [&](const StepView& step) {
      steps.push_back(PathStep{step.is_index, std::string(step.name), step.index});
    });
    if (!ok) return std::nullopt;
    return steps;
  });
}

template <typename Ref>
PathValue<Ref> read_step(const PathValue<Ref>& current, const PathStep& step) {
  return step_from(current, StepView{step.is_index, step.name, step.index});
}

template <typename Ref>
PathValue<Ref> read_path(Ref root, const Path& path) {
  PathValue<Ref> current{PathOutcome::found, root};
  for (const PathStep& step : path)
    current = read_step(current, step);
  return current;
}

// The path when it is one ASCII member name, as most field reads are: every
// rule joins it as "." + name. Empty otherwise.
std::string_view lone_name(const std::string& path) {
  if (path.empty() || !is_name_start(static_cast<unsigned char>(path[0]))) return {};
  for (char c : path) {
    if (!is_name_char(static_cast<unsigned char>(c)) || is_lead_byte(c)) return {};
  }
  return path;
}

template <typename Ref>
std::optional<PathValue<Ref>> read_joined_path(Ref root, JoinRule rule,
                                               const std::string& local_path) {
  const std::string_view name = lone_name(local_path);
  if (!name.empty()) {
    return step_from(PathValue<Ref>{PathOutcome::found, root}, StepView{false, name, 0});
  }
  return with_utf8_path(local_path, [&](std::string_view path) -> std::optional<PathValue<Ref>> {
    PathValue<Ref> current{PathOutcome::found, root};
    if (!for_each_step(rule, path,
                       [&](const StepView& step) { current = step_from(current, step); })) {
      return std::nullopt;
    }
    return current;
  });
}

template PathValue<JsonRef> read_path(JsonRef, const Path&);
template PathValue<TapeRef> read_path(TapeRef, const Path&);
template PathValue<JsonRef> read_step(const PathValue<JsonRef>&, const PathStep&);
template PathValue<TapeRef> read_step(const PathValue<TapeRef>&, const PathStep&);
template std::optional<PathValue<JsonRef>> read_joined_path(JsonRef, JoinRule, const std::string&);
template std::optional<PathValue<TapeRef>> read_joined_path(TapeRef, JoinRule, const std::string&);

Json* find_path(Json& root, const Path& path, PathOutcome& outcome) {
  PathValue<JsonRef> found = read_path(JsonRef(root), path);
  outcome = found.outcome;
  if (found.outcome != PathOutcome::found) return nullptr;
  // A computed length cannot be changed in place; treat it like any number.
  if (found.is_length()) {
    outcome = PathOutcome::ignored;
    return nullptr;
  }
  return const_cast<Json*>(&found.value.json());
}

PathOutcome write_element(Json& container, const PathStep& step, Json value) {
  if (container.is_object()) {
    container[step.name] = std::move(value);
    return PathOutcome::found;
  }
  if (container.is_array()) {
    if (!step.is_index) {
      if (step.name == "length") return write_length(container, value);
      return PathOutcome::ignored;  // a named property JSON cannot show
    }
    if (step.index == kNotAnIndex) return PathOutcome::ignored;
    if (step.index >= container.size() + kMaxArrayGrowth) return PathOutcome::too_large;
    Json::array_t& elements = container.get_ref<Json::array_t&>();
    if (step.index >= elements.size()) elements.resize(step.index + 1);
    elements[step.index] = std::move(value);
    return PathOutcome::found;
  }
  return container.is_null() ? PathOutcome::failed : PathOutcome::ignored;
}

PathOutcome write_path(Json& root, const Path& path, Json value) {
  if (path.empty()) return PathOutcome::failed;
  Path parent_path(path.begin(), path.end() - 1);
  PathOutcome outcome = PathOutcome::failed;
  Json* parent = find_path(root, parent_path, outcome);
  if (parent == nullptr) {
    // Assigning to a member of nothing is a TypeError; of a computed length, a no-op.
    return outcome == PathOutcome::ignored ? outcome : PathOutcome::failed;
  }
  return write_element(*parent, path.back(), std::move(value));
}

PathStep index_step(long long index) {
  PathStep step;
  step.is_index = true;
  step.name = std::to_string(index);
  step.index = index < 0 || static_cast<unsigned long long>(index) > kMaxArrayIndex
                   ? kNotAnIndex
                   : static_cast<std::size_t>(index);
  return step;
}

}  // namespace sharelink
