#include "app/win32/file_choice_window.h"

#include <windowsx.h>

#include <algorithm>
#include <climits>
#include <utility>

#include "app/app_texts.h"
#include "app/desktop/layout.h"
#include "app/win32/win_support.h"

namespace sharelink {

namespace {

constexpr wchar_t kWindowClass[] = L"sharelink.choice";
enum ControlId : int {
  kFilterId = 100,
  kCheckMatchingId,
  kUncheckMatchingId,
  kListId,
  kSummaryId,
  // What Enter does in the filter box and in the list: no control has these.
  kFilterEnterId,
  kListEnterId,
  kOtherEnterId
};
constexpr DWORD kChoiceStyle = WS_OVERLAPPEDWINDOW & ~WS_MINIMIZEBOX;

// The row's parts left to right: the indent, the folder's sign (the list's
// state image), the check box (its small image, whose width is also the
// list's indent step), the name.
constexpr int kSignWidth = 18;
constexpr int kImageHeight = 16;
enum SignImage : int { kClosedSign, kOpenSign, kNoSign };
enum BoxImage : int { kUnchecked, kChecked, kPartly };
// A hostile share can nest folders thousands deep; past this the names would
// leave the column.
constexpr std::size_t kDeepestIndent = 20;
// Drawn onto this colour, which the image lists leave transparent.
constexpr COLORREF kTransparent = RGB(255, 0, 255);

void fill(HDC dc, int left, int top, int width, int height, int colour) {
  RECT box{left, top, left + width, top + height};
  FillRect(dc, &box, GetSysColorBrush(colour));
}

// count images side by side, each drawn by draw(dc, cell, index), in the
// system's colours of the moment.
template <typename Draw>
HIMAGELIST make_images(int width, int height, int count, Draw draw) {
  HIMAGELIST images = ImageList_Create(width, height, ILC_COLOR24 | ILC_MASK, count, 0);
  if (!images) return nullptr;
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width * count, height);
  ReleaseDC(nullptr, screen);
  if (dc && bitmap) {
    const HGDIOBJ previous = SelectObject(dc, bitmap);
    RECT all{0, 0, width * count, height};
    HBRUSH key = CreateSolidBrush(kTransparent);
    FillRect(dc, &all, key);
    DeleteObject(key);
    for (int index = 0; index < count; ++index)
      draw(dc, RECT{index * width, 0, (index + 1) * width, height}, index);
    SelectObject(dc, previous);
    ImageList_AddMasked(images, bitmap, kTransparent);
  }
  if (bitmap) DeleteObject(bitmap);
  if (dc) DeleteDC(dc);
  return images;
}

// The classic tree's sign: a grey square with a plus when closed, a minus
// when open, 9 pixels of a 16-pixel row.
void draw_sign(HDC dc, const RECT& cell, int image) {
  if (image == kNoSign) return;
  const int size = (cell.bottom - cell.top) * 9 / kImageHeight;
  const int margin = size * 2 / 9, line = std::max(1, size / 9);
  const int left = cell.left + (cell.right - cell.left - size) / 2;
  const int top = cell.top + (cell.bottom - cell.top - size) / 2;
  RECT square{left, top, left + size, top + size};
  FillRect(dc, &square, GetSysColorBrush(COLOR_WINDOW));
  FrameRect(dc, &square, GetSysColorBrush(COLOR_BTNSHADOW));
  const int middle = size / 2 - line / 2;
  fill(dc, left + margin, top + middle, size - 2 * margin, line, COLOR_WINDOWTEXT);
  if (image == kClosedSign)
    fill(dc, left + middle, top + margin, line, size - 2 * margin, COLOR_WINDOWTEXT);
}

// The system's own check box, 13 pixels of a 16-pixel row; partly checked
// shows a square, as the themed check boxes of Windows do.
void draw_box(HDC dc, const RECT& cell, int image) {
  const int size = (cell.bottom - cell.top) * 13 / kImageHeight;
  const int inset = size * 4 / 13;
  const int left = cell.left + (cell.right - cell.left - size) / 2;
  const int top = cell.top + (cell.bottom - cell.top - size) / 2;
  RECT box{left, top, left + size, top + size};
  DrawFrameControl(dc, &box, DFC_BUTTON,
                   DFCS_BUTTONCHECK | (image == kChecked ? DFCS_CHECKED : 0u));
  if (image == kPartly)
    fill(dc, left + inset, top + inset, size - 2 * inset, size - 2 * inset, COLOR_WINDOWTEXT);
}

int box_image(CheckState check) {
  switch (check) {
    case CheckState::checked:
      return kChecked;
    case CheckState::partly:
      return kPartly;
    case CheckState::unchecked:
      break;
  }
  return kUnchecked;
}

}  // namespace

