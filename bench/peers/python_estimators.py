"""The Python estimators against `vxnn train` and scikit-learn's MLP.

For every data set and seeded 70/30 split (compare.split, the files every
benchmark here uses) and for the MLP and the RBF network:
- vxnn: `vxnn train` on the training file (its defaults but for
  --no-importance; the coded columns as --categorical, a regression target
  --continuous) and `vxnn score` on the test file.
- Python: the estimator with its defaults (feature importances included)
  on the same files read by pandas (empty cells missing, text columns
  categorical, the coded columns in categorical_features), fit then
  predict, timed in this process; and once more with
  size_selection="rule", the cost of the training without the
  cross-validation.
- scikit-learn: MLPClassifier / MLPRegressor with their defaults in the
  usual pipeline (real_data.sklearn_fit), fit then predict, one BLAS thread.

Same model: the model `vxnn train` saved, loaded in Python, predicts the
test file exactly as the estimator fitted in Python does (bit for bit). The
figures (accuracy, or relative error about the test mean) are computed from
each side's own predictions; vxnn's are read from `vxnn score`'s output,
written with six significant digits.
"""

import argparse
import os
import statistics
import sys
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compare  # noqa: E402
import defaults  # noqa: E402
import real_data  # noqa: E402

import numpy as np  # noqa: E402
import pandas as pd  # noqa: E402
import sklearn  # noqa: E402
from threadpoolctl import threadpool_limits  # noqa: E402

import vxneural  # noqa: E402

SETS = dict(real_data.SETS, iris=("class", "data/iris.csv", []))


def frame(path):
    """A split file as vxnn reads it: only the empty cell is missing, and a
    column is numbers when every cell present is a number, else text (no
    true/false guessing)."""
    data = pd.read_csv(path, dtype=str, keep_default_na=False, na_values=[""])
    for name in data.columns:
        try:
            data[name] = pd.to_numeric(data[name])
        except ValueError:
            pass
    return data


