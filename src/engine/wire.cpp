// Encoding and decoding of the distributed search's messages: little-endian
// fixed-width integers, doubles by their bits, length-prefixed texts and
// sequences.
#include "engine/wire.hpp"

#include <bit>
#include <cstring>
#include <stdexcept>

namespace tov::wire {

namespace {

class Writer {
 public:
  void u64(std::uint64_t v) {
    for (int i = 0; i < 8; ++i) bytes_.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  }
  void u8(std::uint8_t v) { bytes_.push_back(static_cast<char>(v)); }
  void f64(double v) { u64(std::bit_cast<std::uint64_t>(v)); }
  void text(std::string_view s) {
    u64(s.size());
    bytes_.append(s);
  }
  void optional_f64(const std::optional<double>& v) {
    u8(v.has_value());
    if (v) f64(*v);
  }
  void expression(const Expression& e) {
    text(e.formula);
    u64(e.complexity);
    u8(e.var_count);
    u8(e.param_count);
    u64(e.tokens.size());
    for (const Token& t : e.tokens) {
      u8(static_cast<std::uint8_t>(t.kind));
      u8(t.arity);
      u8(t.index);
      u64(t.op_id);
      f64(t.value.re);
      f64(t.value.im);
    }
  }
  std::string take() { return std::move(bytes_); }

 private:
  std::string bytes_;
};

class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  std::uint64_t u64() {
    need(8);
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
      v |= std::uint64_t{static_cast<unsigned char>(bytes_[at_ + i])} << (8 * i);
    at_ += 8;
    return v;
  }
  std::uint8_t u8() {
    need(1);
    return static_cast<std::uint8_t>(bytes_[at_++]);
  }
  double f64() { return std::bit_cast<double>(u64()); }
  std::string text() {
    const std::uint64_t n = count(1);
    std::string s(bytes_.substr(at_, n));
    at_ += n;
    return s;
  }
  std::optional<double> optional_f64() {
    if (u8() == 0) return std::nullopt;
    return f64();
  }
  // A sequence length, checked against the bytes left (each element takes
  // at least `element_size` bytes).
  std::uint64_t count(std::uint64_t element_size) {
    const std::uint64_t n = u64();
    if (n > (bytes_.size() - at_) / element_size) fail();
    return n;
  }
  Expression expression() {
    Expression e;
    e.formula = text();
    e.complexity = u64();
    e.var_count = u8();
    e.param_count = u8();
    const std::uint64_t n = count(27);
    e.tokens.reserve(n);
    for (std::uint64_t i = 0; i < n; ++i) {
      Token t;
      const std::uint8_t kind = u8();
      if (kind > static_cast<std::uint8_t>(TokenKind::Op)) fail();
      t.kind = static_cast<TokenKind>(kind);
      t.arity = u8();
      t.index = u8();
      t.op_id = u64();
      t.value.re = f64();
      t.value.im = f64();
      e.tokens.push_back(t);
    }
    return e;
  }
  void finish() const {
    if (at_ != bytes_.size()) fail();
  }

 private:
  void need(std::size_t n) const {
    if (bytes_.size() - at_ < n) fail();
  }
  [[noreturn]] static void fail() {
    throw std::runtime_error("malformed message in a distributed search");
  }

  std::string_view bytes_;
  std::size_t at_ = 0;
};

void write_ranked(Writer& w, const std::vector<Ranked>& ranked) {
  w.u64(ranked.size());
  for (const Ranked& r : ranked) {
    w.u64(r.index);
    w.f64(r.score);
  }
}

std::vector<Ranked> read_ranked(Reader& r) {
  std::vector<Ranked> out(r.count(16));
  for (Ranked& x : out) {
    x.index = r.u64();
    x.score = r.f64();
  }
  return out;
}

void write_front(Writer& w, const std::optional<FrontCandidate>& c) {
  w.u8(c.has_value());
  if (!c) return;
  w.u64(c->index);
  w.f64(c->value);
  w.expression(c->expression);
}

std::optional<FrontCandidate> read_front(Reader& r) {
  if (r.u8() == 0) return std::nullopt;
  FrontCandidate c;
  c.index = r.u64();
  c.value = r.f64();
  c.expression = r.expression();
  return c;
}

}  // namespace

std::string encode(const SearchData& data) {
  Writer w;
  w.u64(data.variables);
  w.u64(data.samples.size());
  for (const auto& row : data.samples) {
    w.u64(row.size());
    for (const Complex& v : row) {
      w.f64(v.re);
      w.f64(v.im);
    }
  }
  w.u64(data.targets.size());
  for (const double y : data.targets) w.f64(y);
  w.u64(data.weights.size());
  for (const double x : data.weights) w.f64(x);
  return w.take();
}

SearchData decode_data(std::string_view message) {
  Reader r(message);
  SearchData data;
  data.variables = r.u64();
  data.samples.resize(r.count(8));
  for (auto& row : data.samples) {
    row.resize(r.count(16));
    for (Complex& v : row) {
      v.re = r.f64();
      v.im = r.f64();
    }
  }
  data.targets.resize(r.count(8));
  for (double& y : data.targets) y = r.f64();
  data.weights.resize(r.count(8));
  for (double& x : data.weights) x = r.f64();
  r.finish();
  return data;
}

