// A pool of worker threads for the parallel phases of a search.
//
// One process-wide pool, sized to the hardware threads available to the
// process, is created on first use. Outputs of a parallel map are gathered in
// input order, so results never depend on the number of threads or on timing.
#pragma once

#include <concepts>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

namespace tov {

class WorkerPool {
 public:
  // A pool of `threads` workers (at least one).
  explicit WorkerPool(std::size_t threads);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // The process-wide pool, started on first call.
  static WorkerPool& process_pool();
  // Hardware threads available to this process (CPU affinity respected).
  static std::size_t available_threads();

  std::size_t thread_count() const { return workers_.size(); }

  // Runs task(worker, i) for every i in [0, n) on the workers while the
  // calling thread waits, calling `poll` (when given) about every 100 ms.
  // `worker` is the index, below thread_count(), of the worker running the
  // task: scratch indexed by it is never used by two tasks at once. When
  // `poll` returns true, workers stop taking new indices and run() returns
  // false once the running tasks have ended. The first exception thrown by a
  // task stops the job the same way and is rethrown here. One job runs at a
  // time.
  [[nodiscard]] bool run(std::size_t n, const std::function<void(std::size_t, std::size_t)>& task,
                         const std::function<bool()>& poll = {});
  // The same for a task that does not need its worker's index.
  template <class Task>
  requires std::invocable<Task&, std::size_t>
  [[nodiscard]] bool run(std::size_t n, Task&& task, const std::function<bool()>& poll = {}) {
    return run(
        n, [&](std::size_t, std::size_t i) { task(i); }, poll);
  }

 private:
  struct Job;
  void worker_loop(std::size_t worker);
  void work_on(Job& job, std::size_t worker);

  std::vector<std::thread> workers_;
  std::mutex submit_mutex_;  // serialises jobs from concurrent callers
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  Job* job_ = nullptr;
  std::size_t generation_ = 0;
  bool stopping_ = false;
};

// Maps `fn` over [0, n) on the pool; element i of the result is fn(i), or
// fn(worker, i) for a function that takes the worker's index too. Returns
// false (and a partly filled vector) when interrupted.
template <class T, class Fn>
[[nodiscard]] bool parallel_map(WorkerPool& pool, std::size_t n, Fn&& fn, std::vector<T>& out,
                                const std::function<bool()>& poll = {}) {
  out.clear();
  out.resize(n);
  return pool.run(
      n,
      [&](std::size_t worker, std::size_t i) {
        if constexpr (std::is_invocable_v<Fn&, std::size_t, std::size_t>) {
          out[i] = fn(worker, i);
        } else {
          out[i] = fn(i);
        }
      },
      poll);
}

}  // namespace tov
