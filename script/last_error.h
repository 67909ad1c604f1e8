#pragma once

// The script layer never throws: a failed operation yields the empty value of its
// result type. The reason of the most recent failure is kept per thread for tests
// and diagnostics.

#include <string>

namespace sharelink {

enum class ScriptError {
  none = 0,
  parse_failed,     // text is not JSON, or nested too deeply
  path_invalid,     // a path the evaluator cannot read
  path_not_found,   // a path through an absent member or null
  type_mismatch,    // an operation on a value of the wrong type
  pattern_invalid,  // a regular expression that does not compile
  match_limit,      // a match that hit the engine's limits
  conversion,       // a value that does not convert to the requested type
  too_large,        // a write that would nest too deeply or grow an array too far
  internal,         // an unexpected library failure
};

struct ScriptFailure {
  ScriptError code = ScriptError::none;
  std::string detail;
};

// The last failure recorded on the calling thread.
ScriptFailure last_script_error();
void set_last_script_error(ScriptError code, std::string detail = {});
void clear_last_script_error();

}  // namespace sharelink
