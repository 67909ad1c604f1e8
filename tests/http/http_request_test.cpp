#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "http/http_request.h"
#include "test_server.h"
#include "text/local_text.h"
#include "transport_traits.h"

namespace sharelink {
namespace {

using test::CannedServer;
using test::first_line;

const char kHello[] = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";

// The header lines of a request text whose name is name, letter case ignored.
std::vector<std::string> lines_named(const std::string& request, const std::string& name) {
  std::vector<std::string> found;
  std::string head = request.substr(0, request.find("\r\n\r\n"));
  for (std::size_t start = head.find("\r\n"); start != std::string::npos;) {
    std::size_t end = head.find("\r\n", start + 2);
    std::string line = head.substr(start + 2, end == std::string::npos ? end : end - start - 2);
    if (strncasecmp(line.c_str(), (name + ":").c_str(), name.size() + 1) == 0) {
      found.push_back(line);
    }
    start = end;
  }
  return found;
}

HttpRequest to(const std::string& url) {
  HttpRequest request;
  request.url = url;
  return request;
}

TEST(HttpRequest, DefaultRowsReplaceLibcurlsOwnLines) {
  // The Accept-Encoding row names no coding: a body is never decoded.
  CannedServer canned(
      "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 5\r\n\r\nhello");
  HttpResponse response = http_request(to(canned.server.url("/p")));
  EXPECT_EQ(response.failure, 0);
  EXPECT_EQ(response.status_text, "200 OK");
  EXPECT_EQ(response.text, "hello");
  std::string sent = canned.request();
  EXPECT_EQ(first_line(sent), "GET /p HTTP/1.1");
  EXPECT_EQ(lines_named(sent, "Accept"),
            std::vector<std::string>{"Accept: text/html, application/xhtml+xml, */*"});
  EXPECT_EQ(lines_named(sent, "User-Agent").size(), 1u);
  EXPECT_EQ(lines_named(sent, "Content-Type"),
            std::vector<std::string>{"Content-Type: application/x-www-form-urlencoded"});
  EXPECT_EQ(lines_named(sent, "Accept-Encoding"),
            std::vector<std::string>{"Accept-Encoding: gbk, GB2312"});
  EXPECT_EQ(lines_named(sent, "Accept-Language").size(), 1u);
  EXPECT_EQ(lines_named(sent, "Cache-Control").size(), 1u);
  EXPECT_TRUE(lines_named(sent, "Cookie").empty());
}

// The header lines of a request text in order, without the request line.
std::vector<std::string> header_lines(const std::string& request) {
  std::vector<std::string> lines = split_text(request.substr(0, request.find("\r\n\r\n")), "\r\n");
  if (!lines.empty()) lines.erase(lines.begin());
  return lines;
}

TEST(HttpRequest, HeaderLinesGoOutInTheBlocksOrderWithTheCookieLineLast) {
  const std::vector<std::string> rows = {
      "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)",
      "Accept: text/html, application/xhtml+xml, */*",
      "Accept-Encoding: gbk, GB2312",
      "Accept-Language: zh-cn",
      "Content-Type: application/x-www-form-urlencoded",
      "Cache-Control: no-cache"};
  auto with = [&rows](std::vector<std::string> before, std::vector<std::string> after) {
    before.insert(before.end(), rows.begin(), rows.end());
    before.insert(before.end(), after.begin(), after.end());
    return before;
  };
  struct Case {
    const char* name;
    std::string target;  // "/start" answers with a redirect on the same origin
    int method;
    std::string headers;
    std::optional<std::string> cookies;
    std::vector<std::string> last_request;  // Host, Content-Length, the transport's own left out
  };
  const std::vector<Case> cases = {
      {"no cookies", "/p", kHttpGet, "", std::nullopt, rows},
      {"cookies", "/p", kHttpPost, "Referer: http://r/\r\nX-Extra: 1", "A=1; B=2",
       with({"Referer: http://r/", "X-Extra: 1"}, {"Cookie: A=1; B=2"})},
      {"caller's Cookie line", "/p", kHttpGet, "Cookie: mine=1\r\nX-After: 2", "A=1",
       with({"Cookie: mine=1", "X-After: 2"}, {})},
      {"caller's Cookie line, no cookies", "/p", kHttpGet, "Cookie: mine=1", std::nullopt,
       with({"Cookie: mine=1"}, {})},
      // The redirect's cookie joins the line on the next request to its origin.
      {"redirected", "/start", kHttpGet, "Referer: http://r/", "A=1; B=2",
       with({"Referer: http://r/"}, {"Cookie: N=1; A=1; B=2"})},
      {"redirected, empty cookies", "/start", kHttpGet, "", "", with({}, {"Cookie: N=1"})},
      {"redirected, no cookies", "/start", kHttpGet, "", std::nullopt, rows},
  };
  for (const Case& c : cases) {
    test::KeepAliveServer server([](const std::string& request, int) {
      if (first_line(request) != "GET /start HTTP/1.1")
        return test::KeepAliveServer::Answer{kHello};
      return test::KeepAliveServer::Answer{
          "HTTP/1.1 302 Found\r\nLocation: /next\r\nSet-Cookie: N=1; path=/\r\n"
          "Content-Length: 0\r\n\r\n"};
    });
    HttpRequest request = to(server.server.url(c.target));
    request.method = c.method;
    request.post_data = "k=v";
    request.headers = c.headers;
    request.cookies = c.cookies;
    EXPECT_EQ(http_request(request).text, "hello") << c.name;
    std::vector<std::string> lines = header_lines(server.requests.all().back());
    ASSERT_FALSE(lines.empty()) << c.name;
    EXPECT_EQ(lines[0].rfind("Host: ", 0), 0u) << c.name;
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const std::string& line) {
                                 return line.rfind("Host: ", 0) == 0 ||
                                        line.rfind("Content-Length: ", 0) == 0 ||
                                        test::transport_line(line);
                               }),
                lines.end());
    EXPECT_EQ(lines, c.last_request) << c.name;
  }
}

