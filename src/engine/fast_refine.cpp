#include "engine/fast_refine.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

#include "engine/block_eval.hpp"
#include "engine/optimizer.hpp"

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

double FastRefiner::penalty(std::span<const double> params, double alpha, double l1_ratio) const {
  PenaltySums sums;
  sums.add_parameter_vector(params, reals_);
  return sums.penalty(alpha, l1_ratio);
}

double FastRefiner::refine(std::span<const Token> tokens, Samples samples,
                           std::span<const double> targets, std::size_t max_iterations,
                           double alpha, double l1_ratio, std::vector<double>& params,
                           const KnownOperand* left, const KnownOperand* right) {
  compile(tokens);
  const std::size_t m = params.size();
  ns_ = samples.size();
  const auto nd = static_cast<double>(ns_);
  current_.resize(nodes_.size() * ns_);
  trial_.resize(nodes_.size() * ns_);
  scratch_.resize(nodes_.size() * ns_);
  const auto top = static_cast<std::uint32_t>(nodes_.size() - 1);
  const std::size_t root = top * ns_;
  const Node& root_node = nodes_[top];

  // The root's operands, when known: a parameter-free one becomes a fixed
  // column; one with parameters gives the starting values and, through its
  // shifted columns, the first Jacobian.
  struct Operand {
    std::uint32_t node;
    const KnownOperand* known;
    std::size_t first_param;
  };
  std::vector<Operand> operands;
  const bool known = left != nullptr && root_node.token.kind == TokenKind::Op &&
                     (root_node.token.arity == 1 || right != nullptr);
  std::optional<std::uint32_t> skip;
  if (known) {
    operands.push_back({root_node.left, left, 0});
    if (root_node.token.arity == 2)
      operands.push_back({root_node.right, right, left->shifted.size()});
    for (const Operand& o : operands)
      if (nodes_[o.node].deps == 0) skip = o.node;  // at most one: the root has parameters
  }
  evaluate_fixed(samples, skip);
  if (skip) {
    for (const Operand& o : operands)
      if (o.node == *skip) set_column(fixed_, o.node, o.known->at_start);
  }

  // Objective at the starting point. Every sample is evaluated, since the
  // Jacobian needs the values even where one sample fails.
  double objective;
  {
    if (known) {
      for (const Operand& o : operands)
        if (nodes_[o.node].deps != 0) set_column(current_, o.node, o.known->at_start);
      const Column a = nodes_[root_node.left].deps ? column(current_, root_node.left)
                                                   : column(fixed_, root_node.left);
      const Column b = root_node.token.arity == 1     ? a
                       : nodes_[root_node.right].deps ? column(current_, root_node.right)
                                                      : column(fixed_, root_node.right);
      apply_op_block(root_node.token.op_id, a, b, &current_.values[root], &current_.valid[root], 0,
                     ns_);
    } else {
      evaluate_dependent(params, current_, 0, ns_);
    }
    double sse = 0.0;
    bool all_valid = true;
    for (std::size_t i = 0; i < ns_ && all_valid; ++i) {
      all_valid = current_.valid[root + i] != 0;
      const double residual = current_.values[root + i].re - targets[i];
      sse = sse + residual * residual;
    }
    objective = all_valid ? sse / nd + penalty(params, alpha, l1_ratio) : kInfinity;
  }
  // With known operands only the root holds values at the starting point,
  // so the first Jacobian is taken from the shifted columns.
  bool first_jacobian_from_operands = known;

  f_.resize(ns_);
  residuals_.resize(ns_);
  diagonal_.resize(m);
  gradient_.resize(m);
  trial_params_.resize(m);

  Damping damping;
  std::size_t iteration = 0;
  bool jacobian_stale = true;
  while (damping.running(iteration, max_iterations)) {
    if (jacobian_stale) {
      for (std::size_t i = 0; i < ns_; ++i) {
        f_[i] = current_.valid[root + i] ? current_.values[root + i].re : 0.0;
        residuals_[i] = f_[i] - targets[i];
      }
      for (std::size_t k = 0; k < m; ++k) {
        if (first_jacobian_from_operands) {
          Column a = column(current_, root_node.left);
          Column b = root_node.token.arity == 2 ? column(current_, root_node.right) : a;
          for (const Operand& o : operands) {
            if (k < o.first_param || k >= o.first_param + o.known->shifted.size()) continue;
            (o.node == root_node.left ? a : b) = o.known->shifted[k - o.first_param];
          }
          if (nodes_[root_node.left].deps == 0) a = column(fixed_, root_node.left);
          if (root_node.token.arity == 2 && nodes_[root_node.right].deps == 0)
            b = column(fixed_, root_node.right);
          apply_op_block(root_node.token.op_id, a, b, &scratch_.values[root], &scratch_.valid[root],
                         0, ns_);
        } else {
          evaluate_dependent(params, scratch_, 0, ns_, static_cast<int>(k),
                             params[k] + refinement::kStep);
        }
        double d = 0.0;
        double grad = 0.0;
        for (std::size_t i = 0; i < ns_; ++i) {
          const double g = scratch_.valid[root + i] ? scratch_.values[root + i].re : 0.0;
          const double j = (g - f_[i]) / refinement::kStep;
          d = d + j * j;
          grad = grad + j * residuals_[i];
        }
        diagonal_[k] = d;
        gradient_[k] = grad;
      }
      jacobian_stale = false;
      first_jacobian_from_operands = false;
    }

    for (std::size_t k = 0; k < m; ++k)
      trial_params_[k] =
          params[k] - gradient_[k] / ((damping.lambda() + diagonal_[k]) + refinement::kGuard);

    // The trial's objective, evaluated block by block and abandoned once it
    // can no longer beat the incumbent: the partial sum of squares only grows.
    const double trial_penalty = penalty(trial_params_, alpha, l1_ratio);
    const bool can_skip = objective != kInfinity;
    double trial_objective = kInfinity;
    {
      double sse = 0.0;
      bool complete = true;
      for (std::size_t begin = 0; begin < ns_ && complete; begin += kBlock) {
        const std::size_t end = std::min(ns_, begin + kBlock);
        evaluate_dependent(trial_params_, trial_, begin, end);
        for (std::size_t i = begin; i < end; ++i) {
          if (!trial_.valid[root + i]) {
            complete = false;
            break;
          }
          const double residual = trial_.values[root + i].re - targets[i];
          sse = sse + residual * residual;
        }
        if (complete && can_skip && sse / nd + trial_penalty >= objective) complete = false;
      }
      if (complete) trial_objective = sse / nd + trial_penalty;
    }

    if (trial_objective < objective) {
      params.swap(trial_params_);
      std::swap(current_, trial_);
      jacobian_stale = true;
      const double decrease = objective - trial_objective;
      objective = trial_objective;
      if (!damping.accepted(decrease)) break;
    } else if (!damping.rejected()) {
      break;
    }
    iteration += 1;
  }
  return objective;
}

}  // namespace tov
