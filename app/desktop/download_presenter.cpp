#include "app/desktop/download_presenter.h"

#include <algorithm>
#include <condition_variable>
#include <optional>
#include <system_error>
#include <utility>

#include "app/app_texts.h"
#include "app/download_text.h"
#include "app/service_text.h"
#include "app/share_download.h"
#include "app/share_tree.h"
#include "share/result_codes.h"
#include "text/local_text.h"

namespace sharelink {

// What the engine's threads tell, waiting for the main thread's next look.
struct DownloadPresenter::Inbox : DownloadObserver {
  struct News {
    std::size_t index;
    RowState state;
    std::string path;  // the local name, which a rename may have changed
    std::string cause;
  };
  std::mutex mutex;
  std::vector<News> news;
  std::optional<DownloadProgress> latest;
  bool ended = false;
  DownloadSummary summary;

  void file_done(std::size_t index, const std::string& local_path) override {
    std::lock_guard<std::mutex> lock(mutex);
    news.push_back({index, RowState::done, local_path, {}});
  }
  void file_failed(std::size_t index, const std::string& local_path,
                   const FileFailure& failure) override {
    std::lock_guard<std::mutex> lock(mutex);
    news.push_back({index, RowState::failed, local_path, file_failure_cause(failure)});
  }
  void notice(std::size_t index, const std::string& local_path, DownloadNotice notice) override {
    if (notice != DownloadNotice::renamed) return;
    std::lock_guard<std::mutex> lock(mutex);
    news.push_back({index, RowState::waiting, local_path, {}});
  }
  void progress(const DownloadProgress& now) override {
    std::lock_guard<std::mutex> lock(mutex);
    latest = now;
  }
};

// A renewal's captcha prompt, which the engine's thread waits for. A stop
// releases that thread at once, whether or not the prompt has opened or
// closed: the main thread may then wait for the engine without waiting for
// the user.
struct DownloadPresenter::PromptWait {
  std::mutex mutex;
  std::condition_variable changed;
  bool stopping = false;
  bool closed = false;
};

class DownloadPresenter::Prompts : public JobView {
 public:
  Prompts(std::shared_ptr<PromptWait> wait, std::shared_ptr<AppState> session, UiBridge& bridge,
          DownloadHost& host)
      : wait_(std::move(wait)), session_(std::move(session)), bridge_(bridge), host_(host) {}

  void show_captcha_prompt() override {
    {
      std::lock_guard<std::mutex> lock(wait_->mutex);
      if (wait_->stopping) return;
      wait_->closed = false;
    }
    const bool posted = bridge_.notify([wait = wait_, session = session_, host = &host_] {
      {
        std::lock_guard<std::mutex> lock(wait->mutex);
        if (wait->stopping) return;
      }
      host->open_download_captcha(session, [wait] {
        std::lock_guard<std::mutex> lock(wait->mutex);
        wait->closed = true;
        wait->changed.notify_all();
      });
    });
    if (!posted) return;
    std::unique_lock<std::mutex> lock(wait_->mutex);
    wait_->changed.wait(lock, [this] { return wait_->closed || wait_->stopping; });
  }
  // Nothing else of a job's view is asked by a renewal.
  std::string read_url() override { return {}; }
  void set_input_enabled(bool) override {}
  void append_log(const std::string&) override {}
  void show_extraction_code_prompt() override {}

