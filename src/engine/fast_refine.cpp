#include "engine/fast_refine.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

#include "ops/kernels.hpp"

namespace tov {

namespace {

constexpr double kStep = 1e-6;
constexpr double kInitialDamping = 0.01;
constexpr double kMaxDamping = 1e4;
constexpr double kGuard = 1e-6;
constexpr double kTolerance = 1e-9;
constexpr int kRejectionsTolerated = 2;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// One operator application with the evaluator's acceptance test.
inline bool apply(std::uint64_t op, Complex a, Complex b, Complex& out) {
  const Complex args[2] = {a, b};
  const auto v = kernels::apply_builtin(op, args);
  if (!v || !within_limits(*v)) return false;
  out = *v;
  return true;
}

}  // namespace

void FastRefiner::compile(std::span<const Token> tokens) {
  nodes_.clear();
  dependent_.clear();
  reals_.clear();
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
        break;
      default:
        break;
    }
    stack.push_back(static_cast<std::uint32_t>(nodes_.size()));
    if (node.deps != 0) dependent_.push_back(static_cast<std::uint32_t>(nodes_.size()));
    nodes_.push_back(node);
  }
  if (stack.size() != 1) throw std::logic_error("malformed candidate");
}

void FastRefiner::evaluate_fixed(Samples samples) {
  const std::size_t count = nodes_.size() * ns_;
  fixed_values_.resize(count);
  fixed_valid_.assign(count, 0);
  for (std::size_t n = 0; n < nodes_.size(); ++n) {
    const Node& node = nodes_[n];
    if (node.deps != 0) continue;
    Complex* values = &fixed_values_[n * ns_];
    std::uint8_t* valid = &fixed_valid_[n * ns_];
    const Token& t = node.token;
    for (std::size_t i = 0; i < ns_; ++i) {
      switch (t.kind) {
        case TokenKind::Var:
          valid[i] = t.index < samples[i].size();
          if (valid[i]) values[i] = samples[i][t.index];
          break;
        case TokenKind::Real:
          values[i] = Complex{t.value.re, 0.0};
          valid[i] = 1;
          break;
        case TokenKind::Const:
          values[i] = t.value;
          valid[i] = 1;
          break;
        case TokenKind::Op: {
          const std::size_t a = node.left * ns_ + i;
          const std::size_t b = node.right * ns_ + i;
          const bool inputs = fixed_valid_[a] && (t.arity == 1 || fixed_valid_[b]);
          valid[i] = inputs && apply(t.op_id, fixed_values_[a],
                                     t.arity == 2 ? fixed_values_[b] : Complex{}, values[i]);
          break;
        }
        case TokenKind::Param:
          break;
      }
    }
  }
}

bool FastRefiner::evaluate_sample(std::size_t i, Samples, std::span<const double> params,
                                  std::vector<Complex>& out_values,
                                  std::vector<std::uint8_t>& out_valid) {
  for (const std::uint32_t n : dependent_) {
    const Node& node = nodes_[n];
    const std::size_t at = n * ns_ + i;
    if (node.token.kind == TokenKind::Param) {
      out_values[at] = Complex{params[node.token.index], 0.0};
      out_valid[at] = 1;
      continue;
    }
    const auto input = [&](std::uint32_t c, Complex& v) {
      const std::size_t ci = c * ns_ + i;
      if (nodes_[c].deps == 0) {
        v = fixed_values_[ci];
        return fixed_valid_[ci] != 0;
      }
      v = out_values[ci];
      return out_valid[ci] != 0;
    };
    Complex a{}, b{};
    const bool inputs = input(node.left, a) && (node.token.arity == 1 || input(node.right, b));
    out_valid[at] = inputs && apply(node.token.op_id, a, b, out_values[at]);
  }
  return out_valid[(nodes_.size() - 1) * ns_ + i] != 0;
}

double FastRefiner::penalty(std::span<const double> params, double alpha, double l1_ratio) const {
  double l1 = 0.0;
  double l2 = 0.0;
  for (const double p : params) {
    l1 = l1 + std::fabs(p);
    l2 = l2 + p * p;
  }
  for (const double v : reals_) {
    l1 = l1 + std::fabs(v);
    l2 = l2 + v * v;
  }
  return elastic_net_penalty(alpha, l1_ratio, l1, l2);
}

