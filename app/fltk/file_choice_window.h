#pragma once

// The window "选择文件" on FLTK, drawn here and run by its FileChoicePresenter:
// the filter box with 选中 and 取消选中, the share's tree as a list, the count
// line and 确定.

#include <cstddef>
#include <memory>
#include <string>

#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Scrollbar.H>

#include "app/desktop/file_choice.h"

namespace sharelink {

// The tree as a list that draws only the rows in view and asks the presenter
// for nothing else, so that a share of any size scrolls as fast as a small one.
// A row: the indent of its depth, the sign of a folder, the check box, the name
// and the size at the right.
class ChoiceList : public Fl_Group {
 public:
  ChoiceList(int x, int y, int w, int h, FileChoicePresenter& presenter);

  // The presenter's rows changed, in number or in what they show.
  void rows_changed();
  std::size_t current_row() const { return current_; }
  // Rows that fit whole, at least one: a page.
  int page_rows() const;
  Fl_Scrollbar& scrollbar() { return *scrollbar_; }
  void resize(int x, int y, int w, int h) override;

 protected:
  void draw() override;
  int handle(int event) override;

 private:
  // Where a row's parts start, in window coordinates.
  struct Columns {
    int sign, box, name, size;
  };

  int row_height() const;
  Columns columns(std::size_t depth) const;
  void draw_row(std::size_t index, int top);
  int handle_push();
  int handle_key();
  // Moves the current row, clamped to the rows, and scrolls it into view.
  void go_to(long row);
  void toggle_open(std::size_t row);
  // Shows the rows from row on, clamped so that the last page is full.
  void scroll_to(long row);
  void update_scrollbar();

  FileChoicePresenter& presenter_;
  Fl_Scrollbar* scrollbar_;
  std::size_t current_ = 0;
  std::size_t top_ = 0;  // the first row in view
};

class FileChoiceWindow : public Fl_Double_Window, public FileChoiceView {
 public:
  FileChoiceWindow(std::unique_ptr<ShareTree> tree, FileChoicePresenter::OnClosed on_closed);

  // Tells the presenter the window has closed, by either way, and then lets
  // the toolkit delete the window.
  void hide() override;
  void resize(int x, int y, int w, int h) override;

  std::string filter_text() const override;
  void rows_changed() override;
  void set_summary(const std::string& text) override;
  void show_message(const std::string& text, const std::string& caption) override;
  void close() override { hide(); }

  // For the benchmark, which drives the list as the user would.
  FileChoicePresenter& presenter() { return presenter_; }
  ChoiceList& list() { return *列表框_文件; }

 private:
  FileChoicePresenter presenter_;
  bool closed_ = false;
  ChoiceList* 列表框_文件;
  Fl_Input* 编辑框_筛选;
  Fl_Button* 按钮1;
  Fl_Button* 按钮2;
  Fl_Box* 标签_统计;
  Fl_Button* 按钮3;
};

// Main thread: creates the window above the others, shows it with the list's
// first row current and the keyboard in the list, and returns.
void open_file_choice_window(std::unique_ptr<ShareTree> tree,
                             FileChoicePresenter::OnClosed on_closed);

}  // namespace sharelink
