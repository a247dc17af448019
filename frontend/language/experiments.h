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

// The adjustable a name stands for as the reports show it: NAME@EXP is experiment EXP's copy
// of a per-experiment adjustable (NAME@FIRST is NAME itself); any other name is looked up as
// declared. -1 when there is none.
int FindShownAdjustable(const Prepared& p, const std::string& name);

// What a name means where a choice applies to a value (free, fixed): an adjustable named as
// the reports show it, with its later experiments' copies when a per-experiment adjustable
// is named plainly. Empty when the name stands for none.
std::vector<int> AdjustablesNamed(const Prepared& p, const std::string& name);

// " (one per experiment: base@run1, base@run2)" for a name NAME@... or NAME whose NAME is a
// per-experiment adjustable, else "": the hint after "is not an adjustable of the model".
std::string ShownNamesHint(const Prepared& p, const std::string& name);

}  // namespace tarvo::frontend
