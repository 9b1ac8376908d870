#pragma once
// A few threads that share out the items of one job at a time, for work
// whose items are independent (compressing or decoding tile runs, layer
// thumbnails). Results never depend on how many threads there are.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vl {

class WorkerPool {
 public:
  // threads 0: as many as the machine has, at most 8. The calling thread
  // is one of them; fewer are made when the system refuses more.
  explicit WorkerPool(int threads = 0);
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;
  ~WorkerPool();

  int Threads() const { return int(workers.size()) + 1; }
  // fn(0) … fn(count − 1), each once, spread over the threads; returns when
  // all are done. fn must not throw.
  void Run(size_t count, const std::function<void(size_t)>& fn);

 private:
  void take(const std::function<void(size_t)>& fn, size_t count);
  void work();

  std::vector<std::thread> workers;
  std::mutex mutex;
  std::condition_variable wake, done;
  const std::function<void(size_t)>* job = nullptr;
  size_t jobCount = 0;
  size_t busy = 0;
  std::atomic<size_t> next{0};
  uint64_t generation = 0;
  bool stopping = false;
};

}  // namespace vl
