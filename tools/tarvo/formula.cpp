// `tarvo formula`: shows what the library makes of host formulas. Each TEXT is tokenized,
// simplified, compiled and evaluated exactly as set-up and the simulation would, with the
// value cells given by --set and the EqualTo expressions given by --equal-to.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "Symbolic/cells.h"
#include "Symbolic/compil.h"
#include "Symbolic/compiler.h"
#include "Symbolic/formula_pipeline.h"
#include "Symbolic/limits.h"
#include "Symbolic/primitives.h"
#include "Symbolic/simplify.h"
#include "Symbolic/tokenizer.h"
#include "platform/failure.h"
#include "platform/variant.h"
#include "tarvo/command.h"
#include "language/formula_limits.h"
#include "language/slot_listing.h"

namespace tarvo::cli {

using namespace tarvo::frontend;

namespace {

struct FormulaArgs {
  std::vector<std::string> sets;
  std::vector<std::string> equal_tos;
  std::vector<std::string> texts;
  bool no_simplify = false;
  bool fresh = false;
  bool json = false;
};

// The command's own value cells and constant table: one command run, one set of cells, as one
// model's formulas share theirs.
FormulaCells& Cells() {
  static FormulaCells cells;
  return cells;
}

// "F12" -> the cell of species 12; nil when the name is not F1..F30, P1..P50, A1..A50 or T.
double* VariableCell(const std::string& name) {
  if (name == "T") return &Cells().time;
  if (name.size() < 2) return nullptr;
  int n = 0;
  const char* first = name.data() + 1;
  const char* last = name.data() + name.size();
  const auto [end, ec] = std::from_chars(first, last, n);
  if (ec != std::errc() || end != last || *first == '+' || *first == '-') return nullptr;
  switch (name[0]) {
    case 'F': return n >= 1 && n <= kMaxSpecies ? &Cells().species[n - 1] : nullptr;
    case 'P': return n >= 1 && n <= kMaxParameters ? &Cells().parameters[n - 1] : nullptr;
    case 'A': return n >= 1 && n <= kMaxAdjustables ? &Cells().adjustables[n - 1] : nullptr;
    default: return nullptr;
  }
}

bool ParseNumber(const std::string& text, double& value) {
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;
  const auto [end, ec] = std::from_chars(first, last, value);
  return ec == std::errc() && end == last && first != last;
}

// Adjustable number of "A<n>=..." (1..50), or 0.
int EqualToIndex(const std::string& arg) {
  const size_t eq = arg.find('=');
  if (eq == std::string::npos || eq < 2 || arg[0] != 'A') return 0;
  int n = 0;
  const auto [end, ec] = std::from_chars(arg.data() + 1, arg.data() + eq, n);
  if (ec != std::errc() || end != arg.data() + eq || arg[1] == '+' || arg[1] == '-') return 0;
  return n >= 1 && n <= kMaxAdjustables ? n : 0;
}

std::string CheckSet(const std::string& arg) {
  const size_t eq = arg.find('=');
  double value = 0.0;
  if (eq == std::string::npos || !VariableCell(arg.substr(0, eq)))
    return "expected NAME=VALUE with NAME one of F1..F30, P1..P50, A1..A50, T: " + arg;
  if (!ParseNumber(arg.substr(eq + 1), value)) return "not a number in " + arg;
  return "";
}

std::string CheckEqualTo(const std::string& arg) {
  return EqualToIndex(arg) ? "" : "expected A<n>=TEXT with n in 1..50: " + arg;
}

void AddSaturated(int16_t& sum, int32_t n) {
  sum = static_cast<int16_t>(std::clamp<int32_t>(sum + n, INT16_MIN, INT16_MAX));
}

// The EqualTo expressions of the adjustables, prepared the way set-up prepares them.
struct Adjustables {
  std::array<std::string, kMaxAdjustables> host{};
  std::array<Text, kMaxAdjustables> coded{};
  std::array<compilptr, kMaxAdjustables> equation{};
  InlineTable table{};
  int16_t errors = 0;  // tokenizer errors, compiler faults and self-references, summed

  Adjustables() {
    for (int a = 0; a < kMaxAdjustables; ++a) {
      table.text[a] = &coded[static_cast<size_t>(a)];
      table.equation[a] = &equation[static_cast<size_t>(a)];
    }
  }
  ~Adjustables() { ReleaseAll(); }
  Adjustables(const Adjustables&) = delete;
  Adjustables& operator=(const Adjustables&) = delete;

