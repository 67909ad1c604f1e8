#include "app/fltk/log_box.h"

#include <algorithm>
#include <climits>

#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>
#include <FL/fl_utf8.h>

#include "app/fltk/widgets.h"

// The log box's answers to the user: positions under the pointer and the
// cursor's steps, editing, the mouse and the keys.

namespace sharelink {

namespace {

constexpr double kDragRepeat = 0.05;

}  // namespace

// --- positions ---------------------------------------------------------------

std::size_t LogBox::col_at(std::string_view line, const Row& row, int x) {
  double at_x = text_x() + kMargin;
  for (std::size_t at = row.start, next = 0; at < row.end; at = next) {
    const double width = char_width(line, at, &next);
    if (x < at_x + width / 2) return at;
    at_x += width;
  }
  return row.end;
}

TextPos LogBox::position_at(int x, int y) {
  const long row = std::max(0, y - text_y()) / row_height();
  Top at = top_;
  if (move(at, row) < row) return store_.end();
  const std::string_view line = store_.line(at.line);
  return {at.line, col_at(line, wrap(line)[at.row], x)};
}

TextPos LogBox::step_char(TextPos pos, int direction) const {
  const std::string_view line = store_.line(pos.line);
  if (direction > 0) {
    if (pos.col >= line.size()) {
      return pos.line + 1 < store_.lines() ? TextPos{pos.line + 1, 0} : pos;
    }
    const int length = fl_utf8len1(line[pos.col]);
    return {pos.line,
            std::min(line.size(), pos.col + static_cast<std::size_t>(std::max(1, length)))};
  }
  if (pos.col == 0) {
    return pos.line > 0 ? TextPos{pos.line - 1, store_.line(pos.line - 1).size()} : pos;
  }
  std::size_t col = pos.col - 1;
  for (int back = 0; back < 3 && col > 0 && (static_cast<unsigned char>(line[col]) & 0xC0) == 0x80;
       ++back)
    --col;
  return {pos.line, col};
}

TextPos LogBox::step_row(TextPos pos, long rows) {
  std::string_view line = store_.line(pos.line);
  std::vector<Row> wrapped = wrap(line);
  Top at{pos.line, row_of(wrapped, pos.col)};
  if (cursor_x_ < 0) {
    const Row& row = wrapped[at.row];
    fl_font(textfont_, textsize_);
    cursor_x_ = text_x() + kMargin +
                fl_width(line.data() + row.start, static_cast<int>(pos.col - row.start));
  }
  if (move(at, rows) == 0) return rows < 0 ? TextPos{} : store_.end();
  line = store_.line(at.line);
  wrapped = wrap(line);
  return {at.line, col_at(line, wrapped[at.row], static_cast<int>(cursor_x_))};
}

TextPos LogBox::word_start(TextPos pos) const {
  const std::string_view line = store_.line(pos.line);
  while (pos.col > 0 && !is_space(line[pos.col - 1]))
    --pos.col;
  return pos;
}

TextPos LogBox::word_end(TextPos pos) const {
  const std::string_view line = store_.line(pos.line);
  while (pos.col < line.size() && !is_space(line[pos.col]))
    ++pos.col;
  return pos;
}

// --- editing -----------------------------------------------------------------

void LogBox::select(TextPos anchor, TextPos to) {
  sel_a_ = anchor;
  sel_b_ = cursor_ = to;
  redraw();
}

void LogBox::move_cursor(TextPos to, bool extend) {
  if (extend) {
    // Extends the selection from its end away from the cursor.
    const TextPos anchor = has_selection() && cursor_ == sel_b_   ? sel_a_
                           : has_selection() && cursor_ == sel_a_ ? sel_b_
                                                                  : cursor_;
    select(anchor, to);
  } else {
    select(to, to);
  }
  show_cursor();
}

void LogBox::copy_selection(int clipboard) {
  if (!has_selection()) return;
  const std::string text = store_.text(selection_start(), selection_end());
  if (text.size() <= INT_MAX) Fl::copy(text.data(), static_cast<int>(text.size()), clipboard);
}

void LogBox::edit(std::string_view text) {
  const TextPos from = has_selection() ? selection_start() : cursor_;
  const TextPos to = has_selection() ? selection_end() : cursor_;
  if (from == to && text.empty()) return;
  std::string removed = store_.text(from, to);
  const TextPos end = store_.replace(from, to, text);
  if (last_edit_.valid && from == to && last_edit_.inserted_end == from) {
    last_edit_.inserted_end = end;  // typing on
  } else {
    last_edit_ = {true, from, end, std::move(removed)};
  }
  cursor_x_ = -1;
  select(end, end);
  show_cursor();
}

void LogBox::undo() {
  if (!last_edit_.valid) return;
  std::string removed = store_.text(last_edit_.at, last_edit_.inserted_end);
  const TextPos end = store_.replace(last_edit_.at, last_edit_.inserted_end, last_edit_.removed);
  last_edit_ = {true, last_edit_.at, end, std::move(removed)};
  cursor_x_ = -1;
  select(end, end);
  show_cursor();
}

// --- events ------------------------------------------------------------------

int LogBox::handle(int event) {
  const bool on_bar = Fl::event_inside(scrollbar_) || Fl::pushed() == scrollbar_;
  switch (event) {
    case FL_PUSH:
      if (on_bar) return Fl_Group::handle(event);
      return handle_push();
    case FL_DRAG:
      if (!dragging_) return Fl_Group::handle(event);
      drag_to(Fl::event_x(), Fl::event_y());
      return 1;
    case FL_RELEASE:
      if (!dragging_) return Fl_Group::handle(event);
      dragging_ = false;
      Fl::remove_timeout(on_drag_timer, this);
      copy_selection(0);
      return 1;
    case FL_MOUSEWHEEL:
      if (Fl::event_dy() == 0) return 0;
      scroll(static_cast<long>(Fl::event_dy()) * kWheelRows);
      return 1;
    case FL_ENTER:
    case FL_MOVE:
      if (window()) window()->cursor(on_bar ? FL_CURSOR_DEFAULT : FL_CURSOR_INSERT);
      return 1;
    case FL_LEAVE:
      if (window()) window()->cursor(FL_CURSOR_DEFAULT);
      return 1;
    case FL_FOCUS:
    case FL_UNFOCUS:
      redraw();
      return 1;
    case FL_KEYBOARD:
      return handle_key();
    case FL_PASTE:
      edit(std::string_view(Fl::event_text(), static_cast<std::size_t>(Fl::event_length())));
      return 1;
    default:
      return Fl_Group::handle(event);
  }
}

// Above or below the text the view scrolls, and goes on scrolling while the
// pointer stays there.
void LogBox::drag_to(int x, int y) {
  drag_x_ = x;
  drag_y_ = y;
  const int above = text_y() - y, below = y - (text_y() + text_h() - 1);
  if (above > 0 || below > 0) {
    scroll(above > 0 ? -1 : 1);
    if (!Fl::has_timeout(on_drag_timer, this)) Fl::add_timeout(kDragRepeat, on_drag_timer, this);
  } else {
    Fl::remove_timeout(on_drag_timer, this);
  }
  select(sel_a_, position_at(x, std::clamp(y, text_y(), text_y() + text_h() - 1)));
}

void LogBox::on_drag_timer(void* data) {
  auto* box = static_cast<LogBox*>(data);
  if (!box->dragging_) return;
  Fl::repeat_timeout(kDragRepeat, on_drag_timer, data);
  box->drag_to(box->drag_x_, box->drag_y_);
}

int LogBox::handle_push() {
  if (Fl::focus() != this) {
    Fl::focus(this);
    handle(FL_FOCUS);
  }
  const TextPos at = position_at(Fl::event_x(), Fl::event_y());
  cursor_x_ = -1;
  if (Fl::event_button() == FL_MIDDLE_MOUSE) {
    // X's middle-button paste, at the place clicked.
    select(at, at);
    Fl::paste(*this, 0);
    return 1;
  }
  if (Fl::event_button() != FL_LEFT_MOUSE) return 0;
  if (Fl::event_clicks() > 0) {
    select(word_start(at), word_end(at));
  } else if (Fl::event_state(FL_SHIFT)) {
    move_cursor(at, true);
  } else {
    select(at, at);
  }
  dragging_ = true;
  return 1;
}

int LogBox::handle_key() {
  const int key = Fl::event_key();
  const bool command = Fl::event_state(FL_COMMAND) != 0;
  if (command && handle_command_key(key)) return 1;
  if (handle_move_key(key, Fl::event_state(FL_SHIFT) != 0)) return 1;
  if (Fl::event_state(FL_CTRL | FL_ALT | FL_META)) return 0;
  switch (key) {
    case FL_BackSpace:
    case FL_Delete:
      if (!has_selection()) {
        const TextPos other = step_char(cursor_, key == FL_Delete ? 1 : -1);
        select(other, cursor_);
      }
      edit("");
      return 1;
    case FL_Enter:
    case FL_KP_Enter:
      edit("\n");
      return 1;
    case FL_Tab:
      edit("\t");
      return 1;
    default:
      break;
  }
  int del = 0;
  if (!Fl::compose(del)) return 0;
  if (del > 0 && !has_selection()) {
    TextPos from = cursor_;
    for (int i = 0; i < del && from.col > 0; ++i)
      from = step_char(from, -1);
    select(from, cursor_);
  }
  edit(std::string_view(Fl::event_text(), static_cast<std::size_t>(Fl::event_length())));
  return 1;
}

bool LogBox::handle_command_key(int key) {
  switch (key) {
    case 'a':
      select({}, store_.end());
      copy_selection(0);
      return true;
    case 'c':
      copy_selection(1);
      return true;
    case 'x':
      copy_selection(1);
      if (has_selection()) edit("");
      return true;
    case 'v':
      Fl::paste(*this, 1);
      return true;
    case 'z':
      undo();
      return true;
    default:
      return false;
  }
}

bool LogBox::handle_move_key(int key, bool extend) {
  const bool command = Fl::event_state(FL_CTRL) != 0;
  const std::string_view line = store_.line(cursor_.line);
  TextPos to = cursor_;
  switch (key) {
    case FL_Left:
      to = step_char(cursor_, -1);
      break;
    case FL_Right:
      to = step_char(cursor_, 1);
      break;
    case FL_Up:
    case FL_Down:
      to = step_row(cursor_, key == FL_Up ? -1 : 1);
      move_cursor(to, extend);
      return true;
    case FL_Page_Up:
    case FL_Page_Down:
      to = step_row(cursor_, (key == FL_Page_Up ? -1L : 1L) * std::max(1, visible_rows() - 1));
      scroll((key == FL_Page_Up ? -1L : 1L) * std::max(1, visible_rows() - 1));
      move_cursor(to, extend);
      return true;
    case FL_Home:
    case FL_End:
      if (command) {
        to = key == FL_Home ? TextPos{} : store_.end();
      } else {
        const std::vector<Row> rows = wrap(line);
        const Row& row = rows[row_of(rows, cursor_.col)];
        // A wrapped row's end is the next row's start: stop before it.
        const bool last_row = row.end == line.size();
        to = {cursor_.line, key == FL_Home ? row.start
                            : last_row     ? row.end
                                           : step_char({cursor_.line, row.end}, -1).col};
      }
      break;
    default:
      return false;
  }
  cursor_x_ = -1;
  move_cursor(to, extend);
  return true;
}

}  // namespace sharelink
