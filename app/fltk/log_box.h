#pragma once

// The main window's log box: an editable multi-line text box that wraps at
// its width, for a log of any length. The toolkit's own text editor wraps its
// whole text to count its lines, on every width change and, bit by bit, on
// every append: a report of 100,000 files took minutes. This box wraps only
// the lines it draws, and its scroll bar counts lines, not wrapped rows.
// Selecting, copying (Ctrl+C and the X selection), cutting, pasting, typing,
// deleting and one step of undo work as in the toolkit's editor; nothing typed
// leaves the box.

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <FL/Fl_Group.H>
#include <FL/Fl_Scrollbar.H>

#include "app/fltk/log_store.h"

namespace sharelink {

class LogBox : public Fl_Group {
 public:
  LogBox(int x, int y, int w, int h);
  ~LogBox() override;

  // UTF-8 text with LF line ends (a CR would be drawn as a glyph). The cursor
  // goes to the end, which is scrolled into view.
  void append(std::string_view text);
  void clear();
  // The whole text, UTF-8.
  std::string text() const { return store_.text({}, store_.end()); }

  void textfont(Fl_Font font);
  void textsize(Fl_Fontsize size);
  void textcolor(Fl_Color colour) { textcolor_ = colour; }

  void resize(int x, int y, int w, int h) override;

 protected:
  void draw() override;
  int handle(int event) override;

 private:
  // A wrapped row of one line: bytes [start, end).
  struct Row {
    std::size_t start, end;
  };
  // The top of the view: a line and a row of it.
  struct Top {
    std::size_t line = 0;
    std::size_t row = 0;
  };
  static constexpr int kMargin = 3;  // left and right of the text
  static bool is_space(char c) { return c == ' ' || c == '\t'; }
  static bool top_after(const Top& a, const Top& b) {
    return a.line != b.line ? a.line > b.line : a.row > b.row;
  }

  // The text area: inside the frame, left of the scroll bar.
  int text_x() const;
  int text_y() const;
  int text_w() const;
  int text_h() const;
  int row_height() const;
  int visible_rows() const;

  double char_width(std::string_view line, std::size_t at, std::size_t* next);
  std::vector<Row> wrap(std::string_view line);
  std::size_t row_of(const std::vector<Row>& rows, std::size_t col) const;

  // Scrolling, in rows. move() goes at most rows up (negative) or down, to
  // the first or last row at most, and says how far it went. The top never
  // goes below the place that shows the last row at the bottom.
  long move(Top& top, long rows);
  void scroll(long rows);
  Top bottom_top();
  void clamp_top();
  void show_cursor();
  void sync_scrollbar();
  static void on_scroll(Fl_Widget* bar, void* box);

  void draw_row(std::string_view line, std::size_t index, const Row& row, int y);
  TextPos position_at(int x, int y);
  std::size_t col_at(std::string_view line, const Row& row, int x);

  // The selection runs from sel_a_ to sel_b_, either way round; it stays
  // where it is while lines are appended, as the cursor goes to the end.
  bool has_selection() const { return sel_a_ != sel_b_; }
  TextPos selection_start() const { return sel_a_ < sel_b_ ? sel_a_ : sel_b_; }
  TextPos selection_end() const { return sel_a_ < sel_b_ ? sel_b_ : sel_a_; }
  void select(TextPos anchor, TextPos to);
  void move_cursor(TextPos to, bool extend);
  void copy_selection(int clipboard);
  // Replaces the selection, or inserts at the cursor.
  void edit(std::string_view text);
  void undo();

  int handle_push();
  void drag_to(int x, int y);
  static void on_drag_timer(void* box);
  int handle_key();
  bool handle_command_key(int key);
  bool handle_move_key(int key, bool extend);
  TextPos step_char(TextPos pos, int direction) const;
  TextPos step_row(TextPos pos, long rows);
  TextPos word_start(TextPos pos) const;
  TextPos word_end(TextPos pos) const;

  LogStore store_;
  Fl_Scrollbar* scrollbar_;  // a child: the group deletes it
  Fl_Font textfont_ = FL_HELVETICA;
  Fl_Fontsize textsize_ = FL_NORMAL_SIZE;
  Fl_Color textcolor_ = FL_FOREGROUND_COLOR;

  Top top_;
  bool follow_end_ = false;  // an append asked for the end to be shown
  TextPos cursor_, sel_a_, sel_b_;
  bool dragging_ = false;
  int drag_x_ = 0, drag_y_ = 0;
  double cursor_x_ = -1;  // kept by up and down through rows of other lengths

  // The last edit, for undo: where it starts, the text it removed and where
  // the text it put there ends. Typing one character after another is one edit.
  struct Edit {
    bool valid = false;
    TextPos at, inserted_end;
    std::string removed;
  } last_edit_;

  bool widths_ready_ = false;
  double ascii_width_[128] = {};
  std::unordered_map<std::uint32_t, double> other_width_;
};

}  // namespace sharelink
