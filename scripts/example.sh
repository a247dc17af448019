#!/usr/bin/env bash
# Builds everything and runs the main job on a bundled example.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVO_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
"$build"/tarvo_bench --benchmark_min_time=0.05
