#!/usr/bin/env bash
# The whole job as a new user runs it, against scikit-learn's standard
# pipeline on the same file and the same cores: a CSV of ROWS rows from
# bench/job_data.py (20 numeric inputs with 1% missing cells, a text column
# `group`, a 4-class target `class`) and a held-out file of ROWS / 10 more
# rows of the same rule.
#
#   vxnn:          `vxnn train FILE --target class` with its defaults, its
#                  summary's time line, then `vxnn eval` on the held-out file.
#   scikit-learn:  pandas read_csv; SimpleImputer, OneHotEncoder for `group`
#                  and StandardScaler in a ColumnTransformer; MLPClassifier
#                  with its defaults; predict on the held-out file.
#
# Each with THREADS threads (vxnn's --threads when it has it, VXNN_THREADS in
# the environment otherwise; OpenBLAS's threads through threadpoolctl). Prints
# the wall time of every phase, the held-out accuracy and the ratio of the
# wall times (scikit-learn's over vxnn's: the target is at least 2 at equal
# or better accuracy), and of the processor times, steadier on a machine
# shared with other work. With BUDGET set, vxnn also runs once more on the most
# threads with --memory-budget BUDGET, to show what the temporary files of
# the default budget cost.
#
#   ROWS=100000 bash bench/job_train.sh          # a quick run
#   bash bench/job_train.sh                      # 10^6 rows
#
# Environment: ROWS (default 1000000), THREADS (default "1 2"), BUDGET
# (default 2000000; empty: no such run), SKLEARN (default 1; 0 leaves
# scikit-learn out), DATA (a folder for the generated files, kept between
# runs; default a temporary one, removed at the end), BENCH_DIR (the Release
# build folder of vxnn, default build-bench; built when missing).
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/bench_build.sh"
rows="${ROWS:-1000000}"
threads="${THREADS:-1 2}"
budget="${BUDGET-2000000}"
sklearn="${SKLEARN:-1}"

if [ -d "$build" ]; then
  cmake --build "$build" --target vxnn -j 2 >/dev/null
else
  bench_build vxnn
fi

work="$(mktemp -d)"
if [ -n "${DATA:-}" ]; then
  data="$DATA"
  mkdir -p "$data"
  trap 'rm -rf "$work"' EXIT
else
  data="$work"
  trap 'rm -rf "$work"' EXIT
fi
train="$data/job_$rows.csv"
test="$data/job_${rows}_test.csv"
# The generator's seed draws the rule that decides the class as well as the
# rows, so the held-out rows come from the same run of it: ROWS + ROWS / 10
# rows, the last tenth set aside.
if [ ! -s "$train" ] || [ ! -s "$test" ]; then
  /usr/bin/python3 "$root/bench/job_data.py" "$((rows + rows / 10))" "$data/job_all.csv" 2026
  head -n "$((rows + 1))" "$data/job_all.csv" >"$train"
  { head -n 1 "$data/job_all.csv"; tail -n +"$((rows + 2))" "$data/job_all.csv"; } >"$test"
  rm -f "$data/job_all.csv"
fi

/usr/bin/python3 - "$build/bin/vxnn" "$work" "$train" "$test" "$threads" "$budget" "$sklearn" <<'PY'
import json, os, resource, subprocess, sys, time

vxnn, work, train, test, threads, budget, sklearn = sys.argv[1:8]
threads = [int(t) for t in threads.split()]


def load():
    return " ".join(f"{x:.2f}" for x in os.getloadavg())


def children_cpu():
    """Processor seconds (user and system) of the children that have ended:
    on a machine shared with other work the wall times vary with the load,
    the processor times much less."""
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


has_threads = "--threads" in subprocess.run([vxnn, "--help"], capture_output=True,
                                            text=True).stdout


