#include "script/json_path.h"

#include <utility>

#include "http/text_encoding.h"

namespace sharelink {

namespace {

// Script arrays index with 32-bit unsigned numbers; a larger "index" is an
// ordinary property name, which a JSON array cannot hold.
constexpr std::size_t kNotAnIndex = static_cast<std::size_t>(-1);
constexpr std::size_t kMaxArrayIndex = 4294967294u;

bool is_name_start(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$' || c >= 0x80;
}

bool is_name_char(unsigned char c) {
  return is_name_start(c) || (c >= '0' && c <= '9');
}

// Reads "[digits]" at pos; false when the text there is anything else.
bool read_index(const std::string& text, std::size_t& pos, PathStep& step) {
  std::size_t close = text.find(']', pos);
  if (close == std::string::npos || close == pos + 1) return false;
  std::size_t value = 0;
  std::string digits;
  for (std::size_t i = pos + 1; i < close; ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return false;
    if (digits.empty() && c == '0') continue;  // 007 is 7
    digits += c;
    value = value > kMaxArrayIndex ? kNotAnIndex : value * 10 + static_cast<std::size_t>(c - '0');
  }
  step.is_index = true;
  step.name = digits.empty() ? "0" : digits;
  step.index = value > kMaxArrayIndex ? kNotAnIndex : value;
  pos = close + 1;
  return true;
}

bool read_name(const std::string& text, std::size_t& pos, PathStep& step) {
  std::size_t end = pos + 1;  // past the "."
  if (end >= text.size() || !is_name_start(static_cast<unsigned char>(text[end]))) return false;
  while (end < text.size() && is_name_char(static_cast<unsigned char>(text[end])))
    ++end;
  step.is_index = false;
  step.name = text.substr(pos + 1, end - pos - 1);
  pos = end;
  return true;
}

// Script strings count UTF-16 units.
std::size_t utf16_length(const std::string& utf8) {
  std::size_t units = 0;
  for (unsigned char c : utf8) {
    if ((c & 0xC0) != 0x80) ++units;
    if (c >= 0xF0) ++units;
  }
  return units;
}

// One read step from a value that exists.
PathValue step_into(const Json& value, const PathStep& step) {
  PathValue out;
  out.outcome = PathOutcome::absent;
  if (value.is_object()) {
    auto it = value.find(step.name);
    if (it != value.end()) {
      out.outcome = PathOutcome::found;
      out.value = &*it;
    }
  } else if (value.is_array()) {
    if (step.is_index && step.index < value.size()) {
      out.outcome = PathOutcome::found;
      out.value = &value[step.index];
    } else if (!step.is_index && step.name == "length") {
      out.outcome = PathOutcome::found;
      out.computed = value.size();
    }
  } else if (value.is_string() && !step.is_index && step.name == "length") {
    out.outcome = PathOutcome::found;
    out.computed = utf16_length(value.get_ref<const std::string&>());
  }
  return out;
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
  std::string path = gbk_to_utf8(local_path);
  std::string suffix;
  bool bracket = !path.empty() && path[0] == '[';
  switch (rule) {
    case JoinRule::member:
      suffix = "." + path;
      break;
    case JoinRule::element_or_member:
      suffix = bracket ? path : "." + path;
      break;
    case JoinRule::root_or_member:
      suffix = path.empty() ? path : "." + path;
      break;
    case JoinRule::root_or_element:
      suffix = path.empty() || bracket ? path : "." + path;
      break;
  }
  Path steps;
  std::size_t pos = 0;
  while (pos < suffix.size()) {
    PathStep step;
    bool ok = suffix[pos] == '.'   ? read_name(suffix, pos, step)
              : suffix[pos] == '[' ? read_index(suffix, pos, step)
                                   : false;
    if (!ok) return std::nullopt;
    steps.push_back(std::move(step));
  }
  return steps;
}

PathValue read_path(const Json& root, const Path& path) {
  PathValue current;
  current.outcome = PathOutcome::found;
  current.value = &root;
  for (const PathStep& step : path) {
    if (current.outcome != PathOutcome::found || current.get().is_null()) {
      return PathValue{};  // reading a member of null or of nothing
    }
    PathValue next = step_into(current.get(), step);
    current = std::move(next);
  }
  return current;
}

Json* find_path(Json& root, const Path& path, PathOutcome& outcome) {
  PathValue found = read_path(root, path);
  outcome = found.outcome;
  if (found.outcome != PathOutcome::found) return nullptr;
  // A computed length cannot be changed in place; treat it like any number.
  if (found.value == nullptr) {
    outcome = PathOutcome::ignored;
    return nullptr;
  }
  return const_cast<Json*>(found.value);
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
