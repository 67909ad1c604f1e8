// How smoothly the window "下载" scrolls a list of 10,000 files, on a display
// (Xvfb in scripts/bench): the list from top to bottom a wheel notch at a
// time, then a page at a time, then a jump to the end and one back to the
// top. Each step is timed from the event to the drawing having reached the X
// server (Fl::flush, XSync).
//
//   DISPLAY=:N sharelink-scroll-bench
//
// Prints one "name value" line per figure (milliseconds) for bench/bench.py;
// exit 1 when the list did not move as told, 2 without a display or folder.

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include <FL/Fl.H>
#include <FL/Fl_Scrollbar.H>
#include <FL/x.H>

#include "app/fltk/download_window.h"
#include "share/file_entry.h"

namespace {

using namespace sharelink;
using Clock = std::chrono::steady_clock;

constexpr int kFiles = 10000;
constexpr int kWheelRows = 3;

// Parents before what they hold, as a listing of the share gives them.
const char* const kFolders[] = {"课程视频",   "课程视频/第三学期 数据结构 (回放)",
                                "照片",       "照片/二〇二三年 春节 家庭聚会",
                                "合同与发票", "音乐 无损合集"};
// With the qualifiers, names of 1 to some 40 characters.
const char* const kSubjects[] = {"图",
                                 "会议记录",
                                 "第一章 绪论",
                                 "客户回访录音",
                                 "数据结构与算法 课堂笔记",
                                 "北京 上海 出差照片汇总"};
const char* const kQualifiers[] = {"", " 最终版", " (副本)", "_扫描件", " 十二月 修订稿 已审阅"};
const char* const kExtensions[] = {".pdf", ".docx", ".mp4", ".jpg", ".flac", ".zip", ".txt"};

void add(FileList& files, const std::string& parent, const std::string& name, bool folder,
         std::uint64_t size) {
  // fs_id, app_id, parent_path, decoded_parent_path, server_filename, size, isdir, path, dlink
  files.push_back({std::to_string(500000000000000ULL + files.size()), "", "", parent, name,
                   folder ? "0" : std::to_string(size), folder ? "1" : "0", parent + "/" + name,
                   ""});
}

FileList make_share() {
  const std::string root = "/我的分享/资料";
  FileList files;
  for (const char* folder : kFolders) {
    const std::string path = folder;
    const std::size_t slash = path.rfind('/');
    const std::string parent =
        slash == std::string::npos ? root : root + "/" + path.substr(0, slash);
    add(files, parent, path.substr(slash == std::string::npos ? 0 : slash + 1), true, 0);
  }
  for (int file = 0; file < kFiles; ++file) {
    const auto i = static_cast<std::size_t>(file);
    const std::string name = kSubjects[i % std::size(kSubjects)] +
                             std::string(kQualifiers[(i / 3) % std::size(kQualifiers)]) + " " +
                             std::to_string(file + 1) +
                             kExtensions[(i / 7) % std::size(kExtensions)];
    // Up to 5 MB, some 25 GB in all: the total fits, as a download's usually does.
    const std::uint64_t size = (i * 2654435761ULL) % 5000000ULL;
    add(files, root + "/" + kFolders[i % std::size(kFolders)], name, false, size);
  }
  return files;
}

// No download starts here: neither is asked.
struct NoHost : DownloadHost {
  void open_download_captcha(std::shared_ptr<AppState>, std::function<void()>) override {}
  void download_running(bool) override {}
};

// Draws what is damaged and waits until the X server has it.
void settle() {
  Fl::flush();
  XSync(fl_display, False);
}

// The table's own vertical scroll bar: the list's row position in pixels.
Fl_Scrollbar* vertical_bar(Fl_Group& table) {
  // Fl_Table hides its scroll bars from children(); Fl_Group's own count has them.
  for (int i = 0; i < table.Fl_Group::children(); ++i) {
    auto* bar = dynamic_cast<Fl_Scrollbar*>(table.Fl_Group::child(i));
    if (bar && !(bar->type() & FL_HORIZONTAL)) return bar;
  }
  return nullptr;
}

struct Steps {
  std::vector<double> ms;

  template <typename Event>
  void time(Event event) {
    const Clock::time_point start = Clock::now();
    event();
    settle();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }

