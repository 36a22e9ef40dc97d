// Encoding and decoding of the distributed search's messages: the header,
// then little-endian fixed-width integers, doubles by their bits,
// length-prefixed texts and sequences. Decoding accepts exactly what the
// encoders write: flags are 0 or 1, sequences fit in the bytes left, keys
// ascend, and every expression is one well-formed postfix expression of
// builtin operators whose counts agree with its tokens.
#include "cluster/wire.hpp"

#include <algorithm>
#include <bit>
#include <limits>
#include <optional>
#include <utility>

#include "config/config_fields.hpp"
#include "numeric/decimal.hpp"
#include "ops/registry.hpp"

namespace tov::wire {

namespace {

constexpr std::string_view kMark = "TOVW";

// Encoded sizes, and the fewest bytes an element of each sequence takes:
// a sequence's length is checked against them before anything is allocated.
constexpr std::size_t kU8Bytes = 1;
constexpr std::size_t kU32Bytes = 4;
constexpr std::size_t kU64Bytes = 8;
constexpr std::size_t kF64Bytes = 8;
constexpr std::size_t kComplexBytes = 2 * kF64Bytes;
constexpr std::size_t kMinTextBytes = kU64Bytes;  // the length of an empty text
// kind, arity, index, op id, value
constexpr std::size_t kTokenBytes = 3 * kU8Bytes + kU64Bytes + kComplexBytes;
// formula, complexity, var and param counts, token count (no tokens)
constexpr std::size_t kMinExpressionBytes = kMinTextBytes + kU64Bytes + 2 * kU8Bytes + kU64Bytes;
constexpr std::size_t kMinRowBytes = kU64Bytes;                     // an empty row's length
constexpr std::size_t kRankedBytes = kU64Bytes + kF64Bytes;         // index, score
constexpr std::size_t kRankedRestBytes = kRankedBytes + kU64Bytes;  // and the count
constexpr std::size_t kMinCountBytes = kMinTextBytes + kU64Bytes;   // key, count
constexpr std::size_t kMinIndexedExpressionBytes = kU64Bytes + kMinExpressionBytes;

static_assert(kHeaderBytes == kMark.size() + kU32Bytes + kU8Bytes + 2 * kU64Bytes);

// The step of 64-bit FNV-1a (Fowler, Noll and Vo; public domain) applied
// to the payload's 64-bit little-endian words, then to its last bytes one
// at a time. Every step is a bijection of the state, so a payload that
// differs in one word always fails the check.
std::uint64_t little_endian(std::string_view bytes) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i)
    v |= std::uint64_t{static_cast<unsigned char>(bytes[i])} << (8 * i);
  return v;
}

std::uint64_t checksum(std::string_view bytes) {
  constexpr std::uint64_t kPrime = 0x100000001b3;
  std::uint64_t hash = 0xcbf29ce484222325;
  std::size_t at = 0;
  for (; bytes.size() - at >= kU64Bytes; at += kU64Bytes)
    hash = (hash ^ little_endian(bytes.substr(at, kU64Bytes))) * kPrime;
  for (; at < bytes.size(); ++at) hash = (hash ^ static_cast<unsigned char>(bytes[at])) * kPrime;
  return hash;
}

// Fills the first kHeaderBytes of `message` for the payload after them.
void write_header(std::string& message, MessageKind kind) {
  const std::string_view payload = std::string_view(message).substr(kHeaderBytes);
  std::size_t at = 0;
  const auto put = [&](std::uint64_t v, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i)
      message[at++] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  for (const char c : kMark) put(static_cast<unsigned char>(c), 1);
  put(kFormatVersion, kU32Bytes);
  put(static_cast<std::uint8_t>(kind), kU8Bytes);
  put(payload.size(), kU64Bytes);
  put(checksum(payload), kU64Bytes);
}

std::string_view kind_name(MessageKind kind) {
  switch (kind) {
    case MessageKind::Data:
      return "data";
    case MessageKind::Config:
      return "settings";
    case MessageKind::Expressions:
      return "expressions";
    case MessageKind::Summary:
      return "summary";
    case MessageKind::Plan:
      return "plan";
    case MessageKind::Completion:
      return "completion";
    case MessageKind::CheckpointHeader:
      return "checkpoint header";
    case MessageKind::CheckpointLevel:
      return "checkpoint level";
    case MessageKind::CheckpointEnd:
      return "checkpoint end";
  }
  return "unknown";
}

