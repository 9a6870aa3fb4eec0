"""vxnn against its MLP and RBF peers on real data from Debian packages.

The data sets have categorical fields, missing values and both task kinds;
every model gets the same seeded 70/30 splits. Started by
bench/real_data.sh; see bench/README.md.

Models, each trained on the training file of a split and scored on its test
file:
- vxnn: each configuration (LABEL=OPTIONS) trained by `vxnn train` as a
  user runs it and scored by `vxnn score` with the saved model
  (defaults.py's vxnn_run); its seconds are the whole `vxnn train` run.
- scikit-learn: MLPClassifier / MLPRegressor with their defaults (random
  state the split's seed) behind the usual pipeline: numbers imputed by
  the median and standardized, categories imputed by the most frequent
  and one-hot encoded (an unseen category encodes as all zeros); the
  target as it is. Seconds of the pipeline's fit, on one BLAS thread.
- Weka: MultilayerPerceptron and RBFNetwork with their defaults
  (weka_peer.py), categories as nominal attributes and missing values as
  '?', which Weka replaces itself. Seconds Weka reports for the build.

Every model is asked for every test record. The figure is the accuracy, or
the relative error: the sum of squared errors over the sum of squares
about the test records' mean, as vxnn reports it. A record a model leaves
without a prediction counts as wrong, or as predicted by the training
mean.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compare  # noqa: E402  (its seeded split, table and machine lines)
import defaults  # noqa: E402  (vxnn_run: train and score as a user does; sklearn_mlp)
import weka_peer  # noqa: E402

import numpy as np  # noqa: E402
import sklearn  # noqa: E402
from sklearn.compose import ColumnTransformer  # noqa: E402
from sklearn.datasets import load_diabetes, load_wine  # noqa: E402
from sklearn.impute import SimpleImputer  # noqa: E402
from sklearn.pipeline import make_pipeline  # noqa: E402
from sklearn.preprocessing import FunctionTransformer, OneHotEncoder, StandardScaler  # noqa: E402

# name: (task, source, columns of numeric codes that are categories). The
# R sets are written by real_data_export.R, the scikit-learn ones here.
SETS = {
    "titanic": ("class", "R datasets (r-base-core): Titanic, one row per person", []),
    "esoph": ("class", "R datasets (r-base-core): esoph, one row per person", []),
    "infert": ("class", "R datasets (r-base-core): infert", []),
    "birthwt": ("class", "MASS (r-cran-mass): birthwt, without bwt", []),
    "survey": ("class", "MASS (r-cran-mass): survey, target Sex", []),
    "zoo": ("class", "mlbench (r-cran-mlbench): Zoo", []),
    "vehicle": ("class", "mlbench (r-cran-mlbench): Vehicle", []),
    "sonar": ("class", "mlbench (r-cran-mlbench): Sonar", []),
    "wine": ("class", "scikit-learn (python3-sklearn): load_wine", []),
    "airquality": ("regr", "R datasets (r-base-core): airquality, target Ozone", ["Month"]),
    "ozone": ("regr", "mlbench (r-cran-mlbench): Ozone, target V4",
              ["month", "day_of_week"]),
    "servo": ("regr", "mlbench (r-cran-mlbench): Servo", ["pgain", "vgain"]),
    "cars93": ("regr", "MASS (r-cran-mass): Cars93, target Price", ["Cylinders"]),
    "diabetes": ("regr", "scikit-learn (python3-sklearn): load_diabetes(scaled=False)", ["sex"]),
}
DEFAULT_CONFIGS = [("mlp", ""), ("rbf", "--network rbf"), ("auto", "--network auto")]
SKLEARN = "scikit-learn MLP"
WEKA_MLP = "Weka MultilayerPerceptron"
WEKA_RBF = "Weka RBFNetwork"
# The targets' margin: half a point of accuracy, 0.005 of relative error.
MARGIN = 0.005


def export(rscript, work, names):
    """Writes every data set's CSV file into work; returns their paths."""
    r_script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "real_data_export.R")
    subprocess.run([rscript, r_script, work], check=True)
    wine = load_wine()
    header = [n.replace("/", "_") for n in wine.feature_names] + ["cultivar"]
    compare.write_csv(os.path.join(work, "wine.csv"), header,
                      [[f"{v:g}" for v in x] + [f"class_{y}"]
                       for x, y in zip(wine.data, wine.target)])
    diabetes = load_diabetes(scaled=False)
    header = [n for n in diabetes.feature_names] + ["progression"]
    compare.write_csv(os.path.join(work, "diabetes.csv"), header,
                      [[f"{v:g}" for v in x] + [f"{y:g}"]
                       for x, y in zip(diabetes.data, diabetes.target)])
    return {n: os.path.join(work, f"{n}.csv") for n in names}


