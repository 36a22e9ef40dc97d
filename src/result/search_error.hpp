// SearchError: how every native search operation reports failure, as a value.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace tov {

struct NoFormulaFound {
  std::uint64_t max_complexity = 0;
};
struct MemoryLimitExceeded {
  std::uint64_t needed_mb = 0;
  std::uint64_t available_mb = 0;
};
struct InvalidInput {
  std::string message;
};
// A value the caller passed that no search can use (a non-finite target,
// an unusable weight), named with its position.
struct InvalidValue {
  std::string message;
};
struct ArityMismatch {
  std::string operator_name;
  std::uint64_t given = 0;
  std::uint8_t expected = 0;
};
// The caller asked the search to stop (for example on Ctrl-C in Python).
struct Interrupted {};

using SearchError = std::variant<NoFormulaFound, MemoryLimitExceeded, InvalidInput, InvalidValue,
                                 ArityMismatch, Interrupted>;

// The user-facing message of an error, e.g. "No formula found up to complexity 10".
std::string error_message(const SearchError& error);

// Either a value or a SearchError.
template <class T>
class [[nodiscard]] Outcome {
 public:
  Outcome(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Outcome(SearchError error) : state_(std::in_place_index<1>, std::move(error)) {}
  // One kind of error, built in place.
  template <class Kind>
  requires(std::is_constructible_v<SearchError, Kind&&> &&
           !std::is_same_v<std::remove_cvref_t<Kind>, SearchError> &&
           !std::is_constructible_v<T, Kind&&>) Outcome(Kind&& error)
      : state_(std::in_place_index<1>, std::forward<Kind>(error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() { return std::get<0>(state_); }
  const T& value() const { return std::get<0>(state_); }
  SearchError& error() { return std::get<1>(state_); }
  const SearchError& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, SearchError> state_;
};

}  // namespace tov
