// Copies of the two host records that hold a Variant. The Variant is copied as a managed
// record assignment: the destination's old string is freed and a fresh copy made, so the host
// and the engine state never share a string.
#pragma once

#include "library/records.h"

namespace tarvo {

void CopyInitials(BInitials& dst, const BInitials& src);
void CopyFitSet(BFitSet& dst, const BFitSet& src);

// The plain fields alone (no Variant): the six counts, and the fit settings with Erreur and
// Coeff; what a worker instance takes of its model.
void CopyCounts(BInitials& dst, const BInitials& src);
void CopySettings(BFitSet& dst, const BFitSet& src);

}  // namespace tarvo
