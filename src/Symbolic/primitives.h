// Text primitives shared by the tokenizer, the simplifier and the compiler: space removal,
// the constant table (ConstName / ConstValue), bracket matching with its error flag, and
// group extraction.
//
// The constant table belongs to the caller's formula cells (one per engine instance);
// ResetConstants starts it afresh (at load, and when no model is loaded any more). It never grows past slot 255: a new value asked for
// when the table is full gets the token of slot 256, which no table holds. ConstValue of that
// token is NaN (so no pass can fold it into a valid constant) and the compiler rejects its
// index as a fault, so the formula that needed it is refused through Erreur.
#pragma once

#include <cstdint>

#include "Symbolic/cells.h"
#include "Symbolic/notation.h"

namespace tarvo {

inline constexpr char16_t kOverflowIndex = 0x60 + 256;

void ResetConstants(ConstantTable& k);
void StripSpaces(Text& text);
Text ConstName(ConstantTable& k, double x);
double ConstValue(const ConstantTable& k, const Text& token);  // token: `C` + index character
bool ConstantTableFull(const ConstantTable& k);

// The partner of the `(` at pos. error (when given) receives the bracket error count: 0 when
// the bracket at pos is `(` and its partner was found.
int32_t MatchParen(const Text& text, int32_t pos, int32_t* error = nullptr);
// Text strictly between the `(` at pos and its partner (empty on error); close receives the
// partner position (length + 1 when unbalanced), error the bracket error count.
Text ExtractParen(const Text& text, int32_t pos, int32_t& close, int32_t& error);

}  // namespace tarvo
