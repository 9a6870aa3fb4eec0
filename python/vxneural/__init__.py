"""Multi-layer perceptrons and radial basis function networks as
scikit-learn estimators.

The estimators train with the same steps and defaults as the ``vxnn``
program: categorical columns (pandas ``category`` or ``object`` columns,
text in numpy arrays) are read natively, missing values (NaN, ``None``)
are imputed, and the network's size is chosen by cross-validation unless
it is given.
"""

from ._estimators import (
    MLPClassifier,
    MLPRegressor,
    RBFClassifier,
    RBFRegressor,
    load,
)

__all__ = ["MLPClassifier", "MLPRegressor", "RBFClassifier", "RBFRegressor", "load"]
__version__ = "0.1.0"
