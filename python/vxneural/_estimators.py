"""The four estimators and what they share: reading numpy and pandas data
into columns of numbers and categories, the options of a fit, and the
fitted model's saved forms."""

import numbers
import sys
import warnings

import numpy as np
import pandas as pd
from sklearn.base import BaseEstimator, ClassifierMixin, RegressorMixin
from sklearn.utils import check_array, check_consistent_length, check_random_state
from sklearn.utils.multiclass import check_classification_targets
from sklearn.utils.validation import _check_sample_weight, check_is_fitted, column_or_1d

from . import _vxneural

# ---------------------------------------------------------------------------
# Reading data


def _label_text(value):
    """The text a category has in the model (and in a CSV file). The
    module writes numbers read as categories the same way."""
    if isinstance(value, (bool, np.bool_)):
        return str(bool(value))
    if isinstance(value, numbers.Integral):
        return str(int(value))
    if isinstance(value, numbers.Real):
        # A whole number is written as a CSV file holds it: 6, not 6.0.
        x = float(value)
        return str(int(x)) if x.is_integer() and abs(x) < 1e16 else repr(x)
    return str(value)


def _is_number(value):
    return isinstance(value, numbers.Real) and not isinstance(value, (bool, np.bool_))


def _categories(values):
    """A column as category codes (-1: missing) and the categories' texts.
    Values that read as the same text (1 and "1") are one category."""
    with warnings.catch_warnings():
        # pandas announces another inference for object indexes; the
        # uniques are only read here, whatever their index's type.
        warnings.simplefilter("ignore", FutureWarning)
        codes, uniques = pd.factorize(pd.Series(values, dtype=object), use_na_sentinel=True)
    texts, index, remap = [], {}, np.empty(len(uniques), dtype=np.int64)
    for k, u in enumerate(uniques):
        if not isinstance(u, (str, numbers.Number, np.generic)):
            raise TypeError(
                f"argument must be a string or a number, not '{type(u).__name__}'")
        t = _label_text(u)
        remap[k] = index.setdefault(t, len(texts))
        if remap[k] == len(texts):
            texts.append(t)
    codes = np.asarray(codes, dtype=np.int64)
    return np.where(codes >= 0, remap[np.maximum(codes, 0)] if len(remap) else -1, -1), texts


def _object_column(values, name):
    """A column of a numpy object array: numbers if every value present is
    a number, else categories; anything else is refused."""
    missing = pd.isna(values)
    present = values[~missing]
    kinds = {type(v) for v in present}
    if all(issubclass(k, numbers.Real) and not issubclass(k, (bool, np.bool_))
           for k in kinds):
        out = np.full(len(values), np.nan)
        out[~missing] = present.astype(np.float64)
        return out
    for k in kinds:
        if not issubclass(k, (str, numbers.Number, np.generic)):
            raise TypeError(
                f"argument must be a string or a number, not '{k.__name__}' (column {name})")
    return _categories(values)


def _frame_columns(X):
    """The columns of a pandas frame: category, object, string and bool
    columns are categorical, numeric ones continuous."""
    columns = []
    for name in X.columns:
        col = X[name]
        dtype = col.dtype
        if isinstance(dtype, pd.CategoricalDtype):
            cats = list(col.cat.categories)
            codes = col.cat.codes.to_numpy(dtype=np.int64)
            texts = [_label_text(c) for c in cats]
            if len(set(texts)) != len(texts):
                codes, texts = _categories(np.asarray(col.astype(object)))
            columns.append((codes, texts))
        elif pd.api.types.is_bool_dtype(dtype) or pd.api.types.is_object_dtype(dtype) or \
                pd.api.types.is_string_dtype(dtype):
            columns.append(_categories(col.to_numpy(dtype=object)))
        elif pd.api.types.is_numeric_dtype(dtype) and not pd.api.types.is_complex_dtype(dtype):
            columns.append(col.to_numpy(dtype=np.float64, na_value=np.nan))
        else:
            raise ValueError(f"column {name!r} has dtype {dtype}, which is neither numbers "
                             "nor categories")
    return columns


def _array_columns(X):
    """The columns of a 2-d array: numbers, or (codes, texts) for text.
    Infinite numbers are refused where the module reads them."""
    if X.dtype.kind in "fiub":
        X = X.astype(np.float64, copy=False)
        return [X[:, j] for j in range(X.shape[1])]
    if X.dtype.kind in "US":
        return [_categories(X[:, j]) for j in range(X.shape[1])]
    return [_object_column(X[:, j], j) for j in range(X.shape[1])]