FileChoiceWindow::FileChoiceWindow(std::unique_ptr<ShareTree> tree,
                                   FileChoicePresenter::OnClosed on_closed)
    : presenter_(std::move(tree), *this, std::move(on_closed)) {}

FileChoiceWindow::~FileChoiceWindow() {
  // The list is gone by now, and it left its image lists to this object
  // (LVS_SHAREIMAGELISTS).
  if (signs_) ImageList_Destroy(signs_);
  if (boxes_) ImageList_Destroy(boxes_);
}

void FileChoiceWindow::open(HWND owner, std::unique_ptr<ShareTree> tree,
                            FileChoicePresenter::OnClosed on_closed) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);
  auto* self = new FileChoiceWindow(std::move(tree), std::move(on_closed));
  // Owned by the main window, as the prompts are: always above it, and gone
  // with it, while the main window's close box still ends the program. The
  // close box is the way to give up.
  if (!self->make_window(kWindowClass, kChoiceTitle, kChoiceStyle, layout::kChoiceWidth,
                         layout::kChoiceHeight, owner, true)) {
    self->presenter_.closed();
    delete self;
    return;
  }
  ShowWindow(self->window_, SW_SHOW);
  SetFocus(self->列表_文件);
}

LRESULT FileChoiceWindow::handle_message(UINT message, WPARAM wparam, LPARAM lparam) {
  // The presenter's calls can close the window, which deletes this object:
  // nothing here touches it after one of them.
  LRESULT result = 0;
  if (keep_focus(message, wparam, lparam, 列表_文件, result)) return result;
  switch (message) {
    case WM_CREATE:
      make_controls();
      return 0;
    case WM_GETDPISCALEDSIZE:
    case WM_DPICHANGED: {
      if (!controls_.on_message(message, wparam, lparam, result)) break;
      if (message == WM_DPICHANGED) scale_list();
      return result;
    }
    case WM_SIZE:
      if (wparam != SIZE_MINIMIZED && 按钮_确定) arrange();
      return 0;
    case WM_GETMINMAXINFO:
      controls_.limit(*reinterpret_cast<MINMAXINFO*>(lparam), layout::kChoiceWidth,
                      layout::kChoiceHeight);
      return 0;
    case WM_COMMAND:
      if (HIWORD(wparam) == BN_CLICKED) command(LOWORD(wparam));
      return 0;
    case DM_GETDEFID: {
      // Enter presses the button that has the focus; in the filter box it
      // applies the filter, in the list it works the current row. Only 确定
      // itself confirms: a share resolved whole by a stray Enter costs a
      // request per file.
      const HWND focus = GetFocus();
      int id = kOtherEnterId;
      if (focus == 按钮_选中 || focus == 按钮_取消选中 || focus == 按钮_确定) {
        id = GetDlgCtrlID(focus);
      } else if (focus == 编辑框_筛选) {
        id = kFilterEnterId;
      } else if (focus == 列表_文件) {
        id = kListEnterId;
      }
      return MAKELRESULT(id, DC_HASDEFID);
    }
    case WM_NOTIFY:
      return notified(*reinterpret_cast<NMHDR*>(lparam));
    case WM_CTLCOLOREDIT:
      return white_edit_box(wparam);
    case WM_CLOSE:
      // The close box: the choice is given up.
      close();
      return 0;
    case WM_DESTROY:
      // Also when the owner goes first, taking this window with it.
      presenter_.closed();
      return 0;
  }
  return DefWindowProcW(window_, message, wparam, lparam);
}

