// The uncertainty stage after a converged fit: the residual-based figures, then (unless
// skipped) the profile of every free adjustable, with one progress line per profile to note.
// walk_seconds (what one simulation of the model takes) and loaded: as AssessUncertainty;
// loaded is let go before the profiles, whose refits take instances of their own.
#pragma once

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "analysis/profile.h"
#include "analysis/progress.h"

namespace tarvo::frontend {

std::vector<Profile> AssessFit(const Prepared& p, const std::vector<double>& best,
                               const std::vector<std::vector<double>>& ycalc, bool profiles,
                               const ProgressNote& note, Uncertainty& u,
                               double walk_seconds = HUGE_VAL,
                               std::shared_ptr<Session> loaded = nullptr);

}  // namespace tarvo::frontend
