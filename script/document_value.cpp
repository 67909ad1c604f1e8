#include "script/document_value.h"

#include <exception>
#include <utility>
#include <vector>

namespace sharelink {

namespace {

// Frees a value's containers deepest first. nlohmann's own destructor moves
// every value of a tree through a stack of its own before freeing it; emptied
// bottom-up, each value is freed where it stands.
void dismantle(Json& value) noexcept {
  std::vector<Json*> containers;
  try {
    if (value.is_structured()) containers.push_back(&value);
    for (std::size_t i = 0; i < containers.size(); ++i) {
      Json& container = *containers[i];
      const auto visit = [&](Json& child) {
        if (child.is_structured()) containers.push_back(&child);
      };
      if (container.is_object()) {
        for (auto& member : container.get_ref<Json::object_t&>())
          visit(member.second);
      } else {
        for (Json& element : container.get_ref<Json::array_t&>())
          visit(element);
      }
    }
  } catch (const std::exception&) {
    return;  // no memory for the list: the value's own destructor frees it
  }
  // A container comes after the one holding it.
  for (auto it = containers.rbegin(); it != containers.rend(); ++it) {
    if ((*it)->is_object()) {
      (*it)->get_ref<Json::object_t&>().clear();
    } else {
      (*it)->get_ref<Json::array_t&>().clear();
    }
  }
}

}  // namespace

DocumentValue::DocumentValue() : tape_(JsonTape::empty(ValueKind::object)) {}

DocumentValue::~DocumentValue() {
  drop_json();
}

const JsonTape& DocumentValue::tape() {
  if (stale_.load(std::memory_order_acquire)) {
    std::lock_guard<std::mutex> lock(remaking_);
    if (stale_.load(std::memory_order_relaxed)) {
      tape_ = JsonTape::from_json(json_);
      stale_.store(false, std::memory_order_release);
    }
  }
  return tape_;
}

Json& DocumentValue::writable() {
  if (!has_json_) {
    json_ = tape_to_json(root());
    has_json_ = true;
  }
  // Also when the write fails half-way: the document is what counts.
  stale_.store(true, std::memory_order_release);
  return json_;
}

void DocumentValue::set(JsonTape tape) {
  drop_json();
  tape_ = std::move(tape);
  stale_.store(false, std::memory_order_release);
}

void DocumentValue::set(Json json) {
  drop_json();
  json_ = std::move(json);
  has_json_ = true;
  stale_.store(true, std::memory_order_release);
}

void DocumentValue::drop_json() {
  dismantle(json_);
  json_ = nullptr;
  has_json_ = false;
}

}  // namespace sharelink