void FileChoiceWindow::make_controls() {
  controls_.start(window_, layout::kChoiceWidth, layout::kChoiceHeight);
  编辑框_筛选 = controls_.make(L"EDIT", "", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE,
                               layout::kFilterBox, kFilterId);
  take_pastes_on_one_line(编辑框_筛选);
  // Shown while the box is empty, also when it has the keyboard.
  const std::wstring cue = to_wide(kFilterCue);
  SendMessageW(编辑框_筛选, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(cue.c_str()));
  按钮_选中 = controls_.make(L"BUTTON", kCheckMatchingLabel, WS_TABSTOP | BS_PUSHBUTTON, 0,
                             layout::kCheckMatching, kCheckMatchingId);
  按钮_取消选中 = controls_.make(L"BUTTON", kUncheckMatchingLabel, WS_TABSTOP | BS_PUSHBUTTON, 0,
                                 layout::kUncheckMatching, kUncheckMatchingId);
  // Owner data: the list keeps no rows of its own and asks for those it draws,
  // so ten thousand entries cost what twenty do.
  列表_文件 = controls_.make(WC_LISTVIEWW, "",
                             WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_NOCOLUMNHEADER |
                                 LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_SHAREIMAGELISTS,
                             WS_EX_CLIENTEDGE, layout::kChoiceList, kListId);
  标签_统计 =
      controls_.make(L"STATIC", presenter_.summary(), SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX, 0,
                     layout::kChoiceSummary, kSummaryId);
  按钮_确定 = controls_.make(L"BUTTON", kChoiceOkLabel, WS_TABSTOP | BS_DEFPUSHBUTTON, 0,
                             layout::kChoiceOk, IDOK);
  if (!列表_文件) return;

  ListView_SetExtendedListViewStyle(列表_文件, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  // Their widths are the DPI's: scale_list sets them.
  LVCOLUMNW column{};
  column.mask = LVCF_FMT | LVCF_SUBITEM;
  column.fmt = LVCFMT_LEFT;
  ListView_InsertColumn(列表_文件, 0, &column);
  column.fmt = LVCFMT_RIGHT;
  column.iSubItem = 1;
  ListView_InsertColumn(列表_文件, 1, &column);
  scale_list();
  // The signs come with the rows too.
  ListView_SetCallbackMask(列表_文件, LVIS_STATEIMAGEMASK);
  SetWindowSubclass(列表_文件, list_proc, 1, reinterpret_cast<DWORD_PTR>(this));
  rows_changed();
  last_focus_ = 列表_文件;
  arrange();
}

void FileChoiceWindow::arrange() {
  // The list takes the room; the count line and 确定 keep their distance
  // from the bottom, 确定 from the right edge too.
  const SIZE grown = controls_.growth();
  const layout::ChoiceBoxes boxes = layout::choice_boxes(grown.cx, grown.cy);
  controls_.place({{列表_文件, boxes.list}, {标签_统计, boxes.summary}, {按钮_确定, boxes.ok}});
  if (列表_文件) fit_name_column();
}

void FileChoiceWindow::scale_list() {
  if (!列表_文件) return;
  // The rows are as tall as the font or the pictures, whichever is taller,
  // and the indent step is a check box's width: both follow the pictures.
  image_height_ = controls_.scale(kImageHeight);
  const HIMAGELIST signs = make_images(controls_.scale(kSignWidth), image_height_, 3, draw_sign);
  const HIMAGELIST boxes =
      make_images(controls_.scale(layout::kChoiceIndent), image_height_, 3, draw_box);
  ListView_SetImageList(列表_文件, signs, LVSIL_STATE);
  ListView_SetImageList(列表_文件, boxes, LVSIL_SMALL);
  // The list shares its image lists (LVS_SHAREIMAGELISTS): the old ones are
  // this object's to free once the list holds the new ones.
  if (signs_) ImageList_Destroy(signs_);
  if (boxes_) ImageList_Destroy(boxes_);
  signs_ = signs;
  boxes_ = boxes;
  ListView_SetColumnWidth(列表_文件, 1, controls_.scale(layout::kChoiceSizeColumn));
  fit_name_column();
  InvalidateRect(列表_文件, nullptr, TRUE);
}

void FileChoiceWindow::command(int id) {
  switch (id) {
    case kCheckMatchingId:
      presenter_.check_matching_clicked();
      return;
    case kUncheckMatchingId:
      presenter_.uncheck_matching_clicked();
      return;
    case IDOK:
      presenter_.ok_clicked();
      return;
    case kFilterEnterId:
      presenter_.check_matching_clicked();
      return;
    case kListEnterId: {
      const std::size_t row = current_row();
      if (row >= presenter_.row_count()) return;
      if (presenter_.row(row).folder) {
        presenter_.toggle_open(row);
      } else {
        presenter_.check_clicked(row);
      }
      return;
    }
  }
}

LRESULT FileChoiceWindow::notified(NMHDR& header) {
  if (header.hwndFrom != 列表_文件) return 0;
  switch (header.code) {
    case LVN_GETDISPINFOW:
      fill_item(reinterpret_cast<NMLVDISPINFOW&>(header).item);
      return 0;
    case LVN_ODFINDITEMW:
      // Typing does not search: Space is the check box's key.
      return -1;
    case NM_CUSTOMDRAW:
      return custom_draw(reinterpret_cast<const NMLVCUSTOMDRAW&>(header));
  }
  return 0;
}

LRESULT FileChoiceWindow::custom_draw(const NMLVCUSTOMDRAW& draw) {
  switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
      return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
      return CDRF_NOTIFYPOSTPAINT;
    case CDDS_ITEMPOSTPAINT: {
      // The list tints the small image of a selected row with the selection's
      // colour, which would leave its check box hard to read: drawn again,
      // plain.
      const auto item = static_cast<int>(draw.nmcd.dwItemSpec);
      if (item < 0 || static_cast<std::size_t>(item) >= presenter_.row_count()) break;
      if (ListView_GetItemState(列表_文件, item, LVIS_SELECTED) == 0) break;
      RECT icon{};
      if (!ListView_GetItemRect(列表_文件, item, &icon, LVIR_ICON)) break;
      LVITEMW asked{};
      asked.mask = LVIF_IMAGE;
      asked.iItem = item;
      fill_item(asked);
      ImageList_Draw(boxes_, asked.iImage, draw.nmcd.hdc, icon.left,
                     icon.top + (icon.bottom - icon.top - image_height_) / 2, ILD_NORMAL);
      break;
    }
  }
  return CDRF_DODEFAULT;
}

