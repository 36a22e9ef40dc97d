// The one list of the SearchConfig fields that leave a configuration. Every
// row travels to the workers of a distributed search; the rows with a Python
// name are also the Searcher's settings (constructor parameters and
// read-only properties). The wire format, the Python settings table, the
// constructor's parameter order and the class's property order are all
// derived from this list, so a new setting is one row here, plus a wire codec
// and a Python conversion when its type is one they do not know yet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <tuple>

#include "config/search_config.hpp"

namespace tov {

enum class FieldRole : std::uint8_t {
  Engine,      // read by the engines, not a Python setting
  Positional,  // a setting that may be given by position
  KeywordOnly  // a setting given by keyword only
};

template <auto Member, FieldRole Role>
struct ConfigField {
  static constexpr auto member = Member;
  static constexpr FieldRole role = Role;

  // The Python parameter and property name, a string literal; empty for
  // Engine rows.
  std::string_view setting;
  // A positional setting's place among the constructor's parameters.
  std::size_t position = 0;
};

template <auto Member>
constexpr ConfigField<Member, FieldRole::Engine> engine_field() {
  return {};
}

template <auto Member>
constexpr ConfigField<Member, FieldRole::Positional> positional(std::string_view name,
                                                                std::size_t position) {
  return {name, position};
}

template <auto Member>
constexpr ConfigField<Member, FieldRole::KeywordOnly> keyword_only(std::string_view name) {
  return {name, 0};
}

// In wire order, which is also the order the Python class lists its
// properties. The constructor takes the positional settings by `position`,
// then the keyword-only ones in this order.
inline constexpr std::tuple kConfigFields{
    positional<&SearchConfig::max_complexity>("max_complexity", 0),
    engine_field<&SearchConfig::early_exit_tolerance>(),
    positional<&SearchConfig::beam_width>("beam_width", 2),
    positional<&SearchConfig::complexity_penalty>("complexity_penalty", 1),
    positional<&SearchConfig::alpha>("alpha", 3),
    positional<&SearchConfig::l1_ratio>("l1_ratio", 4),
    engine_field<&SearchConfig::exhaustive>(),
    engine_field<&SearchConfig::refine_params>(),
    keyword_only<&SearchConfig::operator_mask>("operators"),
    keyword_only<&SearchConfig::time_limit>("time_limit"),
    keyword_only<&SearchConfig::verbose>("verbose"),
    keyword_only<&SearchConfig::max_search_rows>("max_search_rows"),
    keyword_only<&SearchConfig::linear_scaling>("linear_scaling"),
    keyword_only<&SearchConfig::target_error>("target_error"),
    keyword_only<&SearchConfig::max_terms>("max_terms"),
    keyword_only<&SearchConfig::term_pool>("term_pool"),
    keyword_only<&SearchConfig::named_constants>("constants"),
    keyword_only<&SearchConfig::meet_in_the_middle>("meet_in_the_middle"),
    keyword_only<&SearchConfig::checkpoint>("checkpoint"),
};

// Calls `visit(row)` for every row, in list order.
template <class Visit>
constexpr void for_each_config_field(Visit&& visit) {
  std::apply([&](const auto&... field) { (visit(field), ...); }, kConfigFields);
}

inline constexpr std::size_t kPositionalSettings = [] {
  std::size_t count = 0;
  for_each_config_field([&](const auto& field) { count += field.role == FieldRole::Positional; });
  return count;
}();

inline constexpr std::size_t kSettingCount = [] {
  std::size_t count = 0;
  for_each_config_field([&](const auto& field) { count += field.role != FieldRole::Engine; });
  return count;
}();

// Settings have distinct, non-empty names, and the positions of the
// positional settings are 0, 1, ... each once.
inline constexpr bool kConfigFieldsAreConsistent = [] {
  std::string_view names[std::tuple_size_v<decltype(kConfigFields)>]{};
  std::size_t count = 0;
  std::size_t positions_seen = 0;
  bool consistent = true;
  for_each_config_field([&](const auto& field) {
    if (field.role == FieldRole::Engine) return;
    consistent = consistent && !field.setting.empty();
    for (std::size_t i = 0; i < count; ++i) consistent = consistent && names[i] != field.setting;
    names[count++] = field.setting;
    if (field.role != FieldRole::Positional) return;
    if (field.position >= kPositionalSettings) {
      consistent = false;
      return;
    }
    consistent = consistent && !((positions_seen >> field.position) & 1);
    positions_seen |= std::size_t{1} << field.position;
  });
  return consistent;
}();
static_assert(kConfigFieldsAreConsistent, "the configuration's field list is inconsistent");

}  // namespace tov
