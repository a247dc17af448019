// The uncertainty stage of `tarvo fit` and `tarvo compare`, after a converged fit: the
// residual-based figures, then (unless skipped) the profile of every free adjustable, with
// one progress line per profile on stderr unless quiet; and the drawing of the profiles.
#pragma once

#include <string>
#include <vector>

#include "tarvo/profile.h"

namespace tarvo::tool {

std::vector<Profile> AssessFit(const Prepared& p, const std::vector<double>& best,
                               const std::vector<std::vector<double>>& ycalc, bool profiles,
                               bool quiet, Uncertainty& u);

// DIR/profiles.svg and .png; a plot that cannot be made is a warning.
void WriteProfilePlots(const std::vector<Profile>& profiles, const std::string& folder,
                       std::vector<std::string>& written, std::vector<std::string>& warnings);

}  // namespace tarvo::tool
