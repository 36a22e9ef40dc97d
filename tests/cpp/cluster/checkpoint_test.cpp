// Checkpoint files: whatever a search leaves on disk at any moment of
// writing any level, the same call resumes from it with the uninterrupted
// search's staircase, level reports and report lines, locally and through
// the distributed backend; files it cannot trust are refused.
#include "cluster/checkpoint.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "cluster/wire.hpp"
#include "searcher/searcher.hpp"
#include "support/captured_output.hpp"
#include "support/in_process_transport.hpp"
#include "support/staircase_text.hpp"

namespace tov {
namespace {

namespace fs = std::filesystem;

struct Data {
  std::vector<std::vector<double>> rows;
  std::vector<double> targets;
};

Data sample_data() {
  Data d;
  for (int i = 0; i < 16; ++i) {
    const double x = 0.3 + 0.13 * i;
    const double z = 1.0 + 0.5 * std::cos(3 * x);
    d.rows.push_back({x, z});
    d.targets.push_back(2.5 * x * x + std::sin(z) + 0.1 * x * z);
  }
  return d;
}

// A fresh directory per test, removed after it.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "tov-checkpoint-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() { fs::remove_all(path_); }
  std::string file(const std::string& name) const { return (fs::path(path_) / name).string(); }

 private:
  std::string path_;
};

std::optional<std::string> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// What one search shows: its staircase, its level reports (without their
// durations) and its report lines (without theirs).
struct Seen {
  std::string staircase;
  std::vector<std::string> reports;
  std::vector<std::string> lines;
};

std::vector<std::string> report_lines(const std::string& text) {
  static const std::regex duration("processed in .*?\\. Retaining");
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    if (line.rfind("[TOV-SR]", 0) == 0)
      lines.push_back(std::regex_replace(line, duration, "processed in T. Retaining"));
    at = end + 1;
  }
  return lines;
}

Seen search(const Data& d, SearchConfig config, bool distributed) {
  CapturedOutput out;
  Seen seen;
  SearchControl control;
  control.out = out.file();
  control.on_level = [&](const LevelReport& r) {
    char error[64];
    std::snprintf(error, sizeof error, "%a", r.best_error.value_or(-1.0));
    seen.reports.push_back(std::to_string(r.level) + " " + std::to_string(r.candidates) + " " +
                           std::to_string(r.retained) + " " + error + " " + r.best_formula);
    return false;
  };
  control.warn = [](const std::string& message) { ADD_FAILURE() << message; };
  InProcessTransport transport(2, 3, 0);
  const Searcher searcher(config, control, distributed ? &transport : nullptr);
  seen.staircase = describe(searcher.find_candidates(d.rows, d.targets));
  seen.lines = report_lines(out.text());
  return seen;
}

// The report lines after the one of `level`.
std::vector<std::string> lines_after(const std::vector<std::string>& lines, std::uint64_t level) {
  if (level == 1) return {lines.begin() + 1, lines.end()};
  const std::string mark = "[TOV-SR]   -> Level " + std::to_string(level) + " processed in";
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (lines[i].rfind(mark, 0) == 0) return {lines.begin() + i + 1, lines.end()};
  ADD_FAILURE() << "no line of level " << level;
  return {};
}

// The levels a file holds: its messages but the header and the closing one.
std::uint64_t levels_in(const std::string& bytes) {
  std::size_t at = 0;
  std::uint64_t messages = 0;
  while (at < bytes.size()) {
    at += wire::message_size(std::string_view(bytes).substr(at));
    ++messages;
  }
  return messages - 2;
}

struct Case {
  const char* name;
  void (*set)(SearchConfig&);
  bool distributed;
};

const Case kCases[] = {
    {"plain", [](SearchConfig&) {}, false},
    {"terms", [](SearchConfig& c) { c.max_terms = 2; }, false},
    {"pairs", [](SearchConfig& c) { c.meet_in_the_middle = true; }, false},
    {"scaling", [](SearchConfig& c) { c.linear_scaling = true; }, false},
    {"distributed", [](SearchConfig&) {}, true},
    {"distributed terms", [](SearchConfig& c) { c.max_terms = 2; }, true},
};

