#pragma once

// A captcha picture fetched and decoded on a thread of its own, so that a slow
// or hostile server never holds up a window. The thread fills the load and sets
// done; the window looks for done on a timer, so nothing the thread leaves
// behind depends on the window still being there. Knows no toolkit: both
// windows use it.

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "app/app_state.h"
#include "app/desktop/captcha_picture.h"
#include "text/local_text.h"

namespace sharelink {

struct CaptchaLoad {
  std::string origin;
  int kind = 0;
  std::atomic<bool> done{false};
  int code = 0;  // of the fetch; the picture is empty when it did not decode
  std::string id;
  Picture picture;
};

// Starts fetching a captcha of the kind the job's last result asks for; decode
// runs on the fetching thread. Null when no thread could be started.
std::shared_ptr<CaptchaLoad> start_captcha_load(const AppState& state,
                                                Picture (*decode)(const Bytes& bytes));

// True when no captcha is being fetched, waiting at most limit: a closing
// program must not tear down what such a thread still uses.
bool captcha_loads_idle(std::chrono::milliseconds limit);

}  // namespace sharelink
