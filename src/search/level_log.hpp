// What a search keeps of each completed level so that another process can
// continue it: the LevelLog interface the driver writes to and restores
// from, and the record of one level. The file behind it lives with the
// distributed backend's messages (cluster/checkpoint.hpp), whose framing it
// shares.
#pragma once

#include <cstdint>
#include <vector>

#include "fit/staircase.hpp"
#include "formula/expression.hpp"
#include "search/search_control.hpp"

namespace tov {

// How the search went on after a level.
enum class AfterLevel : std::uint8_t {
  GoesOn = 0,    // to the next level, if any
  Answer = 1,    // an answer ended it early
  Callback = 2,  // the level callback ended it
};

// One completed level: with the data and settings, what the next level
// needs. The engines' state (candidates seen, cached values) follows from
// the retained expressions of every level, since generation is
// deterministic; the term library from those and the pairs.
struct LevelRecord {
  std::uint64_t level = 0;  // 1 for the seeds
  AfterLevel end = AfterLevel::GoesOn;
  std::vector<Expression> retained;  // as the next level expands them; none at level 1
  std::vector<FrontEntry> pairs;     // found by meet in the middle after the retention
  std::vector<FrontEntry> front;     // the whole front once the level is complete
  LevelReport report;                // as the level callback saw it
};

class LevelLog {
 public:
  virtual ~LevelLog() = default;
  // The levels an earlier run completed, in order from level 1; empty for a
  // new search.
  virtual const std::vector<LevelRecord>& restored() const = 0;
  // Keeps a completed level (after the restored ones and those appended).
  virtual void append(const LevelRecord& record) = 0;
};

}  // namespace tov
