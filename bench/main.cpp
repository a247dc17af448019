// Entry of the tarvo_bench program; every bench/*.cpp registers its benchmarks.
#include <benchmark/benchmark.h>

BENCHMARK_MAIN();
