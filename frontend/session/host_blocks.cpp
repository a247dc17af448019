#include "session/host_blocks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tarvo::frontend {

namespace {

// The library empties an adjustable's EqualTo when its Name occurs in that text. Translated
// texts hold only notation tokens, numbers and operators, so only a short name built of those
// characters (A, E, PA, ...) can occur by accident; such a name is passed in braces, which
// no translated text contains.
std::string NameCell(const std::string& name, const std::string& equal_to) {
  if (!equal_to.empty() && equal_to.find(name) != std::string::npos) return "{" + name + "}";
  return name;
}

// An output formula shifted by its offset, in the library's notation.
std::string WithOffset(const std::string& text, double offset) {
  if (offset == 0) return text;
  char number[40];
  std::snprintf(number, sizeof number, "%.17g", std::fabs(offset));
  return "(" + text + ")" + (offset < 0 ? "-" : "+") + number;
}

// The cells of the translated formulas (rows and columns 0-based in a TranslatedFormula).
void PlaceFormulas(const Model& model, const TranslatedModel& text, HostModel& d,
                   std::vector<std::string>& equal_to) {
  for (const TranslatedFormula& f : text.formulas) {
    if (!f.ok || (f.role == FormulaRole::ParameterEquation && f.row >= kParametresRows)) continue;
    switch (f.role) {
      case FormulaRole::SpeciesStart:
        d.especes.push_back({f.row + 1, f.column + 1, f.text});
        break;
      case FormulaRole::ParameterEquation:
        d.parametres.push_back({f.row + 1, f.column + 1, f.text});
        break;
      case FormulaRole::Coefficient:
        d.derivees.push_back({f.row + 1, f.column + 1, f.text});
        break;
      case FormulaRole::FreeTerm:
        d.derivees.push_back({f.row + 1, kDeriveesColumns, f.text});
        break;
      case FormulaRole::Output:
        d.outputs[f.row] = WithOffset(f.text, model.outputs[f.row].offset);
        break;
      case FormulaRole::EqualTo:
        equal_to[f.row] = f.text;
        break;
    }
  }
}

}  // namespace

void BuildHostBlocks(const Model& model, const TranslatedModel& text, int points,
                     const std::string& exchange_path, const std::vector<double>& values,
                     const std::vector<bool>& free, HostBlocks& b) {
  HostModel d;
  d.file_name = exchange_path;
  d.method = model.method;
  d.max_iter = model.sd_every_call ? 0 : 1;
  d.type_erreur = model.error_type;
  d.tolerance = model.tolerance;
  d.marquard = model.marquardt;
  d.precision = model.precision;
  d.species = static_cast<int>(model.species.size());
  d.intervals = text.intervals;
  d.parameters = static_cast<int>(model.parameters.size() + text.hidden_parameters.size());
  d.points = points;
  for (size_t s = 0; s < model.species.size(); ++s)
    d.especes.push_back({static_cast<int>(s) + 1, 0, model.species[s].name});
  for (size_t p = 0; p < model.parameters.size(); ++p)
    d.parametres.push_back({static_cast<int>(p) + 1, 0, model.parameters[p].name});
  for (size_t h = 0; h < text.hidden_parameters.size(); ++h)
    d.parametres.push_back(
        {static_cast<int>(model.parameters.size() + h) + 1, 0, text.hidden_parameters[h]});
  d.outputs.resize(model.outputs.size());
  std::vector<std::string> equal_to(model.adjustables.size());
  PlaceFormulas(model, text, d, equal_to);
  for (size_t a = 0; a < model.adjustables.size(); ++a) {
    HostAdjustable adj{NameCell(model.adjustables[a].name, equal_to[a]), values[a], 0.0,
                       static_cast<bool>(free[a]), std::nullopt};
    if (!equal_to[a].empty()) adj.equal_to = equal_to[a];
    d.adjustables.push_back(adj);
  }
  BuildHostRecords(d, LinkedOle(), b);
}

std::vector<FileRecord> ExchangeRecords(const std::vector<DataPoint>& points,
                                        const std::vector<double>& offsets,
                                        std::optional<double> start) {
  std::vector<FileRecord> records;
  records.reserve(points.size() + (start ? 1 : 0));
  HostPoint h;  // one point at a time, its vectors reused
  if (start) {
    h.time = *start;
    records.push_back(ExchangeRecord(h));
  }
  for (const DataPoint& p : points) {
    h.interval = p.interval;
    h.time = p.time;
    h.replicates.resize(std::min(offsets.size(), p.values.size()));
    for (size_t o = 0; o < h.replicates.size(); ++o) {
      h.replicates[o].clear();
      for (double y : p.values[o]) h.replicates[o].push_back(y + offsets[o]);
    }
    records.push_back(ExchangeRecord(h));
  }
  return records;
}

}  // namespace tarvo::frontend
