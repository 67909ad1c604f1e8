#pragma once

// Whether local text holds every GB18030 character where a test runs. It does
// everywhere but under Wine 8, which lacks code page 54936 (GB18030): the
// Windows programs fall back to GBK there, which has no form for the
// characters of the first plane outside it (U+0080, U+00A0, U+0100, ...), nor
// GB18030's own table for the private-use characters.

#ifdef _WIN32
#include <windows.h>
#endif

namespace sharelink::testing {

inline bool local_text_lacks_gb18030() {
#ifdef _WIN32
  return IsValidCodePage(54936) == 0;
#else
  return false;
#endif
}

// Why a test that needs such characters is skipped there.
inline constexpr char kLocalTextIsGbk[] =
    "code page 54936 (GB18030) is missing (Wine 8), so local text is GBK, "
    "which lacks this case's characters or maps them otherwise";

}  // namespace sharelink::testing