bool known_kind(std::uint8_t tag) {
  return tag >= static_cast<std::uint8_t>(MessageKind::Data) &&
         tag <= static_cast<std::uint8_t>(MessageKind::CheckpointEnd);
}

[[noreturn]] void refuse(const std::string& reason) { throw MalformedMessage(reason); }

// Writes a payload after room for its header.
class Writer {
 public:
  Writer() : bytes_(kHeaderBytes, '\0') {}

  void u64(std::uint64_t v) {
    for (std::size_t i = 0; i < kU64Bytes; ++i)
      bytes_.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  }
  void u8(std::uint8_t v) { bytes_.push_back(static_cast<char>(v)); }
  void i32(std::int32_t v) { u64(static_cast<std::uint64_t>(static_cast<std::int64_t>(v))); }
  void text(std::string_view s) {
    u64(s.size());
    bytes_.append(s);
  }

  // The field types of the configuration's field list.
  void put(std::uint64_t v) { u64(v); }
  void put(double v) { u64(std::bit_cast<std::uint64_t>(v)); }
  void put(bool v) { u8(v ? 1 : 0); }
  void put(const std::string& v) { text(v); }
  template <class T>
  void put(const std::optional<T>& v) {
    put(v.has_value());
    if (v) put(*v);
  }

  void put(const Complex& v) {
    put(v.re);
    put(v.im);
  }
  void put(const Expression& e) {
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
      put(t.value);
    }
  }

  std::string seal(MessageKind kind) {
    write_header(bytes_, kind);
    return std::move(bytes_);
  }

 private:
  std::string bytes_;
};

class Reader {
 public:
  // Checks the header of a message expected to be of `kind`; reading then
  // starts at the payload.
  Reader(std::string_view message, MessageKind kind) {
    if (message.size() < kHeaderBytes || message.substr(0, kMark.size()) != kMark)
      refuse("not a message of this format");
    bytes_ = message;
    at_ = kMark.size();
    const std::uint64_t version = little_endian(bytes_.substr(at_, kU32Bytes));
    at_ += kU32Bytes;
    if (version != kFormatVersion) {
      throw VersionMismatch("format version " + decimal(version) + ", this build reads version " +
                            decimal(kFormatVersion));
    }
    const std::uint8_t tag = u8();
    if (tag != static_cast<std::uint8_t>(kind)) {
      const std::string found = known_kind(tag)
                                    ? std::string(kind_name(MessageKind{tag})) + " message"
                                    : "message of unknown kind " + decimal(tag);
      refuse("a " + found + " where a " + std::string(kind_name(kind)) + " message was expected");
    }
    const std::uint64_t length = u64();
    const std::uint64_t sum = u64();
    if (length != bytes_.size() - at_) {
      refuse("the payload has " + decimal(bytes_.size() - at_) + " bytes, its header says " +
             decimal(length));
    }
    if (sum != checksum(bytes_.substr(at_))) refuse("the payload does not match its checksum");
  }

  std::uint64_t u64() {
    need(kU64Bytes);
    const std::uint64_t v = little_endian(bytes_.substr(at_, kU64Bytes));
    at_ += kU64Bytes;
    return v;
  }
  std::uint8_t u8() {
    need(kU8Bytes);
    return static_cast<std::uint8_t>(bytes_[at_++]);
  }
  std::int32_t i32() {
    const auto v = static_cast<std::int64_t>(u64());
    if (v < std::numeric_limits<std::int32_t>::min() ||
        v > std::numeric_limits<std::int32_t>::max())
      refuse("a count out of range");
    return static_cast<std::int32_t>(v);
  }
  std::string text() {
    const std::uint64_t n = count(1);
    std::string s(bytes_.substr(at_, n));
    at_ += n;
    return s;
  }
  // A sequence length, checked against the bytes left: each element takes
  // at least `element_bytes`.
  std::uint64_t count(std::size_t element_bytes) {
    const std::uint64_t n = u64();
    if (n > (bytes_.size() - at_) / element_bytes) refuse("a sequence longer than the message");
    return n;
  }

  void get(std::uint64_t& v) { v = u64(); }
  void get(double& v) { v = std::bit_cast<double>(u64()); }
  void get(bool& v) {
    const std::uint8_t byte = u8();
    if (byte > 1) refuse("a flag byte of " + decimal(byte));
    v = byte == 1;
  }
  void get(std::string& v) { v = text(); }
  template <class T>
  void get(std::optional<T>& v) {
    bool present = false;
    get(present);
    v.reset();
    if (!present) return;
    T value{};
    get(value);
    v = value;
  }
  void get(Complex& v) {
    get(v.re);
    get(v.im);
  }
  void get(Expression& e);

