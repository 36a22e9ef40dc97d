// The builtin operator catalogue: one row per operator, in registry id order
// (ids 5 to 22, after the five named constants).
//
// Every list that depends on the operator set is generated from this table:
// the id constants and the name table (ops/registry.hpp), the operator
// classes and their registration (ops/builtin.*, ops/registry.cpp), and the
// scalar and block dispatch (ops/kernels.hpp, engine/block_eval.hpp). Adding
// an operator means adding one row here and its kernel in ops/kernels.hpp.
//
// Columns: X(Type, name, arity, commutative, LaTeX template, Python
// template, kernel). Templates take "{}" for the argument texts in order and
// "{{" / "}}" for literal braces; the kernel is a function of
// tov::kernels taking `arity` Complex arguments.
#pragma once

// clang-format off
#define TOV_BUILTIN_OPERATORS(X)                                                                  \
  X(Tov,      "TOV",      2, false, R"(e^{{{}}} - \ln({}))",  "(np.exp({}) - np.log({}))", eval_tov) \
  X(Neg,      "Neg",      1, false, "(-({}))",                "(-({}))",                   eval_neg) \
  X(Inv,      "Inv",      1, false, R"(\frac{{1}}{{{}}})",    "(1/({}))",                  eval_inv) \
  X(Plus,     "Plus",     2, true,  "{} + {}",                "({})+({})",                 eval_plus) \
  X(Times,    "Times",    2, true,  R"({} \cdot {})",         "({})*({})",                 eval_times) \
  X(Subtract, "Subtract", 2, false, "{} - {}",                "({})-({})",                 eval_subtract) \
  X(Divide,   "Divide",   2, false, R"(\frac{{{}}}{{{}}})",   "(({})/({}))",               eval_divide) \
  X(Exp,      "Exp",      1, false, "e^{{{}}}",               "np.exp({})",                eval_exp) \
  X(Log,      "Log",      1, false, R"(\ln({}))",             "np.log({})",                eval_log) \
  X(Sqrt,     "Sqrt",     1, false, R"(\sqrt{{{}}})",         "np.sqrt({})",               eval_sqrt) \
  X(Sin,      "Sin",      1, false, R"(\sin({}))",            "np.sin({})",                eval_sin) \
  X(Cos,      "Cos",      1, false, R"(\cos({}))",            "np.cos({})",                eval_cos) \
  X(Tan,      "Tan",      1, false, R"(\tan({}))",            "np.tan({})",                eval_tan) \
  X(ArcSin,   "ArcSin",   1, false, R"(\arcsin({}))",         "np.arcsin({})",             eval_arcsin) \
  X(ArcCos,   "ArcCos",   1, false, R"(\arccos({}))",         "np.arccos({})",             eval_arccos) \
  X(ArcTan,   "ArcTan",   1, false, R"(\arctan({}))",         "np.arctan({})",             eval_arctan) \
  X(Square,   "Square",   1, false, "{{{}}}^2",               "({})**2",                   eval_square) \
  X(Cube,     "Cube",     1, false, "{{{}}}^3",               "({})**3",                   eval_cube)
// clang-format on
