#include "Symbolic/primitives.h"

#include <limits>

namespace tarvo {

void ResetConstants(ConstantTable& k) {
  for (double& v : k.value) v = 0.0;
  k.count = 1;
  k.value[0] = 0.0;
}

bool ConstantTableFull(const ConstantTable& k) { return k.count > kMaxConstants; }

void StripSpaces(Text& text) {
  for (int32_t i = Length(text); i >= 1; --i)
    if (At(text, i) == u' ') Delete(text, i, 1);
}

Text ConstName(ConstantTable& k, double x) {
  int32_t i = 1;
  while (i < k.count && !(k.value[i - 1] == x)) ++i;
  if (i > kMaxConstants) return Text{u'C', kOverflowIndex};  // table full, value new
  k.value[i - 1] = x;
  if (i == k.count) {
    k.count += 1;
    if (k.count <= kMaxConstants) k.value[k.count - 1] = 0.0;
  }
  return Text{u'C', IndexChar(i)};
}

double ConstValue(const ConstantTable& k, const Text& token) {
  const int n = IndexOf(At(token, 2));
  if (n < 1 || n > kMaxConstants) return std::numeric_limits<double>::quiet_NaN();
  return k.value[n - 1];
}

int32_t MatchParen(const Text& text, int32_t pos, int32_t* error) {
  int32_t errors = 0;
  int32_t depth = 1;
  const int32_t length = Length(text);
  if (At(text, pos) == u'(') {
    do {
      ++pos;
      const char16_t c = At(text, pos);
      if (c == u')') --depth;
      if (c == u'(') ++depth;
    } while (depth != 0 && pos <= length);
  } else {
    errors += 1;
  }
  if (pos > length) errors += 1;
  if (error) *error = errors;
  return pos;
}

Text ExtractParen(const Text& text, int32_t pos, int32_t& close, int32_t& error) {
  close = MatchParen(text, pos, &error);
  if (error == 0) return Copy(text, pos + 1, close - pos - 1);
  return Text();
}

}  // namespace tarvo