void FileChoiceWindow::fill_item(LVITEMW& item) {
  if (item.iItem < 0 || static_cast<std::size_t>(item.iItem) >= presenter_.row_count()) return;
  const ChoiceRow& row = rows_.get(static_cast<std::size_t>(item.iItem),
                                   [this](std::size_t at) { return presenter_.row(at); });
  if (item.iSubItem != 0) {
    if (item.mask & LVIF_TEXT) copy_item_text(row.size, item);
    return;
  }
  if (item.mask & LVIF_TEXT) copy_item_text(row.name, item);
  if (item.mask & LVIF_IMAGE) item.iImage = box_image(row.check);
  if (item.mask & LVIF_INDENT) item.iIndent = static_cast<int>(std::min(row.depth, kDeepestIndent));
  if (item.mask & LVIF_STATE) {
    const int sign = !row.folder ? kNoSign : row.open ? kOpenSign : kClosedSign;
    item.state = (item.state & ~LVIS_STATEIMAGEMASK) | INDEXTOSTATEIMAGEMASK(sign + 1);
    item.stateMask |= LVIS_STATEIMAGEMASK;
  }
}

LRESULT CALLBACK FileChoiceWindow::list_proc(HWND list, UINT message, WPARAM wparam, LPARAM lparam,
                                             UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<FileChoiceWindow*>(data);
  switch (message) {
    case WM_KEYDOWN:
      if (self->list_key(wparam)) return 0;
      break;
    case WM_CHAR:
      if (wparam == L' ') return 0;
      break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      // Handled here rather than on the list's click notices, which differ
      // between versions of the list in what a double click sends: each press
      // on a box counts once, the second of a double click too.
      LVHITTESTINFO hit{};
      hit.pt = POINT{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
      const int item = ListView_HitTest(list, &hit);
      if (item < 0 || static_cast<std::size_t>(item) >= self->presenter_.row_count()) break;
      const auto row = static_cast<std::size_t>(item);
      self->make_current(row);
      if (hit.flags & LVHT_ONITEMICON) {
        self->presenter_.check_clicked(row);
      } else if (hit.flags & LVHT_ONITEMSTATEICON) {
        self->presenter_.toggle_open(row);
      } else if (message == WM_LBUTTONDBLCLK) {
        self->presenter_.toggle_open(row);
      }
      // The list's own handling then takes the focus and sees the row selected.
      break;
    }
    case WM_NCDESTROY:
      RemoveWindowSubclass(list, list_proc, 1);
      break;
  }
  return DefSubclassProc(list, message, wparam, lparam);
}

