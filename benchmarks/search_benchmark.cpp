// Runs one benchmark search and prints its measurements as one JSON object.
//
//   search_benchmark PROBLEM [--max-complexity N] [--beam-width N] [--reference]
//                    [--scalar-math] [--arithmetic] [--linear-scaling]
//                    [--time-limit SECONDS]
//
// --arithmetic limits the operators to Neg, Inv, Plus, Times, Subtract,
// Divide, Square and Cube.
//
// PROBLEM is one of: x100, x1000, xyz1000, constant, mid. Peak memory is
// measured by the caller (one process per search).
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ops/vector_math.hpp"
#include "search/bfs.hpp"
#include "searcher/searcher.hpp"

namespace {

struct Problem {
  std::vector<std::vector<double>> rows;
  std::vector<double> targets;
};

// A smooth law with a fitted constant, sampled on a grid.
Problem one_variable(int n) {
  Problem p;
  for (int i = 0; i < n; ++i) {
    const double x = -2.0 + 4.0 * i / n;
    p.rows.push_back({x});
    p.targets.push_back(x * std::sin(x) + 0.5 * x * x);
  }
  return p;
}

Problem three_variables(int n) {
  Problem p;
  for (int i = 0; i < n; ++i) {
    const double x = 0.5 + (i % 10) * 0.3;
    const double y = 0.2 + ((i / 10) % 10) * 0.25;
    const double z = 1.0 + (i / 100) * 0.1;
    p.rows.push_back({x, y, z});
    p.targets.push_back(x * y / z + 0.3 * std::exp(-x));
  }
  return p;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PROBLEM [--max-complexity N] [--beam-width N] [--reference]\n",
                 argv[0]);
    return 2;
  }
  const std::string problem = argv[1];
  tov::SearchConfig config;
  tov::SearchControl control;
  tov::SearchStats stats;
  control.stats = &stats;
  tov::SearchEnding ending;
  control.ending = &ending;
  for (int i = 2; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--max-complexity") && i + 1 < argc) {
      config.max_complexity = std::strtoull(argv[++i], nullptr, 10);
    } else if (!std::strcmp(argv[i], "--beam-width") && i + 1 < argc) {
      config.beam_width = std::strtoull(argv[++i], nullptr, 10);
    } else if (!std::strcmp(argv[i], "--reference")) {
      control.reference_evaluator = true;
    } else if (!std::strcmp(argv[i], "--scalar-math")) {
      tov::vmath::use_vector_paths(false);
    } else if (!std::strcmp(argv[i], "--arithmetic")) {
      config.operator_mask = 0;
      for (const auto id :
           {tov::op_id::kNeg, tov::op_id::kInv, tov::op_id::kPlus, tov::op_id::kTimes,
            tov::op_id::kSubtract, tov::op_id::kDivide, tov::op_id::kSquare, tov::op_id::kCube})
        config.operator_mask |= std::uint64_t{1} << id;
    } else if (!std::strcmp(argv[i], "--linear-scaling")) {
      config.linear_scaling = true;
    } else if (!std::strcmp(argv[i], "--time-limit") && i + 1 < argc) {
      config.time_limit = std::strtod(argv[++i], nullptr);
    }
  }
  // The progress lines would only slow the measurement down.
  control.out = std::fopen("/dev/null", "w");

  const tov::Searcher searcher(config, control);
  const auto start = std::chrono::steady_clock::now();
  std::string best;
  double error = NAN;
  std::size_t results = 0;
  if (problem == "constant") {
    auto outcome = searcher.recognize_constant(std::exp(1.0) + 1.0);
    if (outcome) {
      best = outcome.value().formula();
      error = outcome.value().error();
      results = 1;
    }
  } else {
    Problem p;
    if (problem == "x100" || problem == "mid") {
      p = one_variable(100);
    } else if (problem == "x1000") {
      p = one_variable(1000);
    } else if (problem == "xyz1000") {
      p = three_variables(1000);
    } else {
      std::fprintf(stderr, "unknown problem %s\n", problem.c_str());
      return 2;
    }
    auto outcome = searcher.find_candidates(p.rows, p.targets);
    if (!outcome) {
      std::printf("{\"failure\": \"%s\"}\n", tov::error_message(outcome.error()).c_str());
      return 1;
    }
    best = outcome.value().front().formula();
    error = outcome.value().front().error();
    results = outcome.value().size();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::uint64_t evaluated = 0;
  std::string levels;
  for (const auto count : stats.candidates) {
    evaluated += count;
    levels += (levels.empty() ? "" : ", ") + std::to_string(count);
  }
  std::printf(
      "{\"seconds\": %.3f, \"candidates\": [%s], \"evaluated\": %llu, \"refinements\": %llu, "
      "\"results\": %zu, \"best\": \"%s\", \"error\": %.6e, \"levels\": %llu}\n",
      seconds, levels.c_str(), static_cast<unsigned long long>(evaluated),
      static_cast<unsigned long long>(stats.refinements), results, best.c_str(), error,
      static_cast<unsigned long long>(ending.last_level));
  return 0;
}
