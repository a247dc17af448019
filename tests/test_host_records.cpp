// The host-record builder the tool and the test hosts share: where each described cell lands,
// what unused cells hold, counts passed as they are, and every string it makes freed once;
// the exchange file's writer and reader; a sheet's rows.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

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

// What the writer clips and what it passes as given, read back through the reader, in a folder
// whose name is not ASCII (paths are UTF-8).
TEST(HostRecords, WritesTheExchangeFileItReadsBack) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / std::filesystem::path(u8"tarvo données κ");
  std::filesystem::create_directories(dir);
  const std::u8string file = (dir / std::filesystem::path(u8"échange ß.dat")).u8string();
  const std::string path(file.begin(), file.end());

  std::vector<HostPoint> points(3);
  points[0] = {1, 0.0, {{1.5, -2.0}, {}, {7.0}}, {}};
  points[1].interval = 2;
  points[1].time = 0.25;
  points[1].replicates.assign(41, std::vector<double>(12, 3.0));  // 41 outputs, 12 replicates
  points[2] = {-3, 1e300, {{4.0}}, {11, 0, -1}};                   // NRep as given
  ASSERT_TRUE(WriteExchangeFile(path, points));
  EXPECT_EQ(std::filesystem::file_size(dir / std::filesystem::path(u8"échange ß.dat")),
            3 * sizeof(FileRecord));

  std::vector<FileRecord> r;
  ASSERT_TRUE(ReadExchangeFile(path, r));
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].Interval, 1);
  EXPECT_EQ(r[0].NRep[0], 2);
  EXPECT_EQ(r[0].NRep[1], 0);
  EXPECT_EQ(r[0].NRep[2], 1);
  EXPECT_EQ(r[0].YExp[0][1], -2.0);  // the library, not the writer, clamps the replicates
  EXPECT_EQ(r[0].YExp[2][0], 7.0);
  EXPECT_EQ(r[1].Interval, 2);
  EXPECT_EQ(r[1].Time, 0.25);
  EXPECT_EQ(r[1].NRep[39], 12);      // the count as given; the replicates stop at 10
  EXPECT_EQ(r[1].YExp[39][9], 3.0);
  EXPECT_EQ(r[1].YCalc[0], 0.0);     // outside the data every byte is zero
  EXPECT_EQ(r[2].Interval, -3);
  EXPECT_EQ(r[2].Time, 1e300);
  EXPECT_EQ(r[2].NRep[0], 11);
  EXPECT_EQ(r[2].NRep[2], -1);

  // A file cut inside a record: the whole records only.
  std::filesystem::resize_file(dir / std::filesystem::path(u8"échange ß.dat"),
                               2 * sizeof(FileRecord) + 100);
  ASSERT_TRUE(ReadExchangeFile(path, r));
  EXPECT_EQ(r.size(), 2u);
  std::filesystem::remove_all(dir);
  EXPECT_FALSE(ReadExchangeFile(path, r));
  EXPECT_TRUE(r.empty());
  std::string error;
  EXPECT_FALSE(WriteExchangeFile(path, points, &error));
  EXPECT_NE(error.find("cannot create the exchange file"), std::string::npos) << error;
}

TEST(HostRecords, DescribesASheetRowByRow) {
  HostSheet sheet;
  sheet.intervals = 2;
  sheet.species = {"A", "B"};
  sheet.species_start = {{"A1"}};  // B has no formulas; A's second interval is empty
  sheet.parameters = {"k"};
  sheet.parameter_eqs = {{"A2", "A3"}};
  sheet.adjustables = {{"a", 1.5, "", true}, {"b", 2.0, "A1*2", false}};
  sheet.rates = {{1, kFreeTermColumn, "-P1"}};
  sheet.points.resize(4);
  const HostModel d = DescribeSheet(sheet, "x.dat");
  EXPECT_EQ(d.points, 4);
  EXPECT_EQ(d.species, 2);
  ASSERT_EQ(d.especes.size(), 4u);  // A, A's two intervals, B
  EXPECT_EQ(d.especes[2].column, 2);
  EXPECT_EQ(d.especes[2].text, "");
  EXPECT_EQ(d.especes[3].row, 2);
  EXPECT_EQ(d.parametres[2].text, "A3");
  EXPECT_EQ(d.derivees[0].column, 31);
  ASSERT_EQ(d.adjustables.size(), 2u);
  EXPECT_EQ(d.adjustables[1].equal_to, std::optional<std::string>("A1*2"));
  EXPECT_FALSE(d.adjustables[1].adjustable);
}

}  // namespace
}  // namespace tarvo