def _as_categorical(column):
    """A numeric column read as categories (categorical_features)."""
    if isinstance(column, tuple):
        return column
    values = np.asarray(column, dtype=object)
    values[np.isnan(column)] = None
    return _categories(values)


# ---------------------------------------------------------------------------
# Messages

# The training code's messages name vxnn's command-line options; a Python
# user set the estimator's parameters.
_PARAMETER_OF_OPTION = [
    ("--hidden-units", "hidden_layer_sizes"), ("--hidden-layers", "hidden_layer_sizes"),
    ("--hidden-activation", "activation"), ("--method", "solver"),
    ("--mini-batch-size", "batch_size"), ("--training-type minibatch", "batch_size"),
    ("--learning-rate", "learning_rate_init"), ("--momentum", "momentum"),
    ("--max-data-passes", "max_iter"), ("--error-change", "tol"), ("--max-time", "max_time"),
    ("--overlap", "overlap"), ("--input-scaling", "input_scaling"),
    ("--test-fraction", "validation_fraction"), ("--folds", "cv"),
    ("--early-stopping", "early_stopping"), ("--sampling-seed", "random_state"),
    ("--seed", "random_state"), ("--network rbf", "an RBF network"),
]


def _in_python_words(message):
    for option, parameter in _PARAMETER_OF_OPTION:
        message = message.replace(option, parameter)
    return message


# ---------------------------------------------------------------------------
# The estimators