  void finish() const {
    if (at_ != bytes_.size()) refuse(decimal(bytes_.size() - at_) + " bytes after the content");
  }

 private:
  void need(std::size_t n) const {
    if (bytes_.size() - at_ < n) refuse("the content ends early");
  }

  std::string_view bytes_;
  std::size_t at_ = 0;
};

// Refuses an expression that the construction rules cannot have built: the
// tokens must form one postfix expression (so every operator finds its
// operands), operators must be builtins of their arity, and complexity,
// var_count and param_count must be what the tokens say.
void check(const Expression& e) {
  std::size_t depth = 0;
  std::size_t var_count = 0;
  std::size_t params = 0;
  for (const Token& t : e.tokens) {
    switch (t.kind) {
      case TokenKind::Const:
        if (t.op_id >= op_id::kFirstBuiltin) refuse("a constant that is not one");
        ++depth;
        break;
      case TokenKind::Real:
        ++depth;
        break;
      case TokenKind::Var:
        if (t.index >= kMaxVariables) refuse("a variable index out of range");
        var_count = std::max<std::size_t>(var_count, t.index + 1u);
        ++depth;
        break;
      case TokenKind::Param:
        if (t.index >= e.param_count) refuse("a parameter index out of range");
        ++params;
        ++depth;
        break;
      case TokenKind::Op: {
        const BuiltinInfo* op = find_builtin(t.op_id);
        if (op == nullptr || op->arity == 0 || op->arity != t.arity) refuse("an unknown operator");
        if (depth < t.arity) refuse("an operator without its operands");
        depth -= t.arity - 1u;
        break;
      }
    }
  }
  if (depth != 1) refuse("tokens that do not form one expression");
  if (e.complexity != e.tokens.size() || e.var_count != var_count || e.param_count != params)
    refuse("an expression whose counts disagree with its tokens");
}

void Reader::get(Expression& e) {
  e.formula = text();
  e.complexity = u64();
  e.var_count = u8();
  e.param_count = u8();
  e.tokens.resize(count(kTokenBytes));
  for (Token& t : e.tokens) {
    const std::uint8_t kind = u8();
    if (kind > static_cast<std::uint8_t>(TokenKind::Op)) refuse("an unknown token kind");
    t.kind = static_cast<TokenKind>(kind);
    t.arity = u8();
    t.index = u8();
    t.op_id = u64();
    get(t.value);
  }
  check(e);
}

void write_ranked(Writer& w, const std::vector<Ranked>& ranked) {
  w.u64(ranked.size());
  for (const Ranked& r : ranked) {
    w.u64(r.index);
    w.put(r.score);
  }
}

std::vector<Ranked> read_ranked(Reader& r) {
  std::vector<Ranked> out(r.count(kRankedBytes));
  for (Ranked& x : out) {
    x.index = r.u64();
    r.get(x.score);
  }
  return out;
}

void write_front(Writer& w, const std::optional<FrontCandidate>& c) {
  w.put(c.has_value());
  if (!c) return;
  w.u64(c->index);
  w.put(c->value);
  w.put(c->expression);
}

std::optional<FrontCandidate> read_front(Reader& r) {
  bool present = false;
  r.get(present);
  if (!present) return std::nullopt;
  FrontCandidate c;
  c.index = r.u64();
  r.get(c.value);
  r.get(c.expression);
  return c;
}

bool in_shard(const ShardSummary& s, std::uint64_t index) {
  return index >= s.begin && index < s.end;
}

}  // namespace

MalformedMessage::MalformedMessage(const std::string& reason)
    : std::runtime_error("malformed message in a distributed search: " + reason), reason_(reason) {}

std::uint64_t digest(std::string_view bytes) { return checksum(bytes); }

std::size_t message_size(std::string_view bytes) {
  if (bytes.size() < kHeaderBytes || bytes.substr(0, kMark.size()) != kMark)
    refuse("not a message of this format");
  const std::uint64_t length =
      little_endian(bytes.substr(kMark.size() + kU32Bytes + kU8Bytes, kU64Bytes));
  if (length > std::numeric_limits<std::size_t>::max() - kHeaderBytes)
    refuse("a payload longer than any message");
  return kHeaderBytes + static_cast<std::size_t>(length);
}

std::uint8_t message_kind(std::string_view bytes) {
  static_cast<void>(message_size(bytes));
  return static_cast<std::uint8_t>(bytes[kMark.size() + kU32Bytes]);
}

