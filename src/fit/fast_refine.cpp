// The fast constant refiner: a node graph of the candidate, parameter-free
// columns evaluated once, Jacobian columns along their parameter's path, and
// trials abandoned once they cannot win.
#include "fit/fast_refine.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

#include "fit/block_eval.hpp"
#include "fit/optimizer.hpp"

namespace tov {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Samples per block of a trial evaluation: small enough to stop early,
// large enough to keep the per-node loops long.
constexpr std::size_t kBlock = 32;

}  // namespace

void FastRefiner::compile(std::span<const Token> tokens) {
  nodes_.clear();
  dependent_.clear();
  reals_.clear();
  first_node_.clear();
  std::vector<std::uint32_t> stack;
  for (const Token& token : tokens) {
    Node node{token};
    switch (token.kind) {
      case TokenKind::Param:
        node.deps = std::uint64_t{1} << token.index;
        break;
      case TokenKind::Real:
        reals_.push_back(token.value.re);
        break;
      case TokenKind::Op:
        if (token.arity < 1 || token.arity > 2 || stack.size() < token.arity)
          throw std::logic_error("malformed candidate");
        if (token.arity == 2) {
          node.right = stack.back();
          stack.pop_back();
        }
        node.left = stack.back();
        stack.pop_back();
        node.deps = nodes_[node.left].deps | (token.arity == 2 ? nodes_[node.right].deps : 0);
        first_node_.push_back(first_node_[node.left]);
        break;
      default:
        break;
    }
    if (token.kind != TokenKind::Op)
      first_node_.push_back(static_cast<std::uint32_t>(nodes_.size()));
    stack.push_back(static_cast<std::uint32_t>(nodes_.size()));
    if (node.deps != 0) dependent_.push_back(static_cast<std::uint32_t>(nodes_.size()));
    nodes_.push_back(node);
  }
  if (stack.size() != 1) throw std::logic_error("malformed candidate");
}

void FastRefiner::set_column(Buffer& buffer, std::uint32_t node, Column from) {
  std::copy(from.values, from.values + ns_, buffer.values.begin() + node * ns_);
  std::copy(from.valid, from.valid + ns_, buffer.valid.begin() + node * ns_);
}

void FastRefiner::evaluate_fixed(Samples samples, std::optional<std::uint32_t> skip) {
  fixed_.resize(nodes_.size() * ns_);
  for (std::size_t n = 0; n < nodes_.size(); ++n) {
    const Node& node = nodes_[n];
    if (node.deps != 0) continue;
    if (skip && n >= first_node_[*skip] && n <= *skip) continue;
    Complex* values = &fixed_.values[n * ns_];
    std::uint8_t* valid = &fixed_.valid[n * ns_];
    const Token& t = node.token;
    switch (t.kind) {
      case TokenKind::Var:
        for (std::size_t i = 0; i < ns_; ++i) {
          valid[i] = t.index < samples[i].size();
          values[i] = valid[i] ? samples[i][t.index] : Complex{};
        }
        break;
      case TokenKind::Real:
      case TokenKind::Const: {
        const Complex v = t.kind == TokenKind::Real ? Complex{t.value.re, 0.0} : t.value;
        for (std::size_t i = 0; i < ns_; ++i) {
          values[i] = v;
          valid[i] = 1;
        }
        break;
      }
      case TokenKind::Op: {
        const Column a{&fixed_.values[node.left * ns_], &fixed_.valid[node.left * ns_]};
        const Column b{&fixed_.values[node.right * ns_], &fixed_.valid[node.right * ns_]};
        apply_op_block(t.op_id, a, b, values, valid, 0, ns_);
        break;
      }
      case TokenKind::Param:
        break;
    }
  }
}

void FastRefiner::evaluate_dependent(std::span<const double> params, Buffer& out, std::size_t begin,
                                     std::size_t end, int shifted_param, double shifted) {
  const std::uint64_t bit = shifted_param < 0 ? 0 : std::uint64_t{1} << shifted_param;
  const auto column = [&](std::uint32_t c) {
    const std::uint64_t deps = nodes_[c].deps;
    const Buffer& from = deps == 0 ? fixed_ : (bit == 0 || (deps & bit)) ? out : current_;
    return Column{&from.values[c * ns_], &from.valid[c * ns_]};
  };
  for (const std::uint32_t n : dependent_) {
    const Node& node = nodes_[n];
    if (bit != 0 && (node.deps & bit) == 0) continue;
    Complex* values = &out.values[n * ns_];
    std::uint8_t* valid = &out.valid[n * ns_];
    if (node.token.kind == TokenKind::Param) {
      const double p =
          static_cast<int>(node.token.index) == shifted_param ? shifted : params[node.token.index];
      for (std::size_t i = begin; i < end; ++i) {
        values[i] = Complex{p, 0.0};
        valid[i] = 1;
      }
      continue;
    }
    const Column a = column(node.left);
    const Column b = node.token.arity == 2 ? column(node.right) : a;
    apply_op_block(node.token.op_id, a, b, values, valid, begin, end);
  }
}