// At every moment of writing every level, the file as it then is on disk
// resumes to the uninterrupted search.
TEST(Checkpoint, EveryMomentOfEveryWriteResumesToTheUninterruptedSearch) {
  const Data d = sample_data();
  for (const Case& c : kCases) {
    SearchConfig config;
    config.max_complexity = 5;
    config.beam_width = 40;
    c.set(config);
    const Seen whole = search(d, config, c.distributed);

    TempDir dir;
    const std::string path = dir.file("search.tov");
    std::map<std::pair<std::uint64_t, WriteStep>, std::optional<std::string>> on_disk;
    set_checkpoint_hook([&](std::uint64_t level, WriteStep step) {
      on_disk[{level, step}] = read_file(path);
      return true;
    });
    config.checkpoint = path;
    const Seen written = search(d, config, c.distributed);
    set_checkpoint_hook(nullptr);
    EXPECT_EQ(written.staircase, whole.staircase) << c.name;
    EXPECT_EQ(written.lines, whole.lines) << c.name;
    ASSERT_EQ(on_disk.size(), 4 * config.max_complexity) << c.name;

    for (const auto& [moment, bytes] : on_disk) {
      const auto [level, step] = moment;
      const std::uint64_t kept = bytes ? levels_in(*bytes) : 0;
      EXPECT_EQ(kept, step == WriteStep::AfterRename ? level : level - 1) << c.name;
      const std::string copy = dir.file("copy.tov");
      fs::remove(copy);
      if (bytes) write_file(copy, *bytes);
      config.checkpoint = copy;
      const Seen resumed = search(d, config, c.distributed);
      const std::string at = std::string(c.name) + ", level " + std::to_string(level) + ", step " +
                             std::to_string(static_cast<int>(step));
      EXPECT_EQ(resumed.staircase, whole.staircase) << at;
      EXPECT_EQ(resumed.reports,
                std::vector<std::string>(whole.reports.begin() + static_cast<long>(kept),
                                         whole.reports.end()))
          << at;
      if (kept == 0) {
        EXPECT_EQ(resumed.lines, whole.lines) << at;
      } else if (kept < config.max_complexity) {
        std::vector<std::string> expected = lines_after(whole.lines, kept);
        expected.insert(expected.begin(), "[TOV-SR] Resumed from the checkpoint after level " +
                                              std::to_string(kept) + ".");
        EXPECT_EQ(resumed.lines, expected) << at;
      } else {
        EXPECT_TRUE(resumed.lines.empty()) << at;
      }
    }
  }
}

// A search that the level callback or an answer ended returns at once, as
// it ended.
TEST(Checkpoint, ASearchEndedEarlyEndsTheSameWay) {
  const Data d = sample_data();
  TempDir dir;
  SearchConfig config;
  config.max_complexity = 6;
  config.beam_width = 30;
  config.checkpoint = dir.file("stopped.tov");
  SearchControl control;
  config.verbose = false;
  int calls = 0;
  control.on_level = [&](const LevelReport& r) {
    ++calls;
    return r.level == 3;
  };
  const std::string first = describe(Searcher(config, control).find_candidates(d.rows, d.targets));
  EXPECT_EQ(calls, 3);
  const std::string again = describe(Searcher(config, control).find_candidates(d.rows, d.targets));
  EXPECT_EQ(again, first);
  EXPECT_EQ(calls, 3);

  // An answer (x0 squared) ends the search early; the file says so.
  std::vector<double> squares;
  for (const auto& row : d.rows) squares.push_back(row[0] * row[0]);
  config.checkpoint = dir.file("answer.tov");
  const auto found = Searcher(config).find_multivariate(d.rows, squares);
  ASSERT_TRUE(found);
  const std::string file = *read_file(*config.checkpoint);
  EXPECT_LT(levels_in(file), config.max_complexity);
  const auto again_found = Searcher(config).find_multivariate(d.rows, squares);
  ASSERT_TRUE(again_found);
  EXPECT_EQ(again_found.value().formula(), found.value().formula());
  EXPECT_EQ(again_found.value().error(), found.value().error());
  EXPECT_EQ(*read_file(*config.checkpoint), file);
}