std::string seal(MessageKind kind, std::string_view payload) {
  std::string message(kHeaderBytes, '\0');
  message.append(payload);
  write_header(message, kind);
  return message;
}

std::string encode(const SearchData& data) {
  Writer w;
  w.u64(data.variables);
  w.u64(data.samples.size());
  for (const auto& row : data.samples) {
    w.u64(row.size());
    for (const Complex& v : row) w.put(v);
  }
  w.u64(data.targets.size());
  for (const double y : data.targets) w.put(y);
  w.u64(data.weights.size());
  for (const double x : data.weights) w.put(x);
  return w.seal(MessageKind::Data);
}

SearchData decode_data(std::string_view message) {
  Reader r(message, MessageKind::Data);
  SearchData data;
  data.variables = r.u64();
  if (data.variables > kMaxVariables) refuse("more variables than a search supports");
  data.samples.resize(r.count(kMinRowBytes));
  for (auto& row : data.samples) {
    row.resize(r.count(kComplexBytes));
    for (Complex& v : row) r.get(v);
  }
  data.targets.resize(r.count(kF64Bytes));
  for (double& y : data.targets) r.get(y);
  data.weights.resize(r.count(kF64Bytes));
  for (double& x : data.weights) r.get(x);
  r.finish();
  if (data.targets.size() != data.samples.size() ||
      (!data.weights.empty() && data.weights.size() != data.targets.size()))
    refuse("data whose rows, targets and weights disagree in number");
  return data;
}

std::string encode(const SearchConfig& c) {
  Writer w;
  for_each_config_field([&](const auto& field) { w.put(c.*field.member); });
  return w.seal(MessageKind::Config);
}

SearchConfig decode_config(std::string_view message) {
  Reader r(message, MessageKind::Config);
  SearchConfig c;
  for_each_config_field([&](const auto& field) { r.get(c.*field.member); });
  r.finish();
  return c;
}

std::string encode(std::span<const Expression> expressions) {
  Writer w;
  w.u64(expressions.size());
  for (const Expression& e : expressions) w.put(e);
  return w.seal(MessageKind::Expressions);
}

std::vector<Expression> decode_expressions(std::string_view message) {
  Reader r(message, MessageKind::Expressions);
  std::vector<Expression> out(r.count(kMinExpressionBytes));
  for (Expression& e : out) r.get(e);
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
  return w.seal(MessageKind::Summary);
}

KeyedSummary decode_summary(std::string_view message) {
  Reader r(message, MessageKind::Summary);
  KeyedSummary s;
  s.summary.begin = r.u64();
  s.summary.end = r.u64();
  s.summary.scored = r.u64();
  s.summary.first = read_front(r);
  s.summary.lowest = read_front(r);
  s.summary.top = read_ranked(r);
  s.top_keys.reserve(s.summary.top.size());
  for (std::size_t i = 0; i < s.summary.top.size(); ++i) s.top_keys.push_back(r.text());
  r.finish();
  const ShardSummary& summary = s.summary;
  if (summary.begin > summary.end) refuse("a shard that ends before it begins");
  const bool inside = (!summary.first || in_shard(summary, summary.first->index)) &&
                      (!summary.lowest || in_shard(summary, summary.lowest->index)) &&
                      std::all_of(summary.top.begin(), summary.top.end(),
                                  [&](const Ranked& x) { return in_shard(summary, x.index); });
  if (!inside) refuse("a candidate outside its shard");
  return s;
}

std::string encode(const BeamPlan& plan) {
  Writer w;
  w.u64(plan.top.size());
  for (const std::uint64_t i : plan.top) w.u64(i);
  w.u64(plan.quota);
  // In key order, so that equal plans are equal messages.
  std::vector<std::pair<std::string_view, std::int32_t>> counts(plan.counts.begin(),
                                                                plan.counts.end());
  std::sort(counts.begin(), counts.end());
  w.u64(counts.size());
  for (const auto& [key, count] : counts) {
    w.text(key);
    w.i32(count);
  }
  return w.seal(MessageKind::Plan);
}

BeamPlan decode_plan(std::string_view message) {
  Reader r(message, MessageKind::Plan);
  BeamPlan plan;
  plan.top.resize(r.count(kU64Bytes));
  for (std::uint64_t& i : plan.top) i = r.u64();
  plan.quota = r.u64();
  const std::uint64_t n = r.count(kMinCountBytes);
  std::string previous;
  for (std::uint64_t i = 0; i < n; ++i) {
    std::string key = r.text();
    if (i > 0 && !(previous < key)) refuse("skeleton counts out of key order");
    previous = key;
    plan.counts.emplace(std::move(key), r.i32());
  }
  r.finish();
  return plan;
}

