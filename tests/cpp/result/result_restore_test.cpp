// Restoring results with exact constants from their tokens: the constants
// are kept, and a Real token that is not exactly a constant is refused.
#include "result/result_restore.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <variant>
#include <vector>

#include "formula/exact_constant.hpp"

namespace tov {
namespace {

std::string outcome(const std::vector<Token>& tokens) {
  const Restored restored = restore_result(tokens, 0.25);
  if (const std::string* reason = std::get_if<std::string>(&restored)) return "refused: " + *reason;
  const SearchResult& r = std::get<SearchResult>(restored);
  return r.formula() + " | " + r.to_latex() + " | " + r.to_python();
}

TEST(ResultRestore, ExactConstantsRoundTrip) {
  const Token half_over_pi = make_exact_token({1, 2, Basis::InvPi});
  const Token times = Token::make_op(2, op_id::kTimes);
  const Token plus = Token::make_op(2, op_id::kPlus);
  Token off = half_over_pi;
  off.value.re = std::nextafter(off.value.re, 0.0);
  Token unreduced = half_over_pi;
  unreduced.op_id = exact_code({2, 4, Basis::InvPi});
  const struct {
    std::vector<Token> tokens;
    std::string expected;
  } cases[] = {
      {{half_over_pi, Token::make_var(0), times},
       "Times(1/(2*Pi), v_{0}) | \\frac{1}{2\\pi} \\cdot v_{0} | (1/(2*np.pi))*(v_{0})"},
      {{make_exact_token({2, 1, Basis::One}), Token::make_param(0, {0.5, 0}), plus},
       "Plus(2, C) | 2 + 0.5000 | (2)+(0.5000)"},
      {{make_exact_token({-3, 5, Basis::One})}, "-3/5 | -\\frac{3}{5} | -3/5"},
      // Exponents bind to a whole product or signed number, not its last part.
      {{make_exact_token({4, 1, Basis::Pi}), Token::make_op(1, op_id::kSquare)},
       "Square(4*Pi) | {\\left(4\\pi\\right)}^2 | (4*np.pi)**2"},
      {{make_exact_token({1, 1, Basis::Ln2}), Token::make_op(1, op_id::kCube)},
       "Cube(Log(2)) | {\\left(\\ln 2\\right)}^3 | (np.log(2))**3"},
      {{make_exact_token({-1, 2, Basis::One}), Token::make_op(1, op_id::kSquare)},
       "Square(-1/2) | {\\left(-\\frac{1}{2}\\right)}^2 | (-1/2)**2"},
      {{make_exact_token({1, 2, Basis::InvPi}), Token::make_op(1, op_id::kSquare)},
       "Square(1/(2*Pi)) | {\\frac{1}{2\\pi}}^2 | (1/(2*np.pi))**2"},
      {{off, Token::make_var(0), times}, "refused: token 0: kind never produced by a search"},
      {{unreduced}, "refused: token 0: kind never produced by a search"},
      {{Token::make_real(0.5)}, "refused: token 0: kind never produced by a search"},
  };
  for (const auto& c : cases) EXPECT_EQ(outcome(c.tokens), c.expected);
}

}  // namespace
}  // namespace tov
