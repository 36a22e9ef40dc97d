// SearchResult: evaluation of a found formula on new inputs and its LaTeX and
// Python renderings.
#include "result/search_result.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

#include "formula/exact_constant.hpp"

namespace tov {

namespace {

enum class Language { Latex, Python };

std::string var_text(std::uint8_t index) {
  char buffer[4];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, index).ptr;
  return "v_{" + std::string(buffer, end) + "}";
}

const Operator& operator_at(OperatorList operators, std::uint64_t id) {
  // The search only produces ids of its own registry; anything else is a
  // broken invariant, reported as an internal fault rather than read out of
  // bounds.
  if (id >= operators.size()) throw std::logic_error("operator id out of range");
  return *operators[id];
}

std::string render_operator(const Operator& op, Language language,
                            std::span<const std::string> args) {
  return language == Language::Latex ? op.to_latex(args) : op.to_python(args);
}

// How a LaTeX text reads as an operand: a sum or difference, a product, a
// number with its sign in front, or a text no operator can split.
enum class Reading { Sum, Product, Signed, Atom };

Reading reading_of(const Token& token, const std::string& text) {
  if (token.kind != TokenKind::Op) {
    if (text.starts_with('-')) return Reading::Signed;
    const std::optional<ExactConstant> c = exact_of(token);
    return c && exact_latex_is_product(*c) ? Reading::Product : Reading::Atom;
  }
  switch (token.op_id) {
    case op_id::kPlus:
    case op_id::kSubtract:
    case op_id::kTov:
      return Reading::Sum;
    case op_id::kTimes:
      return Reading::Product;
    default:
      return Reading::Atom;
  }
}

// Whether operand `position` of the operator `id` needs parentheses in
// LaTeX, where the templates set operands side by side: without them
// x - (y + z) would read x - y + z, and (a + b)^2 as a + b^2.
bool needs_parentheses(std::uint64_t id, std::size_t position, Reading operand) {
  switch (id) {
    case op_id::kSubtract:
      return position == 1 && operand == Reading::Sum;
    case op_id::kTimes:
      return operand == Reading::Sum;
    case op_id::kSquare:
    case op_id::kCube:
      return operand != Reading::Atom;
    default:
      return false;
  }
}

// The rendering walk shared by both languages. A token list that cannot be
// rendered (an operator with fewer operand texts than its arity, or a token
// whose arity disagrees with its operator's) renders as the empty string, as
// an empty list does: an operator is never handed the wrong number of texts.
// Variables are v_{j}, or their names in that language when `names` has them.
std::string render(const Expression& expression, OperatorList operators, Language language,
                   const VariableNames* names) {
  std::vector<std::string> stack;
  std::vector<Reading> readings;
  stack.reserve(expression.complexity);
  for (const Token& token : expression.tokens) {
    switch (token.kind) {
      case TokenKind::Const: {
        const Operator& op = operator_at(operators, token.op_id);
        if (op.arity() != 0) return {};
        stack.push_back(render_operator(op, language, {}));
        break;
      }
      case TokenKind::Real:
        if (const std::optional<ExactConstant> c = exact_of(token)) {
          stack.push_back(language == Language::Latex ? exact_latex(*c) : exact_python(*c));
          break;
        }
        stack.push_back(format_fixed4(token.value.re));
        break;
      case TokenKind::Param:
        stack.push_back(format_fixed4(token.value.re));
        break;
      case TokenKind::Var:
        if (names != nullptr && token.index < names->names.size()) {
          stack.push_back(language == Language::Latex ? names->latex[token.index]
                                                      : names->python[token.index]);
        } else {
          stack.push_back(var_text(token.index));
        }
        break;
      case TokenKind::Op: {
        const Operator& op = operator_at(operators, token.op_id);
        const std::size_t arity = token.arity;
        if (op.arity() != arity || stack.size() < arity) return {};
        const auto first = stack.end() - static_cast<std::ptrdiff_t>(arity);
        if (language == Language::Latex) {
          for (std::size_t k = 0; k < arity; ++k) {
            std::string& operand = first[static_cast<std::ptrdiff_t>(k)];
            if (needs_parentheses(token.op_id, k, readings[readings.size() - arity + k]))
              operand = "\\left(" + operand + "\\right)";
          }
        }
        std::string text =
            render_operator(op, language, std::span<const std::string>(first, arity));
        stack.erase(first, stack.end());
        readings.resize(readings.size() - arity);
        stack.push_back(std::move(text));
        break;
      }
    }
    readings.push_back(reading_of(token, stack.back()));
  }
  return stack.empty() ? std::string() : std::move(stack.back());
}

}  // namespace

SearchResult::SearchResult(Expression expression, std::shared_ptr<const OperatorRegistry> registry,
                           double error)
    : expression_(std::move(expression)), registry_(std::move(registry)), error_(error) {}

SearchResult::SearchResult(Expression expression, std::shared_ptr<const OperatorRegistry> registry,
                           double error, std::shared_ptr<const DimensionalRecord> dimensional)
    : expression_(std::move(expression)),
      registry_(std::move(registry)),
      error_(error),
      dimensional_(std::move(dimensional)) {}

double SearchResult::eval_multi(std::span<const double> point) const {
  std::vector<Complex> inputs;
  to_complex(point, inputs);
  const std::optional<Complex> value = eval(expression_, inputs, operators());
  return value ? value->re : std::numeric_limits<double>::quiet_NaN();
}

std::vector<double> SearchResult::eval_batch(std::span<const std::vector<double>> rows) const {
  std::vector<double> out;
  out.reserve(rows.size());
  std::vector<Complex> stack;
  stack.reserve(expression_.complexity);
  std::vector<Complex> inputs;
  for (const std::vector<double>& row : rows) {
    to_complex(row, inputs);
    const std::optional<Complex> value =
        eval_internal(expression_.tokens, inputs, {}, operators(), stack);
    out.push_back(value ? value->re : std::numeric_limits<double>::quiet_NaN());
  }
  return out;
}

SearchResult SearchResult::with_variable_names(std::shared_ptr<const VariableNames> names) const {
  SearchResult named = *this;
  named.names_ = std::move(names);
  return named;
}

std::string SearchResult::to_latex() const {
  return render(expression_, operators(), Language::Latex, names_.get());
}

std::string SearchResult::to_python() const {
  return render(expression_, operators(), Language::Python, names_.get());
}

std::vector<double> SearchResult::parameters() const {
  std::vector<double> values;
  values.reserve(expression_.param_count);
  for (const Token& token : expression_.tokens) {
    if (token.kind == TokenKind::Param) values.push_back(token.value.re);
  }
  return values;
}

OperatorList SearchResult::operators() const {
  return registry_ ? registry_->ops() : OperatorList{};
}

std::string format_fixed4(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  // Sign, every integer digit of the largest double, the point, four digits.
  char buffer[1 + std::numeric_limits<double>::max_exponent10 + 1 + 1 + 4];
  const auto end =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 4).ptr;
  return std::string(buffer, end);
}

}  // namespace tov
