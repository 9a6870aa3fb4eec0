#!/bin/sh
# Peak resident memory and time of training on 10^5, 10^6 and 10^7 generated
# records with a budget of 5000 records in memory (see large_data.cpp). The
# records go through a temporary file; the peak must stay flat as N grows,
# and no temporary file may remain afterwards.
#
# usage: bench/large_data.sh [build-dir] [temporary-directory]
#        (defaults: build-bench, a new directory under $TMPDIR or /tmp)
set -eu
build=${1:-build-bench}
if [ ! -x "$build/bin/large_data" ]; then
  cmake -S "$(dirname "$0")/.." -B "$build" -DCMAKE_BUILD_TYPE=Release -DVXNN_BUILD_BENCH=ON \
    -DVXNN_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" --target large_data >/dev/null
fi
tmp=${2:-$(mktemp -d "${TMPDIR:-/tmp}/vxnn-large-XXXXXX")}
log=$(mktemp)
trap 'rm -f "$log"' EXIT
printf '%10s %6s %6s %8s %9s %9s %10s %9s %13s %14s\n' records status passes accuracy \
  prepare_s train_s files_used files_left peak_rss_kib time_v_max_kib
for n in 100000 1000000 10000000; do
  out=$(/usr/bin/time -v "$build/bin/large_data" "$n" "$tmp" 2>"$log") || true
  tv=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$log")
  echo "$out" | awk -v tv="$tv" '{
    for (i = 1; i <= NF; ++i) { split($i, kv, "="); f[kv[1]] = kv[2] }
    printf "%10s %6s %6s %8s %9s %9s %10s %9s %13s %14s\n", f["N"], f["status"], f["passes"],
      f["accuracy"], f["prepare_s"], f["train_s"], f["temp_files_during"],
      f["temp_files_after"], f["peak_rss_kib"], tv }'
done
if [ -z "${2:-}" ]; then rmdir "$tmp" || echo "files left in $tmp"; fi
