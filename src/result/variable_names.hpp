// The names a caller gave the input variables of a search, and how the
// renderings spell them: variable j is names[j], in LaTeX latex[j] and in
// Python python[j]. The formula text keeps v_{j}: it is the search's own
// identity of a formula, whatever the columns are called.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tov {

struct VariableNames {
  std::vector<std::string> names;   // as given (UTF-8)
  std::vector<std::string> latex;   // see latex_name
  std::vector<std::string> python;  // distinct valid Python identifiers
};

// A name as LaTeX math:
//   - the first '_' between two characters starts a subscript, written by
//     the same rules ("x_1" is x_{1}, "v_max" v_{\mathrm{max}}), and so does
//     a run of digits ending a name that does not start with one ("x1" is
//     x_{1}, "theta0" \theta_{0});
//   - a Greek letter's name ("theta", "Omega", "varphi") or the letter
//     itself ("θ", "Ω") is its command (\theta, \Omega), as is "hbar" or ħ;
//   - any other single character is itself, several are set upright in
//     \mathrm{...} ("mass"), a Greek letter among them as its command;
//   - the characters LaTeX reserves (\ { } _ # $ % & ^ ~) and spaces are
//     escaped.
std::string latex_name(std::string_view name);

}  // namespace tov
