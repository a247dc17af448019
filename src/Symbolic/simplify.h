// Simplify: rewrites coded formula text, in place, into an equivalent shorter text. It never
// changes the formula's value. The chunk passes are exposed for testing.
#pragma once

#include "Symbolic/cells.h"
#include "Symbolic/notation.h"

namespace tarvo {

void Simplify(Text& text, ConstantTable& constants);
void NormalizeSigns(Text& text);
void DropParens(Text& text);
void FoldConstants(Text& chunk, ConstantTable& constants);
void MergePowers(Text& chunk, ConstantTable& constants);
void DropOnes(Text& chunk, const ConstantTable& constants);
void DropZeros(Text& chunk, const ConstantTable& constants);

}  // namespace tarvo
