// The way back from a search on dimensionless groups: its staircase
// rewritten in the caller's variables and judged on the caller's data.
#pragma once

#include <vector>

#include "config/search_config.hpp"
#include "fit/search_data.hpp"
#include "fit/staircase.hpp"
#include "result/search_result.hpp"
#include "units/dimensional.hpp"

namespace tov {

// f, a formula over the groups, as M f(pi) over the inputs with its
// constants refined on `data` as the final selection refines (30 iterations
// of the plain objective, weights and penalty included), and its error there
// (+infinity for NaN).
FrontEntry in_caller_variables(const Expression& f, const Reduction& reduction,
                               const SearchData& data, const SearchConfig& config,
                               OperatorList operators);

// The smallest M(x_i)^2 over the samples that weigh something. The caller's
// residual at sample i is M(x_i) times the reduced one, so a formula whose
// error in the caller's variables is e has a reduced error of at most e
// divided by this.
double smallest_square_monomial(const ReducedData& reduced, std::span<const double> weights);

// Every formula f of `reduced` (over the groups) becomes M f(pi) over the
// inputs; its constants are refined on `data` as the final selection refines
// (30 iterations of the plain objective, weights and penalty included) and
// its error is the objective there. Of these, those whose error falls
// strictly below that of every simpler one are returned, most complex
// first, each with its DimensionalRecord. An identity reduction changes no
// formula and only adds the record.
std::vector<SearchResult> results_in_inputs(std::vector<SearchResult> reduced,
                                            const Reduction& reduction, const SearchData& data,
                                            const SearchConfig& config);

}  // namespace tov
