#include "platform/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace vl {
namespace {

// Every part runs exactly once, whatever the number of parts and threads.
TEST(WorkerPool, RunsEveryPartOnce) {
  for (int threads : {1, 2, 3, 8}) {
    WorkerPool pool(threads);
    for (int32_t count : {0, 1, 2, 7, 100, 1000}) {
      std::vector<std::atomic<int>> runs(static_cast<size_t>(count));
      pool.Run(count, [&](int32_t i) { runs[size_t(i)].fetch_add(1); });
      for (int32_t i = 0; i < count; ++i) ASSERT_EQ(runs[size_t(i)].load(), 1) << threads << " threads, part " << i;
    }
  }
}

// Work on the pool from inside a part, or from a second thread while the
// first one's work runs, is done on the calling thread rather than waited for.
TEST(WorkerPool, NestedAndConcurrentWorkFinishes) {
  WorkerPool pool(4);
  std::atomic<int> inner{0};
  pool.Run(16, [&](int32_t) { pool.Run(8, [&](int32_t) { inner.fetch_add(1); }); });
  EXPECT_EQ(inner.load(), 16 * 8);
  std::atomic<int> total{0};
  std::vector<std::thread> callers;
  for (int t = 0; t < 3; ++t)
    callers.emplace_back([&] {
      for (int k = 0; k < 50; ++k) pool.Run(20, [&](int32_t) { total.fetch_add(1); });
    });
  for (std::thread& t : callers) t.join();
  EXPECT_EQ(total.load(), 3 * 50 * 20);
}

TEST(WorkerPool, ThreadCountIsClampedAndKept) {
  WorkerPool pool(2);
  pool.SetThreads(0);
  EXPECT_EQ(pool.Threads(), 1);
  pool.SetThreads(1000);
  EXPECT_EQ(pool.Threads(), WorkerPool::kMaxThreads);
  pool.SetThreads(3);
  EXPECT_EQ(pool.Threads(), 3);
  EXPECT_GE(corePool().Threads(), 1);
}

}  // namespace
}  // namespace vl
