// How the residual-based uncertainty reaches the user: a block of the fit report (SE,
// 95 % profile intervals, correlations, information criteria, lack of fit, warnings) and the
// entries of fit.json (README, "fit.json").
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "results/fit_result.h"

namespace tarvo::frontend {

// One sentence per pair with |r| > 0.99, per adjustable whose SE exceeds |value| and per
// flat or open interval.
std::vector<std::string> UncertaintyWarnings(const Uncertainty& u);

void PrintUncertainty(std::FILE* out, const Uncertainty& u);

// Adds se and ci to each free entry of j["adjustables"] (matched by name; null for the
// others) and covariance, correlation, aic, aicc, bic, dof and lack_of_fit at the top level.
void AddUncertaintyJson(nlohmann::json& j, const Uncertainty& u);

}  // namespace tarvo::frontend
