#include "share/work_pool.h"

#include <gtest/gtest.h>

#include <chrono>
#include <new>
#include <stdexcept>
#include <string>

namespace sharelink {
namespace {

// What a piece of work throws, and how the owner sees it end: never by the
// program ending, on a thread of the pool or on the owner's own.
struct Thrown {
  const char* name;
  void (*work)();
  WorkEnd end;
};

const Thrown kThrown[] = {
    {"returns", [] {}, WorkEnd::done},
    {"bad_alloc", [] { throw std::bad_alloc(); }, WorkEnd::out_of_memory},
    {"length_error", [] { std::string().reserve(std::string().max_size() + 1); },
     WorkEnd::out_of_memory},
    {"runtime_error", [] { throw std::runtime_error("x"); }, WorkEnd::failed},
    {"not_an_exception", [] { throw 7; }, WorkEnd::failed},
};

TEST(WorkPool, AnExceptionIsTheEndOfItsPieceAlone) {
  for (const int threads : {0, 3}) {
    WorkPool pool(threads, 1 << 20);
    for (std::size_t i = 0; i < std::size(kThrown); ++i) {
      pool.submit(i, [i](const WorkScope&) {
        kThrown[i].work();
        return std::size_t{0};
      });
    }
    for (std::size_t i = 0; i < std::size(kThrown); ++i)
      EXPECT_EQ(pool.take(i), kThrown[i].end) << kThrown[i].name << " on " << threads;
  }
}

// A cancel drops what has not started, ends the waits of what has, and
// reaches requests through the token; lines posted before it still arrive.
TEST(WorkPool, CancelDropsTheQueueAndEndsTheWaits) {
  WorkPool pool(1, 1 << 20);
  pool.submit(1, [](const WorkScope& scope) {
    scope.post("waiting");
    // An hour, unless the cancel comes.
    return scope.wait(3600 * 1000) ? std::size_t{1} : std::size_t{0};
  });
  pool.submit(2, [](const WorkScope&) { return std::size_t{0}; });
  WorkPool::Event event;
  ASSERT_TRUE(pool.next(event));
  EXPECT_TRUE(event.is_line);
  EXPECT_EQ(event.line, "waiting");
  const auto cancelled = std::chrono::steady_clock::now();
  pool.cancel();
  std::vector<std::pair<std::size_t, WorkEnd>> ends;
  while (pool.next(event))
    ends.emplace_back(event.id, event.end);
  EXPECT_LT(std::chrono::steady_clock::now() - cancelled, std::chrono::seconds(10));
  // The dropped piece ends first: it never ran.
  const std::vector<std::pair<std::size_t, WorkEnd>> expected = {{2, WorkEnd::dropped},
                                                                 {1, WorkEnd::done}};
  EXPECT_EQ(ends, expected);
  pool.submit(3, [](const WorkScope&) { return std::size_t{0}; });
  EXPECT_EQ(pool.take(3), WorkEnd::dropped);
}

}  // namespace
}  // namespace sharelink