// A search the deadline cut short is not finished: the same call continues
// after its last completed level, with a time limit of its own.
TEST(Checkpoint, ASearchCutByItsTimeLimitContinues) {
  const Data d = sample_data();
  SearchConfig config;
  config.max_complexity = 5;
  config.beam_width = 40;
  config.verbose = false;
  const std::string whole = describe(Searcher(config).find_candidates(d.rows, d.targets));
  TempDir dir;
  config.checkpoint = dir.file("timed.tov");
  config.time_limit = 1000.0;
  for (const LevelStep at : {LevelStep::Start, LevelStep::SecondRound, LevelStep::Retention}) {
    fs::remove(*config.checkpoint);
    SearchEnding ending;
    SearchControl control;
    control.ending = &ending;
    control.deadline_passed = [&](std::uint64_t level, LevelStep step) {
      return level == 4 && step == at;
    };
    ASSERT_TRUE(Searcher(config, control).find_candidates(d.rows, d.targets));
    EXPECT_TRUE(ending.time_limit_reached);
    EXPECT_EQ(levels_in(*read_file(*config.checkpoint)), 3u);
    EXPECT_EQ(describe(Searcher(config).find_candidates(d.rows, d.targets)), whole);
  }
}

TEST(Checkpoint, AFileOfAnotherSearchIsRefusedAndLeftAlone) {
  const Data d = sample_data();
  TempDir dir;
  SearchConfig config;
  config.max_complexity = 3;
  config.verbose = false;
  config.checkpoint = dir.file("a.tov");
  ASSERT_TRUE(Searcher(config).find_candidates(d.rows, d.targets));
  const std::string before = *read_file(*config.checkpoint);
  SearchConfig other = config;
  other.complexity_penalty = 0.2;
  other.alpha = 0.1;
  const auto outcome = Searcher(other).find_candidates(d.rows, d.targets);
  ASSERT_FALSE(outcome);
  EXPECT_EQ(error_message(outcome.error()),
            "checkpoint '" + *config.checkpoint +
                "' belongs to another search; what differs from this call: complexity_penalty, "
                "alpha");
  EXPECT_EQ(*read_file(*config.checkpoint), before);
  // A finished search, with its time limit and console changed, is the same.
  other = config;
  other.time_limit = 50.0;
  other.verbose = true;
  CapturedOutput out;
  SearchControl control;
  control.out = out.file();
  EXPECT_EQ(describe(Searcher(other, control).find_candidates(d.rows, d.targets)),
            describe(Searcher(config).find_candidates(d.rows, d.targets)));
  EXPECT_EQ(out.text(), "");
}

// Every cut of a small file, even between two messages, and any changed
// byte, is refused with the byte it happened at.
TEST(Checkpoint, TruncatedAndDamagedFilesAreRefused) {
  const Data d = sample_data();
  TempDir dir;
  SearchConfig config;
  config.max_complexity = 2;
  config.beam_width = 3;
  config.verbose = false;
  config.checkpoint = dir.file("small.tov");
  const std::string staircase = describe(Searcher(config).find_candidates(d.rows, d.targets));
  const std::string bytes = *read_file(*config.checkpoint);
  EXPECT_EQ(describe(Searcher(config).find_candidates(d.rows, d.targets)), staircase);
  const std::regex refused("checkpoint '.*' (is damaged at byte [0-9]+: .+|was written .+)");
  for (std::size_t size = 0; size < bytes.size(); ++size) {
    write_file(*config.checkpoint, bytes.substr(0, size));
    const auto outcome = Searcher(config).find_candidates(d.rows, d.targets);
    ASSERT_FALSE(outcome) << size;
    EXPECT_TRUE(std::regex_match(error_message(outcome.error()), refused))
        << error_message(outcome.error());
  }
  std::mt19937_64 rng(5);
  for (int trial = 0; trial < 200; ++trial) {
    std::string damaged = bytes;
    damaged[rng() % damaged.size()] ^= static_cast<char>(1 + rng() % 255);
    write_file(*config.checkpoint, damaged);
    const auto outcome = Searcher(config).find_candidates(d.rows, d.targets);
    ASSERT_FALSE(outcome) << trial;
    EXPECT_TRUE(std::regex_match(error_message(outcome.error()), refused))
        << error_message(outcome.error());
  }
}

