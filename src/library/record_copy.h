// Copies of the two host records that hold a Variant. The Variant is copied as a managed
// record assignment: the destination's old string is freed and a fresh copy made, so the host
// and the engine state never share a string.
#pragma once

#include "library/records.h"

namespace tarvo {

void CopyInitials(BInitials& dst, const BInitials& src);
void CopyFitSet(BFitSet& dst, const BFitSet& src);

}  // namespace tarvo
