// How fast the client reads small replies and resolves whole shares against the
// in-process simulator. Reading big replies is measured in reply_bench.cpp.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "share/reply_text.h"
#include "share/result_codes.h"
#include "share/share_client.h"
#include "sim/fixture.h"
#include "sim/server.h"

namespace {

using sharelink::FileList;
using sharelink::ShareClient;

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
