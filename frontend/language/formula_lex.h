// Splits a formula as the user wrote it into lexemes with their 1-based columns: numbers (read
// the way the library reads them: digits, '.', 'E'/'e' and the sign right after an exponent
// mark), identifiers, the operators + - * / ^ and brackets. White space separates lexemes and
// is dropped. A character that belongs to none of these is reported with its column.
#pragma once

#include <string>
#include <vector>

namespace tarvo::frontend {

enum class LexKind { Number, Identifier, Operator, Open, Close };

struct Lexeme {
  LexKind kind;
  std::string text;
  int column;  // 1-based, in characters of the user's text (bytes for ASCII text)
};

// 0 and the lexemes, or 2 and a message such as "unexpected character ',' at column 7".
int Lex(const std::string& text, std::vector<Lexeme>& out, std::string& message);

}  // namespace tarvo::frontend
