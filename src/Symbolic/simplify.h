// Simplify: rewrites coded formula text, in place, into an equivalent shorter text. It never
// changes the formula's value. The chunk passes are exposed for testing.
#pragma once

#include "Symbolic/notation.h"

namespace tarvo {

void Simplify(Text& text);
void NormalizeSigns(Text& text);
void DropParens(Text& text);
void FoldConstants(Text& chunk);
void MergePowers(Text& chunk);
void DropOnes(Text& chunk);
void DropZeros(Text& chunk);

}  // namespace tarvo
