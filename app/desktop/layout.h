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

}  // namespace sharelink::layout