std::string encode(const Completion& c) {
  Writer w;
  w.u64(c.rest.size());
  for (const RankedRest& x : c.rest) {
    w.u64(x.index);
    w.put(x.score);
    w.i32(x.count);
  }
  w.u64(c.expressions.size());
  for (const auto& [index, e] : c.expressions) {
    w.u64(index);
    w.put(e);
  }
  return w.seal(MessageKind::Completion);
}

Completion decode_completion(std::string_view message) {
  Reader r(message, MessageKind::Completion);
  Completion c;
  c.rest.resize(r.count(kRankedRestBytes));
  for (RankedRest& x : c.rest) {
    x.index = r.u64();
    r.get(x.score);
    x.count = r.i32();
  }
  const std::uint64_t n = r.count(kMinIndexedExpressionBytes);
  for (std::uint64_t i = 0; i < n; ++i) {
    const std::uint64_t index = r.u64();
    if (!c.expressions.empty() && c.expressions.rbegin()->first >= index)
      refuse("expressions out of index order");
    r.get(c.expressions[index]);
  }
  r.finish();
  return c;
}

std::string encode(const CheckpointHeader& h) {
  Writer w;
  w.u64(h.layout);
  w.text(h.math_signature);
  w.u64(h.identity.size());
  for (const auto& [name, value] : h.identity) {
    w.text(name);
    w.text(value);
  }
  return w.seal(MessageKind::CheckpointHeader);
}

CheckpointHeader decode_checkpoint_header(std::string_view message) {
  Reader r(message, MessageKind::CheckpointHeader);
  CheckpointHeader h;
  h.layout = r.u64();
  h.math_signature = r.text();
  h.identity.resize(r.count(2 * kMinTextBytes));
  for (auto& [name, value] : h.identity) {
    name = r.text();
    value = r.text();
  }
  r.finish();
  return h;
}

namespace {

void write_entries(Writer& w, const std::vector<FrontEntry>& entries) {
  w.u64(entries.size());
  for (const FrontEntry& e : entries) {
    w.put(e.error);
    w.put(e.expression);
  }
}

std::vector<FrontEntry> read_entries(Reader& r) {
  std::vector<FrontEntry> out(r.count(kF64Bytes + kMinExpressionBytes));
  for (FrontEntry& e : out) {
    r.get(e.error);
    r.get(e.expression);
  }
  return out;
}

}  // namespace

std::string encode(const LevelRecord& record) {
  Writer w;
  w.u64(record.level);
  w.u8(static_cast<std::uint8_t>(record.end));
  w.u64(record.retained.size());
  for (const Expression& e : record.retained) w.put(e);
  write_entries(w, record.pairs);
  write_entries(w, record.front);
  const LevelReport& report = record.report;
  w.u64(report.level);
  w.u64(report.candidates);
  w.u64(report.retained);
  w.put(report.seconds);
  w.put(report.best_error);
  w.text(report.best_formula);
  return w.seal(MessageKind::CheckpointLevel);
}

LevelRecord decode_level_record(std::string_view message) {
  Reader r(message, MessageKind::CheckpointLevel);
  LevelRecord record;
  record.level = r.u64();
  const std::uint8_t end = r.u8();
  if (end > static_cast<std::uint8_t>(AfterLevel::Callback)) refuse("an unknown level ending");
  record.end = static_cast<AfterLevel>(end);
  record.retained.resize(r.count(kMinExpressionBytes));
  for (Expression& e : record.retained) r.get(e);
  record.pairs = read_entries(r);
  record.front = read_entries(r);
  LevelReport& report = record.report;
  report.level = r.u64();
  report.candidates = r.u64();
  report.retained = r.u64();
  r.get(report.seconds);
  r.get(report.best_error);
  report.best_formula = r.text();
  r.finish();
  if (record.level == 0 || report.level != record.level) refuse("a level record of no level");
  return record;
}

std::string encode(const CheckpointEnd& end) {
  Writer w;
  w.u64(end.levels);
  w.u64(end.digest);
  return w.seal(MessageKind::CheckpointEnd);
}

CheckpointEnd decode_checkpoint_end(std::string_view message) {
  Reader r(message, MessageKind::CheckpointEnd);
  CheckpointEnd end;
  end.levels = r.u64();
  end.digest = r.u64();
  r.finish();
  return end;
}

}  // namespace tov::wire
