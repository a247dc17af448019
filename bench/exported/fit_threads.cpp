// fit_threads: the whole fit of the consecutive and the enzyme examples (three free
// adjustables each) with the perturbed walks of each fitting step on one thread
// (TARVO_THREADS=1) and on every core (TARVO_THREADS unset, or --threads N), side by side in
// one run of one library.
//
//   fit_threads [--reps N] [--threads N] [--examples DIR] [LIB.so]
//
// The library reads TARVO_THREADS at each Calcul_initial, so the program sets it before each
// set-up. A fit is Calcul_initial, Simulation at the start values, Ajustement until Done, Fin;
// its time is the wall-clock time of the Ajustement calls (the part the threads share; the
// simulations between the steps still run on the caller's thread alone). After one untimed
// fit each, the repetitions alternate (one thread, all threads, then the other way round) so
// that drifts of a shared machine fall on both alike. Each row gives the median and the
// fastest fit; 1/N is the ratio of the medians.
//
// The fits must agree bit for bit: Erreur, Done, the number of calls, ErreurCalc, ErreurExp,
// Coeff and every adjustable's value and SD. Exit status 1 when they differ, 2 on a usage
// error or a failed fit.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "exported/example_host.h"

namespace {

using namespace tarvo;
using namespace tarvo::bench;

// One fit with the given TARVO_THREADS ("" unsets it); its Ajustement time in seconds, or a
// negative value with a reason.
double RunFit(const Library& lib, const Example& ex, const std::string& exchange,
              const std::string& threads, FitOutcome& out, std::string& error) {
  if (threads.empty())
    unsetenv("TARVO_THREADS");
  else
    setenv("TARVO_THREADS", threads.c_str(), 1);
  FitTiming t;
  return RunFitToDone(lib, ex, exchange, out, t, error) ? t.fit_wall : -1;
}

// How much more arithmetic the machine does right now on n threads than on one: a busy
// machine shared with other processes gives a fit's threads less than its core count.
double MachineParallelism(unsigned n) {
  auto work = [](volatile double* out) {
    double s = 0;
    for (long i = 1; i < 30000000; ++i) s = s + 1.0 / static_cast<double>(i);
    *out = s;
  };
  std::vector<double> sink(n);
  double t0 = Seconds(CLOCK_MONOTONIC);
  work(&sink[0]);
  const double one = Seconds(CLOCK_MONOTONIC) - t0;
  t0 = Seconds(CLOCK_MONOTONIC);
  std::vector<std::thread> threads;
  for (unsigned k = 0; k < n; ++k) threads.emplace_back(work, &sink[k]);
  for (std::thread& t : threads) t.join();
  return n * one / (Seconds(CLOCK_MONOTONIC) - t0);
}

int Usage() {
  std::fprintf(stderr, "usage: fit_threads [--reps N] [--threads N] [--examples DIR] [LIB.so]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine line;
  line.reps = 20;
  std::string threads;  // "": every core
  const bool read = ReadCommandLine(argc, argv, line, [&](int n, char** args, int& i) {
    if (std::strcmp(args[i], "--threads") != 0 || i + 1 >= n) return 0;
    threads = args[++i];
    return std::atoi(threads.c_str()) < 1 ? -1 : 1;
  });
  if (!read) return Usage();
  if (line.files.empty()) line.files.push_back(TARVO_SHARED_LIBRARY);
  const int reps = line.reps;
  Library libs[2];
  Example examples[2];
  std::string folder;
  if (!OpenLibraries("fit_threads", line.files, libs) ||
      !StartExamples("fit_threads", line.examples_dir, examples, folder))
    return 2;
  const Library& lib = libs[0];
  std::string error;
  const unsigned cores = std::thread::hardware_concurrency();
  std::printf("Ajustement calls of a whole fit, wall clock, %d repetitions alternating;\n"
              "1: TARVO_THREADS=1; N: %s (%u cores).\nlibrary: %s\n\n",
              reps, threads.empty() ? "TARVO_THREADS unset" : ("TARVO_THREADS=" + threads).c_str(),
              cores, lib.path.c_str());
  std::printf("%-12s %5s %9s %9s %9s %9s %7s\n", "example", "calls", "1 ms", "N ms", "1 min",
              "N min", "1/N");
  bool identical = true, failed = false;
  const std::string settings[2] = {"1", threads};
  for (const Example& ex : examples) {
    std::vector<double> times[2];
    FitOutcome first[2];
    bool stable = true, ok = true;
    for (int rep = -1; rep < reps && ok; ++rep) {
      for (int turn = 0; turn < 2 && ok; ++turn) {
        const int k = (rep & 1) ? 1 - turn : turn;
        FitOutcome o;
        const double s = RunFit(lib, ex, folder + "/" + ex.name + ".dat", settings[k], o, error);
        if (s < 0) {
          std::fprintf(stderr, "fit_threads: %s, %s: %s\n", ex.name.c_str(), k ? "N" : "1",
                       error.c_str());
          ok = false;
        } else if (rep < 0) {
          first[k] = o;
        } else {
          stable = stable && o.SameAs(first[k]);
          times[k].push_back(s);
        }
      }
    }
    if (!ok) {
      failed = true;
      continue;
    }
    const double m1 = Median(times[0]), mn = Median(times[1]);
    std::printf("%-12s %5d %9.3f %9.3f %9.3f %9.3f %7.2f\n", ex.name.c_str(), first[1].calls,
                1e3 * m1, 1e3 * mn, 1e3 * Min(times[0]), 1e3 * Min(times[1]), m1 / mn);
    const bool same = first[0].SameAs(first[1]) && stable;
    identical = identical && same;
    std::printf("%-12s %s\n", "", same ? "bit for bit identical" : "DIFFERENT");
  }
  RemoveScratchFolder(folder);
  if (cores > 1)
    std::printf("\nThe machine meanwhile: %u threads of plain arithmetic did %.2f times the work of "
                "one.\n", cores, MachineParallelism(cores));
  if (failed) return 2;
  return identical ? 0 : 1;
}
