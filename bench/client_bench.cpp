// How fast the client reads replies and resolves whole shares against the
// in-process simulator.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "script/json_document.h"
#include "share/reply_text.h"
#include "share/result_codes.h"
#include "share/share_client.h"
#include "sim/fixture.h"
#include "sim/server.h"

namespace {

using sharelink::FileList;
using sharelink::JsonDocument;
using sharelink::ShareClient;

// A folder-listing reply of count items, as the service writes it.
std::string listing_reply(int count) {
  std::string reply = "{\"errno\":0,\"list\":[";
  for (int i = 0; i < count; ++i) {
    if (i > 0) reply += ",";
    reply += "{\"fs_id\":" + std::to_string(900719925474099 + i) +
             ",\"isdir\":0,\"path\":\"\\/a\\/\\u6587\\u4ef6 " + std::to_string(i) +
             ".txt\",\"server_filename\":\"\\u6587\\u4ef6 " + std::to_string(i) +
             ".txt\",\"size\":" + std::to_string(1000 + i) + ",\"md5\":\"0123456789abcdef\"}";
  }
  return reply + "],\"request_id\":1}";
}

void BM_ReadListingPage(benchmark::State& state) {
  const std::string reply = listing_reply(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    JsonDocument doc;
    doc.parse(reply);
    const int count = doc.count("list");
    for (int i = 0; i < count; ++i) {
      const std::string base = "list[" + std::to_string(i) + "]";
      benchmark::DoNotOptimize(doc.get_texts(base, {"size", "path", "isdir", "server_filename"}));
      benchmark::DoNotOptimize(doc.get_text(base + ".fs_id", true));
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(reply.size()));
}
BENCHMARK(BM_ReadListingPage)->Arg(100)->Arg(1000);

void BM_ReadErrnoAndLink(benchmark::State& state) {
  const std::string reply =
      "{\"errno\":0,\"list\":[{\"fs_id\":1,\"dlink\":\"http:\\/\\/h\\/file\\/abc?fid=1"
      "\\u0026sign=0123456789abcdef\\u0026expires=8h\"}],\"request_id\":1}";
  for (auto _ : state) {
    benchmark::DoNotOptimize(sharelink::read_errno(reply));
    benchmark::DoNotOptimize(sharelink::json_string_member(reply, "dlink"));
  }
}
BENCHMARK(BM_ReadErrnoAndLink);

// A whole resolve: share page, every folder listing, one link request per file.
void BM_ResolveGeneratedShare(benchmark::State& state) {
  sharelink::sim::Fixture fixture;
  fixture.quiet = true;
  std::string error;
  sharelink::sim::TreeShape shape{static_cast<std::uint64_t>(state.range(0)), 2, 4};
  if (!sharelink::sim::add_generated_share(fixture, "1Bench", shape, error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  sharelink::sim::Simulator sim(std::move(fixture));
  if (!sim.start("127.0.0.1", 0, error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  std::size_t entries = 0;
  for (auto _ : state) {
    ShareClient client;
    FileList files;
    int index = 1;
    std::string link = sim.share_url("1Bench");
    if (client.resolve(link, files, index, "", "") != 0) state.SkipWithError("resolve failed");
    entries = files.size();
  }
  state.counters["entries"] = static_cast<double>(entries);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(entries));
  sim.stop();
}
BENCHMARK(BM_ResolveGeneratedShare)->Arg(200)->Arg(2000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
