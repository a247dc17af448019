#include "language/formula_syntax.h"

#include <algorithm>
#include <cctype>

namespace tarvo::frontend {

namespace {

std::string At(const Lexeme& l) { return " at column " + std::to_string(l.column); }

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool IsOp(const Lexeme* l, char op) {
  return l && l->kind == LexKind::Operator && l->text[0] == op;
}

struct Level {
  int open_column;  // column of the bracket that opened this level (0 for the whole text)
  char last_op;     // last binary operator seen at this level, 0 when none
};

}  // namespace

bool IsFunctionName(const std::string& identifier) {
  const std::string l = Lower(identifier);
  return l == "ex" || l == "exp" || l == "ln";
}

int CheckSyntax(const std::vector<Lexeme>& lex, std::string& message) {
  if (lex.empty()) {
    message = "the formula is empty";
    return 2;
  }
  std::vector<Level> levels{{0, 0}};
  bool expect_operand = true;
  const size_t n = lex.size();
  for (size_t i = 0; i < n; ++i) {
    const Lexeme& l = lex[i];
    const Lexeme* prev = i > 0 ? &lex[i - 1] : nullptr;
    const Lexeme* next = i + 1 < n ? &lex[i + 1] : nullptr;
    switch (l.kind) {
      case LexKind::Identifier:
        if (IsFunctionName(l.text)) {
          if (!next || next->kind != LexKind::Open) {
            message = "'" + l.text + "'" + At(l) + " is a function: write " + l.text + "(...)";
            return 2;
          }
          if (!expect_operand) {
            message = "missing operator before '" + l.text + "'" + At(l);
            return 2;
          }
          levels.push_back({next->column, 0});
          ++i;  // the function's bracket
          break;
        }
        if (next && next->kind == LexKind::Open) {
          message = "'" + l.text + "'" + At(l) + " is followed by '(': write " + l.text +
                    "*(...) for a product; the functions are exp(...) and ln(...)";
          return 2;
        }
        [[fallthrough]];
      case LexKind::Number:
        if (!expect_operand) {
          message = "missing operator before '" + l.text + "'" + At(l);
          return 2;
        }
        // The library takes a minus written right before a number into the number, so
        // -2^2 would be (-2)^2 and a-2^2 would be a+(-2)^2.
        if (l.kind == LexKind::Number && IsOp(prev, '-') && IsOp(next, '^')) {
          message = "'-" + l.text + "^'" + At(*prev) + " would square the negative number; " +
                    "write -(" + l.text + "^...) or (-" + l.text + ")^...";
          return 2;
        }
        expect_operand = false;
        break;
      case LexKind::Operator: {
        const char op = l.text[0];
        if (expect_operand) {
          if (op != '+' && op != '-') {
            message = "'" + l.text + "'" + At(l) + " has no operand before it";
            return 2;
          }
          const bool at_start = !prev || prev->kind == LexKind::Open ||
                                (prev->kind == LexKind::Identifier && IsFunctionName(prev->text));
          if (!at_start && !(next && next->kind == LexKind::Number)) {
            message = "the sign '" + l.text + "'" + At(l) + " follows the operator '" +
                      prev->text + "': put the signed term in brackets, as " + prev->text +
                      "(" + l.text + "...)";
            return 2;
          }
          break;  // a sign: an operand still follows
        }
        if (op == '^' && levels.back().last_op == '^') {
          message = "the second '^'" + At(l) +
                    " chains powers; write (a^b)^c or a^(b^c) to say which is meant";
          return 2;
        }
        levels.back().last_op = op;
        expect_operand = true;
        break;
      }
      case LexKind::Open:
        if (!expect_operand) {
          message = "missing operator before '('" + At(l);
          return 2;
        }
        levels.push_back({l.column, 0});
        break;
      case LexKind::Close:
        if (levels.size() == 1) {
          message = "')'" + At(l) + " has no matching '('";
          return 2;
        }
        if (expect_operand) {
          message = prev && prev->kind == LexKind::Open
                        ? "empty brackets" + At(*prev)
                        : "an operand is missing before ')'" + At(l);
          return 2;
        }
        levels.pop_back();
        expect_operand = false;
        break;
    }
  }
  if (expect_operand) {
    message = "the formula ends with '" + lex.back().text + "'" + At(lex.back()) +
              ": an operand is missing";
    return 2;
  }
  if (levels.size() > 1) {
    message = "'('" + std::string(" at column ") + std::to_string(levels.back().open_column) +
              " is never closed";
    return 2;
  }
  return 0;
}

}  // namespace tarvo::frontend
