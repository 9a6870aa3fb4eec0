#!/usr/bin/env bash
# predict_proba throughput of the Python MLPClassifier against scikit-learn's
# on the same network shape (64-100-10), 10^6 rows, one thread each, in one
# run; see bench/README.md.
#
#   bash bench/python_predict.sh                # 10^6 rows, best of 7
#   bash bench/python_predict.sh --rows 200000
#
# BENCH_DIR (default build-bench) is the Release build folder where the
# module is built.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/bench_build.sh"
bash "$root/scripts/install-deps.sh"  # pybind11, pandas: the module
bash "$root/scripts/install-bench-deps.sh"
bench_build _vxneural
PYTHONPATH="$build/python" /usr/bin/python3 "$root/bench/peers/python_predict.py" "$@"
