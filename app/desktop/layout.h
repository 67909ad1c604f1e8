#pragma once

// Where the windows' controls sit, the same for every toolkit: outer window
// sizes (the system's frame included) and control boxes inside the client
// area, in pixels of a display at 96 DPI.

namespace sharelink::layout {

struct Box {
  int x, y, w, h;
};

constexpr int kMainWidth = 606;
// Taller than the four boxes and the log need by the row of the check box.
constexpr int kMainHeight = 453;
constexpr Box kUrlBox{10, 9, 390, 32};
constexpr Box kParseButton{407, 9, 56, 32};
constexpr Box kClearButton{470, 9, 56, 32};
constexpr Box kCopyButton{532, 9, 56, 32};
constexpr Box kLogBox{10, 50, 579, 337};
constexpr Box kChooseFirstBox{10, 392, 160, 24};
// On the check box's row, at its right end, under 复制.
constexpr Box kDownloadButton{532, 390, 56, 28};
// The status bar below that row: the window opens this much taller than the
// size above, which stays its smallest (the log box then gives up the room).
constexpr int kStatusHeight = 22;
constexpr int kMainOpenHeight = kMainHeight + kStatusHeight;
constexpr Box kStatusBar{0, 420, 598, kStatusHeight};

// box moved by dx, dy and grown by grow_w, grow_h: where a control goes in a
// window larger than its layout.
constexpr Box moved(Box box, int dx, int dy, int grow_w, int grow_h) {
  return {box.x + dx, box.y + dy, box.w + grow_w, box.h + grow_h};
}

// Where the main window's controls go in a client area dw wider and dh
// taller than the one the boxes above are for (the window opened at
// kMainWidth by kMainOpenHeight); either may be negative. The log box takes
// the room; the buttons keep their distance from the right edge; the check
// box's row and the status bar keep theirs from the bottom.
struct MainBoxes {
  Box url, parse, clear, copy, log, choose_first, download, status;
};
constexpr MainBoxes main_boxes(int dw, int dh) {
  return {moved(kUrlBox, 0, 0, dw, 0),          moved(kParseButton, dw, 0, 0, 0),
          moved(kClearButton, dw, 0, 0, 0),     moved(kCopyButton, dw, 0, 0, 0),
          moved(kLogBox, 0, 0, dw, dh),         moved(kChooseFirstBox, 0, dh, 0, 0),
          moved(kDownloadButton, dw, dh, 0, 0), moved(kStatusBar, 0, dh, dw, 0)};
}

constexpr int kPromptHeight = 89;
// An answer holds this many characters.
constexpr int kAnswerChars = 4;
constexpr int kCodeWidth = 225;
constexpr Box kCodeBox{8, 8, 96, 39};
constexpr Box kCodeOk{116, 9, 84, 38};
constexpr int kCaptchaWidth = 351;
constexpr Box kPictureBox{8, 8, 120, 40};
constexpr Box kCaptchaBox{136, 9, 96, 39};
constexpr Box kCaptchaOk{244, 10, 84, 38};

constexpr int kChoiceWidth = 620;
constexpr int kChoiceHeight = 520;
constexpr Box kFilterBox{10, 9, 360, 28};
constexpr Box kCheckMatching{378, 9, 70, 28};
constexpr Box kUncheckMatching{454, 9, 90, 28};
constexpr Box kChoiceList{10, 45, 590, 382};
// The list's columns: check box and name, then the size.
constexpr int kChoiceSizeColumn = 110;
constexpr int kChoiceIndent = 18;
constexpr Box kChoiceSummary{10, 437, 480, 28};
constexpr Box kChoiceOk{516, 435, 84, 32};
// The choice window grows the same way: the list takes the room, the summary
// and 确定 keep their distance from the bottom, 确定 from the right edge.
struct ChoiceBoxes {
  Box list, summary, ok;
};
constexpr ChoiceBoxes choice_boxes(int dw, int dh) {
  return {moved(kChoiceList, 0, 0, dw, dh), moved(kChoiceSummary, 0, dh, dw, 0),
          moved(kChoiceOk, dw, dh, 0, 0)};
}

// The window "下载": the list of files, the total line, then the buttons
// 开始, 停止, 继续 and 打开文件夹 on the bottom row. The list takes the room
// of a larger window; the rest keeps its distance from the bottom.
constexpr int kDownloadWidth = 720;
constexpr int kDownloadHeight = 480;
constexpr Box kDownloadList{10, 10, 692, 362};
// The list's columns after the path, right to left from the list's right edge.
constexpr int kDownloadSizeColumn = 80;
constexpr int kDownloadProgressColumn = 90;
constexpr int kDownloadSpeedColumn = 80;
constexpr int kDownloadStateColumn = 150;
constexpr int kDownloadRowHeight = 20;
constexpr Box kDownloadTotal{10, 378, 692, 24};
constexpr Box kDownloadStart{10, 408, 84, 30};
constexpr Box kDownloadStop{100, 408, 84, 30};
constexpr Box kDownloadResume{190, 408, 84, 30};
constexpr Box kDownloadOpenFolder{586, 408, 116, 30};
// In a client area dw wider and dh taller: 打开文件夹 also keeps its distance
// from the right edge.
struct DownloadBoxes {
  Box list, total, start, stop, resume, open_folder;
};
constexpr DownloadBoxes download_boxes(int dw, int dh) {
  return {moved(kDownloadList, 0, 0, dw, dh),  moved(kDownloadTotal, 0, dh, dw, 0),
          moved(kDownloadStart, 0, dh, 0, 0),  moved(kDownloadStop, 0, dh, 0, 0),
          moved(kDownloadResume, 0, dh, 0, 0), moved(kDownloadOpenFolder, dw, dh, 0, 0)};
}

}  // namespace sharelink::layout