class _Network(BaseEstimator):
    """What the four estimators share. Subclasses set _network ("mlp" or
    "rbf") and give their own options in _options."""

    _network = "mlp"

    # ---- data

    def _columns(self, X, reset):
        """Checks X and returns its columns, in fit's order of features."""
        if hasattr(X, "iloc") and hasattr(X, "columns"):
            if X.ndim != 2:
                raise ValueError("X must be 2-d")
            if X.shape[1] == 0:
                raise ValueError(f"0 feature(s) (shape={X.shape}) while a minimum of 1 is "
                                 "required.")
            if X.shape[0] == 0:
                raise ValueError(f"Found array with 0 sample(s) (shape={X.shape}) while a "
                                 "minimum of 1 is required.")
            self._check_feature_names(X, reset=reset)
            self._check_n_features(X, reset=reset)
            columns = _frame_columns(X)
        else:
            if not hasattr(X, "dtype") and not hasattr(X, "toarray"):
                # A list with text keeps its numbers as numbers.
                array = np.asarray(X)
                X = np.asarray(X, dtype=object) if array.dtype.kind in "US" else array
            X = check_array(X, dtype=None, force_all_finite=False, accept_sparse=False,
                            ensure_2d=True, ensure_min_samples=1, ensure_min_features=1)
            self._check_feature_names(X, reset=reset)
            self._check_n_features(X, reset=reset)
            columns = _array_columns(X)
        if reset:
            self._forced = self._categorical_indices(len(columns))
        return [_as_categorical(c) if j in self._forced else c for j, c in enumerate(columns)]

    def _categorical_indices(self, n):
        given = self.categorical_features
        if given is None:
            return set()
        if isinstance(given, str):
            given = [given]
        given = list(given)
        names = list(getattr(self, "feature_names_in_", []))
        if given and all(isinstance(s, (bool, np.bool_)) for s in given):
            if len(given) != n:
                raise ValueError("categorical_features as a mask needs one entry per feature")
            return {j for j, s in enumerate(given) if s}
        out = set()
        for s in given:
            if isinstance(s, str):
                if s not in names:
                    raise ValueError(f"categorical_features: no feature named {s!r}")
                out.add(names.index(s))
            elif isinstance(s, numbers.Integral) and -n <= s < n:
                out.add(int(s) % n)
            else:
                raise ValueError(f"categorical_features: {s!r} names no feature")
        return out

    def _feature_names(self, n):
        if hasattr(self, "feature_names_in_"):
            names = [str(s) for s in self.feature_names_in_]
            if len(set(names)) != len(names):
                raise ValueError("the feature names must be unique")
            return names
        return [f"x{j}" for j in range(n)]

    # ---- options

    def _seeds(self):
        if self.random_state is None:
            return {}
        if isinstance(self.random_state, numbers.Integral):
            seed = int(self.random_state)
            if not 0 <= seed < 2**32:
                raise ValueError("random_state must lie in [0, 2**32)")
        else:
            seed = int(check_random_state(self.random_state).randint(np.iinfo(np.int32).max))
        if self._network == "rbf":
            # Clustering places the centres and least squares solves the
            # weights: only the split draws at random.
            return {"partition_seed": seed}
        return {"seed": seed, "sampling_seed": seed, "partition_seed": seed}

    def _common_options(self):
        if not (isinstance(self.validation_fraction, numbers.Real)
                and 0.0 <= self.validation_fraction < 1.0):
            raise ValueError("validation_fraction must lie in [0, 1)")
        if self.size_selection not in ("auto", "cv", "rule"):
            raise ValueError("size_selection must be 'auto', 'cv' or 'rule'")
        if self.cv is not None and not (isinstance(self.cv, numbers.Integral) and self.cv >= 2):
            raise ValueError("cv must be None or a whole number of folds, 2 or more")
        if self.handle_unknown not in ("impute", "error"):
            raise ValueError("handle_unknown must be 'impute' or 'error'")
        if isinstance(self.refit, str) and self.refit != "auto":
            raise ValueError("refit must be 'auto', True or False")
        refit = None if isinstance(self.refit, str) else bool(self.refit)
        return dict(network=self._network, test_fraction=float(self.validation_fraction),
                    size_selection=self.size_selection, folds=self.cv, refit=refit,
                    importance=bool(self.compute_importances), **self._seeds())

    # ---- fitting

    def _clear(self):
        """Back to unfitted: every fitted attribute goes."""
        for name in [k for k in vars(self) if k.endswith("_") and not k.startswith("__")]:
            delattr(self, name)
        for name in ("_model", "_forced", "_names", "_units"):
            self.__dict__.pop(name, None)

    def _progress(self):
        verbose, callback = self.verbose, self.callback
        if not verbose and callback is None:
            return None

        def report(event):
            if verbose:
                line = f"{event['phase']}: pass {event['data_passes']}"
                if event["train_error"] == event["train_error"]:
                    line += f", training error {event['train_error']:.6g}"
                if event["test_error"] == event["test_error"]:
                    line += f", test error {event['test_error']:.6g}"
                print(line, file=sys.stdout, flush=True)
            if callback is not None:
                callback(event)
        return report

    def fit(self, X, y, sample_weight=None):
        """Trains the network on X and y, as `vxnn train` would on the same
        table: the options left at None take vxnn's defaults.

        sample_weight: whole numbers; a row of weight k counts k times (0
        leaves it out). Fractional weights are refused."""
        self._clear()
        try:
            return self._fit(X, y, sample_weight)
        except BaseException:
            # A failed or interrupted fit leaves nothing half made.
            self._clear()
            raise

    def _fit(self, X, y, sample_weight):
        if y is None:
            raise ValueError(f"{type(self).__name__} requires y to be passed, but the target y "
                             "is None.")
        # The target keeps the name of a pandas Series, as a CSV column would.
        target_name = str(y.name) if isinstance(getattr(y, "name", None), str) and y.name else "y"
        columns = self._columns(X, reset=True)
        n = len(columns[0]) if not isinstance(columns[0], tuple) else len(columns[0][0])
        y = self._target(y, n)
        if sample_weight is not None:
            rows = self._weighted_rows(sample_weight, X, n)
            columns = [(c[0][rows], c[1]) if isinstance(c, tuple) else c[rows] for c in columns]
            y = y[rows]
            n = len(rows)
        if n < 2:
            raise ValueError(f"n_samples = {n}: at least 2 samples are needed to fit")
        target_column, fitted = self._target_column(y)
        names = self._feature_names(len(columns))
        while target_name in names:
            target_name = "_" + target_name
        options = {**self._common_options(), **self._options()}
        try:
            info = _vxneural.fit(columns + [target_column], names + [target_name], len(columns),
                                 options, self._progress())
        except ValueError as e:
            raise ValueError(_in_python_words(str(e))) from None
        self._model = info["model"]
        self._set_fitted(info, names, fitted)
        return self

    def _weighted_rows(self, sample_weight, X, n):
        w = _check_sample_weight(sample_weight, X, dtype=np.float64)
        if (w < 0).any() or not np.isfinite(w).all():
            raise ValueError("sample_weight must be finite and not negative")
        if (w != np.round(w)).any():
            raise ValueError("sample_weight must hold whole numbers (a row of weight k counts "
                             "k times); fractional weights are not supported")
        rows = np.repeat(np.arange(n), w.astype(np.int64))
        if len(rows) == 0:
            raise ValueError("sample_weight leaves no row to fit")
        return rows

    def _set_fitted(self, info, names, fitted):
        for name, value in fitted.items():
            setattr(self, name, value)
        self.n_iter_ = int(info["n_iter"])
        self.loss_curve_ = list(info["loss_curve"])
        self.n_hidden_units_ = int(info["hidden_units"])
        if info["importance"] is not None:
            # The last column given was the target.
            self.feature_importances_ = np.asarray(info["importance"][:len(names)],
                                                   dtype=np.float64)
        self._names = names

    # ---- scoring

    def _outputs(self, X, order=()):
        check_is_fitted(self)
        columns = self._columns(X, reset=False)
        return self._model.predict(columns, self._names,
                                   unknown_is_error=self.handle_unknown == "error",
                                   order=list(order))

    # ---- saved forms

    def save(self, path, format="binary"):
        """Writes the model in the library's saved form, "binary" or "xml":
        the file `vxnn score` reads."""
        check_is_fitted(self)
        if format not in ("binary", "xml"):
            raise ValueError("format must be 'binary' or 'xml'")
        self._model.save(str(path), format == "xml")

    def export_pmml(self, path):
        """Writes the model as a PMML 4.0 document."""
        check_is_fitted(self)
        self._model.export_pmml(str(path))

    def __getstate__(self):
        # A copy: the state must not replace the live model.
        state = dict(super().__getstate__())
        if "_model" in state:
            state["_model"] = self._model.to_bytes()
        return state

    def __setstate__(self, state):
        if "_model" in state:
            state = dict(state)
            state["_model"] = _vxneural.Model.from_bytes(state["_model"])
        super().__setstate__(state)

    def _restore(self, model):
        """Fitted attributes of a model read from a file."""
        self._model = model
        variables = model.variables()
        features = [v for v in variables if v["role"] != "target"]
        names = [v["name"] for v in features]
        self.n_features_in_ = len(names)
        if names != [f"x{j}" for j in range(len(names))]:
            self.feature_names_in_ = np.asarray(names, dtype=object)
        self._names = names
        self._forced = {j for j, v in enumerate(features) if v["categorical"]}
        self.n_iter_ = model.data_passes()
        self.n_hidden_units_ = model.hidden_units()
        return [v for v in variables if v["role"] == "target"][0]

    def _more_tags(self):
        return {"allow_nan": True}


