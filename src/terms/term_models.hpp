// Sums of terms and products of powers over the formulas a search retained,
// added to its final staircase.
//
// With max_terms = k > 1 the stage fits, for m = 2 ... k, the model
// b + a_1 f_1 + ... + a_m f_m, and for m = 1 ... k, where the targets and
// the formulas are of one sign, the product C f_1^e_1 ... f_m^e_m, each f_i
// from the library (term_library.hpp) and chosen by the sparse regression of
// sparse_terms.hpp. Every model is written as an ordinary formula, its
// constants (the f_i's own included) refined together on all rows, and it
// joins the staircase at its own size.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "config/search_config.hpp"
#include "fit/scoring.hpp"
#include "fit/search_data.hpp"
#include "formula/expression.hpp"
#include "ops/registry.hpp"
#include "result/search_error.hpp"
#include "result/search_result.hpp"
#include "terms/term_context.hpp"

namespace tov {

// The sums b + a_1 f_1 + ... + a_m f_m for m = 2 ... max_terms, written
// Plus(Times(C, f_1), Plus(Times(C, f_2), ... C)) with the terms in library
// order; and, when 2 <= variables <= max_terms, the sum over every input
// variable (ordinary least squares).
std::vector<FrontEntry> sum_models(std::span<const Expression> library, std::size_t variables,
                                   const TermContext& context);

// `staircase` (most complex first) with the sums and products over the
// retained formulas merged in: of equal sizes the more accurate first (the
// search's own formula on ties), then only entries more accurate than every
// simpler one, up to the first within the tolerance. Unchanged when max_terms is 1 or the staircase
// already holds a formula within the tolerance (the search's exit tolerance, 1e-10 for an
// exhaustive search). Interrupted when `stop` returns true.
Outcome<std::vector<SearchResult>> add_term_models(
    std::vector<SearchResult> staircase, std::span<const Expression> retained,
    const SearchData& data, std::size_t searched_rows, const SearchConfig& config,
    const std::shared_ptr<const OperatorRegistry>& registry, const std::function<bool()>& stop);

}  // namespace tov
