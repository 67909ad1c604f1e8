// A public, a protected, a captcha and a paginated share, driven the way the
// share client walks them.

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "sim/file_content.h"
#include "sim/wire_format.h"
#include "sim_test_support.h"

namespace sharelink::sim::testing {
namespace {

class ShareFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    sim = std::make_unique<Simulator>(demo_fixture());
    ASSERT_TRUE(sim->start());
  }
  Visitor visit(const std::string& surl) { return Visitor(sim->origin(), surl); }
  std::string answer_of(const Exchange& captcha) {
    return sim->captcha_answer(captcha.json().value("vcode_str", "")).value_or("");
  }
  const nlohmann::json& top(const Visitor& visitor, std::size_t i) {
    return visitor.data["file_list"]["list"][i];
  }

  std::unique_ptr<Simulator> sim;
};

TEST_F(ShareFlow, PublicPageCarriesTheDataObject) {
  Visitor visitor = visit("1PubDemoXq7Ra");
  const Exchange page = visitor.page();
  ASSERT_EQ(page.status, 200);
  EXPECT_EQ(page.header("Content-Type"), "text/html; charset=utf-8");
  EXPECT_NE(page.body.find("<meta charset=\"utf-8\">"), std::string::npos);
  ASSERT_TRUE(visitor.data.is_object());
  EXPECT_EQ(visitor.data["sign"].get<std::string>().size(), 40u);
  EXPECT_EQ(visitor.data["timestamp"].dump().size(), 10u);
  EXPECT_EQ(visitor.data["bdstoken"].get<std::string>().size(), 32u);
  EXPECT_EQ(visitor.uk, "1102000001");
  EXPECT_EQ(visitor.shareid, "4201000001");

  std::vector<std::string> names;
  for (const auto& entry : visitor.data["file_list"]["list"]) {
    names.push_back(entry["server_filename"]);
    EXPECT_EQ(entry["parent_path"], "%2F%E6%88%91%E7%9A%84%E5%88%86%E4%BA%AB%2F%E6%BC%94%E7%A4%BA");
    EXPECT_EQ(entry["path"], u8"/我的分享/演示/" + names.back());
    for (const char* member : {"fs_id", "app_id", "size", "isdir"})
      EXPECT_TRUE(entry.contains(member));
  }
  EXPECT_EQ(names, (std::vector<std::string>{u8"说明 readme.txt", u8"照片 & 视频 #1",
                                             "big 64bit id.bin", u8"工具 tool.exe"}));
  EXPECT_EQ(top(visitor, 1)["isdir"], 1);
  EXPECT_EQ(top(visitor, 3)["app_id"], "778750");
  // An id beyond 2^53 is written with all its digits.
  EXPECT_NE(page.body.find("\"fs_id\":9007199254740993,"), std::string::npos);
  // Names travel as \uXXXX escapes, "&" as \u0026 in the demo.
  EXPECT_NE(page.body.find(R"("\u7167\u7247 \u0026 \u89c6\u9891 #1")"), std::string::npos);
}

TEST_F(ShareFlow, UnknownShareAndFirstFetchHiccup) {
  const Exchange missing = fetch(sim->share_url("1NoSuchShare"));
  EXPECT_NE(missing.body.find(u8"链接不存在"), std::string::npos);
  EXPECT_EQ(missing.body.find("yunData.setData("), std::string::npos);

  Visitor visitor = visit("1DeepDemoM4nB");
  EXPECT_NE(visitor.page().body.find(u8"页面不存在"), std::string::npos);
  EXPECT_FALSE(visitor.data.is_object());
  visitor.page();
  EXPECT_TRUE(visitor.data.is_object());
}

TEST_F(ShareFlow, ProtectedShareUnlocksWithTheCode) {
  const Exchange probe = fetch(sim->share_url("1LockDemoK3vP"));
  ASSERT_EQ(probe.status, 302);
  const std::string init = sim->origin() + "/share/init?shareid=4201000002&uk=1102000002";
  EXPECT_EQ(probe.header("Location"), init);
  Call follow;
  follow.follow = true;
  const Exchange prompt = fetch(sim->share_url("1LockDemoK3vP"), follow);
  EXPECT_NE(prompt.body.find(u8"请输入提取密码"), std::string::npos);
  EXPECT_EQ(prompt.body.find("yunData.setData("), std::string::npos);

  Visitor visitor = visit("1LockDemoK3vP");
  visitor.page();
  EXPECT_EQ(visitor.referer, init);
  EXPECT_EQ(visitor.verify("").errno_value(), -12);
  EXPECT_EQ(visitor.verify("xxxx").errno_value(), -9);
  EXPECT_TRUE(visitor.cookie.empty());
  const Exchange right = visitor.verify("8K2P");  // letter case does not matter
  EXPECT_EQ(right.errno_value(), 0);
  EXPECT_EQ(right.header("Set-Cookie"), visitor.cookie + "; path=/");
  for (const char* escape : {"%2B", "%2F", "%3D"}) {
    EXPECT_NE(visitor.cookie.find(escape), std::string::npos) << visitor.cookie;
  }
  // With the cookie both addresses give the data page.
  for (const std::string& url : {sim->share_url("1LockDemoK3vP"), init}) {
    Call call;
    call.headers = {"Cookie: " + visitor.cookie};
    const Exchange page = fetch(url, call);
    EXPECT_EQ(page.status, 200);
    EXPECT_TRUE(data_object(page.body).is_object()) << url;
  }
}

TEST_F(ShareFlow, VerificationDemandsACaptchaAfterTwoWrongCodes) {
  Visitor visitor = visit("1LockDemoK3vP");
  visitor.page();
  EXPECT_EQ(visitor.verify("aaaa").errno_value(), -9);
  EXPECT_EQ(visitor.verify("bbbb").errno_value(), -9);
  EXPECT_EQ(visitor.verify("8k2p").errno_value(), -62);

  const Exchange captcha = visitor.captcha("shareverify");
  EXPECT_EQ(captcha.errno_value(), 0);
  EXPECT_NE(captcha.body.find(R"("vcode_img":"http:\/\/127.0.0.1:)"), std::string::npos);
  const std::string id = captcha.json()["vcode_str"];
  const std::string answer = answer_of(captcha);
  ASSERT_EQ(answer.size(), 4u);
  EXPECT_EQ(fetch(sim->origin() + "/__sim/captcha?vcode_str=" + id).body, answer);
  EXPECT_EQ(visitor.verify("8k2p", "ZZZZ" == answer ? "YYYY" : "ZZZZ", id).errno_value(), -62);
  EXPECT_EQ(visitor.verify("8k2p", answer, id).errno_value(), -62);  // an id serves once

  const Exchange pan = visitor.captcha("pan");  // the download kind does not unlock
  EXPECT_EQ(visitor.verify("8k2p", answer_of(pan), pan.json()["vcode_str"]).errno_value(), -62);
  const Exchange fresh = visitor.captcha("shareverify");
  EXPECT_EQ(visitor.verify("8k2p", answer_of(fresh), fresh.json()["vcode_str"]).errno_value(), 0);
}

TEST_F(ShareFlow, ListingPagesByNameDescending) {
  Visitor visitor = visit("1DeepDemoM4nB");
  visitor.page();
  visitor.page();
  std::vector<std::string> names;
  std::vector<std::size_t> sizes;
  for (int page = 1; page <= 3; ++page) {
    const Exchange list = visitor.list(u8"/资源/大目录", page, 100);
    ASSERT_EQ(list.errno_value(), 0) << list.body;
    const nlohmann::json items = list.json()["list"];
    sizes.push_back(items.size());
    for (const auto& item : items)
      names.push_back(item["server_filename"]);
  }
  EXPECT_EQ(sizes, (std::vector<std::size_t>{100, 51, 0}));  // 150 files and one folder
  EXPECT_TRUE(std::is_sorted(names.rbegin(), names.rend()));
  EXPECT_NE(std::find(names.begin(), names.end(), u8"子目录 A"), names.end());

  const auto deep = visitor.list(u8"/资源/大目录/子目录 A/更深 B").json()["list"];
  ASSERT_EQ(deep.size(), 1u);
  EXPECT_EQ(deep[0]["path"], u8"/资源/大目录/子目录 A/更深 B/底层 文件.txt");
  EXPECT_FALSE(deep[0].contains("app_id"));
}

TEST_F(ShareFlow, DownloadLinksServeTheFiles) {
  Visitor visitor = visit("1PubDemoXq7Ra");
  visitor.page();
  const Exchange reply = visitor.download(top(visitor, 0));
  ASSERT_EQ(reply.errno_value(), 0) << reply.body;
  EXPECT_NE(reply.body.find(R"("dlink":"http:\/\/127.0.0.1:)"), std::string::npos);
  EXPECT_NE(reply.body.find(R"(\u0026)"), std::string::npos);
  const std::string link = reply.json()["list"][0]["dlink"];
  EXPECT_NE(link.find('&'), std::string::npos);
  const std::uint64_t fs_id = top(visitor, 0)["fs_id"];
  Call follow;
  follow.follow = true;
  const Exchange file = fetch(link, follow);
  EXPECT_EQ(file.status, 200);
  EXPECT_EQ(file.body, file_bytes(fs_id, 0, 1834));

  // A 4 GiB file is served whole; a top-level entry's own app_id counts.
  const Exchange big = visitor.download(top(visitor, 2));
  follow.method = "HEAD";
  EXPECT_EQ(fetch(big.json()["list"][0]["dlink"], follow).header("Content-Length"), "4294967296");
  EXPECT_EQ(visitor.download(top(visitor, 3)).errno_value(), 0);
  nlohmann::json wrong_app = top(visitor, 3);
  wrong_app["app_id"] = "250528";
  EXPECT_EQ(visitor.download(wrong_app).errno_value(), 2);

  // Entries found by listing carry no app_id; the web disk's one serves.
  const auto items = visitor.list(top(visitor, 1)["path"]).json()["list"];
  const auto file_item = std::find_if(
      items.begin(), items.end(), [](const nlohmann::json& item) { return item["isdir"] == 0; });
  ASSERT_NE(file_item, items.end());
  EXPECT_EQ(visitor.download(*file_item).errno_value(), 0);
  std::string forged = link;
  char& first = forged[forged.find("sign=") + 5];
  first = first == '0' ? '1' : '0';
  EXPECT_EQ(fetch(forged).status, 403);
}

// A link serves the User-Agent it was requested with, and no other.
TEST_F(ShareFlow, DownloadLinkHoldsToItsUserAgent) {
  Visitor visitor = visit("1PubDemoXq7Ra");
  visitor.page();
  const nlohmann::json entry = top(visitor, 0);
  std::vector<std::string> headers = visitor.post_headers();
  headers.push_back("User-Agent: agent A");
  const Exchange reply =
      visitor.send("POST", "/api/sharedownload", visitor.download_query("250528"),
                   visitor.download_body(entry["fs_id"].dump()), headers);
  ASSERT_EQ(reply.errno_value(), 0) << reply.body;
  const std::string link = reply.json()["list"][0]["dlink"];
  const std::pair<const char*, long> rows[] = {
      {"User-Agent: agent A", 302}, {"User-Agent: agent B", 403}, {"User-Agent:", 403}};
  for (const auto& [agent, status] : rows) {
    Call call;
    call.headers = {agent};
    EXPECT_EQ(fetch(link, call).status, status) << agent;
  }
}

TEST_F(ShareFlow, ProtectedDownloadNeedsTheCookieAsSekey) {
  Visitor visitor = visit("1LockDemoK3vP");
  visitor.page();
  ASSERT_EQ(visitor.verify("8k2p").errno_value(), 0);
  visitor.page();
  ASSERT_TRUE(visitor.data.is_object());
  EXPECT_EQ(visitor.download(top(visitor, 0)).errno_value(), 0);
  const std::string cookie = visitor.cookie;
  visitor.cookie = "BDCLND=abc%2Bdef";
  EXPECT_EQ(visitor.download(top(visitor, 0)).errno_value(), 2);
  visitor.cookie.clear();
  EXPECT_EQ(visitor.download(top(visitor, 0)).errno_value(), 2);
}

TEST_F(ShareFlow, DownloadCaptchaFromTheSecondRequest) {
  Visitor visitor = visit("1CapDemoW9zT");
  visitor.page();
  EXPECT_EQ(visitor.download(top(visitor, 0)).errno_value(), 0);
  EXPECT_EQ(visitor.download(top(visitor, 1)).errno_value(), -20);

  const Exchange verify_kind = visitor.captcha("shareverify");
  EXPECT_EQ(
      visitor.download(top(visitor, 1), answer_of(verify_kind), verify_kind.json()["vcode_str"])
          .errno_value(),
      -20);
  const Exchange captcha = visitor.captcha("pan");
  const std::string answer = answer_of(captcha);
  EXPECT_EQ(visitor.download(top(visitor, 1), answer, captcha.json()["vcode_str"]).errno_value(),
            0);
  // The client keeps sending the answer, but the id served once.
  EXPECT_EQ(visitor.download(top(visitor, 2), answer, "").errno_value(), -20);
  const Exchange next = visitor.captcha("pan");
  EXPECT_EQ(
      visitor.download(top(visitor, 2), answer_of(next), next.json()["vcode_str"]).errno_value(),
      0);
}

// The demo with switches set on every share; downloads take latency_ms.
Fixture demo_with(std::uint64_t sign_expires_after, std::uint64_t max_in_flight,
                  std::uint32_t latency_ms = 0) {
  Fixture fixture = demo_fixture();
  fixture.quiet = true;
  fixture.knobs.endpoint_latency_ms[static_cast<std::size_t>(Endpoint::download)] = latency_ms;
  for (Share& share : fixture.shares) {
    share.sign_expires_after = sign_expires_after;
    share.max_download_in_flight = max_in_flight;
  }
  return fixture;
}

TEST(PageSigns, ServeTheirRequestsThenAskForThePageAgain) {
  struct Row {
    std::uint64_t expires_after;
    std::vector<int> errnos;  // of successive requests with one page's sign
    int replaced;             // a request with the sign a new page replaced
  };
  for (const Row& row :
       {Row{0, {0, 0, 0, 0}, 0}, Row{1, {0, 112}, 112}, Row{3, {0, 0, 0, 112}, 112}}) {
    SCOPED_TRACE(row.expires_after);
    Simulator sim(demo_with(row.expires_after, 0));
    ASSERT_TRUE(sim.start());
    Visitor visitor(sim.origin(), "1PubDemoXq7Ra");
    const auto errnos = [&] {
      visitor.page();
      std::vector<int> got;
      while (got.size() < row.errnos.size())
        got.push_back(visitor.download(visitor.data["file_list"]["list"][0]).errno_value());
      return got;
    };
    EXPECT_EQ(errnos(), row.errnos);
    EXPECT_EQ(sim.requests().back().violation, "");
    Visitor earlier = visitor;
    EXPECT_EQ(errnos(), row.errnos);  // a new page, a new sign with all its requests
    EXPECT_TRUE(row.expires_after == 0 || earlier.data["sign"] != visitor.data["sign"]);
    EXPECT_EQ(earlier.download(earlier.data["file_list"]["list"][0]).errno_value(), row.replaced);
    visitor.data["sign"] = std::string(40, 'a');  // one never given stays a fault
    EXPECT_EQ(visitor.download(visitor.data["file_list"]["list"][0]).errno_value(), 2);
    EXPECT_EQ(max_in_flight(sim.requests(), "download"), 1u);  // one after another
  }
}

TEST(InFlightLimit, RequestsBeyondItAreAskedForACaptcha) {
  for (const std::uint64_t limit : {1u, 2u}) {
    SCOPED_TRACE(limit);
    Simulator sim(demo_with(0, limit, 500));
    ASSERT_TRUE(sim.start());
    Visitor visitor(sim.origin(), "1PubDemoXq7Ra");
    visitor.page();
    const nlohmann::json file = visitor.data["file_list"]["list"][0];
    const std::string id = visitor.captcha("pan").json()["vcode_str"];
    const std::string answer = sim.captcha_answer(id).value_or("");
    std::vector<Exchange> replies(limit + 2);
    std::vector<std::thread> clients;
    const std::uint64_t seen = sim.requests_seen();
    for (std::size_t i = 0; i < limit; ++i)
      clients.emplace_back([&, i] { replies[i] = visitor.download(file); });
    // The last two come while the first ones wait out their latency.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (sim.requests_seen() < seen + limit && std::chrono::steady_clock::now() < deadline)
      std::this_thread::yield();
    clients.emplace_back([&] { replies[limit] = visitor.download(file); });
    clients.emplace_back([&] { replies[limit + 1] = visitor.download(file, answer, id); });
    for (std::thread& client : clients)
      client.join();
    std::vector<int> errnos;
    for (const Exchange& reply : replies)
      errnos.push_back(reply.errno_value());
    std::vector<int> expected(limit, 0);
    expected.insert(expected.end(), {-20, 0});  // a right answer passes all the same
    EXPECT_EQ(errnos, expected);
    nlohmann::json demand = replies[limit].json();
    demand.erase("request_id");
    EXPECT_EQ(demand, nlohmann::json({{"errno", -20}, {"show_msg", ""}}));
    EXPECT_EQ(max_in_flight(sim.requests(), "download"), limit + 2);
    EXPECT_EQ(visitor.download(file).errno_value(), 0);  // all places free again
  }
}

TEST(RequestLog, MaxInFlight) {
  const auto at = [](const char* endpoint, std::uint64_t start_us, std::uint64_t end_us) {
    LogEntry entry;
    entry.endpoint = endpoint;
    entry.start_us = start_us;
    entry.end_us = end_us;
    return entry;
  };
  struct Row {
    const char* what;
    std::vector<LogEntry> log;
    std::size_t downloads;
    std::size_t all;
  };
  const std::vector<Row> rows = {
      {"one after another", {at("download", 10, 20), at("download", 21, 30)}, 1, 1},
      {"nested and overlapping",
       {at("download", 10, 50), at("download", 20, 30), at("download", 25, 60)},
       3,
       3},
      {"meeting in one microsecond", {at("download", 10, 20), at("download", 20, 30)}, 2, 2},
      {"still held", {at("download", 10, 0), at("download", 500, 600)}, 2, 2},
      {"other endpoints", {at("download", 10, 50), at("list", 20, 30), at("", 20, 30)}, 1, 3},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(max_in_flight(row.log, "download"), row.downloads) << row.what;
    EXPECT_EQ(max_in_flight(row.log, ""), row.all) << row.what;
  }
}

TEST(FixtureSwitches, RawUtf8JpegCaptchasAndPlainAmpersands) {
  Fixture fixture = demo_fixture();
  fixture.style = JsonStyle{true, false};
  fixture.captcha_format = ImageFormat::jpeg;
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.start());
  Visitor visitor(sim.origin(), "1PubDemoXq7Ra");
  const Exchange page = visitor.page();
  EXPECT_NE(page.body.find(u8"\"server_filename\":\"说明 readme.txt\""), std::string::npos);
  // A title holding ");" and braces stays a JSON string inside the script.
  EXPECT_NE(page.body.find(u8R"("title":"演示 a);b {备份} \"全集\"")"), std::string::npos);
  EXPECT_EQ(visitor.data["title"], u8"演示 a);b {备份} \"全集\"");
  const Exchange reply = visitor.download(visitor.data["file_list"]["list"][0]);
  EXPECT_NE(reply.body.find("&rt=sh"), std::string::npos);
  EXPECT_NE(reply.body.find(R"(:\/\/)"), std::string::npos);  // slashes stay escaped

  const Exchange image = fetch(visitor.captcha("pan").json()["vcode_img"]);
  EXPECT_EQ(image.header("Content-Type"), "image/jpeg");
  int width = 0, height = 0;
  EXPECT_TRUE(decode_jpeg(image.body, width, height));

  Simulator second(demo_fixture());
  std::string error;
  EXPECT_FALSE(second.start("127.0.0.1", sim.port(), error));  // the port is taken
  EXPECT_NE(error.find(std::to_string(sim.port())), std::string::npos);
}

}  // namespace
}  // namespace sharelink::sim::testing