class _ClassifierBase(ClassifierMixin, _Network):
    def _target(self, y, n):
        y = column_or_1d(y, warn=True)
        check_consistent_length(np.empty(n), y)
        check_classification_targets(y)
        if y.dtype.kind == "O" and pd.isna(y).any():
            raise ValueError("Input y contains missing values (None or NaN)")
        return y

    def _target_column(self, y):
        classes, codes = np.unique(y, return_inverse=True)
        if len(classes) < 2:
            raise ValueError("fit needs at least 2 classes in y; it has one class: "
                             f"{classes[0]!r}")
        texts = [_label_text(c) for c in classes]
        if len(set(texts)) != len(classes):
            raise ValueError("two classes of y have the same text")
        return (codes.astype(np.int64), texts), {"classes_": classes, "_texts": texts}

    def _set_fitted(self, info, names, fitted):
        texts = fitted.pop("_texts")
        super()._set_fitted(info, names, fitted)
        units = np.asarray(self._model.class_units(texts))
        if (units < 0).any():
            raise RuntimeError("the model lost a class of y")
        self._units = [int(u) for u in units]

    def predict_proba(self, X):
        """The probability of each class (columns in the order of classes_).

        An RBF network's outputs are least-squares fits of the class
        indicators, which sum to 1 but may stray below 0 or above 1: they
        are clipped at 0 and rescaled to sum to 1, which keeps their order."""
        check_is_fitted(self)
        p = self._outputs(X, self._units)
        if self._network == "rbf":
            np.clip(p, 0.0, None, out=p)
            total = p.sum(axis=1, keepdims=True)
            p = np.divide(p, total, out=np.full_like(p, 1.0 / p.shape[1]), where=total > 0)
        return p

    def predict_log_proba(self, X):
        with np.errstate(divide="ignore"):
            return np.log(self.predict_proba(X))

    def predict(self, X):
        check_is_fitted(self)
        return self.classes_[np.argmax(self.predict_proba(X), axis=1)]

    @classmethod
    def load(cls, path):
        """An estimator fitted with the model of a saved file."""
        est = cls()
        target = est._restore(_vxneural.Model.load(str(path)))
        if not target["categorical"]:
            raise ValueError(f"{path}: the model predicts a number, not a class")
        labels = target["labels"]
        if target["numeric_labels"]:
            values = np.asarray([float(t) for t in labels])
            classes = values.astype(np.int64) if np.all(values == np.round(values)) else values
        else:
            classes = np.asarray(labels, dtype=object)
        order = np.argsort(classes, kind="stable")
        est.classes_ = classes[order]
        est._units = [int(u) for u in order]
        return est


