#!/usr/bin/env bash
# Times the whole fit of the consecutive and the enzyme examples on an earlier commit and on
# the working tree, side by side in one run (bench/exported/fit_compare.cpp), then counts the
# heap allocations per call of the working tree's library (alloc_count).
#
#   bash scripts/bench_compare.sh [BASE] [fit_compare options...]    BASE defaults to f15b804
#
# BASE is checked out in a detached git worktree, build-bench-base/src, and its library built
# in build-bench-base/build (Release, tests, tools and benchmarks off); the working tree is
# built in build-bench (Release). Only the targets needed are built.
# Environment: JOBS (default: the number of processors).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
base="${1:-f15b804}"
shift || true
jobs="${JOBS:-$(nproc)}"
bash scripts/deps.sh

commit=$(git rev-parse --verify "$base^{commit}")
src="$root/build-bench-base/src"
if [[ -e "$src/.git" ]]; then
  git -C "$src" checkout -q --detach "$commit"
else
  mkdir -p "$root/build-bench-base"
  git worktree add -q --detach "$src" "$commit"
fi
cmake -S "$src" -B "$root/build-bench-base/build" -DCMAKE_BUILD_TYPE=Release -DTARVO_TESTS=OFF \
  -DTARVO_TOOLS=OFF -DTARVO_BENCH=OFF >/dev/null
build() {  # build DIR TARGET...: the compiler's output goes to DIR/bench-build.log
  local dir=$1
  shift
  echo "building $* in $dir"
  if ! cmake --build "$dir" -j"$jobs" --target "$@" >"$dir/bench-build.log" 2>&1; then
    tail -n 40 "$dir/bench-build.log"
    exit 2
  fi
}
build "$root/build-bench-base/build" Tarvo_64

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTARVO_BENCH=ON -DTARVO_SANITIZE=OFF >/dev/null
build build-bench Tarvo_64 fit_compare alloc_count

echo
echo "base: $(git log -1 --format='%h %s' "$commit")"
echo "current: working tree at $(git log -1 --format='%h' HEAD)$(git diff --quiet HEAD -- || echo ', with changes')"
echo
status=0
build-bench/fit_compare "$@" "$root/build-bench-base/build/libTarvo_64.so" \
  "$root/build-bench/libTarvo_64.so" || status=$?
echo
build-bench/alloc_count "$root/build-bench/libTarvo_64.so" || status=$?
exit "$status"
