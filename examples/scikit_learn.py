"""The search as a scikit-learn estimator: pipelines, cross-validation and
grid search over the formula size.

Data: the area of an ellipse, pi a b, with a little noise.
"""

import numpy as np
from sklearn.model_selection import GridSearchCV, cross_val_score
from sklearn.pipeline import make_pipeline
from sklearn.preprocessing import FunctionTransformer
from tov_sr_tools import TovRegressor

rng = np.random.default_rng(2)
X = rng.uniform(0.5, 3.0, size=(60, 2))
y = np.pi * X[:, 0] * X[:, 1] + rng.normal(scale=0.01, size=60)

model = TovRegressor(max_complexity=5, beam_width=100)
print("cross-validated R^2:", cross_val_score(model, X, y, cv=3).round(6))

grid = GridSearchCV(model, {"max_complexity": [3, 5], "complexity_penalty": [0.1, 1.0]}, cv=3)
grid.fit(X, y)
print("best settings:", grid.best_params_)
print("formula:", grid.best_estimator_.result_.formula, grid.best_estimator_.result_.parameters)

# Inputs in other units: the pipeline converts centimetres to metres first.
pipeline = make_pipeline(FunctionTransformer(lambda cm: cm / 100.0), model)
pipeline.fit(X * 100.0, y)
print("through a pipeline:", pipeline[-1].result_.formula, pipeline.score(X * 100.0, y))
