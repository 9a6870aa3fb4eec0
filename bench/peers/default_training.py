"""A full default training run of vxneural beside scikit-learn's default
fit, on the same seeded 70/30 splits of iris, wine and diabetes: our
library's default (an MLP built by the factory from default settings,
weights initialised from a sample, scaled conjugate gradient until its stop
rules end it) against MLPClassifier / MLPRegressor with every setting at its
default but the seed. Both see inputs standardized with the training
statistics (and a standardized regression target); both are timed in
processor time, training alone, on one thread. Started by
bench/default_training.sh.
"""

import argparse
import os
import statistics
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compare  # noqa: E402

DATASETS = [("iris.csv", "class"), ("wine.csv", "class"), ("diabetes.csv", "regr")]


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--vxnn", required=True, help="path of vxnn_peer")
    p.add_argument("--data", required=True)
    p.add_argument("--work", required=True)
    p.add_argument("--splits", type=int, default=10)
    a = p.parse_args()
    drivers = {"vxnn": a.vxnn}
    print(f"Default training, {a.splits} seeded 70/30 splits: mean processor seconds of one fit,"
          " mean test figure (accuracy: higher is better; relative error: lower is better)\n")
    rows = []
    for name, task in DATASETS:
        figure = "accuracy" if task == "class" else "relerr"
        # The library's default as a host runs it with a held-out part of the
        # training file for its verifying cycle, then as it runs with the
        # training file alone (nothing stops it at the best test error).
        runs = {"vxneural default, 30% held out": ("vxnn", "default-holdout"),
                "vxneural default, no held-out": ("vxnn", "default"),
                "sklearn default": ("sklearn", "default")}
        got = {label: [] for label in runs}
        for seed in range(1, a.splits + 1):
            train = os.path.join(a.work, f"train-{seed}-{name}")
            test = os.path.join(a.work, f"test-{seed}-{name}")
            compare.split(os.path.join(a.data, name), train, test, seed)
            for label, (library, method) in runs.items():
                got[label].append(compare.run_one(drivers, library, method, task, train, test,
                                                  0, 0, seed))
        for label in runs:
            r = got[label]
            rows.append([name[:-4], label, "%.0f" % statistics.mean(x["hidden"] for x in r),
                         "%.0f" % statistics.mean(x["passes"] for x in r),
                         "%.4f" % statistics.mean(x["cpu_s"] for x in r),
                         "%s %.4f" % (figure, statistics.mean(x[figure] for x in r))])
        peer = statistics.mean(x["cpu_s"] for x in got["sklearn default"])
        for label in list(runs)[:2]:
            ours = statistics.mean(x["cpu_s"] for x in got[label])
            rows.append([name[:-4], "sklearn time / " + label.split(", ")[1], "", "",
                         "%.1fx" % (peer / ours), ""])
    compare.print_table(["data set", "run", "hidden", "passes", "CPU s", "test figure"], rows)


if __name__ == "__main__":
    main()
