// Translation of the names a model file declares into the library's notation: species n is
// Fn, parameter n is Pn, adjustable n is An (in declaration order), T is the time, and the
// functions exp/ex/ln become EX( and LN(. The library's own notation (F1, P2, A3, T) may be
// written directly. Only whole identifiers are replaced, so k1 never matches inside k10.
//
// A user name must be an identifier (a letter or '_', then letters, digits, '_') that the
// library could not mistake for its own: not T, not a function name, not a kind letter
// followed by digits (A1, C2, F3, P4, Q5).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "language/model_file.h"

namespace tarvo::frontend {

struct NameTable {
  std::map<std::string, std::string> token;  // user name -> "F1", "P2", "A3"
  int species = 0;
  int parameters = 0;
  int adjustables = 0;
};

// 0 when name may be declared; 2 and the reason otherwise.
int CheckName(const std::string& name, std::string& message);

NameTable BuildNameTable(const Model& model);

// 0 and the translated text (and, when referenced is given, the notation tokens it
// uses: "F1", "A3", "T", in order of first use), or 2 and a message naming the column.
int Translate(const NameTable& names, const std::string& text, std::string& out,
              std::string& message, std::vector<std::string>* referenced = nullptr);

}  // namespace tarvo::frontend
