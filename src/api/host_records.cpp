#include "api/host_records.h"

#include <cstddef>

namespace tarvo {

namespace {

std::vector<VARIANT> Cells(const HostOle& ole, size_t count, bool blank) {
  std::vector<VARIANT> cells(count);
  for (VARIANT& v : cells) {
    ole.init(&v);
    if (blank) SetHostText(ole, v, "");
  }
  return cells;
}

void ClearAll(const HostOle& ole, std::vector<VARIANT>& cells) {
  for (VARIANT& v : cells) ole.clear(&v);
  cells.clear();
}

// Writes each cell that lies inside a table of rows x columns, column-major.
void Place(const HostOle& ole, std::vector<VARIANT>& table, int rows, int first_column,
           const std::vector<HostCell>& cells) {
  const size_t columns = table.size() / static_cast<size_t>(rows);
  for (const HostCell& c : cells) {
    const int k = c.column - first_column;
    if (c.row < 1 || c.row > rows || k < 0 || static_cast<size_t>(k) >= columns) continue;
    SetHostText(ole, table[static_cast<size_t>(k) * rows + (c.row - 1)], c.text);
  }
}

void BuildInitials(const HostModel& m, const HostOle& ole, HostRecords& r) {
  r.initials = BInitials{};
  ole.init(&r.initials.FileName);
  SetHostText(ole, r.initials.FileName, m.file_name);
  r.initials.NEspeces = static_cast<SmallInt>(m.species);
  r.initials.NInterrupts = static_cast<SmallInt>(m.intervals);
  r.initials.NParametres = static_cast<SmallInt>(m.parameters);
  r.initials.NAjustables = static_cast<SmallInt>(m.adjustables.size());
  r.initials.NPoints = static_cast<SmallInt>(m.points);
  r.initials.NSorties = static_cast<SmallInt>(m.outputs.size());

  r.fitset = BFitSet{};
  r.fitset.MaxIter = m.max_iter;
  r.fitset.TypeErreur = m.type_erreur;
  r.fitset.Tolerance = m.tolerance;
  r.fitset.Marquard = m.marquard;
  r.fitset.Precision = m.precision;
  r.fitset.Done = m.done;
  ole.init(&r.fitset.Method);
  SetHostText(ole, r.fitset.Method, m.method);
}

void BuildAdjustables(const HostModel& m, const HostOle& ole, HostRecords& r) {
  r.adjustables = BAjustables{};
  for (int a = 1; a <= kMaxAdjustables; ++a) {
    ole.init(AdjName(&r.adjustables, a));
    ole.init(AdjEqualTo(&r.adjustables, a));
    if (m.blank_cells) {
      SetHostText(ole, *AdjName(&r.adjustables, a), "");
      SetHostText(ole, *AdjEqualTo(&r.adjustables, a), "");
    }
  }
  for (size_t a = 0; a < m.adjustables.size() && a < static_cast<size_t>(kMaxAdjustables); ++a) {
    const HostAdjustable& adj = m.adjustables[a];
    const int n = static_cast<int>(a) + 1;
    SetHostText(ole, *AdjName(&r.adjustables, n), adj.name);
    if (adj.equal_to) SetHostText(ole, *AdjEqualTo(&r.adjustables, n), *adj.equal_to);
    r.adjustables.Value[a] = adj.value;
    r.adjustables.SD[a] = adj.sd;
    r.adjustables.Adjustable[a] = adj.adjustable ? kTrue : kFalse;
  }
}

void BuildOutputs(const HostModel& m, const HostOle& ole, HostRecords& r) {
  r.sorties = BSorties{};
  for (VARIANT& v : r.sorties.Formula) {
    ole.init(&v);
    if (m.blank_cells) SetHostText(ole, v, "");
  }
  for (size_t o = 0; o < m.outputs.size() && o < static_cast<size_t>(kMaxOutputs); ++o)
    if (m.outputs[o]) SetHostText(ole, r.sorties.Formula[o], *m.outputs[o]);
}

}  // namespace

HostRecords::~HostRecords() { FreeHostRecords(*this); }

void SetHostText(const HostOle& ole, VARIANT& cell, std::string_view utf8) {
  const std::u16string text = FromUtf8(utf8);
  ole.clear(&cell);
  cell.vt = VT_BSTR;
  cell.bstrVal = ole.alloc_len(reinterpret_cast<const HostChar*>(text.data()),
                               static_cast<uint32_t>(text.size()));
}

void BuildHostRecords(const HostModel& m, const HostOle& ole, HostRecords& r) {
  FreeHostRecords(r);
  r.ole = ole;
  BuildInitials(m, ole, r);
  const size_t columns = static_cast<size_t>(m.intervals + 1);
  r.especes = Cells(ole, kEspecesRows * columns, m.blank_cells);
  r.parametres = Cells(ole, kParametresRows * columns, m.blank_cells);
  r.derivees = Cells(ole, static_cast<size_t>(kDeriveesRows) * kDeriveesColumns, false);
  Place(ole, r.especes, kEspecesRows, 0, m.especes);
  Place(ole, r.parametres, kParametresRows, 0, m.parametres);
  Place(ole, r.derivees, kDeriveesRows, 1, m.derivees);
  BuildAdjustables(m, ole, r);
  BuildOutputs(m, ole, r);
}

void FreeHostRecords(HostRecords& r) {
  const HostOle& ole = r.ole;
  if (!ole.clear) return;  // never built
  ole.clear(&r.initials.FileName);
  ole.clear(&r.fitset.Method);
  ClearAll(ole, r.especes);
  ClearAll(ole, r.parametres);
  ClearAll(ole, r.derivees);
  for (int a = 1; a <= kMaxAdjustables; ++a) {
    ole.clear(AdjName(&r.adjustables, a));
    ole.clear(AdjEqualTo(&r.adjustables, a));
  }
  for (VARIANT& v : r.sorties.Formula) ole.clear(&v);
}

VARIANT& EspecesCell(HostRecords& r, int s, int k) {
  return r.especes[static_cast<size_t>(k) * kEspecesRows + (s - 1)];
}
VARIANT& ParametresCell(HostRecords& r, int p, int k) {
  return r.parametres[static_cast<size_t>(k) * kParametresRows + (p - 1)];
}
VARIANT& DeriveesCell(HostRecords& r, int i, int j) {
  return r.derivees[static_cast<size_t>(j - 1) * kDeriveesRows + (i - 1)];
}

}  // namespace tarvo
