// Each rule the service enforces: a request bent in one place is refused with
// errno 2, and the fault is named on stderr and in the request log.

#include <functional>

#include <gtest/gtest.h>

#include "sim_test_support.h"

namespace sharelink::sim::testing {
namespace {

struct Request {
  std::string method;
  std::string path;
  std::string query;
  std::string body;
  std::vector<std::string> headers;
};

struct Bend {
  const char* what;
  const char* named;  // a piece of the violation line
  std::function<void(Request&)> apply;
};

// Replaces the first `from` in text; a bend whose anchor is missing is a test bug.
std::function<void(Request&)> in_query(const std::string& from, const std::string& to) {
  return [from, to](Request& request) {
    const auto at = request.query.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    request.query.replace(at, from.size(), to);
  };
}

std::function<void(Request&)> in_body(const std::string& from, const std::string& to) {
  return [from, to](Request& request) {
    const auto at = request.body.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    request.body.replace(at, from.size(), to);
  };
}

std::function<void(Request&)> header(std::size_t index, const std::string& line) {
  return [index, line](Request& request) { request.headers.at(index) = line; };
}

class Strictness : public ::testing::Test {
 protected:
  void SetUp() override {
    Fixture fixture = demo_fixture();
    fixture.quiet = true;
    sim = std::make_unique<Simulator>(std::move(fixture));
    ASSERT_TRUE(sim->start());
    pub = std::make_unique<Visitor>(sim->origin(), "1PubDemoXq7Ra");
    pub->page();
    locked = std::make_unique<Visitor>(sim->origin(), "1LockDemoK3vP");
    locked->page();
  }

  void expect_refused(const Request& good, const std::vector<Bend>& bends) {
    const Exchange passed = pub->send(good.method, good.path, good.query, good.body, good.headers);
    EXPECT_NE(passed.errno_value(), 2) << passed.body;
    EXPECT_EQ(sim->requests().back().violation, "");
    for (const Bend& bend : bends) {
      Request request = good;
      bend.apply(request);
      const Exchange refused =
          pub->send(request.method, request.path, request.query, request.body, request.headers);
      EXPECT_EQ(refused.errno_value(), 2) << bend.what;
      const std::string violation = sim->requests().back().violation;
      EXPECT_NE(violation.find(bend.named), std::string::npos) << bend.what << ": " << violation;
    }
  }

