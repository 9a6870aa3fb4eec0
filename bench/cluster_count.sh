#!/usr/bin/env bash
# The clustering library's automatic cluster count against scikit-learn's
# GaussianMixture chosen by BIC, on planted data with fixed seeds, and prints
# the table (see bench/README.md).
#
# Run from anywhere:
#   bash bench/cluster_count.sh                       # the table in bench/README.md
#   bash bench/cluster_count.sh --only unequal --seeds 10
# Options after the script name go to bench/peers/cluster_count.py (--help
# lists them). BENCH_DIR (default build-bench, as for `make bench`) names the
# Release build folder where cluster_count is built.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/bench_build.sh"

bash "$root/scripts/install-bench-deps.sh"

echo "cluster_count: building cluster_count in $build" >&2
bench_build cluster_count

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Debian's interpreter, where the Debian peer packages are installed.
/usr/bin/python3 "$root/bench/peers/cluster_count.py" --program "$build/bin/cluster_count" \
  --work "$work" "$@"
