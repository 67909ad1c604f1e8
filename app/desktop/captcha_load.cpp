#include "app/desktop/captcha_load.h"

#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "share/result_codes.h"
#include "share/share_client.h"

namespace sharelink {
namespace {

// Threads fetching captchas, so that the program can wait for them at exit.
struct LoadCount {
  std::mutex mutex;
  std::condition_variable changed;
  int running = 0;
};

LoadCount& load_count() {
  static auto* count = new LoadCount;  // never freed: threads may outlive main
  return *count;
}

void count_ended(LoadCount& count) {
  std::lock_guard<std::mutex> lock(count.mutex);
  --count.running;
  count.changed.notify_all();
}

}  // namespace

std::shared_ptr<CaptchaLoad> start_captcha_load(const AppState& state,
                                                Picture (*decode)(const Bytes& bytes)) {
  auto load = std::make_shared<CaptchaLoad>();
  // Copied here: the thread must not read the client while a later job runs.
  load->origin = state.share_client.service_origin();
  load->kind = state.job_status;
  LoadCount& count = load_count();
  {
    std::lock_guard<std::mutex> lock(count.mutex);
    ++count.running;
  }
  try {
    std::thread([load, decode] {
      // A picture too big for memory is a picture that did not come.
      try {
        Bytes image;
        load->code = ShareClient::fetch_captcha_from(load->origin, load->kind, image, load->id);
        if (load->code == 0) load->picture = decode(image);
      } catch (const std::bad_alloc&) {
        load->code = kOutOfMemory;
      }
      load->done = true;
      count_ended(load_count());
    }).detach();
  } catch (const std::system_error&) {
    count_ended(count);
    return nullptr;
  }
  return load;
}

bool captcha_loads_idle(std::chrono::milliseconds limit) {
  LoadCount& count = load_count();
  std::unique_lock<std::mutex> lock(count.mutex);
  return count.changed.wait_for(lock, limit, [&] { return count.running == 0; });
}

}  // namespace sharelink
