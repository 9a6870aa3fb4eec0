#!/usr/bin/env bash
# A gradient pass of a 64-32-10 MLP over 10^6 records shared by 1, 2 and 4
# processes of an mpirun on this machine (one pass thread each), each
# holding its share in memory: the pass's wall time, the time in the
# exchange, and the values each process hands over. One JSON line per
# process count.
#
#   bash bench/mpi_pass.sh [records] [passes]   # default 1000000 5
#
# BENCH_DIR (default build-bench) names the Release build folder. Four
# processes on a machine of two cores share them: the figures for 4 show
# the exchange's cost, not a speed-up.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/bench_build.sh"
records=${1:-1000000}
passes=${2:-5}
echo "mpi_pass: building the program in $build" >&2
bench_build mpi_pass
for np in 1 2 4; do
  VXNN_THREADS=1 "$root/scripts/mpirun.sh" -np "$np" "$build/bin/mpi_pass" "$records" "$passes"
done
