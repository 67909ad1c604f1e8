#include "app/desktop/main_presenter.h"

#include <algorithm>
#include <new>
#include <utility>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "app/app_texts.h"
#include "app/download_text.h"
#include "app/failure_text.h"
#include "app/service_text.h"
#include "app/share_text.h"
#include "http/http_message.h"
#include "share/result_codes.h"
#include "text/text_encoding.h"

namespace sharelink {

namespace {

// Empties a file opened for writing, so that it holds what follows only.
void empty_file(std::FILE* file) {
  std::fflush(file);
#ifdef _WIN32
  const bool emptied = _chsize(_fileno(file), 0) == 0;
#else
  const bool emptied = ftruncate(fileno(file), 0) == 0;
#endif
  if (emptied) std::rewind(file);
}

// As many connections as the terminal's download uses unless told otherwise.
constexpr int kWindowConnections = 8;

bool has_link(const FileList& files) {
  return std::any_of(files.begin(), files.end(),
                     [](const FileEntry& entry) { return exportable_link(entry.dlink); });
}

}  // namespace

MainPresenter::MainPresenter(AppState& state, JobLauncher& jobs, UiBridge& bridge, LogQueue& log,
                             MainView& view, std::FILE* log_mirror, std::string settings_file)
    : state_(state),
      jobs_(jobs),
      bridge_(bridge),
      view_(view),
      log_mirror_(log_mirror),
      pump_(log, {[this](const std::string& text) { append_log(text); },
                  [this](const ResolveProgress& progress) { show_progress(progress); },
                  [this] { return !input_enabled_; },
                  [this](std::chrono::milliseconds delay) { return view_.schedule(delay); }}),
      settings_file_(std::move(settings_file)),
      settings_(read_settings(settings_file_)) {}

MainPresenter::~MainPresenter() = default;

void MainPresenter::started() {
  view_.set_choose_first(settings_.choose_first);
  update_download_button();
}

void MainPresenter::parse_clicked() {
  // The press does what the button reads: until the job has turned it into
  // 停止, it is 解析, which finds the job's slot taken.
  if (input_enabled_) {
    const std::string url = view_.url_text();
    if (!jobs_.start()) return;
    job_url_ = url;
    job_start_ = std::chrono::steady_clock::now();
    last_status_.clear();
    view_.set_status(kStatusProgress + std::string("0/0"));
    return;
  }
  state_.request_stop();
  // A job waiting on a window would stop only once the user closed it.
  view_.close_prompts();
}

void MainPresenter::url_entered() {
  if (input_enabled_) parse_clicked();
}

void MainPresenter::clear_clicked() {
  pump_.drop();
  view_.clear_log();
  if (log_mirror_) empty_file(log_mirror_);
}

void MainPresenter::copy_clicked() {
  after_log_shown([this] {
    // Under the lock the job publishes the list with: a running job may be
    // replacing it right now.
    const std::string links = state_.links_text();
    if (links.empty()) {
      // What the user had on the clipboard stays.
      view_.show_message(kNothingToCopyMessage, kMessageCaption);
      return;
    }
    view_.put_on_clipboard(links);
    view_.show_message(kCopiedMessage, kMessageCaption);
  });
}

void MainPresenter::download_clicked() {
  // A job claimed a moment ago may already use the session copied below.
  if (!input_enabled_ || state_.job_running || (download_ && download_->running())) return;
  std::shared_ptr<const FileList> files = state_.published_files();
  if (!has_link(*files)) return;
  const std::string start =
      settings_.download_folder.empty() ? downloads_folder() : settings_.download_folder;
  const std::string folder = view_.choose_folder(start);
  if (folder.empty()) return;
  settings_.download_folder = folder;
  save_settings();
  if (download_) download_->close_window();
  // The download's own session: a new job cannot clear its cookies or the
  // page's values, nor its list.
  auto session = std::make_shared<AppState>();
  session->share_client.adopt_session(state_.share_client);
  session->extraction_code = state_.extraction_code;
  DownloadSource source;
  source.files = std::move(files);
  source.share_link = gbk_to_utf8(parse_share_text(job_url_).link);
  source.extraction_code = state_.extraction_code;
  source.user_agent = default_user_agent();
  download_ = std::make_unique<DownloadPresenter>(std::move(session), std::move(source), folder,
                                                  kWindowConnections, bridge_,
                                                  static_cast<DownloadHost&>(*this));
  DownloadView* window = view_.open_download_window(*download_);
  if (!window) {
    download_.reset();
    view_.show_message(error_message(kOutOfMemory), kMessageCaption);
    return;
  }
  download_->opened(*window);
}

void MainPresenter::close_clicked() {
  if (download_ && !download_->may_quit()) return;
  save_settings();
  // A renewal waiting on a prompt is released first, so that the download can
  // stop and write its record now.
  bridge_.close();
  if (download_) download_->close_window();
  // Prompt windows report their closing to a bridge that no longer listens.
  view_.close_all();
}

void MainPresenter::timer_fired() {
  pump_.fired();
}

std::string MainPresenter::url_text() const {
  return view_.url_text();
}

void MainPresenter::set_input_enabled(bool enabled) {
  if (enabled && job_caption_) {
    job_caption_ = false;
    view_.set_caption(kMainCaption);
  }
  const bool job_ended = enabled && !input_enabled_;
  input_enabled_ = enabled;
  view_.set_input_enabled(enabled);
  if (job_ended) show_job_end();
  update_download_button();
}

void MainPresenter::after_log_shown(std::function<void()> then) {
  pump_.after_shown(std::move(then));
}

void MainPresenter::log_arrived() {
  pump_.arrived();
}

// A stop pressed while the job was on its way to a window closes that window
// before it opens.
void MainPresenter::open_extraction_code_prompt(std::function<void()> on_closed) {
  queue_prompt(
      [this](std::function<void()> closed) {
        if (state_.stop_requested) return closed();
        view_.open_extraction_code_prompt(std::move(closed));
      },
      std::move(on_closed));
}

void MainPresenter::open_captcha_prompt(std::function<void()> on_closed) {
  queue_prompt(
      [this](std::function<void()> closed) {
        if (state_.stop_requested) return closed();
        view_.open_captcha_prompt(state_, std::move(closed));
      },
      std::move(on_closed));
}

void MainPresenter::open_download_captcha(std::shared_ptr<AppState> session,
                                          std::function<void()> on_closed) {
  queue_prompt(
      [this, session](std::function<void()> closed) {
        AppState& state = *session;
        // The window's closing frees the session, not before.
        view_.open_captcha_prompt(state, [session, closed = std::move(closed)] { closed(); });
      },
      std::move(on_closed));
}

void MainPresenter::queue_prompt(std::function<void(std::function<void()>)> open,
                                 std::function<void()> on_closed) {
  if (prompt_open_) {
    waiting_prompts_.emplace_back(std::move(open), std::move(on_closed));
    return;
  }
  prompt_open_ = true;
  open([this, on_closed = std::move(on_closed)] {
    on_closed();
    prompt_closed();
  });
}

void MainPresenter::prompt_closed() {
  prompt_open_ = false;
  if (waiting_prompts_.empty()) return;
  auto next = std::move(waiting_prompts_.front());
  waiting_prompts_.erase(waiting_prompts_.begin());
  // A closing program opens nothing more: what waits counts as closed.
  if (bridge_.closed()) {
    next.second();
    return prompt_closed();
  }
  queue_prompt(std::move(next.first), std::move(next.second));
}

void MainPresenter::download_running(bool) {
  update_download_button();
}

void MainPresenter::update_download_button() {
  const bool idle = input_enabled_ && !(download_ && download_->running());
  view_.set_download_enabled(idle && has_link(*state_.published_files()));
}

void MainPresenter::show_job_end() {
  const int code = state_.job_status;
  const std::optional<RequestFailure> failure = state_.share_client.last_failure();
  if (code != 0 && code != kStopped && code != kChoiceGivenUp && failure) {
    view_.set_status("网络请求失败: " + failure_cause_text(*failure));
    return;
  }
  if (code != 0 && code != kStopped && code != kChoiceGivenUp && code != kListedOnly) {
    // The words the log ended the job with.
    view_.set_status(last_status_.empty() ? ShareClient::error_message(code) : last_status_);
    return;
  }
  int files = 0;
  int links = 0;
  for (const FileEntry& entry : *state_.published_files()) {
    if (entry.isdir == "1") continue;
    ++files;
    if (exportable_link(entry.dlink)) ++links;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - job_start_).count();
  std::string text = "共 " + std::to_string(files) + " 个文件, 已获取 " + std::to_string(links) +
                     " 个下载地址, 用时 " + duration_text(seconds);
  if (code == kStopped) text = "已停止: " + text;
  view_.set_status(text);
}

void MainPresenter::save_settings() {
  settings_.choose_first = view_.choose_first();
  if (std::optional<WindowPlace> place = view_.window_place()) settings_.main_window = place;
  // A file that cannot be written keeps nothing, and says nothing: the
  // program works the same without it.
  if (!settings_file_.empty()) write_settings(settings_file_, settings_);
}

void MainPresenter::open_file_choice(const FileList& files,
                                     std::function<void(FileChoice, std::string)> on_closed) {
  if (state_.stop_requested) {
    on_closed(FileChoice::gave_up, {});
    return;
  }
  if (!view_.choose_first()) {
    on_closed(FileChoice::all, {});
    return;
  }
  std::unique_ptr<ShareTree> tree;
  try {
    tree = std::make_unique<ShareTree>(files);
  } catch (const std::bad_alloc&) {
    // No room to show the choice: nothing is requested that was not chosen.
    view_.show_message(error_message(kOutOfMemory), kMessageCaption);
    on_closed(FileChoice::gave_up, {});
    return;
  }
  view_.open_file_choice(std::move(tree), std::move(on_closed));
}

void MainPresenter::append_log(const std::string& text) {
  static const std::string kStatusLine = "] 解析状态: ";
  const std::size_t status = text.rfind(kStatusLine);
  if (status != std::string::npos) {
    const std::size_t from = status + kStatusLine.size();
    last_status_ = text.substr(from, text.find("\r\n", from) - from);
  }
  if (log_mirror_) {
    std::fwrite(text.data(), 1, text.size(), log_mirror_);
    std::fflush(log_mirror_);
  }
  view_.append_log(text);
}

void MainPresenter::show_progress(const ResolveProgress& progress) {
  job_caption_ = true;
  const std::string counts =
      std::to_string(progress.links_obtained) + "/" + std::to_string(progress.files_found);
  view_.set_caption(kProgressCaption + counts);
  view_.set_status(kStatusProgress + counts);
}

}  // namespace sharelink
