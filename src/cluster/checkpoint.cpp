// Reading, checking and durably rewriting a checkpoint file.
#include "cluster/checkpoint.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <type_traits>

#include "cluster/wire.hpp"
#include "config/config_fields.hpp"
#include "numeric/decimal.hpp"
#include "ops/math_signature.hpp"

namespace tov {

namespace {

std::mutex hook_mutex;
CheckpointHook hook;

// False when the test hook fails this moment.
bool at(std::uint64_t level, WriteStep step) {
  const std::lock_guard lock(hook_mutex);
  return !hook || hook(level, step);
}

std::string hex(std::uint64_t v) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out(16, '0');
  for (int i = 15; i >= 0; --i, v >>= 4) out[static_cast<std::size_t>(i)] = kDigits[v & 0xF];
  return out;
}

void put_u64(std::string& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// The digest of doubles by their bits, with their count.
std::string digest_of(std::span<const double> values) {
  std::string bytes;
  put_u64(bytes, values.size());
  for (const double v : values) put_u64(bytes, std::bit_cast<std::uint64_t>(v));
  return hex(wire::digest(bytes));
}

std::string digest_of(std::span<const std::vector<double>> rows) {
  std::string bytes;
  put_u64(bytes, rows.size());
  for (const std::vector<double>& row : rows) {
    put_u64(bytes, row.size());
    for (const double v : row) put_u64(bytes, std::bit_cast<std::uint64_t>(v));
  }
  return hex(wire::digest(bytes));
}

// A setting's value as exact text.
std::string text_of(std::uint64_t v) { return decimal(v); }
std::string text_of(double v) { return "0x" + hex(std::bit_cast<std::uint64_t>(v)); }
std::string text_of(bool v) { return v ? "true" : "false"; }
template <class T>
std::string text_of(const std::optional<T>& v) {
  return v ? text_of(*v) : "None";
}

template <auto A, auto B>
constexpr bool same_member() {
  if constexpr (std::is_same_v<decltype(A), decltype(B)>)
    return A == B;
  else
    return false;
}

// The name of a setting in messages; the engine rows have none of their own.
template <class Field>
std::string name_of(const Field& field) {
  if (!field.setting.empty()) return std::string(field.setting);
  if constexpr (same_member<Field::member, &SearchConfig::early_exit_tolerance>())
    return "early exit tolerance";
  if constexpr (same_member<Field::member, &SearchConfig::exhaustive>())
    return "search method (find_candidates or another)";
  return "constant refinement";
}

// Settings that change no result.
template <class Field>
constexpr bool changes_results() {
  return !same_member<Field::member, &SearchConfig::checkpoint>() &&
         !same_member<Field::member, &SearchConfig::time_limit>() &&
         !same_member<Field::member, &SearchConfig::verbose>();
}

std::string in_quotes(const std::string& path) { return "'" + path + "'"; }

SearchError refusal(const std::string& path, const std::string& why) {
  return InvalidValue{"checkpoint " + in_quotes(path) + " " + why};
}

std::string errno_text(int error) { return std::strerror(error); }

// Writes all of `bytes`; false with errno set.
bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

void set_checkpoint_hook(CheckpointHook h) {
  const std::lock_guard lock(hook_mutex);
  hook = std::move(h);
}

CheckpointIdentity search_identity(std::span<const std::vector<double>> rows,
                                   std::span<const double> targets, std::span<const double> weights,
                                   const SearchConfig& config) {
  CheckpointIdentity identity{{"inputs (X)", digest_of(rows)},
                              {"targets (y)", digest_of(targets)},
                              {"weights", digest_of(weights)}};
  for_each_config_field([&](const auto& field) {
    using Field = std::remove_cvref_t<decltype(field)>;
    if constexpr (changes_results<Field>())
      identity.emplace_back(name_of(field), text_of(config.*Field::member));
  });
  return identity;
}

Outcome<std::unique_ptr<CheckpointFile>> CheckpointFile::open(const std::string& path,
                                                              CheckpointIdentity identity,
                                                              Warn warn) {
  std::unique_ptr<CheckpointFile> file(new CheckpointFile(path, std::move(warn)));
  const std::string lock_path = path + ".lock";
  file->lock_ = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (file->lock_ < 0) {
    file->give_up("its lock file " + in_quotes(lock_path) + " cannot be made (" +
                  errno_text(errno) + ")");
  } else if (::flock(file->lock_, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    if (error == EWOULDBLOCK)
      return refusal(path,
                     "is in use by another live search (it holds " + in_quotes(lock_path) + ")");
    file->give_up("it cannot be locked (" + errno_text(error) + ")");
  }

  std::ifstream in(path, std::ios::binary);
  const wire::CheckpointHeader header{kCheckpointLayout, vmath::math_signature(),
                                      std::move(identity)};
  if (!in) {
    if (std::filesystem::exists(path)) return refusal(path, "exists but cannot be read");
    file->content_ = wire::encode(header);
    return file;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return refusal(path, "cannot be read");

  // One message from byte `at`; the error names the byte.
  std::size_t at = 0;
  const auto next = [&](auto decode) -> std::optional<decltype(decode(std::string_view()))> {
    const std::size_t size = wire::message_size(std::string_view(bytes).substr(at));
    if (size > bytes.size() - at) {
      throw wire::MalformedMessage("the file ends at byte " + decimal(bytes.size()) +
                                   ", inside a message of " + decimal(size) + " bytes");
    }
    auto value = decode(std::string_view(bytes).substr(at, size));
    at += size;
    return value;
  };
  try {
    const wire::CheckpointHeader found =
        *next([](std::string_view m) { return wire::decode_checkpoint_header(m); });
    if (found.layout != kCheckpointLayout) {
      return refusal(path, "has layout version " + decimal(found.layout) +
                               ", this build reads version " + decimal(kCheckpointLayout));
    }
    if (found.math_signature != header.math_signature) {
      return refusal(path, "was written by a process of math signature " + found.math_signature +
                               ", this one has " + header.math_signature);
    }
    std::string differ;
    const auto mention = [&](const std::string& name) {
      differ += (differ.empty() ? "" : ", ") + name;
    };
    for (const auto& [name, value] : header.identity) {
      bool same = false;
      bool present = false;
      for (const auto& [other, other_value] : found.identity) {
        if (other != name) continue;
        present = true;
        same = other_value == value;
      }
      if (!same) mention(name + (present ? "" : " (not in the file)"));
    }
    for (const auto& [name, value] : found.identity) {
      bool present = false;
      for (const auto& [other, other_value] : header.identity) present = present || other == name;
      if (!present) mention(name + " (not in this call)");
    }
    if (!differ.empty()) {
      return refusal(path, "belongs to another search; what differs from this call: " + differ);
    }
    const std::string_view view(bytes);
    for (;;) {
      if (at == bytes.size())
        throw wire::MalformedMessage("the file ends without its closing message");
      const std::size_t start = at;
      if (wire::message_kind(view.substr(at)) ==
          static_cast<std::uint8_t>(wire::MessageKind::CheckpointEnd)) {
        const wire::CheckpointEnd end =
            *next([](std::string_view m) { return wire::decode_checkpoint_end(m); });
        if (end.levels != file->restored_.size() ||
            end.digest != wire::digest(view.substr(0, start))) {
          at = start;
          throw wire::MalformedMessage("the closing message does not match the file before it");
        }
        if (at != bytes.size()) throw wire::MalformedMessage("bytes after the closing message");
        file->content_ = bytes.substr(0, start);
        break;
      }
      LevelRecord record = *next([](std::string_view m) { return wire::decode_level_record(m); });
      const std::uint64_t expected = file->restored_.size() + 1;
      if (record.level != expected) {
        return refusal(path, "is damaged at byte " + decimal(start) + ": a record of level " +
                                 decimal(record.level) + " where level " + decimal(expected) +
                                 " belongs");
      }
      ++file->levels_;
      file->restored_.push_back(std::move(record));
    }
  } catch (const wire::VersionMismatch& e) {
    return refusal(path, "was written in another " + e.reason());
  } catch (const wire::MalformedMessage& e) {
    return refusal(path, "is damaged at byte " + decimal(at) + ": " + e.reason());
  }
  return file;
}

CheckpointFile::~CheckpointFile() {
  if (lock_ >= 0) ::close(lock_);
}

void CheckpointFile::give_up(const std::string& why) {
  if (!writable_) return;
  writable_ = false;
  const std::string message = "checkpoint " + in_quotes(path_) + " cannot be written: " + why +
                              "; the search goes on without checkpoints";
  if (warn_)
    warn_(message);
  else
    std::fprintf(stderr, "[TOV-SR] warning: %s\n", message.c_str());
}

void CheckpointFile::append(const LevelRecord& record) {
  if (!writable_) return;
  content_ += wire::encode(record);
  ++levels_;
  static_cast<void>(write(record.level));
}

bool CheckpointFile::write(std::uint64_t level) {
  const std::string temporary = path_ + ".tmp";
  const auto fail = [&](const std::string& step, int error, int fd) {
    if (fd >= 0) ::close(fd);
    ::unlink(temporary.c_str());
    give_up(step + " " + in_quotes(temporary) + " failed (" + errno_text(error) + ")");
    return false;
  };
  if (!at(level, WriteStep::BeforeWrite)) return fail("writing", ENOSPC, -1);
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return fail("creating", errno, -1);
  const std::string end = wire::encode(wire::CheckpointEnd{levels_, wire::digest(content_)});
  if (!write_all(fd, content_) || !write_all(fd, end)) return fail("writing", errno, fd);
  if (!at(level, WriteStep::AfterWrite)) return fail("writing", ENOSPC, fd);
  if (::fsync(fd) != 0) return fail("syncing", errno, fd);
  if (::close(fd) != 0) return fail("closing", errno, -1);
  if (!at(level, WriteStep::AfterSync)) return fail("renaming", ENOSPC, -1);
  if (::rename(temporary.c_str(), path_.c_str()) != 0) return fail("renaming", errno, -1);
  // The rename itself is durable once the directory is synced.
  std::filesystem::path directory = std::filesystem::path(path_).parent_path();
  if (directory.empty()) directory = ".";
  const int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  if (!at(level, WriteStep::AfterRename)) {
    give_up("writing it failed (" + errno_text(ENOSPC) + ")");
    return false;
  }
  return true;
}

}  // namespace tov