bool FileChoiceWindow::list_key(WPARAM key) {
  const std::size_t row = current_row();
  if (row >= presenter_.row_count()) return false;
  switch (key) {
    case VK_SPACE:
      presenter_.check_clicked(row);
      return true;
    case VK_RIGHT: {
      const ChoiceRow shown = presenter_.row(row);
      if (shown.folder && !shown.open) {
        presenter_.set_open(row, true);
      } else if (shown.folder && row + 1 < presenter_.row_count() &&
                 presenter_.row(row + 1).depth > shown.depth) {
        // An open folder: on to what it holds, as in the system's trees.
        make_current(row + 1);
      }
      return true;
    }
    case VK_LEFT: {
      const ChoiceRow shown = presenter_.row(row);
      if (shown.folder && shown.open) {
        presenter_.set_open(row, false);
      } else {
        make_current(presenter_.parent_row(row));
      }
      return true;
    }
  }
  return false;
}

std::size_t FileChoiceWindow::current_row() const {
  const int focused = ListView_GetNextItem(列表_文件, -1, LVNI_FOCUSED);
  return focused < 0 ? kNoRow : static_cast<std::size_t>(focused);
}

void FileChoiceWindow::make_current(std::size_t row) {
  if (row >= presenter_.row_count()) return;
  const int item = static_cast<int>(row);
  ListView_SetItemState(列表_文件, -1, 0, LVIS_SELECTED);
  ListView_SetItemState(列表_文件, item, LVIS_FOCUSED | LVIS_SELECTED,
                        LVIS_FOCUSED | LVIS_SELECTED);
  ListView_SetSelectionMark(列表_文件, item);
  ListView_EnsureVisible(列表_文件, item, FALSE);
}

void FileChoiceWindow::rows_changed() {
  if (!列表_文件) return;
  rows_.forget();
  const std::size_t count = presenter_.row_count();
  const int items = static_cast<int>(std::min<std::size_t>(count, INT_MAX));
  if (items != ListView_GetItemCount(列表_文件)) {
    // Rows open and close below the current row, which stays where it is.
    const std::size_t current = current_row();
    ListView_SetItemCountEx(列表_文件, items, LVSICF_NOSCROLL);
    fit_name_column();
    if (count > 0) make_current(current == kNoRow ? 0 : std::min(current, count - 1));
  }
  InvalidateRect(列表_文件, nullptr, FALSE);
}

void FileChoiceWindow::fit_name_column() {
  // The sizes stay at the right edge whether or not the scroll bar shows.
  RECT client{};
  GetClientRect(列表_文件, &client);
  ListView_SetColumnWidth(列表_文件, 0,
                          std::max<int>(client.right - controls_.scale(layout::kChoiceSizeColumn),
                                        controls_.scale(kSignWidth * 4)));
}

std::string FileChoiceWindow::filter_text() const {
  return window_text(编辑框_筛选);
}

void FileChoiceWindow::set_summary(const std::string& text) {
  set_window_text(标签_统计, text);
}

void FileChoiceWindow::show_message(const std::string& text, const std::string& caption) {
  sharelink::show_message(text, caption, window_);
}

void FileChoiceWindow::close() {
  DestroyWindow(window_);
}

}  // namespace sharelink
