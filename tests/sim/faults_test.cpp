// Injected faults, latency and the bounds that keep them from hanging the
// simulator's shutdown.

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "sim_test_support.h"

namespace sharelink::sim::testing {
namespace {

using Clock = std::chrono::steady_clock;

class Faults : public ::testing::Test {
 protected:
  void SetUp() override {
    sim = std::make_unique<Simulator>(demo_fixture());
    ASSERT_TRUE(sim->start());
    visitor = std::make_unique<Visitor>(sim->origin(), "1PubDemoXq7Ra");
    visitor->page();
    folder = visitor->data["file_list"]["list"][1]["path"];
  }
  void inject(const std::string& written) {
    std::string error;
    const auto rule = parse_fault(written, error);
    ASSERT_TRUE(rule) << error;
    sim->add_fault(*rule);
  }

  std::unique_ptr<Simulator> sim;
  std::unique_ptr<Visitor> visitor;
  std::string folder;
};

TEST_F(Faults, SelectedByEndpointAndRequestNumber) {
  inject("page:close@2");  // the page was fetched once in SetUp
  inject("list:http500@every2");
  EXPECT_EQ(visitor->page().code, CURLE_GOT_NOTHING);
  EXPECT_EQ(visitor->page().status, 200);
  std::vector<long> statuses;
  for (int i = 0; i < 4; ++i)
    statuses.push_back(visitor->list(folder).status);
  EXPECT_EQ(statuses, (std::vector<long>{200, 500, 200, 500}));
  EXPECT_EQ(sim->requests().back().fault, "http500");
}

TEST_F(Faults, BrokenBodies) {
  inject("list:truncate@1");
  inject("list:malformed@2");
  inject("page:malformed");
  const Exchange cut = visitor->list(folder);
  EXPECT_EQ(cut.code, CURLE_PARTIAL_FILE);
  EXPECT_LT(cut.body.size(), std::stoul(cut.header("Content-Length")));
  const Exchange malformed = visitor->list(folder);
  EXPECT_EQ(malformed.status, 200);
  EXPECT_TRUE(malformed.json().is_discarded());
  EXPECT_EQ(malformed.body.substr(0, 9), "{\"errno\":");
  const Exchange page = visitor->page();
  EXPECT_NE(page.body.find("yunData.setData("), std::string::npos);
  EXPECT_TRUE(data_object(page.body).is_discarded());
}

TEST_F(Faults, ErrnoAsTheLastMember) {
  inject("verify:errno_last");
  Visitor locked(sim->origin(), "1LockDemoK3vP");
  locked.page();
  const Exchange reply = locked.verify("");
  const auto json = nlohmann::ordered_json::parse(reply.body, nullptr, false);
  ASSERT_TRUE(json.is_object()) << reply.body;
  EXPECT_EQ(json.items().begin().key(), "request_id");
  EXPECT_EQ(reply.body.substr(reply.body.size() - 13), ",\"errno\":-12}");
}

TEST_F(Faults, HugeBodyIsStreamed) {
  inject("list:huge");
  Call call;
  call.max_bytes = 1 << 20;
  const Exchange first =
      fetch(sim->origin() + "/share/list?" + visitor->list_query(folder, 1, 100), call);
  EXPECT_EQ(first.header("Content-Length"), "104857600");
  EXPECT_EQ(first.body.substr(0, 9), "{\"errno\":");

  Knobs knobs = sim->knobs();
  knobs.huge_bytes = 300000;
  sim->set_knobs(knobs);
  const Exchange whole = visitor->list(folder);
  EXPECT_EQ(whole.body.size(), 300000u);
  EXPECT_EQ(whole.errno_value(), 0);  // blanks after the object keep it JSON
}

TEST_F(Faults, FolderListingItself) {
  inject("list:self_loop");
  const nlohmann::json items = visitor->list(folder).json()["list"];
  const auto self = std::find_if(items.begin(), items.end(), [&](const nlohmann::json& item) {
    return item["path"] == folder;
  });
  ASSERT_NE(self, items.end());
  EXPECT_EQ((*self)["isdir"], 1);
}

TEST_F(Faults, ListingAnswersItsFirstPageWhateverPageIsAsked) {
  const nlohmann::json first = visitor->list(folder, 1, 1).json()["list"];
  ASSERT_EQ(first.size(), 1u);
  EXPECT_NE(visitor->list(folder, 2, 1).json()["list"], first);
  inject("list:first_page");
  EXPECT_EQ(visitor->list(folder, 2, 1).json()["list"], first);
  EXPECT_EQ(visitor->list(folder, 7, 1).json()["list"], first);
}

TEST_F(Faults, BareSuccessHoldsOnlyErrnoAndRequestId) {
  inject("download:bare_success@1");
  const nlohmann::json file = visitor->data["file_list"]["list"][0];
  const nlohmann::json bare = visitor->download(file).json();
  EXPECT_EQ(bare.size(), 2u) << bare;
  EXPECT_EQ(bare["errno"], 0);
  EXPECT_TRUE(bare.contains("request_id"));
  EXPECT_TRUE(visitor->download(file).json().contains("list"));
  // A refusal stays a refusal.
  inject("list:bare_success");
  const nlohmann::json refused = visitor->list(folder, 0).json();
  EXPECT_EQ(refused["errno"], 2);
}

TEST_F(Faults, CorruptCaptchaPicture) {
  inject("image:corrupt_captcha@2");
  const std::string image = visitor->captcha("pan").json()["vcode_img"];
  int width = 0, height = 0;
  EXPECT_TRUE(decode_png(fetch(image).body, width, height));
  const Exchange corrupt = fetch(image);
  EXPECT_EQ(corrupt.body.substr(0, 8), "\x89PNG\r\n\x1a\n");
  EXPECT_FALSE(decode_png(corrupt.body, width, height));
}

TEST_F(Faults, LatencyDelaysTheEndpoint) {
  Knobs knobs = sim->knobs();
  std::string error;
  ASSERT_TRUE(parse_latency("page=150", knobs, error));
  sim->set_knobs(knobs);
  const auto start = Clock::now();
  EXPECT_EQ(visitor->page().status, 200);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(150));
}

TEST_F(Faults, HangEndsAfterItsTimeOrAtStop) {
  Knobs knobs = sim->knobs();
  knobs.hang_ms = 200;
  sim->set_knobs(knobs);
  inject("list:hang@1");
  const auto start = Clock::now();
  EXPECT_EQ(visitor->list(folder).code, CURLE_GOT_NOTHING);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(200));

