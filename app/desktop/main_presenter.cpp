#include "app/desktop/main_presenter.h"

#include <new>
#include <utility>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "app/app_texts.h"
#include "share/result_codes.h"

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

}  // namespace

MainPresenter::MainPresenter(AppState& state, JobLauncher& jobs, UiBridge& bridge, LogQueue& log,
                             MainView& view, std::FILE* log_mirror)
    : state_(state),
      jobs_(jobs),
      bridge_(bridge),
      view_(view),
      log_mirror_(log_mirror),
      pump_(log, {[this](const std::string& text) { append_log(text); },
                  [this](const ResolveProgress& progress) { show_progress(progress); },
                  [this] { return !input_enabled_; },
                  [this](std::chrono::milliseconds delay) { return view_.schedule(delay); }}) {}

void MainPresenter::parse_clicked() {
  // The press does what the button reads: until the job has turned it into
  // 停止, it is 解析, which finds the job's slot taken.
  if (input_enabled_) {
    jobs_.start();
    return;
  }
  state_.request_stop();
  // A job waiting on a window would stop only once the user closed it.
  view_.close_prompts();
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
    view_.put_on_clipboard(state_.links_text());
    view_.show_message(kCopiedMessage, kMessageCaption);
  });
}

void MainPresenter::close_clicked() {
  bridge_.close();
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
  input_enabled_ = enabled;
  view_.set_input_enabled(enabled);
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
  if (state_.stop_requested) return on_closed();
  view_.open_extraction_code_prompt(std::move(on_closed));
}

void MainPresenter::open_captcha_prompt(std::function<void()> on_closed) {
  if (state_.stop_requested) return on_closed();
  view_.open_captcha_prompt(std::move(on_closed));
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
  if (log_mirror_) {
    std::fwrite(text.data(), 1, text.size(), log_mirror_);
    std::fflush(log_mirror_);
  }
  view_.append_log(text);
}

void MainPresenter::show_progress(const ResolveProgress& progress) {
  job_caption_ = true;
  view_.set_caption(kProgressCaption + std::to_string(progress.links_obtained) + "/" +
                    std::to_string(progress.files_found));
}

}  // namespace sharelink
