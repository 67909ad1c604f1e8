#pragma once

// Where the HTTP transport of this build (libcurl, or WinHTTP on Windows)
// differs from the other in ways that belong to the transport itself and are
// harmless to its callers, and where Wine's WinHTTP differs from Windows'.
// Tests keep one table and take the differing expectation from here.

#ifdef _WIN32
// winsock2.h before windows.h, as the test servers need it.
#include <winsock2.h>

#include <windows.h>
#endif

#include <string>

namespace sharelink::test {

#ifdef _WIN32
constexpr bool kWinHttp = true;
#else
constexpr bool kWinHttp = false;
#endif

// True when the Windows build runs under Wine rather than on Windows.
inline bool under_wine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

// WinHTTP asks for a kept connection with a line of its own, after the
// caller's lines.
inline bool transport_line(const std::string& line) {
  return kWinHttp && line == "Connection: Keep-Alive";
}

// A line with an empty value as it goes out: WinHTTP writes the name, a colon
// and a space whatever the value.
constexpr const char* kEmptyValueLine = kWinHttp ? "X-Empty: " : "X-Empty:";

// Wine keeps one connection cache for the whole process, not one per WinHTTP
// session: closing a call's own session leaves its connection for the next
// call, which Windows closes with the session.
inline bool calls_without_a_pool_share_connections() {
  return under_wine();
}

// Wine's WinHTTP reads a header block without bound (it takes no
// WINHTTP_OPTION_MAX_RESPONSE_HEADER_SIZE), so an endless block ends only at
// the call's deadline; Windows stops it at the limit.
inline bool header_block_bounded() {
  return !under_wine();
}

// Whether header bytes go out (request) or come back (response) unaltered:
// always with libcurl and with WinHTTP's byte-string header calls; else
// WinHTTP converts header text with the ANSI code page (1252 holds every byte,
// 936 GBK), but Wine 8 sends it as UTF-8.
inline bool header_bytes_pass([[maybe_unused]] bool request, [[maybe_unused]] bool gbk,
                              [[maybe_unused]] bool utf8) {
#ifdef _WIN32
  HMODULE winhttp = GetModuleHandleW(L"winhttp.dll");
  if (GetProcAddress(winhttp, request ? "WinHttpAddRequestHeadersEx" : "WinHttpQueryHeadersEx")) {
    return true;
  }
  if (request && under_wine()) return utf8;
  return GetACP() == 1252 || (GetACP() == 936 && gbk);
#else
  return true;
#endif
}

}  // namespace sharelink::test