def is_number(text):
    try:
        float(text)
        return True
    except ValueError:
        return False


def categorical_columns(header, body, coded):
    """Inputs that are categories: named as numeric codes, or holding a cell
    that is not a number."""
    return [c for c, name in enumerate(header[:-1])
            if name in coded or not all(is_number(r[c]) for r in body if r[c].strip())]


def describe(path, task, coded):
    header, body = compare.read_split(path)
    categorical = categorical_columns(header, body, coded)
    missing = sum(1 for r in body for v in r[:-1] if not v.strip())
    classes = len({r[-1].strip() for r in body}) if task == "class" else 0
    return {"records": len(body), "inputs": len(header) - 1, "categorical": len(categorical),
            "missing_cells": missing,
            "missing_records": sum(1 for r in body if any(not v.strip() for v in r[:-1])),
            "classes": classes}


def sklearn_fit(task, train, test, seed, coded, timings=None):
    """scikit-learn's MLP with its defaults in the usual pipeline; the test
    predictions and the seconds of the fit."""
    header, body = compare.read_split(train)
    _, test_body = compare.read_split(test)
    categorical = categorical_columns(header, body + test_body, coded)
    numeric = [c for c in range(len(header) - 1) if c not in categorical]

    def matrix(rows):
        return np.array([[v.strip() for v in r[:-1]] for r in rows], dtype=object)

    def to_float(x):
        return np.array([[float(v) if v != "" else np.nan for v in r] for r in x])

    numbers = make_pipeline(FunctionTransformer(to_float), SimpleImputer(strategy="median"),
                            StandardScaler())
    categories = make_pipeline(SimpleImputer(missing_values="", strategy="most_frequent"),
                               OneHotEncoder(handle_unknown="ignore"))
    encode = ColumnTransformer([("numbers", numbers, numeric),
                                ("categories", categories, categorical)])
    y = [r[-1].strip() for r in body]
    return defaults.sklearn_mlp(task, seed, [encode], matrix(body), y, matrix(test_body),
                                timings)


def figure(task, train, test, predictions):
    """Accuracy, or the relative error about the test mean; a record
    without a prediction (None or an empty cell) is wrong, or predicted by
    the training mean. Also the number of such records."""
    _, train_body = compare.read_split(train)
    _, test_body = compare.read_split(test)
    actual = [r[-1].strip() for r in test_body]
    unscored = sum(1 for p in predictions if p is None or str(p).strip() == "")
    if task == "class":
        right = sum(a == str(p).strip() for a, p in zip(actual, predictions) if p is not None)
        return right / len(actual), unscored
    fallback = statistics.mean(float(r[-1]) for r in train_body)
    y = [float(a) for a in actual]
    p = [fallback if v is None or str(v).strip() == "" else float(v) for v in predictions]
    mean = statistics.mean(y)
    return sum((a - b) ** 2 for a, b in zip(y, p)) / sum((a - mean) ** 2 for a in y), unscored


def run_model(label, kind, options, task, train, test, seed, coded, a):
    """One model on one split: a dict of its figure, seconds, records left
    unscored, network kept (vxnn) and error text when it failed."""
    n_test = len(compare.read_split(test)[1])
    result = {"model": label, "seed": seed}
    try:
        if kind == "vxnn":
            header, _ = compare.read_split(train)
            extra = [o for name in header[:-1] if name in coded for o in ("--categorical", name)]
            predictions, seconds, kept = defaults.vxnn_run(a.vxnn, options + extra, train, test,
                                                           a.work)
            result["network"] = kept
        elif kind == "sklearn":
            predictions, seconds = sklearn_fit(task, train, test, seed, coded)
        else:
            predictions, seconds = weka_peer.fit_predict(task, train, test, kind, nominal=coded,
                                                         jar=a.jar)
    except (subprocess.CalledProcessError, RuntimeError, ValueError, KeyError, OSError) as e:
        text = getattr(e, "stderr", None) or str(e)
        if isinstance(text, bytes):
            text = text.decode(errors="replace")
        result["error"] = " ".join(str(text).split())[:300]
        print(f"real_data: {label} failed on {os.path.basename(train)}: {result['error']}",
              file=sys.stderr)
        predictions, seconds = [None] * n_test, None
    result["figure"], result["unscored"] = figure(task, train, test, predictions)
    result["seconds"] = seconds
    return result


