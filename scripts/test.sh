#!/usr/bin/env bash
# Builds the library, the tools and the tests, and runs the whole test suite. The tests are
# switched on whatever the build folder's cache says (scripts/example.sh configures the same
# folder without them), and a run in which ctest finds no test fails.
# Then the Python tests (tests/python) run on the module built into BUILD_DIR/python, except in
# a sanitized build, which builds no module.
# Environment: BUILD_DIR (default build), TARVO_WERROR=ON|OFF, TARVO_SANITIZE=ON|OFF.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVO_TESTS=ON -DTARVO_TOOLS=ON \
  -DTARVO_WERROR="${TARVO_WERROR:-OFF}" -DTARVO_SANITIZE="${TARVO_SANITIZE:-OFF}" >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure --no-tests=error -j"$(nproc)"
if [[ "${TARVO_SANITIZE:-OFF}" != ON ]]; then
  if ! compgen -G "$build/python/tarvo/_core*.so" >/dev/null; then
    echo "the Python module was not built (pybind11-dev, python3-dev: scripts/deps.sh)" >&2
    exit 1
  fi
  dir="$(cd "$build" && pwd)"
  PYTHONPATH="$dir/python" TARVO_BIN="$dir/tarvo" \
    /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/python
fi
