#include "Symbolic/decimal.h"

#include <charconv>
#include <string>
#include <system_error>

namespace tarvo {

namespace {

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsSign(char16_t c) { return c == u'+' || c == u'-'; }

}  // namespace

int32_t ReadReal(const Text& text, double& value) {
  value = 0.0;
  const int32_t length = Length(text);
  int32_t i = 1;
  if (IsSign(At(text, i))) ++i;
  int32_t mantissa_digits = 0;
  while (IsDigit(At(text, i))) ++i, ++mantissa_digits;
  if (At(text, i) == u'.') {
    ++i;
    while (IsDigit(At(text, i))) ++i, ++mantissa_digits;
  }
  if (mantissa_digits == 0) return i;
  if (At(text, i) == u'E' || At(text, i) == u'e') {
    ++i;
    if (IsSign(At(text, i))) ++i;
    if (!IsDigit(At(text, i))) return i;
    while (IsDigit(At(text, i))) ++i;
  }
  if (i <= length) return i;

  // The text is well formed and pure ASCII: let the correctly rounding, locale-free
  // conversion of the standard library produce the nearest double.
  std::string ascii;
  ascii.reserve(static_cast<size_t>(length));
  for (char16_t c : text) ascii.push_back(static_cast<char>(c));
  const char* first = ascii.data();
  const char* last = first + ascii.size();
  const bool negative = *first == '-';
  if (IsSign(static_cast<char16_t>(*first))) ++first;  // from_chars takes no '+'
  double magnitude = 0.0;
  const auto [end, ec] = std::from_chars(first, last, magnitude, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // Out of range either way: tell overflow from underflow by the decimal exponent of the
    // leading significant digit.
    int64_t lead = 0, exponent = 0;
    bool seen_point = false, seen_nonzero = false;
    const char* p = first;
    for (; p < last && *p != 'E' && *p != 'e'; ++p) {
      if (*p == '.') {
        seen_point = true;
      } else if (!seen_nonzero) {
        if (*p != '0') seen_nonzero = true;
        if (seen_point) --lead;  // digits after the point before the first significant one
      } else if (!seen_point) {
        ++lead;  // further integer digits
      }
    }
    if (p < last) {
      ++p;
      const bool exp_negative = *p == '-';
      if (IsSign(static_cast<char16_t>(*p))) ++p;
      for (; p < last; ++p) {
        if (exponent < 100000) exponent = exponent * 10 + (*p - '0');
      }
      if (exp_negative) exponent = -exponent;
    }
    if (lead + exponent >= 0) return length + 1;  // overflow
    value = negative ? -0.0 : 0.0;
    return 0;
  }
  if (ec != std::errc() || end != last) return length + 1;  // not expected for a checked text
  value = negative ? -magnitude : magnitude;
  return 0;
}

int32_t ReadInteger(const Text& text, int32_t& value) {
  value = 0;
  const int32_t length = Length(text);
  int32_t i = 1;
  bool negative = false;
  if (IsSign(At(text, i))) {
    negative = At(text, i) == u'-';
    ++i;
  }
  if (!IsDigit(At(text, i))) return i;
  int64_t v = 0;
  for (; IsDigit(At(text, i)); ++i) {
    v = v * 10 + (At(text, i) - u'0');
    if (v > (negative ? 2147483648LL : 2147483647LL)) return i;
  }
  if (i <= length) return i;
  value = static_cast<int32_t>(negative ? -v : v);
  return 0;
}

}  // namespace tarvo
