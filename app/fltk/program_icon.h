#pragma once

// The program's icon on every window of the Linux build: the picture the
// Windows build's icon holds, drawn by scripts/make-icon.

namespace sharelink {

// Before the first window is shown. Without a picture (a broken build) the
// windows keep the desktop's default icon.
void set_program_icon();

}  // namespace sharelink
