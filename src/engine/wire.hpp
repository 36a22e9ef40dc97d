// Compact binary messages between the client and the workers of a
// distributed search: the data and settings (sent once), the retained
// expressions of each level, shard summaries, beam plans and the second
// round's answers. Doubles travel as their exact bits, so nothing is rounded
// on the way. Peers run the same version of this code; a message that does
// not decode throws std::runtime_error.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/search_config.hpp"
#include "core/expression.hpp"
#include "engine/beam.hpp"
#include "engine/search_data.hpp"
#include "engine/search_engine.hpp"

namespace tov::wire {

std::string encode(const SearchData& data);
SearchData decode_data(std::string_view message);

// The settings a search's engines read (every scalar field).
std::string encode(const SearchConfig& config);
SearchConfig decode_config(std::string_view message);

std::string encode(std::span<const Expression> expressions);
std::vector<Expression> decode_expressions(std::string_view message);

// A shard's summary with the structure keys of its top candidates.
struct KeyedSummary {
  ShardSummary summary;
  std::vector<std::string> top_keys;  // one per summary.top entry
};
std::string encode(const KeyedSummary& summary);
KeyedSummary decode_summary(std::string_view message);

std::string encode(const BeamPlan& plan);
BeamPlan decode_plan(std::string_view message);

// A shard's answer to the second round: its best remaining candidates and
// the expressions of its candidates that may be selected (those of the top
// part in its range and those remaining candidates).
struct Completion {
  std::vector<RankedRest> rest;
  std::map<std::uint64_t, Expression> expressions;
};
std::string encode(const Completion& completion);
Completion decode_completion(std::string_view message);

}  // namespace tov::wire
