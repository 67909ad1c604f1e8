#include "app/share_download.h"

#include <charconv>
#include <utility>

#include "app/datetime_text.h"
#include "app/download_text.h"
#include "app/service_text.h"
#include "app/share_tree.h"
#include "share/result_codes.h"

namespace sharelink {

namespace {

constexpr std::size_t kNoItem = static_cast<std::size_t>(-1);
// A renewal asks for a captcha at most this many times before it gives up.
constexpr int kCaptchaRounds = 3;

std::uint64_t listed_size(const std::string& size) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(size.data(), size.data() + size.size(), value);
  return error == std::errc() && end == size.data() + size.size() ? value : 0;
}

// The folders below the share's top and the file's own name.
std::vector<std::string> path_below_top(const ShareTree& tree, std::size_t node) {
  std::vector<std::string> path;
  for (std::size_t at = node; at != ShareTree::kNone; at = tree.parent(at))
    path.insert(path.begin(), tree.name(at));
  return path;
}

}  // namespace

std::vector<DownloadItem> download_items(const FileList& files,
                                         std::vector<std::size_t>& list_of_item) {
  const ShareTree tree(files);
  std::vector<std::size_t> node_of(files.size());
  for (std::size_t node = 0; node < tree.size(); ++node)
    node_of[tree.list_index(node)] = node;
  std::vector<DownloadItem> items;
  list_of_item.clear();
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (files[i].isdir == "1") continue;
    list_of_item.push_back(i);
    items.push_back({files[i].fs_id, path_below_top(tree, node_of[i]), listed_size(files[i].size)});
  }
  return items;
}

int renew_with_prompts(AppState& state, JobView& prompts, const FileEntry& entry, std::string& link,
                       bool& gave_up, const std::function<void(const std::string&)>& note) {
  std::string answer;
  for (int round = 0;; ++round) {
    bool verified_again = false;
    const int code =
        state.share_client.renew_link(entry, state.extraction_code, answer, link, verified_again);
    if (verified_again) note("下载状态: 页面已过期, 已重新验证提取密码");
    const bool captcha = code == kWrongDownloadCaptcha || code == kWrongVerifyCaptcha;
    if (!captcha || round == kCaptchaRounds) return code;
    // The prompt fetches the picture of the kind the status names.
    state.job_status = code;
    state.captcha_answer.clear();
    prompts.show_captcha_prompt();
    answer = state.captcha_answer;
    if (answer.empty()) {
      gave_up = true;
      return code;
    }
  }
}

ShareDownload::ShareDownload(AppState& state, JobView& prompts, DownloadSettings settings,
                             LineSink lines, ProgressSink progress)
    : state_(state),
      prompts_(prompts),
      settings_(std::move(settings)),
      lines_(std::move(lines)),
      progress_(std::move(progress)) {}

ShareDownload::~ShareDownload() {
  stop();
  if (engine_.joinable()) engine_.join();
  state_.share_client.set_list_observer(nullptr);
  state_.share_client.set_link_observer(nullptr);
}

void ShareDownload::attach() {
  state_.share_client.set_list_observer([this](const FileList& files) { on_list(files); });
  state_.share_client.set_link_observer(
      [this](std::size_t index, const FileEntry& entry) { on_link(index, entry); });
}

void ShareDownload::on_list(const FileList& files) {
  if (prepared_) return;
  std::vector<DownloadItem> items = download_items(files, list_of_item_);
  item_of_list_.assign(files.size(), kNoItem);
  for (std::size_t item = 0; item < list_of_item_.size(); ++item)
    item_of_list_[list_of_item_[item]] = item;
  if (items.empty()) return;
  settings_.cookies = state_.share_client.get_cookies();
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopped_) return;
  downloader_ = std::make_unique<Downloader>(
      settings_, static_cast<DownloadObserver&>(*this),
      [this](std::size_t item, std::string& link) { return renew(item, link); });
  check_ = downloader_->prepare(std::move(items));
  if (!check_.record_problem.empty()) {
    held_lines_.push_back(log_line(
        "下载状态: 下载记录无法使用, 重新开始: " + shown_text(check_.record_problem), local_now()));
  }
  if (!check_.ok) {
    held_lines_.push_back(log_line(check_text(check_), local_now()));
    return;
  }
  prepared_ = true;
  engine_ = std::thread([this] { summary_ = downloader_->run(); });
}

void ShareDownload::on_link(std::size_t list_index, const FileEntry& entry) {
  if (!prepared_ || list_index >= item_of_list_.size()) return;
  const std::size_t item = item_of_list_[list_index];
  // A link of another scheme is handed on nowhere: that file gets none.
  if (item != kNoItem && exportable_link(entry.dlink)) downloader_->add_link(item, entry.dlink);
}

DownloadOutcome ShareDownload::finish() {
  state_.share_client.set_list_observer(nullptr);
  state_.share_client.set_link_observer(nullptr);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job_over_ = true;
    hold_lines_ = false;
    for (const std::string& line : held_lines_)
      lines_(line);
    held_lines_.clear();
  }
  job_over_changed_.notify_all();
  if (!prepared_) {
    if (!check_.ok) return DownloadOutcome::failed;
    return stopped_ ? DownloadOutcome::stopped : DownloadOutcome::not_started;
  }
  downloader_->links_done();
  engine_.join();
  write_line(closing_text(summary_));
  if (summary_.stopped) return DownloadOutcome::stopped;
  if (summary_.files_failed > 0)
    return gave_up_ ? DownloadOutcome::gave_up : DownloadOutcome::failed;
  return DownloadOutcome::complete;
}

void ShareDownload::stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopped_ = true;
  job_over_changed_.notify_all();
  if (downloader_) downloader_->stop();
}

int ShareDownload::renew(std::size_t item, std::string& link) {
  {
    // The job's session serves one request at a time: a renewal waits for
    // the job, which will have ended long before most links expire.
    std::unique_lock<std::mutex> lock(mutex_);
    job_over_changed_.wait(lock, [this] { return job_over_ || stopped_; });
    if (stopped_) return kStopped;
  }
  const std::shared_ptr<const FileList> files = state_.published_files();
  const std::size_t index = list_of_item_[item];
  if (index >= files->size()) return kLinkMissing;
  bool gave_up = false;
  const int code = renew_with_prompts(state_, prompts_, (*files)[index], link, gave_up,
                                      [this](const std::string& text) { write_line(text); });
  if (gave_up) gave_up_ = true;
  return code;
}

void ShareDownload::write_line(const std::string& text) {
  const std::string line = log_line(text, local_now());
  std::lock_guard<std::mutex> lock(mutex_);
  if (hold_lines_) {
    held_lines_.push_back(line);
  } else {
    lines_(line);
  }
}

void ShareDownload::file_done(std::size_t, const std::string& local_path) {
  write_line(file_done_text(local_path));
}

void ShareDownload::file_failed(std::size_t, const std::string& local_path,
                                const FileFailure& failure) {
  write_line(file_failed_text(local_path, failure));
}

void ShareDownload::notice(std::size_t, const std::string& local_path, DownloadNotice notice) {
  const std::string text = notice_text(local_path, notice);
  if (!text.empty()) write_line(text);
}

void ShareDownload::progress(const DownloadProgress& progress) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!job_over_) return;  // the job's own progress is on show until then
  }
  if (progress_) progress_(progress);
}

}  // namespace sharelink