class _RegressorBase(RegressorMixin, _Network):
    def _target(self, y, n):
        y = check_array(y, ensure_2d=False, dtype=np.float64, input_name="y")
        y = column_or_1d(y, warn=True)
        check_consistent_length(np.empty(n), y)
        return y

    def _target_column(self, y):
        return y, {}

    def predict(self, X):
        return self._outputs(X)[:, 0]

    @classmethod
    def load(cls, path):
        est = cls()
        target = est._restore(_vxneural.Model.load(str(path)))
        if target["categorical"]:
            raise ValueError(f"{path}: the model predicts a class, not a number")
        return est


def load(path):
    """An estimator of the right class for the model saved in path."""
    model = _vxneural.Model.load(str(path))
    target = [v for v in model.variables() if v["role"] == "target"][0]
    kind = model.kind()
    cls = {("mlp", True): MLPClassifier, ("mlp", False): MLPRegressor,
           ("rbf", True): RBFClassifier, ("rbf", False): RBFRegressor}[(kind, target["categorical"])]
    return cls.load(path)


class _MLPOptions:
    def _more_tags(self):
        # Its kind=zeros case fits the rows in another order; unit weights
        # pass (and the RBF networks pass both).
        return {"_xfail_checks": {"check_sample_weights_invariance": (
            "a perceptron's training depends on the order of the rows: the held-out rows and "
            "the folds of the size selection are drawn by position, so the same rows "
            "shuffled give another model")}}

    def _options(self):
        sizes = self.hidden_layer_sizes
        if sizes is not None:
            sizes = [sizes] if isinstance(sizes, numbers.Integral) else list(sizes)
            if len(sizes) > 2 or any(not isinstance(s, numbers.Integral) or s < 1 for s in sizes):
                raise ValueError("hidden_layer_sizes: at most 2 layers of 1 unit or more")
        activation = {"tanh": "tanh", "logistic": "sigmoid"}.get(self.activation)
        if activation is None:
            raise ValueError("activation must be 'tanh' or 'logistic'")
        if self.solver not in ("scg", "gd"):
            raise ValueError("solver must be 'scg' (scaled conjugate gradient) or 'gd'")
        if self.early_stopping not in ("auto", True, False):
            raise ValueError("early_stopping must be 'auto', True or False")
        if self.max_iter is not None and not (isinstance(self.max_iter, numbers.Integral)
                                              and self.max_iter >= 1):
            raise ValueError("max_iter must be None or a whole number, 1 or more")
        options = dict(hidden_units=None if sizes is None else [int(s) for s in sizes],
                       hidden_activation=activation, method=self.solver,
                       learning_rate=self.learning_rate_init, momentum=self.momentum,
                       max_data_passes=self.max_iter, error_change=self.tol,
                       max_time=self.max_time, input_scaling=self.input_scaling,
                       early_stopping=None if self.early_stopping == "auto"
                       else bool(self.early_stopping))
        if self.batch_size is not None:
            if not (isinstance(self.batch_size, numbers.Integral) and self.batch_size >= 1):
                raise ValueError("batch_size must be None (every row at once) or a whole number")
            options.update(training_type="minibatch", mini_batch_size=int(self.batch_size))
        return options


class _RBFOptions:
    def _options(self):
        if self.n_centers is not None and not (isinstance(self.n_centers, numbers.Integral)
                                               and self.n_centers >= 1):
            raise ValueError("n_centers must be None or a whole number, 1 or more")
        if self.activation not in ("normalized-radial-basis", "radial-basis"):
            raise ValueError("activation must be 'normalized-radial-basis' or 'radial-basis'")
        return dict(hidden_units=None if self.n_centers is None else [int(self.n_centers)],
                    hidden_activation=self.activation, overlap=self.overlap)