  std::unique_ptr<Simulator> sim;
  std::unique_ptr<Visitor> pub;
  std::unique_ptr<Visitor> locked;
};

TEST_F(Strictness, Verify) {
  const Request good{"POST", "/share/verify", locked->verify_query(),
                     "pwd=abcd&vcode=&vcode_str=", locked->post_headers()};
  expect_refused(
      good,
      {
          {"renamed", "expected 'shareid'", in_query("shareid=", "shareId=")},
          {"swapped", "expected 'uk'", in_query("&uk=1102000002&t=", "&t=1&uk=")},
          {"channel", "chunlei", in_query("channel=chunlei", "channel=chunlai")},
          {"clienttype", "clienttype", in_query("clienttype=0", "clienttype=1")},
          {"bdstoken", "bdstoken", in_query("bdstoken=null", "bdstoken=")},
          {"app_id", "250528", in_query("app_id=250528", "app_id=778750")},
          {"t form", "13-digit", in_query("&t=1", "&t=0.1")},
          {"logid", "logid", in_query("logid=", "logid=x")},
          {"extra", "extra parameter", [](Request& request) { request.query += "&x=1"; }},
          {"unknown share", "no share", in_query("shareid=4201000002", "shareid=4201000009")},
          {"raw plus in pwd", "percent-encoded", in_body("pwd=abcd", "pwd=a+cd")},
          {"body order", "expected 'vcode'", in_body("&vcode=&vcode_str=", "&vcode_str=&vcode=")},
          {"no Referer", "Referer", header(0, "Referer:")},
          {"other share's Referer", "Referer",
           header(0, "Referer:" + sim->share_url("1PubDemoXq7Ra"))},
          {"other host", "Referer", header(0, "Referer:http://localhost:1/s/1LockDemoK3vP")},
          {"form type", "Content-Type", header(1, "Content-Type: text/plain")},
          {"GET", "not a POST", [](Request& request) { request.method = "GET"; }},
      });
}

TEST_F(Strictness, CaptchaAndList) {
  expect_refused(Request{"GET", "/api/getcaptcha", pub->captcha_query("pan"), "", {}},
                 {
                     {"prod", "shareverify or pan", in_query("prod=pan", "prod=share")},
                     {"one web", "expected 'web'", in_query("&web=1&t=", "&t=")},
                     {"t form", "16 digits", in_query("t=0.", "t=1.")},
                 });
  expect_refused(
      Request{
          "GET", "/share/list", pub->list_query(u8"/我的分享/演示/照片 & 视频 #1", 1, 100), "", {}},
      {
          {"raw slash in dir", "percent-encoded", in_query("dir=%2F", "dir=/")},
          {"no such folder", "no folder", in_query("dir=%2F", "dir=%2Fx")},
          {"page 0", "page", in_query("page=1", "page=0")},
          {"num too big", "num", in_query("num=100", "num=5000")},
          {"order", "server_filename", in_query("order=server_filename", "order=time")},
          {"desc", "desc", in_query("desc=1", "desc=0")},
          {"showempty", "showempty", in_query("showempty=0", "showempty=1")},
          {"no equals", "no '='", in_query("web=1&page", "web&page")},
      });
  // A protected share is listed only with its cookie.
  EXPECT_EQ(locked->list(u8"/工作/资料").errno_value(), 2);
  EXPECT_NE(sim->requests().back().violation.find("BDCLND"), std::string::npos);
}

TEST_F(Strictness, Download) {
  const nlohmann::json file = pub->data["file_list"]["list"][0];
  const std::string fs_id = file["fs_id"].dump();
  const std::string folder_id = pub->data["file_list"]["list"][1]["fs_id"].dump();
  const std::string sign = pub->data["sign"];
  expect_refused(
      Request{"POST", "/api/sharedownload", pub->download_query("250528"),
              pub->download_body(fs_id), pub->post_headers()},
      {
          {"sign", "sign", in_query("sign=" + sign, "sign=" + std::string(40, 'a'))},
          {"timestamp", "sign", in_query("&timestamp=1", "&timestamp=2")},
          {"bdstoken", "bdstoken", in_query("&bdstoken=", "&bdstoken=0")},
          {"channel", "chunlei", in_query("channel=chunlei", "channel=")},
          {"app_id", "app_id", in_query("app_id=250528", "app_id=778750")},
          {"uk", "no share", in_body("uk=1102000001", "uk=1102000002")},
          {"primaryid", "no share", in_body("primaryid=4201000001", "primaryid=4201000002")},
          {"encrypt", "encrypt", in_body("encrypt=0", "encrypt=1")},
          {"product", "product", in_body("product=share", "product=pan")},
          {"folder", "no file", in_body("%5B" + fs_id, "%5B" + folder_id)},
          {"foreign id", "no file", in_body("%5B" + fs_id, "%5B1")},
          {"two ids", "one file", in_body("%5D", "%2C1%5D")},
          {"raw list", "fid_list", in_body("%5B" + fs_id + "%5D", fs_id)},
          {"junk extra", "sekey", in_body("&extra=", "&extra=abc")},
          {"no Referer", "Referer", header(0, "Referer:")},
          {"form type", "Content-Type", header(1, "Content-Type: application/json")},
      });
  // The sekey of a protected share must be its cookie's decoded value.
  ASSERT_EQ(locked->verify("8k2p").errno_value(), 0);
  locked->page();
  const std::string locked_id = locked->data["file_list"]["list"][0]["fs_id"].dump();
  std::string body = locked->download_body(locked_id);
  body.replace(body.find("%2B"), 3, "%2b0");
  EXPECT_EQ(locked
                ->send("POST", "/api/sharedownload", locked->download_query("250528"), body,
                       locked->post_headers())
                .errno_value(),
            2);
  EXPECT_NE(sim->requests().back().violation.find("sekey"), std::string::npos);
}

TEST(StrictnessReport, ViolationIsOneLineOnStderrAndInTheLog) {
  Simulator sim(demo_fixture());
  ASSERT_TRUE(sim.start());
  Visitor visitor(sim.origin(), "1PubDemoXq7Ra");
  visitor.page();
  ::testing::internal::CaptureStderr();
  const Exchange refused = visitor.send(
      "GET", "/share/list", visitor.list_query("/nowhere", 1, 100).replace(0, 2, "UK"), "", {});
  const Exchange unknown = fetch(sim.origin() + "/api/nothing?x=1");
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(refused.errno_value(), 2);
  EXPECT_EQ(refused.header("Content-Type"), "application/json; charset=utf-8");
  EXPECT_EQ(unknown.status, 404);
  const std::vector<LogEntry> log = sim.requests();
  ASSERT_GE(log.size(), 2u);
  const LogEntry& list = log[log.size() - 2];
  EXPECT_EQ(list.query.substr(0, 3), "UK=");  // the raw query as sent
  EXPECT_EQ(err,
            "sharelink-sim: " + list.violation + "\nsharelink-sim: " + log.back().violation + "\n");

  // The log as JSON for scripts.
  const nlohmann::json requests = fetch(sim.origin() + "/__sim/requests").json();
  ASSERT_TRUE(requests.is_array());
  EXPECT_EQ(requests.back()["path"], "/api/nothing");
  EXPECT_EQ(requests.back()["query"], "x=1");
}

}  // namespace
}  // namespace sharelink::sim::testing
