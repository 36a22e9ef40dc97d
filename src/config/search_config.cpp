// The hardware thread count that sizes the worker pool.
#include "config/search_config.hpp"

#include <sched.h>

#include <algorithm>
#include <thread>

namespace tov {

std::uint64_t available_threads() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return static_cast<std::uint64_t>(count);
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace tov
