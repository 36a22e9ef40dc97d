// The distributed search's messages: every kind round-trips exactly, and the
// decoders refuse (with MalformedMessage, never anything worse) what no
// encoder of this version writes: truncated, damaged, foreign, of another
// version or kind. Whatever a decoder accepts is exactly what encoding the
// decoded value writes again.
#include "cluster/wire.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "config/config_fields.hpp"
#include "ops/registry.hpp"

namespace tov::wire {
namespace {

const double kNaNWithPayload = std::bit_cast<double>(std::uint64_t{0x7ff8000000000123});

Expression sample_expression() {
  const Expression x = make_var_leaf(2);
  const Expression c = make_param_leaf();
  Expression e = make_binary(op_id::kPlus, "Plus", make_unary(op_id::kExp, "Exp", x),
                             make_binary(op_id::kTimes, "Times", c, c));
  e.tokens[3].value = Complex{-0.0, kNaNWithPayload};  // a refined parameter keeps its bits
  return e;
}

SearchData sample_data(bool weighted) {
  SearchData data;
  data.variables = 2;
  data.samples = {{{1.5, 0.0}, {-0.0, 0.0}}, {{kNaNWithPayload, 0.0}, {1e-310, 0.0}}};
  data.targets = {std::numeric_limits<double>::infinity(), -2.25};
  if (weighted) data.weights = {0.5, 3.0};
  return data;
}

KeyedSummary sample_summary(bool fronts) {
  KeyedSummary s;
  s.summary.begin = 10;
  s.summary.end = 20;
  s.summary.scored = 7;
  if (fronts) {
    s.summary.first = FrontCandidate{11, kNaNWithPayload, make_var_leaf(0)};
    s.summary.lowest = FrontCandidate{19, -0.0, sample_expression()};
  }
  s.summary.top = {{12, 0.25}, {15, kNaNWithPayload}};
  s.top_keys = {"", "9-8"};
  return s;
}

BeamPlan sample_plan() {
  BeamPlan plan;
  plan.top = {4, 1, 99};
  plan.quota = 5;
  plan.counts = {{"", 2}, {"7-12", -3}, {"12", std::numeric_limits<std::int32_t>::min()}};
  return plan;
}

Completion sample_completion() {
  Completion c;
  c.rest = {{3, 1.0, 2}, {8, kNaNWithPayload, std::numeric_limits<std::int32_t>::max()}};
  c.expressions = {{3, make_param_leaf()}, {8, sample_expression()}};
  return c;
}

// A value unlike `v` of the same type, for every type in the field list.
std::uint64_t other(std::uint64_t v) { return v + 7; }
double other(double v) { return v == 0.25 ? 0.5 : 0.25; }
bool other(bool v) { return !v; }
std::string other(const std::string& v) { return v + "x"; }
template <class T>
std::optional<T> other(const std::optional<T>& v) {
  if (v) return std::nullopt;
  return other(T{});
}

// Decodes `message` as `kind` and encodes the result again.
struct Kind {
  MessageKind kind;
  std::function<std::string(std::string_view)> reencode;
};

const std::vector<Kind> kKinds = {
    {MessageKind::Data, [](std::string_view m) { return encode(decode_data(m)); }},
    {MessageKind::Config, [](std::string_view m) { return encode(decode_config(m)); }},
    {MessageKind::Expressions, [](std::string_view m) { return encode(decode_expressions(m)); }},
    {MessageKind::Summary, [](std::string_view m) { return encode(decode_summary(m)); }},
    {MessageKind::Plan, [](std::string_view m) { return encode(decode_plan(m)); }},
    {MessageKind::Completion, [](std::string_view m) { return encode(decode_completion(m)); }},
    {MessageKind::CheckpointHeader,
     [](std::string_view m) { return encode(decode_checkpoint_header(m)); }},
    {MessageKind::CheckpointLevel,
     [](std::string_view m) { return encode(decode_level_record(m)); }},
    {MessageKind::CheckpointEnd,
     [](std::string_view m) { return encode(decode_checkpoint_end(m)); }},
};

const Kind& kind_of(MessageKind kind) {
  for (const Kind& k : kKinds)
    if (k.kind == kind) return k;
  throw std::logic_error("no such kind");
}

LevelRecord sample_record() {
  LevelRecord r;
  r.level = 3;
  r.end = AfterLevel::Callback;
  r.retained = {sample_expression(), make_var_leaf(1)};
  r.pairs = {{kNaNWithPayload, make_param_leaf()}};
  r.front = {{0.5, make_var_leaf(0)}, {-0.0, sample_expression()}};
  r.report = {3, 40, 2, 0.125, 0.5, "x0"};
  return r;
}

LevelRecord first_record() {
  LevelRecord r;
  r.level = 1;
  r.report.level = 1;
  return r;
}

struct Sample {
  MessageKind kind;
  std::string message;
};

std::vector<Sample> samples() {
  SearchConfig changed;
  for_each_config_field(
      [&](const auto& field) { changed.*field.member = other(changed.*field.member); });
  const std::vector<Expression> expressions = {sample_expression(), make_var_leaf(254),
                                               make_param_leaf()};
  return {
      {MessageKind::Data, encode(sample_data(false))},
      {MessageKind::Data, encode(sample_data(true))},
      {MessageKind::Data, encode(SearchData{})},
      {MessageKind::Config, encode(SearchConfig{})},
      {MessageKind::Config, encode(changed)},
      {MessageKind::Expressions, encode(expressions)},
      {MessageKind::Expressions, encode(std::span<const Expression>{})},
      {MessageKind::Summary, encode(sample_summary(true))},
      {MessageKind::Summary, encode(sample_summary(false))},
      {MessageKind::Plan, encode(sample_plan())},
      {MessageKind::Plan, encode(BeamPlan{})},
      {MessageKind::Completion, encode(sample_completion())},
      {MessageKind::Completion, encode(Completion{})},
      {MessageKind::CheckpointHeader, encode(CheckpointHeader{1, "sig", {{"a", "1"}, {"", ""}}})},
      {MessageKind::CheckpointHeader, encode(CheckpointHeader{})},
      {MessageKind::CheckpointLevel, encode(sample_record())},
      {MessageKind::CheckpointLevel, encode(first_record())},
      {MessageKind::CheckpointEnd, encode(CheckpointEnd{4, 0x0123456789abcdef})},
  };
}

std::string payload_of(const std::string& message) { return message.substr(kHeaderBytes); }

// A decoder's only acceptable answers: MalformedMessage, or a value that
// encodes back to exactly `message`. Any other exception fails the test.
void expect_refused_or_exact(const Kind& kind, const std::string& message) {
  try {
    EXPECT_EQ(kind.reencode(message), message);
  } catch (const MalformedMessage&) {
  }
}

TEST(Wire, EveryKindRoundTripsExactly) {
  for (const Sample& s : samples()) EXPECT_EQ(kind_of(s.kind).reencode(s.message), s.message);
}

TEST(Wire, DecodedValuesAreTheEncodedOnes) {
  const SearchData data = decode_data(encode(sample_data(true)));
  EXPECT_EQ(std::bit_cast<std::uint64_t>(data.samples[1][0].re),
            std::bit_cast<std::uint64_t>(kNaNWithPayload));
  EXPECT_TRUE(std::signbit(data.samples[0][1].re));
  EXPECT_EQ(data.weights, (std::vector<double>{0.5, 3.0}));

  const std::vector<Expression> e = decode_expressions(encode(std::vector{sample_expression()}));
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].formula, sample_expression().formula);
  EXPECT_EQ(e[0].var_count, 3);
  EXPECT_EQ(e[0].param_count, 2);

