"""The Python peer of bench/compare_peers.sh: the same arguments, encoding
and output line as vxnn_peer (see vxnn_peer.cpp), with scikit-learn's
MLPClassifier / MLPRegressor.

    sklearn_peer.py --task class|regr --train FILE [--test FILE] --hidden H
                    --passes P [--method lbfgs|sgd|default] [--seed S]

A class is learnt by a SoftMax output under the cross-entropy loss, a
standardized regression target by an identity output under the squared
loss; hidden units are tanh, no weight penalty (alpha 0), the library's own
seeded initial weights. Both methods are full-batch: lbfgs evaluates the
loss and gradient over all records at most P times (each evaluation is one
data pass; they are counted), sgd takes P epochs of one batch holding every
record (plain gradient steps with momentum 0.9, learning rate 0.01). The
default method is the library's default fit instead: every setting at its
default but the seed (hidden and passes do not apply). The linear algebra runs on one thread, as the other libraries do.

train_error is the library's loss (mean per record), which is not the error
vxnn_peer prints. compare.py imports run() to avoid starting Python for
every run; the command line is for trying one run by hand.
"""

import argparse
import csv
import time
import warnings

import numpy as np
from sklearn.exceptions import ConvergenceWarning
from sklearn.neural_network import MLPClassifier, MLPRegressor
from threadpoolctl import threadpool_limits


class _CountingClassifier(MLPClassifier):
    def _loss_grad_lbfgs(self, *args):
        self.n_passes_ += 1
        return super()._loss_grad_lbfgs(*args)


class _CountingRegressor(MLPRegressor):
    def _loss_grad_lbfgs(self, *args):
        self.n_passes_ += 1
        return super()._loss_grad_lbfgs(*args)


def read_csv(path):
    with open(path, newline="") as f:
        rows = [r for r in csv.reader(f) if r]
    body = rows[1:]
    if not body:
        raise SystemExit(f"sklearn_peer: error: no records in {path}")
    x = np.array([[float(v) for v in r[:-1]] for r in body], dtype=np.float64)
    return x, [r[-1].strip() for r in body]


def scaling_of(x):
    """Mean and sample standard deviation of each column (1 where it is 0)."""
    mean = x.mean(axis=0)
    sd = x.std(axis=0, ddof=1) if x.shape[0] > 1 else np.ones_like(mean)
    sd = np.where(sd > 0.0, sd, 1.0)
    return mean, sd


def run(task, train, test, hidden, passes, method="lbfgs", seed=1):
    classify = task == "class"
    x, labels = read_csv(train)
    mean, sd = scaling_of(x)
    x = (x - mean) / sd
    common = dict(
        hidden_layer_sizes=(hidden,),
        activation="tanh",
        alpha=0.0,
        random_state=seed,
        tol=0.0,
        shuffle=False,
    )
    if method == "lbfgs":
        common.update(solver="lbfgs", max_iter=passes, max_fun=passes)
    elif method == "sgd":
        common.update(
            solver="sgd",
            batch_size=x.shape[0],
            max_iter=passes,
            n_iter_no_change=passes + 1,
            learning_rate_init=0.01,
            momentum=0.9,
            nesterovs_momentum=False,
        )
    elif method == "default":
        # The library's default fit: every setting at its default but the
        # seed (hidden does not apply).
        common = dict(random_state=seed)
    else:
        raise SystemExit("sklearn_peer: error: --method is lbfgs, sgd or default")
    if classify:
        model, y = _CountingClassifier(**common), np.array(labels)
    else:
        y = np.array([float(v) for v in labels])
        y_mean, y_sd = scaling_of(y[:, None])
        y_mean, y_sd = float(y_mean[0]), float(y_sd[0])
        model = _CountingRegressor(**common)
        y = (y - y_mean) / y_sd
    model.n_passes_ = 0

    with threadpool_limits(limits=1), warnings.catch_warnings():
        warnings.simplefilter("ignore", ConvergenceWarning)
        wall0, cpu0 = time.perf_counter(), time.process_time()
        model.fit(x, y)
        cpu1, wall1 = time.process_time(), time.perf_counter()

    result = {
        "records": x.shape[0],
        "passes": model.n_passes_ if method == "lbfgs" else model.n_iter_,
        "hidden": model.hidden_layer_sizes[0],
        "cpu_s": cpu1 - cpu0,
        "wall_s": wall1 - wall0,
        "train_error": float(model.loss_),
    }
    if test:
        xt, labels_t = read_csv(test)
        xt = (xt - mean) / sd
        with threadpool_limits(limits=1):
            predicted = model.predict(xt)
        if classify:
            result["accuracy"] = float(np.mean(predicted == np.array(labels_t)))
        else:
            yt = np.array([float(v) for v in labels_t])
            predicted = predicted * y_sd + y_mean
            result["relerr"] = float(
                np.sum((yt - predicted) ** 2) / np.sum((yt - y_mean) ** 2)
            )
    return result


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--task", choices=["class", "regr"], required=True)
    p.add_argument("--train", required=True)
    p.add_argument("--test")
    p.add_argument("--hidden", type=int, required=True)
    p.add_argument("--passes", type=int, required=True)
    p.add_argument("--method", choices=["lbfgs", "sgd", "default"], default="lbfgs")
    p.add_argument("--seed", type=int, default=1)
    a = p.parse_args()
    r = run(a.task, a.train, a.test, a.hidden, a.passes, a.method, a.seed)
    print(" ".join(f"{k}={v:.6g}" if isinstance(v, float) else f"{k}={v}" for k, v in r.items()))


if __name__ == "__main__":
    main()
