// The content host behind the download links: the redirect, byte ranges, the
// User-Agent and age checks, each content knob and the counters.

#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "sim/file_content.h"
#include "sim_test_support.h"

namespace sharelink::sim::testing {
namespace {

constexpr std::uint64_t kBig = 501, kSmall = 502;  // 3,000,000 and 1 MiB bytes

class Content : public ::testing::Test {
 protected:
  void SetUp() override {
    Fixture fixture = demo_fixture();
    std::string error;
    ASSERT_TRUE(parse_fixture(R"({"shares": [{"surl": "1Content", "shareid": 77, "uk": 88,
        "tree": [{"name": "big.bin", "size": 3000000, "fs_id": 501},
                 {"name": "small.bin", "size": 1048576, "fs_id": 502}]}]})",
                              fixture, error))
        << error;
    fixture.quiet = true;
    sim = std::make_unique<Simulator>(std::move(fixture));
    ASSERT_TRUE(sim->start());
  }
  // The download link of the file, requested with the given User-Agent line.
  std::string link_of(std::uint64_t fs_id, const std::string& agent = "User-Agent:") {
    Visitor visitor(sim->origin(), "1Content");
    visitor.page();
    std::vector<std::string> headers = visitor.post_headers();
    headers.push_back(agent);
    const Exchange reply =
        visitor.send("POST", "/api/sharedownload", visitor.download_query("250528"),
                     visitor.download_body(std::to_string(fs_id)), headers);
    return reply.json()["list"][0].value("dlink", "");
  }
  // Where the link sends its client.
  std::string content_address(std::uint64_t fs_id, const std::string& agent = "User-Agent:") {
    Call call;
    call.headers = {agent};
    return fetch(link_of(fs_id, agent), call).header("Location");
  }
  void set_content(const std::function<void(ContentKnobs&)>& change) {
    Knobs knobs = sim->knobs();
    change(knobs.content);
    sim->set_knobs(knobs);
  }
  Exchange get(const std::string& url, const std::string& range,
               const std::string& method = "GET") {
    Call call;
    call.method = method;
    if (!range.empty()) call.headers = {"Range: " + range};
    return fetch(url, call);
  }

  std::unique_ptr<Simulator> sim;
};

struct RangeRow {
  const char* name;
  std::function<void(ContentKnobs&)> knobs;
  const char* method;
  const char* range;
  long status;
  std::uint64_t first, length;  // of the body the answer stands for
  const char* content_range;
};

TEST_F(Content, RangesAndKnobsShapeTheAnswer) {
  const auto none = [](ContentKnobs&) {};
  const RangeRow rows[] = {
      {"whole", none, "GET", "", 200, 0, 3000000, ""},
      {"a_to_b", none, "GET", "bytes=100-299", 206, 100, 200, "bytes 100-299/3000000"},
      {"a_onward", none, "GET", "bytes=2999990-", 206, 2999990, 10,
       "bytes 2999990-2999999/3000000"},
      {"b_past_end", none, "GET", "bytes=2999000-9999999", 206, 2999000, 1000,
       "bytes 2999000-2999999/3000000"},
      {"a_past_end", none, "GET", "bytes=3000000-", 416, 0, 0, "bytes */3000000"},
      {"suffix_form_whole", none, "GET", "bytes=-500", 200, 0, 3000000, ""},
      {"two_ranges_whole", none, "GET", "bytes=0-1,5-9", 200, 0, 3000000, ""},
      {"head_range", none, "HEAD", "bytes=100-299", 206, 100, 200, "bytes 100-299/3000000"},
      {"head_whole", none, "HEAD", "", 200, 0, 3000000, ""},
      {"ignore_range", [](ContentKnobs& k) { k.ignore_range = true; }, "GET", "bytes=100-299", 200,
       0, 3000000, ""},
      {"short_by_whole", [](ContentKnobs& k) { k.short_by = 1000; }, "GET", "", 200, 0, 2999000,
       ""},
      {"short_by_tail", [](ContentKnobs& k) { k.short_by = 1000; }, "GET", "bytes=2998990-", 206,
       2998990, 10, "bytes 2998990-2998999/2999000"},
      {"short_by_past_end", [](ContentKnobs& k) { k.short_by = 1000; }, "GET", "bytes=2999000-",
       416, 0, 0, "bytes */2999000"},
  };
  const std::string address = content_address(kBig);
  ASSERT_EQ(address.rfind(sim->content_origin() + "/c/501?", 0), 0u) << address;
  for (const RangeRow& row : rows) {
    SCOPED_TRACE(row.name);
    const Knobs before = sim->knobs();
    set_content(row.knobs);
    const Exchange answer = get(address, row.range, row.method);
    sim->set_knobs(before);
    EXPECT_EQ(answer.status, row.status);
    EXPECT_EQ(answer.header("Content-Range"), row.content_range);
    EXPECT_EQ(answer.header("Accept-Ranges"), "bytes");
    const bool head = std::string(row.method) == "HEAD";
    EXPECT_EQ(answer.header("Content-Length"), std::to_string(row.length));
    EXPECT_TRUE(answer.body == (head ? "" : file_bytes(kBig, row.first, row.length)));
  }
}

