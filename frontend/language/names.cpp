#include "language/names.h"

#include <algorithm>
#include <cctype>

#include "language/formula_lex.h"
#include "language/formula_syntax.h"

namespace tarvo::frontend {

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool AllDigits(const std::string& s, size_t from) {
  if (from >= s.size()) return false;
  for (size_t i = from; i < s.size(); ++i)
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
  return true;
}

// A kind letter followed by digits only: the library's own operand notation.
bool IsNotation(const std::string& s) {
  return s.size() >= 2 && std::string("ACFPQ").find(s[0]) != std::string::npos &&
         AllDigits(s, 1);
}

// Translates one notation operand (F3, P12, A1) after checking its index against the model.
int TranslateNotation(const NameTable& names, const Lexeme& l, std::string& out,
                      std::string& message) {
  const std::string at = "'" + l.text + "' at column " + std::to_string(l.column);
  const char kind = l.text[0];
  if (kind == 'C') {
    message = at + " names a slot of the library's constant table; write the number itself";
    return 2;
  }
  if (kind == 'Q') {
    message = at + ": Q-names are not accepted by the library";
    return 2;
  }
  const int index = l.text.size() <= 3 ? std::stoi(l.text.substr(1)) : -1;
  const int count = kind == 'F' ? names.species : kind == 'P' ? names.parameters
                                                               : names.adjustables;
  const char* what = kind == 'F' ? "species" : kind == 'P' ? "parameters" : "adjustables";
  const char* what_one = kind == 'F' ? "species" : kind == 'P' ? "parameter" : "adjustable";
  if (index < 1 || index > count) {
    message = at + " is out of range: in the library's notation it names " + what_one + " " +
              l.text.substr(1) + ", and the model declares " + std::to_string(count) + " " + what +
              " (a capital A, C, F, P or Q followed by digits cannot be a name)";
    return 2;
  }
  out = std::string(1, kind) + std::to_string(index);
  return 0;
}

std::string UnknownName(const NameTable& names, const Lexeme& l) {
  std::string m = "unknown name '" + l.text + "' at column " + std::to_string(l.column);
  if (l.text == "t" || Lower(l.text) == "time") return m + " (the time is written T)";
  for (const auto& [name, token] : names.token)
    if (Lower(name) == Lower(l.text)) return m + " (did you mean '" + name + "'?)";
  return m;
}

}  // namespace

int CheckName(const std::string& name, std::string& message) {
  if (name.empty()) {
    message = "a name is empty";
    return 2;
  }
  const unsigned char first = static_cast<unsigned char>(name[0]);
  bool identifier = std::isalpha(first) || first == '_';
  for (unsigned char c : name) identifier = identifier && (std::isalnum(c) || c == '_');
  if (!identifier) {
    message = "'" + name + "' is not a valid name: use a letter or '_' followed by letters, "
              "digits or '_'";
    return 2;
  }
  if (name == "T") {
    message = "'T' is the time in formulas and cannot name anything else";
    return 2;
  }
  if (IsFunctionName(name)) {
    message = "'" + name + "' is a function name and cannot name anything else";
    return 2;
  }
  if (IsNotation(name)) {
    message = "'" + name + "' would be read as the library's own notation (a kind letter " +
              "A, C, F, P or Q followed by digits); choose another name";
    return 2;
  }
  return 0;
}

NameTable BuildNameTable(const Model& model) {
  NameTable t;
  t.species = static_cast<int>(model.species.size());
  t.parameters = static_cast<int>(model.parameters.size());
  t.adjustables = static_cast<int>(model.adjustables.size());
  for (int i = 0; i < t.species; ++i)
    t.token[model.species[i].name] = "F" + std::to_string(i + 1);
  for (int i = 0; i < t.parameters; ++i)
    t.token[model.parameters[i].name] = "P" + std::to_string(i + 1);
  for (int i = 0; i < t.adjustables; ++i)
    t.token[model.adjustables[i].name] = "A" + std::to_string(i + 1);
  return t;
}

int Translate(const NameTable& names, const std::string& text, std::string& out,
              std::string& message, std::vector<std::string>* referenced) {
  std::vector<Lexeme> lex;
  if (Lex(text, lex, message) != 0) return 2;
  for (size_t i = 0; i + 1 < lex.size(); ++i) {  // a call of a function the library lacks
    const Lexeme& l = lex[i];
    if (l.kind == LexKind::Identifier && lex[i + 1].kind == LexKind::Open &&
        !IsFunctionName(l.text) && !names.token.count(l.text) && !IsNotation(l.text) &&
        l.text != "T") {
      message = "unknown function '" + l.text + "' at column " + std::to_string(l.column) +
                " (the functions are exp and ln)";
      return 2;
    }
  }
  if (CheckSyntax(lex, message) != 0) return 2;
  out.clear();
  for (const Lexeme& l : lex) {
    if (l.kind != LexKind::Identifier) {
      out += l.text;
      continue;
    }
    std::string piece;
    if (IsFunctionName(l.text)) {
      piece = Lower(l.text) == "ln" ? "LN" : "EX";
    } else if (auto it = names.token.find(l.text); it != names.token.end()) {
      piece = it->second;
    } else if (l.text == "T") {
      piece = "T";
    } else if (IsNotation(l.text)) {
      if (TranslateNotation(names, l, piece, message) != 0) return 2;
    } else {
      message = UnknownName(names, l);
      return 2;
    }
    if (referenced && !IsFunctionName(l.text) &&
        std::find(referenced->begin(), referenced->end(), piece) == referenced->end())
      referenced->push_back(piece);
    out += piece;
  }
  return 0;
}

}  // namespace tarvo::frontend
