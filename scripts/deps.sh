#!/usr/bin/env bash
# Installs the Debian packages the build needs (only those missing). Run as root.
# Arguments name optional extras for one script only; scripts/fuzz.sh passes
# clang libclang-rt-14-dev (the compiler and libFuzzer of the fuzz targets).
set -euo pipefail
packages=(cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
          libtomlplusplus-dev nlohmann-json3-dev libplplot-dev plplot-driver-cairo
          python3-dev pybind11-dev python3-numpy python3-pandas python3-pytest python3-pip
          python3-setuptools python3-matplotlib python3-distributed libsbml5-dev
          libeigen3-dev libsundials-dev  # the method library tarvo_methods (EXACT, BDF)
          "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