def run_vxnn(n, *extra):
    """vxnn train with its defaults, then eval on the held-out file: the
    wall seconds of each, the time line and the held-out accuracy."""
    model = os.path.join(work, "job.model")
    summary = os.path.join(work, "summary.json")
    env = dict(os.environ)
    option = []
    if has_threads:
        option = ["--threads", str(n)]
    else:
        env["VXNN_THREADS"] = str(n)
    started, cpu = time.perf_counter(), children_cpu()
    out = subprocess.run([vxnn, *option, "train", train, "--target", "class", "--no-progress",
                          "--model", model, "--summary-json", summary, *extra],
                         check=True, capture_output=True, text=True, env=env).stdout
    trained, cpu = time.perf_counter() - started, children_cpu() - cpu
    line = next((l for l in out.splitlines() if l.startswith("Time:")), "(no time line)")
    with open(summary) as f:
        phases = json.load(f).get("time", {}).get("phases", {})
    started = time.perf_counter()
    out = subprocess.run([vxnn, *option, "eval", model, test, "--json"], check=True,
                         capture_output=True, text=True, env=env).stdout
    evaluated = time.perf_counter() - started
    accuracy = json.loads(out)["targets"][0]["accuracy"]
    return trained, cpu, evaluated, accuracy, line, phases


SKLEARN = r'''
import sys, time
import pandas as pd
from threadpoolctl import threadpool_limits
from sklearn.compose import ColumnTransformer
from sklearn.impute import SimpleImputer
from sklearn.neural_network import MLPClassifier
from sklearn.pipeline import Pipeline, make_pipeline
from sklearn.preprocessing import OneHotEncoder, StandardScaler

train, test, n = sys.argv[1], sys.argv[2], int(sys.argv[3])
with threadpool_limits(limits=n):
    t0, c0 = time.perf_counter(), time.process_time()
    df = pd.read_csv(train)
    t1 = time.perf_counter()
    numeric = [c for c in df.columns if c.startswith("x")]
    prep = ColumnTransformer([
        ("num", make_pipeline(SimpleImputer(), StandardScaler()), numeric),
        ("cat", OneHotEncoder(handle_unknown="ignore"), ["group"]),
    ])
    model = Pipeline([("prep", prep), ("mlp", MLPClassifier())])
    model.fit(df.drop(columns="class"), df["class"])
    t2, c2 = time.perf_counter(), time.process_time()
    held = pd.read_csv(test)
    accuracy = (model.predict(held.drop(columns="class")) == held["class"]).mean()
    t3 = time.perf_counter()
print(t1 - t0, t2 - t1, t3 - t2, accuracy, model[-1].n_iter_, c2 - c0)
'''


def run_sklearn(n):
    env = dict(os.environ, OPENBLAS_NUM_THREADS=str(n), OMP_NUM_THREADS=str(n))
    out = subprocess.run(["/usr/bin/python3", "-c", SKLEARN, train, test, str(n)], check=True,
                         capture_output=True, text=True, env=env).stdout.split()
    return [float(v) for v in out]


print(f"{os.path.basename(train)}: {sum(1 for _ in open(train)) - 1} rows; held out "
      f"{sum(1 for _ in open(test)) - 1}; threads through "
      f"{'--threads' if has_threads else 'VXNN_THREADS (no --threads yet)'}; load {load()}")
rows = []
for n in threads:
    trained, cpu, evaluated, accuracy, line, phases = run_vxnn(n)
    print(f"\nvxnn, {n} thread(s): train {trained:.1f} s ({cpu:.1f} s of processor time), "
          f"eval {evaluated:.1f} s, held-out accuracy {accuracy:.4f}; load {load()}\n  {line}")
    rows.append((n, "vxnn", trained, evaluated, accuracy))
    if sklearn != "0":
        read, fit, predict, sk_accuracy, epochs, sk_cpu = run_sklearn(n)
        print(f"scikit-learn, {n} thread(s): read {read:.1f} s, fit {fit:.1f} s "
              f"({epochs:.0f} epochs; read and fit {sk_cpu:.1f} s of processor time), "
              f"read and predict held out {predict:.1f} s, held-out accuracy "
              f"{sk_accuracy:.4f}; load {load()}")
        print(f"  ratio of wall times, scikit-learn / vxnn: training "
              f"{(read + fit) / trained:.2f}, with the held-out scoring "
              f"{(read + fit + predict) / (trained + evaluated):.2f}; accuracy "
              f"{accuracy - sk_accuracy:+.4f}; processor times, training {sk_cpu / cpu:.2f}")
if budget:
    n = max(threads)
    trained, cpu, evaluated, accuracy, line, phases = run_vxnn(n, "--memory-budget", budget)
    print(f"\nvxnn, {n} thread(s), --memory-budget {budget}: train {trained:.1f} s "
          f"({cpu:.1f} s of processor time), "
          f"held-out accuracy {accuracy:.4f}; load {load()}\n  {line}")
PY
