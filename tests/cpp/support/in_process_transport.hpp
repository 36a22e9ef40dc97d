// A distributed search's transport within one process, for tests: worker
// engines that take the shards in turn, one of them replaced by a fresh
// engine at a chosen level, second rounds sent to another worker than the
// first.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cluster/distributed.hpp"
#include "support/staircase_text.hpp"

namespace tov {

class InProcessTransport final : public ShardTransport {
 public:
  InProcessTransport(std::size_t workers, std::size_t shards, std::size_t replace_at)
      : workers_(workers), shards_(shards), replace_at_(replace_at) {}

  bool start(const std::string& data, const std::string& config) override {
    data_ = data;
    config_ = config;
    for (std::size_t i = 0; i < workers_; ++i) engines_.push_back(fresh());
    return true;
  }

  std::optional<std::vector<std::string>> evaluate(std::size_t level, const std::string* retained,
                                                   const Poll&) override {
    if (retained != nullptr) retained_.push_back(*retained);
    // A worker lost before this level: its replacement starts from nothing.
    if (level == replace_at_) engines_[level % workers_] = fresh();
    std::vector<std::string> out;
    for (std::size_t s = 0; s < shards_; ++s) out.push_back(on(level, s).evaluate(s, shards_));
    return out;
  }

  bool resume(std::vector<std::string> retained) override {
    retained_ = std::move(retained);
    return true;
  }

  std::optional<std::vector<std::string>> complete(std::size_t level, const std::string& plan,
                                                   const Poll&) override {
    std::vector<std::string> out;
    for (std::size_t s = 0; s < shards_; ++s)
      out.push_back(on(level, s + 1).complete(s, shards_, plan));
    return out;
  }

 private:
  std::unique_ptr<WorkerEngine> fresh() const {
    return std::make_unique<WorkerEngine>(data_, config_, 1);
  }
  WorkerEngine& on(std::size_t level, std::size_t s) {
    WorkerEngine& engine = *engines_[(s + level) % workers_];
    std::vector<std::string_view> views(retained_.begin(), retained_.end());
    engine.prepare(level, views);
    return engine;
  }

  std::size_t workers_;
  std::size_t shards_;
  std::size_t replace_at_;
  std::string data_;
  std::string config_;
  std::vector<std::string> retained_;
  std::vector<std::unique_ptr<WorkerEngine>> engines_;
};

}  // namespace tov
