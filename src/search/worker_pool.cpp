// The worker pool: one job at a time, indices handed out in chunks.
#include "search/worker_pool.hpp"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>

#include "config/search_config.hpp"

namespace tov {

struct WorkerPool::Job {
  std::size_t n = 0;
  std::size_t chunk = 1;
  const std::function<void(std::size_t, std::size_t)>* task = nullptr;
  std::atomic<std::size_t> next{0};
  std::atomic<bool> cancelled{false};
  std::size_t active = 0;  // workers inside work_on, guarded by mutex_
  std::exception_ptr failure;
};

WorkerPool::WorkerPool(std::size_t threads) {
  threads = std::max<std::size_t>(threads, 1);
  workers_.reserve(threads);
  for (std::size_t i = 0; i < threads; ++i) workers_.emplace_back([this, i] { worker_loop(i); });
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (auto& worker : workers_) worker.join();
}

WorkerPool& WorkerPool::process_pool() {
  static std::mutex mutex;
  static std::unique_ptr<WorkerPool> pool;
  static pid_t owner = 0;
  std::lock_guard lock(mutex);
  if (owner != getpid()) {
    // A child made by fork() inherits the pool object but none of its
    // threads, so it starts its own pool. The inherited object is abandoned:
    // its threads cannot be joined here.
    static_cast<void>(pool.release());
    pool = std::make_unique<WorkerPool>(available_threads());
    owner = getpid();
  }
  return *pool;
}

std::size_t WorkerPool::available_threads() { return tov::available_threads(); }

void WorkerPool::work_on(Job& job, std::size_t worker) {
  while (!job.cancelled.load(std::memory_order_relaxed)) {
    const std::size_t begin = job.next.fetch_add(job.chunk, std::memory_order_relaxed);
    if (begin >= job.n) break;
    const std::size_t end = std::min(job.n, begin + job.chunk);
    try {
      for (std::size_t i = begin; i < end && !job.cancelled.load(std::memory_order_relaxed); ++i)
        (*job.task)(worker, i);
    } catch (...) {
      std::lock_guard lock(mutex_);
      if (!job.failure) job.failure = std::current_exception();
      job.cancelled.store(true, std::memory_order_relaxed);
    }
  }
}

void WorkerPool::worker_loop(std::size_t worker) {
  std::size_t seen_generation = 0;
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock,
               [&] { return stopping_ || (job_ != nullptr && generation_ != seen_generation); });
    if (stopping_) return;
    seen_generation = generation_;
    Job& job = *job_;
    ++job.active;
    lock.unlock();
    work_on(job, worker);
    lock.lock();
    if (--job.active == 0) done_.notify_all();
  }
}

bool WorkerPool::run(std::size_t n, const std::function<void(std::size_t, std::size_t)>& task,
                     const std::function<bool()>& poll) {
  if (n == 0) return !(poll && poll());
  std::lock_guard submit(submit_mutex_);
  Job job;
  job.n = n;
  job.task = &task;
  // Small chunks balance uneven tasks; enough of them keep contention low.
  job.chunk = std::clamp<std::size_t>(n / (workers_.size() * 64), 1, 256);
  {
    std::lock_guard lock(mutex_);
    job_ = &job;
    ++generation_;
  }
  wake_.notify_all();

  std::unique_lock lock(mutex_);
  const auto finished = [&] {
    return job.active == 0 &&
           (job.next.load(std::memory_order_relaxed) >= n || job.cancelled.load());
  };
  while (!finished()) {
    done_.wait_for(lock, std::chrono::milliseconds(100));
    if (poll && !job.cancelled.load()) {
      lock.unlock();
      const bool stop = poll();
      lock.lock();
      if (stop) job.cancelled.store(true);
    }
  }
  // Workers that have not woken for this job yet must not pick it up later.
  job_ = nullptr;
  lock.unlock();
  if (job.failure) std::rethrow_exception(job.failure);
  return !job.cancelled.load();
}

}  // namespace tov
