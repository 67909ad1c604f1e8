// The requests that run several at a time against a service that makes them
// costly: listing replies of megabytes that pile up while the walk waits for
// a slow one, replies too big for the address space left, a listing that
// fails while the others stall. Memory, the time to end and the way the job
// ends must not depend on how many requests go at once.

#include <string>

#include <gtest/gtest.h>

#include "faults/faults_harness.h"

namespace sharelink::faults {
namespace {

constexpr std::uint64_t kMB = 1'000'000;
const char* const kOutOfMemory = u8"自定义错误代码,内存不足";

// count top-level folders d1, d2, ... holding one file each.
void folders_of_one_file(Scene& scene, int count) {
  scene.service.list = "[";
  for (int i = 1; i <= count; ++i) {
    if (i > 1) scene.service.list += ",";
    scene.service.list += entry_json(std::to_string(1000 + i), "d" + std::to_string(i), true);
  }
  scene.service.list += "]";
  scene.service.folder = [](const std::string& dir, int page) {
    const int n = std::atoi(dir.substr(dir.rfind('d') + 1).c_str());
    if (page != 1) return std::string(R"({"errno":0,"list":[]})");
    return R"({"errno":0,"list":[)" + entry_json(std::to_string(2000 + n), "f.bin", false, dir) +
           "]}";
  };
}

// A JSON reply grown by a string member of bytes that the server streams.
void pad_reply(Reply& reply, std::uint64_t bytes) {
  reply.body.pop_back();  // its closing brace
  reply.body += ",\"pad\":\"";
  reply.padding = bytes;
  reply.pad = 'x';
  reply.tail = "\"}";
}

bool is_folder_one(const Request& request) {
  return request.path() == "/share/list" && form_value(request.query(), "dir") == "/top/d1";
}

// Every listing reply padded to bytes, folder 1's dripped over slow_ms, so
// that the other listings arrive while the walk waits for it.
std::function<void(Scene&)> big_listings(int folders, std::uint64_t bytes, int parallel,
                                         int slow_ms, std::uint64_t address_limit = 0) {
  return [=](Scene& s) {
    folders_of_one_file(s, folders);
    s.options = {"--parallel", std::to_string(parallel)};
    s.address_limit = address_limit;
    s.service.tamper = [bytes, slow_ms](const Request& request, Reply& reply) {
      if (request.path() != "/share/list") return;
      pad_reply(reply, bytes);
      if (!is_folder_one(request)) return;
      reply.drip_bytes = static_cast<std::size_t>(bytes / 10);
      reply.drip_every = std::chrono::milliseconds(slow_ms / 10);
    };
  };
}

// Link replies padded to bytes, count files at parallel at a time.
std::function<void(Scene&)> big_link_replies(int count, std::uint64_t bytes, int parallel,
                                             std::uint64_t address_limit) {
  return [=](Scene& s) {
    s.service.list = files_json(count, 11, "f");
    s.options = {"--parallel", std::to_string(parallel)};
    s.address_limit = address_limit;
    s.service.tamper = [bytes](const Request& request, Reply& reply) {
      if (request.path() == "/api/sharedownload") pad_reply(reply, bytes);
    };
  };
}

// Folder 1 answers errno -7 after about a second; every other listing drips
// a byte each 0.9 s, just fast enough never to time out, for 90 s.
std::function<void(Scene&)> failure_among_stalled_listings(int parallel) {
  return [=](Scene& s) {
    folders_of_one_file(s, 10);
    s.options = {"--parallel", std::to_string(parallel)};
    s.service.tamper = [](const Request& request, Reply& reply) {
      if (request.path() != "/share/list") return;
      reply.drip_bytes = 1;
      if (is_folder_one(request)) {
        reply.body = R"({"errno":-7})";
        reply.drip_every = std::chrono::milliseconds(90);
      } else {
        reply.body.append(100, ' ');
        reply.drip_every = std::chrono::milliseconds(900);
      }
    };
  };
}

// Well within the 10 s of the case's deadline: the stalled listings are
// abandoned, not waited for.
void ends_soon(const Scene&, const CliRun& run) {
  EXPECT_LT(run.seconds, 4.0 * kSlowdown);
}

class ManyAtOnce : public ::testing::TestWithParam<FaultCase> {};

TEST_P(ManyAtOnce, BoundedInMemoryAndTime) {
  // A sanitizer's shadow memory takes more address space than any such limit.
  Scene probe;
  GetParam().arrange(probe);
  if (probe.address_limit > 0 && kSlowdown > 1) GTEST_SKIP() << "address limit under a sanitizer";
  run_fault_case(GetParam());
}

const FaultCase kManyAtOnceCases[] = {
    {"listings_of_8_MB_first_slow_one_at_a_time",
     big_listings(100, 8 * kMB, 1, 1500),
     {{0, u8"成功", 100}},
     64,
     60},
    {"listings_of_8_MB_first_slow_four_at_a_time",
     big_listings(100, 8 * kMB, 4, 1500),
     {{0, u8"成功", 100}},
     112,
     60},
    // Memory may run out or not, on any thread: the job ends either way.
    {"listings_of_30_MB_in_1500_MB_of_address_space_four_at_a_time",
     big_listings(40, 30 * kMB, 4, 6000, 1500 * kMB),
     {{0, u8"成功", 40}, {1, kOutOfMemory, -1}},
     320,
     60},
    {"link_replies_of_30_MB_in_1500_MB_of_address_space_sixteen_at_a_time",
     big_link_replies(40, 30 * kMB, 16, 1500 * kMB),
     {{0, u8"成功", 40}, {1, kOutOfMemory, -1}},
     0,
     60},
    {"link_replies_of_30_MB_in_400_MB_of_address_space_sixteen_at_a_time",
     big_link_replies(40, 30 * kMB, 16, 400 * kMB),
     {{1, kOutOfMemory, -1}},
     0,
     60},
    {"listing_failure_among_stalled_listings_one_at_a_time",
     failure_among_stalled_listings(1),
     {{1, u8"该分享已删除或已取消", 0}},
     0,
     10,
     ends_soon},
    {"listing_failure_among_stalled_listings_four_at_a_time",
     failure_among_stalled_listings(4),
     {{1, u8"该分享已删除或已取消", 0}},
     0,
     10,
     ends_soon},
};

INSTANTIATE_TEST_SUITE_P(Faults, ManyAtOnce, ::testing::ValuesIn(kManyAtOnceCases), case_name);

}  // namespace
}  // namespace sharelink::faults
