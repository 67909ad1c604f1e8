#include "app/win32/download_window.h"

#include <shellapi.h>

#include <algorithm>
#include <climits>

#include "app/app_texts.h"
#include "app/desktop/layout.h"
#include "text/windows_text.h"

namespace sharelink {

namespace {

constexpr UINT_PTR kRefreshTimer = 1;
constexpr DWORD kDownloadStyle = WS_OVERLAPPEDWINDOW & ~WS_MINIMIZEBOX;
enum ControlId : int { kListId = 100, kTotalId, kStartId, kStopId, kResumeId, kOpenFolderId };
enum Column : int { kPathColumn, kSizeColumn, kProgressColumn, kSpeedColumn, kStateColumn };
constexpr COLORREF kFailedColour = RGB(200, 0, 0);

}  // namespace

DownloadView* DownloadWindow::open(HWND owner, DownloadPresenter& presenter) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);
  auto* self = new DownloadWindow(presenter);
  // Owned by the main window: above it and gone with it, but not modal, so
  // that a new job can run while the files come.
  if (!self->make_window(kDownloadWindowClass, kDownloadTitle, kDownloadStyle,
                         layout::kDownloadWidth, layout::kDownloadHeight, owner, true)) {
    delete self;
    return nullptr;
  }
  ShowWindow(self->window_, SW_SHOW);
  SetFocus(self->按钮_开始);
  return self;
}

LRESULT DownloadWindow::handle_message(UINT message, WPARAM wparam, LPARAM lparam) {
  // The presenter's calls can close the window, which deletes this object:
  // nothing here touches it after one of them.
  LRESULT result = 0;
  if (controls_.on_message(message, wparam, lparam, result)) return result;
  if (keep_focus(message, wparam, lparam, 列表_文件, result)) return result;
  switch (message) {
    case WM_CREATE:
      make_controls();
      return 0;
    case WM_SIZE:
      if (wparam != SIZE_MINIMIZED && 按钮_打开文件夹) arrange();
      return 0;
    case WM_GETMINMAXINFO:
      controls_.limit(*reinterpret_cast<MINMAXINFO*>(lparam), layout::kDownloadWidth,
                      layout::kDownloadHeight);
      return 0;
    case WM_COMMAND:
      // Enter and Escape (IDOK, IDCANCEL) do nothing: the buttons are pressed
      // on purpose.
      if (HIWORD(wparam) == BN_CLICKED) command(LOWORD(wparam));
      return 0;
    case WM_NOTIFY:
      return notified(*reinterpret_cast<NMHDR*>(lparam));
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lparam) != 标签_合计) break;
      // A total that does not fit the folder shows in red.
      SetTextColor(reinterpret_cast<HDC>(wparam),
                   warn_ ? kFailedColour : GetSysColor(COLOR_WINDOWTEXT));
      SetBkColor(reinterpret_cast<HDC>(wparam), GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    case WM_TIMER:
      if (wparam != kRefreshTimer) break;
      KillTimer(window_, kRefreshTimer);
      presenter_.timer_fired();
      return 0;
    case WM_CLOSE:
      // Asks first while a download runs; close() follows when it may go.
      presenter_.close_requested();
      return 0;
    case WM_DESTROY:
      KillTimer(window_, kRefreshTimer);
      if (!closing_) {
        // Gone with its owner, not by close(): the presenter stops the
        // download (its record written) and forgets this view.
        closing_ = true;
        presenter_.close_window();
      }
      return 0;
  }
  return DefWindowProcW(window_, message, wparam, lparam);
}

