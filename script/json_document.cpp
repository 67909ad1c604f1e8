#include "script/json_document.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <utility>

#include "http/text_encoding.h"
#include "script/json_path.h"
#include "script/json_text.h"
#include "script/last_error.h"

namespace sharelink {

struct JsonDocument::Value {
  Json root = Json::object();
};

namespace {

// Runs body; an exception (only memory exhaustion is expected) becomes the
// empty result, so none leaves the class.
template <typename Result, typename Body>
Result guarded(Result empty, Body body) {
  try {
    return body();
  } catch (const std::exception& e) {
    set_last_script_error(ScriptError::internal, e.what());
    return empty;
  }
}

bool record(ScriptError code, const char* detail) {
  set_last_script_error(code, detail);
  return false;
}

bool record_outcome(PathOutcome outcome) {
  switch (outcome) {
    case PathOutcome::found:
      return true;
    case PathOutcome::absent:
    case PathOutcome::failed:
      return record(ScriptError::path_not_found, "path runs through null or an absent member");
    case PathOutcome::ignored:
      return record(ScriptError::type_mismatch, "a number, string or boolean has no members");
    case PathOutcome::too_large:
      return record(ScriptError::too_large, "array would grow too far");
  }
  return false;
}

std::optional<Path> joined(JoinRule rule, const std::string& path) {
  std::optional<Path> steps = join_path(rule, path);
  if (!steps) record(ScriptError::path_invalid, "not a member-access path");
  return steps;
}

// The value read at path; nullopt (with the reason recorded) when the path is
// invalid or runs through nothing. An absent member reads as found-absent.
std::optional<PathValue> read(const Json& root, JoinRule rule, const std::string& path,
                              std::optional<PathStep> element = std::nullopt) {
  std::optional<Path> steps = joined(rule, path);
  if (!steps) return std::nullopt;
  if (element) steps->push_back(std::move(*element));
  PathValue value = read_path(root, *steps);
  if (value.outcome == PathOutcome::failed) {
    record_outcome(value.outcome);
    return std::nullopt;
  }
  return value;
}

// What a caller writes: the text itself, or with as_json the JSON it holds.
std::optional<ParsedJson> written_value(const std::string& value, bool as_json) {
  if (!as_json) return ParsedJson{Json(gbk_to_utf8(value)), 0};
  std::optional<ParsedJson> parsed = parse_json_text(value);
  if (!parsed) record(ScriptError::parse_failed, "value is not JSON");
  return parsed;
}

// A value placed below `levels` containers must keep the document within the
// nesting every recursive operation can take.
bool fits(std::size_t levels, const ParsedJson& value) {
  if (levels + static_cast<std::size_t>(value.depth) <= static_cast<std::size_t>(kMaxJsonDepth)) {
    return true;
  }
  return record(ScriptError::too_large, "value would nest too deeply");
}

std::string text_of(const std::optional<PathValue>& value, bool as_json) {
  if (!value || value->outcome != PathOutcome::found) return {};
  return as_json ? json_form(value->get()) : plain_form(value->get());
}

}  // namespace

JsonDocument::JsonDocument() : value_(std::make_shared<Value>()) {}
JsonDocument::~JsonDocument() = default;
JsonDocument::JsonDocument(const JsonDocument& other) = default;
JsonDocument& JsonDocument::operator=(const JsonDocument& other) = default;

bool JsonDocument::parse(const std::string& text) {
  // A failed parse never leaves the previous value behind.
  value_->root = nullptr;
  return guarded(false, [&] {
    std::optional<ParsedJson> parsed = parse_json_text(text);
    if (!parsed) return record(ScriptError::parse_failed, "not a JSON text, or nested too deeply");
    value_->root = std::move(parsed->value);
    return !value_->root.is_null();
  });
}

std::string JsonDocument::to_json() const {
  return guarded(std::string(), [&] { return json_form(value_->root); });
}

bool JsonDocument::set_member(const std::string& path, const std::string& value, bool as_json) {
  return guarded(false, [&] {
    std::optional<Path> steps = joined(JoinRule::member, path);
    if (!steps) return false;
    std::optional<ParsedJson> written =
        written_value(as_json && value.empty() ? std::string("{}") : value, as_json);
    if (!written || !fits(steps->size(), *written)) return false;
    return record_outcome(write_path(value_->root, *steps, std::move(written->value)));
  });
}

bool JsonDocument::set_member_json(const std::string& path, const std::string& value) {
  if (value.empty()) return record(ScriptError::parse_failed, "value is not JSON");
  return set_member(path, value, true);
}

bool JsonDocument::set_member_number(const std::string& path, double number) {
  return guarded(false, [&] {
    std::optional<Path> steps = joined(JoinRule::member, path);
    if (!steps) return false;
    return record_outcome(write_path(value_->root, *steps, Json(number)));
  });
}

bool JsonDocument::push(const std::string& value, const std::string& path, bool as_json) {
  return guarded(false, [&] {
    std::optional<Path> steps = joined(JoinRule::root_or_member, path);
    if (!steps) return false;
    std::optional<ParsedJson> written = written_value(value, as_json);
    if (!written || !fits(steps->size() + 1, *written)) return false;
    PathOutcome outcome = PathOutcome::failed;
    Json* target = find_path(value_->root, *steps, outcome);
    if (target != nullptr && target->is_array()) {
      target->push_back(std::move(written->value));
      return true;
    }
    Json array = Json::array();
    array.push_back(std::move(written->value));
    if (steps->empty()) {
      value_->root = std::move(array);
      return true;
    }
    return record_outcome(write_path(value_->root, *steps, std::move(array)));
  });
}

bool JsonDocument::set_element(int index, const std::string& value, bool as_json) {
  return guarded(false, [&] {
    std::optional<ParsedJson> written = written_value(value, as_json);
    if (!written || !fits(1, *written)) return false;
    return record_outcome(
        write_element(value_->root, index_step(index), std::move(written->value)));
  });
}

bool JsonDocument::remove_element(int index) {
  return guarded(false, [&] {
    if (!value_->root.is_array()) return record(ScriptError::type_mismatch, "not an array");
    Json::array_t& elements = value_->root.get_ref<Json::array_t&>();
    // Array.prototype.splice: a negative start counts from the end.
    long long size = static_cast<long long>(elements.size());
    long long start = index < 0 ? std::max(size + index, 0LL) : std::min<long long>(index, size);
    if (start < size) elements.erase(elements.begin() + start);
    return true;
  });
}

bool JsonDocument::reset(int type) {
  if (type == kTypeNull || type == kTypeObject) {
    value_->root = Json::object();
  } else if (type == kTypeArray) {
    value_->root = Json::array();
  } else {
    return record(ScriptError::type_mismatch, "reset takes null, object or array");
  }
  return true;
}

bool JsonDocument::set_root(const std::string& value, bool as_json) {
  return guarded(false, [&] {
    std::optional<ParsedJson> written = written_value(value, as_json);
    if (!written) return false;
    value_->root = std::move(written->value);
    return true;
  });
}

void JsonDocument::clear() {
  value_->root = Json::object();
}

double JsonDocument::get_number(const std::string& path) const {
  return guarded(0.0, [&] {
    std::optional<PathValue> value = read(value_->root, JoinRule::member, path);
    if (!value || value->outcome != PathOutcome::found) return 0.0;
    return number_of(value->get());
  });
}

std::string JsonDocument::get_json(const std::string& path) const {
  return guarded(std::string(),
                 [&] { return text_of(read(value_->root, JoinRule::member, path), true); });
}

std::string JsonDocument::get_text(const std::string& path, bool as_json) const {
  return guarded(std::string(), [&] {
    return text_of(read(value_->root, JoinRule::element_or_member, path), as_json);
  });
}

JsonDocument JsonDocument::get_document(const std::string& path) const {
  JsonDocument document;
  document.value_->root = nullptr;
  return guarded(document, [&] {
    std::optional<PathValue> value = read(value_->root, JoinRule::element_or_member, path);
    if (value && value->outcome == PathOutcome::found) document.value_->root = value->get();
    return document;
  });
}

int JsonDocument::count(const std::string& path) const {
  return guarded(0, [&] {
    std::optional<PathValue> value = read(value_->root, JoinRule::root_or_element, path);
    if (!value || value->outcome != PathOutcome::found) return 0;
    const Json& target = value->get();
    return target.is_object() || target.is_array() ? static_cast<int>(target.size()) : 0;
  });
}

JsonDocument JsonDocument::get_element_document(int index, const std::string& path) const {
  JsonDocument document;
  document.value_->root = nullptr;
  return guarded(document, [&] {
    std::optional<PathValue> value =
        read(value_->root, JoinRule::root_or_member, path, index_step(index));
    if (value && value->outcome == PathOutcome::found) document.value_->root = value->get();
    return document;
  });
}

std::string JsonDocument::get_element_text(int index, const std::string& path, bool as_json) const {
  return guarded(std::string(), [&] {
    return text_of(read(value_->root, JoinRule::root_or_member, path, index_step(index)), as_json);
  });
}

bool JsonDocument::has_member(const std::string& path) const {
  return guarded(false, [&] {
    std::optional<PathValue> value = read(value_->root, JoinRule::member, path);
    return value && value->outcome == PathOutcome::found && !value->get().is_null();
  });
}

int JsonDocument::member_names(std::vector<std::string>& names, const std::string& path) const {
  names.clear();
  return guarded(0, [&] {
    std::optional<PathValue> value = read(value_->root, JoinRule::root_or_member, path);
    if (!value || value->outcome != PathOutcome::found) return 0;
    const Json& target = value->get();
    if (target.is_object()) {
      for (auto it = target.begin(); it != target.end(); ++it)
        names.push_back(utf8_to_gbk(it.key()));
    } else if (target.is_array()) {
      for (std::size_t i = 0; i < target.size(); ++i)
        names.push_back(std::to_string(i));
    }
    return static_cast<int>(names.size());
  });
}

int JsonDocument::type_of(const std::string& path) const {
  return guarded(kTypeOther, [&] {
    std::optional<PathValue> value = read(value_->root, JoinRule::root_or_member, path);
    if (!value) return kTypeOther;
    if (value->outcome != PathOutcome::found) return kTypeNull;
    switch (value->get().type()) {
      case Json::value_t::null:
        return kTypeNull;
      case Json::value_t::string:
        return kTypeString;
      case Json::value_t::object:
        return kTypeObject;
      case Json::value_t::array:
        return kTypeArray;
      case Json::value_t::number_integer:
      case Json::value_t::number_unsigned:
      case Json::value_t::number_float:
        return kTypeNumber;
      default:
        return kTypeOther;
    }
  });
}

std::vector<std::string> JsonDocument::get_texts(const std::string& base,
                                                 const std::vector<std::string>& fields,
                                                 bool as_json) const {
  std::vector<std::string> texts(fields.size());
  return guarded(texts, [&] {
    std::optional<PathValue> base_value = read(value_->root, JoinRule::root_or_element, base);
    if (!base_value || base_value->outcome != PathOutcome::found) return texts;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      texts[i] = text_of(read(base_value->get(), JoinRule::element_or_member, fields[i]), as_json);
    }
    return texts;
  });
}

}  // namespace sharelink
