// One step of "EXACT" on processors with 256-bit vectors: y_out = E[:, n] + E[:, 0..n) y for
// the top n rows E of an interval's exponential (n x (n + 1), column-major, as Eigen stores
// it), bit for bit what Eigen's matrix-vector product gives with the build's 128-bit vectors.
//
// Both sum each species' row the same way: from +0 over j in increasing order, each product
// rounded and then added (no fused multiply-add: the build contracts none), and that sum added
// to the free-term entry. Only how many rows go side by side differs (four here, two there),
// which changes no value; so the figures do not depend on the processor. Four rows a vector
// and all rows in registers at once make the step about twice as fast at 30 species. Up to
// three species the same sums run one row at a time on any processor: Eigen's product of
// run-time size cost more than the step itself there.
#pragma once

#include <cstdint>

namespace tarvo {

// Computes y_out[0..n) and returns true for 1 <= n <= 3, and for 4 <= n <= 32 when the
// processor runs 256-bit vectors; returns false, with y_out untouched, otherwise (the caller
// then takes the product it would take anyway). y_out must not be y.
bool ExactStepWide(const double* e, int32_t n, const double* y, double* y_out);

}  // namespace tarvo