def better_or_equal(task, ours, theirs, margin=0.0):
    return ours >= theirs - margin if task == "class" else ours <= theirs + margin


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--vxnn", required=True, help="path of the vxnn program")
    p.add_argument("--work", required=True, help="folder for the data and temporary files")
    p.add_argument("--rscript", default="Rscript", help="R's script runner (exports the R sets)")
    p.add_argument("--jar", default=weka_peer.DEFAULT_JAR, help="Weka's jar")
    p.add_argument("--only", default=",".join(SETS),
                   help="comma-separated data sets (default: all): " + ",".join(SETS))
    p.add_argument("--splits", type=int, default=5, help="number of splits (default 5)")
    p.add_argument("--first-seed", type=int, default=1,
                   help="seed of the first split (default 1); the others follow")
    p.add_argument("--config", action="append", default=[],
                   help="LABEL=OPTIONS: a vxnn configuration (OPTIONS split on spaces); it"
                        " replaces the default of that label (mlp=, rbf=--network rbf,"
                        " auto=--network auto) or is added after them")
    p.add_argument("--no-default-configs", action="store_true",
                   help="run only the configurations given by --config")
    p.add_argument("--no-weka", action="store_true", help="leave Weka's models out")
    p.add_argument("--json", help="write every split's results to this file")
    a = p.parse_args()

    names = [n.strip() for n in a.only.split(",") if n.strip()]
    unknown = [n for n in names if n not in SETS]
    if unknown or not names:
        p.error(f"unknown data set {', '.join(unknown) or '(none)'}; known: {', '.join(SETS)}")
    if a.splits < 1:
        p.error("--splits must be at least 1")
    configs = [] if a.no_default_configs else [(label, o.split()) for label, o in DEFAULT_CONFIGS]
    for c in a.config:
        label, sep, options = c.partition("=")
        if not sep or not label.strip():
            p.error(f"--config {c!r}: expected LABEL=OPTIONS")
        configs = [x for x in configs if x[0] != label.strip()] + [(label.strip(), options.split())]
    if not configs:
        p.error("no vxnn configuration to run")
    vxnn_labels = [f"vxnn {label}" for label, _ in configs]
    models = [(f"vxnn {label}", "vxnn", options) for label, options in configs]
    models.append((SKLEARN, "sklearn", None))
    if not a.no_weka:
        models += [(WEKA_MLP, "mlp", None), (WEKA_RBF, "rbf", None)]
    mlp_label = "vxnn mlp" if "vxnn mlp" in vxnn_labels else vxnn_labels[0]
    rbf_label = "vxnn rbf" if "vxnn rbf" in vxnn_labels else None

    paths = export(a.rscript, a.work, names)
    seeds = list(range(a.first_seed, a.first_seed + a.splits))
    started = time.perf_counter()
    print(f"Machine: {os.cpu_count()} x {compare.cpu_model()}; load average at start"
          f" {compare.load()}")
    print(f"Peers: scikit-learn {sklearn.__version__} (one BLAS thread)"
          + ("" if a.no_weka else f", Weka {compare.package_version('weka')}"))
    print(f"{a.splits} seeded 70/30 splits (seeds {seeds[0]}..{seeds[-1]}); accuracy (higher is"
          " better) or relative error (SSE over the sum of squares about the test mean; lower is"
          " better) on the test file: mean and min..max; seconds: mean wall time of the fit"
          " (vxnn: the whole `vxnn train` run); unscored: test records left without a"
          " prediction, over all splits (wrong, or the training mean)\n")

    rows, results, targets, about = [], [], [], {}
    for name in names:
        task, source, coded = SETS[name]
        about[name] = dict(describe(paths[name], task, coded), task=task, source=source)
        runs = {label: [] for label, _, _ in models}
        set_started = time.perf_counter()
        for seed in seeds:
            train = os.path.join(a.work, f"{name}-train-{seed}.csv")
            test = os.path.join(a.work, f"{name}-test-{seed}.csv")
            compare.split(paths[name], train, test, seed)
            for label, kind, options in models:
                r = run_model(label, kind, options, task, train, test, seed, coded, a)
                r["set"] = name
                runs[label].append(r)
                results.append(r)
        print(f"real_data: {name} done in {time.perf_counter() - set_started:.0f} s",
              file=sys.stderr)
        metric = "accuracy" if task == "class" else "rel. error"
        mean = {}
        for label, _, _ in models:
            v = [r["figure"] for r in runs[label]]
            s = [r["seconds"] for r in runs[label] if r["seconds"] is not None] or [float("nan")]
            mean[label] = statistics.mean(v)
            kept = [r["network"] for r in runs[label] if "network" in r]
            networks = ", ".join(f"{n} x{kept.count(n)}" for n in sorted(set(kept), key=kept.index))
            failed = sum(1 for r in runs[label] if "error" in r)
            rows.append([f"{name} ({metric})", label, "%.4f" % mean[label],
                         "%.3f..%.3f" % (min(v), max(v)), "%.2f" % statistics.mean(s),
                         str(sum(r["unscored"] for r in runs[label])),
                         networks + (f" ({failed} failed)" if failed else "")])
        targets.append(verdicts(name, task, mean, runs, mlp_label, rbf_label, a.no_weka))

    compare.print_table(["data set", "model", "mean", "range", "seconds", "unscored",
                         "networks kept"], rows)
    print_targets(targets, mlp_label, rbf_label)
    print(f"Load average at end {compare.load()}; {time.perf_counter() - started:.0f} s in all.")
    if a.json:
        with open(a.json, "w") as f:
            json.dump({"seeds": seeds, "configs": {label: " ".join(o) for label, o in configs},
                       "sets": about, "results": results, "targets": targets}, f, indent=1)


