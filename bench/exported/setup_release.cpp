// setup_release: the time of Calcul_initial followed by Fin on the consecutive and the enzyme
// examples, for one library or two builds side by side.
//
//   setup_release [--reps N] [--examples DIR] [LIB.so [OTHER.so]]
//
// LIB.so defaults to the libTarvo_64.so of this build. Each repetition writes the exchange
// file (untimed: Fin erases it), then times Calcul_initial and Fin together, on the wall clock
// (the pages the library maps and unmaps cost system time that a thread's processor time
// counts too, so both are shown). The first set-up of each library is untimed; with two
// libraries the repetitions alternate between them. Each row gives the median and the fastest
// pair of calls; with two libraries, first/second is the ratio of the wall-clock medians.
//
// Exit status 2 on a usage error or a failed set-up.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "exported/example_host.h"

namespace {

using namespace tarvo;
using namespace tarvo::bench;

struct Series {
  std::vector<double> wall, cpu;
};

// One Calcul_initial + Fin; false, with a reason, when the set-up fails.
bool Pair(const Library& lib, const Example& ex, const std::string& exchange, Series& s,
          bool timed, std::string& error) {
  HostBlocks h(lib, ex, exchange);
  if (!h.FileExists()) {
    error = "cannot write " + exchange;
    return false;
  }
  const double w0 = Seconds(CLOCK_MONOTONIC);
  const double c0 = Seconds(CLOCK_THREAD_CPUTIME_ID);
  h.CalculInitial();
  const SmallInt erreur = h.records.fitset.Erreur;
  h.Fin();
  const double c1 = Seconds(CLOCK_THREAD_CPUTIME_ID);
  const double w1 = Seconds(CLOCK_MONOTONIC);
  if (erreur != 0) {
    error = "Calcul_initial: Erreur " + std::to_string(erreur) + " " + lib.LastFailure();
    return false;
  }
  if (timed) {
    s.wall.push_back(w1 - w0);
    s.cpu.push_back(c1 - c0);
  }
  return true;
}

int Usage() {
  std::fprintf(stderr, "usage: setup_release [--reps N] [--examples DIR] [LIB.so [OTHER.so]]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine line;
  line.reps = 200;
  line.most_files = 2;
  if (!ReadCommandLine(argc, argv, line)) return Usage();
  if (line.files.empty()) line.files.push_back(TARVO_SHARED_LIBRARY);
  const int reps = line.reps;
  const size_t n = line.files.size();
  Library libs[2];
  Example examples[2];
  std::string folder;
  if (!OpenLibraries("setup_release", line.files, libs) ||
      !StartExamples("setup_release", line.examples_dir, examples, folder))
    return 2;
  std::string error;
  std::printf("Calcul_initial + Fin, %d repetitions%s; milliseconds per pair of calls.\n", reps,
              n == 2 ? " alternating between the libraries" : "");
  for (size_t k = 0; k < n; ++k)
    std::printf("%s: %s\n", n == 2 ? (k == 0 ? "first" : "second") : "library",
                libs[k].path.c_str());
  std::printf("\n%-12s %-7s %9s %9s %9s\n", "example", "library", "wall", "wall min", "cpu");
  bool ok = true;
  for (const Example& ex : examples) {
    Series series[2];
    for (int rep = -1; rep < reps && ok; ++rep) {
      for (size_t turn = 0; turn < n && ok; ++turn) {
        const size_t k = (rep & 1) ? n - 1 - turn : turn;
        const std::string exchange = folder + "/" + ex.name + "-" + std::to_string(k) + ".dat";
        if (!Pair(libs[k], ex, exchange, series[k], rep >= 0, error)) {
          std::fprintf(stderr, "setup_release: %s: %s\n", ex.name.c_str(), error.c_str());
          ok = false;
        }
      }
    }
    if (!ok) break;
    for (size_t k = 0; k < n; ++k) {
      const Series& s = series[k];
      std::printf("%-12s %-7s %9.3f %9.3f %9.3f\n", ex.name.c_str(),
                  n == 2 ? (k == 0 ? "first" : "second") : "", 1e3 * Median(s.wall),
                  1e3 * Min(s.wall), 1e3 * Median(s.cpu));
    }
    if (n == 2)
      std::printf("%-12s first/second %.1f\n", ex.name.c_str(),
                  Median(series[0].wall) / Median(series[1].wall));
  }
  RemoveScratchFolder(folder);
  return ok ? 0 : 2;
}
