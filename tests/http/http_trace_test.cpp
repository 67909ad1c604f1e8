// The trace record of each kind of failure the HTTP layer reports: the number,
// and a reason that names the cause, so that a user can act on it.

#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "http/http_request.h"
#include "test_server.h"
#include "text/local_text.h"
#include "trace_capture.h"
#include "transport_traits.h"

namespace sharelink {
namespace {

using test::PageServer;
using test::RawConnection;
using test::RawServer;

using test::TraceCapture;

// A server that answers every request the same way, described by a handler of
// the raw connection, or none at all (the address is all the row needs).
struct FailureCase {
  const char* name;
  std::function<void(RawConnection&)> serve;  // null: no server
  std::function<std::string(const RawServer*)> url;
  int failure;
  const char* cause;  // a word the reason holds, in any case
  // The same for WinHTTP, where its words differ; null: cause.
  const char* winhttp_cause = nullptr;
};

// What a trace shows for each failure the rows end with.
const std::map<int, std::string> kFailureTexts = {{701, "701 解析URL地址失败!"},
                                                  {711, "711 发送请求失败!"},
                                                  {712, "712 服务器未响应!"},
                                                  {713, "713 读取数据失败!"}};

void reply(RawConnection& connection, const std::string& text) {
  connection.read_request();
  connection.send_text(text);
}

std::string lowered(std::string text) {
  for (char& c : text)
    c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

TEST(HttpTrace, EachFailureKindNamesItsCause) {
  const std::string closed_port = "http://127.0.0.1:" + std::to_string(test::unused_port()) + "/";
  const FailureCase cases[] = {
      {"unsupported scheme", nullptr, [](const RawServer*) { return "ftp://127.0.0.1/"; }, 701,
       "http"},
      {"unparseable address", nullptr, [](const RawServer*) { return "http://[::1/"; }, 701,
       "parsed"},
      {"refused connection", nullptr, [&](const RawServer*) { return closed_port; }, 711,
       "connect"},
      {"redirect to another scheme",
       [](RawConnection& c) {
         reply(c,
               "HTTP/1.1 302 Found\r\nLocation: ftp://127.0.0.1/f\r\n"
               "Content-Length: 0\r\n\r\n");
       },
       [](const RawServer* s) { return s->url("/"); }, 711, "redirect"},
      {"no reply in time",
       [](RawConnection& c) {
         c.read_request();
         c.hold();
       },
       [](const RawServer* s) { return s->url("/"); }, 712, "timed out"},
      {"hang-up before a reply", [](RawConnection& c) { c.read_request(); },
       [](const RawServer* s) { return s->url("/"); }, 712, "empty reply", "winhttp error 12152"},
      {"malformed reply", [](RawConnection& c) { reply(c, "SPEAKS NO HTTP AT ALL\r\n\r\n"); },
       [](const RawServer* s) { return s->url("/"); }, 712, "http"},
      {"body cut short",
       [](RawConnection& c) { reply(c, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npartial"); },
       [](const RawServer* s) { return s->url("/"); }, kHttpFailureBodyRead, "closed"},
      {"body stalls",
       [](RawConnection& c) {
         reply(c, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npartial");
         c.hold();
       },
       [](const RawServer* s) { return s->url("/"); }, kHttpFailureBodyRead, "timed out"},
  };
  for (const FailureCase& row : cases) {
    SCOPED_TRACE(row.name);
    std::unique_ptr<RawServer> server;
    if (row.serve) server = std::make_unique<RawServer>(row.serve);
    TraceCapture trace;
    HttpRequest request;
    request.url = row.url(server.get());
    request.timeout_seconds = 1;
    HttpResponse response = http_request(request);
    server.reset();  // a held connection lets go before the records are read

    const std::vector<HttpTraceRecord> records = trace.records();
    ASSERT_EQ(records.size(), 1u);
    const HttpTraceRecord& record = records[0];
    EXPECT_EQ(response.failure, row.failure);
    EXPECT_EQ(record.failure, row.failure);
    EXPECT_EQ(record.failure_text, kFailureTexts.at(row.failure));
    EXPECT_EQ(record.method, "GET");
    EXPECT_EQ(record.url, request.url);
    const char* cause = test::kWinHttp && row.winhttp_cause ? row.winhttp_cause : row.cause;
    EXPECT_NE(lowered(record.reason).find(cause), std::string::npos) << record.reason;
  }
}

TEST(HttpTrace, SuccessRecordMasksTheCodeAndCountsTheBody) {
  PageServer pages;
  pages->Post("/s", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("hello", "text/plain");
  });
  TraceCapture trace;
  const struct {
    std::string target;
    std::string traced;
  } urls[] = {
      {"/s?pwd=ab12&x=1", "/s?pwd=****&x=1"},
      {"/s?x=1&PWD=ab12#pwd=f", "/s?x=1&PWD=****#pwd=f"},
      {"/s?pwdx=1&pwd=", "/s?pwdx=1&pwd=****"},
      {"/s?x", "/s?x"},
  };
  for (const auto& url : urls) {
    HttpRequest request;
    request.url = pages.url(url.target);
    request.method = kHttpPost;
    request.cookies = "SECRET=v";
    EXPECT_EQ(http_request(request).failure, 0);
  }
  set_http_trace(nullptr);
  HttpRequest untraced;
  untraced.url = pages.url("/s");
  http_request(untraced);

  const std::vector<HttpTraceRecord> records = trace.records();
  ASSERT_EQ(records.size(), std::size(urls));
  for (std::size_t i = 0; i < records.size(); ++i) {
    const HttpTraceRecord& record = records[i];
    EXPECT_EQ(record.method, "POST");
    EXPECT_EQ(record.url, pages.url(urls[i].traced));
    EXPECT_EQ(record.status, 200);
    EXPECT_EQ(record.bytes, 5u);
    EXPECT_GE(record.seconds, 0.0);
    EXPECT_EQ(record.failure, 0);
    EXPECT_EQ(record.failure_text + record.reason, "");
  }
}

}  // namespace
}  // namespace sharelink