def verdicts(name, task, mean, runs, mlp_label, rbf_label, no_weka):
    """The three targets on one data set: met or not, with the figures."""
    peers = [SKLEARN] + ([] if no_weka else [WEKA_MLP])
    best = (max if task == "class" else min)(peers, key=lambda label: mean[label])
    t = {"set": name, "task": task, "mlp": mean[mlp_label], "best_mlp_peer": best,
         "best_mlp_peer_figure": mean[best],
         "mlp_met": better_or_equal(task, mean[mlp_label], mean[best], MARGIN)}
    if rbf_label and not no_weka:
        t.update(rbf=mean[rbf_label], weka_rbf=mean[WEKA_RBF],
                 rbf_met=better_or_equal(task, mean[rbf_label], mean[WEKA_RBF]))
    def seconds(label):
        s = [r["seconds"] for r in runs[label] if r["seconds"] is not None]
        return statistics.mean(s) if s else float("inf")

    ours, theirs = seconds(mlp_label), seconds(SKLEARN)
    t.update(train_seconds=ours, sklearn_seconds=theirs, time_met=ours <= theirs)
    return t


def print_targets(targets, mlp_label, rbf_label):
    def word(met):
        return "met" if met else "NOT met"

    print(f"Targets: {mlp_label} within {MARGIN} of the best MLP peer or better; {rbf_label or '-'}"
          f" at or above {WEKA_RBF}; {mlp_label}'s `vxnn train` wall time at most scikit-learn's"
          " fit. Differences are ours minus the peer's.\n")
    rows = []
    for t in targets:
        row = [t["set"], t["task"],
               f"{word(t['mlp_met'])} ({t['mlp']:.4f} vs {t['best_mlp_peer_figure']:.4f}"
               f" {'sklearn' if t['best_mlp_peer'] == SKLEARN else 'Weka'},"
               f" {t['mlp'] - t['best_mlp_peer_figure']:+.4f})"]
        if "rbf_met" in t:
            row.append(f"{word(t['rbf_met'])} ({t['rbf']:.4f} vs {t['weka_rbf']:.4f},"
                       f" {t['rbf'] - t['weka_rbf']:+.4f})")
        else:
            row.append("-")
        row.append(f"{word(t['time_met'])} ({t['train_seconds']:.2f} s vs"
                   f" {t['sklearn_seconds']:.2f} s)")
        rows.append(row)
    compare.print_table(["data set", "task", "MLP", "RBF", "time"], rows)
    met = [sum(t[k] for t in targets if k in t) for k in ("mlp_met", "rbf_met", "time_met")]
    n_rbf = sum(1 for t in targets if "rbf_met" in t)
    print(f"Met on: MLP {met[0]} of {len(targets)}, RBF {met[1]} of {n_rbf},"
          f" time {met[2]} of {len(targets)}\n")


if __name__ == "__main__":
    main()