double FastRefiner::penalty(std::span<const double> params, const Affine& scale) const {
  const Objective& objective = *objective_;
  PenaltySums sums;
  sums.add_parameter_vector(params, reals_, objective.linear_scaling ? &scale : nullptr);
  return sums.penalty(objective.alpha, objective.l1_ratio);
}

double FastRefiner::objective_of(const Buffer& buffer, std::span<const double> params) const {
  const Column at_root = column(buffer, root_);
  for (std::size_t i = 0; i < ns_; ++i)
    if (!at_root.valid[i]) return kInfinity;
  Affine scale;
  const double data =
      data_term([&](std::size_t i) { return at_root.values[i]; }, ns_, *objective_, &scale);
  return data + penalty(params, scale);
}

void FastRefiner::predictions(const Buffer& buffer, std::vector<double>& out) const {
  const Column at_root = column(buffer, root_);
  for (std::size_t i = 0; i < ns_; ++i) out[i] = at_root.valid[i] ? at_root.values[i].re : 0.0;
  if (!objective_->linear_scaling) return;
  const Affine map =
      fit_affine([&](std::size_t i) { return at_root.valid[i] ? at_root.values[i] : Complex{}; },
                 ns_, *objective_);
  for (std::size_t i = 0; i < ns_; ++i) out[i] = map.a * out[i] + map.b;
}

double FastRefiner::start(std::span<const Token> tokens, Samples samples,
                          std::span<const double> params, const KnownOperand* left,
                          const KnownOperand* right) {
  compile(tokens);
  ns_ = samples.size();
  root_ = static_cast<std::uint32_t>(nodes_.size() - 1);
  current_.resize(nodes_.size() * ns_);
  trial_.resize(nodes_.size() * ns_);
  scratch_.resize(nodes_.size() * ns_);
  f_.resize(ns_);
  g_.resize(ns_);
  residuals_.resize(ns_);
  diagonal_.resize(params.size());
  gradient_.resize(params.size());
  trial_params_.resize(params.size());

  // The root's operands, when known: a parameter-free one becomes a fixed
  // column; one with parameters gives the starting values and, through its
  // shifted columns, the first Jacobian.
  const Node& root = nodes_[root_];
  operands_.clear();
  jacobian_from_operands_ = left != nullptr && root.token.kind == TokenKind::Op &&
                            (root.token.arity == 1 || right != nullptr);
  std::optional<std::uint32_t> skip;
  if (jacobian_from_operands_) {
    operands_.push_back({root.left, left, 0});
    if (root.token.arity == 2) operands_.push_back({root.right, right, left->shifted.size()});
    for (const Operand& o : operands_)
      if (nodes_[o.node].deps == 0) skip = o.node;  // at most one: the root has parameters
  }
  evaluate_fixed(samples, skip);
  for (const Operand& o : operands_)
    set_column(nodes_[o.node].deps == 0 ? fixed_ : current_, o.node, o.known->at_start);

  // With known operands only the root needs evaluating. Every sample is
  // evaluated, since the Jacobian needs the values even where one fails.
  if (jacobian_from_operands_) {
    const Column a = current_column(root.left);
    const Column b = root.token.arity == 1 ? a : current_column(root.right);
    apply_op_block(root.token.op_id, a, b, &current_.values[root_ * ns_],
                   &current_.valid[root_ * ns_], 0, ns_);
  } else {
    evaluate_dependent(params, current_, 0, ns_);
  }
  return objective_of(current_, params);
}

void FastRefiner::shifted_root(std::span<const double> params, std::size_t k) {
  if (!jacobian_from_operands_) {
    evaluate_dependent(params, scratch_, 0, ns_, static_cast<int>(k),
                       params[k] + refinement::kStep);
    return;
  }
  // The first Jacobian: only the operand that owns parameter k moves, and
  // its shifted column is known.
  const Node& root = nodes_[root_];
  Column a = current_column(root.left);
  Column b = root.token.arity == 2 ? current_column(root.right) : a;
  for (const Operand& o : operands_) {
    if (k < o.first_param || k >= o.first_param + o.known->shifted.size()) continue;
    (o.node == root.left ? a : b) = o.known->shifted[k - o.first_param];
  }
  apply_op_block(root.token.op_id, a, b, &scratch_.values[root_ * ns_],
                 &scratch_.valid[root_ * ns_], 0, ns_);
}