  const BeamPlan plan = decode_plan(encode(sample_plan()));
  EXPECT_EQ(plan.counts, sample_plan().counts);
  EXPECT_EQ(plan.top, sample_plan().top);
}

// Each field of the list travels on its own: changing it changes the
// message, and the decoder gives it back.
TEST(Wire, EveryConfigFieldTravels) {
  const std::string defaults = encode(SearchConfig{});
  for_each_config_field([&](const auto& field) {
    SearchConfig changed;
    changed.*field.member = other(changed.*field.member);
    const std::string message = encode(changed);
    EXPECT_NE(message, defaults) << field.setting;
    EXPECT_EQ(decode_config(message).*field.member, changed.*field.member) << field.setting;
  });
}

TEST(Wire, EqualPlansAreEqualMessages) {
  BeamPlan a = sample_plan();
  BeamPlan b;
  b.top = a.top;
  b.quota = a.quota;
  for (int i = 0; i < 50; ++i) b.counts["k" + std::to_string(49 - i)] = i;
  for (int i = 0; i < 50; ++i) a.counts["k" + std::to_string(i)] = 49 - i;
  for (const auto& entry : sample_plan().counts) b.counts.insert(entry);
  EXPECT_EQ(encode(a), encode(b));
}

TEST(Wire, AMessageOfAnotherKindIsRefused) {
  for (const Sample& s : samples()) {
    for (const Kind& k : kKinds) {
      if (k.kind == s.kind) continue;
      EXPECT_THROW(k.reencode(s.message), MalformedMessage);
    }
  }
  try {
    decode_summary(encode(sample_plan()));
    ADD_FAILURE() << "a plan decoded as a summary";
  } catch (const MalformedMessage& e) {
    EXPECT_STREQ(e.what(),
                 "malformed message in a distributed search: a plan message where a summary "
                 "message was expected");
  }
}

