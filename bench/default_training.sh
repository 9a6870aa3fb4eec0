#!/usr/bin/env bash
# A full default training run of vxneural beside scikit-learn's default fit
# on iris, wine and diabetes, in one run: mean processor time of a fit and
# mean test figure of each over the same seeded splits (see
# peers/default_training.py).
#
#   bash bench/default_training.sh [--splits N]
#
# BENCH_DIR (default build-bench, as for `make bench`) is the Release build
# folder. The peer is installed by scripts/install-bench-deps.sh.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/bench_build.sh"

bash "$root/scripts/install-bench-deps.sh"
bench_build vxnn_peer

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 "$root/bench/peers/default_training.py" --vxnn "$build/bin/vxnn_peer" \
  --data "$root/data" --work "$work" "$@"
