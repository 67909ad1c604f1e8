// Several clients at once: every answer stays right and the shared state
// (counters, log, captchas) stays consistent. Run under TSan as well.

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "sim/file_content.h"
#include "sim_test_support.h"

namespace sharelink::sim::testing {
namespace {

// One client's walk through the demo; returns the number of requests it made.
int walk(Simulator& sim, std::atomic<int>& failures) {
  int requests = 0;
  const auto check = [&](bool ok) { failures += ok ? 0 : 1; };
  Visitor pub(sim.origin(), "1PubDemoXq7Ra");
  pub.page();
  ++requests;
  check(pub.data.is_object());
  if (!pub.data.is_object()) return requests;
  const nlohmann::json top = pub.data["file_list"]["list"];
  const Exchange list = pub.list(top[1]["path"]);
  ++requests;
  check(list.status == 500 || list.json()["list"].size() == 4);
  const Exchange reply = pub.download(top[0]);
  Call follow;
  follow.follow = true;  // on to the content host, which counts apart
  const Exchange file = fetch(reply.json()["list"][0].value("dlink", ""), follow);
  requests += 2;
  check(file.body == file_bytes(top[0]["fs_id"], 0, 1834));

  Visitor locked(sim.origin(), "1LockDemoK3vP");
  locked.page();  // redirect and prompt page
  requests += 2;
  const Exchange captcha = locked.captcha("shareverify");
  const std::string id = captcha.json().value("vcode_str", "");
  const Exchange answer = fetch(sim.origin() + "/__sim/captcha?vcode_str=" + id);
  const Exchange image = fetch(captcha.json().value("vcode_img", ""));
  requests += 2;  // the hook is not logged
  check(image.body.substr(1, 3) == "PNG" && answer.body.size() == 4);
  check(locked.verify("8k2p", answer.body, id).errno_value() == 0);
  ++requests;
  locked.page();
  ++requests;
  check(locked.data.is_object());
  check(fetch(sim.origin() + "/__sim/requests").json().is_array());
  return requests;
}

TEST(Concurrency, ManyClientsAtOnce) {
  const int kClients = 8;
  Fixture fixture = demo_fixture();
  std::string error;
  fixture.knobs.faults.push_back(*parse_fault("list:http500@every3", error));
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.start());
  std::atomic<int> failures{0};
  std::atomic<int> requests{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&] {
      for (int round = 0; round < 3; ++round)
        requests += walk(sim, failures);
    });
  }
  for (std::thread& client : clients)
    client.join();
  EXPECT_EQ(failures, 0);
  const std::vector<LogEntry> log = sim.requests();
  EXPECT_EQ(static_cast<int>(log.size()), requests.load());
  int list_500 = 0;
  for (std::size_t i = 0; i < log.size(); ++i) {
    EXPECT_EQ(log[i].seq, i + 1);
    EXPECT_EQ(log[i].violation, "") << log[i].path;
    list_500 += log[i].fault == "http500";
  }
  EXPECT_EQ(list_500, 8);  // 24 listings, every third one faulted
}

}  // namespace
}  // namespace sharelink::sim::testing
