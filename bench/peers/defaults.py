"""`vxnn train` with its defaults against scikit-learn's MLPClassifier /
MLPRegressor with theirs, on the same seeded 70/30 splits. Started by
bench/defaults.sh; see bench/README.md.

Every vxnn configuration trains on the training file exactly as a user
would run it (the program holds out its own test share of that file to
choose when to stop, then by default trains again on all of it), and
scores the test file with the saved model. scikit-learn gets its defaults
(100 ReLU hidden units, adam, at most 200 epochs) behind a StandardScaler
on the inputs, as its documentation asks; a regression target is left as
it is, which is also its default. Both are scored by the same function:
accuracy, or the relative error (sum of squared errors over that of
predicting the training mean).

The fourth data set is generated: 8 x 8 "pixel" images of whole numbers
0..16, 10 classes, each record its class's pattern shifted by up to one
pixel and noised. Its inputs are passed as --continuous to every vxnn run.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import time
import warnings

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compare  # noqa: E402  (its split and scoring, so both tables agree)

import numpy as np  # noqa: E402
from sklearn.exceptions import ConvergenceWarning  # noqa: E402
from sklearn.neural_network import MLPClassifier, MLPRegressor  # noqa: E402
from sklearn.pipeline import make_pipeline  # noqa: E402
from sklearn.preprocessing import StandardScaler  # noqa: E402
from threadpoolctl import threadpool_limits  # noqa: E402

PIXEL_SIDE = 8
PIXEL_CLASSES = 10
PIXEL_ROWS = 3000
PIXEL_SEED = 20261206


def pixels(path):
    """Each class a few bright blobs on an 8 x 8 grid; a record is its
    class's image moved by -1..1 pixel each way, with Gaussian noise (sd 3),
    rounded and clipped to 0..16."""
    rng = np.random.RandomState(PIXEL_SEED)
    grid = np.arange(PIXEL_SIDE)
    yy, xx = np.meshgrid(grid, grid, indexing="ij")
    patterns = []
    for _ in range(PIXEL_CLASSES):
        image = np.zeros((PIXEL_SIDE, PIXEL_SIDE))
        for _ in range(3):
            cy, cx = rng.uniform(0, PIXEL_SIDE - 1, size=2)
            image += np.exp(-((yy - cy) ** 2 + (xx - cx) ** 2) / (2 * 1.3 ** 2))
        patterns.append(16.0 * image / image.max())
    rows = []
    for _ in range(PIXEL_ROWS):
        c = rng.randint(PIXEL_CLASSES)
        dy, dx = rng.randint(-1, 2, size=2)
        image = np.roll(np.roll(patterns[c], dy, axis=0), dx, axis=1)
        image = np.clip(np.rint(image + rng.normal(0.0, 3.0, size=image.shape)), 0, 16)
        rows.append([str(int(v)) for v in image.ravel()] + [f"d{c}"])
    header = [f"p{i}" for i in range(PIXEL_SIDE * PIXEL_SIDE)] + ["digit"]
    compare.write_csv(path, header, rows)


def sklearn_mlp(task, seed, steps, x, y, xt, timings=None):
    """scikit-learn's MLPClassifier / MLPRegressor with their defaults
    (random state seed) behind the given pipeline steps, fitted on one BLAS
    thread: the predictions for xt and the seconds of the fit. timings, a
    dict, gets the seconds of the fit ("fit") and of the prediction
    ("predict")."""
    if task == "class":
        model = MLPClassifier(random_state=seed)
    else:
        model = MLPRegressor(random_state=seed)
        y = [float(v) for v in y]
    pipe = make_pipeline(*steps, model)
    with threadpool_limits(limits=1), warnings.catch_warnings():
        warnings.simplefilter("ignore", ConvergenceWarning)
        start = time.perf_counter()
        pipe.fit(x, np.array(y))
        seconds = time.perf_counter() - start
        predicted = pipe.predict(xt)
        if timings is not None:
            timings.update(fit=seconds, predict=time.perf_counter() - start - seconds)
    return [str(p) for p in predicted], seconds


def sklearn_default(task, train, test, seed):
    header, body = compare.read_split(train)
    _, test_body = compare.read_split(test)
    x = np.array([[float(v) for v in r[:-1]] for r in body])
    xt = np.array([[float(v) for v in r[:-1]] for r in test_body])
    y = [r[-1].strip() for r in body]
    return sklearn_mlp(task, seed, [StandardScaler()], x, y, xt)


def vxnn_run(vxnn, extra, train, test, work):
    """`vxnn train` on the training file as a user runs it, then `vxnn
    score` on the test file; the predictions, the wall seconds of the
    training, and the network it kept."""
    header, _ = compare.read_split(train)
    target = header[-1]
    model = os.path.join(work, "defaults.model")
    scored = os.path.join(work, "defaults-scored.csv")
    command = [vxnn, "train", train, "--target", target, "--model", model, "--no-progress",
               "--no-importance", "--json"] + extra
    start = time.perf_counter()
    summary = json.loads(subprocess.run(command, check=True, capture_output=True,
                                        text=True).stdout)
    seconds = time.perf_counter() - start
    subprocess.run([vxnn, "score", model, test, "--output", scored], check=True,
                   capture_output=True)
    out_header, body = compare.read_split(scored)
    column = out_header.index("predicted_" + target)
    network = summary["network"]
    hidden = network["units_per_layer"][1:-1]
    kept = f"{network['kind']} {'-'.join(map(str, hidden))}" if hidden else "linear"
    return [r[column] for r in body], seconds, kept


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--vxnn", required=True, help="path of the vxnn program")
    p.add_argument("--data", required=True, help="folder of iris.csv, wine.csv, diabetes.csv")
    p.add_argument("--work", required=True, help="folder for the temporary files")
    p.add_argument("--splits", type=int, default=5)
    p.add_argument("--first-seed", type=int, default=1,
                   help="seed of the first split (choose defaults on other seeds than you report)")
    p.add_argument("--config", action="append", default=[],
                   help="LABEL=OPTIONS: a vxnn configuration to add (OPTIONS split on spaces);"
                        " the defaults are always run first")
    p.add_argument("--sets", default="iris,wine,diabetes,pixels")
    a = p.parse_args()

    configs = [("vxnn defaults", [])]
    for c in a.config:
        label, _, options = c.partition("=")
        configs.append((label, options.split()))

    pixel_path = os.path.join(a.work, "pixels.csv")
    pixels(pixel_path)
    sets = {"iris": (os.path.join(a.data, "iris.csv"), "class", []),
            "wine": (os.path.join(a.data, "wine.csv"), "class", []),
            "diabetes": (os.path.join(a.data, "diabetes.csv"), "regr", []),
            "pixels": (pixel_path, "class",
                       [o for i in range(PIXEL_SIDE * PIXEL_SIDE)
                        for o in ("--continuous", f"p{i}")])}

    seeds = range(a.first_seed, a.first_seed + a.splits)
    print(f"Machine: {os.cpu_count()} x {compare.cpu_model()}; load {compare.load()}")
    print(f"{a.splits} seeded 70/30 splits (seeds {seeds[0]}..{seeds[-1]}); accuracy (higher is"
          " better) or relative error (lower is better) on the test file; seconds of wall time"
          " to train (vxnn: the whole `vxnn train` run)\n")
    rows, verdicts = [], []
    for name in a.sets.split(","):
        source, task, extra = sets[name]
        labels = [label for label, _ in configs] + ["scikit-learn defaults"]
        figures = {label: [] for label in labels}
        seconds = {label: [] for label in labels}
        kept = {label: [] for label in labels}
        for seed in seeds:
            train = os.path.join(a.work, f"train-{seed}-{name}.csv")
            test = os.path.join(a.work, f"test-{seed}-{name}.csv")
            compare.split(source, train, test, seed)
            for label, options in configs:
                predicted, s, network = vxnn_run(a.vxnn, options + extra, train, test, a.work)
                figures[label].append(compare.test_figure(task, train, test, predicted))
                seconds[label].append(s)
                kept[label].append(network)
            predicted, s = sklearn_default(task, train, test, seed)
            figures["scikit-learn defaults"].append(
                compare.test_figure(task, train, test, predicted))
            seconds["scikit-learn defaults"].append(s)
            kept["scikit-learn defaults"].append("mlp 100")
        metric = "accuracy" if task == "class" else "rel. error"
        for label in labels:
            v = figures[label]
            networks = sorted(set(kept[label]), key=kept[label].index)
            rows.append([f"{name} ({metric})", label, "%.4f" % statistics.mean(v),
                         "%.4f" % (statistics.stdev(v) if len(v) > 1 else 0.0),
                         "%.2f" % statistics.mean(seconds[label]),
                         ", ".join(f"{n} x{kept[label].count(n)}" for n in networks)])
        ours = statistics.mean(figures["vxnn defaults"])
        theirs = statistics.mean(figures["scikit-learn defaults"])
        met = ours >= theirs if task == "class" else ours <= theirs
        verdicts.append(f"{name}: vxnn {ours:.4f}, scikit-learn {theirs:.4f}:"
                        f" {'met' if met else 'NOT met'}")
    compare.print_table(["data set", "model", "mean", "sd", "seconds", "networks kept"], rows)
    print("Target, vxnn defaults at or above scikit-learn's defaults:")
    for v in verdicts:
        print("  " + v)


if __name__ == "__main__":
    main()
