// The window 下载 through fake views: a job against the simulator, then 下载
// into a scratch folder, its rows and total line, 停止 and 继续, closing it
// and the main window while it runs, and the settings kept between starts.

#include <filesystem>
#include <fstream>

#include "app/app_texts.h"
#include "desktop/presenter_run.h"
#include "file_text.h"
#include "scratch_path.h"
#include "sim/file_content.h"

namespace sharelink {
namespace {

namespace fs = std::filesystem;

const char* const kFixture =
    u8R"json({
  "options": {"quiet": true},
  "shares": [
    {"surl": "1WinDlA", "shareid": 81, "uk": 91, "root": "/分享",
     "tree": [
       {"name": "说明.txt", "size": 5000, "fs_id": 801},
       {"name": "资料", "children": [{"name": "x.bin", "size": 2097152, "fs_id": 802}]},
       {"name": "big.bin", "size": 3145728, "fs_id": 803}
     ]},
    {"surl": "1WinCapC", "shareid": 83, "uk": 93, "download_captcha": "from:4",
     "tree": [
       {"name": "说明.txt", "size": 5000, "fs_id": 801},
       {"name": "资料", "children": [{"name": "x.bin", "size": 2097152, "fs_id": 802}]},
       {"name": "big.bin", "size": 3145728, "fs_id": 803}
     ]},
    {"surl": "1WinHugeB", "shareid": 82, "uk": 92,
     "tree": [{"name": "巨大.bin", "size": 1152921504606846976, "fs_id": 805}]}
  ]
})json";

struct Landed {
  const char* path;
  std::uint64_t fs_id, size;
};
const Landed kLanded[] = {
    {u8"说明.txt", 801, 5000}, {u8"资料/x.bin", 802, 2097152}, {u8"big.bin", 803, 3145728}};

class DownloadWindow : public PresenterRun {
 protected:
  DownloadWindow() : PresenterRun(kFixture) {}
  void TearDown() override {
    view.answer_yes = true;
    presenter.close_clicked();
    EXPECT_TRUE(jobs.wait_idle(std::chrono::seconds(5)));
  }

  // A job on surl, then 下载 into the scratch folder: the window is open.
  void open(const char* surl, const std::function<void(sim::ContentKnobs&)>& knobs = {}) {
    if (knobs) {
      sim::Knobs all = sim.sim().knobs();
      knobs(all.content);
      sim.sim().set_knobs(all);
    }
    job_view.set_window(&presenter);
    view.url = sim.link(surl);
    presenter.parse_clicked();
    ASSERT_TRUE(run_until([&] { return ended() && view.download_enabled; }));
    view.folder_answer = folder.path();
    presenter.download_clicked();
    ASSERT_NE(view.download_window, nullptr);
    window = view.download_window.get();
  }
  bool finished() { return !presenter.download()->running(); }
  void expect_landed() {
    for (const Landed& file : kLanded) {
      EXPECT_TRUE(testing::file_text(fs::u8path(folder.path() + "/" + file.path)) ==
                  sim::file_bytes(file.fs_id, 0, file.size))
          << file.path;
    }
  }
  std::vector<std::string> states() {
    std::vector<std::string> shown;
    for (std::size_t row = 0; row < presenter.download()->row_count(); ++row)
      shown.push_back(presenter.download()->row(row).state);
    return shown;
  }

  testing::ScratchPath folder{std::string("desktop-download-") +
                              ::testing::UnitTest::GetInstance()->current_test_info()->name()};
  FakeDownloadView* window = nullptr;
};

