// fit_compare: the whole fit of the consecutive and the enzyme examples, timed side by side on
// two builds of the library loaded into this one process.
//
//   fit_compare [--reps N] [--examples DIR] [--only NAME] OLD/libTarvo_64.so NEW/libTarvo_64.so
//
// One fit is what `tarvo fit` does with the library: Calcul_initial, Simulation at the start
// values, Ajustement until Done (at most the model's max_calls), Fin. The time of a fit runs
// from the first Simulation to Done (set-up, shown in its own column, and Fin excluded); it is
// the processor time of this thread, which another process on a busy machine does not
// inflate as it inflates the wall clock (the wall-clock median is shown too). After one
// untimed fit per library, the repetitions alternate between the two libraries (old, new,
// then new, old, ...) so that drifts of the machine fall on both alike; each row gives the
// median and the fastest fit, and old/new is the ratio of the medians.
//
// The fits must agree bit for bit: Erreur, Done and the number of calls, ErreurCalc,
// ErreurExp, Coeff, and every adjustable's value and SD, between the libraries and between
// repetitions. The check is printed; the exit status is 1 when it fails, 2 on a usage error
// or a fit that does not reach Done.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "exported/example_host.h"

namespace {

using namespace tarvo;
using namespace tarvo::bench;

struct Series {
  std::vector<double> setup, cpu, wall;
  FitOutcome first;
  bool consistent = true;  // every repetition gave the first one's outcome
};

// "  new: k1 = 0.29877036560538917 (SD 0.0015506480814464784) ..." for the free adjustables.
std::string Values(const char* label, const Example& ex, const FitOutcome& o) {
  std::string line = std::string("  ") + label + ":";
  for (size_t a = 0; a < ex.sheet.adjustables.size(); ++a) {
    if (!ex.sheet.adjustables[a].adjustable) continue;
    char text[96];
    std::snprintf(text, sizeof text, " %s = %.17g (SD %.17g)", ex.sheet.adjustables[a].name.c_str(),
                  o.values[a], o.sds[a]);
    line += text;
  }
  return line;
}

int Usage() {
  std::fprintf(stderr, "usage: fit_compare [--reps N] [--examples DIR] [--only NAME] OLD.so NEW.so\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine line;
  line.reps = 20;
  line.most_files = 2;
  std::string only;  // one example by name (for profiling); empty: both
  const bool read = ReadCommandLine(argc, argv, line, [&](int n, char** args, int& i) {
    if (std::strcmp(args[i], "--only") != 0 || i + 1 >= n) return 0;
    only = args[++i];
    return 1;
  });
  if (!read || line.files.size() != 2) return Usage();
  const int reps = line.reps;

  Library libs[2];
  Example examples[2];
  std::string folder;
  if (!OpenLibraries("fit_compare", line.files, libs) ||
      !StartExamples("fit_compare", line.examples_dir, examples, folder))
    return 2;
  std::string error;

  std::printf("Whole fit, Simulation at the start values then Ajustement until Done;\n"
              "processor time of this thread, %d repetitions alternating between the libraries.\n"
              "old: %s\nnew: %s\n\n",
              reps, libs[0].path.c_str(), libs[1].path.c_str());
  std::printf("%-12s %5s %9s %9s %9s %9s %9s %9s %9s %8s\n", "example", "calls", "old setup",
              "new setup", "old fit", "new fit", "old min", "new min", "wall o/n", "old/new");
  std::printf("%-12s %5s %9s %9s %9s %9s %9s %9s %9s %8s\n", "", "", "ms", "ms", "ms", "ms", "ms",
              "ms", "ratio", "");

  bool identical = true, failed = false;
  std::vector<std::string> notes;
  for (const Example& ex : examples) {
    if (!only.empty() && ex.name != only) continue;
    Series series[2];
    bool ok = true;
    for (int rep = -1; rep < reps && ok; ++rep) {  // rep -1: the untimed first fit
      for (int turn = 0; turn < 2 && ok; ++turn) {
        const int k = (rep & 1) ? 1 - turn : turn;
        const std::string exchange = folder + "/" + ex.name + "-" + std::to_string(k) + ".dat";
        FitOutcome o;
        FitTiming t;
        if (!RunFitToDone(libs[k], ex, exchange, o, t, error)) {
          std::fprintf(stderr, "fit_compare: %s, %s library: %s\n", ex.name.c_str(),
                       k == 0 ? "old" : "new", error.c_str());
          ok = false;
          break;
        }
        Series& s = series[k];
        if (rep < 0) {
          s.first = o;
          continue;
        }
        s.consistent = s.consistent && o.SameAs(s.first);
        s.setup.push_back(t.setup_cpu);
        s.cpu.push_back(t.fit_cpu);
        s.wall.push_back(t.fit_wall);
      }
    }
    if (!ok) {
      failed = true;
      continue;
    }
    const double old_ms = 1e3 * Median(series[0].cpu), new_ms = 1e3 * Median(series[1].cpu);
    std::printf("%-12s %5d %9.3f %9.3f %9.3f %9.3f %9.3f %9.3f %9.2f %8.2f\n", ex.name.c_str(),
                series[1].first.calls, 1e3 * Median(series[0].setup), 1e3 * Median(series[1].setup),
                old_ms, new_ms, 1e3 * Min(series[0].cpu), 1e3 * Min(series[1].cpu),
                Median(series[0].wall) / Median(series[1].wall), old_ms / new_ms);
    const bool same = series[0].first.SameAs(series[1].first);
    const bool stable = series[0].consistent && series[1].consistent;
    identical = identical && same && stable;
    notes.push_back(ex.name + ": " + (same ? "identical" : "DIFFERENT") +
                    (stable ? "" : " (and a library's repetitions differ among themselves)"));
    notes.push_back(Values("new", ex, series[1].first));
    if (!same) notes.push_back(Values("old", ex, series[0].first));
  }
  RemoveScratchFolder(folder);

  std::printf("\nResults of the two libraries (Erreur, Done, calls, ErreurCalc, ErreurExp, Coeff,\n"
              "values and SDs, bit for bit):\n");
  for (const std::string& n : notes) std::printf("  %s\n", n.c_str());
  if (failed) return 2;
  return identical ? 0 : 1;
}
