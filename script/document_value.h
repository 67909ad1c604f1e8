#pragma once

// What a JsonDocument holds: its value in two forms. Every read reads the tape;
// the first write makes an nlohmann document from it, and writes change that.
// After a write the tape is made again from the document, at the next read, so
// a run of writes costs one remaking.

#include <atomic>
#include <mutex>

#include "script/json_tape.h"
#include "script/json_value.h"

namespace sharelink {

class DocumentValue {
 public:
  DocumentValue();
  ~DocumentValue();
  DocumentValue(const DocumentValue&) = delete;
  DocumentValue& operator=(const DocumentValue&) = delete;

  // Reads may run on several threads at once; the tape is remade under a lock.
  const JsonTape& tape();
  TapeRef root() { return TapeRef(tape(), 0); }

  // The value to change; the tape counts as changed from here on.
  Json& writable();

  void set(JsonTape tape);
  void set(Json json);

 private:
  void drop_json();

  JsonTape tape_;
  Json json_;
  bool has_json_ = false;
  std::atomic<bool> stale_{false};
  std::mutex remaking_;
};

}  // namespace sharelink
