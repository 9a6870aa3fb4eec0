#!/usr/bin/env bash
# `vxnn train` with its defaults against scikit-learn's MLPClassifier /
# MLPRegressor with theirs, on the same seeded 70/30 splits of iris, wine,
# diabetes and generated wide whole-number data, and prints the table (see
# bench/README.md).
#
# Run from anywhere:
#   bash bench/defaults.sh                                  # the defaults alone
#   bash bench/defaults.sh --config "auto=--network auto"   # ... beside another configuration
# Options after the script name go to bench/peers/defaults.py (--help lists
# them). BENCH_DIR (default build-bench, as for `make bench`) names the
# Release build folder where vxnn is built.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/bench_build.sh"

bash "$root/scripts/install-bench-deps.sh"

echo "defaults: building vxnn in $build" >&2
bench_build vxnn

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Debian's interpreter, where the Debian peer packages are installed.
/usr/bin/python3 "$root/bench/peers/defaults.py" --vxnn "$build/bin/vxnn" --data "$root/data" \
  --work "$work" "$@"
