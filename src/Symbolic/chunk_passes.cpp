// The arithmetic passes that the simplifier applies to every chunk: a sign or break
// character followed by operands, bracketed groups and function calls joined by `/` and `^`
// at the top level. Each pass is one left-to-right scan that rewrites the chunk in place and
// never changes its value.
//
// Constants are created through ConstName; a value that a full constant table cannot take
// leaves the chunk as it was, so that no rewrite turns a valid formula into a refused one.
#include <cfloat>
#include <cmath>

#include "Symbolic/limits.h"
#include "Symbolic/primitives.h"
#include "Symbolic/simplify.h"

namespace tarvo {

namespace {

// The token of x, or false when the table is full and x is not in it. A zero is always
// stored as +0.0: the zero slot is shared by every formula, and a -0.0 written over it would
// change the sign of infinity that a zero base to a negative power yields.
bool TokenOf(ConstantTable& kt, double x, Text& token) {
  token = ConstName(kt, x == 0.0 ? 0.0 : x);
  return At(token, 2) != kOverflowIndex;
}

// Value of the constant token at pos (NaN when pos holds no complete `C` token).
double ConstantAt(const ConstantTable& kt, const Text& text, int32_t pos) {
  if (At(text, pos) != u'C' || pos + 1 > Length(text)) return NAN;
  return ConstValue(kt, Copy(text, pos, 2));
}

void ReplaceToken(Text& text, int32_t pos, const Text& token) {
  text[static_cast<size_t>(pos - 1)] = token[0];
  text[static_cast<size_t>(pos)] = token[1];
}

bool ClearOfGuard(double divisor) { return std::fabs(divisor) > kTiny; }

// Folds the constants a (first) and b (second, joined to the first's factor by op) into one
// value. a_divides: a is itself a divisor. The fold is declined whenever it would move a
// division guard (a divisor at or below the zero bound, before or after folding) or lose
// the value to overflow or underflow.
bool Fold(double a, double b, char16_t op, bool a_divides, double& out) {
  bool exact_zero = false;
  if (!a_divides) {
    if (op == u'*') {
      out = a * b;
      exact_zero = a == 0.0 || b == 0.0;
    } else {
      if (!ClearOfGuard(b)) return false;
      out = a / b;
      exact_zero = a == 0.0;
    }
  } else {
    if (!ClearOfGuard(a) || !ClearOfGuard(b)) return false;
    out = op == u'*' ? a / b : a * b;
    if (!ClearOfGuard(out)) return false;
  }
  if (!std::isfinite(out)) return false;
  if (out == 0.0) return exact_zero;
  return std::fabs(out) >= DBL_MIN;
}

// Position after the exponent that the `^` at caret takes (a token or a bracketed group), or
// 0 when there is none inside the chunk. Sets bracketed when it is a group.
int32_t ExponentEnd(const Text& chunk, int32_t caret, bool& bracketed) {
  bracketed = At(chunk, caret + 1) == u'(';
  if (bracketed) {
    int32_t error = 0;
    const int32_t close = MatchParen(chunk, caret + 1, &error);
    return error == 0 ? close + 1 : 0;
  }
  const char16_t kind = At(chunk, caret + 1);
  if (!(cls::VariableKinds(kind) || kind == u'C') || caret + 2 > Length(chunk)) return 0;
  return caret + 3;
}

}  // namespace

void FoldConstants(Text& chunk, ConstantTable& kt) {
  if (At(chunk, 1) == u'-' && At(chunk, 2) == u'C' && Length(chunk) >= 3 &&
      At(chunk, 4) != u'^') {
    const double v = ConstantAt(kt, chunk, 2);
    Text token;
    if (!std::isnan(v) && TokenOf(kt, -v, token)) {
      chunk[0] = u'+';
      ReplaceToken(chunk, 2, token);
    }
  }

  int32_t i = 1;
  while (i < Length(chunk)) {
    const int32_t length = Length(chunk);
    if (At(chunk, i) == u'(') i = MatchParen(chunk, i);
    if (At(chunk, i) == u'^') i = At(chunk, i + 1) == u'(' ? MatchParen(chunk, i + 1) : i + 2;

    if (i < length - 1 && At(chunk, i) == u'C' && At(chunk, i + 2) != u'^') {
      const double a = ConstantAt(kt, chunk, i);
      int32_t k = i + 1;
      bool found = false;
      while (k < length && !found) {
        k += 1;
        if (cls::SumStops(At(chunk, k))) {
          k = length + 1;
          break;
        }
        if (k < length && At(chunk, k) == u'(') k = MatchParen(chunk, k);
        found = k < length - 1 && At(chunk, k) == u'C' && At(chunk, k + 2) != u'^';
      }
      if (found && cls::ProductOps(At(chunk, k - 1))) {
        const double b = ConstantAt(kt, chunk, k);
        double value = 0.0;
        Text token;
        if (Fold(a, b, At(chunk, k - 1), At(chunk, i - 1) == u'/', value) &&
            TokenOf(kt, value, token)) {
          ReplaceToken(chunk, i, token);
          Delete(chunk, k - 1, 3);
          i -= 1;  // the new constant is tried again as a first constant
        } else {
          i = k - 1;  // the pair stays; the second constant may start a pair of its own
        }
      } else if (found) {
        i = k + 2;
      }
    }
    i += 1;
  }
}

namespace {

// One occurrence of a variable in a chunk, with its exponent.
struct Occurrence {
  int32_t pos = 0;   // position of the kind letter
  int32_t ext = 0;   // characters of `^` and exponent after the token (0 without)
  Text exponent;     // the exponent's text (empty without)
  bool mergeable = false;
};

Occurrence Read(const Text& chunk, int32_t pos) {
  Occurrence o;
  o.pos = pos;
  o.mergeable = true;
  if (At(chunk, pos + 2) == u'^') {
    bool bracketed = false;
    const int32_t end = ExponentEnd(chunk, pos + 2, bracketed);
    if (end == 0) {
      o.mergeable = false;  // no exponent that the chunk holds entirely
      return o;
    }
    o.ext = end - (pos + 2);
    o.exponent = bracketed ? Copy(chunk, pos + 4, o.ext - 3) : Copy(chunk, pos + 3, 2);
  }
  // A power raised again, (x^a)^b, is not x^a times anything: merging its first exponent
  // alone would change the value.
  if (At(chunk, pos + 2 + o.ext) == u'^') o.mergeable = false;
  return o;
}

// True when the exponent is surely a whole number that the power operation takes through
// its integral path: no exponent at all, or only signs, brackets and constant tokens whose
// values are whole and small enough for their sum to stay in the 32-bit range.
bool SurelyIntegral(const ConstantTable& kt, const Occurrence& o) {
  double magnitude = 0.0;
  const Text& e = o.exponent;
  for (int32_t k = 1; k <= Length(e); ++k) {
    const char16_t c = At(e, k);
    if (c == u'+' || c == u'-' || c == u'(' || c == u')') continue;
    if (c != u'C') return false;
    const double v = ConstantAt(kt, e, k);
    if (!(std::trunc(v) == v)) return false;
    magnitude += std::fabs(v);
    k += 1;
  }
  return magnitude <= 2147483647.0;
}

// The exponent term that an occurrence contributes to the merged power: its exponent, or
// the negative of it when it divides.
bool Term(ConstantTable& kt, const Occurrence& o, bool divides, Text& term) {
  if (o.ext == 0) return TokenOf(kt, divides ? -1.0 : 1.0, term);
  term = divides ? u"-(" + o.exponent + u")" : o.exponent;
  return true;
}

// Merges the occurrence second into first (same variable, second after a `/`) and returns
// the position of the `)` that closes first's new exponent, or 0 when the pair is left.
int32_t Merge(ConstantTable& kt, Text& chunk, const Occurrence& first, const Occurrence& second) {
  // For a negative base, a power with a fractional exponent fails. The merged power fails
  // exactly when one of the two did only if at least one exponent is surely whole.
  if (!SurelyIntegral(kt, first) && !SurelyIntegral(kt, second)) return 0;
  const bool first_divides = At(chunk, first.pos - 1) == u'/';
  Text term1;
  Text term2;
  if (!Term(kt, first, first_divides, term1) || !Term(kt, second, true, term2)) return 0;

  Text sum = term1 + u"+" + term2;
  if (!cls::Signs(At(sum, 1))) Insert(sum, u"+", 1);
  Simplify(sum, kt);

  if (first_divides) chunk[static_cast<size_t>(first.pos - 2)] = u'*';
  const int32_t between = first.pos + 2 + first.ext;
  const int32_t after = second.pos + 2 + second.ext;
  chunk = Copy(chunk, 1, first.pos + 1) + u"^(" + sum + u")" +
          Copy(chunk, between, (second.pos - 1) - between) +
          Copy(chunk, after, Length(chunk) - after + 1);
  return first.pos + 3 + Length(sum) + 1;
}

}  // namespace

void MergePowers(Text& chunk, ConstantTable& kt) {
  int32_t i = 1;
  while (i < Length(chunk)) {
    int32_t j = i + 1;
    if (At(chunk, i) == u'(') i = MatchParen(chunk, i);
    if (cls::VariableKinds(At(chunk, i)) && At(chunk, i - 1) != u'^' &&
        Read(chunk, i).mergeable) {
      const Text name = Copy(chunk, i, 2);
      while (j < Length(chunk)) {
        j += 1;
        if (At(chunk, j) == u'(') j = MatchParen(chunk, j);
        // At the top level of a chunk only `/` joins operands; anything else before a
        // token is a malformed remain that is left for the compiler.
        if (Copy(chunk, j, 2) != name || At(chunk, j - 1) != u'/') continue;
        const Occurrence second = Read(chunk, j);
        if (!second.mergeable) continue;
        const int32_t close = Merge(kt, chunk, Read(chunk, i), second);
        if (close != 0) j = close;
      }
    }
    i += 1;
  }
}

namespace {

// Last position of the factor 1^e^... whose `1` token stands at pos, or 0 when the chain is
// not made only of exponents that leave 1 unchanged: constant tokens of finite value and
// species, parameter and time tokens. A bracketed exponent could fail (a negative base to a
// fractional power inside it), and an adjustable may stand for an expression that could.
int32_t PowerOfOneEnd(const ConstantTable& kt, const Text& chunk, int32_t pos) {
  int32_t end = pos + 1;
  while (At(chunk, end + 1) == u'^') {
    const int32_t kind_pos = end + 2;
    const char16_t kind = At(chunk, kind_pos);
    if (kind_pos + 1 > Length(chunk)) return 0;  // the exponent runs past the chunk
    if (kind == u'C') {
      if (!std::isfinite(ConstantAt(kt, chunk, kind_pos))) return 0;
    } else if (kind != u'F' && kind != u'P' && kind != u'T') {
      return 0;
    }
    end = kind_pos + 1;
  }
  return end;
}

}  // namespace

void DropOnes(Text& chunk, const ConstantTable& kt) {
  int32_t i = 1;
  while (i < Length(chunk)) {
    if (At(chunk, i) == u'C' && ConstantAt(kt, chunk, i) == 1.0) {
      const char16_t before = At(chunk, i - 1);
      bool removed = false;
      if (cls::ArithmeticOps(before)) {
        // The factor is the token, or the token with the exponents that 1 is raised to.
        const int32_t end = PowerOfOneEnd(kt, chunk, i);
        if (end != 0) {
          const int32_t length = Length(chunk);
          if (end < length - 1) {
            removed = At(chunk, end + 1) == u'*' && before != u'/';
            if (removed) Delete(chunk, i, end - i + 2);
          } else if (before == u'*' || before == u'/') {
            removed = true;
            Delete(chunk, i - 1, end - i + 2);
          }
        }
      }
      // x^1 is x.
      if (!removed && i < Length(chunk) && At(chunk, i - 1) == u'^') Delete(chunk, i - 1, 3);
    }
    i += 1;
  }
}

void DropZeros(Text& chunk, const ConstantTable& kt) {
  for (int32_t i = 1; i < Length(chunk); i += 2) {
    if (At(chunk, i) != u'C' || ConstantAt(kt, chunk, i) != 0.0) continue;
    const char16_t before = At(chunk, i - 1);
    const char16_t after = At(chunk, i + 2);
    // A `+` right after a power sign is the exponent's own sign, not a term's: the zero is
    // then the exponent.
    const bool term_sign = before == u'(' || (before == u'+' && At(chunk, i - 2) != u'^');
    if ((after == u'+' && term_sign) || (before == u'-' && after == u'-')) Delete(chunk, i, 3);
  }
}

}  // namespace tarvo