TEST(HttpRequest, CallerLinesOverrideRowsInEitherLetterCase) {
  CannedServer canned(kHello);
  HttpRequest request = to(canned.server.url("/"));
  request.method = kHttpPost;
  // Large enough for libcurl to ask for "Expect: 100-continue" on its own.
  const std::string body((1 << 20) + 1, 'x');
  request.post_data = body;
  request.headers = "accept: a/b\r\nUSER-AGENT: me\r\ncontent-type: text/plain\r\nX-Empty:";
  http_request(request);
  std::string sent = canned.request();
  EXPECT_EQ(lines_named(sent, "Accept"), std::vector<std::string>{"accept: a/b"});
  EXPECT_EQ(lines_named(sent, "User-Agent"), std::vector<std::string>{"USER-AGENT: me"});
  // The Content-Type row looks for its exact spelling, so both lines go out.
  EXPECT_EQ(lines_named(sent, "Content-Type"),
            (std::vector<std::string>{"content-type: text/plain",
                                      "Content-Type: application/x-www-form-urlencoded"}));
  EXPECT_EQ(lines_named(sent, "X-Empty"), std::vector<std::string>{test::kEmptyValueLine});
  EXPECT_TRUE(lines_named(sent, "Expect").empty());
  EXPECT_EQ(sent.substr(sent.size() - body.size()), body);
}

TEST(HttpRequest, MethodsAndBodies) {
  struct Case {
    int method;
    std::string body;
    std::string request_line;
  };
  for (const Case& c : std::vector<Case>{{kHttpPost, "", "POST / HTTP/1.1"},
                                         {kHttpPost, std::string("a=1\0b", 5), "POST / HTTP/1.1"},
                                         {kHttpPut, "p", "PUT / HTTP/1.1"},
                                         {kHttpGet, "", "GET / HTTP/1.1"},
                                         {7, "", "GET / HTTP/1.1"}}) {
    CannedServer canned(kHello);
    HttpRequest request = to(canned.server.url("/"));
    request.method = c.method;
    request.post_data = c.body;
    EXPECT_EQ(http_request(request).text, "hello") << c.method;
    std::string sent = canned.request();
    EXPECT_EQ(first_line(sent), c.request_line);
    EXPECT_EQ(sent.substr(sent.find("\r\n\r\n") + 4), c.body);
    if (c.method == kHttpPost) {
      EXPECT_EQ(lines_named(sent, "Content-Length"),
                std::vector<std::string>{"Content-Length: " + std::to_string(c.body.size())});
    }
  }
  // HEAD reads no body even when the response announces one.
  CannedServer head("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n");
  HttpRequest request = to(head.server.url("/"));
  request.method = kHttpHead;
  HttpResponse response = http_request(request);
  EXPECT_EQ(first_line(head.request()), "HEAD / HTTP/1.1");
  EXPECT_EQ(response.failure, 0);
  EXPECT_EQ(response.status_text, "200 OK");
  EXPECT_TRUE(response.body.empty());
}

TEST(HttpRequest, BasicCredentialsOnlyWithBothTexts) {
  CannedServer canned(kHello);
  HttpRequest request = to(canned.server.url("/"));
  request.user = "u";
  request.password = "p";
  http_request(request);
  request.password.clear();
  http_request(request);
  EXPECT_EQ(lines_named(canned.request(0), "Authorization"),
            std::vector<std::string>{"Authorization: Basic dTpw"});
  EXPECT_TRUE(lines_named(canned.request(1), "Authorization").empty());
}

TEST(HttpRequest, AddressEscapingAndEmptyPath) {
  CannedServer canned(kHello);
  http_request(to(canned.server.url("/list?dir=/我的 文件&n=%2F")));
  http_request(to("http://127.0.0.1:" + std::to_string(canned.server.port()) + "?a=1"));
  EXPECT_EQ(first_line(canned.request(0)),
            "GET /list?dir=/%E6%88%91%E7%9A%84%20%E6%96%87%E4%BB%B6&n=%2F HTTP/1.1");
  EXPECT_EQ(first_line(canned.request(1)), "GET / HTTP/1.1");
  for (const char* bad : {"not an address", "ftp://127.0.0.1/x", "http://"}) {
    HttpResponse response = http_request(to(bad));
    EXPECT_EQ(response.failure, 701) << bad;
    EXPECT_EQ(response.status_text, "701 解析URL地址失败!");
  }
}

}  // namespace
}  // namespace sharelink
