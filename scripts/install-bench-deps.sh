#!/usr/bin/env bash
# Installs the Debian packages of the peer comparisons (bench/compare_peers.sh,
# bench/real_data.sh and the like), and only those that are missing. The
# libraries and their tests never need them, so `make test` does not call
# this script.
set -euo pipefail

packages=(
  g++ make cmake libbenchmark-dev  # our driver, built with the benchmarks
  time                             # /usr/bin/time -v: peak memory in bench/*.sh
  libfann-dev                      # peer: a C multi-layer perceptron library
  python3-sklearn python3-numpy    # peer: MLPClassifier / MLPRegressor
  libopenblas0-pthread             # an optimized BLAS for numpy, not the reference one
  python3-threadpoolctl            # to pin and report the BLAS threads
  python3-torch                    # peer: one gradient pass in fp64 (compare_pass.sh)
  weka                             # peer: RBFNetwork and MultilayerPerceptron, run by java
  r-base-core r-cran-mass r-cran-mlbench  # real data sets of bench/real_data.sh
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-bench-deps: installing ${missing[*]}"
sudo_cmd=""
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo_cmd apt-get update -qq
$sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
