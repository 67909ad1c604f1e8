#include "sim/fixture.h"

#include <algorithm>
#include <map>

#include <gtest/gtest.h>

#include "sim_test_support.h"

namespace sharelink::sim {
namespace {

std::string parse_error(const std::string& text) {
  Fixture fixture;
  std::string error;
  EXPECT_FALSE(parse_fixture(text, fixture, error)) << text;
  return error;
}

TEST(Fixture, DemoHoldsTheFiveKindsOfShare) {
  const Fixture fixture = testing::demo_fixture();
  ASSERT_EQ(fixture.shares.size(), 5u);
  const Share* pub = fixture.find_surl("1PubDemoXq7Ra");
  const Share* locked = fixture.find_surl("1LockDemoK3vP");
  const Share* captcha = fixture.find_surl("1CapDemoW9zT");
  const Share* deep = fixture.find_surl("1DeepDemoM4nB");
  ASSERT_TRUE(pub && locked && captcha && deep);
  EXPECT_FALSE(pub->is_protected());
  EXPECT_EQ(locked->code, "8k2p");
  EXPECT_EQ(locked->verify_captcha.mode, CaptchaPolicy::Mode::after);
  EXPECT_EQ(captcha->download_captcha.mode, CaptchaPolicy::Mode::from);
  EXPECT_TRUE(deep->page_missing_first_fetch);
  ASSERT_NE(pub->find_fs_id(9007199254740993ull), nullptr);
  EXPECT_EQ(pub->find_path(u8"/我的分享/演示/照片 & 视频 #1/a);b.txt")->size, 12u);
  const Entry* big = deep->find_path(u8"/资源/大目录");
  ASSERT_TRUE(big && big->is_dir);
  EXPECT_GT(big->children.size(), 100u);
  EXPECT_TRUE(fixture.style.hex_amp);
  // The share to download: about 200 MiB, a name Windows cannot take as it is.
  const Share* down = fixture.find_surl("1DownDemoP5sT");
  ASSERT_TRUE(down);
  std::uint64_t total = 0;
  for (const Entry& entry : down->entries)
    total += entry.size;
  EXPECT_GT(total, 180u << 20);
  EXPECT_LT(total, 220u << 20);
  EXPECT_TRUE(down->find_path(u8"/下载演示/资料 文档/年度报告: 终稿?.pdf"));
}

TEST(Fixture, OptionsAndLaterFilesOverride) {
  Fixture fixture;
  std::string error;
  ASSERT_TRUE(parse_fixture(R"({"options": {"raw_utf8": true, "captcha_format": "jpeg",
      "latency_ms": 5, "connect_latency_ms": 9, "endpoint_latency_ms": {"list": 7},
      "faults": ["list:self_loop@2"],
      "content": {"rate": "2M", "connections_per_file": 3, "drop_after": 7, "short_by": "1K",
                  "ignore_range": true, "link_lifetime_seconds": 60}}})",
                            fixture, error))
      << error;
  ASSERT_TRUE(parse_fixture(R"({"options": {"raw_utf8": false},
      "shares": [{"surl": "x", "shareid": 1, "uk": 2, "tree": [{"name": "f", "size": 3}],
                  "sign_expires_after": 4, "max_download_in_flight": 2}]})",
                            fixture, error))
      << error;
  EXPECT_FALSE(fixture.style.raw_utf8);
  EXPECT_EQ(fixture.captcha_format, ImageFormat::jpeg);
  EXPECT_EQ(fixture.knobs.latency_ms, 5u);
  EXPECT_EQ(fixture.knobs.connect_latency_ms, 9u);
  EXPECT_EQ(fixture.knobs.endpoint_latency_ms[static_cast<std::size_t>(Endpoint::list)], 7u);
  ASSERT_EQ(fixture.knobs.faults.size(), 1u);
  EXPECT_EQ(fault_text(fixture.knobs.faults[0]), "list:self_loop@2");
  const ContentKnobs& content = fixture.knobs.content;
  EXPECT_EQ(content.rate, 2u << 20);
  EXPECT_EQ(content.connections_per_file, 3u);
  EXPECT_EQ(content.drop_after, 7u);
  EXPECT_EQ(content.short_by, 1024u);
  EXPECT_TRUE(content.ignore_range);
  EXPECT_EQ(content.link_lifetime_seconds, 60u);
  EXPECT_EQ(fixture.shares.at(0).entries.at(0).path, "/f");
  EXPECT_EQ(fixture.shares.at(0).sign_expires_after, 4u);
  EXPECT_EQ(fixture.shares.at(0).max_download_in_flight, 2u);
}

