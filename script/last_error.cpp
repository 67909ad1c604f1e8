#include "script/last_error.h"

#include <utility>

namespace sharelink {

namespace {
thread_local ScriptFailure t_last_failure;
}

ScriptFailure last_script_error() {
  return t_last_failure;
}

void set_last_script_error(ScriptError code, std::string detail) {
  t_last_failure.code = code;
  t_last_failure.detail = std::move(detail);
}

void clear_last_script_error() {
  t_last_failure = ScriptFailure{};
}

}  // namespace sharelink
