// Several experiments fitted together. The library fits one model over one list of points;
// the experiments are laid one after another as intervals of that model, so one fit fits
// them all and every adjustable not marked per_experiment is shared.
//
// Experiment e takes the intervals after those of the experiments before it (as many as the
// model declares or its data use). Its start formulas are the model's, with those the
// experiment names replacing them; its parameter equations are the model's. Its time stays
// its own: the model time is the experiment's time plus an offset that puts its start just
// after the previous experiment's last point, and every T the user wrote reads the
// experiment's time (T - offset; in the rates and outputs through a hidden parameter holding
// the offset of the current interval). An experiment starts at the model's t0 (0 unless
// set); a start point without data is put there when its first point comes later.
//
// An adjustable with per_experiment = true keeps its name for the first experiment and gets
// a copy NAME__EXP for each later one; reports show them as NAME@EXP. Per-interval formulas
// read the copy directly, rates and outputs through a hidden parameter set at each interval.
#pragma once

#include <string>
#include <vector>

#include "language/prepare.h"

namespace tarvo::frontend {

// Reads every experiment's data and rewrites p.model and p.data as one model over all of
// them (the model as written must already translate). 0, or 2 with errors filled.
int LayExperiments(Prepared& p, std::vector<std::string>& errors);

// Copies take the free flag of the adjustable they copy (after --free and --fix).
void FollowOriginals(Prepared& p);

}  // namespace tarvo::frontend