double FastRefiner::refine(std::span<const Token> tokens, Samples samples,
                           std::span<const double> targets, std::size_t max_iterations,
                           double alpha, double l1_ratio, std::vector<double>& params) {
  compile(tokens);
  const std::size_t m = params.size();
  ns_ = samples.size();
  const auto nd = static_cast<double>(ns_);
  evaluate_fixed(samples);
  current_values_.resize(nodes_.size() * ns_);
  current_valid_.assign(nodes_.size() * ns_, 0);
  trial_values_.resize(nodes_.size() * ns_);
  trial_valid_.assign(nodes_.size() * ns_, 0);
  scratch_values_.resize(nodes_.size());
  scratch_valid_.assign(nodes_.size(), 0);
  const std::size_t root = (nodes_.size() - 1) * ns_;

  // Objective at the starting point; every sample is evaluated, since the
  // Jacobian needs the values even where one sample fails.
  double objective;
  {
    double sse = 0.0;
    bool all_valid = true;
    for (std::size_t i = 0; i < ns_; ++i) {
      if (!evaluate_sample(i, samples, params, current_values_, current_valid_)) {
        all_valid = false;
        continue;
      }
      const double residual = current_values_[root + i].re - targets[i];
      sse = sse + residual * residual;
    }
    objective = all_valid ? sse / nd + penalty(params, alpha, l1_ratio) : kInfinity;
  }

  f_.resize(ns_);
  residuals_.resize(ns_);
  diagonal_.resize(m);
  gradient_.resize(m);
  trial_params_.resize(m);

  double lambda = kInitialDamping;
  int rejections = 0;
  std::size_t iteration = 0;
  bool jacobian_stale = true;
  while (lambda <= kMaxDamping && iteration < max_iterations) {
    if (jacobian_stale) {
      for (std::size_t i = 0; i < ns_; ++i) {
        f_[i] = current_valid_[root + i] ? current_values_[root + i].re : 0.0;
        residuals_[i] = f_[i] - targets[i];
      }
      for (std::size_t k = 0; k < m; ++k) {
        const std::uint64_t bit = std::uint64_t{1} << k;
        const double shifted = params[k] + kStep;
        double d = 0.0;
        double grad = 0.0;
        for (std::size_t i = 0; i < ns_; ++i) {
          for (const std::uint32_t n : dependent_) {
            const Node& node = nodes_[n];
            if ((node.deps & bit) == 0) continue;
            if (node.token.kind == TokenKind::Param) {
              scratch_values_[n] = Complex{shifted, 0.0};
              scratch_valid_[n] = 1;
              continue;
            }
            const auto input = [&](std::uint32_t c, Complex& v) {
              if (nodes_[c].deps & bit) {
                v = scratch_values_[c];
                return scratch_valid_[c] != 0;
              }
              const std::size_t ci = c * ns_ + i;
              if (nodes_[c].deps == 0) {
                v = fixed_values_[ci];
                return fixed_valid_[ci] != 0;
              }
              v = current_values_[ci];
              return current_valid_[ci] != 0;
            };
            Complex a{}, b{};
            const bool inputs =
                input(node.left, a) && (node.token.arity == 1 || input(node.right, b));
            scratch_valid_[n] = inputs && apply(node.token.op_id, a, b, scratch_values_[n]);
          }
          const std::size_t top = nodes_.size() - 1;
          const double g = scratch_valid_[top] ? scratch_values_[top].re : 0.0;
          const double j = (g - f_[i]) / kStep;
          d = d + j * j;
          grad = grad + j * residuals_[i];
        }
        diagonal_[k] = d;
        gradient_[k] = grad;
      }
      jacobian_stale = false;
    }

    for (std::size_t k = 0; k < m; ++k)
      trial_params_[k] = params[k] - gradient_[k] / ((lambda + diagonal_[k]) + kGuard);

    // The trial's objective, abandoned once it can no longer beat the
    // incumbent: the partial sum of squares only grows with more samples.
    const double trial_penalty = penalty(trial_params_, alpha, l1_ratio);
    const bool can_skip = objective != kInfinity;
    double trial_objective = kInfinity;
    {
      double sse = 0.0;
      bool complete = true;
      for (std::size_t i = 0; i < ns_; ++i) {
        if (!evaluate_sample(i, samples, trial_params_, trial_values_, trial_valid_)) {
          complete = false;
          break;
        }
        const double residual = trial_values_[root + i].re - targets[i];
        sse = sse + residual * residual;
        if (can_skip && sse / nd + trial_penalty >= objective) {
          complete = false;
          break;
        }
      }
      if (complete) trial_objective = sse / nd + trial_penalty;
    }

    if (trial_objective < objective) {
      params.swap(trial_params_);
      std::swap(current_values_, trial_values_);
      std::swap(current_valid_, trial_valid_);
      jacobian_stale = true;
      const double decrease = objective - trial_objective;
      objective = trial_objective;
      if (decrease < kTolerance) break;
      lambda = lambda / 10.0;
      rejections = 0;
    } else {
      if (rejections >= kRejectionsTolerated) break;
      rejections += 1;
      lambda = lambda * 10.0;
    }
    iteration += 1;
  }
  return objective;
}

}  // namespace tov
