// Calls that name a connection pool share their connections, and only those:
// counted by the connections the loopback servers accept.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "http/http_request.h"
#include "test_server.h"
#include "transport_traits.h"

namespace sharelink {
namespace {

using test::first_line;
using test::KeepAliveServer;
using Answer = KeepAliveServer::Answer;

const char kHello[] = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";

std::string reply_with(const std::string& body, const std::string& extra_lines = "") {
  return "HTTP/1.1 200 OK\r\n" + extra_lines + "Content-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

HttpRequest call(const std::string& url, const std::shared_ptr<HttpConnectionPool>& pool) {
  HttpRequest request;
  request.url = url;
  request.connections = pool;
  request.timeout_seconds = 5;
  return request;
}

// Answers by request line: HEAD gets headers only, /hop a redirect on the same
// origin, anything else its own request line as the body.
Answer echo_line(const std::string& request, int) {
  std::string line = first_line(request);
  if (line.compare(0, 5, "HEAD ") == 0) return {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n"};
  if (line.compare(0, 9, "GET /hop ") == 0) {
    return {
        "HTTP/1.1 302 Found\r\nLocation: /landed\r\nSet-Cookie: H=1\r\nContent-Length: 5\r\n"
        "\r\nmoved"};
  }
  return {reply_with(line)};
}

TEST(ConnectionPool, CallsOfOneSessionShareOneConnection) {
  struct Step {
    int method;
    std::string target;
    std::string post_data;
    std::string text;
  };
  const std::vector<Step> steps = {
      {kHttpGet, "/a", "", "GET /a HTTP/1.1"},
      {kHttpPost, "/form", "x=1&y=2", "POST /form HTTP/1.1"},
      {kHttpHead, "/h", "", ""},
      {kHttpGet, "/hop", "", "GET /landed HTTP/1.1"},
      {kHttpPut, "/p", "body", "PUT /p HTTP/1.1"},
      {kHttpGet, "/z", "", "GET /z HTTP/1.1"},
  };
  for (bool pooled : {true, false}) {
    KeepAliveServer server(echo_line);
    std::shared_ptr<HttpConnectionPool> pool = pooled ? make_connection_pool() : nullptr;
    for (const Step& step : steps) {
      HttpRequest request = call(server.server.url(step.target), pool);
      request.method = step.method;
      request.post_data = step.post_data;
      request.cookies = "A=1";
      HttpResponse response = http_request(request);
      EXPECT_EQ(response.failure, 0) << step.target;
      EXPECT_EQ(response.text, step.text);
    }
    // Cookies stay with their call: the one set on the redirect goes along with
    // the redirected request only.
    for (const std::string& sent : server.requests.all()) {
      std::size_t at = sent.find("\r\nCookie: ");
      std::string cookie = at == std::string::npos ? "" : first_line(sent.substr(at + 2));
      bool landed = first_line(sent) == "GET /landed HTTP/1.1";
      EXPECT_EQ(cookie.find("H=1") != std::string::npos, landed) << cookie;
      EXPECT_NE(cookie.find("A=1"), std::string::npos) << first_line(sent);
    }
    EXPECT_EQ(server.requests.all().size(), steps.size() + 1);
    if (!pooled && test::calls_without_a_pool_share_connections()) continue;
    EXPECT_EQ(server.accepted, pooled ? 1 : static_cast<int>(steps.size())) << pooled;
  }
}

TEST(ConnectionPool, AClosedConnectionCostsOnlyANewOne) {
  struct Case {
    const char* name;
    KeepAliveServer::Answering answer;
  };
  const std::vector<Case> cases = {
      {"Connection: close",
       [](const std::string&, int) {
         return Answer{reply_with("hello", "Connection: close\r\n")};
       }},
      {"closed after the answer",
       [](const std::string&, int) {
         return Answer{kHello, true};
       }},
      // The race of a server's idle timeout: the next request arrives as it closes.
      {"closed at the next request",
       [](const std::string&, int n) { return n == 0 ? Answer{kHello} : Answer{}; }},
  };
  for (const Case& c : cases) {
    KeepAliveServer server(c.answer);
    std::shared_ptr<HttpConnectionPool> pool = make_connection_pool();
    for (int method : {kHttpGet, kHttpPost, kHttpGet}) {
      HttpRequest request = call(server.server.url("/"), pool);
      request.method = method;
      request.post_data = "k=v";
      HttpResponse response = http_request(request);
      EXPECT_EQ(response.failure, 0) << c.name;
      EXPECT_EQ(response.status_text, "200 OK") << c.name;
      EXPECT_EQ(response.text, "hello") << c.name;
    }
    EXPECT_EQ(server.accepted, 3) << c.name;
  }
}

// The server reads the whole POST, then drops the connection unanswered: a
// transport that sent it on the kept connection and took the drop for a stale
// connection would send it again. A send-once request reaches the server once
// and fails for good; a plain one is tried again on a new connection.
TEST(ConnectionPool, ASendOnceRequestReachesTheServerOnce) {
  for (bool once : {true, false}) {
    SCOPED_TRACE(once ? "send once" : "plain");
    std::atomic<int> posts{0};
    test::RawServer server(
        [&](test::RawConnection& connection) {
          for (std::string request; !(request = connection.read_request()).empty();) {
            bool post = first_line(request).compare(0, 5, "POST ") == 0;
            if (post && ++posts == 1) return;
            connection.send_text(kHello);
          }
        },
        true);
    std::shared_ptr<HttpConnectionPool> pool = make_connection_pool();
    ASSERT_EQ(http_request(call(server.url("/warm"), pool)).text, "hello");
    HttpRequest verify = call(server.url("/verify"), pool);
    verify.method = kHttpPost;
    verify.post_data = "pwd=abcd";
    verify.send_once = once;
    HttpResponse response = http_request(verify);
    EXPECT_EQ(posts, once ? 1 : 2);
    EXPECT_EQ(response.failure, once ? 712 : 0);
    EXPECT_EQ(response.cause, once ? HttpCause::broken : HttpCause::none) << response.reason;
    EXPECT_FALSE(response.transient);
    // The pool's kept connection still serves the calls after it.
    EXPECT_EQ(http_request(call(server.url("/after"), pool)).text, "hello");
  }
}

TEST(ConnectionPool, EachOriginHasItsOwnConnection) {
  auto named = [](const std::string& name) {
    return [name](const std::string&, int) { return Answer{reply_with(name)}; };
  };
  KeepAliveServer first(named("first"));
  KeepAliveServer second(named("second"));
  std::shared_ptr<HttpConnectionPool> pool = make_connection_pool();
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(http_request(call(first.server.url("/"), pool)).text, "first");
    EXPECT_EQ(http_request(call(second.server.url("/"), pool)).text, "second");
  }
  EXPECT_EQ(first.accepted, 1);
  EXPECT_EQ(second.accepted, 1);
}

// The captcha window may fetch on its own thread while the job's call runs.
TEST(ConnectionPool, ACallOnAnotherThreadGoesOnItsOwnConnection) {
  std::atomic<bool> released{false};
  KeepAliveServer slow([&](const std::string&, int) {
    test::wait_for([&] { return released.load(); });
    return Answer{reply_with("slow")};
  });
  KeepAliveServer quick([](const std::string&, int) { return Answer{kHello}; });
  std::shared_ptr<HttpConnectionPool> pool = make_connection_pool();
  HttpResponse held;
  std::thread job([&] { held = http_request(call(slow.server.url("/"), pool)); });
  ASSERT_TRUE(test::wait_for([&] { return !slow.requests.all().empty(); }));
  HttpResponse meanwhile = http_request(call(quick.server.url("/"), pool));
  released = true;
  job.join();
  EXPECT_EQ(meanwhile.text, "hello");
  EXPECT_EQ(held.text, "slow");
  // Both calls left their connections in the pool.
  EXPECT_EQ(http_request(call(slow.server.url("/"), pool)).text, "slow");
  EXPECT_EQ(http_request(call(quick.server.url("/"), pool)).text, "hello");
  EXPECT_EQ(http_request(call(quick.server.url("/"), pool)).text, "hello");
  EXPECT_EQ(slow.accepted, 1);
  EXPECT_EQ(quick.accepted, 1);
}

// Calls on several threads at once each take a connection of the pool and
// leave it there: the server sees the first call of every thread at once, and
// about as many connections as threads.
TEST(ConnectionPool, ThreadsAtOnceKeepAConnectionEach) {
  constexpr int kThreads = 8;
  constexpr int kCalls = 20;
  std::mutex mutex;
  std::condition_variable arrivals;
  int arrived = 0;  // guarded by mutex
  std::atomic<bool> together{true};
  std::atomic<int> connections{0};
  test::RawServer server(
      [&](test::RawConnection& connection) {
        ++connections;
        while (!connection.read_request().empty()) {
          std::unique_lock<std::mutex> lock(mutex);
          if (++arrived <= kThreads) {
            arrivals.notify_all();
            together = arrivals.wait_for(lock, std::chrono::seconds(5), [&] {
              return arrived >= kThreads;
            }) && together;
          }
          lock.unlock();
          connection.send_text(kHello);
        }
      },
      true);
  std::shared_ptr<HttpConnectionPool> pool = make_connection_pool();
  std::atomic<int> answered{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int n = 0; n < kCalls; ++n)
        answered += http_request(call(server.url("/"), pool)).text == "hello";
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(answered, kThreads * kCalls);
  EXPECT_TRUE(together) << "the calls of the threads waited for each other";
  EXPECT_LE(connections, kThreads + 2);
}

// A transfer ended early leaves unread bytes on its connection; reusing it
// would read them as the next response.
TEST(ConnectionPool, AnEndedTransferLeavesNoConnectionBehind) {
  constexpr std::size_t kLimit = std::size_t{64} << 20;
  KeepAliveServer away([](const std::string&, int) { return Answer{reply_with("landed")}; });
  const std::string huge = reply_with(std::string(kLimit + 1, 'z'));
  const std::string leave = "HTTP/1.1 302 Found\r\nLocation: " + away.server.url("/land") +
                            "\r\nContent-Length: 11\r\n\r\nmoved away.";
  KeepAliveServer home([&](const std::string& request, int) {
    std::string line = first_line(request);
    if (line == "GET /huge HTTP/1.1") return Answer{huge};
    if (line == "GET /leave HTTP/1.1") return Answer{leave};
    return Answer{kHello};
  });
  struct Case {
    std::string target;
    int failure;
    std::size_t body_size;
    bool new_connection;
  };
  std::shared_ptr<HttpConnectionPool> pool = make_connection_pool();
  int connections = 1;
  // A redirect that leaves the origin is read to its end before the next leg
  // goes elsewhere, so its connection stays; the body cap stops a body one
  // byte short of its end, and that connection goes.
  for (const Case& c :
       std::vector<Case>{{"/leave", 0, 6, false}, {"/huge", kHttpFailureBodyRead, kLimit, true}}) {
    HttpRequest request = call(home.server.url(c.target), pool);
    request.cookies = "A=1";
    HttpResponse response = http_request(request);
    EXPECT_EQ(response.failure, c.failure) << c.target;
    EXPECT_EQ(response.body.size(), c.body_size) << c.target;
    response = http_request(call(home.server.url("/next"), pool));
    EXPECT_EQ(response.failure, 0) << c.target;
    EXPECT_EQ(response.text, "hello") << c.target;
    if (c.new_connection) ++connections;
    // WinHTTP may read the last byte left of a capped body itself and keep the
    // connection, clean: what counts is that the next response came whole.
    if (test::kWinHttp && c.new_connection && home.accepted == connections - 1) --connections;
    EXPECT_EQ(home.accepted, connections) << c.target;
  }
  EXPECT_EQ(http_request(call(home.server.url("/again"), pool)).text, "hello");
  EXPECT_EQ(home.accepted, connections);
  EXPECT_EQ(away.accepted, 1);
  EXPECT_EQ(away.requests.all().at(0).find("Cookie"), std::string::npos);
}

}  // namespace
}  // namespace sharelink
