#pragma once
// A few threads of the core's own that run the parts of one piece of work
// side by side: composition by bands of rows, reductions, later filters and
// compression. The caller runs parts too and returns when every part is
// done. Each part writes only what it alone owns, so a result never depends
// on the number of threads or on which thread ran which part.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

namespace vl {

class WorkerPool {
 public:
  static constexpr int kMaxThreads = 64;

  // Threads counts the caller; the workers start on first use.
  explicit WorkerPool(int threads);
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;
  ~WorkerPool();

  int Threads() const { return wanted.load(std::memory_order_relaxed); }
  // 1 … kMaxThreads; 1 runs every part on the caller. Takes effect at the next Run.
  void SetThreads(int n);

  // Calls part(i) once for every i in 0 … count − 1 and waits for all of
  // them. A part must not throw. From inside a part, or while another thread
  // runs work on the pool, the parts run one after another on the caller.
  template <class Fn>
  void Run(int32_t count, Fn&& part) {
    if (count <= 0) return;
    using F = std::remove_reference_t<Fn>;
    runErased(count, [](void* f, int32_t i) { (*static_cast<F*>(f))(i); },
              const_cast<void*>(static_cast<const void*>(&part)));
  }

 private:
  using PartFn = void (*)(void*, int32_t);
  void runErased(int32_t count, PartFn call, void* context);
  // Starts workers until there are `n`; false when none could be had.
  void startWorkers(int n);
  void workerLoop(int index);
  void takeParts();

  std::atomic<int> wanted;
  std::mutex runLock;  // one piece of work at a time
  std::mutex lock;     // guards what follows
  std::condition_variable wake, finished;
  std::vector<std::thread> workers;
  std::atomic<std::thread::id> owner{};  // the thread whose work runs now
  uint64_t generation = 0;
  bool open = false;   // workers may still join the current work
  bool stopping = false;
  int busy = 0;        // workers inside the current work
  int allowed = 0;     // workers that may join it
  PartFn call = nullptr;
  void* context = nullptr;
  int32_t count = 0;
  std::atomic<int32_t> next{0};
};

// The process's pool: as many threads as the machine has cores, or the
// number in VL_THREADS; tests and benchmarks change it with SetThreads.
WorkerPool& corePool();

}  // namespace vl
