#include <strings.h>

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "http/http_request.h"
#include "test_server.h"

namespace sharelink {
namespace {

using test::PageServer;
using test::Recorder;

// The request's Cookie lines, each followed by "|".
std::string cookie_lines(const httplib::Request& request) {
  std::string lines;
  for (const auto& [name, value] : request.headers) {
    if (strcasecmp(name.c_str(), "Cookie") == 0) lines += value + "|";
  }
  return lines;
}

void redirect(httplib::Response& response, int status, const std::string& to,
              const std::string& cookie_field, const std::string& cookie) {
  response.status = status;
  response.set_header("Location", to);
  response.set_header(cookie_field.c_str(), cookie);
  response.set_content("moved", "text/plain");
}

class Redirects : public ::testing::Test {
 protected:
  void SetUp() override {
    home->Get("/start", [](const httplib::Request&, httplib::Response& response) {
      redirect(response, 302, "/next", "Set-Cookie", "B=2; path=/");
    });
    // An absolute address that names the same origin keeps the caller's cookies.
    home->Get("/next", [this](const httplib::Request&, httplib::Response& response) {
      redirect(response, 302, home.url("/final"), "set-cookie", "C=3");
    });
    home->Get("/final", [this](const httplib::Request& request, httplib::Response& response) {
      seen.add(cookie_lines(request));
      response.set_content("done", "text/plain");
    });
    auto leave = [this](const httplib::Request& request, httplib::Response& response) {
      redirect(response, std::stoi(request.get_param_value("status")), away.url("/land"),
               "Set-Cookie", "S=1");
    };
    home->Get("/leave", leave);
    home->Post("/leave", leave);
    auto land = [this](const httplib::Request& request, httplib::Response& response) {
      seen.add(request.method + " " + request.body + " " + cookie_lines(request) +
               request.get_header_value("Authorization"));
      response.set_content("landed", "text/plain");
    };
    away->Get("/land", land);
    away->Post("/land", land);
  }

  HttpResponse fetch(const std::string& target, std::optional<std::string> cookies) {
    HttpRequest request;
    request.url = home.url(target);
    request.cookies = std::move(cookies);
    return http_request(request);
  }