// A file written under another identity or layout names what differs.
TEST(Checkpoint, TheHeaderIsComparedEntryByEntry) {
  TempDir dir;
  const std::string path = dir.file("ids.tov");
  LevelRecord record;
  record.level = record.report.level = 1;
  {
    auto file = CheckpointFile::open(path, {{"a", "1"}, {"b", "2"}}, nullptr);
    ASSERT_TRUE(file);
    file.value()->append(record);
  }
  const std::string prefix = "checkpoint '" + path + "' ";
  const auto refusal = [&](CheckpointIdentity identity) {
    auto file = CheckpointFile::open(path, std::move(identity), nullptr);
    return file ? std::string("accepted") : error_message(file.error());
  };
  EXPECT_EQ(refusal({{"a", "1"}, {"b", "2"}}), "accepted");
  EXPECT_EQ(refusal({{"a", "1"}, {"b", "3"}}),
            prefix + "belongs to another search; what differs from this call: b");
  EXPECT_EQ(refusal({{"a", "1"}, {"b", "2"}, {"c", "3"}}),
            prefix + "belongs to another search; what differs from this call: c (not in the file)");
  EXPECT_EQ(
      refusal({{"b", "2"}}),
      prefix + "belongs to another search; what differs from this call: a (not in this call)");

  // The same file with layout 2 in its header.
  const std::string bytes = *read_file(path);
  const std::size_t header = wire::message_size(bytes);
  wire::CheckpointHeader later = wire::decode_checkpoint_header(bytes.substr(0, header));
  later.layout = kCheckpointLayout + 1;
  write_file(path, wire::encode(later) + bytes.substr(header));
  EXPECT_EQ(refusal({{"a", "1"}, {"b", "2"}}),
            prefix + "has layout version 2, this build reads version 1");
}

TEST(Checkpoint, ALivePathIsRefused) {
  TempDir dir;
  const std::string path = dir.file("busy.tov");
  auto first = CheckpointFile::open(path, {}, nullptr);
  ASSERT_TRUE(first);
  auto second = CheckpointFile::open(path, {}, nullptr);
  ASSERT_FALSE(second);
  EXPECT_EQ(
      error_message(second.error()),
      "checkpoint '" + path + "' is in use by another live search (it holds '" + path + ".lock')");
  first.value().reset();
  EXPECT_TRUE(CheckpointFile::open(path, {}, nullptr));
}

TEST(Checkpoint, AFailedWriteWarnsOnceAndStops) {
  TempDir dir;
  const std::string path = dir.file("full.tov");
  std::vector<std::string> warnings;
  auto file = CheckpointFile::open(path, {}, [&](const std::string& m) { warnings.push_back(m); });
  ASSERT_TRUE(file);
  LevelRecord record;
  record.level = 1;
  record.report.level = 1;
  file.value()->append(record);
  const std::string one_level = *read_file(path);
  set_checkpoint_hook([](std::uint64_t level, WriteStep step) {
    return !(level == 2 && step == WriteStep::AfterWrite);
  });
  for (std::uint64_t level = 2; level <= 4; ++level) {
    record.level = record.report.level = level;
    file.value()->append(record);
  }
  set_checkpoint_hook(nullptr);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0], "checkpoint '" + path + "' cannot be written: writing '" + path +
                             ".tmp' failed (No space left on device); the search goes on "
                             "without checkpoints");
  EXPECT_EQ(*read_file(path), one_level);
  EXPECT_FALSE(fs::exists(path + ".tmp"));
}

}  // namespace
}  // namespace tov
