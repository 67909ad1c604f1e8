#include <memory>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "http/http_request.h"
#include "proxy_process.h"
#include "test_server.h"

namespace sharelink {
namespace {

using test::PageServer;
using test::ProxyProcess;
using test::RawConnection;
using test::RawServer;
using test::Recorder;

class Proxied : public ::testing::Test {
 protected:
  void SetUp() override {
    pages->Get("/p", [](const httplib::Request&, httplib::Response& response) {
      response.set_content("through", "text/plain");
    });
  }
  HttpResponse fetch(const ProxyProcess& proxy, const std::string& url,
                     const std::string& user = "", const std::string& password = "") {
    HttpRequest request;
    request.url = url;
    request.proxy = proxy.address();
    request.proxy_user = user;
    request.proxy_password = password;
    request.timeout_seconds = 5;
    return http_request(request);
  }

  PageServer pages;
  // Stands in for a TLS server: keeps the first bytes that come through a tunnel.
  Recorder tunnelled;
  RawServer tls_peer{[this](RawConnection& connection) {
    std::string hello;
    connection.read_some(hello);
    tunnelled.add(hello);
  }};
};

TEST_F(Proxied, HttpGoesThroughAndHttpsTunnels) {
  ProxyProcess proxy;
  ASSERT_TRUE(proxy.running()) << "tinyproxy did not start";
  HttpResponse response = fetch(proxy, pages.url("/p"));
  EXPECT_EQ(response.status_text, "200 OK");
  EXPECT_EQ(response.text, "through");
  EXPECT_NE(proxy.log().find("GET " + pages.url("/p")), std::string::npos);

  // The TLS handshake reaches the server through CONNECT and fails there.
  response = fetch(proxy, tls_peer.url("/", "https"));
  EXPECT_EQ(response.failure, 711);
  ASSERT_EQ(tunnelled.all().size(), 1u);
  EXPECT_EQ(tunnelled.all()[0].substr(0, 1), "\x16");
  EXPECT_NE(proxy.log().find("CONNECT 127.0.0.1:" + std::to_string(tls_peer.port())),
            std::string::npos);
}

TEST_F(Proxied, BasicCredentialsAndTheProxysRefusal) {
  ProxyProcess proxy("alice", "secret");
  ASSERT_TRUE(proxy.running()) << "tinyproxy did not start";
  EXPECT_EQ(fetch(proxy, pages.url("/p"), "alice", "secret").text, "through");

  // A refusal is the proxy's response, not a failure. A user without a password
  // sends no credentials: 407. tinyproxy 1.11 answers wrong ones with 401.
  HttpResponse response = fetch(proxy, pages.url("/p"), "alice", "");
  EXPECT_EQ(response.failure, 0);
  EXPECT_EQ(response.status_text, "407 Proxy Authentication Required");
  EXPECT_NE(response.response_headers.find("Proxy-Authenticate: Basic"), std::string::npos);
  EXPECT_NE(response.text.find("html"), std::string::npos);
  const std::set<std::string> refusals = {"407 Proxy Authentication Required", "401 Unauthorized"};
  response = fetch(proxy, pages.url("/p"), "alice", "wrong");
  EXPECT_EQ(response.failure, 0);
  EXPECT_EQ(refusals.count(response.status_text), 1u) << response.status_text;
  response = fetch(proxy, tls_peer.url("/", "https"), "alice", "wrong");
  EXPECT_EQ(response.failure, 0);
  EXPECT_EQ(refusals.count(response.status_text), 1u) << response.status_text;
  EXPECT_TRUE(tunnelled.all().empty());
}

TEST_F(Proxied, PooledConnectionsKeepDirectAndProxiedApart) {
  ProxyProcess proxy;
  ASSERT_TRUE(proxy.running()) << "tinyproxy did not start";
  std::shared_ptr<HttpConnectionPool> pool = make_connection_pool();
  for (bool proxied : {false, true, false, true, false}) {
    HttpRequest request;
    request.url = pages.url("/p");
    request.proxy = proxied ? proxy.address() : "";
    request.connections = pool;
    request.timeout_seconds = 5;
    EXPECT_EQ(http_request(request).text, "through") << proxied;
  }
  // Every proxied call and no direct one went through the proxy.
  const std::string log = proxy.log();
  const std::string line = "GET " + pages.url("/p");
  int through = 0;
  for (std::size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1))
    ++through;
  EXPECT_EQ(through, 2) << log;
}

}  // namespace
}  // namespace sharelink
