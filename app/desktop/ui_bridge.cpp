#include "app/desktop/ui_bridge.h"

#include <chrono>

namespace sharelink {

void UiCall::finish(std::string result) {
  std::lock_guard<std::mutex> lock(bridge_.mutex_);
  if (done_) return;
  done_ = true;
  result_ = std::move(result);
  bridge_.changed_.notify_all();
}

std::optional<std::string> UiBridge::call(Task task) {
  auto request = std::shared_ptr<UiCall>(new UiCall(*this, std::move(task)));
  std::unique_lock<std::mutex> lock(mutex_);
  // The posted pointer owns one reference until deliver takes it over. The
  // queue holds at most one request per worker; should it ever be full, wait
  // for the main thread to drain it rather than drop a line.
  for (;;) {
    if (closed_) return std::nullopt;
    auto* posted = new std::shared_ptr<UiCall>(request);
    if (post_(&UiBridge::deliver, posted)) break;
    delete posted;
    changed_.wait_for(lock, std::chrono::milliseconds(10));
  }
  changed_.wait(lock, [&] { return request->done_ || closed_; });
  if (!request->done_) return std::nullopt;
  return std::move(request->result_);
}

std::optional<std::string> UiBridge::run(std::function<std::string()> work) {
  return call([work = std::move(work)](const std::shared_ptr<UiCall>& request) {
    request->finish(work());
  });
}

namespace {

struct Notice {
  UiBridge* bridge;
  std::function<void()> work;
};

}  // namespace

bool UiBridge::notify(std::function<void()> work) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return false;
  auto posted = std::make_unique<Notice>(Notice{this, std::move(work)});
  if (!post_(&UiBridge::deliver_notice, posted.get())) return false;
  static_cast<void>(posted.release());
  return true;
}

void UiBridge::deliver_notice(void* data) {
  const std::unique_ptr<Notice> notice(static_cast<Notice*>(data));
  if (notice->bridge->closed()) return;
  notice->work();
}

void UiBridge::deliver(void* data) {
  std::unique_ptr<std::shared_ptr<UiCall>> posted(static_cast<std::shared_ptr<UiCall>*>(data));
  const std::shared_ptr<UiCall> request = *posted;
  {
    std::lock_guard<std::mutex> lock(request->bridge_.mutex_);
    if (request->bridge_.closed_ || request->done_) return;
  }
  request->task_(request);
}

void UiBridge::close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  changed_.notify_all();
}

bool UiBridge::closed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closed_;
}

}  // namespace sharelink
