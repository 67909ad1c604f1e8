#pragma once

// The main window's presenter with fake windows, the job's thread and the
// simulator: what the desktop tests drive.

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/desktop/desktop_job_view.h"
#include "app/desktop/main_presenter.h"
#include "desktop/fake_loop.h"
#include "e2e/sim_harness.h"

namespace sharelink {

class FakeMainView;

// The window "下载": what the presenter last told it.
class FakeDownloadView : public DownloadView {
 public:
  FakeDownloadView(DownloadPresenter& presenter, FakeMainView& main)
      : presenter(presenter), main(main) {}
  DownloadPresenter& presenter;
  FakeMainView& main;
  std::size_t rows = 0;
  std::string total;
  bool warns = false;
  bool start = false, stop = false, resume = false;
  bool timer = false;
  bool closed = false;
  std::vector<std::string> messages;
  std::vector<std::string> opened;
  void set_row_count(std::size_t count) override { rows = count; }
  void refresh_rows() override {}
  void set_total(const std::string& text, bool warn) override { total = text, warns = warn; }
  void set_buttons(bool on_start, bool on_stop, bool on_resume) override {
    start = on_start, stop = on_stop, resume = on_resume;
  }
  bool schedule(std::chrono::milliseconds) override { return timer = true; }
  void show_message(const std::string& text, const std::string&) override {
    messages.push_back(text);
  }
  bool ask(const std::string& question, const std::string& caption) override;
  void open_folder(const std::string& folder) override { opened.push_back(folder); }
  void close() override { closed = true; }
};

// The window "选择文件" played from a script.
class FakeChoiceView : public FileChoiceView {
 public:
  explicit FakeChoiceView(FakeMainView& main) : main_(main) {}
  std::string filter;
  bool closed = false;
  std::string filter_text() const override { return filter; }
  void rows_changed() override {}
  void set_summary(const std::string& text) override;
  void show_message(const std::string& text, const std::string&) override;
  void close() override { closed = true; }

 private:
  FakeMainView& main_;
};

// What the presenter told the window, in order.
class FakeMainView : public MainView {
 public:
  explicit FakeMainView(const AppState& state) : state_(state) {}

  std::string url;
  std::vector<std::string> events;
  std::string log;
  bool timer = false;
  std::string last_caption;

  std::string url_text() const override { return url; }
  void set_input_enabled(bool enabled) override {
    // A press on an enabled 解析 must find the job slot free.
    events.push_back(std::string(enabled ? "enable" : "disable") +
                     (enabled && state_.job_running ? " while claimed" : ""));
  }
  void set_caption(const std::string& caption) override { last_caption = caption; }
  void append_log(const std::string& text) override { log += text; }
  void clear_log() override {
    log.clear();
    events.push_back("clear");
  }
  bool schedule(std::chrono::milliseconds) override { return timer = true; }
  void put_on_clipboard(const std::string& text) override { events.push_back("clipboard " + text); }
  void show_message(const std::string& text, const std::string&) override {
    events.push_back("message " + text);
  }
  // Every prompt is closed by its close box at once, or kept open until
  // close_prompts.
  bool keep_prompts = false;
  std::vector<std::function<void()>> prompts;
  void open_extraction_code_prompt(std::function<void()> on_closed) override {
    prompt(std::move(on_closed));
  }
  void open_captcha_prompt(AppState& answers, std::function<void()> on_closed) override {
    prompt_states.push_back(&answers);
    prompt(std::move(on_closed));
  }
  std::vector<const AppState*> prompt_states;
  void prompt(std::function<void()> on_closed) {
    if (!keep_prompts) return on_closed();
    events.push_back("prompt");
    prompts.push_back(std::move(on_closed));
  }
  void close_prompts() override {
    events.push_back("close prompts");
    for (const auto& closed : std::exchange(prompts, {}))
      closed();
  }
  void close_all() override { events.push_back("close"); }

