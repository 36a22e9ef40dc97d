"""Sums of terms and products of powers: `max_terms`.

A formula of the level-wise search reaches about 10 tokens. With
`max_terms=k` the search also fits sums b + a_1 f_1 + ... + a_m f_m and
products C f_1^e_1 ... f_m^e_m of up to k of the formulas it retained, each
exact in its coefficients and refined as a whole, so that long laws made of
short parts come out exactly:

- a four-term polynomial in one variable,
- a sum of two products in three variables,
- a monomial in five variables (from a regression in log space),
- and on measured data without a known law (scikit-learn's diabetes data),
  a sum of short polynomial terms chosen by cross-validation, beside
  ordinary least squares.
"""

import numpy as np
import tov_sr

rng = np.random.default_rng(0)


def show(label, result):
    constants = ", ".join(f"{p:.6g}" for p in result.parameters)
    print(f"{label}: {result.formula}")
    print(f"  constants {constants}; error {result.error:.3g}, {result.complexity} tokens")


# x^4 - 3 x^2 + 2 x + 5 on 30 points.
x = rng.uniform(-2.0, 2.0, 30)
polynomial = tov_sr.Searcher(max_complexity=5, beam_width=300, verbose=False, max_terms=4)
show("polynomial", polynomial.find_function(x, x**4 - 3.0 * x**2 + 2.0 * x + 5.0))

# 2 v0 v1 + 3 v1 v2 in three variables.
inputs = rng.uniform(-2.0, 2.0, (40, 3))
v0, v1, v2 = inputs.T
products = tov_sr.Searcher(max_complexity=4, beam_width=200, verbose=False, max_terms=3)
show("two products", products.find_multivariate(inputs, 2.0 * v0 * v1 + 3.0 * v1 * v2))

# 1.5 v0 v1^2 sqrt(v2) / (v3 v4^3) in five positive variables.
positive = rng.uniform(1.0, 4.0, (40, 5))
p = positive.T
monomial = 1.5 * p[0] * p[1] ** 2 * np.sqrt(p[2]) / (p[3] * p[4] ** 3)
five = tov_sr.Searcher(max_complexity=4, beam_width=100, verbose=False, max_terms=5)
show("monomial", five.find_multivariate(positive, monomial))

try:
    from sklearn.datasets import load_diabetes
    from sklearn.linear_model import LinearRegression
    from sklearn.model_selection import train_test_split
except ImportError:
    print("diabetes: needs scikit-learn")
else:
    from tov_sr_tools import TovRegressor

    X, y = load_diabetes(return_X_y=True)
    X_train, X_test, y_train, y_test = train_test_split(X, y, test_size=0.25, random_state=0)
    ols = LinearRegression().fit(X_train, y_train)
    # Short terms (a variable, its square or cube) keep the sum readable;
    # without Divide and Inv no term can blow up near a zero of the inputs.
    polynomial = ["Neg", "Plus", "Times", "Subtract", "Square", "Cube"]
    model = TovRegressor(
        max_complexity=2, beam_width=300, operators=polynomial, max_terms=10, selection="cv"
    ).fit(X_train, y_train)
    terms = model.result_.formula.count("Times(C, ")
    print(f"diabetes: test R^2 {model.score(X_test, y_test):.3f} with {terms} terms, "
          f"{model.result_.complexity} tokens; least squares {ols.score(X_test, y_test):.3f}")
    print(f"  {model.result_.formula}")