  void print(const char* name) const {
    std::vector<double> sorted = ms;
    std::sort(sorted.begin(), sorted.end());
    const double total = std::accumulate(sorted.begin(), sorted.end(), 0.0);
    const auto p99 = static_cast<std::size_t>(std::ceil(0.99 * sorted.size())) - 1;
    std::printf("%s_steps %zu\n%s_mean_ms %.3f\n%s_p99_ms %.2f\n%s_longest_ms %.2f\n", name,
                sorted.size(), name, total / sorted.size(), name, sorted[p99], name, sorted.back());
  }
};

// Notches of the mouse wheel over the list, through the toolkit's dispatch.
void wheel(Fl_Window& window, Fl_Widget& table, int notches) {
  Fl::e_x = table.x() + table.w() / 2;
  Fl::e_y = table.y() + table.h() / 2;
  Fl::e_x_root = window.x() + Fl::e_x;
  Fl::e_y_root = window.y() + Fl::e_y;
  Fl::e_dx = 0;
  Fl::e_dy = notches;
  Fl::handle(FL_MOUSEWHEEL, &window);
}

void key(Fl_Scrollbar& bar, int keysym) {
  Fl::e_keysym = keysym;
  bar.handle(FL_KEYBOARD);
}

// The list from top to bottom by the wheel, then by pages, then to the end
// and back at once; false when it did not move as told.
bool scroll_through(DownloadWindow& window, Steps& wheel_steps, Steps& page_steps,
                    Steps& jump_steps) {
  DownloadTable& table = window.table();
  Fl_Scrollbar* bar = vertical_bar(table);
  const int row_height = table.row_height(0);
  if (!bar || table.rows() != kFiles || bar->maximum() <= 0) return false;
  // X reports a notch of the wheel as one line of the scroll bar.
  wheel(window, table, 1);
  settle();
  bool ok = bar->value() == kWheelRows * row_height;
  key(*bar, FL_Home);
  settle();
  while (ok && bar->value() < bar->maximum()) {
    const double before = bar->value();
    wheel_steps.time([&] { wheel(window, table, 1); });
    ok = bar->value() > before;
  }
  key(*bar, FL_Home);
  settle();
  while (ok && bar->value() < bar->maximum()) {
    const double before = bar->value();
    page_steps.time([&] { key(*bar, FL_Page_Down); });
    ok = bar->value() > before;
  }
  key(*bar, FL_Home);
  settle();
  jump_steps.time([&] { key(*bar, FL_End); });
  ok = ok && bar->value() == bar->maximum();
  jump_steps.time([&] { key(*bar, FL_Home); });
  return ok && bar->value() == 0;
}

}  // namespace

int main() {
  // As the program does: fontconfig picks a font with the Chinese glyphs.
  setenv("FC_LANG", "zh-cn", 0);
  std::setlocale(LC_CTYPE, "");
  Display* display = XOpenDisplay(nullptr);
  char scratch[] = "/tmp/sharelink-scroll-XXXXXX";
  if (!display || !mkdtemp(scratch)) {
    std::fprintf(stderr, "sharelink-scroll-bench: no X display or no scratch folder\n");
    return 2;
  }
  fl_open_display(display);
  Fl::scheme("gtk+");

  Steps wheel_steps, page_steps, jump_steps;
  bool ok = false;
  {
    UiBridge bridge(
        [](void (*handler)(void*), void* data) { return Fl::awake(handler, data) == 0; });
    NoHost host;
    DownloadSource source;
    source.files = std::make_shared<const FileList>(make_share());
    DownloadPresenter presenter(std::make_shared<AppState>(), std::move(source), scratch, 4, bridge,
                                host);
    // As the main window opens it.
    auto* window = new DownloadWindow(presenter, nullptr);
    window->set_non_modal();
    window->show();
    presenter.opened(*window);
    window->wait_for_expose();
    settle();
    ok = scroll_through(*window, wheel_steps, page_steps, jump_steps);
    window->close();
    Fl::do_widget_deletion();
  }
  std::error_code error;
  std::filesystem::remove_all(scratch, error);
  if (!ok) {
    std::fprintf(stderr, "sharelink-scroll-bench: the list did not scroll as told\n");
    return 1;
  }
  std::printf("files %d\n", kFiles);
  wheel_steps.print("wheel");
  page_steps.print("page");
  jump_steps.print("jump");
  return 0;
}
