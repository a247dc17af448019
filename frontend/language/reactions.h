// Reactions written the way a chemist writes them ("2 A + B -> C", "A <=> B") turned into the
// split form the library integrates, dy/dt = M y + b, exactly: nothing is approximated, every
// rate term lands in the model's [rates] as a coefficient times one species it contains, or
// as a free term when it contains none.
//
// A rate that is the name of an adjustable or parameter is a mass-action constant: k on
// 2 A + B -> C is the rate k*A^2*B. Any other rate is a rate law ("Vmax*S/(Km + S)"): its
// terms (split at the + and - outside brackets) are taken one by one; a term with a species
// as a top-level factor is written as the rest of the term times that species, the species
// whose rate it is preferred (a diagonal coefficient suits the exponential engine best).
// Each term is multiplied by the net stoichiometry of every species (products minus
// reactants; a species on both sides, a catalyst, may net to zero and get nothing).
// Terms for a species and column that [rates] already has are added after what is written
// there. A reaction whose every term [rates] already writes (sign and text, blanks and
// enclosing brackets aside) is refused: the rate would count twice. When only some of its
// terms are written there, model.reaction_warnings names them.
//
// In: a Model whose declarations are read. Out: model.rates extended, or a message
// "FILE:LINE:COLUMN: reaction N: what is wrong".
#pragma once

#include <string>

#include "language/model_file.h"

namespace tarvo::frontend {

// 0, or 2 and a message naming the place.
int DeriveReactions(Model& model, std::string& message);

// The whole rate of one species as one formula in the user's names:
// "coefficient*species + ... + free term" ("0" for a rate without terms).
std::string RateExpression(const RateDecl& rate);

}  // namespace tarvo::frontend
