#!/usr/bin/env bash
# The Python estimators against `vxnn train` (the same model on the same
# split and seeds) and scikit-learn's MLP (the time of fit plus predict) on
# iris, wine, diabetes and the real data sets of bench/real_data.sh; see
# bench/README.md.
#
#   bash bench/python_estimators.sh                    # every set, 5 splits
#   bash bench/python_estimators.sh --only iris,zoo --splits 2
#
# Options go to bench/peers/python_estimators.py. BENCH_DIR (default
# build-bench) is the Release build folder, where vxnn and the module are
# built.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/bench_build.sh"
bash "$root/scripts/install-deps.sh"  # pybind11, pandas: the module
bash "$root/scripts/install-bench-deps.sh"
echo "python_estimators: building vxnn and the Python module in $build" >&2
bench_build vxnn _vxneural

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
PYTHONPATH="$build/python" /usr/bin/python3 "$root/bench/peers/python_estimators.py" \
  --vxnn "$build/bin/vxnn" --work "$work" --root "$root" --rscript /usr/bin/Rscript "$@"