std::string encode(const SearchConfig& c) {
  Writer w;
  w.u64(c.max_complexity);
  w.f64(c.early_exit_tolerance);
  w.u64(c.beam_width);
  w.f64(c.complexity_penalty);
  w.f64(c.alpha);
  w.f64(c.l1_ratio);
  w.u8(c.exhaustive);
  w.u8(c.refine_params);
  w.u64(c.operator_mask);
  w.optional_f64(c.time_limit);
  w.u8(c.verbose);
  w.u8(c.max_search_rows.has_value());
  w.u64(c.max_search_rows.value_or(0));
  w.u8(c.linear_scaling);
  w.optional_f64(c.target_error);
  w.u8(static_cast<std::uint8_t>(c.constants));
  return w.take();
}

SearchConfig decode_config(std::string_view message) {
  Reader r(message);
  SearchConfig c;
  c.max_complexity = r.u64();
  c.early_exit_tolerance = r.f64();
  c.beam_width = r.u64();
  c.complexity_penalty = r.f64();
  c.alpha = r.f64();
  c.l1_ratio = r.f64();
  c.exhaustive = r.u8() != 0;
  c.refine_params = r.u8() != 0;
  c.operator_mask = r.u64();
  c.time_limit = r.optional_f64();
  c.verbose = r.u8() != 0;
  const bool subset = r.u8() != 0;
  const std::uint64_t rows = r.u64();
  if (subset) c.max_search_rows = rows;
  c.linear_scaling = r.u8() != 0;
  c.target_error = r.optional_f64();
  c.constants = r.u8() != 0 ? ConstantLeaves::Named : ConstantLeaves::Free;
  r.finish();
  return c;
}

std::string encode(std::span<const Expression> expressions) {
  Writer w;
  w.u64(expressions.size());
  for (const Expression& e : expressions) w.expression(e);
  return w.take();
}

std::vector<Expression> decode_expressions(std::string_view message) {
  Reader r(message);
  std::vector<Expression> out(r.count(20));
  for (Expression& e : out) e = r.expression();
  r.finish();
  return out;
}

std::string encode(const KeyedSummary& s) {
  Writer w;
  w.u64(s.summary.begin);
  w.u64(s.summary.end);
  w.u64(s.summary.scored);
  write_front(w, s.summary.first);
  write_front(w, s.summary.lowest);
  write_ranked(w, s.summary.top);
  for (const std::string& key : s.top_keys) w.text(key);
  return w.take();
}

KeyedSummary decode_summary(std::string_view message) {
  Reader r(message);
  KeyedSummary s;
  s.summary.begin = r.u64();
  s.summary.end = r.u64();
  s.summary.scored = r.u64();
  s.summary.first = read_front(r);
  s.summary.lowest = read_front(r);
  s.summary.top = read_ranked(r);
  for (std::size_t i = 0; i < s.summary.top.size(); ++i) s.top_keys.push_back(r.text());
  r.finish();
  return s;
}

std::string encode(const BeamPlan& plan) {
  Writer w;
  w.u64(plan.top.size());
  for (const std::uint64_t i : plan.top) w.u64(i);
  w.u64(plan.quota);
  w.u64(plan.counts.size());
  for (const auto& [key, count] : plan.counts) {
    w.text(key);
    w.u64(static_cast<std::uint64_t>(static_cast<std::int64_t>(count)));
  }
  return w.take();
}

BeamPlan decode_plan(std::string_view message) {
  Reader r(message);
  BeamPlan plan;
  plan.top.resize(r.count(8));
  for (std::uint64_t& i : plan.top) i = r.u64();
  plan.quota = r.u64();
  const std::uint64_t n = r.count(16);
  for (std::uint64_t i = 0; i < n; ++i) {
    std::string key = r.text();
    plan.counts[std::move(key)] = static_cast<std::int32_t>(static_cast<std::int64_t>(r.u64()));
  }
  r.finish();
  return plan;
}

std::string encode(const Completion& c) {
  Writer w;
  w.u64(c.rest.size());
  for (const RankedRest& x : c.rest) {
    w.u64(x.index);
    w.f64(x.score);
    w.u64(static_cast<std::uint64_t>(static_cast<std::int64_t>(x.count)));
  }
  w.u64(c.expressions.size());
  for (const auto& [index, e] : c.expressions) {
    w.u64(index);
    w.expression(e);
  }
  return w.take();
}

Completion decode_completion(std::string_view message) {
  Reader r(message);
  Completion c;
  c.rest.resize(r.count(24));
  for (RankedRest& x : c.rest) {
    x.index = r.u64();
    x.score = r.f64();
    x.count = static_cast<std::int32_t>(static_cast<std::int64_t>(r.u64()));
  }
  const std::uint64_t n = r.count(28);
  for (std::uint64_t i = 0; i < n; ++i) {
    const std::uint64_t index = r.u64();
    c.expressions[index] = r.expression();
  }
  r.finish();
  return c;
}

}  // namespace tov::wire