void DownloadWindow::make_controls() {
  controls_.start(window_, layout::kDownloadWidth, layout::kDownloadHeight);
  // Owner data: the list keeps no rows of its own and asks for those on
  // screen, so ten thousand files scroll as ten do.
  列表_文件 = controls_.make(
      WC_LISTVIEWW, "", WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
      WS_EX_CLIENTEDGE, layout::kDownloadList, kListId);
  标签_合计 = controls_.make(L"STATIC", "", SS_LEFTNOWORDWRAP | SS_CENTERIMAGE | SS_NOPREFIX, 0,
                             layout::kDownloadTotal, kTotalId);
  const DWORD button = WS_TABSTOP | BS_PUSHBUTTON;
  按钮_开始 = controls_.make(L"BUTTON", kStartLabel, button, 0, layout::kDownloadStart, kStartId);
  按钮_停止 = controls_.make(L"BUTTON", kStopLabel, button | WS_DISABLED, 0, layout::kDownloadStop,
                             kStopId);
  按钮_继续 = controls_.make(L"BUTTON", kResumeLabel, button | WS_DISABLED, 0,
                             layout::kDownloadResume, kResumeId);
  按钮_打开文件夹 = controls_.make(L"BUTTON", kOpenFolderLabel, button, 0,
                                   layout::kDownloadOpenFolder, kOpenFolderId);
  last_focus_ = 按钮_开始;
  if (!列表_文件) return;
  ListView_SetExtendedListViewStyle(列表_文件, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  for (int column = kPathColumn; column <= kStateColumn; ++column) {
    const std::wstring header = to_wide(kDownloadColumnTitles[column]);
    LVCOLUMNW added{};
    added.mask = LVCF_FMT | LVCF_SUBITEM | LVCF_TEXT;
    added.fmt = column == kSizeColumn || column == kSpeedColumn ? LVCFMT_RIGHT : LVCFMT_LEFT;
    added.iSubItem = column;
    added.pszText = const_cast<wchar_t*>(header.c_str());
    ListView_InsertColumn(列表_文件, column, &added);
  }
  arrange();
}

void DownloadWindow::arrange() {
  const SIZE grown = controls_.growth();
  const layout::DownloadBoxes boxes = layout::download_boxes(grown.cx, grown.cy);
  controls_.place({{列表_文件, boxes.list},
                   {标签_合计, boxes.total},
                   {按钮_开始, boxes.start},
                   {按钮_停止, boxes.stop},
                   {按钮_继续, boxes.resume},
                   {按钮_打开文件夹, boxes.open_folder}});
  if (!列表_文件) return;
  // The path takes what the fixed columns leave, with or without the
  // scroll bar.
  const int fixed[] = {layout::kDownloadSizeColumn, layout::kDownloadProgressColumn,
                       layout::kDownloadSpeedColumn, layout::kDownloadStateColumn};
  int taken = 0;
  for (int column = kSizeColumn; column <= kStateColumn; ++column) {
    const int width = controls_.scale(fixed[column - kSizeColumn]);
    ListView_SetColumnWidth(列表_文件, column, width);
    taken += width;
  }
  RECT client{};
  GetClientRect(列表_文件, &client);
  ListView_SetColumnWidth(列表_文件, kPathColumn,
                          std::max<int>(client.right - taken, controls_.scale(80)));
}

void DownloadWindow::command(int id) {
  switch (id) {
    case kStartId:
      presenter_.start_clicked();
      return;
    case kStopId:
      presenter_.stop_clicked();
      return;
    case kResumeId:
      presenter_.resume_clicked();
      return;
    case kOpenFolderId:
      presenter_.open_folder_clicked();
      return;
  }
}

LRESULT DownloadWindow::notified(NMHDR& header) {
  if (header.hwndFrom != 列表_文件) return 0;
  switch (header.code) {
    case LVN_GETDISPINFOW:
      fill_item(reinterpret_cast<NMLVDISPINFOW&>(header).item);
      return 0;
    case LVN_ODFINDITEMW:
      return -1;
    case NM_CUSTOMDRAW:
      return custom_draw(reinterpret_cast<NMLVCUSTOMDRAW&>(header));
  }
  return 0;
}

const DownloadRow& DownloadWindow::row(std::size_t index) {
  return rows_.get(index, [this](std::size_t at) { return presenter_.row(at); });
}

void DownloadWindow::fill_item(LVITEMW& item) {
  if (!(item.mask & LVIF_TEXT)) return;
  if (item.iItem < 0 || static_cast<std::size_t>(item.iItem) >= presenter_.row_count()) return;
  const DownloadRow& shown = row(static_cast<std::size_t>(item.iItem));
  switch (item.iSubItem) {
    case kPathColumn:
      copy_item_text(shown.path, item);
      return;
    case kSizeColumn:
      copy_item_text(shown.size, item);
      return;
    case kProgressColumn:
      // Drawn as a bar over the cell (custom_draw).
      copy_item_text("", item);
      return;
    case kSpeedColumn:
      copy_item_text(shown.speed, item);
      return;
    case kStateColumn:
      copy_item_text(shown.state, item);
      return;
  }
}

LRESULT DownloadWindow::custom_draw(NMLVCUSTOMDRAW& draw) {
  switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
      return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT: {
      const auto item = static_cast<std::size_t>(draw.nmcd.dwItemSpec);
      if (item >= presenter_.row_count()) break;
      // A failed file reads in red, its cause in the state column.
      if (row(item).failed) draw.clrText = kFailedColour;
      return CDRF_NEWFONT | CDRF_NOTIFYPOSTPAINT;
    }
    case CDDS_ITEMPOSTPAINT:
      draw_bar(draw);
      break;
  }
  return CDRF_DODEFAULT;
}

