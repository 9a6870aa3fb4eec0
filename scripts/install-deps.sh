#!/usr/bin/env bash
# Installs the Debian packages the build, tests and benchmarks need, and only
# those that are missing, so it is quick on a machine that has them all.
set -euo pipefail

packages=(
  g++ make cmake          # toolchain
  libgtest-dev libgmock-dev  # tests
  libbenchmark-dev        # bench/
  libxml2-utils           # xmllint, to check written XML is well formed
  python3                 # the tests' independent PMML scorer
  libcsv-dev              # vxnn: RFC 4180 CSV reading
  libcli11-dev            # vxnn: command-line parsing
  nlohmann-json3-dev      # vxnn: JSON output
  chromium                # the report page's browser test (headless)
  python3-dev pybind11-dev python3-pybind11  # the Python package's extension module
  python3-numpy python3-pandas python3-sklearn  # ... and what it works with
  python3-pytest          # its tests
  python3-jsonschema      # the JSON summaries checked against docs/schema/
  python3-setuptools python3-wheel python3-venv  # pip install ./python
  libopenmpi-dev openmpi-bin  # vxneural::mpi (data-parallel runs) and its tests
  doxygen                 # make docs: the API reference
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

echo "install-deps: installing ${missing[*]}"
sudo_cmd=""
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo_cmd apt-get update -qq
$sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
