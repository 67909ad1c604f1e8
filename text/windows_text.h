#pragma once

// The Windows programs' own edges, where UTF-8 meets the wide-character calls:
// file names, the console and the system's messages. Windows only.

#include <string>

namespace sharelink {

std::wstring wide_of_utf8(const std::string& utf8);
// units UTF-16 units of wide; "" for none.
std::string utf8_of_wide(const wchar_t* wide, int units);
// The system's words for an error code, UTF-8, without the line end and
// final stop; "error N" when it has none.
std::string system_message(unsigned long code);

}  // namespace sharelink