void DownloadWindow::draw_bar(const NMLVCUSTOMDRAW& draw) {
  const auto item = static_cast<int>(draw.nmcd.dwItemSpec);
  if (item < 0 || static_cast<std::size_t>(item) >= presenter_.row_count()) return;
  RECT cell{};
  if (!ListView_GetSubItemRect(列表_文件, item, kProgressColumn, LVIR_BOUNDS, &cell)) return;
  const DownloadRow& shown = row(static_cast<std::size_t>(item));
  const HDC dc = draw.nmcd.hdc;
  const int inset = controls_.scale(2);
  RECT bar{cell.left + inset, cell.top + inset, cell.right - inset, cell.bottom - inset};
  if (bar.right <= bar.left || bar.bottom <= bar.top) return;
  FillRect(dc, &bar, GetSysColorBrush(COLOR_WINDOW));
  const double fraction = std::clamp(shown.fraction, 0.0, 1.0);
  RECT done = bar;
  done.right = bar.left + static_cast<LONG>((bar.right - bar.left) * fraction);
  const COLORREF fill = shown.failed ? kFailedColour : RGB(6, 176, 37);
  HBRUSH brush = CreateSolidBrush(fill);
  FillRect(dc, &done, brush);
  DeleteObject(brush);
  FrameRect(dc, &bar, GetSysColorBrush(COLOR_BTNSHADOW));
  const std::wstring text = to_wide(shown.progress);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &bar,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

void DownloadWindow::set_row_count(std::size_t rows) {
  if (!列表_文件) return;
  rows_.forget();
  const int items = static_cast<int>(std::min<std::size_t>(rows, INT_MAX));
  ListView_SetItemCountEx(列表_文件, items, LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
  // The path column gives up the scroll bar's room when one appears.
  arrange();
}

void DownloadWindow::refresh_rows() {
  if (!列表_文件) return;
  rows_.forget();
  InvalidateRect(列表_文件, nullptr, FALSE);
}

void DownloadWindow::set_total(const std::string& text, bool warn) {
  warn_ = warn;
  set_window_text(标签_合计, text);
  InvalidateRect(标签_合计, nullptr, TRUE);
}

void DownloadWindow::set_buttons(bool start, bool stop, bool resume) {
  const HWND buttons[] = {按钮_开始, 按钮_停止, 按钮_继续};
  const bool enabled[] = {start, stop, resume};
  const HWND focus = GetFocus();
  for (int at = 0; at < 3; ++at) {
    // A button about to go grey hands the keyboard to the list, so that it
    // still reaches the window.
    if (!enabled[at] && focus == buttons[at]) SetFocus(列表_文件);
    EnableWindow(buttons[at], enabled[at]);
  }
}

bool DownloadWindow::schedule(std::chrono::milliseconds delay) {
  return set_timer(kRefreshTimer, delay);
}

void DownloadWindow::show_message(const std::string& text, const std::string& caption) {
  sharelink::show_message(text, caption, window_);
}

bool DownloadWindow::ask(const std::string& question, const std::string& caption) {
  return ask_yes_no(question, caption, window_);
}

void DownloadWindow::open_folder(const std::string& folder) {
  // The shell's own verb: Explorer, or whatever the user made the folder's
  // handler. A folder that has gone gets the shell's message.
  ShellExecuteW(window_, L"open", wide_of_utf8(folder).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void DownloadWindow::close() {
  if (closing_ || !window_) return;
  closing_ = true;
  DestroyWindow(window_);
}

}  // namespace sharelink
