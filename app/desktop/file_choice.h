#pragma once

// What the window "选择文件" does, whatever draws it: the share's tree with a
// check box on every entry, folders that open and close, a filter that checks
// or unchecks what it matches, a line that counts what is checked, 确定 and
// the close box. The job waits while it is open: 确定 hands the choice on
// (never an empty one) and closes the window, the close box gives the choice
// up. The toolkit's list asks for the rows it draws, so a share of any size
// opens at once. Main thread only; texts are local text.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/job_view.h"
#include "app/share_tree.h"

namespace sharelink {

struct ChoiceRow {
  std::size_t depth = 0;  // folders above it
  bool folder = false;
  bool open = false;
  CheckState check = CheckState::unchecked;
  std::string name;  // safe to show
  std::string size;  // size_text
};

class FileChoiceView {
 public:
  virtual ~FileChoiceView() = default;
  virtual std::string filter_text() const = 0;
  // The rows changed: how many there are, or what they show.
  virtual void rows_changed() = 0;
  virtual void set_summary(const std::string& text) = 0;
  virtual void show_message(const std::string& text, const std::string& caption) = 0;
  // Closes the window; its closing then reaches FileChoicePresenter::closed.
  virtual void close() = 0;
};

class FileChoicePresenter {
 public:
  using OnClosed = std::function<void(FileChoice, std::string)>;

  // on_closed gets FileChoice::chosen and the mask after 确定, gave_up after
  // the close box.
  FileChoicePresenter(std::unique_ptr<ShareTree> tree, FileChoiceView& view, OnClosed on_closed);
  FileChoicePresenter(const FileChoicePresenter&) = delete;
  FileChoicePresenter& operator=(const FileChoicePresenter&) = delete;

  // The rows shown: the top level and what open folders hold, in tree order.
  std::size_t row_count() const { return rows_.size(); }
  ChoiceRow row(std::size_t index) const;
  // The row of the folder above a row's entry; the row itself at the top.
  std::size_t parent_row(std::size_t index) const;
  std::string summary() const { return tree_->summary(); }

  // The row's box, or Space: a checked entry is unchecked, any other checked.
  void check_clicked(std::size_t row);
  // A folder's sign, a double click, or Left and Right.
  void set_open(std::size_t row, bool open);
  void toggle_open(std::size_t row);
  // 选中 and 取消选中: the files the filter matches, all of them when it is empty.
  void check_matching_clicked() { apply_filter(true); }
  void uncheck_matching_clicked() { apply_filter(false); }
  void ok_clicked();
  // The window has closed, by 确定 or by its close box: on_closed runs, once.
  void closed();

 private:
  void apply_filter(bool checked);
  void rebuild_rows();
  void checks_changed();

  std::unique_ptr<ShareTree> tree_;
  FileChoiceView& view_;
  OnClosed on_closed_;
  std::vector<char> open_;         // per node
  std::vector<std::size_t> rows_;  // nodes shown
  std::string chosen_;             // the mask once 确定 took it
};

}  // namespace sharelink
