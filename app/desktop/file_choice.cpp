#include "app/desktop/file_choice.h"

#include <algorithm>
#include <utility>

#include "app/app_texts.h"
#include "app/service_text.h"
#include "text/local_text.h"

namespace sharelink {

FileChoicePresenter::FileChoicePresenter(std::unique_ptr<ShareTree> tree, FileChoiceView& view,
                                         OnClosed on_closed)
    : tree_(std::move(tree)),
      view_(view),
      on_closed_(std::move(on_closed)),
      open_(tree_->size(), 0) {
  // A share of one folder shows what it holds.
  if (tree_->size() > 0 && tree_->is_folder(0) && tree_->end(0) == tree_->size()) open_[0] = 1;
  rebuild_rows();
}

ChoiceRow FileChoicePresenter::row(std::size_t index) const {
  const std::size_t node = rows_[index];
  ChoiceRow out;
  out.depth = tree_->depth(node);
  out.folder = tree_->is_folder(node);
  out.open = open_[node] != 0;
  out.check = tree_->check_state(node);
  out.name = shown_text(tree_->name(node));
  out.size = size_text(tree_->bytes(node));
  return out;
}

std::size_t FileChoicePresenter::parent_row(std::size_t index) const {
  const std::size_t up = tree_->parent(rows_[index]);
  if (up == ShareTree::kNone) return index;
  // Rows run in tree order, so the folder is above and its row is found by
  // the same order.
  const auto found = std::lower_bound(rows_.begin(), rows_.begin() + index, up);
  return static_cast<std::size_t>(found - rows_.begin());
}

void FileChoicePresenter::check_clicked(std::size_t row) {
  if (row >= rows_.size()) return;
  const std::size_t node = rows_[row];
  tree_->set_checked(node, tree_->check_state(node) != CheckState::checked);
  checks_changed();
}

void FileChoicePresenter::set_open(std::size_t row, bool open) {
  if (row >= rows_.size()) return;
  const std::size_t node = rows_[row];
  if (!tree_->is_folder(node) || (open_[node] != 0) == open) return;
  open_[node] = open ? 1 : 0;
  rebuild_rows();
  view_.rows_changed();
}

void FileChoicePresenter::toggle_open(std::size_t row) {
  if (row < rows_.size()) set_open(row, open_[rows_[row]] == 0);
}

void FileChoicePresenter::apply_filter(bool checked) {
  const std::string pattern = trim_spaces(view_.filter_text());
  if (pattern.empty()) {
    tree_->set_all(checked);
  } else if (tree_->set_matching(pattern, checked) == 0) {
    view_.show_message(kNoMatchMessage, kMessageCaption);
    return;
  }
  checks_changed();
}

void FileChoicePresenter::ok_clicked() {
  if (tree_->checked_files() == 0) {
    view_.show_message(kChooseFileMessage, kMessageCaption);
    return;
  }
  chosen_ = tree_->chosen_mask();
  view_.close();
}

void FileChoicePresenter::closed() {
  if (!on_closed_) return;
  const FileChoice choice = chosen_.empty() ? FileChoice::gave_up : FileChoice::chosen;
  std::exchange(on_closed_, nullptr)(choice, std::move(chosen_));
}

void FileChoicePresenter::rebuild_rows() {
  rows_.clear();
  for (std::size_t node = 0; node < tree_->size();) {
    rows_.push_back(node);
    const bool skip = tree_->is_folder(node) && open_[node] == 0;
    node = skip ? tree_->end(node) : node + 1;
  }
}

void FileChoicePresenter::checks_changed() {
  view_.rows_changed();
  view_.set_summary(tree_->summary());
}

}  // namespace sharelink
