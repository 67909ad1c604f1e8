#include "script/json_document.h"

#include <algorithm>
#include <exception>
#include <new>
#include <optional>
#include <utility>

#include "script/document_value.h"
#include "script/json_path.h"
#include "script/json_tape.h"
#include "script/json_text.h"
#include "script/last_error.h"
#include "text/text_encoding.h"

namespace sharelink {

struct JsonDocument::Value : DocumentValue {};

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

using Read = PathValue<TapeRef>;

// The value read at path, with element as one more step when given; nullopt
// (with the reason recorded) when the path is invalid or runs through nothing.
// An absent member reads as found-absent.
std::optional<Read> read(TapeRef root, JoinRule rule, const std::string& path,
                         std::optional<PathStep> element = std::nullopt) {
  std::optional<Read> value = read_joined_path(root, rule, path);
  if (!value) {
    record(ScriptError::path_invalid, "not a member-access path");
    return std::nullopt;
  }
  if (element) value = read_step(*value, *element);
  if (value->outcome == PathOutcome::failed) {
    record_outcome(value->outcome);
    return std::nullopt;
  }
  return value;
}

bool found(const std::optional<Read>& value) {
  return value && value->outcome == PathOutcome::found;
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

std::string text_of(const std::optional<Read>& value, bool as_json) {
  if (!found(value)) return {};
  // A length reads the same in both forms.
  if (value->is_length()) return std::to_string(value->length);
  return as_json ? json_form(value->value) : plain_form(value->value);
}

// The value read as a document of its own; null when nothing was read.
Json copy_of(const std::optional<Read>& value) {
  if (!found(value)) return Json(nullptr);
  return value->is_length() ? Json(value->length) : tape_to_json(value->value);
}

ValueKind kind_of(const Read& value) {
  return value.is_length() ? ValueKind::number_unsigned : value.value.kind();
}

}  // namespace

JsonDocument::JsonDocument() : value_(std::make_shared<Value>()) {}
JsonDocument::~JsonDocument() = default;
JsonDocument::JsonDocument(const JsonDocument& other) = default;
JsonDocument& JsonDocument::operator=(const JsonDocument& other) = default;

bool JsonDocument::parse(const std::string& text) {
  // A failed parse never leaves the previous value behind.
  value_->set(JsonTape());
  // A text too big for the memory left is no malformed text: the caller,
  // which ends its work as out of memory, has to see the difference.
  try {
    std::optional<JsonTape> parsed = parse_json_tape(text);
    if (!parsed) return record(ScriptError::parse_failed, "not a JSON text, or nested too deeply");
    value_->set(std::move(*parsed));
    return value_->root().kind() != ValueKind::null;
  } catch (const std::bad_alloc&) {
    value_->set(JsonTape());
    throw;
  } catch (const std::exception& e) {
    set_last_script_error(ScriptError::internal, e.what());
    return false;
  }
}

std::string JsonDocument::to_json() const {
  return guarded(std::string(), [&] { return json_form(value_->root()); });
}

bool JsonDocument::set_member(const std::string& path, const std::string& value, bool as_json) {
  return guarded(false, [&] {
    std::optional<Path> steps = joined(JoinRule::member, path);
    if (!steps) return false;
    std::optional<ParsedJson> written =
        written_value(as_json && value.empty() ? std::string("{}") : value, as_json);
    if (!written || !fits(steps->size(), *written)) return false;
    return record_outcome(write_path(value_->writable(), *steps, std::move(written->value)));
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
    return record_outcome(write_path(value_->writable(), *steps, Json(number)));
  });
}

bool JsonDocument::push(const std::string& value, const std::string& path, bool as_json) {
  return guarded(false, [&] {
    std::optional<Path> steps = joined(JoinRule::root_or_member, path);
    if (!steps) return false;
    std::optional<ParsedJson> written = written_value(value, as_json);
    if (!written || !fits(steps->size() + 1, *written)) return false;
    Json& root = value_->writable();
    PathOutcome outcome = PathOutcome::failed;
    Json* target = find_path(root, *steps, outcome);
    if (target != nullptr && target->is_array()) {
      target->push_back(std::move(written->value));
      return true;
    }
    Json array = Json::array();
    array.push_back(std::move(written->value));
    if (steps->empty()) {
      root = std::move(array);
      return true;
    }
    return record_outcome(write_path(root, *steps, std::move(array)));
  });
}

bool JsonDocument::set_element(int index, const std::string& value, bool as_json) {
  return guarded(false, [&] {
    std::optional<ParsedJson> written = written_value(value, as_json);
    if (!written || !fits(1, *written)) return false;
    return record_outcome(
        write_element(value_->writable(), index_step(index), std::move(written->value)));
  });
}

bool JsonDocument::remove_element(int index) {
  return guarded(false, [&] {
    if (value_->root().kind() != ValueKind::array) {
      return record(ScriptError::type_mismatch, "not an array");
    }
    Json::array_t& elements = value_->writable().get_ref<Json::array_t&>();
    // Array.prototype.splice: a negative start counts from the end.
    long long size = static_cast<long long>(elements.size());
    long long start = index < 0 ? std::max(size + index, 0LL) : std::min<long long>(index, size);
    if (start < size) elements.erase(elements.begin() + start);
    return true;
  });
}

bool JsonDocument::reset(int type) {
  if (type == kTypeNull || type == kTypeObject) {
    value_->set(JsonTape::empty(ValueKind::object));
  } else if (type == kTypeArray) {
    value_->set(JsonTape::empty(ValueKind::array));
  } else {
    return record(ScriptError::type_mismatch, "reset takes null, object or array");
  }
  return true;
}

bool JsonDocument::set_root(const std::string& value, bool as_json) {
  return guarded(false, [&] {
    std::optional<ParsedJson> written = written_value(value, as_json);
    if (!written) return false;
    value_->set(std::move(written->value));
    return true;
  });
}

void JsonDocument::clear() {
  value_->set(JsonTape::empty(ValueKind::object));
}

double JsonDocument::get_number(const std::string& path) const {
  return guarded(0.0, [&] {
    std::optional<Read> value = read(value_->root(), JoinRule::member, path);
    if (!found(value)) return 0.0;
    if (value->is_length()) return static_cast<double>(value->length);
    return number_of(value->value);
  });
}

std::string JsonDocument::get_json(const std::string& path) const {
  return guarded(std::string(),
                 [&] { return text_of(read(value_->root(), JoinRule::member, path), true); });
}

std::string JsonDocument::get_text(const std::string& path, bool as_json) const {
  return guarded(std::string(), [&] {
    return text_of(read(value_->root(), JoinRule::element_or_member, path), as_json);
  });
}

JsonDocument JsonDocument::get_document(const std::string& path) const {
  JsonDocument document;
  document.value_->set(JsonTape());
  return guarded(document, [&] {
    document.value_->set(copy_of(read(value_->root(), JoinRule::element_or_member, path)));
    return document;
  });
}

int JsonDocument::count(const std::string& path) const {
  return guarded(0, [&] {
    std::optional<Read> value = read(value_->root(), JoinRule::root_or_element, path);
    if (!found(value)) return 0;
    const ValueKind kind = kind_of(*value);
    return kind == ValueKind::object || kind == ValueKind::array
               ? static_cast<int>(value->value.size())
               : 0;
  });
}

JsonDocument JsonDocument::get_element_document(int index, const std::string& path) const {
  JsonDocument document;
  document.value_->set(JsonTape());
  return guarded(document, [&] {
    document.value_->set(
        copy_of(read(value_->root(), JoinRule::root_or_member, path, index_step(index))));
    return document;
  });
}

std::string JsonDocument::get_element_text(int index, const std::string& path, bool as_json) const {
  return guarded(std::string(), [&] {
    return text_of(read(value_->root(), JoinRule::root_or_member, path, index_step(index)),
                   as_json);
  });
}

bool JsonDocument::has_member(const std::string& path) const {
  return guarded(false, [&] {
    std::optional<Read> value = read(value_->root(), JoinRule::member, path);
    return found(value) && kind_of(*value) != ValueKind::null;
  });
}

int JsonDocument::member_names(std::vector<std::string>& names, const std::string& path) const {
  names.clear();
  return guarded(0, [&] {
    std::optional<Read> value = read(value_->root(), JoinRule::root_or_member, path);
    if (!found(value)) return 0;
    const ValueKind kind = kind_of(*value);
    if (kind == ValueKind::object) {
      value->value.for_each_member(
          [&](std::string_view name, TapeRef) { names.push_back(utf8_to_gbk(name)); });
    } else if (kind == ValueKind::array) {
      for (std::size_t i = 0; i < value->value.size(); ++i)
        names.push_back(std::to_string(i));
    }
    return static_cast<int>(names.size());
  });
}

int JsonDocument::type_of(const std::string& path) const {
  return guarded(kTypeOther, [&] {
    std::optional<Read> value = read(value_->root(), JoinRule::root_or_member, path);
    if (!value) return kTypeOther;
    if (value->outcome != PathOutcome::found) return kTypeNull;
    switch (kind_of(*value)) {
      case ValueKind::null:
        return kTypeNull;
      case ValueKind::string:
        return kTypeString;
      case ValueKind::object:
        return kTypeObject;
      case ValueKind::array:
        return kTypeArray;
      case ValueKind::number_integer:
      case ValueKind::number_unsigned:
      case ValueKind::number_float:
        return kTypeNumber;
      case ValueKind::boolean:
        break;
    }
    return kTypeOther;
  });
}

std::vector<std::string> JsonDocument::get_texts(const std::string& base,
                                                 const std::vector<std::string>& fields,
                                                 bool as_json) const {
  // Not through guarded: the empty result would be built on every call.
  try {
    std::vector<std::string> texts(fields.size());
    std::optional<Read> base_value = read(value_->root(), JoinRule::root_or_element, base);
    // A length is a number: no field can be read from it.
    if (!found(base_value) || base_value->is_length()) return texts;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      texts[i] = text_of(read(base_value->value, JoinRule::element_or_member, fields[i]), as_json);
    }
    return texts;
  } catch (const std::exception& e) {
    set_last_script_error(ScriptError::internal, e.what());
    return std::vector<std::string>(fields.size());
  }
}

}  // namespace sharelink
