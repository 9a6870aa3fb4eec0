#!/usr/bin/env python3
"""Tries `vxnn train --network rbf` settings on seeded 70/30 splits of iris,
wine and diabetes and prints the mean test figure of each.

This is how vxnn's RBF defaults (the number of centres and the overlap
factor) were chosen: on splits 101..110, none of which is among the splits
1..5 that compare.py part C reports. In the options, {H} stands for
2 x (input + output units), {L} for the library's default overlap
(1 + 0.1 x input units) and {O4} for 4 times that, units counted as vxnn
counts them.

  python3 bench/peers/rbf_explore.py --vxnn-cli build/bin/vxnn \\
      --seeds 101-110 '[["default", ["--network", "rbf"]]]'
"""
import argparse
import json
import os
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compare  # noqa: E402

# input units (sex is categorical in diabetes: two units) and output units
UNITS = {"iris.csv": (4, 3), "wine.csv": (13, 3), "diabetes.csv": (11, 1)}


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("configs", help='JSON list of [label, [vxnn train options]]')
    p.add_argument("--vxnn-cli", required=True)
    p.add_argument("--data", default=os.path.join(os.path.dirname(__file__), "..", "..", "data"))
    p.add_argument("--seeds", default="101-110", help="first-last")
    a = p.parse_args()
    first, last = (int(s) for s in a.seeds.split("-"))
    work = tempfile.mkdtemp()
    for name, task, _ in compare.DATASETS:
        i, o = UNITS[name]
        configs = [[label, [x.replace("{H}", str(2 * (i + o))).replace("{O4}", str(4 * (1 + 0.1 * i)))
                            .replace("{L}", str(1 + 0.1 * i))
                            for x in extra]] for label, extra in json.loads(a.configs)]
        res = {c[0]: [] for c in configs}
        spent = {c[0]: 0.0 for c in configs}
        for seed in range(first, last + 1):
            train = os.path.join(work, f"train-{seed}-{name}")
            test = os.path.join(work, f"test-{seed}-{name}")
            compare.split(os.path.join(a.data, name), train, test, seed)
            for label, extra in configs:
                start = time.perf_counter()
                predictions, _ = compare.vxnn_cli_run(a.vxnn_cli, extra, train, test, work)
                spent[label] += time.perf_counter() - start
                res[label].append(compare.test_figure(task, train, test, predictions))
        for label, _ in configs:
            v = res[label]
            print(f"{name[:-4]:9s} {label:24s} mean {statistics.mean(v):.4f}"
                  f" sd {statistics.stdev(v):.4f}  {spent[label] / len(v):.2f} s per train+score",
                  flush=True)


if __name__ == "__main__":
    main()
