// The distributed search through an in-process transport: shards spread
// over several worker engines, workers replaced mid-search, second rounds
// sent to workers that did not evaluate the shard. Results must equal the
// local search's bit for bit.
#include "engine/distributed.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "captured_output.hpp"
#include "engine/bfs.hpp"

namespace tov {
namespace {

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

std::string describe(const Outcome<std::vector<SearchResult>>& outcome) {
  if (!outcome) return "error: " + error_message(outcome.error());
  std::string text;
  for (const auto& r : outcome.value()) {
    char bits[64];
    std::snprintf(bits, sizeof bits, " %a", r.error());
    text += r.formula() + bits;
    for (const double v : r.parameters()) {
      std::snprintf(bits, sizeof bits, " %a", v);
      text += bits;
    }
    text += "\n";
  }
  return text;
}

TEST(Distributed, ShardedSearchesEqualTheLocalSearch) {
  std::mt19937_64 rng(31);
  std::uniform_real_distribution<double> u(0.2, 2.5);
  for (int round = 0; round < 8; ++round) {
    const std::size_t variables = 1 + rng() % 2;
    std::vector<std::vector<double>> rows;
    std::vector<double> targets;
    std::vector<double> weights;
    const double a = u(rng);
    for (std::size_t i = 0; i < 12 + rng() % 20; ++i) {
      std::vector<double> row;
      for (std::size_t j = 0; j < variables; ++j) row.push_back(u(rng));
      targets.push_back(a * std::exp(-row[0]) + row.back() * row.back() + 0.01 * u(rng));
      rows.push_back(row);
      weights.push_back(round % 2 ? u(rng) : 1.0);
    }
    SearchConfig config;
    config.max_complexity = 5 + round % 2;
    config.beam_width = 30 + 10 * (round % 3);
    config.exhaustive = round % 4 != 3;
    config.linear_scaling = round % 3 == 0;
    config.alpha = round == 2 ? 0.02 : 0.0;
    if (round == 5) config.max_search_rows = 7;
    if (round == 6) config.operator_mask = ~(std::uint64_t{1} << op_id::kExp);
    CapturedOutput local_out;
    SearchControl control;
    control.out = local_out.file();
    const std::string local = describe(run_bfs(rows, targets, weights, config, control));
    for (const std::size_t shards : {1u, 3u, 8u}) {
      CapturedOutput out;
      control.out = out.file();
      InProcessTransport transport(3, shards, 3 + round % 3);
      EXPECT_EQ(describe(run_distributed(rows, targets, weights, config, control, transport)),
                local)
          << "round " << round << ", " << shards << " shards";
    }
  }
}

}  // namespace
}  // namespace tov
