#include "config/search_config.hpp"

#include "engine/worker_pool.hpp"

namespace tov {

std::uint64_t default_worker_threads() { return WorkerPool::process_pool().thread_count(); }

}  // namespace tov