  PageServer home;
  PageServer away;
  Recorder seen;
};

TEST_F(Redirects, CookiesOfTheWayGoInOneLineAndOnlyTheLastBlockIsKept) {
  struct Case {
    std::optional<std::string> cookies;
    std::string sent;
    std::optional<std::string> kept;
  };
  for (const Case& c : std::vector<Case>{{std::nullopt, "", std::nullopt},
                                         {"", "C=3; B=2|", "C=3; B=2"},
                                         {"A=1", "C=3; B=2; A=1|", "C=3; B=2; A=1"}}) {
    HttpResponse response = fetch("/start", c.cookies);
    EXPECT_EQ(seen.all().back(), c.sent);
    EXPECT_EQ(response.text, "done");
    EXPECT_EQ(response.status_text, "200 OK");
    EXPECT_EQ(response.response_headers.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_EQ(response.response_headers.find("ocation"), std::string::npos);
    EXPECT_EQ(response.response_headers.substr(response.response_headers.size() - 4), "\r\n\r\n");
    // What the home origin set on the way is the caller's too.
    EXPECT_EQ(response.set_cookies, "");
    EXPECT_EQ(response.cookies, c.kept);
  }
  // Each call starts with an empty cookie store.
  fetch("/final", "");
  EXPECT_EQ(seen.all().back(), "");
}

TEST_F(Redirects, NoRedirectReturnsTheRedirectItself) {
  HttpRequest request;
  request.url = home.url("/start");
  request.cookies = "A=1";
  request.no_redirect = true;
  HttpResponse response = http_request(request);
  EXPECT_EQ(response.status_text, "302 Found");
  EXPECT_EQ(response.location, "/next");
  EXPECT_EQ(response.text, "moved");
  EXPECT_EQ(response.set_cookies, "B=2");
  EXPECT_EQ(response.cookies, "B=2; A=1");
}

TEST_F(Redirects, CallersCookiesAndCredentialsNeverLeaveTheirOrigin) {
  HttpRequest request;
  request.url = home.url("/leave?status=302");
  request.cookies = "SID=secret";
  request.user = "u";
  request.password = "p";
  EXPECT_EQ(http_request(request).text, "landed");
  // Not even the redirect's own cookie follows: it belongs to its origin, and
  // another port is another origin.
  EXPECT_EQ(seen.all().back(), "GET  ");

  request.cookies.reset();
  request.headers = "Cookie: SID=secret";
  http_request(request);
  EXPECT_EQ(seen.all().back(), "GET  ");

  // A POST becomes a GET on 302 and may leave; on 307 its body would go along,
  // so the redirect is the answer.
  request.cookies = "SID=secret";
  request.headers.clear();
  request.method = kHttpPost;
  request.post_data = "k=v";
  http_request(request);
  EXPECT_EQ(seen.all().back(), "GET  ");
  std::size_t landings = seen.all().size();
  request.url = home.url("/leave?status=307");
  HttpResponse response = http_request(request);
  EXPECT_EQ(seen.all().size(), landings);
  EXPECT_EQ(response.failure, 0);
  EXPECT_EQ(response.status_text, "307 Temporary Redirect");
  EXPECT_EQ(response.location, away.url("/land"));
  EXPECT_EQ(response.text, "moved");
  EXPECT_EQ(response.cookies, "S=1; SID=secret");
}

TEST(HttpResponse, SetCookieSpellingsAndBodies) {
  PageServer pages;
  pages->Get("/spell", [](const httplib::Request&, httplib::Response& response) {
    response.set_header("set-cookie", "A=1; path=/");
    response.set_header("SET-COOKIE", "B=2");
    response.set_content(std::string("ab\0cd", 5), "text/plain");
  });
  pages->Get("/chunked", [](const httplib::Request&, httplib::Response& response) {
    response.set_chunked_content_provider("text/plain", [](std::size_t, httplib::DataSink& sink) {
      sink.write("abc", 3);
      sink.write("def", 3);
      sink.done();
      return true;
    });
  });
  HttpRequest request;
  request.url = pages.url("/spell");
  HttpResponse response = http_request(request);
  EXPECT_EQ(response.set_cookies, "A=1; B=2");
  EXPECT_NE(response.response_headers.find("Set-Cookie: A=1; path=/\r\n"), std::string::npos);
  EXPECT_NE(response.response_headers.find("Set-Cookie: B=2\r\n"), std::string::npos);
  EXPECT_EQ(response.text, "ab");
  EXPECT_EQ(response.body, std::string("ab\0cd", 5));

  request.cookies = "X=9";
  response = http_request(request);
  EXPECT_EQ(response.set_cookies, "A=1;B=2");
  EXPECT_EQ(response.cookies, "A=1; B=2; X=9");

  request.url = pages.url("/chunked");
  EXPECT_EQ(http_request(request).body, "abcdef");
}

TEST(HttpResponse, TextIsRedecodedFromTheDeclaredCharset) {
  struct Page {
    std::string content_type;
    std::string body;
    std::string text;
  };
  const std::string padding(1100, ' ');
  const std::vector<Page> pages = {
      {"text/html", u8"<meta charset=\"utf-8\">中文", "<meta charset=\"utf-8\">中文"},
      {"text/html", "<META Charset=gbk>中文", "<META Charset=gbk>中文"},
      {"text/html", "<meta charset=GBK>中文", "<meta charset=GBK>中文"},
      {"text/html", "<meta charset=gb2312>\x95\x32\x82\x36",
       "<meta charset=gb2312>\x95\x32\x82\x36"},
      {"text/html", "<meta charset=GB18030>\x95\x32\x82\x36",
       "<meta charset=GB18030>\x95\x32\x82\x36"},
      {"text/html", "\x95\x32\x82\x36", "\x95\x32\x82\x36"},
      {"text/html", "<meta charset=big5>\xA4\xA4\xA4\xE5", "<meta charset=big5>中文"},
      {"text/html", "<meta charset=x-none>\xA4\xA4", "<meta charset=x-none>\xA4\xA4"},
      {"text/html", u8"中文", u8"中文"},
      {"application/json; charset=utf-8", u8"{\"n\":\"中文\"}", "{\"n\":\"中文\"}"},
      {"text/html; charset=big5", "\xA4\xA4\xA4\xE5", "中文"},
      {"text/html; charset=utf-8", "<meta charset=gbk>中文", "<meta charset=gbk>中文"},
      {"text/html; charset=gbk", u8"中文", u8"中文"},
      {"text/html", padding + u8"<meta charset=utf-8>中文", padding + u8"<meta charset=utf-8>中文"},
  };
  PageServer server;
  server->Get(R"(/page/(\d+))", [&](const httplib::Request& request, httplib::Response& response) {
    const Page& page = pages[std::stoul(request.matches[1])];
    response.set_content(page.body, page.content_type.c_str());
  });
  for (std::size_t i = 0; i < pages.size(); ++i) {
    HttpRequest request;
    request.url = server.url("/page/" + std::to_string(i));
    HttpResponse response = http_request(request);
    EXPECT_EQ(response.text, pages[i].text) << i;
    EXPECT_EQ(response.body, pages[i].body) << i;
  }
}

}  // namespace
}  // namespace sharelink
