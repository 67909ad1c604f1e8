#pragma once

// The window "选择文件" on Win32, drawn here and run by a FileChoicePresenter:
// the filter box with 选中 and 取消选中, the share's tree as a list that asks
// for the rows it draws, the count line and 确定.

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <cstddef>
#include <memory>
#include <string>

#include "app/desktop/file_choice.h"
#include "app/desktop/row_cache.h"
#include "app/win32/top_window.h"
#include "app/win32/win_support.h"

namespace sharelink {

class FileChoiceWindow : public TopWindow, public FileChoiceView {
 public:
  // Main thread: creates the window above owner, shows it with the list's
  // first row current and the keyboard in the list, and returns. on_closed
  // runs when it has closed, or at once (the choice given up) when the system
  // refused the window.
  static void open(HWND owner, std::unique_ptr<ShareTree> tree,
                   FileChoicePresenter::OnClosed on_closed);

  std::string filter_text() const override;
  void rows_changed() override;
  void set_summary(const std::string& text) override;
  void show_message(const std::string& text, const std::string& caption) override;
  void close() override;

 private:
  FileChoiceWindow(std::unique_ptr<ShareTree> tree, FileChoicePresenter::OnClosed on_closed);
  ~FileChoiceWindow() override;

  static LRESULT CALLBACK list_proc(HWND list, UINT message, WPARAM wparam, LPARAM lparam,
                                    UINT_PTR id, DWORD_PTR self);
  LRESULT handle_message(UINT message, WPARAM wparam, LPARAM lparam) override;
  void make_controls();
  // The controls at their boxes for the client area's size.
  void arrange();
  void command(int id);
  LRESULT notified(NMHDR& header);
  LRESULT custom_draw(const NMLVCUSTOMDRAW& draw);
  void fill_item(LVITEMW& item);
  void clicked(const NMITEMACTIVATE& click, bool twice);
  // The list's own keys; true when the key was ours.
  bool list_key(WPARAM key);
  // The row the keyboard is on, kNoRow before there is one, and making a row
  // that.
  static constexpr std::size_t kNoRow = static_cast<std::size_t>(-1);
  std::size_t current_row() const;
  void make_current(std::size_t row);
  void fit_name_column();
  // The list's pictures, row height and columns at the window's DPI.
  void scale_list();

  FileChoicePresenter presenter_;
  HIMAGELIST signs_ = nullptr;  // open and closed folders: the state images
  HIMAGELIST boxes_ = nullptr;  // check boxes: the small images
  int image_height_ = 0;
  RowCache<ChoiceRow> rows_;
  HWND 编辑框_筛选 = nullptr;
  HWND 按钮_选中 = nullptr;
  HWND 按钮_取消选中 = nullptr;
  HWND 列表_文件 = nullptr;
  HWND 标签_统计 = nullptr;
  HWND 按钮_确定 = nullptr;
};

}  // namespace sharelink
