#!/usr/bin/env bash
# Predictor importance on wide data: writes a CSV of 50 records with 5000
# numeric inputs and a continuous target, then times `vxnn train` on it
# with and without the importance, in one run, and prints the processor
# time of both runs, the training's own, the time the importance adds and
# its ratio to the training (the target: no more than 1).
#
#   bash bench/importance.sh [RECORDS [INPUTS]]     # default 50 5000
#
# BENCH_DIR (default build-bench, as for `make bench`) is the Release build
# folder where vxnn is built.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/bench_build.sh"
records="${1:-50}"
inputs="${2:-5000}"

bench_build vxnn

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 - "$work/wide.csv" "$records" "$inputs" <<'PY'
import random, sys
path, records, inputs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(7)
with open(path, "w") as f:
    f.write(",".join(f"x{i}" for i in range(inputs)) + ",y\n")
    for _ in range(records):
        x = [rng.uniform(-1.0, 1.0) for _ in range(inputs)]
        y = x[0] - 0.5 * x[1] + 0.25 * x[2] * x[3] + rng.gauss(0.0, 0.1)
        f.write(",".join(f"{v:.6f}" for v in x) + f",{y:.6f}\n")
PY

/usr/bin/python3 - "$build/bin/vxnn" "$work" "$records" "$inputs" <<'PY'
import json, os, resource, subprocess, sys
vxnn, work, records, inputs = sys.argv[1:5]


def run(*extra):
    """Processor seconds (user + system) of one whole `vxnn train`, and the
    training's own processor seconds from its summary."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    summary = os.path.join(work, "summary.json")
    subprocess.run([vxnn, "train", os.path.join(work, "wide.csv"), "--target", "y",
                    "--continuous", "y", "--no-save", "--no-progress", "--summary-json", summary,
                    *extra], check=True, stdout=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    with open(summary) as f:
        return cpu, json.load(f)["training"]["processor_seconds"]


without, training = run("--no-importance")
with_, _ = run()
importance = with_ - without
print(f"vxnn train on {records} records of {inputs} numeric inputs (processor seconds):")
print(f"  whole run without importance   {without:8.2f}   (training alone: {training:.2f})")
print(f"  whole run with importance      {with_:8.2f}")
print(f"  importance                     {importance:8.2f}")
print(f"  importance / training          {importance / max(training, 1e-9):8.2f}")
PY
