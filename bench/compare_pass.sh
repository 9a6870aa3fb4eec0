#!/usr/bin/env bash
# One full gradient pass over 1797 records (64 inputs, 10 classes; and a
# 200-input regression) by our pass kernels and by the peers, in one run:
# numpy on OpenBLAS and PyTorch (one thread, fp64), FANN's batch epoch;
# prints record x weight per second, the ratio to the best peer and each
# kernel's share of the core's measured peak. Then the RBF pass against a
# vectorised numpy version. See bench/README.md.
#
#   bash bench/compare_pass.sh [--passes N] [--repeats N]
#
# BENCH_DIR (default build-bench, as for `make bench`) names the Release
# build folder. The peers are installed first when missing
# (scripts/install-bench-deps.sh).
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/bench_build.sh"

bash "$root/scripts/install-bench-deps.sh"

echo "compare_pass: building the programs in $build" >&2
bench_build bench_network bench_rbf
cc -O2 -std=c11 -Wall -Wextra -o "$build/bin/fann_pass" "$root/bench/peers/fann_pass.c" \
  -ldoublefann -lm

# Debian's interpreter, where the Debian peer packages are installed.
/usr/bin/python3 "$root/bench/peers/pass_peers.py" --bench "$build/bin/bench_network" \
  --bench-rbf "$build/bin/bench_rbf" --fann-pass "$build/bin/fann_pass" "$@"
