#include "Symbolic/primitives.h"

#include <limits>

#include "Symbolic/cells.h"

namespace tarvo {

int32_t g_paren_error = 0;

void ResetConstants() {
  for (double& v : g_constants.value) v = 0.0;
  g_constants.count = 1;
  g_constants.value[0] = 0.0;
}

bool ConstantTableFull() { return g_constants.count > kMaxConstants; }

void StripSpaces(Text& text) {
  for (int32_t i = Length(text); i >= 1; --i)
    if (At(text, i) == u' ') Delete(text, i, 1);
}

Text ConstName(double x) {
  int32_t i = 1;
  while (i < g_constants.count && !(g_constants.value[i - 1] == x)) ++i;
  if (i > kMaxConstants) return Text{u'C', kOverflowIndex};  // table full, value new
  g_constants.value[i - 1] = x;
  if (i == g_constants.count) {
    g_constants.count += 1;
    if (g_constants.count <= kMaxConstants) g_constants.value[g_constants.count - 1] = 0.0;
  }
  return Text{u'C', IndexChar(i)};
}

double ConstValue(const Text& token) {
  const int n = IndexOf(At(token, 2));
  if (n < 1 || n > kMaxConstants) return std::numeric_limits<double>::quiet_NaN();
  return g_constants.value[n - 1];
}

int32_t MatchParen(const Text& text, int32_t pos) {
  g_paren_error = 0;
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
    g_paren_error += 1;
  }
  if (pos > length) g_paren_error += 1;
  return pos;
}

Text ExtractParen(const Text& text, int32_t pos, int32_t& close) {
  close = MatchParen(text, pos);
  if (g_paren_error == 0) return Copy(text, pos + 1, close - pos - 1);
  return Text();
}

}  // namespace tarvo