def python_fit(kind, task, train, test, coded, **options):
    """The estimator's test predictions, the seconds of fit plus predict,
    and the estimator: its defaults but for options."""
    data, held = frame(train), frame(test)
    target = data.columns[-1]
    cls = {("mlp", "class"): vxneural.MLPClassifier, ("mlp", "regr"): vxneural.MLPRegressor,
           ("rbf", "class"): vxneural.RBFClassifier, ("rbf", "regr"): vxneural.RBFRegressor}
    est = cls[(kind, task)](categorical_features=[c for c in coded if c in data.columns] or None,
                            **options)
    x, y = data.drop(columns=target), data[target]
    if task == "class":
        y = y.astype(str)
    start = time.perf_counter()
    with threadpool_limits(limits=1):
        est.fit(x, y)
        predicted = est.predict(held.drop(columns=target))
    return list(predicted), time.perf_counter() - start, est


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--vxnn", required=True)
    p.add_argument("--work", required=True)
    p.add_argument("--root", required=True, help="the repository (for data/iris.csv)")
    p.add_argument("--rscript", default="Rscript")
    p.add_argument("--only", default="iris,wine,diabetes," + ",".join(
        n for n in real_data.SETS if n not in ("wine", "diabetes")))
    p.add_argument("--splits", type=int, default=5)
    p.add_argument("--first-seed", type=int, default=1)
    a = p.parse_args()
    names = [n for n in a.only.split(",") if n]
    paths = real_data.export(a.rscript, a.work, [n for n in names if n != "iris"])
    paths["iris"] = os.path.join(a.root, "data", "iris.csv")
    seeds = list(range(a.first_seed, a.first_seed + a.splits))
    print(f"Machine: {os.cpu_count()} x {compare.cpu_model()}; load average at start"
          f" {compare.load()}")
    print(f"scikit-learn {sklearn.__version__} (one BLAS thread); {a.splits} seeded 70/30 splits"
          f" (seeds {seeds[0]}..{seeds[-1]}); figure: accuracy or relative error on the test"
          " file, mean over the splits; seconds: mean wall time of fit plus predict (vxnn: the"
          " whole `vxnn train` run, a process of its own); same model: splits where vxnn's"
          " saved model predicts the test file bit for bit as the estimator does; time ratio:"
          " python s over sklearn s; rule: the estimator with size_selection='rule' (no"
          " cross-validation), its figure and seconds\n")
    rows, slower, different = [], [], []
    for name in names:
        task, _, coded = SETS[name]
        runs = {k: [] for k in ("mlp", "rbf")}
        sk = []
        for seed in seeds:
            train = os.path.join(a.work, f"{name}-train-{seed}.csv")
            test = os.path.join(a.work, f"{name}-test-{seed}.csv")
            compare.split(paths[name], train, test, seed)
            header, _ = compare.read_split(train)
            extra = [o for c in header[:-1] if c in coded for o in ("--categorical", c)]
            if task == "regr":
                extra += ["--continuous", header[-1]]
            timings = {}
            predicted, _ = real_data.sklearn_fit(task, train, test, seed, coded, timings)
            sk.append((real_data.figure(task, train, test, predicted)[0],
                       timings["fit"] + timings["predict"]))
            for kind in runs:
                options = ["--network", "rbf"] if kind == "rbf" else []
                vx_pred, vx_seconds, _ = defaults.vxnn_run(a.vxnn, options + extra, train, test,
                                                           a.work)
                py_pred, py_seconds, est = python_fit(kind, task, train, test, coded)
                rule_pred, rule_seconds, _ = python_fit(kind, task, train, test, coded,
                                                        size_selection="rule")
                saved = vxneural.load(os.path.join(a.work, "defaults.model"))
                x_test = frame(test).drop(columns=header[-1])
                same = bool(np.array_equal(saved.predict(x_test), est.predict(x_test)))
                runs[kind].append({
                    "py": real_data.figure(task, train, test, py_pred)[0],
                    "vx": real_data.figure(task, train, test, vx_pred)[0],
                    "py_s": py_seconds, "vx_s": vx_seconds, "same": same,
                    "rule": real_data.figure(task, train, test, rule_pred)[0],
                    "rule_s": rule_seconds})
        metric = "accuracy" if task == "class" else "rel. error"
        sk_figure = statistics.mean(f for f, _ in sk)
        sk_seconds = statistics.mean(s for _, s in sk)
        for kind, r in runs.items():
            py_s = statistics.mean(x["py_s"] for x in r)
            diff = max(abs(x["py"] - x["vx"]) for x in r)
            same = sum(x["same"] for x in r)
            rows.append([f"{name} ({metric})", kind,
                         "%.4f" % statistics.mean(x["py"] for x in r),
                         "%.4f" % statistics.mean(x["vx"] for x in r), "%.1g" % diff,
                         f"{same}/{len(r)}", "%.3f" % py_s,
                         "%.3f" % statistics.mean(x["vx_s"] for x in r),
                         "%.4f" % sk_figure, "%.3f" % sk_seconds, "%.2f" % (py_s / sk_seconds),
                         "%.4f" % statistics.mean(x["rule"] for x in r),
                         "%.3f" % statistics.mean(x["rule_s"] for x in r)])
            if py_s > sk_seconds:
                slower.append(f"{name} {kind}")
            if same < len(r):
                different.append(f"{name} {kind}")
        print(f"python_estimators: {name} done", file=sys.stderr)
    compare.print_table(["data set", "model", "python", "vxnn", "max diff", "same model",
                         "python s", "vxnn s", "sklearn", "sklearn s", "time ratio", "rule",
                         "rule s"], rows)
    print(f"\nsame model on every split: {len(rows) - len(different)}/{len(rows)}"
          + (f" (not: {', '.join(different)})" if different else ""))
    print(f"fit plus predict within scikit-learn's time: {len(rows) - len(slower)}/{len(rows)}"
          + (f" (slower: {', '.join(slower)})" if slower else ""))
    print(f"Load average at end {compare.load()}")


if __name__ == "__main__":
    main()
