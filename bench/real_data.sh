#!/usr/bin/env bash
# vxnn's MLP, RBF and automatic choice against scikit-learn's MLP (in the
# usual impute / one-hot / standardize pipeline) and Weka's
# MultilayerPerceptron and RBFNetwork, on real data sets from Debian
# packages (R's datasets, MASS, mlbench; scikit-learn's bundled wine and
# diabetes), on the same seeded 70/30 splits, and prints the table and the
# targets (see bench/README.md).
#
# Run from anywhere:
#   bash bench/real_data.sh                          # every set, 5 splits
#   bash bench/real_data.sh --only zoo,servo --splits 2 --no-weka
#   bash bench/real_data.sh --config "mlp20=--hidden-units 20" --json results.json
# Options after the script name go to bench/peers/real_data.py (--help lists
# them). BENCH_DIR (default build-bench, as for `make bench`) names the
# Release build folder where vxnn is built; --vxnn PATH runs another vxnn
# instead, and nothing is built.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/bench_build.sh"

vxnn=""
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --vxnn) vxnn="${2:?--vxnn needs a path}"; shift 2 ;;
    --vxnn=*) vxnn="${1#--vxnn=}"; shift ;;
    *) args+=("$1"); shift ;;
  esac
done

bash "$root/scripts/install-bench-deps.sh"

if [ -z "$vxnn" ]; then
  echo "real_data: building vxnn in $build" >&2
  bench_build vxnn
  vxnn="$build/bin/vxnn"
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Debian's interpreters, where the Debian peer and data packages are installed.
/usr/bin/python3 "$root/bench/peers/real_data.py" --vxnn "$vxnn" --rscript /usr/bin/Rscript \
  --work "$work" ${args[@]+"${args[@]}"}
