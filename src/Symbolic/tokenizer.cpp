#include "Symbolic/tokenizer.h"

#include <algorithm>

#include "Symbolic/decimal.h"
#include "Symbolic/primitives.h"

namespace tarvo {

namespace {

// Error positions are summed into a 16-bit indicator; it saturates instead of wrapping, so
// that a long malformed text can never sum to zero (or below) and pass as well formed.
void AddError(int16_t& error, int32_t position) {
  const int32_t sum = static_cast<int32_t>(error) + position;
  error = static_cast<int16_t>(std::min<int32_t>(sum, INT16_MAX));
}

bool IsNameKind(char16_t c) {
  return c == u'A' || c == u'C' || c == u'F' || c == u'P' || c == u'Q';
}

// A number starts at q (a digit or a point). It takes a `-` just before it as its own sign,
// leaving `+` there, and runs over NumberChars; the character after an exponent mark belongs
// to it whatever it is. The number is replaced by its constant token. Returns the position
// right after the token.
int32_t ReadNumber(Text& text, int32_t q, int16_t& error, ConstantTable& k) {
  const int32_t start = q;
  Text number(1, At(text, q));
  const bool negative = At(text, q - 1) == u'-';
  if (negative) number.insert(number.begin(), u'-');
  ++q;
  while (q <= Length(text) && cls::NumberChars(At(text, q))) {
    const char16_t appended = At(text, q);
    number.push_back(appended);
    ++q;
    if (cls::ExponentMarks(appended)) {
      if (q <= Length(text)) number.push_back(At(text, q));
      ++q;
    }
  }
  const int32_t last = std::min(q - 1, Length(text));

  double value = 0.0;
  const int32_t failed_at = ReadReal(number, value);
  if (failed_at != 0) {
    AddError(error, failed_at);
    value = 0.0;  // immaterial: the formula is refused through the error
  }
  if (negative) text[static_cast<size_t>(start - 2)] = u'+';
  Delete(text, start, last - start + 1);
  Insert(text, ConstName(k, value), start);
  return start + 2;
}

// A name (kind letter at q): its index is the two characters after it when the second of
// them is a digit, else the one character after it (none at the end of the text). The index
// text becomes the single index character; a malformed index gives index 0, which the
// compiler rejects. Returns the position right after the token.
int32_t ReadName(Text& text, int32_t q, int16_t& error) {
  const int32_t width = (q < Length(text) - 1 && cls::Digits(At(text, q + 2))) ? 2 : 1;
  int32_t index = 0;
  const int32_t failed_at = ReadInteger(Copy(text, q + 1, width), index);
  if (failed_at != 0) {
    AddError(error, failed_at);
    index = 0;
  }
  Delete(text, q + 1, width);
  Insert(text, Text(1, IndexChar(index)), q + 1);
  return q + 2;
}

}  // namespace

void Tokenize(Text& text, int16_t& error, ConstantTable& constants) {
  error = 0;
  StripSpaces(text);
  if (!cls::Signs(At(text, 1))) Insert(text, u"+", 1);
  int32_t q = 1;
  while (q <= Length(text)) {
    const char16_t c = At(text, q);
    if (c == u'(') {
      if (At(text, q - 1) == u'(') Insert(text, u"+", q);
      q += 1;
    } else if (cls::Digits(c) || c == u'.') {
      q = ReadNumber(text, q, error, constants);
    } else if (IsNameKind(c)) {
      q = ReadName(text, q, error);
    } else if (c == u'T') {
      Insert(text, u"a", q + 1);
      q += 2;
    } else {
      q += 1;
    }
  }
}

}  // namespace tarvo
