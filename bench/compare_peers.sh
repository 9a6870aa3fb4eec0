#!/usr/bin/env bash
# Compares vxneural with peer neural-network libraries on the same data and
# network shapes, in one run, and prints the figures with their ratios:
# training throughput on synthetic records, test accuracy / relative error
# on the iris, wine and diabetes data, and our RBF network beside an RBF
# network peer on the same splits (see bench/README.md).
#
# Run from anywhere:
#   bash bench/compare_peers.sh                 # everything, a few minutes
#   bash bench/compare_peers.sh --repeats 1 --splits 2 --quality-passes 100
# Options after the script name go to bench/peers/compare.py (--help lists
# them). BENCH_DIR (default build-bench, as for `make bench`) names the
# Release build folder where our driver is built.
#
# It first installs the peers if they are missing (scripts/install-bench-deps.sh,
# Debian packages, as root or with sudo). The peers serve this script only.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/bench_build.sh"

bash "$root/scripts/install-bench-deps.sh"

echo "compare_peers: building the drivers in $build" >&2
bench_build vxnn_peer vxnn
cc -O2 -std=c11 -Wall -Wextra -o "$build/bin/fann_peer" "$root/bench/peers/fann_peer.c" \
  -ldoublefann -lm

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Debian's interpreter, where the Debian peer packages are installed (a
# python3 earlier on the PATH may be another one).
/usr/bin/python3 "$root/bench/peers/compare.py" --vxnn "$build/bin/vxnn_peer" \
  --fann "$build/bin/fann_peer" --vxnn-cli "$build/bin/vxnn" --data "$root/data" \
  --work "$work" "$@"
