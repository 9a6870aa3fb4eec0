#!/usr/bin/env bash
# Non-blank, non-comment lines of C++ in the libraries and host (code) and in
# tests/, and their ratio: how the suite's size compares with what it tests.
set -euo pipefail
cd "$(dirname "$0")/.."
count() {
  find "$@" \( -name '*.cpp' -o -name '*.h' -o -name '*.inc' \) -print0 |
    xargs -0 cat | grep -v '^[[:space:]]*$' | grep -v '^[[:space:]]*//' | wc -l
}
code=$(count src include apps)
tests=$(count tests)
echo "code (src include apps): $code"
echo "tests: $tests"
awk -v t="$tests" -v c="$code" 'BEGIN { printf "tests / code: %.1f%%\n", 100 * t / c }'
if [ "${1:-}" = "--dirs" ]; then
  for d in tests/*/ tests/vxneural/*/; do
    [ -d "$d" ] && printf '%6d %s\n' "$(count "$d")" "$d"
  done
fi
