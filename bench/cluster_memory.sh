#!/bin/sh
# Peak resident memory and time of the clustering library for 10^4, 10^5 and
# 10^6 generated records (see cluster_memory.cpp). The peak must stay flat:
# the summary tree is sized from the memory budget, not from the data.
#
# usage: bench/cluster_memory.sh [build-dir]   (default: build-bench)
set -eu
build=${1:-build-bench}
if [ ! -x "$build/bin/cluster_memory" ]; then
  cmake -S "$(dirname "$0")/.." -B "$build" -DCMAKE_BUILD_TYPE=Release -DVXNN_BUILD_BENCH=ON \
    -DVXNN_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" --target cluster_memory >/dev/null
fi
printf '%10s %8s %9s %9s %12s %13s %15s %14s\n' records entries rebuilds clusters \
  precluster_s autocluster_s peak_rss_kib time_v_max_kib
for n in 10000 100000 1000000; do
  out=$(/usr/bin/time -v "$build/bin/cluster_memory" "$n" 2>/tmp/cluster_memory.$$)
  tv=$(sed -n 's/.*Maximum resident set size (kbytes): //p' /tmp/cluster_memory.$$)
  rm -f /tmp/cluster_memory.$$
  echo "$out" | awk -v tv="$tv" '{
    for (i = 1; i <= NF; ++i) { split($i, kv, "="); f[kv[1]] = kv[2] }
    printf "%10s %8s %9s %9s %12s %13s %15s %14s\n", f["N"], f["entries"], f["rebuilds"],
      f["clusters"], f["precluster_s"], f["autocluster_s"], f["peak_rss_kib"], tv }'
done
