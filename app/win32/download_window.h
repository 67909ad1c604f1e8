#pragma once

// The window "下载" on Win32, drawn here and run by a DownloadPresenter: the
// files as a list that asks for the rows it draws, the total line, 开始,
// 停止, 继续 and 打开文件夹. Modeless and owned by the main window.

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <chrono>
#include <cstddef>
#include <string>

#include "app/desktop/download_presenter.h"
#include "app/desktop/row_cache.h"
#include "app/win32/top_window.h"
#include "app/win32/win_support.h"

namespace sharelink {

// Its class: the main window leaves it out when it closes its prompts.
constexpr wchar_t kDownloadWindowClass[] = L"sharelink.download";

class DownloadWindow : public TopWindow, public DownloadView {
 public:
  // Main thread: creates the window above owner and shows it; null when the
  // system refused. The window owns the object: it goes with the window, by
  // close() or with its owner.
  static DownloadView* open(HWND owner, DownloadPresenter& presenter);

  void set_row_count(std::size_t rows) override;
  void refresh_rows() override;
  void set_total(const std::string& text, bool warn) override;
  void set_buttons(bool start, bool stop, bool resume) override;
  bool schedule(std::chrono::milliseconds delay) override;
  void show_message(const std::string& text, const std::string& caption) override;
  bool ask(const std::string& question, const std::string& caption) override;
  void open_folder(const std::string& folder) override;
  void close() override;

 private:
  explicit DownloadWindow(DownloadPresenter& presenter) : presenter_(presenter) {}
  ~DownloadWindow() override = default;

  LRESULT handle_message(UINT message, WPARAM wparam, LPARAM lparam) override;
  void make_controls();
  void command(int id);
  // The controls at their boxes for the client area's size, and the
  // columns' widths at the window's DPI.
  void arrange();
  LRESULT notified(NMHDR& header);
  LRESULT custom_draw(NMLVCUSTOMDRAW& draw);
  void draw_bar(const NMLVCUSTOMDRAW& draw);
  void fill_item(LVITEMW& item);
  const DownloadRow& row(std::size_t index);

  DownloadPresenter& presenter_;
  // Set once the window is being destroyed: close() then has nothing to do.
  bool closing_ = false;
  bool warn_ = false;
  RowCache<DownloadRow> rows_;
  HWND 列表_文件 = nullptr;
  HWND 标签_合计 = nullptr;
  HWND 按钮_开始 = nullptr;
  HWND 按钮_停止 = nullptr;
  HWND 按钮_继续 = nullptr;
  HWND 按钮_打开文件夹 = nullptr;
};

}  // namespace sharelink
