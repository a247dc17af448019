// The host-record builder the tool and the test hosts share: where each described cell lands,
// what unused cells hold, counts passed as they are, and every string it makes freed once.
#include <gtest/gtest.h>

#include <string>

#include "api/host_records.h"

namespace tarvo {
namespace {

// The library's OLE functions, counting the strings made and the strings cleared.
int g_made = 0;
int g_freed = 0;
HostOle CountingOle() {
  return {[](const HostChar* text, uint32_t length) {
            ++g_made;
            return SysAllocStringLen(text, length);
          },
          [](VARIANT* v) { VariantInit(v); },
          [](VARIANT* v) {
            if (v->vt == VT_BSTR) ++g_freed;
            return VariantClear(v);
          }};
}

// "<empty>" for an Empty cell, the text of a string cell.
std::string Cell(const VARIANT& v) {
  if (v.vt == VT_EMPTY) return "<empty>";
  return v.vt == VT_BSTR ? ToUtf8(BstrText(v.bstrVal)) : "<other>";
}

int StringCells(HostRecords& r) {
  int n = (r.initials.FileName.vt == VT_BSTR) + (r.fitset.Method.vt == VT_BSTR);
  for (const auto* table : {&r.especes, &r.parametres, &r.derivees})
    for (const VARIANT& v : *table) n += v.vt == VT_BSTR;
  for (int a = 1; a <= kMaxAdjustables; ++a)
    n += (AdjName(&r.adjustables, a)->vt == VT_BSTR) +
         (AdjEqualTo(&r.adjustables, a)->vt == VT_BSTR);
  for (const VARIANT& v : r.sorties.Formula) n += v.vt == VT_BSTR;
  return n;
}

HostModel Sample() {
  HostModel m;
  m.file_name = "données.dat";
  m.method = "RUNGE-KUTTA QC";
  m.species = 31;  // passed as it is, beyond the table
  m.intervals = 2;
  m.parameters = 1;
  m.points = 7;
  m.especes = {{1, 0, "A"}, {2, 2, "F1*2"}, {0, 1, "row 0"}, {31, 1, "row 31"}, {1, 3, "col 3"}};
  m.parametres = {{50, 1, "A1"}, {51, 0, "row 51"}};
  m.derivees = {{1, 1, "-P1"}, {2, 31, "b2"}, {1, 0, "col 0"}, {1, 32, "col 32"}, {1, 1, "P2"}};
  m.adjustables.resize(51, {"k", 1.5, 0.25, false, {}});
  m.adjustables[0] = {"a", 2.0, -1, true, "A2*2"};
  m.adjustables[1].equal_to = "";
  m.outputs = {"F1", std::nullopt};
  return m;
}

TEST(HostRecords, PlacesEachCellAndLeavesOutThoseBeyondTheTables) {
  for (const bool blank : {false, true}) {
    SCOPED_TRACE(blank);
    HostModel m = Sample();
    m.blank_cells = blank;
    HostRecords r;
    BuildHostRecords(m, LinkedOle(), r);
    const std::string unused = blank ? "" : "<empty>";
    EXPECT_EQ(Cell(r.initials.FileName), "données.dat");
    EXPECT_EQ(r.initials.NEspeces, 31);
    EXPECT_EQ(r.initials.NAjustables, 51);
    EXPECT_EQ(r.initials.NSorties, 2);
    EXPECT_EQ(Cell(r.fitset.Method), "RUNGE-KUTTA QC");
    ASSERT_EQ(r.especes.size(), 30u * 3);
    int written = 0;
    for (const VARIANT& v : r.especes) written += Cell(v) != unused;
    EXPECT_EQ(written, 2);  // the three cells outside the table are left out
    EXPECT_EQ(Cell(EspecesCell(r, 1, 0)), "A");
    EXPECT_EQ(Cell(r.especes[2 * 30 + 1]), "F1*2");
    EXPECT_EQ(Cell(ParametresCell(r, 50, 1)), "A1");
    EXPECT_EQ(Cell(r.parametres[50 + 49]), "A1");
    written = 0;
    for (const VARIANT& v : r.derivees) written += Cell(v) != "<empty>";  // never blank
    EXPECT_EQ(written, 2);
    EXPECT_EQ(Cell(DeriveesCell(r, 1, 1)), "P2");  // the later of two writes
    EXPECT_EQ(Cell(r.derivees[30 * 30 + 1]), "b2");
    EXPECT_EQ(Cell(*AdjName(&r.adjustables, 1)), "a");
    EXPECT_EQ(Cell(*AdjEqualTo(&r.adjustables, 1)), "A2*2");
    EXPECT_EQ(r.adjustables.EqualTo[1].vt, VT_BSTR);  // an empty text is written
    EXPECT_EQ(Cell(*AdjEqualTo(&r.adjustables, 3)), unused);
    EXPECT_EQ(r.adjustables.Value[0], 2.0);
    EXPECT_EQ(r.adjustables.SD[0], -1.0);
    EXPECT_EQ(r.adjustables.Adjustable[0], kTrue);
    EXPECT_EQ(r.adjustables.Adjustable[49], kFalse);
    EXPECT_EQ(Cell(*AdjName(&r.adjustables, 50)), "k");
    EXPECT_EQ(Cell(r.sorties.Formula[0]), "F1");
    EXPECT_EQ(Cell(r.sorties.Formula[1]), unused);
  }
}

TEST(HostRecords, FreesEveryStringItMadeExactlyOnce) {
  g_made = g_freed = 0;
  {
    HostRecords r;
    HostModel m = Sample();
    m.blank_cells = true;
    BuildHostRecords(m, CountingOle(), r);
    // A rebuild replaces everything: the old strings go, the tables take the new size.
    m.intervals = 0;
    BuildHostRecords(m, CountingOle(), r);
    EXPECT_EQ(r.especes.size(), 30u);
    EXPECT_EQ(g_made - g_freed, StringCells(r));
    FreeHostRecords(r);
    EXPECT_EQ(g_freed, g_made);
    EXPECT_TRUE(r.especes.empty());
    // The records can be built again after a free; the destructor frees what is left.
    BuildHostRecords(m, CountingOle(), r);
    EXPECT_GT(g_made, g_freed);
  }
  EXPECT_EQ(g_freed, g_made);
}

}  // namespace
}  // namespace tarvo