namespace {

// Sums of w j^2 and w j r over the samples in order, j the forward difference
// of g against f; `g(i)` reads the shifted prediction. Unweighted sums skip
// the multiplication by 1, which changes no bit.
template <class Shifted>
void jacobian_column(Shifted&& g, std::span<const double> f, std::span<const double> r,
                     const Objective& objective, double& d, double& grad) {
  d = 0.0;
  grad = 0.0;
  if (objective.weights.empty()) {
    for (std::size_t i = 0; i < f.size(); ++i) {
      const double j = (g(i) - f[i]) / refinement::kStep;
      d = d + j * j;
      grad = grad + j * r[i];
    }
    return;
  }
  for (std::size_t i = 0; i < f.size(); ++i) {
    const double j = (g(i) - f[i]) / refinement::kStep;
    d = d + objective.weights[i] * (j * j);
    grad = grad + objective.weights[i] * (j * r[i]);
  }
}

}  // namespace

void FastRefiner::jacobian(std::span<const double> params) {
  const Objective& objective = *objective_;
  predictions(current_, f_);
  for (std::size_t i = 0; i < ns_; ++i) residuals_[i] = f_[i] - objective.targets[i];
  const Column shifted = column(scratch_, root_);
  for (std::size_t k = 0; k < params.size(); ++k) {
    shifted_root(params, k);
    if (objective.linear_scaling) {
      predictions(scratch_, g_);
      jacobian_column([&](std::size_t i) { return g_[i]; }, f_, residuals_, objective, diagonal_[k],
                      gradient_[k]);
    } else {
      jacobian_column([&](std::size_t i) { return shifted.valid[i] ? shifted.values[i].re : 0.0; },
                      f_, residuals_, objective, diagonal_[k], gradient_[k]);
    }
  }
  jacobian_from_operands_ = false;
}

double FastRefiner::trial_objective(std::span<const double> trial, double incumbent) {
  const Objective& objective = *objective_;
  if (objective.linear_scaling) {
    // The affine map needs every prediction first: no early stop.
    evaluate_dependent(trial, trial_, 0, ns_);
    return objective_of(trial_, trial);
  }
  const double trial_penalty = penalty(trial, Affine{});
  // Against an infinite incumbent every finite trial wins: never stop early.
  const bool can_stop = incumbent != kInfinity;
  const Column at_root = column(trial_, root_);
  const bool weighted = !objective.weights.empty();
  double sse = 0.0;
  for (std::size_t begin = 0; begin < ns_; begin += kBlock) {
    const std::size_t end = std::min(ns_, begin + kBlock);
    evaluate_dependent(trial, trial_, begin, end);
    for (std::size_t i = begin; i < end; ++i) {
      if (!at_root.valid[i]) return kInfinity;
      const double residual = at_root.values[i].re - objective.targets[i];
      sse = sse + (weighted ? objective.weights[i] * (residual * residual) : residual * residual);
    }
    if (can_stop && sse / objective.total_weight + trial_penalty >= incumbent) return kInfinity;
  }
  return sse / objective.total_weight + trial_penalty;
}

double FastRefiner::refine(std::span<const Token> tokens, Samples samples,
                           std::span<const double> targets, std::size_t max_iterations,
                           double alpha, double l1_ratio, std::vector<double>& params,
                           const KnownOperand* left, const KnownOperand* right) {
  return refine(tokens, samples, Objective::plain(targets, alpha, l1_ratio), max_iterations, params,
                left, right);
}

double FastRefiner::refine(std::span<const Token> tokens, Samples samples, const Objective& target,
                           std::size_t max_iterations, std::vector<double>& params,
                           const KnownOperand* left, const KnownOperand* right) {
  const std::size_t m = params.size();
  objective_ = &target;
  double objective = start(tokens, samples, params, left, right);

  Damping damping;
  std::size_t iteration = 0;
  // After a rejected trial the point is unchanged, and so is its Jacobian.
  bool jacobian_stale = true;
  while (damping.running(iteration, max_iterations)) {
    if (jacobian_stale) {
      jacobian(params);
      jacobian_stale = false;
    }

    for (std::size_t k = 0; k < m; ++k)
      trial_params_[k] =
          params[k] - gradient_[k] / ((damping.lambda() + diagonal_[k]) + refinement::kGuard);
    const double trial = trial_objective(trial_params_, objective);

    // An accepted trial's values become the current point's.
    if (trial < objective) {
      params.swap(trial_params_);
      std::swap(current_, trial_);
      jacobian_stale = true;
      const double decrease = objective - trial;
      objective = trial;
      if (!damping.accepted(decrease)) break;
    } else if (!damping.rejected()) {
      break;
    }
    iteration += 1;
  }
  return objective;
}

}  // namespace tov
