// Multi-start: N fits of one prepared model from start values spread over their ranges, to
// find the best of several minima. Start 1 is the model's own start; every other start draws
// each free value at random (seeded, so a run repeats): between its bounds when it has both
// (uniformly on its scale: log-uniform for scale = "log"), else within a decade either way of
// its start on the library's relative scale (for a transformed value, its hidden value). Each
// start is one pass of the fit driver (fit_run.h, FitFrom); the best is the converged one with the least weighted
// residual sum of squares, and a start reached it when its sum lies within 1e-4 (relative)
// of the best.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "language/prepare.h"
#include "analysis/progress.h"
#include "results/fit_result.h"
#include "language/transforms.h"

namespace tarvo::frontend {

inline constexpr double kStartsTolerance = 1e-4;

// Start values of every adjustable for start number k (1-based; 1 is p.values).
std::vector<double> DrawStart(const Prepared& p, const std::vector<Transform>& ts, int k,
                              uint64_t seed);

// Runs the starts, one progress line each to note; fills r.starts (declared
// adjustables on the user's scale) and returns the values at the best start's optimum, or
// p.values when none converged.
std::vector<double> RunStarts(const Prepared& p, const std::vector<Transform>& ts, size_t declared,
                              int n, uint64_t seed, const ProgressNote& note, FitResult& r);

}  // namespace tarvo::frontend
