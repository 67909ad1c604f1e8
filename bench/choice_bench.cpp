// How the window "选择文件" copes with a large share, on a display (Xvfb in
// scripts/bench): opening it, checking a folder of 10,000 files, and scrolling
// through that folder a page at a time. Every figure ends when the drawing has
// reached the X server.
//
//   DISPLAY=:N sharelink-choice-bench
//
// The share: 100 folders of 100 files and one folder of 10,000 files, 20,000
// files in 20,101 entries. Prints one "name value" line per figure
// (milliseconds) for bench/bench.py; exit 1 when the window did not do what
// it was told, 2 without a display.

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <FL/Fl.H>
#include <FL/x.H>

#include "app/fltk/file_choice_window.h"
#include "share/file_entry.h"

namespace {

using namespace sharelink;
using Clock = std::chrono::steady_clock;

constexpr int kFolders = 100;
constexpr int kFolderFiles = 100;
constexpr int kBigFolderFiles = 10000;

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string numbered(const char* format, int number) {
  char text[64];
  std::snprintf(text, sizeof text, format, number);
  return text;
}

void add(FileList& files, const std::string& parent, const std::string& name, bool folder,
         std::uint64_t size) {
  FileEntry entry;
  entry.fs_id = std::to_string(400000000000000ULL + files.size());
  entry.isdir = folder ? "1" : "0";
  entry.server_filename = name;
  entry.decoded_parent_path = parent;
  entry.path = parent + "/" + name;
  entry.size = folder ? "0" : std::to_string(size);
  files.push_back(std::move(entry));
}

// Folders before what they hold, as a listing of the share gives them.
FileList make_share(int folders, int folder_files, int big_folder_files) {
  const std::string root = "/我的分享/基准";
  FileList files;
  for (int folder = 1; folder <= folders; ++folder) {
    const std::string name = numbered("照片 %03d", folder);
    add(files, root, name, true, 0);
    for (int file = 1; file <= folder_files; ++file) {
      add(files, root + "/" + name, numbered("IMG_%05d 海边.jpg", file), false,
          static_cast<std::uint64_t>(folder * 7919 + file * 104729) % 6000000);
    }
  }
  const std::string big = "大目录 (一万个文件)";
  add(files, root, big, true, 0);
  for (int file = 1; file <= big_folder_files; ++file) {
    add(files, root + "/" + big, numbered("记录 %05d.dat", file), false,
        static_cast<std::uint64_t>(file) * 4096);
  }
  return files;
}

// Draws what is damaged and waits until the X server has it.
void settle() {
  Fl::flush();
  XSync(fl_display, False);
}

FileChoiceWindow* open_window(const FileList& files) {
  auto* window = new FileChoiceWindow(std::make_unique<ShareTree>(files),
                                      [](FileChoice, const std::string&) {});
  window->show();
  window->wait_for_expose();
  settle();
  return window;
}

void close_window(FileChoiceWindow* window) {
  window->hide();
  Fl::do_widget_deletion();
}

}  // namespace

int main() {
  // As the program does: fontconfig picks a font with the Chinese glyphs.
  setenv("FC_LANG", "zh-cn", 0);
  std::setlocale(LC_CTYPE, "");
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "sharelink-choice-bench: cannot open the X display\n");
    return 2;
  }
  fl_open_display(display);
  Fl::scheme("gtk+");

  // The program's main window has loaded the fonts and the scheme by the time
  // a choice opens: a small window does that here.
  close_window(open_window(make_share(2, 30, 0)));

  const FileList files = make_share(kFolders, kFolderFiles, kBigFolderFiles);
  const Clock::time_point opening = Clock::now();
  FileChoiceWindow* window = open_window(files);
  const double open_ms = ms_since(opening);

  FileChoicePresenter& presenter = window->presenter();
  ChoiceList& list = window->list();
  const std::size_t big = presenter.row_count() - 1;
  bool ok = presenter.row(big).folder;
  // Unchecking and checking again: the longer counts.
  double check_ms = 0;
  for (const CheckState expected : {CheckState::unchecked, CheckState::checked}) {
    const Clock::time_point start = Clock::now();
    presenter.check_clicked(big);
    settle();
    check_ms = std::max(check_ms, ms_since(start));
    ok = ok && presenter.row(big).check == expected;
  }

  presenter.set_open(big, true);
  settle();
  const std::size_t rows = presenter.row_count();
  ok = ok && rows == big + 1 + kBigFolderFiles;
  const long page = list.page_rows();
  const long last_top = static_cast<long>(rows) - page;
  Fl_Scrollbar& bar = list.scrollbar();
  double longest_ms = 0, total_ms = 0;
  int steps = 0;
  for (long top = page;; top = std::min(top + page, last_top)) {
    const Clock::time_point start = Clock::now();
    bar.value(static_cast<int>(top));
    bar.do_callback();
    settle();
    const double step_ms = ms_since(start);
    longest_ms = std::max(longest_ms, step_ms);
    total_ms += step_ms;
    ++steps;
    if (top >= last_top) break;
  }
  ok = ok && bar.value() == last_top;
  close_window(window);

  std::printf("entries %zu\n", files.size());
  std::printf("files %d\n", kFolders * kFolderFiles + kBigFolderFiles);
  std::printf("rows %zu\n", rows);
  std::printf("page_rows %ld\n", page);
  std::printf("open_ms %.2f\n", open_ms);
  std::printf("check_ms %.2f\n", check_ms);
  std::printf("scroll_steps %d\n", steps);
  std::printf("scroll_longest_ms %.2f\n", longest_ms);
  std::printf("scroll_mean_ms %.3f\n", total_ms / steps);
  if (!ok) std::fprintf(stderr, "sharelink-choice-bench: the window did not follow the steps\n");
  return ok ? 0 : 1;
}
