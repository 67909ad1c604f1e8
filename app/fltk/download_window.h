#pragma once

// The window "下载" on FLTK, drawn here and run by its DownloadPresenter: the
// list of files with their progress, the total line and the buttons 开始,
// 停止, 继续 and 打开文件夹.

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Table.H>

#include "app/desktop/download_presenter.h"
#include "app/desktop/row_cache.h"
#include "app/fltk/widgets.h"

namespace sharelink {

// The files as a table that asks for the rows it draws and for nothing else,
// so that ten thousand files scroll as fast as ten. Columns: the path, the
// size, a bar with the percentage, the speed and the state.
class DownloadTable : public Fl_Table {
 public:
  using RowSource = std::function<DownloadRow(std::size_t)>;

  DownloadTable(int x, int y, int w, int h, RowSource rows);
  void set_row_count(std::size_t rows);
  // The rows' texts changed: those on screen are asked for again.
  void refresh();
  void resize(int x, int y, int w, int h) override;

 protected:
  void draw_cell(TableContext context, int row, int column, int x, int y, int w, int h) override;

 private:
  // The path takes what the fixed columns leave.
  void fit_columns();
  const DownloadRow& row_at(int row);
  void draw_progress(const DownloadRow& row, int x, int y, int w, int h);

  RowSource rows_;
  RowCache<DownloadRow> cached_;
};

class DownloadWindow : public Fl_Double_Window, public DownloadView {
 public:
  // on_closed runs once, with this window, when close() takes it away for
  // good.
  DownloadWindow(DownloadPresenter& presenter, std::function<void(Fl_Window*)> on_closed);
  ~DownloadWindow() override;

  void resize(int x, int y, int w, int h) override;

  void set_row_count(std::size_t rows) override;
  void refresh_rows() override;
  void set_total(const std::string& text, bool warn) override;
  void set_buttons(bool start, bool stop, bool resume) override;
  bool schedule(std::chrono::milliseconds delay) override;
  void show_message(const std::string& text, const std::string& caption) override;
  bool ask(const std::string& question, const std::string& caption) override;
  void open_folder(const std::string& folder) override;
  void close() override;

  DownloadTable& table() { return *列表_文件; }

 private:
  static void on_timer(void* window);
  void place_controls();

  DownloadPresenter& presenter_;
  std::function<void(Fl_Window*)> on_closed_;
  bool closed_ = false;
  DownloadTable* 列表_文件;
  TextLine* 标签_合计;
  Fl_Button* 按钮_开始;
  Fl_Button* 按钮_停止;
  Fl_Button* 按钮_继续;
  Fl_Button* 按钮_打开文件夹;
};

// Starts the desktop's file manager on folder (UTF-8), detached: xdg-open
// with the folder as its one argument, never through a shell.
void open_in_file_manager(const std::string& folder);

}  // namespace sharelink