TEST_F(DownloadWindow, ListsThenDownloadsEveryFileWhileTheMainWindowStaysFree) {
  open("1WinDlA");
  EXPECT_EQ(window->rows, 3u);
  EXPECT_EQ(window->total.rfind("共 3 个文件, 5.0 MB, 可用空间 ", 0), 0u) << window->total;
  EXPECT_TRUE(window->start && !window->stop && !window->resume);
  // In the list's order, which lists a folder's files after the top's.
  EXPECT_EQ(presenter.download()->row(2).path, "资料/x.bin");
  EXPECT_EQ(presenter.download()->row(2).state, kRowWaiting);

  window->presenter.start_clicked();
  EXPECT_FALSE(view.download_enabled);
  EXPECT_TRUE(!window->start && window->stop);
  // A new job may run meanwhile: the download keeps its own list and session.
  view.url = sim.link("1WinHugeB");
  presenter.parse_clicked();
  ASSERT_TRUE(run_until([&] { return finished() && ended(); }));
  EXPECT_EQ(states(), std::vector<std::string>(3, kRowDone));
  EXPECT_EQ(presenter.download()->row(2).progress, "100%");
  EXPECT_EQ(window->total.rfind("下载结束: 3 个文件完成, 0 个失败, 5.0 MB, 用时 ", 0), 0u)
      << window->total;
  EXPECT_FALSE(window->warns || window->resume);
  expect_landed();
  window->presenter.open_folder_clicked();
  EXPECT_EQ(window->opened, std::vector<std::string>{folder.path()});
  // 下载 again for the job that ran meanwhile: the chooser starts in the
  // folder used last, and a cancel there changes nothing.
  EXPECT_TRUE(view.download_enabled);
  view.folder_answer.clear();
  presenter.download_clicked();
  EXPECT_EQ(view.chooser_start, folder.path());
  EXPECT_EQ(view.download_window.get(), window);
  EXPECT_FALSE(window->closed);
  presenter.close_clicked();
  EXPECT_TRUE(view.questions.empty());
}

TEST_F(DownloadWindow, StopKeepsWhatCameAndContinueFetchesOnlyTheRest) {
  open("1WinDlA", [](sim::ContentKnobs& k) { k.rate = 512 << 10; });
  window->presenter.start_clicked();
  ASSERT_TRUE(run_until([&] { return presenter.download()->row(2).fraction > 0.1; }));
  window->presenter.stop_clicked();
  EXPECT_TRUE(finished());
  EXPECT_TRUE(window->resume && !window->stop);
  EXPECT_EQ(window->total.rfind("下载结束: ", 0), 0u) << window->total;
  EXPECT_TRUE(view.download_enabled);
  const std::uint64_t first = sim.sim().content_bytes_served();

  // Paced, so that a piece cut in two leaves few bytes in its socket.
  sim::Knobs fast = sim.sim().knobs();
  fast.content.rate = 1 << 20;
  sim.sim().set_knobs(fast);
  window->presenter.resume_clicked();
  ASSERT_TRUE(run_until([&] { return finished(); }));
  expect_landed();
  EXPECT_LT(sim.sim().content_bytes_served() - first, 5000u + 2097152 + 3145728);
}

// The close box of the window, or of the main window, during a download:
// 否 keeps it running, 是 stops it with its record written.
struct CloseCase {
  const char* name;
  bool main_window;
  bool yes;
};

class DownloadClose : public DownloadWindow, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(DownloadClose, AsksAndStopsOnlyWhenTheUserAgrees) {
  const CloseCase& row = GetParam();
  open("1WinDlA", [](sim::ContentKnobs& k) { k.rate = 256 << 10; });
  window->presenter.start_clicked();
  ASSERT_TRUE(run_until([&] { return presenter.download()->row(2).fraction > 0; }));
  view.answer_yes = row.yes;
  if (row.main_window) {
    presenter.close_clicked();
  } else {
    window->presenter.close_requested();
  }
  EXPECT_EQ(view.questions, std::vector<std::string>{kStopDownloadQuestion});
  EXPECT_EQ(presenter.download()->running(), !row.yes);
  EXPECT_EQ(window->closed, row.yes);
  EXPECT_EQ(bridge.closed(), row.main_window && row.yes);
  EXPECT_EQ(fs::exists(folder.path() + "/.sharelink-download.json"), true);
}

