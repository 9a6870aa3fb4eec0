#!/usr/bin/env bash
# Raw-record scoring beside a peer library's scoring call, in one run, on
# the same network shape: our algorithm's Score(const Record&) (encoding,
# forward pass, output list; bench_score's Score/raw case) against the C
# multi-layer perceptron library's scoring call (peers/score_peer.c), both
# timed in processor time, and the ratio of their rates.
#
#   bash bench/score_peers.sh                 # 64-32-10
#   SHAPE=200-50-1 bash bench/score_peers.sh
#
# BENCH_DIR (default build-bench, as for `make bench`) is the Release build
# folder. The peer is installed by scripts/install-bench-deps.sh.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/bench_build.sh"
shape="${SHAPE:-64-32-10}"
IFS=- read -r inputs hidden outputs <<<"$shape"

bash "$root/scripts/install-bench-deps.sh"
bench_build bench_score
cc -O2 -std=c11 -Wall -Wextra -o "$build/bin/score_peer" "$root/bench/peers/score_peer.c" \
  -ldoublefann -lm

ours="$("$build/bin/bench_score" --benchmark_filter="^Score/raw/$shape\$" \
  --benchmark_min_time=2 --benchmark_format=json |
  /usr/bin/python3 -c 'import json, sys; print(json.load(sys.stdin)["benchmarks"][0]["records/s"])')"
peer="$("$build/bin/score_peer" --inputs "$inputs" --hidden "$hidden" --outputs "$outputs" \
  --seconds 2 | awk '{print $2}')"
/usr/bin/python3 - "$shape" "$ours" "$peer" <<'PY'
import sys
shape, ours, peer = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
print(f"raw-record scoring, {shape}:")
print(f"  vxneural Score(const Record&)  {ours / 1e6:8.3f} M records/s")
print(f"  peer scoring call              {peer / 1e6:8.3f} M records/s")
print(f"  ratio                          {ours / peer:8.2f}x")
PY
