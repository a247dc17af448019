// The data's own part of a simulation's figures (library/statistics.h), kept by the engine
// state from one set-up to the next simulations.
#pragma once

#include <cstdint>
#include <vector>

namespace tarvo {

// What the figures read of the data alone, per (output, point) pair: they do not change from
// one simulation to the next, so the set-up makes them once (after the replicate means), and
// each simulation reads them in pair order instead of the records, which lie 21 KB apart.
struct PairTerms {
  double mean = 0.0;          // YMean
  double log_mean = 0.0;      // ln YMean, when YMean > 1e-130
  double variance = 0.0;      // the replicates' sample variance, with two replicates or more
  double log_variance = 0.0;  // its ln, when above 1e-130
  int32_t reps = 0;           // replicates counted
  int32_t first = 0;          // the pair's first entry in DataTerms::replicates
  bool has_data = false;      // NRep > 0
};
struct DataTerms {
  std::vector<PairTerms> pairs;  // output by output, point by point
  std::vector<double> replicates;  // per replicate: its value and (YMean - value)^2
  // Each simulation's simulated value and weight per pair, in the same order (sized here,
  // so that no simulation allocates).
  std::vector<double> calc, weight;
};

}  // namespace tarvo