INSTANTIATE_TEST_SUITE_P(Rows, DownloadClose,
                         ::testing::Values(CloseCase{"window_no", false, false},
                                           CloseCase{"window_yes", false, true},
                                           CloseCase{"main_no", true, false},
                                           CloseCase{"main_yes", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// What a row and the total line say when files fail, and when a link expires.
struct FaultCase {
  const char* name;
  const char* surl;
  std::function<void(sim::ContentKnobs&)> knobs;
  const char* state;  // of x.bin
  bool warns;
};

class DownloadFaults : public DownloadWindow, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(DownloadFaults, RowsTellEachFilesEnd) {
  const FaultCase& row = GetParam();
  open(row.surl, row.knobs);
  window->presenter.start_clicked();
  ASSERT_TRUE(run_until([&] { return finished(); }));
  // A renewal's captcha opens the usual window, for the download's session.
  for (const AppState* answers : view.prompt_states)
    EXPECT_NE(answers, &state);
  EXPECT_EQ(presenter.download()->row(2).state.rfind(row.state, 0), 0u)
      << presenter.download()->row(2).state;
  EXPECT_EQ(presenter.download()->row(2).failed, row.warns);
  // Links asked for again past the job's three; a captcha only where the share demands one.
  EXPECT_EQ(sim.requests("download").size() > 3, std::string(row.name) != "short");
  EXPECT_EQ(view.prompt_states.empty(), std::string(row.surl) != "1WinCapC");
  EXPECT_EQ(window->warns, row.warns) << window->total;
  EXPECT_EQ(window->resume, row.warns);
  if (!row.warns) expect_landed();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DownloadFaults,
    ::testing::Values(FaultCase{"short", "1WinDlA", [](sim::ContentKnobs& k) { k.short_by = 10; },
                                "失败: 服务器上的文件有 ", true},
                      // Each connection drops after 200,000 bytes and tries again a second
                      // later, when the link it had has aged past its second.
                      FaultCase{"expired_renewed", "1WinDlA",
                                [](sim::ContentKnobs& k) {
                                  k.link_lifetime_seconds = 1, k.drop_after = 200000;
                                },
                                "已完成", false},
                      // Every link expires at once: the renewal, in the download's own
                      // session, meets a captcha, whose window is closed unanswered.
                      FaultCase{"captcha_given_up", "1WinCapC",
                                [](sim::ContentKnobs& k) { k.link_lifetime_seconds = 0; },
                                "失败: 无法重新获取下载地址: ", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DownloadWindow, AShareLargerThanTheDiskIsShownInRedAndNeverStarts) {
  open("1WinHugeB");
  EXPECT_TRUE(window->warns);
  EXPECT_EQ(window->total.rfind("下载未开始: 磁盘空间不足, 需要 ", 0), 0u) << window->total;
  window->presenter.start_clicked();
  EXPECT_EQ(window->messages, std::vector<std::string>{window->total});
  EXPECT_TRUE(finished());
  EXPECT_EQ(sim.sim().content_bytes_served(), 0u);
}

// The settings file: what one start keeps, the next finds; a broken or
// missing file gives the defaults.
TEST(DesktopSettings, KeptAcrossStartsAndDefaultsWhenBroken) {
  testing::ScratchPath folder("desktop-settings");
  const std::string file = folder.path() + "/sub/settings.ini";
  struct Start {
    const char* content;  // written before the start; nullptr: what the last one kept
    bool choose;
    std::optional<WindowPlace> place;
  };
  const Start starts[] = {
      {"", false, std::nullopt},
      {nullptr, true, WindowPlace{120, 80, 700, 500}},
      {nullptr, true, WindowPlace{120, 80, 700, 500}},
      {"choose_first=1\nmain_window=1,2,-3,4\n\x80\xff=\n", true, std::nullopt},
  };
  for (const Start& start : starts) {
    if (start.content) {
      fs::create_directories(folder.path() + "/sub");
      std::ofstream(file, std::ios::binary) << start.content;
    }
    AppState state;
    FakeLoop loop;
    UiBridge bridge(loop.post());
    LogQueue queue;
    DesktopJobView job_view{bridge, queue};
    JobLauncher jobs{state, job_view};
    FakeMainView view{state};
    MainPresenter presenter{state, jobs, bridge, queue, view, nullptr, file};
    presenter.started();
    EXPECT_EQ(view.choose, start.choose);
    EXPECT_EQ(presenter.settings().main_window.has_value(), start.place.has_value());
    // What this start leaves for the next.
    view.choose = true;
    view.place = WindowPlace{120, 80, 700, 500};
    presenter.close_clicked();
  }
  EXPECT_FALSE(fs::exists(file + ".tmp"));
}

}  // namespace
}  // namespace sharelink