TEST_F(Content, DropAfterCutsEveryBody) {
  const std::string address = content_address(kBig);
  set_content([](ContentKnobs& k) { k.drop_after = 70000; });
  for (const char* range : {"", "bytes=1000-"}) {
    const Exchange answer = get(address, range);
    EXPECT_EQ(answer.code, CURLE_PARTIAL_FILE) << range;
    EXPECT_TRUE(answer.body == file_bytes(kBig, range[0] ? 1000 : 0, 70000)) << range;
  }
}

// The link and its content address hold to the User-Agent and to their age.
TEST_F(Content, RedirectCarriesTheLinksChecks) {
  const std::string link = link_of(kSmall, "User-Agent: agent A");
  Call agent_a;
  agent_a.headers = {"User-Agent: agent A"};
  const std::string address = fetch(link, agent_a).header("Location");
  ASSERT_EQ(address.rfind(sim->content_origin() + "/c/502?", 0), 0u) << address;
  std::string other_file = address;
  other_file.replace(other_file.find("/c/502"), 6, "/c/501");
  const struct {
    const std::string& url;
    const char* agent;
    long status;
  } rows[] = {{address, "User-Agent: agent A", 206},
              {address, "User-Agent: agent B", 403},
              {address, "User-Agent:", 403},
              {other_file, "User-Agent: agent A", 403},
              {link, "User-Agent: agent B", 403}};
  for (const auto& row : rows) {
    Call call;
    call.headers = {row.agent, "Range: bytes=0-9"};
    EXPECT_EQ(fetch(row.url, call).status, row.status) << row.url << " " << row.agent;
  }
  set_content([](ContentKnobs& k) { k.link_lifetime_seconds = 0; });
  EXPECT_EQ(fetch(link, agent_a).status, 403);
  EXPECT_EQ(fetch(address, agent_a).status, 403);
}

TEST_F(Content, RateHoldsEachResponseToItsPace) {
  const std::string address = content_address(kSmall);
  set_content([](ContentKnobs& k) { k.rate = 4u << 20; });
  const auto start = std::chrono::steady_clock::now();
  const Exchange answer = get(address, "");
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(answer.body == file_bytes(kSmall, 0, 1u << 20));
  EXPECT_GE(took.count(), 0.24);
}

TEST_F(Content, ConnectionsPerFileAreCapped) {
  const std::string big = content_address(kBig), small = content_address(kSmall);
  set_content([](ContentKnobs& k) {
    k.connections_per_file = 1;
    k.rate = 64 * 1024;
  });
  auto first = std::async(std::launch::async, [&] { return get(big, "bytes=0-32767"); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (sim->content_bytes_served() == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  EXPECT_EQ(get(big, "bytes=0-9").status, 503);
  EXPECT_EQ(get(small, "bytes=0-9").status, 206);  // another file has its own
  EXPECT_EQ(first.get().status, 206);
  long status = 503;
  while (status == 503 && std::chrono::steady_clock::now() < deadline)
    status = get(big, "bytes=0-9").status;
  EXPECT_EQ(status, 206);  // the place is given back
}

TEST_F(Content, CountsBytesAndConnections) {
  const std::string address = content_address(kBig);
  sim->reset();
  CURL* kept = curl_easy_init();
  Call reuse;
  reuse.reuse = kept;
  reuse.headers = {"Range: bytes=0-999"};
  fetch(address, reuse);
  fetch(address, reuse);
  curl_easy_cleanup(kept);
  get(address, "bytes=5-9");
  get(address, "bytes=9999999-");
  EXPECT_EQ(sim->content_bytes_served(), 2005u);
  EXPECT_EQ(sim->content_connections_seen(), 3u);
}

}  // namespace
}  // namespace sharelink::sim::testing
