#!/usr/bin/env bash
# Installs the Debian packages the fuzz targets need (clang and its libFuzzer
# and sanitizer runtimes), on top of those of install-deps.sh, and only those
# that are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

packages=(
  clang               # the compiler libFuzzer needs
  libclang-rt-14-dev  # libFuzzer, AddressSanitizer and UBSan runtimes for clang 14
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-fuzz-deps: installing ${missing[*]}"
sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo_cmd apt-get update -qq
$sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
