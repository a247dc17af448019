// Decimal conversions of the tokenizer. They depend on no locale: the point is the decimal
// separator and only the ASCII digits count. Each returns 0 when the whole text converts, and
// otherwise the 1-based position of the first character it cannot use; a text that ends
// where more was needed (empty, a lone sign, a mantissa without digits, an exponent without
// digits) fails at length + 1. On failure the value is left at 0.
#pragma once

#include <cstdint>

#include "Symbolic/notation.h"

namespace tarvo {

// [sign] digits [. digits] [E|e [sign] digits], with at least one mantissa digit before or
// after the point. The value is the nearest double. A value too large for a double fails at
// length + 1; one too small even for a subnormal converts to zero of the same sign.
int32_t ReadReal(const Text& text, double& value);

// [sign] digits, within the 32-bit range (a digit that overflows it is the failing one).
int32_t ReadInteger(const Text& text, int32_t& value);

}  // namespace tarvo
