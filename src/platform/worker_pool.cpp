#include "platform/worker_pool.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace vl {

WorkerPool::WorkerPool(int threads) : wanted(std::clamp(threads, 1, kMaxThreads)) {}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> g(lock);
    stopping = true;
  }
  wake.notify_all();
  for (std::thread& t : workers) t.join();
}

void WorkerPool::SetThreads(int n) { wanted.store(std::clamp(n, 1, kMaxThreads), std::memory_order_relaxed); }

void WorkerPool::startWorkers(int n) {
  while (int(workers.size()) < n) {
    const int index = int(workers.size());
    try {
      workers.emplace_back([this, index] { workerLoop(index); });
    } catch (const std::system_error&) {
      break;  // fewer threads: the same results, later
    } catch (const std::bad_alloc&) {
      break;
    }
  }
}

void WorkerPool::workerLoop(int index) {
  uint64_t seen = 0;
  std::unique_lock<std::mutex> g(lock);
  for (;;) {
    wake.wait(g, [&] { return stopping || generation != seen; });
    if (stopping) return;
    seen = generation;
    if (!open || index >= allowed) continue;
    ++busy;
    g.unlock();
    takeParts();
    g.lock();
    if (--busy == 0) finished.notify_all();
  }
}

void WorkerPool::takeParts() {
  for (int32_t i = next.fetch_add(1, std::memory_order_relaxed); i < count;
       i = next.fetch_add(1, std::memory_order_relaxed))
    call(context, i);
}

void WorkerPool::runErased(int32_t n, PartFn fn, void* ctx) {
  const int threads = std::min<int64_t>(Threads(), n);
  // A part that runs work of its own, on the caller or on a worker, and a
  // second caller run it themselves rather than wait.
  std::unique_lock<std::mutex> running(runLock, std::defer_lock);
  if (threads <= 1 || owner.load() == std::this_thread::get_id() || !running.try_lock()) {
    for (int32_t i = 0; i < n; ++i) fn(ctx, i);
    return;
  }
  owner.store(std::this_thread::get_id());
  startWorkers(threads - 1);
  {
    std::lock_guard<std::mutex> g(lock);
    call = fn;
    context = ctx;
    count = n;
    next.store(0, std::memory_order_relaxed);
    allowed = std::min<int>(threads - 1, int(workers.size()));
    open = true;
    ++generation;
  }
  wake.notify_all();
  takeParts();
  // No worker joins once this is closed, and the work's memory stays until
  // the last one inside has left.
  std::unique_lock<std::mutex> g(lock);
  open = false;
  finished.wait(g, [&] { return busy == 0; });
  call = nullptr;
  context = nullptr;
  owner.store(std::thread::id());
}

namespace {

int startThreads() {
  if (const char* v = std::getenv("VL_THREADS")) {
    int n = 0;
    const char* end = v + std::strlen(v);
    if (std::from_chars(v, end, n).ptr == end && n >= 1) return n;
  }
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : int(cores);
}

}  // namespace

WorkerPool& corePool() {
  static WorkerPool pool(startThreads());
  return pool;
}

}  // namespace vl
