// The checkpoint file of a search: the levels it completed, so that a
// search cut off with its process continues where it was.
//
// The file is a sequence of messages in the wire's framing (mark, format
// version, kind, payload length, checksum): one header, one record per
// completed level from level 1 on, and a closing message with the number
// of records and the digest of everything before it, so that a file cut
// anywhere (even between messages) is refused. The header names what the file belongs
// to: its layout version, the math signature of the process that wrote it,
// and digests of the data and of every setting that can change a result.
// Each level rewrites the whole file durably: the new content goes to
// "<path>.tmp" in the same directory, is synced, and is renamed over the
// file, so a reader sees the file before or after a level, never a part of
// one. An advisory lock on "<path>.lock" keeps two live searches off one
// path.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "config/search_config.hpp"
#include "result/search_error.hpp"
#include "search/level_log.hpp"

namespace tov {

inline constexpr std::uint64_t kCheckpointLayout = 1;

// Named digests: what a checkpoint belongs to.
using CheckpointIdentity = std::vector<std::pair<std::string, std::string>>;

// The identity of a search of `rows`, `targets` and `weights` with
// `config`: one entry for each of them and for every setting except those
// that change no result (the checkpoint itself, time_limit, verbose).
CheckpointIdentity search_identity(std::span<const std::vector<double>> rows,
                                   std::span<const double> targets, std::span<const double> weights,
                                   const SearchConfig& config);

// The moments of writing a level, in order.
enum class WriteStep : std::uint8_t { BeforeWrite, AfterWrite, AfterSync, AfterRename };

// Called at each moment with the level being written; returning false fails
// the write there as a full disk would. Process-wide, for tests that place a
// fault at a chosen moment; none by default.
using CheckpointHook = std::function<bool(std::uint64_t level, WriteStep step)>;
void set_checkpoint_hook(CheckpointHook hook);

class CheckpointFile final : public LevelLog {
 public:
  // Told once, in words, that the file cannot be written; the search then
  // goes on without it.
  using Warn = std::function<void(const std::string& message)>;

  // Takes the lock on `path` and reads the levels an earlier run kept there
  // (none when the file does not exist). A file of another search, format
  // version or math signature, a damaged or truncated file, and a path a
  // live search holds are refused with InvalidValue saying why.
  static Outcome<std::unique_ptr<CheckpointFile>> open(const std::string& path,
                                                       CheckpointIdentity identity, Warn warn);
  ~CheckpointFile() override;
  CheckpointFile(const CheckpointFile&) = delete;
  CheckpointFile& operator=(const CheckpointFile&) = delete;

  const std::vector<LevelRecord>& restored() const override { return restored_; }
  void append(const LevelRecord& record) override;

 private:
  CheckpointFile(std::string path, Warn warn) : path_(std::move(path)), warn_(std::move(warn)) {}
  // Writes content_ durably; false after warning.
  bool write(std::uint64_t level);
  void give_up(const std::string& why);

  std::string path_;
  Warn warn_;
  int lock_ = -1;
  bool writable_ = true;
  std::string content_;       // header and records, as in the file before its closing message
  std::uint64_t levels_ = 0;  // records in content_
  std::vector<LevelRecord> restored_;
};

}  // namespace tov
