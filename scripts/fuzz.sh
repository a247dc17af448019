#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/) with clang and libFuzzer in build-fuzz/ and runs each one
# for SECONDS (default 60), starting from its committed corpus and regression inputs. Fails
# on the first finding: a crash, a sanitizer report, a leak, an input slower than 20 s or one
# that needs more than 2 GB. The crashing input is left as build-fuzz/findings/<target>/crash-*;
# keep it as fuzz/regressions/<target>/<name> once the fault is understood.
#   bash scripts/fuzz.sh          # about a minute per target (CI)
#   bash scripts/fuzz.sh 3600     # an hour per target
# Environment: BUILD_DIR (default build-fuzz), FUZZ_TARGETS (default: all of them).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
bash scripts/deps.sh clang libclang-rt-14-dev
build="${BUILD_DIR:-build-fuzz}"
targets=(${FUZZ_TARGETS:-formula setup exchange_file model_file data_csv})
CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVO_WERROR=ON \
  -DTARVO_FUZZ=ON -DTARVO_TESTS=OFF -DTARVO_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/#/fuzz_}"
# The targets write their scratch files here, not into the shared temporary folder.
export TMPDIR="$PWD/$build/tmp"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for t in "${targets[@]}"; do
  # The exchange file needs room for a few 3616-byte records.
  max_len=4096
  [[ $t == exchange_file ]] && max_len=16384
  # The corpus grows in the build folder; the committed seeds are only read.
  work="$build/corpus/$t" findings="$build/findings/$t"
  rm -rf "$TMPDIR" "$findings"
  mkdir -p "$work" "$findings" "$TMPDIR"
  inputs=("$work" fuzz/corpus/"$t")
  [[ -d fuzz/regressions/$t ]] && inputs+=(fuzz/regressions/"$t")
  echo "== fuzz_$t for ${seconds}s"
  "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -max_len="$max_len" -timeout=20 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" "${inputs[@]}" \
    2>"$build/fuzz_$t.log" || { tail -n 60 "$build/fuzz_$t.log"; echo "fuzz_$t: finding in $findings"; exit 1; }
  grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$build/fuzz_$t.log" | tr '\n' ' '
  echo
done
rm -rf "$TMPDIR"