TEST(Fixture, MistakesAreNamed) {
  const std::map<std::string, std::string> cases = {
      {R"({"share": []})", "unknown member 'share'"},
      {R"({"shares": [{"surl": "a", "uk": 1}]})", "required"},
      {R"({"shares": [{"surl": "a b", "shareid": 1, "uk": 1}]})", "surl"},
      {R"({"shares": [{"surl": "a", "shareid": 1, "uk": 1}, {"surl": "a", "shareid": 2, "uk": 1}]})",
       "used twice"},
      {R"({"shares": [{"surl": "a", "shareid": 1, "uk": 1, "download_captcha": "from:0"}]})",
       "download_captcha"},
      {R"({"shares": [{"surl": "a", "shareid": 1, "uk": 1, "verify_captcha": "every:2"}]})",
       "verify_captcha"},
      {R"({"shares": [{"surl": "a", "shareid": 1, "uk": 1, "root": "rel"}]})", "root"},
      {R"({"shares": [{"surl": "a", "shareid": 1, "uk": 1,
          "tree": [{"name": "x", "size": 1}, {"name": "x", "size": 2}]}]})",
       "two entries"},
      {R"({"shares": [{"surl": "a", "shareid": 1, "uk": 1,
          "tree": [{"name": "x", "fs_id": 5}, {"name": "y", "fs_id": 5}]}]})",
       "used twice"},
      {R"({"shares": [{"surl": "a", "shareid": 1, "uk": 1, "tree": [{"name": "a/b"}]}]})", "slash"},
      {R"({"shares": [{"surl": "a", "shareid": 1, "uk": 1, "tree": [{"name": "d", "children": [],
          "size": 1}]}]})",
       "folder has no size"},
      {R"({"options": {"faults": ["page:self_loop"]}})", "does not apply"},
      {R"({"shares": [{"surl": "a", "shareid": 1, "uk": 1, "tree": [{"name": "x", "wire": 5}]}]})",
       "'wire' is not an object"},
      {R"({"shares": [{"surl": "a", "shareid": 1, "uk": 1, "page_data": [1]}]})",
       "'page_data' is not an object"},
      {R"({"options": {"captcha_format": "gif"}})", "captcha_format"},
      {R"({"options": {"connect_latency_ms": 3600001}})", "connect_latency_ms"},
      {R"({"options": {"connect_latency_ms": -5}})", "connect_latency_ms"},
      {R"({"options": {"connect_latency_ms": "5ms"}})", "connect_latency_ms"},
      {R"({"shares": [{"surl": "a", "shareid": "x1", "uk": 1}]})", "shareid"},
      {R"({"shares": [{"surl": "a", "shareid": 1, "uk": 1, "max_download_in_flight": -2}]})",
       "max_download_in_flight"},
      {R"({"shares": [)", "fixture"},
  };
  for (const auto& [text, named] : cases) {
    const std::string error = parse_error(text);
    EXPECT_NE(error.find(named), std::string::npos) << text << " -> " << error;
  }
}

TEST(Fixture, OverridesReachThePageAndTheListing) {
  Fixture fixture;
  std::string error;
  ASSERT_TRUE(parse_fixture(R"({"shares": [{"surl": "1W", "shareid": 1, "uk": 2,
      "page_data": {"title": null, "file_list": {"errno": 0, "list": {"length": 9}}},
      "tree": [{"name": "d", "children": [
          {"name": "f", "size": 1, "wire": {"fs_id": "1]&x=[", "isdir": null}}]}]}]})",
                            fixture, error))
      << error;
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.start());
  testing::Visitor visitor(sim.origin(), "1W");
  ASSERT_EQ(visitor.page().status, 200);
  EXPECT_FALSE(visitor.data.contains("title"));
  EXPECT_TRUE(visitor.data.contains("sign"));
  EXPECT_EQ(visitor.data["file_list"]["list"], nlohmann::json({{"length", 9}}));
  const nlohmann::json item = visitor.list("/d").json()["list"].at(0);
  EXPECT_EQ(item["fs_id"], "1]&x=[");
  EXPECT_FALSE(item.contains("isdir"));
  EXPECT_EQ(item["server_filename"], "f");
}

TEST(Generator, SpreadsFilesOverACompleteTree) {
  Fixture fixture;
  std::string error, surl;
  TreeShape shape;
  ASSERT_TRUE(parse_generate_option("1Bench:1000,2,3", surl, shape, error)) << error;
  ASSERT_TRUE(add_generated_share(fixture, surl, shape, error)) << error;
  const Share& share = fixture.shares.at(0);
  std::size_t folders = 0, deepest = 0;
  std::map<std::string, int> per_folder;
  for (const Entry& entry : share.entries) {
    folders += entry.is_dir;
    deepest = std::max<std::size_t>(deepest, std::count(entry.path.begin(), entry.path.end(), '/'));
    if (!entry.is_dir) ++per_folder[entry.parent];
  }
  EXPECT_EQ(folders, 3u + 9u);
  EXPECT_EQ(share.entries.size(), 1012u);
  EXPECT_EQ(deepest, 4u);  // /bench/level1/level2/file
  EXPECT_EQ(per_folder.size(), 13u);
  for (const auto& [folder, count] : per_folder)
    EXPECT_TRUE(count == 76 || count == 77) << folder;

  Fixture again;
  ASSERT_TRUE(add_generated_share(again, surl, shape, error));
  EXPECT_EQ(again.shares[0].entries.back().path, share.entries.back().path);
  EXPECT_EQ(again.shares[0].entries.back().size, share.entries.back().size);

  EXPECT_FALSE(add_generated_share(fixture, "1Huge", TreeShape{10, 8, 100}, error));
  EXPECT_FALSE(add_generated_share(fixture, surl, shape, error));  // surl taken
  for (const char* bad : {"1B:10,2", ":1,2,3", "1B:x,2,3", "1B:1,2,3x"}) {
    EXPECT_FALSE(parse_generate_option(bad, surl, shape, error)) << bad;
  }
}

}  // namespace
}  // namespace sharelink::sim