 private:
  std::shared_ptr<PromptWait> wait_;
  std::shared_ptr<AppState> session_;
  UiBridge& bridge_;
  DownloadHost& host_;
};

DownloadPresenter::DownloadPresenter(std::shared_ptr<AppState> session, DownloadSource source,
                                     std::string folder, int connections, UiBridge& bridge,
                                     DownloadHost& host)
    : session_(std::move(session)),
      source_(std::move(source)),
      folder_(std::move(folder)),
      connections_(connections),
      bridge_(bridge),
      host_(host),
      prompt_wait_(std::make_shared<PromptWait>()),
      prompts_(std::make_unique<Prompts>(prompt_wait_, session_, bridge, host)),
      inbox_(std::make_unique<Inbox>()) {
  items_ = download_items(*source_.files, list_of_item_);
  rows_.reserve(items_.size());
  for (const DownloadItem& item : items_) {
    RowData row;
    for (const std::string& name : item.path)
      row.path += (row.path.empty() ? "" : "/") + name;
    row.size = item.size;
    rows_.push_back(std::move(row));
  }
}

DownloadPresenter::~DownloadPresenter() {
  stop_and_wait();
}

void DownloadPresenter::opened(DownloadView& view) {
  view_ = &view;
  view.set_row_count(rows_.size());
  prepare();
  show_total();
  view.set_buttons(true, false, false);
}

bool DownloadPresenter::prepare() {
  DownloadSettings settings;
  settings.folder = folder_;
  settings.connections = connections_;
  settings.share = source_.share_link;
  settings.user_agent = source_.user_agent;
  settings.cookies = session_->share_client.get_cookies();
  downloader_ = std::make_unique<Downloader>(
      settings, *inbox_, [this](std::size_t item, std::string& link) { return renew(item, link); });
  check_ = downloader_->prepare(items_);
  return check_.ok;
}

void DownloadPresenter::start_clicked() {
  if (running_) return;
  if (!downloader_) prepare();
  if (!check_.ok) {
    if (view_) view_->show_message(check_text(check_), kMessageCaption);
    show_total();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(prompt_wait_->mutex);
    prompt_wait_->stopping = false;
  }
  session_->share_client.resume();
  for (std::size_t item = 0; item < items_.size(); ++item) {
    const FileEntry& entry = (*source_.files)[list_of_item_[item]];
    // A link of another scheme is handed on nowhere: that file gets none.
    if (exportable_link(entry.dlink)) downloader_->add_link(item, entry.dlink);
  }
  downloader_->links_done();
  for (RowData& row : rows_) {
    if (row.state == RowState::failed) row.state = RowState::waiting, row.cause.clear();
  }
  try {
    engine_ = std::thread([this, downloader = downloader_.get()] {
      const DownloadSummary summary = downloader->run();
      std::lock_guard<std::mutex> lock(inbox_->mutex);
      inbox_->summary = summary;
      inbox_->ended = true;
    });
  } catch (const std::system_error&) {
    if (view_) view_->show_message(error_message(kOutOfMemory), kMessageCaption);
    return;
  }
  running_ = true;
  closing_.clear();
  last_news_ = std::chrono::steady_clock::now();
  host_.download_running(true);
  if (view_) {
    view_->set_buttons(false, true, false);
    timer_ = view_->schedule(kRefresh);
  }
}

void DownloadPresenter::stop_clicked() {
  if (!running_) return;
  stop_and_wait();
  take_news();
}

void DownloadPresenter::open_folder_clicked() {
  if (view_) view_->open_folder(folder_);
}

bool DownloadPresenter::may_quit() {
  if (!running_) return true;
  return view_ && view_->ask(kStopDownloadQuestion, kQuestionCaption);
}

void DownloadPresenter::close_requested() {
  if (!may_quit()) return;
  close_window();
}

void DownloadPresenter::close_window() {
  stop_and_wait();
  if (running_) take_news();
  if (!view_) return;
  DownloadView* view = view_;
  view_ = nullptr;
  view->close();
}

void DownloadPresenter::timer_fired() {
  timer_ = false;
  take_news();
  if (running_ && view_) timer_ = view_->schedule(kRefresh);
}

void DownloadPresenter::stop_and_wait() {
  {
    std::lock_guard<std::mutex> lock(prompt_wait_->mutex);
    prompt_wait_->stopping = true;
  }
  prompt_wait_->changed.notify_all();
  if (downloader_) downloader_->stop();
  session_->share_client.stop();
  if (engine_.joinable()) engine_.join();
}

int DownloadPresenter::renew(std::size_t item, std::string& link) {
  const FileEntry& entry = (*source_.files)[list_of_item_[item]];
  bool gave_up = false;
  // The window has no log: a new verification of the code goes unsaid.
  return renew_with_prompts(*session_, *prompts_, entry, link, gave_up, [](const std::string&) {});
}

void DownloadPresenter::take_news() {
  std::vector<Inbox::News> news;
  std::optional<DownloadProgress> progress;
  bool ended = false;
  DownloadSummary summary;
  {
    std::lock_guard<std::mutex> lock(inbox_->mutex);
    news.swap(inbox_->news);
    progress.swap(inbox_->latest);
    ended = inbox_->ended;
    summary = inbox_->summary;
    inbox_->ended = false;
  }
  for (Inbox::News& item : news) {
    if (item.index >= rows_.size()) continue;
    RowData& row = rows_[item.index];
    row.path = std::move(item.path);
    if (item.state == RowState::waiting) continue;
    row.state = item.state;
    row.cause = std::move(item.cause);
    row.speed = 0;
    if (item.state == RowState::done) row.bytes = row.size;
  }
  if (progress) {
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - last_news_).count();
    last_news_ = now;
    std::vector<bool> moving(rows_.size(), false);
    for (const DownloadProgress::FileBytes& file : progress->under_way) {
      if (file.index >= rows_.size()) continue;
      RowData& row = rows_[file.index];
      if (row.state == RowState::done || row.state == RowState::failed) continue;
      const std::uint64_t gained = file.bytes_done > row.bytes ? file.bytes_done - row.bytes : 0;
      // A fresh row has no earlier figure to measure from.
      row.speed = row.state == RowState::running && seconds > 0 ? gained / seconds : 0;
      row.bytes = file.bytes_done;
      row.state = RowState::running;
      moving[file.index] = true;
    }
    for (std::size_t index = 0; index < rows_.size(); ++index) {
      if (rows_[index].state == RowState::running && !moving[index]) {
        rows_[index].state = RowState::waiting;
        rows_[index].speed = 0;
      }
    }
    progress_ = *progress;
  }
  if (ended) end_run(summary);
  show_total();
  if (view_) view_->refresh_rows();
}

