#!/bin/sh
# Peak resident memory and time of `vxnn train` on generated CSV files of
# 10^5, 10^6 and 10^7 rows (10 numeric inputs, a two-class target), with
# the default memory budget. The peak must stay flat as the file grows:
# vxnn re-reads the file on every pass and the library spills its encoded
# records to temporary files beyond the budget. Target: <= 150 MB at every
# size.
#
# usage: bench/large_csv.sh [build-dir] [rows ...]
#   build-dir  where vxnn is built (default: build-bench; built if missing)
#   rows       sizes to run (default: 100000 1000000 10000000)
# Environment: PASSES, the data passes of training (default 10: memory does
# not depend on it, the time does, linearly); WORK, the directory for the
# generated files (default: the system's temporary directory).
set -eu
build=${1:-build-bench}
[ $# -gt 0 ] && shift
sizes=${*:-100000 1000000 10000000}
passes=${PASSES:-10}
work=$(mktemp -d "${WORK:-${TMPDIR:-/tmp}}/large_csv.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

if [ ! -x "$build/bin/vxnn" ]; then
  cmake -S "$(dirname "$0")/.." -B "$build" -DCMAKE_BUILD_TYPE=Release -DVXNN_BUILD_TESTS=OFF \
    >/dev/null
  cmake --build "$build" --target vxnn >/dev/null
fi

printf '%10s %9s %12s %10s %9s\n' rows file_mb peak_rss_mb seconds test_acc
for n in $sizes; do
  csv="$work/rows_$n.csv"
  # A fixed linear rule with noise decides the class, so training has
  # something to learn; the generator's seed makes every run the same file.
  awk -v n="$n" 'BEGIN {
    srand(7); OFS = ","
    print "x1,x2,x3,x4,x5,x6,x7,x8,x9,x10,y"
    for (i = 0; i < n; ++i) {
      s = 0
      for (j = 1; j <= 10; ++j) { x[j] = sprintf("%.4f", rand() * 10 - 5); s += x[j] * (j % 3 - 1) }
      print x[1], x[2], x[3], x[4], x[5], x[6], x[7], x[8], x[9], x[10], \
        (s + rand() * 4 - 2 > 0 ? "yes" : "no")
    }
  }' >"$csv"
  mb=$(du -m "$csv" | cut -f1)
  /usr/bin/time -v "$build/bin/vxnn" train "$csv" --target y --no-save --no-progress \
    --no-importance --max-data-passes "$passes" --temp-dir "$work" --json \
    >"$work/out.json" 2>"$work/time.txt"
  kib=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time.txt" |
    awk -F: '{ s = 0; for (i = 1; i <= NF; ++i) s = s * 60 + $i; print s }')
  acc=$(grep '"accuracy"' "$work/out.json" | tail -1 | sed 's/.*: *\([0-9.]*\).*/\1/')
  printf '%10s %9s %12s %10s %9s\n' "$n" "$mb" "$(awk -v k="$kib" 'BEGIN { printf "%.1f", k / 1024 }')" \
    "$wall" "$acc"
  rm -f "$csv"
done
