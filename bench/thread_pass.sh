#!/usr/bin/env bash
# The passes of bench/compare_pass.sh (a gradient pass over 1797 records on
# the three perceptron shapes, the RBF pass on its two) on 1, 2 and 4
# threads, each kernel, in wall-clock time, in one run: prints record x
# weight/s and the speed-up over one thread of the same kernel. Target: 2
# threads at least 1.8x one thread on every shape (fastest kernel).
#
#   bash bench/thread_pass.sh [--repeats N]   # best of N runs (default 3)
#
# BENCH_DIR (default build-bench, as for `make bench`) names the Release
# build folder. The figures need a machine with two idle cores: on a busy
# one the threads wait for each other's cores.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/bench_build.sh"
repeats=3
[ "${1:-}" = "--repeats" ] && repeats=$2

echo "thread_pass: building the programs in $build" >&2
bench_build bench_network bench_rbf

/usr/bin/python3 - "$build/bin/bench_network" "$build/bin/bench_rbf" "$repeats" <<'PY'
import json, subprocess, sys

programs, repeats = sys.argv[1:3], int(sys.argv[3])
best = {}
for _ in range(repeats):
    for program in programs:
        out = subprocess.run(
            [program, "--benchmark_filter=^Threaded", "--benchmark_format=json",
             "--benchmark_min_time=0.3"], check=True, capture_output=True, text=True).stdout
        for b in json.loads(out)["benchmarks"]:
            # ThreadedGradientPass/64-32-10/avx512/2/real_time
            kind, shape, kernel, threads = b["name"].split("/")[:4]
            key = ("RBF " if kind == "ThreadedRBFPass" else "") + shape, kernel, int(threads)
            best[key] = max(best.get(key, 0.0), b["record_weights/s"])

print(f"{'shape':<15} {'kernel':<10} {'1 thread':>10} {'2 threads':>10} {'4 threads':>10}"
      f" {'2 / 1':>6} {'4 / 1':>6}")
for (shape, kernel, threads) in sorted(k for k in best if k[2] == 1):
    one = best[(shape, kernel, 1)]
    two = best.get((shape, kernel, 2), 0.0)
    four = best.get((shape, kernel, 4), 0.0)
    print(f"{shape:<15} {kernel:<10} {one / 1e9:9.2f}G {two / 1e9:9.2f}G {four / 1e9:9.2f}G"
          f" {two / one:5.2f}x {four / one:5.2f}x")
PY
