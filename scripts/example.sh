#!/usr/bin/env bash
# Builds everything and runs the main job on a bundled example: fits the consecutive
# reactions A -> B -> C of examples/consecutive to their absorbance data.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVO_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
out="$build/example-consecutive"
mkdir -p "$out"
"$build"/tarvo fit examples/consecutive/model.toml -o "$out" | tee "$out/report.txt"
echo
echo "Report: $out/report.txt (and $out/fit.json with the history of the fit)"
echo "Plot:   $out/plot.png (and $out/plot.svg)"
echo "Points: $out/points.csv"
