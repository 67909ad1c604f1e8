#pragma once

// The HTTP stack under http_request: the only code that talks to the platform's
// HTTP library (libcurl, or WinHTTP on Windows).

#include <string>
#include <vector>

#include "http/http_request.h"
#include "text/local_text.h"

namespace sharelink {

struct Exchange {
  int failure = 0;          // 0, or a failure number 700-713 (713: raw_headers and body are valid)
  std::string raw_headers;  // header block of the final response, CR LF line ends
  Bytes body;
  // For a failure, why: the HTTP library's own message, or ours for the limits
  // we keep.
  std::string reason;
  // For a failure the library reported, its kind; none where reason is one of
  // ours (own_cause says which) or the call never got to the library.
  HttpCause cause = HttpCause::none;
  // With the request's cookies: what the origin of its address set on the
  // redirects of the chain, one text per response in order, and whether the
  // final response came from that origin too. Only those belong to the
  // caller's cookie text; other origins' cookies live and die with the chain.
  std::vector<std::string> home_cookies;
  bool final_on_home = true;
};

// Sends request with header_block (the complete set of request header lines) and
// receives the final response, following redirects unless the request says not
// to. With request.cookies present, header_block's Cookie lines go out as one
// line, last but for the transport's own, joined by the cookies set on the way.
Exchange perform_exchange(const HttpRequest& request, const std::string& header_block);

}  // namespace sharelink
