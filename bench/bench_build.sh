# Sourced by the comparison scripts of bench/: the repository root, the
# Release build folder they share with `make bench` (BENCH_DIR, default
# build-bench), and bench_build.

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/${BENCH_DIR:-build-bench}"

# bench_build TARGET...: configures the build folder as `make bench` does,
# so that the scripts and it share one folder, and builds the targets.
bench_build() {
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVXNN_BUILD_TESTS=OFF \
    -DVXNN_BUILD_BENCH=ON >/dev/null
  cmake --build "$build" --target "$@" -j 2 >/dev/null
}