void DownloadPresenter::end_run(const DownloadSummary& summary) {
  if (engine_.joinable()) engine_.join();
  downloader_.reset();
  running_ = false;
  for (RowData& row : rows_) {
    if (row.state == RowState::running) row.state = RowState::waiting, row.speed = 0;
  }
  closing_ = closing_text(summary);
  closing_warns_ = summary.files_failed > 0;
  host_.download_running(false);
  // What is left (stopped or failed files) goes on with 继续.
  const bool left = summary.stopped || summary.files_failed > 0;
  if (view_) view_->set_buttons(false, false, left);
}

void DownloadPresenter::show_total() {
  if (!view_) return;
  if (running_) {
    view_->set_total(progress_text(progress_), false);
  } else if (!closing_.empty()) {
    view_->set_total(closing_, closing_warns_);
  } else if (!check_.ok) {
    view_->set_total(check_text(check_), true);
  } else {
    std::uint64_t total = 0;
    for (const RowData& row : rows_)
      total += row.size;
    view_->set_total("共 " + std::to_string(rows_.size()) + " 个文件, " + size_text(total) +
                         ", 可用空间 " + size_text(check_.free),
                     false);
  }
}

DownloadRow DownloadPresenter::row(std::size_t index) const {
  DownloadRow shown;
  if (index >= rows_.size()) return shown;
  const RowData& row = rows_[index];
  shown.path = shown_text(row.path);
  shown.size = size_text(row.size);
  shown.fraction =
      row.size == 0 ? (row.state == RowState::done ? 1.0 : 0.0)
                    : std::min(1.0, static_cast<double>(row.bytes) / static_cast<double>(row.size));
  shown.progress = std::to_string(static_cast<int>(shown.fraction * 100)) + "%";
  if (row.state == RowState::running && row.speed > 0) shown.speed = speed_text(row.speed);
  switch (row.state) {
    case RowState::waiting:
      shown.state = kRowWaiting;
      break;
    case RowState::running:
      shown.state = kRowRunning;
      break;
    case RowState::done:
      shown.state = kRowDone;
      break;
    case RowState::failed:
      shown.state = kRowFailed + row.cause;
      shown.failed = true;
      break;
  }
  return shown;
}

}  // namespace sharelink
