"""predict_proba throughput: the Python MLPClassifier against
scikit-learn's on the same network shape (64 inputs, 100 hidden units, 10
classes), both fitted on the same 5000 rows, then timed on 10^6 rows of 64
inputs, one thread each (scikit-learn's BLAS limited to one thread; the
library scores on the calling thread). Best of --repeat runs (7); rows
per second and the ratio."""

import argparse
import os
import sys
import time
import warnings

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compare  # noqa: E402

import numpy as np  # noqa: E402
import sklearn  # noqa: E402
from sklearn.exceptions import ConvergenceWarning  # noqa: E402
from sklearn.neural_network import MLPClassifier as SkMLP  # noqa: E402
from threadpoolctl import threadpool_limits  # noqa: E402

import vxneural  # noqa: E402


def best_seconds(fn, repeat):
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--rows", type=int, default=10**6)
    p.add_argument("--repeat", type=int, default=7)
    a = p.parse_args()
    rng = np.random.RandomState(0)
    inputs, hidden, classes = 64, 100, 10
    teacher = rng.normal(size=(inputs, classes))
    x_fit = rng.normal(size=(5000, inputs))
    y_fit = np.argmax(x_fit @ teacher + rng.normal(size=(5000, classes)), axis=1)
    x = rng.normal(size=(a.rows, inputs))

    ours = vxneural.MLPClassifier(hidden_layer_sizes=(hidden,), max_iter=20,
                                  compute_importances=False).fit(x_fit, y_fit)
    peers = {}
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ConvergenceWarning)
        for activation in ("relu", "tanh"):
            peers[activation] = SkMLP(hidden_layer_sizes=(hidden,), activation=activation,
                                      max_iter=20, random_state=0).fit(x_fit, y_fit)
    assert ours.predict_proba(x[:5]).shape == peers["relu"].predict_proba(x[:5]).shape
    print(f"Machine: {os.cpu_count()} x {compare.cpu_model()}; load average {compare.load()}")
    print(f"predict_proba on {a.rows} rows of {inputs} inputs, network {inputs}-{hidden}-{classes},"
          f" one thread, best of {a.repeat}; scikit-learn {sklearn.__version__}")
    with threadpool_limits(limits=1):
        our_s = best_seconds(lambda: ours.predict_proba(x), a.repeat)
        print(f"  vxneural MLPClassifier (tanh)      {our_s:7.3f} s  {a.rows / our_s / 1e6:7.3f} M rows/s")
        for activation, model in peers.items():
            s = best_seconds(lambda: model.predict_proba(x), a.repeat)
            print(f"  scikit-learn MLPClassifier ({activation}) {s:7.3f} s  "
                  f"{a.rows / s / 1e6:7.3f} M rows/s   ratio {s / our_s:5.2f}x")


if __name__ == "__main__":
    main()
