// Loads a prepared model and its data into the library (Calcul_initial, through a session)
// and puts whatever the set-up reports into sentences: the parts of a non-zero Erreur, or the
// text of a raised failure. "EXACT" with a model that is not linear is refused before the
// set-up, naming the formulas that read a species or T.
#pragma once

#include <string>
#include <vector>

#include "session/library_session.h"
#include "language/prepare.h"

namespace tarvo::frontend {

// 0 when the model is loaded with Erreur 0; 2 with errors filled otherwise. formula_faults,
// when given, receives the part of Erreur that the formulas account for.
int LoadModel(Session& s, const Prepared& p, std::vector<std::string>& errors,
              int* formula_faults = nullptr);

}  // namespace tarvo::frontend
