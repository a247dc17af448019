#include "language/formula_lex.h"

#include <cctype>
#include <cstdlib>

namespace tarvo::frontend {

namespace {

bool IsIdentStart(unsigned char c) { return std::isalpha(c) || c == '_'; }
bool IsIdentChar(unsigned char c) { return std::isalnum(c) || c == '_'; }
bool IsNumberStart(unsigned char c) { return std::isdigit(c) || c == '.'; }

// Column of byte i, counting UTF-8 continuation bytes as part of the character before them.
int ColumnOf(const std::string& text, size_t i) {
  int column = 1;
  for (size_t k = 0; k < i; ++k)
    if ((static_cast<unsigned char>(text[k]) & 0xC0) != 0x80) ++column;
  return column;
}

// The whole text must read as one decimal real.
bool ValidNumber(const std::string& s) {
  if (s.empty()) return false;
  char* end = nullptr;
  std::strtod(s.c_str(), &end);
  return end == s.c_str() + s.size() && s.find_first_of("xXnNiI") == std::string::npos;
}

}  // namespace

int Lex(const std::string& text, std::vector<Lexeme>& out, std::string& message) {
  out.clear();
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const int column = ColumnOf(text, i);
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      ++i;
    } else if (IsNumberStart(c)) {
      // Digits, points and exponent marks, the character after an exponent mark included
      // when it is a sign or a digit (the library takes it whatever it is).
      size_t j = i + 1;
      while (j < text.size()) {
        const unsigned char d = static_cast<unsigned char>(text[j]);
        if (std::isdigit(d) || d == '.') {
          ++j;
        } else if (d == 'E' || d == 'e') {
          ++j;
          if (j < text.size() && (text[j] == '+' || text[j] == '-' || std::isdigit(
                                      static_cast<unsigned char>(text[j]))))
            ++j;
        } else {
          break;
        }
      }
      const std::string number = text.substr(i, j - i);
      if (!ValidNumber(number)) {
        message = "malformed number '" + number + "' at column " + std::to_string(column);
        return 2;
      }
      out.push_back({LexKind::Number, number, column});
      i = j;
    } else if (IsIdentStart(c)) {
      size_t j = i + 1;
      while (j < text.size() && IsIdentChar(static_cast<unsigned char>(text[j]))) ++j;
      out.push_back({LexKind::Identifier, text.substr(i, j - i), column});
      i = j;
    } else if (c == '+' || c == '-' || c == '*' || c == '/' || c == '^') {
      out.push_back({LexKind::Operator, std::string(1, static_cast<char>(c)), column});
      ++i;
    } else if (c == '(') {
      out.push_back({LexKind::Open, "(", column});
      ++i;
    } else if (c == ')') {
      out.push_back({LexKind::Close, ")", column});
      ++i;
    } else {
      size_t j = i + 1;  // the whole UTF-8 character, for the message
      while (j < text.size() && (static_cast<unsigned char>(text[j]) & 0xC0) == 0x80) ++j;
      std::string shown = text.substr(i, j - i);
      if (c < 0x20 || c == 0x7F) {
        static const char* hex = "0123456789ABCDEF";
        shown = std::string("\\x") + hex[c >> 4] + hex[c & 15];
      }
      message = "unexpected character '" + shown + "' at column " + std::to_string(column);
      if (c == ',') message += " (the decimal separator is a point)";
      return 2;
    }
  }
  return 0;
}

}  // namespace tarvo::frontend
