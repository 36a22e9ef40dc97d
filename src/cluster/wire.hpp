// Compact binary messages between the client and the workers of a
// distributed search: the data and settings (sent once), the retained
// expressions of each level, shard summaries, beam plans and the second
// round's answers; and the messages a checkpoint file is made of (its
// header, one record per completed level, its closing message). Doubles travel as their exact bits,
// so nothing is rounded on the way.
//
// Every message is a header, then its payload (integers little-endian):
//   mark "TOVW"        4 bytes
//   format version     u32, kFormatVersion
//   kind               u8, a MessageKind
//   payload length     u64
//   payload checksum   u64, 64-bit FNV-1a of the payload
// Peers must run the same format version. A message that is not exactly
// what an encoder of this version writes for the expected kind (truncated,
// damaged, of another version or kind, or not a message at all) is refused
// with MalformedMessage; decoding never reads outside the message and
// allocates at most a small multiple of its size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "config/search_config.hpp"
#include "fit/search_data.hpp"
#include "formula/expression.hpp"
#include "search/beam.hpp"
#include "search/level_log.hpp"
#include "search/search_engine.hpp"

namespace tov::wire {

inline constexpr std::uint32_t kFormatVersion = 3;
inline constexpr std::size_t kHeaderBytes = 4 + 4 + 1 + 8 + 8;

enum class MessageKind : std::uint8_t {
  Data = 1,
  Config = 2,
  Expressions = 3,
  Summary = 4,
  Plan = 5,
  Completion = 6,
  CheckpointHeader = 7,
  CheckpointLevel = 8,
  CheckpointEnd = 9,
};

// What every decoder throws for a message it refuses; what() begins with
// "malformed message in a distributed search: " and says why.
class MalformedMessage : public std::runtime_error {
 public:
  explicit MalformedMessage(const std::string& reason);
  // Why, without the prefix.
  const std::string& reason() const { return reason_; }

 private:
  std::string reason_;
};

// A message of another format version.
class VersionMismatch : public MalformedMessage {
 public:
  using MalformedMessage::MalformedMessage;
};

// The 64-bit FNV-1a digest the checksums use.
std::uint64_t digest(std::string_view bytes);

// The length of the message at the start of `bytes`, header included, as
// its header says; MalformedMessage when `bytes` do not begin with a
// complete header of this format.
std::size_t message_size(std::string_view bytes);
// The kind its header gives the message at the start of `bytes` (checked as
// message_size checks it); a kind this build may not know.
std::uint8_t message_kind(std::string_view bytes);

// The message of `kind` carrying `payload`: the header the encoders put
// before what they write.
std::string seal(MessageKind kind, std::string_view payload);

std::string encode(const SearchData& data);
SearchData decode_data(std::string_view message);

// The settings of the configuration's field list.
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

// What a checkpoint file belongs to, in its first message: its layout
// version, the math signature of the process that wrote it, and named
// digests of the data and settings, compared one by one on resume.
struct CheckpointHeader {
  std::uint64_t layout = 0;
  std::string math_signature;
  std::vector<std::pair<std::string, std::string>> identity;
};
std::string encode(const CheckpointHeader& header);
CheckpointHeader decode_checkpoint_header(std::string_view message);

// One completed level of a checkpoint.
std::string encode(const LevelRecord& record);
LevelRecord decode_level_record(std::string_view message);

// A checkpoint's last message: the number of level records before it and
// the digest of every byte before it, so that a file cut short anywhere,
// even between two messages, is known to be.
struct CheckpointEnd {
  std::uint64_t levels = 0;
  std::uint64_t digest = 0;
};
std::string encode(const CheckpointEnd& end);
CheckpointEnd decode_checkpoint_end(std::string_view message);

}  // namespace tov::wire
