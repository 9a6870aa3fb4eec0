"""Multi-layer perceptrons and radial basis function networks as
scikit-learn estimators.

The estimators train with the same steps and defaults as the ``vxnn``
program: categorical columns (pandas ``category`` or ``object`` columns,
text in numpy arrays) are read natively, missing values (NaN, ``None``)
are imputed, and the network's size is chosen by cross-validation unless
it is given.

Training and prediction use every core the process may use (or the count
the environment variable ``VXNN_THREADS`` gives); ``set_threads(n)``
changes it for the whole process. The models are the same for any count.
"""

from ._estimators import (
    MLPClassifier,
    MLPRegressor,
    RBFClassifier,
    RBFRegressor,
    load,
)
from ._vxneural import get_threads, set_threads

__all__ = [
    "MLPClassifier",
    "MLPRegressor",
    "RBFClassifier",
    "RBFRegressor",
    "get_threads",
    "load",
    "set_threads",
]
__version__ = "0.1.0"