  // The check box 先选择文件, and what the user does in the window it opens,
  // a step a string: "check N" (the box of row N), "open N", "filter TEXT",
  // "select", "unselect", "ok" or "close" (the close box).
  bool choose = false;
  std::vector<std::string> steps;
  std::string summary;
  bool choose_first() const override { return choose; }
  void set_choose_first(bool on) override { choose = on; }

  // 下载, the status bar, the folder chooser, questions and the window 下载.
  bool download_enabled = false;
  std::string status;
  std::string folder_answer;
  std::string chooser_start;
  bool answer_yes = true;
  std::vector<std::string> questions;
  std::optional<WindowPlace> place;
  std::unique_ptr<FakeDownloadView> download_window;
  void set_download_enabled(bool enabled) override { download_enabled = enabled; }
  void set_status(const std::string& text) override { status = text; }
  std::string choose_folder(const std::string& start) override {
    chooser_start = start;
    return folder_answer;
  }
  DownloadView* open_download_window(DownloadPresenter& presenter) override {
    download_window = std::make_unique<FakeDownloadView>(presenter, *this);
    return download_window.get();
  }
  bool ask(const std::string& question, const std::string&) override {
    questions.push_back(question);
    return answer_yes;
  }
  std::optional<WindowPlace> window_place() const override { return place; }
  void open_file_choice(std::unique_ptr<ShareTree> tree,
                        FileChoicePresenter::OnClosed on_closed) override {
    FakeChoiceView window(*this);
    FileChoicePresenter choice(std::move(tree), window, std::move(on_closed));
    summary = choice.summary();
    for (const std::string& step : steps) {
      const std::string verb = step.substr(0, step.find(' '));
      const std::string rest = step.size() > verb.size() ? step.substr(verb.size() + 1) : "";
      const std::size_t row = rest.empty() || !std::isdigit(rest[0]) ? 0 : std::stoul(rest);
      if (verb == "check") choice.check_clicked(row);
      if (verb == "open") choice.toggle_open(row);
      if (verb == "filter") window.filter = rest;
      if (verb == "select") choice.check_matching_clicked();
      if (verb == "unselect") choice.uncheck_matching_clicked();
      if (verb == "ok") choice.ok_clicked();
      if (verb == "close" || window.closed) break;
    }
    choice.closed();
  }

 private:
  const AppState& state_;
};

inline void FakeChoiceView::set_summary(const std::string& text) {
  main_.summary = text;
}

inline void FakeChoiceView::show_message(const std::string& text, const std::string&) {
  main_.events.push_back("message " + text);
}

// The presenter with a fake window and the job's thread against the demo shares.
class PresenterRun : public ::testing::Test {
 protected:
  // Plays the main thread until the view has seen what it waits for.
  bool run_until(const std::function<bool()>& seen) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!seen()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      if (view.timer) {
        view.timer = false;
        presenter.timer_fired();
      }
      FakeDownloadView* window = view.download_window.get();
      if (window && window->timer && !window->closed) {
        window->timer = false;
        window->presenter.timer_fired();
      }
      loop.run_one(std::chrono::milliseconds(10));
    }
    return true;
  }
  bool ended() { return !view.events.empty() && view.events.back().rfind("enable", 0) == 0; }

  PresenterRun() : sim(testing::SimHarness::demo_fixture()) {}
  explicit PresenterRun(const std::string& fixture) : sim(fixture) {}

  testing::SimHarness sim;
  AppState state;
  FakeLoop loop;
  UiBridge bridge{loop.post()};
  LogQueue queue;
  DesktopJobView job_view{bridge, queue};
  JobLauncher jobs{state, job_view};
  FakeMainView view{state};
  MainPresenter presenter{state, jobs, bridge, queue, view, nullptr};
};

inline bool FakeDownloadView::ask(const std::string& question, const std::string& caption) {
  return main.ask(question, caption);
}

}  // namespace sharelink
