"""Runs vxneural and its peers on the same data in the same run and prints
the figures with their ratios. Started by bench/compare_peers.sh, which
builds the drivers and passes their paths; see bench/README.md.

Part A, training throughput: synthetic records of three network shapes,
every library trains full-batch for the same number of data passes;
the figure is records x data passes per second of processor time (the best
of a few repeats, since the machine may be shared).

Part B, model quality: iris and wine (test accuracy) and diabetes (test
relative error: the sum of squared errors divided by that of predicting the
training mean), one hidden layer, inputs standardized with the training
statistics, the same seeded 70/30 splits for every library, the same budget
of data passes.

Part C, RBF networks: on the same splits, our RBF network and our MLP as the
vxnn program trains them with its defaults, next to Weka's RBFNetwork
(weka_peer.py) with several numbers of clusters; every library's test
predictions are scored by the same function.
"""

import argparse
import csv
import json
import os
import platform
import random
import statistics
import subprocess
import sys
import time

# Leaves no bytecode cache in the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import weka_peer  # noqa: E402

try:
    import numpy as np
    import sklearn
    import threadpoolctl

    import sklearn_peer
except ImportError:  # part C alone needs none of them
    np = sklearn = threadpoolctl = sklearn_peer = None

SHAPES = [(10, 8, 3), (64, 32, 10), (200, 50, 1)]

# (label, library, method); the first two are ours.
THROUGHPUT_RUNS = [
    ("vxneural SCG", "vxnn", "scg"),
    ("vxneural GD", "vxnn", "gdb"),
    ("FANN batch", "fann", "batch"),
    ("FANN RPROP", "fann", "rprop"),
    ("sklearn L-BFGS", "sklearn", "lbfgs"),
    ("sklearn SGD full batch", "sklearn", "sgd"),
]
QUALITY_RUNS = [
    ("vxneural SCG", "vxnn", "scg"),
    ("vxneural GD", "vxnn", "gdb"),
    ("FANN RPROP", "fann", "rprop"),
    ("sklearn L-BFGS", "sklearn", "lbfgs"),
]
# file, task, hidden units
DATASETS = [("iris.csv", "class", 6), ("wine.csv", "class", 8), ("diabetes.csv", "regr", 8)]
# (label, extra options of `vxnn train`); the first is the one the target
# is about.
VXNN_RBF_RUNS = [
    # vxnn's defaults: 2 x (input + output units) centres, overlap 4 x the
    # library's default (1 + 0.1 x inputs); chosen on splits 101..110.
    ("vxneural RBF", ["--network", "rbf"]),
    ("vxneural RBF, BIC search", ["--network", "rbf", "--select-architecture"]),
    # The clustering's own number of clusters (between 1 and the default
    # count), as the default was before the size rule.
    ("vxneural RBF, clustering's count", ["--network", "rbf", "--min-hidden-units", "1"]),
    ("vxneural MLP", []),
]
WEKA_CLUSTERS = [2, 3, 5, 10, 20]  # 2 is RBFNetwork's default


def parse_line(text):
    return {k: float(v) for k, v in (f.split("=", 1) for f in text.split())}


def run_one(drivers, library, method, task, train, test, hidden, passes, seed):
    if library == "sklearn":
        return sklearn_peer.run(task, train, test, hidden, passes, method, seed)
    command = [drivers[library], "--task", task, "--train", train, "--hidden", str(hidden),
               "--passes", str(passes), "--method", method, "--seed", str(seed)]
    if test:
        command += ["--test", test]
    out = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    return parse_line(out)


