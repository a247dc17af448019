// The simplifier's driver and its two structural passes. The chunk passes (constants,
// repeated factors, ones and zeros) are in chunk_passes.cpp.
//
// Every read goes through At/Copy, which yield code 0 or an empty text outside the text, so
// unbalanced brackets and stray operators can never make a scan leave its text.
#include "Symbolic/simplify.h"

#include <unordered_map>

#include "Symbolic/primitives.h"

namespace tarvo {

namespace {

// Position of the `(` that opens the group closed by the `)` at close, or 0 when the bracket
// has no partner.
int32_t OpenBefore(const Text& text, int32_t close) {
  int32_t depth = 0;
  for (int32_t k = close; k >= 1; --k) {
    const char16_t c = At(text, k);
    if (c == u')') ++depth;
    if (c == u'(' && --depth == 0) return k;
  }
  return 0;
}

// A `*-` pair lost its `-`: the product that the `*` at star belongs to changes sign. The
// walk goes left to the product's own sign, skipping whole bracketed groups, and flips it. A
// product without a sign of its own (it opens its group, or the text) receives a `-`, which
// keeps its value: flipping the bracket or the first character would destroy the formula.
void FlipProductSign(Text& text, int32_t star) {
  int32_t k = star - 1;
  for (;;) {
    const char16_t c = At(text, k);
    if (cls::Signs(c)) {
      text[static_cast<size_t>(k - 1)] = c == u'+' ? u'-' : u'+';
      return;
    }
    if (c == u'(') {
      Insert(text, u"-", k + 1);
      return;
    }
    if (k <= 1) {
      Insert(text, u"-", 1);
      return;
    }
    if (c == u')') {
      const int32_t open = OpenBefore(text, k);
      k = open >= 1 ? open - 1 : 1;  // a stray `)`: the walk ends at the first character
    } else {
      k -= 1;
    }
  }
}

// First position in from..to whose character is in the class, or to + 1.
template <class Class>
int32_t FirstIn(const Text& text, int32_t from, int32_t to, Class in_class) {
  for (int32_t k = from; k <= to; ++k)
    if (in_class(At(text, k))) return k;
  return to + 1;
}

bool HoldsPower(const Text& text, int32_t open, int32_t close) {
  return FirstIn(text, open + 1, close - 1, [](char16_t c) { return c == u'^'; }) < close;
}

// Swaps `*` and `/` at the top level of the group open..close, after its first operand (a
// token or a bracketed group): the group stood after a `/`, so its factors become divisors
// and its divisors factors once the brackets go.
void InvertProductGroup(Text& text, int32_t open, int32_t close) {
  int32_t k = open + 1;
  k = At(text, k) == u'(' ? MatchParen(text, k) + 1 : k + 2;
  int32_t depth = 0;
  for (; k < close; ++k) {
    const char16_t c = At(text, k);
    if (c == u'(') ++depth;
    else if (c == u')') --depth;
    else if (depth == 0 && c == u'*') text[static_cast<size_t>(k - 1)] = u'/';
    else if (depth == 0 && c == u'/') text[static_cast<size_t>(k - 1)] = u'*';
  }
}

void RemoveBrackets(Text& text, int32_t open, int32_t close) {
  Delete(text, close, 1);  // nothing when the group has no partner
  Delete(text, open, 1);
}

// Groups already simplified during one top-level call, by their text. A change deep inside
// nested groups makes every enclosing level run one more cycle, and that cycle simplifies its
// groups again; the result of a group depends only on its text (and on constants, which the
// passes only ever add), so it is taken from here instead, and nesting costs no more than
// linear time per level. The total size is bounded; past it, groups are simply redone.
struct Memo {
  ConstantTable& constants;
  std::unordered_map<Text, Text> done;
  size_t chars = 0;
};
constexpr size_t kMemoChars = size_t{1} << 22;

void SimplifyText(Text& text, Memo& memo);

void SimplifyGroup(Text& group, Memo& memo) {
  const auto found = memo.done.find(group);
  if (found != memo.done.end()) {
    group = found->second;
    return;
  }
  Text input = group;
  SimplifyText(group, memo);
  if (memo.chars + input.size() + group.size() <= kMemoChars) {
    memo.chars += input.size() + group.size();
    memo.done.emplace(std::move(input), group);
  }
}

// One cycle's chunk loop: every chunk (a sign or break character and what follows it up to
// the next break outside brackets) has its bracketed groups simplified first, then runs
// through the chunk passes and is put back.
void SimplifyChunks(Text& text, Memo& memo) {
  int32_t a = 1;
  int32_t p = 1;
  do {
    int32_t b = p;
    for (;;) {
      b = p + 1;
      if (b > Length(text) || cls::ChunkBreaks(At(text, b))) break;
      p = b;
      if (At(text, b) != u'(') continue;
      int32_t close = 0;
      int32_t error = 0;
      Text group = ExtractParen(text, b, close, error);
      if (error != 0) {
        // A `(` without partner: what follows it is left as it is, and the chunk runs to the
        // end of the text (the compiler reads such a group up to the end).
        p = Length(text);
        continue;
      }
      if (!cls::Signs(At(group, 1))) Insert(group, u"+", 1);
      SimplifyGroup(group, memo);
      text.replace(static_cast<size_t>(b), static_cast<size_t>(close - b - 1), group);
      p = b + Length(group) + 1;
    }
    Text chunk = Copy(text, a, b - a);
    FoldConstants(chunk, memo.constants);
    MergePowers(chunk, memo.constants);
    DropOnes(chunk, memo.constants);
    DropZeros(chunk, memo.constants);
    NormalizeSigns(chunk);
    DropParens(chunk);
    text.replace(static_cast<size_t>(a - 1), static_cast<size_t>(b - a), chunk);
    a += Length(chunk);
    p = a;
  } while (a < Length(text));
}

void SimplifyText(Text& text, Memo& memo) {
  // Coded text begins with a sign; a text that does not (only malformed input) gets one, so
  // that its first chunk starts where the chunk loop expects a sign.
  if (!cls::Signs(At(text, 1))) Insert(text, u"+", 1);
  // Every cycle that goes on changes the length; the bound only guards against malformed
  // text that could make two passes undo each other forever.
  const int64_t max_cycles = 4 * static_cast<int64_t>(Length(text)) + 64;
  int32_t before = 0;
  int64_t cycle = 0;
  do {
    before = Length(text);
    StripSpaces(text);
    NormalizeSigns(text);
    DropParens(text);
    SimplifyChunks(text, memo);
  } while (Length(text) != before && ++cycle < max_cycles);

  if (text.empty() || text == u"+") text = ConstName(memo.constants, 0.0);
  if (!cls::Signs(At(text, 1))) Insert(text, u"+", 1);
}

}  // namespace

void Simplify(Text& text, ConstantTable& constants) {
  Memo memo{constants, {}, 0};
  SimplifyText(text, memo);
}

void NormalizeSigns(Text& text) {
  for (int32_t i = 1; i <= Length(text); ++i) {
    const char16_t c = At(text, i);
    const char16_t d = At(text, i + 1);
    switch (c) {
      case u'(':
        if (d == u')') Delete(text, i, 1);
        else if (d == u'*' || d == u'+') Delete(text, i + 1, 1);
        break;
      case u'*':
        if (d == u')' || d == u'*' || d == u'/') {
          Delete(text, i, 1);
        } else if (d == u'+') {
          Delete(text, i + 1, 1);
        } else if (d == u'-') {
          Delete(text, i + 1, 1);
          FlipProductSign(text, i);
        }
        break;
      case u'+':
        if (d == u')' || d == u'+' || d == u'-') Delete(text, i, 1);
        else if (d == u'*') Delete(text, i + 1, 1);
        break;
      case u'-':
        if (d == u')') {
          Delete(text, i, 1);
        } else if (d == u'*' || d == u'+') {
          Delete(text, i + 1, 1);
        } else if (d == u'-') {
          text[static_cast<size_t>(i)] = u'+';
          Delete(text, i, 1);
        }
        break;
      case u'/':
        if (d == u')') Delete(text, i, 1);
        else if (d == u'*' || d == u'+' || d == u'/') Delete(text, i + 1, 1);
        break;
      case u'^':
        if (d == u'+') Delete(text, i + 1, 1);
        break;
      default:
        break;
    }
  }
}

void DropParens(Text& text) {
  int32_t i = 1;
  while (i <= Length(text)) {
    while (i < Length(text) && At(text, i) != u'(') ++i;
    if (i < Length(text)) {
      const int32_t p = i;
      const int32_t close = MatchParen(text, p);
      const bool function_call = p >= 3 && cls::FunctionLetters(At(text, p - 2));
      if (!function_call) {
        const int32_t j = FirstIn(text, p + 1, close, cls::OperatorMarks);
        i = FirstIn(text, p + 1, close, cls::AdditiveMarks);
        const char16_t before = At(text, p - 1);
        const char16_t after = At(text, close + 1);
        if (j >= close) {
          // Only operands, powers and operator-free groups inside. A power inside next to a
          // power outside would change which operand the outer power binds.
          if (HoldsPower(text, p, close) && (before == u'^' || after == u'^'))
            i = close;
          else
            RemoveBrackets(text, p, close);
        } else if (close < Length(text) && i >= close && after != u'^' && before != u'^') {
          // A product of factors and divisors only.
          if (before == u'/') InvertProductGroup(text, p, close);
          RemoveBrackets(text, p, close);
        } else {
          i = close;
        }
      }
    }
    ++i;
  }
}

}  // namespace tarvo