TEST(Wire, AMessageOfAnotherVersionIsRefused) {
  for (const Sample& s : samples()) {
    for (const std::uint32_t version : {0u, kFormatVersion - 1, kFormatVersion + 1, 0xFFFFFFFFu}) {
      std::string message = s.message;
      for (int i = 0; i < 4; ++i) message[4 + i] = static_cast<char>((version >> (8 * i)) & 0xFF);
      try {
        kind_of(s.kind).reencode(message);
        ADD_FAILURE() << "version " << version << " decoded";
      } catch (const MalformedMessage& e) {
        EXPECT_EQ(std::string(e.what()),
                  "malformed message in a distributed search: format version " +
                      std::to_string(version) + ", this build reads version " +
                      std::to_string(kFormatVersion));
      }
    }
  }
}

TEST(Wire, ForeignBytesAreRefused) {
  const std::vector<std::string> foreign = {"",
                                            "TOVW",
                                            "\x80\x04\x95",
                                            std::string(100, '\0'),
                                            "TOVX" + payload_of(encode(sample_data(true))),
                                            seal(MessageKind{0}, ""),
                                            seal(MessageKind{7}, "x")};
  for (const std::string& message : foreign)
    for (const Kind& k : kKinds) EXPECT_THROW(k.reencode(message), MalformedMessage);
}

// Every proper prefix, and the message with bytes added, fails the header.
TEST(Wire, TruncatedOrExtendedMessagesAreRefused) {
  for (const Sample& s : samples()) {
    const Kind& kind = kind_of(s.kind);
    for (std::size_t size = 0; size < s.message.size(); ++size)
      EXPECT_THROW(kind.reencode(s.message.substr(0, size)), MalformedMessage) << size;
    EXPECT_THROW(kind.reencode(s.message + '\0'), MalformedMessage);
  }
}

// Changed bytes anywhere fail the header or the checksum.
TEST(Wire, DamagedMessagesAreRefused) {
  std::mt19937_64 rng(2024);
  for (const Sample& s : samples()) {
    const Kind& kind = kind_of(s.kind);
    for (int trial = 0; trial < 300; ++trial) {
      std::string message = s.message;
      const int changes = 1 + static_cast<int>(rng() % 4);
      for (int c = 0; c < changes; ++c)
        message[rng() % message.size()] ^= static_cast<char>(1 + rng() % 255);
      if (message == s.message) continue;
      EXPECT_THROW(kind.reencode(message), MalformedMessage);
    }
  }
}

// Damaged payloads under a valid header exercise the content checks: they
// are refused or decode to exactly what they say.
TEST(Wire, ResealedDamagedPayloadsAreRefusedOrExact) {
  std::mt19937_64 rng(7);
  for (const Sample& s : samples()) {
    const Kind& kind = kind_of(s.kind);
    const std::string payload = payload_of(s.message);
    for (int trial = 0; trial < 3000; ++trial) {
      std::string damaged = payload;
      switch (rng() % 4) {
        case 0:  // bytes changed
          for (int c = 1 + static_cast<int>(rng() % 3); c > 0 && !damaged.empty(); --c)
            damaged[rng() % damaged.size()] = static_cast<char>(rng());
          break;
        case 1:  // one byte set to a small value, as in lengths, flags and kinds
          if (!damaged.empty()) damaged[rng() % damaged.size()] = static_cast<char>(rng() % 4);
          break;
        case 2:  // cut short
          damaged.resize(damaged.empty() ? 0 : rng() % damaged.size());
          break;
        default:  // bytes inserted
          damaged.insert(damaged.empty() ? 0 : rng() % damaged.size(), 1 + rng() % 9,
                         static_cast<char>(rng()));
          break;
      }
      expect_refused_or_exact(kind, seal(s.kind, damaged));
    }
  }
}

