// Constant refinement organised for speed, with exactly the arithmetic of
// refine_constants (engine/optimizer.hpp): every value it computes is one
// the plain version computes too, in the same order, so results agree bit
// for bit. What it saves:
//   - nodes that depend on no parameter are evaluated once per call;
//   - a Jacobian column re-evaluates only the nodes that depend on its
//     parameter;
//   - an accepted trial's values become the next point's values, and after
//     a rejected trial the Jacobian is reused;
//   - a trial is abandoned as soon as its partial objective reaches the
//     incumbent: the sum of squares can only grow.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "fit/block_eval.hpp"
#include "fit/scoring.hpp"
#include "formula/expression.hpp"
#include "numeric/complex.hpp"

namespace tov {

// What is already known of an operand of the root operator: its values at
// the starting parameter values and, for each of its own parameters in
// order, its values with that parameter moved by the Jacobian's step.
struct KnownOperand {
  Column at_start;
  std::span<const Column> shifted;
};

// A refiner keeps its buffers from call to call, so refining many
// candidates allocates almost nothing. It serves one thread at a time: give
// every worker its own.
class FastRefiner {
 public:
  // The most parameters a candidate may have to be refined here.
  static constexpr std::size_t kMaxParams = 64;

  // Refines the Param values of `tokens` (a valid postfix expression over the
  // builtin operator ids). `params` holds the starting values on entry and
  // the refined ones on return; the objective at them is returned. Requires
  // 1 <= params.size() <= kMaxParams and as many samples as targets.
  // `left` and `right`, when given, describe the operands of the root
  // operator at the starting values; they save the first evaluation and the
  // first Jacobian, whose values they already hold.
  double refine(std::span<const Token> tokens, Samples samples, const Objective& objective,
                std::size_t max_iterations, std::vector<double>& params,
                const KnownOperand* left = nullptr, const KnownOperand* right = nullptr);
  // The plain objective (unweighted, unscaled).
  double refine(std::span<const Token> tokens, Samples samples, std::span<const double> targets,
                std::size_t max_iterations, double alpha, double l1_ratio,
                std::vector<double>& params, const KnownOperand* left = nullptr,
                const KnownOperand* right = nullptr);

 private:
  struct Node {
    Token token;
    std::uint32_t left = 0;
    std::uint32_t right = 0;
    std::uint64_t deps = 0;  // bit k: depends on parameter k
  };
  // Node-major value storage: node * ns + sample.
  struct Buffer {
    std::vector<Complex> values;
    std::vector<std::uint8_t> valid;
    void resize(std::size_t size) {
      values.resize(size);
      valid.resize(size);
    }
  };
  // A root operand whose values at the starting point are known.
  struct Operand {
    std::uint32_t node;
    const KnownOperand* known;
    std::size_t first_param;  // index of its first parameter in the candidate
  };

  void compile(std::span<const Token> tokens);
  // Sets up the nodes and buffers for `tokens` and evaluates the starting
  // point into current_, from the known operands where given; returns the
  // objective there.
  double start(std::span<const Token> tokens, Samples samples, std::span<const double> params,
               const KnownOperand* left, const KnownOperand* right);
  // Residuals at the current point, and the diagonal of the normal matrix
  // and the gradient from a forward-difference Jacobian.
  void jacobian(std::span<const double> params);
  // Real parts of the root's column (0.0 where it has no value) into `out`,
  // scaled when the objective scales.
  void predictions(const Buffer& buffer, std::vector<double>& out) const;
  // The objective from a complete root column: +infinity where a sample has
  // no value.
  double objective_of(const Buffer& buffer, std::span<const double> params) const;
  // The root's values with parameter k moved by the Jacobian step, into
  // scratch_.
  void shifted_root(std::span<const double> params, std::size_t k);
  // The objective at `trial`, evaluated into trial_ block by block; +infinity
  // once it can no longer fall below `incumbent` (the sum of squares only
  // grows) or where a sample has no value.
  double trial_objective(std::span<const double> trial, double incumbent);
  // Evaluates the parameter-free nodes; the subtree under `skip` (a node
  // whose column is supplied from outside) is left out.
  void evaluate_fixed(Samples samples, std::optional<std::uint32_t> skip);
  Column column(const Buffer& buffer, std::uint32_t node) const {
    return {&buffer.values[node * ns_], &buffer.valid[node * ns_]};
  }
  void set_column(Buffer& buffer, std::uint32_t node, Column from);
  // The column of operand node `node` at the current point.
  Column current_column(std::uint32_t node) const {
    return column(nodes_[node].deps ? current_ : fixed_, node);
  }
  // Evaluates, over samples [begin, end), the nodes that depend on a
  // parameter into `out`. With `shifted_param` set, only the nodes that
  // depend on that parameter are evaluated, with its value replaced by
  // `shifted`, and the other parameter-dependent inputs come from current_.
  void evaluate_dependent(std::span<const double> params, Buffer& out, std::size_t begin,
                          std::size_t end, int shifted_param = -1, double shifted = 0.0);
  double penalty(std::span<const double> params, const Affine& scale) const;

  std::vector<Node> nodes_;
  std::vector<std::uint32_t> dependent_;   // nodes with deps != 0, postfix order
  std::vector<double> reals_;              // values of Real tokens, token order
  std::vector<std::uint32_t> first_node_;  // first node of each node's subtree
  const Objective* objective_ = nullptr;   // during refine()
  std::vector<Operand> operands_;          // known root operands, when given
  // The next Jacobian is the first and its shifted columns come from operands_.
  bool jacobian_from_operands_ = false;
  std::size_t ns_ = 0;
  std::uint32_t root_ = 0;
  Buffer fixed_;
  Buffer current_;
  Buffer trial_;
  Buffer scratch_;
  std::vector<double> f_;
  std::vector<double> g_;
  std::vector<double> residuals_;
  std::vector<double> diagonal_;
  std::vector<double> gradient_;
  std::vector<double> trial_params_;
};

}  // namespace tov