  void ReleaseAll() {
    for (compilptr& e : equation) {
      Release(e);
      e = nullptr;
    }
  }
};

// Allocates a record for every non-empty expression, tokenizes and simplifies them all, and,
// while nothing has failed, compiles each one and counts its references to its own adjustable.
void Prepare(Adjustables& adj, bool simplify) {
  adj.ReleaseAll();
  adj.errors = 0;
  for (size_t a = 0; a < adj.host.size(); ++a)
    if (!adj.host[a].empty()) adj.equation[a] = NewCompil();
  for (size_t a = 0; a < adj.host.size(); ++a) {
    if (!adj.equation[a]) continue;
    adj.coded[a] = FromUtf8(adj.host[a]);
    int16_t error = 0;
    Tokenize(adj.coded[a], error, Cells().constants);
    AddSaturated(adj.errors, error);
    try {
      if (simplify) Simplify(adj.coded[a], Cells().constants);
    } catch (const Failure&) {  // a constant fold raised: the expression is refused
      AddSaturated(adj.errors, 1);
      Release(adj.equation[a]);
      adj.equation[a] = nullptr;
    }
  }
  for (size_t a = 0; a < adj.host.size(); ++a) {
    if (!adj.equation[a] || adj.errors != 0) continue;
    int16_t faults = 0;
    Compile(Cells(), adj.coded[a], adj.equation[a], faults, &adj.table);
    AddSaturated(adj.errors, faults);
    AddSaturated(adj.errors, CountRefs(&Cells().adjustables[a], adj.equation[a]));
  }
}

std::string PreparationAccount(const Adjustables& adj) {
  std::string out;
  for (size_t a = 0; a < adj.host.size(); ++a) {
    if (adj.host[a].empty()) continue;
    out += "A" + std::to_string(a + 1) + " = " + adj.host[a] + "  ->  " +
           CodedWithConstants(Cells(), adj.coded[a]) +
           (adj.equation[a] ? "" : "  (refused: a plain value)") + "\n";
  }
  if (adj.errors != 0)
    out += "EqualTo preparation reports " + std::to_string(adj.errors) + " error(s)\n";
  return out;
}

// Everything the tool learns about one TEXT.
struct Outcome {
  Text coded;
  int16_t tokenize_errors = 0;
  Text simplified;
  bool compiled = false;
  int16_t faults = 0;
  int32_t slots = 0;
  std::string program;  // readable slot listing
  bool evaluated = false;
  double value = 0.0;
  bool invalid_operation = false;
};

Outcome Run(const std::string& host, Adjustables& adj, bool simplify) {
  Outcome o;
  compilptr c = NewCompil();
  if (!c) throw std::bad_alloc();
  FormulaOptions options;
  options.bindings = &adj.table;
  options.simplify = simplify;
  FormulaStages stages;
  try {
    CompileFormula(Cells(), FromUtf8(host), c, options, stages);
  } catch (const Failure& f) {
    // Folding constants can raise what evaluating them would: report it as the value.
    Release(c);
    o.coded = stages.coded;
    o.tokenize_errors = stages.tokenize_errors;
    o.invalid_operation = o.evaluated = f.kind == FailureKind::InvalidOperation;
    return o;
  }
  o.coded = stages.coded;
  o.tokenize_errors = stages.tokenize_errors;
  if (!stages.compiled) {
    Release(c);
    return o;
  }
  o.simplified = stages.compiled_text;
  o.faults = stages.faults;
  o.compiled = true;
  o.slots = c->stop;
  o.program = SlotListing(Cells(), *c, 4);
  if (o.faults == 0) {
    o.evaluated = true;
    try {
      o.value = Evaluate(c);
    } catch (const Failure& f) {
      o.invalid_operation = f.kind == FailureKind::InvalidOperation;
      o.evaluated = o.invalid_operation;
    }
  }
  Release(c);
  return o;
}

nlohmann::ordered_json ValueJson(const Outcome& o) {
  if (!o.evaluated) return nullptr;
  if (o.invalid_operation) return "invalid-operation";
  if (std::isnan(o.value)) return "nan";
  if (std::isinf(o.value)) return o.value > 0 ? "inf" : "-inf";
  return o.value;
}

std::string JsonLine(const std::string& host, const Outcome& o) {
  nlohmann::ordered_json j;
  j["host"] = host;
  j["coded"] = ToUtf8(o.coded);
  j["tokenize_errors"] = o.tokenize_errors;
  j["simplified"] = o.compiled ? nlohmann::ordered_json(ToUtf8(o.simplified)) : nullptr;
  j["faults"] = o.compiled ? nlohmann::ordered_json(o.faults) : nullptr;
  j["slots"] = o.compiled ? nlohmann::ordered_json(o.slots) : nullptr;
  j["value"] = ValueJson(o);
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string Account(const std::string& host, const Outcome& o) {
  std::string out = "host        " + host + "\n";
  out += "coded       " + CodedWithConstants(Cells(), o.coded) + "\n";
  out += "tokenizer   " + std::to_string(o.tokenize_errors) + " error(s)";
  if (!o.compiled && o.invalid_operation)
    return out + "\nsimplifier  invalid-operation while folding constants\n\n";
  if (!o.compiled) return out + ": not compiled\n\n";
  out += "\nsimplified  " + CodedWithConstants(Cells(), o.simplified) + "\n";
  out += "compiler    " + std::to_string(o.faults) + " fault(s), " + std::to_string(o.slots) +
         " slot(s)\n" + o.program;
  if (o.invalid_operation)
    out += "value       invalid-operation\n";
  else if (o.evaluated)
    out += "value       " + NumberText(o.value) + "\n";
  else
    out += "value       not evaluated (faults)\n";
  return out + "\n";
}

void RunFormula(const FormulaArgs& args) {
  for (const std::string& text : args.texts)
    if (const std::string why = FormulaSizeProblem(text); !why.empty())
      throw CLI::ValidationError("TEXT", "a formula of " + why);
  for (const std::string& text : args.equal_tos)
    if (const std::string why = FormulaSizeProblem(text); !why.empty())
      throw CLI::ValidationError("--equal-to", "a formula of " + why);
  for (const std::string& arg : args.sets) {
    const size_t eq = arg.find('=');
    double value = 0.0;
    ParseNumber(arg.substr(eq + 1), value);
    *VariableCell(arg.substr(0, eq)) = value;
  }
  Adjustables adj;
  std::array<bool, kMaxAdjustables> given{};
  for (const std::string& arg : args.equal_tos) {
    const size_t a = static_cast<size_t>(EqualToIndex(arg) - 1);
    if (given[a]) throw CLI::ValidationError("--equal-to", "A" + std::to_string(a + 1) + " given twice");
    given[a] = true;
    adj.host[a] = arg.substr(arg.find('=') + 1);
  }
  const bool simplify = !args.no_simplify;
  if (!args.fresh) Prepare(adj, simplify);
  for (size_t i = 0; i < args.texts.size(); ++i) {
    if (args.fresh) {
      ResetConstants(Cells().constants);
      Prepare(adj, simplify);
    }
    const bool show_preparation = !args.equal_tos.empty() && (args.fresh || i == 0);
    if (show_preparation && !args.json) std::cout << PreparationAccount(adj) << "\n";
    if (show_preparation && args.json && adj.errors != 0)
      std::cerr << "tarvo formula: the EqualTo expressions report " << adj.errors
                << " error(s)\n";
    const Outcome o = Run(args.texts[i], adj, simplify);
    std::cout << (args.json ? JsonLine(args.texts[i], o) + "\n" : Account(args.texts[i], o));
  }
  std::cout.flush();
}

void AddFormulaCommand(CLI::App& app) {
  auto args = std::make_shared<FormulaArgs>();
  CLI::App* cmd = app.add_subcommand(
      "formula", "Tokenize, simplify, compile and evaluate host formulas");
  cmd->add_option("--set", args->sets, "Value of a variable (F1..F30, P1..P50, A1..A50, T)")
      ->type_name("NAME=VALUE")
      ->allow_extra_args(false)
      ->check(CLI::Validator(CheckSet, "NAME=VALUE", "variable"));
  cmd->add_option("--equal-to", args->equal_tos,
                  "EqualTo expression of an adjustable, in host notation")
      ->type_name("A<n>=TEXT")
      ->allow_extra_args(false)
      ->check(CLI::Validator(CheckEqualTo, "A<n>=TEXT", "equal-to"));
  cmd->add_flag("--no-simplify", args->no_simplify, "Compile the coded text as tokenized");
  cmd->add_flag("--fresh", args->fresh,
                "Start every TEXT from the constant table of a newly loaded library");
  cmd->add_flag("--json", args->json, "One JSON object per TEXT");
  cmd->add_option("TEXT", args->texts, "Host formula text")->required();
  cmd->callback([args] { RunFormula(*args); });
}

const Registration kRegistration{"formula", AddFormulaCommand};

}  // namespace

}  // namespace tarvo::cli
