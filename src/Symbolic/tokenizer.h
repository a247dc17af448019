// Tokenize: host formula text -> coded formula text, in place, in one left-to-right scan.
// Operands become two-character tokens, numbers move into the constant table, the text gets
// a leading sign and nested opening brackets are marked. error is set to 0 and then increased
// by the error positions of malformed names and numbers.
#pragma once

#include <cstdint>

#include "Symbolic/cells.h"
#include "Symbolic/notation.h"

namespace tarvo {

void Tokenize(Text& text, int16_t& error, ConstantTable& constants);

}  // namespace tarvo
