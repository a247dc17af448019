#!/usr/bin/env bash
# Makes the synthetic data of the examples: each example's model simulated at the true values
# of its truth.toml on the points of its design.csv, with normal noise, written to its
# data.csv. The seeds are fixed, so the data are the same on every machine.
# Usage: bash examples/make_data.sh [path to the tarvo binary, default build/tarvo]
set -euo pipefail
cd "$(dirname "$0")"
tarvo="$(realpath "${1:-../build/tarvo}")"

synth() {  # folder, then the noise options
  local dir="$1"
  shift
  (cd "$dir" && "$tarvo" synth model.toml --design design.csv --truth truth.toml "$@" -o data.csv)
}

synth consecutive --noise 0.005 --replicates 3 --seed 1
synth enzyme --noise 0.005 --replicates 3 --seed 2
synth two_compartment --noise 0.05 --relative --replicates 3 --seed 3
synth reversible --noise 0.01 --replicates 2 --seed 4
synth second_order --noise 0.003 --replicates 2 --seed 5
synth bounded --noise 0.005 --replicates 3 --seed 7
# One data file per experiment, each from its own truth (the experiment's Ainit and offset).
seed=11
for e in low mid high; do
  (cd global_reversible && "$tarvo" synth model.toml --design design.csv --truth "truth_$e.toml" \
     --noise 0.005 --replicates 2 --seed "$seed" -o "$e.csv")
  seed=$((seed + 1))
done