def write_csv(path, header, rows):
    with open(path, "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(header)
        w.writerows(rows)


def synthetic(path, shape, records, seed):
    """Inputs uniform in [-1, 1]; the target of a random tanh teacher with
    noise: its largest output names the class, or its one output is the
    value."""
    inputs, hidden, outputs = shape
    rng = np.random.RandomState(seed)
    x = rng.uniform(-1.0, 1.0, size=(records, inputs))
    w1 = rng.normal(0.0, 1.0 / np.sqrt(inputs), size=(inputs, hidden))
    w2 = rng.normal(0.0, 1.0, size=(hidden, outputs))
    y = np.tanh(x @ w1) @ w2 + 0.1 * rng.normal(size=(records, outputs))
    if outputs > 1:
        targets = [f"c{k}" for k in np.argmax(y, axis=1)]
    else:
        targets = [f"{v:.17g}" for v in y[:, 0]]
    header = [f"x{i}" for i in range(inputs)] + ["target"]
    write_csv(path, header, [[f"{v:.17g}" for v in row] + [t] for row, t in zip(x, targets)])


def split(source, train, test, seed, fraction=0.7):
    with open(source, newline="") as f:
        rows = [r for r in csv.reader(f) if r]
    header, body = rows[0], rows[1:]
    random.Random(seed).shuffle(body)
    cut = int(round(fraction * len(body)))
    write_csv(train, header, body[:cut])
    write_csv(test, header, body[cut:])


def least_squares_relerr(train, test):
    """Relative test error of a linear model fitted by least squares: the
    reference a network should beat on a regression task."""
    a = np.loadtxt(train, delimiter=",", skiprows=1, ndmin=2)
    b = np.loadtxt(test, delimiter=",", skiprows=1, ndmin=2)
    w = np.linalg.lstsq(np.c_[np.ones(len(a)), a[:, :-1]], a[:, -1], rcond=None)[0]
    predicted = np.c_[np.ones(len(b)), b[:, :-1]] @ w
    return float(np.sum((b[:, -1] - predicted) ** 2) / np.sum((b[:, -1] - a[:, -1].mean()) ** 2))


def load():
    one, five, _ = os.getloadavg()
    return f"{one:.2f} (1 min), {five:.2f} (5 min)"


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def package_version(package):
    try:
        out = subprocess.run(["dpkg-query", "-W", "-f=${Version}", package],
                             capture_output=True, text=True)
        return out.stdout.strip() or "unknown"
    except OSError:
        return "unknown"


def fann_version():
    return package_version("libfann-dev")


def print_table(header, rows):
    widths = [max(len(str(r[i])) for r in [header] + rows) for i in range(len(header))]
    line = "  ".join(f"{{:{'<' if i < 2 else '>'}{w}}}" for i, w in enumerate(widths))
    print(line.format(*header))
    print(line.format(*["-" * w for w in widths]))
    for r in rows:
        print(line.format(*r))
    print()


def throughput(drivers, work, records, passes, repeats):
    print(f"A. Training throughput: {records} synthetic records, {passes} full-batch data passes,"
          f" best of {repeats} runs by processor time")
    print("   rate = records x data passes / CPU second; ratios = vxneural's rate / this rate\n")
    rows = []
    for shape in SHAPES:
        path = os.path.join(work, "synthetic-%d-%d-%d.csv" % shape)
        synthetic(path, shape, records, seed=sum(shape))
        task = "class" if shape[2] > 1 else "regr"
        rates = {}
        results = []
        for label, library, method in THROUGHPUT_RUNS:
            best = None
            for _ in range(repeats):
                r = run_one(drivers, library, method, task, path, None, shape[1], passes, 1)
                if best is None or r["cpu_s"] < best["cpu_s"]:
                    best = r
            rate = best["records"] * best["passes"] / max(best["cpu_s"], 1e-9)
            rates[(library, method)] = rate
            results.append((label, best, rate))
        scg, gd = rates[("vxnn", "scg")], rates[("vxnn", "gdb")]
        for label, best, rate in results:
            rows.append(["%d-%d-%d" % shape, label, "%d" % best["passes"],
                         "%.3f" % best["cpu_s"], "%.3f" % best["wall_s"], "%.4g" % rate,
                         "%.2f" % (scg / rate), "%.2f" % (gd / rate)])
    print_table(["shape", "library", "passes", "CPU s", "wall s", "rate",
                 "SCG/this", "GD/this"], rows)


def quality(drivers, data, work, passes, splits):
    print(f"B. Model quality: one hidden layer, {passes} data passes at most, {splits} seeded 70/30"
          " splits (the same for every library)")
    print("   accuracy (higher is better) or relative error (lower is better): mean, sd, min..max;"
          " ratio = vxneural SCG's mean / this mean\n")
    rows = []
    for name, task, hidden in DATASETS:
        source = os.path.join(data, name)
        runs = list(QUALITY_RUNS)
        if task == "regr":
            runs.append(("linear least squares", "lstsq", ""))
        results = {label: [] for label, _, _ in runs}
        passes_made = {label: [] for label, _, _ in runs}
        for seed in range(1, splits + 1):
            train = os.path.join(work, f"train-{seed}-{name}")
            test = os.path.join(work, f"test-{seed}-{name}")
            split(source, train, test, seed)
            if task == "regr":
                results["linear least squares"].append(least_squares_relerr(train, test))
            for label, library, method in QUALITY_RUNS:
                r = run_one(drivers, library, method, task, train, test, hidden, passes, seed)
                results[label].append(r["accuracy" if task == "class" else "relerr"])
                passes_made[label].append(r["passes"])
        ours = statistics.mean(results[QUALITY_RUNS[0][0]])
        metric = "accuracy" if task == "class" else "rel. error"
        for label, _, _ in runs:
            v = results[label]
            mean = statistics.mean(v)
            made = passes_made[label]
            rows.append([f"{name[:-4]} ({metric}, {hidden} hidden)", label,
                         "%.0f" % statistics.mean(made) if made else "-", "%.4f" % mean,
                         "%.4f" % (statistics.stdev(v) if len(v) > 1 else 0.0),
                         "%.3f..%.3f" % (min(v), max(v)), "%.3f" % (ours / mean)])
    print_table(["data set", "library", "passes", "mean", "sd", "range", "ratio"], rows)


def read_split(path):
    with open(path, newline="") as f:
        rows = [r for r in csv.reader(f) if r]
    return rows[0], rows[1:]


def test_figure(task, train, test, predictions):
    """Accuracy, or the sum of squared errors over that of predicting the
    training mean; a record without a prediction counts as wrong (class) or
    as predicted by that mean."""
    _, train_body = read_split(train)
    _, test_body = read_split(test)
    actual = [r[-1].strip() for r in test_body]
    if task == "class":
        return sum(a == p for a, p in zip(actual, predictions)) / len(actual)
    mean = statistics.mean(float(r[-1]) for r in train_body)
    y = [float(a) for a in actual]
    p = [mean if v in (None, "") else float(v) for v in predictions]
    return sum((a - b) ** 2 for a, b in zip(y, p)) / sum((a - mean) ** 2 for a in y)


def vxnn_cli_run(vxnn, extra, train, test, work):
    """Trains with `vxnn train` on the whole training file (no records held
    out) and scores the test file with the saved model; returns the
    predictions and the number of hidden units (centres)."""
    header, _ = read_split(train)
    target = header[-1]
    model = os.path.join(work, "vxnn.model")
    scored = os.path.join(work, "vxnn-scored.csv")
    command = [vxnn, "train", train, "--target", target, "--test-fraction", "0", "--model",
               model, "--no-progress", "--no-importance", "--json"] + extra
    summary = json.loads(subprocess.run(command, check=True, capture_output=True,
                                        text=True).stdout)
    subprocess.run([vxnn, "score", model, test, "--output", scored], check=True,
                   capture_output=True)
    out_header, body = read_split(scored)
    column = out_header.index("predicted_" + target)
    return [r[column] for r in body], summary["training"]["hidden_units"]["count"]


def rbf_quality(vxnn, jar, data, work, splits):
    print(f"C. RBF networks: {splits} seeded 70/30 splits (the same as in B); vxneural as"
          " `vxnn train` trains it by default on the training file, Weka's RBFNetwork with B"
          " clusters")
    print("   accuracy (higher is better) or relative error (lower is better): mean, sd, min..max;"
          " units = mean hidden units (centres); ratio = vxneural RBF's mean / this mean\n")
    rows, verdicts = [], []
    for name, task, _ in DATASETS:
        source = os.path.join(data, name)
        labels = [label for label, _ in VXNN_RBF_RUNS] + \
            [f"Weka RBFNetwork -B {b}" for b in WEKA_CLUSTERS]
        results = {label: [] for label in labels}
        units = {label: [] for label in labels}
        for seed in range(1, splits + 1):
            train = os.path.join(work, f"rbf-train-{seed}-{name}")
            test = os.path.join(work, f"rbf-test-{seed}-{name}")
            split(source, train, test, seed)
            for label, extra in VXNN_RBF_RUNS:
                predictions, hidden = vxnn_cli_run(vxnn, extra, train, test, work)
                results[label].append(test_figure(task, train, test, predictions))
                units[label].append(hidden)
            for b in WEKA_CLUSTERS:
                label = f"Weka RBFNetwork -B {b}"
                predictions = weka_peer.predict(task, train, test, b, jar)
                results[label].append(test_figure(task, train, test, predictions))
                units[label].append(b)
        ours = statistics.mean(results[VXNN_RBF_RUNS[0][0]])
        metric = "accuracy" if task == "class" else "rel. error"
        for label in labels:
            v = results[label]
            mean = statistics.mean(v)
            rows.append([f"{name[:-4]} ({metric})", label, "%.1f" % statistics.mean(units[label]),
                         "%.4f" % mean, "%.4f" % (statistics.stdev(v) if len(v) > 1 else 0.0),
                         "%.3f..%.3f" % (min(v), max(v)), "%.3f" % (ours / mean)])
        weka = statistics.mean(results[f"Weka RBFNetwork -B {WEKA_CLUSTERS[0]}"])
        best = (max if task == "class" else min)(
            statistics.mean(results[f"Weka RBFNetwork -B {b}"]) for b in WEKA_CLUSTERS)
        better = (lambda a, b: a >= b) if task == "class" else (lambda a, b: a <= b)
        verdicts.append(f"{name[:-4]}: vxneural RBF {ours:.4f}; Weka default {weka:.4f}"
                        f" ({'met' if better(ours, weka) else 'NOT met'}), Weka's best B"
                        f" {best:.4f} ({'met' if better(ours, best) else 'NOT met'})")
    print_table(["data set", "model", "units", "mean", "sd", "range", "ratio"], rows)
    print("Target, vxneural RBF at or above Weka's RBFNetwork:")
    for v in verdicts:
        print("  " + v)
    print()


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--vxnn", help="path of vxnn_peer (parts A and B)")
    p.add_argument("--fann", help="path of fann_peer (parts A and B)")
    p.add_argument("--vxnn-cli", help="path of the vxnn program (part C)")
    p.add_argument("--weka", default=weka_peer.DEFAULT_JAR, help="Weka's jar (part C)")
    p.add_argument("--parts", default="ABC", help="which parts to run, e.g. C (default ABC)")
    p.add_argument("--data", required=True, help="folder of iris.csv, wine.csv, diabetes.csv")
    p.add_argument("--work", required=True, help="folder for the temporary CSV files")
    p.add_argument("--records", type=int, default=3000)
    p.add_argument("--throughput-passes", type=int, default=20)
    p.add_argument("--repeats", type=int, default=3)
    p.add_argument("--quality-passes", type=int, default=200)
    p.add_argument("--splits", type=int, default=5)
    a = p.parse_args()
    parts = a.parts.upper()
    if ("A" in parts or "B" in parts) and (np is None or not a.vxnn or not a.fann):
        p.error("parts A and B need --vxnn, --fann, numpy, scikit-learn and threadpoolctl")
    if "C" in parts and not a.vxnn_cli:
        p.error("part C needs --vxnn-cli")
    drivers = {"vxnn": a.vxnn, "fann": a.fann}

    print(f"Machine: {os.cpu_count()} x {cpu_model()}; load average at start {load()}")
    if "A" in parts or "B" in parts:
        blas = [f"{i.get('internal_api')} {i.get('version')} ({i.get('architecture', '?')})"
                for i in threadpoolctl.threadpool_info() if i.get("user_api") == "blas"]
        print(f"Peers: FANN {fann_version()} (double precision), scikit-learn"
              f" {sklearn.__version__} with numpy {np.__version__}, BLAS"
              f" {', '.join(blas) or 'unknown'} limited to 1 thread")
        print("Times are processor time of the training call alone (data loading excluded).")
    if "C" in parts:
        print(f"RBF peer: Weka {package_version('weka')} ({a.weka})")
    print()

    start = time.perf_counter()
    if "A" in parts:
        throughput(drivers, a.work, a.records, a.throughput_passes, a.repeats)
    if "B" in parts:
        quality(drivers, a.data, a.work, a.quality_passes, a.splits)
    if "C" in parts:
        rbf_quality(a.vxnn_cli, a.weka, a.data, a.work, a.splits)
    print(f"Load average at end {load()}; {time.perf_counter() - start:.0f} s in all.")


if __name__ == "__main__":
    main()