TEST(Wire, RandomPayloadsAreRefusedOrExact) {
  std::mt19937_64 rng(99);
  for (const Kind& kind : kKinds) {
    for (int trial = 0; trial < 2000; ++trial) {
      std::string payload(rng() % 64, '\0');
      // Mostly small bytes, so lengths and flags are often plausible.
      for (char& c : payload) c = static_cast<char>(rng() % 3 == 0 ? rng() : rng() % 3);
      expect_refused_or_exact(kind, seal(kind.kind, payload));
    }
  }
}

// An expression the construction rules cannot build is refused, whatever
// its other fields say.
TEST(Wire, MalformedExpressionsAreRefused) {
  // Plus(Exp(v_{2}), Times(C, C)): Var, Exp, Param 0, Param 1, Times, Plus.
  const Expression good = sample_expression();
  // `good` with other tokens and the complexity they give.
  const auto tokens = [&](const std::function<void(std::vector<Token>&)>& change) {
    Expression e = good;
    change(e.tokens);
    e.complexity = e.tokens.size();
    return e;
  };
  const auto counts = [&](std::size_t complexity, std::uint8_t vars, std::uint8_t params) {
    Expression e = good;
    e.complexity = complexity;
    e.var_count = vars;
    e.param_count = params;
    return e;
  };
  const std::vector<std::pair<const char*, Expression>> cases = {
      {"no tokens", counts(0, 0, 0)},
      {"two leaves", tokens([](auto& t) { t.pop_back(); })},
      {"operator without operands", tokens([](auto& t) { t.insert(t.begin() + 1, t.back()); })},
      {"unknown kind", tokens([](auto& t) { t[0].kind = TokenKind{5}; })},
      {"unknown operator", tokens([](auto& t) { t.back().op_id = op_id::kBuiltinCount; })},
      {"constant as operator", tokens([](auto& t) { t[1].op_id = op_id::kPi; })},
      {"wrong arity", tokens([](auto& t) { t.back().arity = 1; })},
      {"operator as constant", tokens([](auto& t) {
         t[2] = Token::make_const(op_id::kExp, {});
         t[3].index = 0;
       })},
      {"variable out of range", tokens([](auto& t) { t[0].index = 255; })},
      {"parameter out of range", tokens([](auto& t) { t[3].index = 2; })},
      {"complexity", counts(7, 3, 2)},
      {"var_count", counts(6, 2, 2)},
      {"param_count", counts(6, 3, 3)},
  };
  EXPECT_EQ(good.tokens.size(), 6u);
  EXPECT_EQ(good.var_count, 3);
  EXPECT_EQ(good.param_count, 2);
  ASSERT_NO_THROW(decode_expressions(encode(std::vector{good})));
  for (const auto& [name, e] : cases) {
    EXPECT_THROW(decode_expressions(encode(std::vector{good, e})), MalformedMessage) << name;
    Completion c;
    c.expressions[0] = e;
    EXPECT_THROW(decode_completion(encode(c)), MalformedMessage) << name;
  }
}

TEST(Wire, InconsistentContentIsRefused) {
  SearchData rows_without_targets = sample_data(false);
  rows_without_targets.targets.pop_back();
  SearchData weights_short = sample_data(true);
  weights_short.weights.pop_back();
  SearchData too_many_variables = sample_data(false);
  too_many_variables.variables = kMaxVariables + 1;
  for (const SearchData& data : {rows_without_targets, weights_short, too_many_variables})
    EXPECT_THROW(decode_data(encode(data)), MalformedMessage);

  KeyedSummary reversed = sample_summary(false);
  reversed.summary.end = 5;
  reversed.summary.top.clear();
  reversed.top_keys.clear();
  KeyedSummary outside = sample_summary(false);
  outside.summary.top[1].index = 20;
  KeyedSummary front_outside = sample_summary(true);
  front_outside.summary.first->index = 9;
  for (const KeyedSummary& s : {reversed, outside, front_outside})
    EXPECT_THROW(decode_summary(encode(s)), MalformedMessage);
}

}  // namespace
}  // namespace tov::wire