  knobs.hang_ms = 600000;
  sim->set_knobs(knobs);
  inject("list:hang@2");
  Exchange held;
  std::thread client([&] { held = visitor->list(folder); });
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (sim->requests().back().fault != "hang" && Clock::now() < deadline) {
    std::this_thread::yield();
  }
  const auto stop_start = Clock::now();
  sim->stop();
  client.join();
  EXPECT_LT(Clock::now() - stop_start, std::chrono::seconds(5));
  EXPECT_NE(held.code, CURLE_OK);
}

TEST(FaultRuleText, ParsesAndRejectsTheCommandLineForms) {
  std::string error;
  const auto rule = parse_fault("download:errno_last@every3", error);
  ASSERT_TRUE(rule) << error;
  EXPECT_EQ(rule->endpoint, Endpoint::download);
  EXPECT_EQ(rule->every, 3u);
  EXPECT_EQ(fault_text(*rule), "download:errno_last@every3");
  EXPECT_TRUE(rule->selects(6));
  EXPECT_FALSE(rule->selects(7));
  for (const char* bad :
       {"list", "nope:close", "list:nope", "page:errno_last", "list:corrupt_captcha",
        "image:self_loop", "page:close@0", "page:close@everyx", "download:first_page",
        "page:bare_success", "image:bare_success"}) {
    EXPECT_FALSE(parse_fault(bad, error)) << bad;
    EXPECT_FALSE(error.empty());
  }
  Knobs knobs;
  EXPECT_TRUE(parse_latency("25", knobs, error));
  EXPECT_TRUE(parse_latency("list=40", knobs, error));
  EXPECT_EQ(knobs.latency_ms, 25u);
  EXPECT_EQ(knobs.endpoint_latency_ms[static_cast<std::size_t>(Endpoint::list)], 40u);
  EXPECT_FALSE(parse_latency("list=-1", knobs, error));
  EXPECT_FALSE(parse_latency("disk=1", knobs, error));
}

}  // namespace
}  // namespace sharelink::sim::testing
