#pragma once

// Drives the simulator the way the share client does, with plain libcurl, so
// that the tests do not depend on the client under construction.

#include <memory>
#include <string>
#include <vector>

#include <curl/curl.h>
#include <nlohmann/json.hpp>

#include "sim/fixture.h"
#include "sim/server.h"

namespace sharelink::sim::testing {

struct Exchange {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string headers;  // the last response's header block
  std::string body;

  std::string header(const std::string& name) const;  // first value; letter case ignored
  nlohmann::json json() const;                        // discarded when the body is no JSON
  int errno_value() const;                            // -1000 when there is none
};

struct Call {
  std::string method = "GET";
  std::string body;
  std::vector<std::string> headers;  // "Name: value"; "Name:" removes a default line
  bool follow = false;
  long timeout_ms = 10000;
  curl_off_t max_bytes = 0;  // > 0: stop reading after that many body bytes
  // An easy handle to send on instead of a new one: its open connection is
  // reused, as a keep-alive client does. The caller cleans it up.
  CURL* reuse = nullptr;
  // For an https address: the CA file and hashed CA folder to trust instead of
  // the system's.
  std::string ca_file;
  std::string ca_folder;
};

Exchange fetch(const std::string& url, const Call& call = {});

// Parameter forms the client sends.
std::string logid();
std::string random_t();
std::string millis();

// The data object of a share page, cut out by matching braces outside strings.
nlohmann::json data_object(const std::string& page);

// Full decodes of a picture; false when the bytes are no valid file.
bool decode_png(const std::string& bytes, int& width, int& height,
                std::vector<unsigned char>* rgb = nullptr);
bool decode_jpeg(const std::string& bytes, int& width, int& height);

// The demo fixture with fixed secrets; extra faults or options go on top.
Fixture demo_fixture();

// One visitor of one share, sending each request exactly as the client does.
class Visitor {
 public:
  Visitor(std::string origin, std::string surl);

  std::string referer;  // the address the page was last fetched from
  std::string cookie;   // "BDCLND=..." once verified
  nlohmann::json data;  // the last page's data object

  // The share page; a protected share's redirect is followed by hand so that
  // referer ends as the address that gave the page.
  Exchange page();
  Exchange verify(const std::string& pwd, const std::string& vcode = "",
                  const std::string& vcode_str = "");
  Exchange captcha(const std::string& prod);
  Exchange list(const std::string& dir, int page = 1, int num = 100);
  Exchange download(const nlohmann::json& entry, const std::string& vcode_input = "",
                    const std::string& vcode_str = "");

  // The pieces of the requests above, for tests that bend one of them.
  std::string verify_query() const;
  std::string captcha_query(const std::string& prod) const;
  std::string list_query(const std::string& dir, int page, int num) const;
  std::string download_query(const std::string& app_id) const;
  std::string download_body(const std::string& fs_id, const std::string& vcode_input = "",
                            const std::string& vcode_str = "") const;
  std::vector<std::string> post_headers() const;
  Exchange send(const std::string& method, const std::string& path, const std::string& query,
                const std::string& body, const std::vector<std::string>& headers) const;

  // From the data object, or from the redirect of a protected share.
  std::string shareid;
  std::string uk;

 private:
  std::string origin_;
  std::string surl_;
};

}  // namespace sharelink::sim::testing
