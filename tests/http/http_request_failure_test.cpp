#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "http/http_request.h"
#include "test_server.h"
#include "trace_capture.h"
#include "transport_traits.h"

namespace sharelink {
namespace {

using test::Clock;
using test::PageServer;
using test::RawConnection;
using test::RawServer;

HttpRequest with_cookies(const std::string& url) {
  HttpRequest request;
  request.url = url;
  request.cookies = "A=1";
  request.timeout_seconds = 1;
  return request;
}

// Failures before a response leave every output as it was.
void expect_failure(const HttpResponse& response, int number, const std::string& text) {
  EXPECT_EQ(response.failure, number);
  EXPECT_EQ(response.status_text, text);
  EXPECT_EQ(response.text, "");
  EXPECT_EQ(response.cookies, "A=1");
  EXPECT_EQ(response.set_cookies + response.response_headers + response.location + response.body,
            "");
}

TEST(HttpFailure, NothingSentOrNothingAnswered) {
  HttpRequest malformed = with_cookies("http://127.0.0.1:1/");
  malformed.headers = "Referer: r\r\nno colon";
  expect_failure(http_request(malformed), 710, "710 设置协议头失败!");

  std::string port = std::to_string(test::unused_port());
  expect_failure(http_request(with_cookies("http://127.0.0.1:" + port + "/")), 711,
                 "711 发送请求失败!");

  RawServer not_tls([](RawConnection& connection) {
    std::string hello;
    connection.read_some(hello);
    connection.send_text("HTTP/1.1 200 OK\r\n\r\n");
  });
  expect_failure(http_request(with_cookies(not_tls.url("/", "https"))), 711, "711 发送请求失败!");

  RawServer hangs_up([](RawConnection& connection) { connection.read_request(); });
  expect_failure(http_request(with_cookies(hangs_up.url("/"))), 712, "712 服务器未响应!");

  RawServer silent([](RawConnection& connection) {
    connection.read_request();
    connection.hold();
  });
  auto start = Clock::now();
  expect_failure(http_request(with_cookies(silent.url("/"))), 712, "712 服务器未响应!");
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
}

// The kind of each failure, for telling a user why, with the trace's reason;
// and whether trying again may help.
TEST(HttpFailure, EachFailureNamesItsCause) {
  using Serve = std::function<void(RawConnection&)>;
  auto replying = [](const std::string& text) -> Serve {
    return [text](RawConnection& connection) {
      connection.read_request();
      connection.send_text(text);
    };
  };
  std::string endless_block = "HTTP/1.1 200 OK\r\n";
  for (int n = 0; n < 1100; ++n)
    endless_block += "X-Filler: " + std::string(1000, 'x') + "\r\n";
  struct Case {
    const char* name;
    Serve serve;  // null: nothing listens
    const char* scheme;
    int failure;
    HttpCause cause;
    bool transient;
  };
  const Case cases[] = {
      {"a closed port", nullptr, "http", 711, HttpCause::refused, true},
      {"a reset",
       [](RawConnection& connection) {
         connection.read_request();
         linger abort{1, 0};
         setsockopt(connection.fd(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
                    sizeof abort);
       },
       "http", 712, HttpCause::broken, true},
      {"a stall",
       [](RawConnection& connection) {
         connection.read_request();
         connection.hold();
       },
       "http", 712, HttpCause::timed_out, true},
      {"a body cut short", replying("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npartial"),
       "http", kHttpFailureBodyRead, HttpCause::broken, true},
      {"no TLS",
       [](RawConnection& connection) {
         std::string hello;
         connection.read_some(hello);
         connection.send_text("HTTP/1.1 200 OK\r\n\r\n");
       },
       "https", 711, HttpCause::tls, true},
      {"an endless header block", replying(endless_block), "http", 712, HttpCause::too_big, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.cause == HttpCause::too_big && !test::header_block_bounded()) continue;
    std::unique_ptr<RawServer> server;
    if (c.serve) server = std::make_unique<RawServer>(c.serve);
    test::TraceCapture trace;
    HttpRequest request;
    request.url = server ? server->url("/", c.scheme)
                         : "http://127.0.0.1:" + std::to_string(test::unused_port()) + "/";
    request.timeout_seconds = 1;
    HttpResponse response = http_request(request);
    EXPECT_EQ(response.failure, c.failure);
    EXPECT_EQ(response.cause, c.cause) << response.reason;
    EXPECT_EQ(response.transient, c.transient);
    const std::vector<HttpTraceRecord> records = trace.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NE(response.reason, "");
    EXPECT_EQ(response.reason, records[0].reason);
  }
}

TEST(HttpFailure, RedirectLoopsEnd) {
  PageServer home;
  PageServer away;
  auto loop = [](PageServer& to, const std::string& target) {
    return [&to, target](const httplib::Request&, httplib::Response& response) {
      response.status = 302;
      response.set_header("Location", to.url(target));
    };
  };
  home->Get("/loop", loop(home, "/loop"));
  home->Get("/ping", loop(away, "/pong"));
  away->Get("/pong", loop(home, "/ping"));
  expect_failure(http_request(with_cookies(home.url("/loop"))), 712, "712 服务器未响应!");
  // Each departure from the origin restarts the transfer; the count goes on.
  expect_failure(http_request(with_cookies(home.url("/ping"))), 712, "712 服务器未响应!");
}

TEST(HttpFailure, BodyBreakingOffKeepsTheResponseAndItsBytes) {
  const std::string head =
      "HTTP/1.1 200 OK\r\nContent-Length: 100\r\nSet-Cookie: K=1\r\n\r\npartial";
  RawServer closes([&](RawConnection& connection) {
    connection.read_request();
    connection.send_text(head);
  });
  RawServer stalls([&](RawConnection& connection) {
    connection.read_request();
    connection.send_text(head);
    connection.hold();
  });
  for (const RawServer* server : {&closes, &stalls}) {
    auto start = Clock::now();
    HttpResponse response = http_request(with_cookies(server->url("/")));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(response.failure, kHttpFailureBodyRead);
    EXPECT_EQ(response.status_text, "200 OK");
    EXPECT_EQ(response.body, "partial");
    EXPECT_EQ(response.text, "partial");
    EXPECT_EQ(response.cookies, "K=1; A=1");
  }
}

TEST(HttpFailure, BodyStopsAt64MiB) {
  constexpr std::size_t kLimit = std::size_t{64} << 20;
  PageServer pages;
  pages->Get("/huge", [](const httplib::Request&, httplib::Response& response) {
    response.set_content_provider(
        kLimit + 1, "application/octet-stream",
        [](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
          static const std::string block(1 << 16, 'z');
          sink.write(block.data(), std::min(length, block.size()));
          return offset < kLimit + 1;
        });
  });
  HttpResponse response = http_request(with_cookies(pages.url("/huge")));
  EXPECT_EQ(response.failure, kHttpFailureBodyRead);
  EXPECT_EQ(response.status_text, "200 OK");
  EXPECT_EQ(response.body.size(), kLimit);
}

// What the server does with the n-th request (from 1) of a call that the
// server cancels itself, so that the cancel comes in the phase the row names.
// False: the connection closes, once the call has returned.
using CancelledExchange =
    std::function<bool(RawConnection&, int n, const std::function<void()>& cancel)>;

struct CancelCase {
  const char* name;
  CancelledExchange serve;  // null: the token is cancelled before the call
  int requests;             // the requests the server gets
};

TEST(HttpFailure, ACancelledCallEndsAtOnceAndSendsNothingMore) {
  const CancelCase cases[] = {
      {"before the call", nullptr, 0},
      {"during a slow header",
       [](RawConnection&, int, const std::function<void()>& cancel) {
         cancel();
         return false;
       },
       1},
      {"during a slow body",
       [](RawConnection& connection, int, const std::function<void()>& cancel) {
         connection.send_text("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\npartial");
         cancel();
         return false;
       },
       1},
      // The third redirect comes after the cancel: it is not followed.
      {"during a redirect chain",
       [](RawConnection& connection, int n, const std::function<void()>& cancel) {
         if (n == 3) cancel();
         return connection.send_text(
             "HTTP/1.1 302 Found\r\nLocation: /onward\r\nContent-Length: 0\r\n\r\n");
       },
       3},
  };
  for (const CancelCase& c : cases) {
    for (bool pooled : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (pooled ? ", pooled" : ""));
      auto token = std::make_shared<HttpCancel>();
      std::atomic<Clock::time_point> cancelled_at{Clock::now()};
      auto cancel = [&] {
        cancelled_at = Clock::now();
        token->cancel();
      };
      std::atomic<bool> returned{false};
      std::atomic<int> connections{0};
      std::atomic<int> requests{0};
      RawServer server([&](RawConnection& connection) {
        ++connections;
        while (!connection.read_request().empty()) {
          // Once the call returned, the requests are the next call's.
          int n = returned ? 0 : ++requests;
          if (n == 0 || !c.serve) {
            connection.send_text("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello");
          } else if (!c.serve(connection, n, cancel)) {
            test::wait_for([&] { return returned.load(); });
            return;
          }
        }
      });
      HttpRequest request = with_cookies(server.url("/"));
      request.timeout_seconds = 30;
      request.connections = pooled ? make_connection_pool() : nullptr;
      request.cancel = token;
      if (!c.serve) cancel();
      HttpResponse response = http_request(request);
      auto late = Clock::now() - cancelled_at.load();
      EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(late).count(), 2000);
      returned = true;
      expect_failure(response, kHttpFailureCancelled, "714 请求已取消!");
      EXPECT_EQ(response.cause, HttpCause::cancelled);
      EXPECT_EQ(requests, c.requests);
      EXPECT_TRUE(c.serve || connections == 0) << "a connection for a call cancelled before it";
      // Nothing of the cancelled call is left in the pool for the next.
      request.cancel = nullptr;
      response = http_request(request);
      EXPECT_EQ(response.failure, 0);
      EXPECT_EQ(response.text, "hello");
    }
  }
}

}  // namespace
}  // namespace sharelink
