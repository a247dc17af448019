// Formula text: 16-bit characters, 1-based positions, and the character classes that the
// tokenizer, the simplifier passes and the compiler test. Class tests are made on raw codes,
// so index characters (`e` for index 5, `l` for 12, ...) fall into classes like any other
// character. Reading outside a text yields code 0, which belongs to no class.
#pragma once

#include <cstdint>
#include <string>

namespace tarvo {

using Text = std::u16string;

// Character at 1-based position pos, 0 outside 1..length.
inline char16_t At(const Text& t, int64_t pos) {
  return (pos >= 1 && pos <= static_cast<int64_t>(t.size())) ? t[static_cast<size_t>(pos - 1)]
                                                              : char16_t(0);
}
inline int32_t Length(const Text& t) { return static_cast<int32_t>(t.size()); }

// count characters from 1-based index: an index below 1 counts as 1 (count unchanged); an
// index past the end or a negative count gives ""; the count is cut at the end.
inline Text Copy(const Text& t, int64_t index, int64_t count) {
  if (index < 1) index = 1;
  const int64_t len = static_cast<int64_t>(t.size());
  if (index > len || count <= 0) return Text();
  if (count > len - index + 1) count = len - index + 1;
  return t.substr(static_cast<size_t>(index - 1), static_cast<size_t>(count));
}

// Deletes count characters at 1-based index; an index outside 1..length or a count of 0 or
// less does nothing; the count is cut at the end.
inline void Delete(Text& t, int64_t index, int64_t count) {
  const int64_t len = static_cast<int64_t>(t.size());
  if (index < 1 || index > len || count <= 0) return;
  if (count > len - index + 1) count = len - index + 1;
  t.erase(static_cast<size_t>(index - 1), static_cast<size_t>(count));
}

// Inserts s before 1-based index (index length+1 appends; outside that range it is clamped).
inline void Insert(Text& t, const Text& s, int64_t index) {
  const int64_t len = static_cast<int64_t>(t.size());
  if (index < 1) index = 1;
  if (index > len + 1) index = len + 1;
  t.insert(static_cast<size_t>(index - 1), s);
}

// Index character of index n (1..255): code 0x60 + n. And back.
inline char16_t IndexChar(int n) { return static_cast<char16_t>(0x60 + n); }
inline int IndexOf(char16_t c) { return static_cast<int>(c) - 0x60; }

namespace cls {
inline bool In(char16_t c, const char* members) {
  if (c == 0 || c > 255) return false;
  for (const char* p = members; *p; ++p)
    if (static_cast<unsigned char>(*p) == c) return true;
  return false;
}
inline bool Signs(char16_t c) { return c == u'+' || c == u'-'; }
inline bool FunctionLetters(char16_t c) { return In(c, "ELel"); }
inline bool AdditiveMarks(char16_t c) { return In(c, "+,-ELel"); }
inline bool OperatorMarks(char16_t c) { return In(c, "*+,-/ELel"); }
inline bool ProductStops(char16_t c) { return In(c, "(*,/EL^el"); }
inline bool SumStops(char16_t c) { return In(c, "+,-EL^el"); }
inline bool ArithmeticOps(char16_t c) { return In(c, "*+-/"); }
inline bool TermEnds(char16_t c) { return In(c, ")*+-"); }
inline bool ChunkBreaks(char16_t c) { return In(c, "*+,-"); }
inline bool Digits(char16_t c) { return c >= u'0' && c <= u'9'; }
inline bool NumberChars(char16_t c) { return Digits(c) || In(c, ".Ee"); }
inline bool ExponentMarks(char16_t c) { return c == u'E' || c == u'e'; }
inline bool VariableKinds(char16_t c) { return In(c, "AFPQT"); }
inline bool ProductOps(char16_t c) { return c == u'*' || c == u'/'; }
}  // namespace cls

}  // namespace tarvo
