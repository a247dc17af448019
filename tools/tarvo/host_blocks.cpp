#include "tarvo/host_blocks.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "platform/variant.h"

namespace tarvo::tool {

namespace {

std::u16string Utf16(const std::string& s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    uint32_t cp = len == 1 ? c : (c & (0x7Fu >> len));
    for (size_t k = 1; k < len && i + k < s.size(); ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

void EmptyCells(std::vector<VARIANT>& cells, size_t count) {
  cells.resize(count);
  for (VARIANT& v : cells) VariantInit(&v);
}

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

}  // namespace

void SetTextCell(VARIANT& cell, const std::string& text) {
  const std::u16string u = Utf16(text);
  VariantClear(&cell);
  cell.vt = VT_BSTR;
  cell.bstrVal = SysAllocStringLen(u.data(), static_cast<uint32_t>(u.size()));
}

void BuildHostBlocks(const Model& model, const TranslatedModel& text, int points,
                     const std::string& exchange_path, const std::vector<double>& values,
                     const std::vector<bool>& free, HostBlocks& b) {
  const int intervals = text.intervals;
  b.initials = BInitials{};
  VariantInit(&b.initials.FileName);
  SetTextCell(b.initials.FileName, exchange_path);
  b.initials.NEspeces = static_cast<SmallInt>(model.species.size());
  b.initials.NInterrupts = static_cast<SmallInt>(intervals);
  b.initials.NParametres =
      static_cast<SmallInt>(model.parameters.size() + text.hidden_parameters.size());
  b.initials.NAjustables = static_cast<SmallInt>(model.adjustables.size());
  b.initials.NPoints = static_cast<SmallInt>(points);
  b.initials.NSorties = static_cast<SmallInt>(model.outputs.size());

  b.fitset = BFitSet{};
  b.fitset.MaxIter = model.sd_every_call ? 0 : 1;
  b.fitset.TypeErreur = model.error_type;
  b.fitset.Tolerance = model.tolerance;
  b.fitset.Marquard = model.marquardt;
  b.fitset.Precision = model.precision;
  VariantInit(&b.fitset.Method);
  SetTextCell(b.fitset.Method, model.method);

  EmptyCells(b.especes, static_cast<size_t>(kEspecesRows) * (intervals + 1));
  EmptyCells(b.parametres, static_cast<size_t>(kParametresRows) * (intervals + 1));
  EmptyCells(b.derivees, static_cast<size_t>(kDeriveesRows) * kDeriveesColumns);
  b.adjustables = std::make_unique<BAjustables>();
  std::memset(static_cast<void*>(b.adjustables.get()), 0, sizeof(BAjustables));
  b.sorties = std::make_unique<BSorties>();
  std::memset(static_cast<void*>(b.sorties.get()), 0, sizeof(BSorties));

  for (size_t s = 0; s < model.species.size(); ++s)
    SetTextCell(b.especes[s], model.species[s].name);
  for (size_t p = 0; p < model.parameters.size(); ++p)
    SetTextCell(b.parametres[p], model.parameters[p].name);
  for (size_t h = 0; h < text.hidden_parameters.size() &&
                     model.parameters.size() + h < static_cast<size_t>(kParametresRows); ++h)
    SetTextCell(b.parametres[model.parameters.size() + h], text.hidden_parameters[h]);

  std::vector<std::string> equal_to(model.adjustables.size());
  for (const TranslatedFormula& f : text.formulas) {
    if (!f.ok || (f.role == FormulaRole::ParameterEquation && f.row >= kParametresRows)) continue;
    switch (f.role) {
      case FormulaRole::SpeciesStart:  // cell (s, k) is Variant k*30 + (s-1), k from 1
        SetTextCell(b.especes[static_cast<size_t>(f.column + 1) * kEspecesRows + f.row], f.text);
        break;
      case FormulaRole::ParameterEquation:
        SetTextCell(b.parametres[static_cast<size_t>(f.column + 1) * kParametresRows + f.row],
                    f.text);
        break;
      case FormulaRole::Coefficient:  // cell (i, j) is Variant (j-1)*30 + (i-1)
        SetTextCell(b.derivees[static_cast<size_t>(f.column) * kDeriveesRows + f.row], f.text);
        break;
      case FormulaRole::FreeTerm:
        SetTextCell(b.derivees[static_cast<size_t>(kDeriveesColumns - 1) * kDeriveesRows + f.row],
                    f.text);
        break;
      case FormulaRole::Output:
        SetTextCell(b.sorties->Formula[f.row], WithOffset(f.text, model.outputs[f.row].offset));
        break;
      case FormulaRole::EqualTo:
        equal_to[f.row] = f.text;
        break;
    }
  }
  for (size_t a = 0; a < model.adjustables.size(); ++a) {
    const int n = static_cast<int>(a) + 1;
    SetTextCell(*AdjName(b.adjustables.get(), n), NameCell(model.adjustables[a].name, equal_to[a]));
    if (!equal_to[a].empty()) SetTextCell(*AdjEqualTo(b.adjustables.get(), n), equal_to[a]);
    b.adjustables->Value[a] = values[a];
    b.adjustables->Adjustable[a] = free[a] ? kTrue : kFalse;
  }
}

void FreeHostBlocks(HostBlocks& b) {
  VariantClear(&b.initials.FileName);
  VariantClear(&b.fitset.Method);
  for (auto* cells : {&b.especes, &b.parametres, &b.derivees})
    for (VARIANT& v : *cells) VariantClear(&v);
  if (b.adjustables)
    for (int a = 1; a <= kMaxAdjustables; ++a) {
      VariantClear(AdjName(b.adjustables.get(), a));
      VariantClear(AdjEqualTo(b.adjustables.get(), a));
    }
  if (b.sorties)
    for (VARIANT& v : b.sorties->Formula) VariantClear(&v);
  b.especes.clear();
  b.parametres.clear();
  b.derivees.clear();
  b.adjustables.reset();
  b.sorties.reset();
}

int WriteExchangeFile(const std::string& path, const std::vector<DataPoint>& points,
                      const std::vector<double>& offsets, std::string& message) {
  const int outputs = static_cast<int>(offsets.size());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    message = "cannot create the exchange file '" + path + "'";
    return 2;
  }
  for (const DataPoint& p : points) {
    FileRecord r;
    std::memset(&r, 0, sizeof r);
    r.Interval = static_cast<SmallInt>(p.interval);
    r.Time = p.time;
    for (int o = 0; o < outputs && o < static_cast<int>(p.values.size()); ++o) {
      const auto& reps = p.values[static_cast<size_t>(o)];
      r.NRep[o] = static_cast<SmallInt>(reps.size());
      for (size_t k = 0; k < reps.size() && k < static_cast<size_t>(kMaxReplicates); ++k)
        r.YExp[o][k] = reps[k] + offsets[static_cast<size_t>(o)];
    }
    out.write(reinterpret_cast<const char*>(&r), sizeof r);
  }
  out.close();
  if (!out) {
    message = "cannot write the exchange file '" + path + "'";
    return 2;
  }
  return 0;
}

int ReadSimulated(const std::string& path, int points, int outputs,
                  std::vector<std::vector<double>>& ycalc, std::string& message) {
  std::ifstream in(path, std::ios::binary);
  ycalc.assign(static_cast<size_t>(points), std::vector<double>(static_cast<size_t>(outputs)));
  for (int j = 0; j < points; ++j) {
    FileRecord r;
    if (!in.read(reinterpret_cast<char*>(&r), sizeof r)) {
      message = "the exchange file '" + path + "' holds fewer than " + std::to_string(points) +
                " records";
      return 2;
    }
    for (int o = 0; o < outputs; ++o) ycalc[j][o] = r.YCalc[o];
  }
  return 0;
}

}  // namespace tarvo::tool
