// "EXACT": linear kinetics integrated exactly. When no coefficient or free term reads a
// species or the time, the rates within an interval are dy/dt = M y + b with M and b
// constant, and
//
//   y(t + h) = e^{Mh} y(t) + (integral over 0..h of e^{Ms} ds) b,
//
// both read off one exponential of the augmented matrix [[M h, b h], [0, 0]] (Eigen's
// MatrixFunctions, scaling and squaring with a Pade approximant). Each call lands exactly on
// its end time; the tolerance is never read.
//
// Work: per interval, the M and b it was last prepared with and the exponentials of the
// distinct gaps met since (at most kExactGapCache of them, 7.5 KB each at 30 species; beyond,
// which no walk reaches, an exponential is computed for every call).
// Gaps within 4 units in the last place of the times count as one (times such as 0.05 j give
// gaps that differ in their last bits): the times are known no better than that, and the
// state moves by about |M| times the difference.
// An interval whose M and b come back unchanged at the next walk (the same parameters and
// adjustables) keeps its exponentials, so repeated simulations compute none.
//
// Status (set to 0 first): 3 when t1 is not after t0 (y_out := y_in). A coefficient or free
// term that is not finite, or a gap that is not, gives NaN species, which the walk reports
// as a state that left the finite numbers; so does an exponential that overflows.
#pragma once

#include "Symbolic/limits.h"
#include "engines/external.h"

namespace tarvo {

// Every gap of a walk fits: the gaps of all intervals together are fewer than the points.
inline constexpr int kExactGapCache = kMaxPoints;

ExternalMethod ExactMethod();

// Why EXACT cannot integrate species 1..n: every coefficient and free term in that block that
// reads a species or the time, named as "the coefficient of A in the rate of B" or "the free
// term of B", with what it reads (species names and "the time T"). Empty when none does.
std::string ExactUnsuitable(const RateTable& rates, const FormulaCells& cells, int32_t n,
                            const Text* names);

}  // namespace tarvo