_MLP_DOC = """
    hidden_layer_sizes : None, int or tuple of at most 2 ints
        Units per hidden layer; None chooses one layer's size from the data.
    activation : 'tanh' or 'logistic'
        The hidden units' activation.
    solver : 'scg' or 'gd'
        Scaled conjugate gradient, or gradient descent with momentum.
    batch_size : None or int
        None trains on every row at once; an int, in mini-batches (solver 'gd').
    learning_rate_init, momentum : None or float
        Gradient descent's initial learning rate and momentum.
    max_iter : None or int
        The most data passes a training run makes.
    tol : None or float
        Training stops when the error's relative change falls below this.
    max_time : None or float
        Seconds a training run may take.
    early_stopping : 'auto', True or False
        Stop at the lowest error on the held-out rows; 'auto' lets the size
        selection choose.
    input_scaling : None, 'standard' or 'range'
        How continuous inputs are scaled for the network.
"""

_RBF_DOC = """
    n_centers : None or int
        The number of centres; None chooses it from the data.
    activation : 'normalized-radial-basis' or 'radial-basis'
    overlap : None or float
        The factor on each cluster's variance that gives its centre's width.
"""

_COMMON_DOC = """
    validation_fraction : float in [0, 1)
        Share of the rows held out to decide when to stop (and, for
        'auto', which regime); the model kept is then refitted on every row
        (refit).
    size_selection : 'auto', 'cv' or 'rule'
        How the size is chosen when not given: by cross-validation ('cv',
        and 'auto' up to 20000 rows) or by the size rules.
    cv : None or int
        Folds of the size selection; None: 5 up to 1000 rows, else 3.
    refit : 'auto' or bool
        Train the chosen model again on every row: 'auto' while the rows
        fitted on are fewer than 20000 (beyond that the refit costs a
        second training and buys nothing measurable), True always.
    categorical_features : None, list of names or indices, or a mask
        Numeric features to read as categories. pandas category, object,
        string and bool columns and text are categorical anyway.
    handle_unknown : 'impute' or 'error'
        A category not seen in fit: imputed as a missing value (the most
        frequent category), or ValueError.
    compute_importances : bool
        Compute feature_importances_.
    random_state : None, int or RandomState
        None keeps the library's fixed seeds (the same model every time, as
        vxnn gives); an int seeds the weights, the samples and the split.
    verbose : int
        Print a line per progress report of the training.
    callback : None or callable
        Called with a dict (phase, data_passes, train_error, test_error,
        accuracy, elapsed, hidden_units) on every progress report.
"""


def _keep_parameters(estimator, given):
    """The constructor's arguments as the estimator's parameters, unchanged
    and nothing else (scikit-learn's convention: no work in __init__)."""
    for name, value in given.items():
        if name != "self":
            setattr(estimator, name, value)


def _init_doc(cls, what, own):
    cls.__doc__ = f"{what}\n\n    Parameters\n    ----------{own}{_COMMON_DOC}"
    return cls


class MLPClassifier(_MLPOptions, _ClassifierBase):
    def __init__(self, hidden_layer_sizes=None, activation="tanh", solver="scg",
                 batch_size=None, learning_rate_init=None, momentum=None, max_iter=None,
                 tol=None, max_time=None, early_stopping="auto", input_scaling=None,
                 validation_fraction=0.3, size_selection="auto", cv=None, refit="auto",
                 categorical_features=None, handle_unknown="impute", compute_importances=True,
                 random_state=None, verbose=0, callback=None):
        _keep_parameters(self, locals())


class MLPRegressor(_MLPOptions, _RegressorBase):
    __init__ = MLPClassifier.__init__


class RBFClassifier(_RBFOptions, _ClassifierBase):
    _network = "rbf"

    def __init__(self, n_centers=None, activation="normalized-radial-basis", overlap=None,
                 validation_fraction=0.3, size_selection="auto", cv=None, refit="auto",
                 categorical_features=None, handle_unknown="impute", compute_importances=True,
                 random_state=None, verbose=0, callback=None):
        _keep_parameters(self, locals())


class RBFRegressor(_RBFOptions, _RegressorBase):
    _network = "rbf"
    __init__ = RBFClassifier.__init__


_init_doc(MLPClassifier, "A multi-layer perceptron classifier.", _MLP_DOC)
_init_doc(MLPRegressor, "A multi-layer perceptron regressor.", _MLP_DOC)
_init_doc(RBFClassifier, "A radial basis function network classifier.", _RBF_DOC)
_init_doc(RBFRegressor, "A radial basis function network regressor.", _RBF_DOC)
