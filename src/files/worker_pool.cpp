#include "files/worker_pool.h"

#include <algorithm>
#include <system_error>

namespace vl {

WorkerPool::WorkerPool(int threads) {
  if (threads <= 0) threads = int(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
  threads = std::min(threads, 64);
  for (int i = 1; i < threads; ++i) {
    try {
      workers.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
      break;  // fewer threads, same results
    }
  }
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard lock(mutex);
    stopping = true;
  }
  wake.notify_all();
  for (std::thread& t : workers) t.join();
}

void WorkerPool::Run(size_t count, const std::function<void(size_t)>& fn) {
  if (workers.empty() || count < 2) {
    for (size_t i = 0; i < count; ++i) fn(i);
    return;
  }
  {
    std::lock_guard lock(mutex);
    job = &fn;
    jobCount = count;
    next = 0;
    busy = workers.size();
    ++generation;
  }
  wake.notify_all();
  take(fn, count);
  std::unique_lock lock(mutex);
  done.wait(lock, [this] { return busy == 0; });
  job = nullptr;
}

void WorkerPool::take(const std::function<void(size_t)>& fn, size_t count) {
  for (size_t i; (i = next.fetch_add(1)) < count;) fn(i);
}

void WorkerPool::work() {
  uint64_t seen = 0;
  for (;;) {
    const std::function<void(size_t)>* fn;
    size_t count;
    {
      std::unique_lock lock(mutex);
      wake.wait(lock, [&] { return stopping || generation != seen; });
      if (stopping) return;
      seen = generation;
      fn = job;
      count = jobCount;
    }
    take(*fn, count);
    {
      std::lock_guard lock(mutex);
      if (--busy == 0) done.notify_one();
    }
  }
}

}  // namespace vl
