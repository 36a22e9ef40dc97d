#include "search/console.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/captured_output.hpp"

namespace tov {
namespace {

using std::chrono::nanoseconds;

TEST(ConsoleDuration, CompactForms) {
  const std::vector<std::pair<std::int64_t, std::string>> cases = {
      {2'000'000'000, "2s"},
      {1'500'000'000, "1.5s"},
      {1'234'567, "1.234567ms"},
      {850, "850ns"},
      {0, "0ns"},
      {1'000, "1\u00b5s"},
      {1'050, "1.05\u00b5s"},
      {999'999, "999.999\u00b5s"},
      {1'000'000, "1ms"},
      {61'000'000'001, "61.000000001s"},
      {1'000'100'000, "1.0001s"},
  };
  for (const auto& [ns, text] : cases) EXPECT_EQ(format_duration(nanoseconds(ns)), text) << ns;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while ((start = text.find('\r', start)) != std::string::npos) {
    const std::size_t end = text.find('\r', start + 1);
    out.push_back(text.substr(start, end == std::string::npos ? end : end - start));
    start = start + 1;
  }
  return out;
}

TEST(ConsoleProgress, ThreeCandidatesPrintThirdsWithTheirBars) {
  CapturedOutput out;
  LevelProgress progress(out.file(), 4, 3);
  for (int i = 0; i < 3; ++i) progress.step();
  const auto printed = lines(out.text());
  ASSERT_EQ(printed.size(), 3u);
  const std::string full = "\u2588", empty = "\u2591";
  const auto bar = [&](int filled) {
    std::string b;
    for (int i = 0; i < 10; ++i) b += i < filled ? full : empty;
    return b;
  };
  const std::vector<std::string> prefixes = {
      "\r  [TOV] L4 Progress: [" + bar(3) + "] 33% (1/3) | ",
      "\r  [TOV] L4 Progress: [" + bar(6) + "] 66% (2/3) | ",
      "\r  [TOV] L4 Progress: [" + bar(10) + "] 100% (3/3) | "};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(printed[i].substr(0, prefixes[i].size()), prefixes[i]);
    EXPECT_EQ(printed[i].substr(printed[i].size() - 5), "s)   ");
    EXPECT_NE(printed[i].find("s (Est: "), std::string::npos);
  }
}

TEST(ConsoleProgress, AtMostOneLinePerPercentAndNothingForEmptyLevels) {
  CapturedOutput out;
  LevelProgress many(out.file(), 7, 1000);
  for (int i = 0; i < 1000; ++i) many.step();
  EXPECT_EQ(lines(out.text()).size(), 100u);

  CapturedOutput none;
  LevelProgress empty_level(none.file(), 2, 0);
  empty_level.step();
  EXPECT_EQ(none.text(), "");
}

}  // namespace
}  // namespace tov
