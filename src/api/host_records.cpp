#include "api/host_records.h"

#include <atomic>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

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

// ---------------------------------------------------------------------------------------
// The exchange file.

namespace {

namespace fs = std::filesystem;

fs::path PathOf(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8Of(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// Test and benchmark processes run side by side: a random tag per process keeps their files
// apart.
std::string FreshPath() {
  static const std::string tag = std::to_string(std::random_device{}());
  static std::atomic<int> counter{0};
  std::error_code ec;
  fs::path dir = fs::temp_directory_path(ec);
  if (ec) dir = ".";
  return Utf8Of(dir / ("tarvo-host-" + tag + "-" + std::to_string(counter.fetch_add(1)) + ".dat"));
}

}  // namespace

FileRecord ExchangeRecord(const HostPoint& p) {
  FileRecord r;
  std::memset(&r, 0, sizeof r);
  r.Interval = static_cast<SmallInt>(p.interval);
  r.Time = p.time;
  for (size_t o = 0; o < p.replicates.size() && o < static_cast<size_t>(kMaxOutputs); ++o) {
    const std::vector<double>& reps = p.replicates[o];
    r.NRep[o] = static_cast<SmallInt>(reps.size());
    for (size_t k = 0; k < reps.size() && k < static_cast<size_t>(kMaxReplicates); ++k)
      r.YExp[o][k] = reps[k];
  }
  for (size_t o = 0; o < p.nrep.size() && o < static_cast<size_t>(kMaxOutputs); ++o)
    r.NRep[o] = p.nrep[o];
  return r;
}

std::vector<FileRecord> ExchangeRecords(const std::vector<HostPoint>& points) {
  std::vector<FileRecord> records;
  records.reserve(points.size());
  for (const HostPoint& p : points) records.push_back(ExchangeRecord(p));
  return records;
}

bool WriteExchangeFile(const std::string& path, const std::vector<HostPoint>& points,
                       std::string* error) {
  const std::vector<FileRecord> records = ExchangeRecords(points);
  std::ofstream out(PathOf(path), std::ios::binary | std::ios::trunc);
  if (!out) {
    if (error) *error = "cannot create the exchange file '" + path + "'";
    return false;
  }
  out.write(reinterpret_cast<const char*>(records.data()),
            static_cast<std::streamsize>(records.size() * sizeof(FileRecord)));
  out.close();
  if (!out) {
    if (error) *error = "cannot write the exchange file '" + path + "'";
    return false;
  }
  return true;
}

bool ReadExchangeFile(const std::string& path, std::vector<FileRecord>& records) {
  records.clear();
  std::ifstream in(PathOf(path), std::ios::binary | std::ios::ate);
  if (!in) return false;
  const std::streamoff size = in.tellg();
  if (size < 0) return false;
  records.resize(static_cast<size_t>(size) / sizeof(FileRecord));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(records.data()),
          static_cast<std::streamsize>(records.size() * sizeof(FileRecord)));
  if (!in) records.clear();
  return static_cast<bool>(in);
}

// ---------------------------------------------------------------------------------------
// Sheets and their host.

namespace {

const std::string& At(const std::vector<std::string>& v, size_t i) {
  static const std::string empty;
  return i < v.size() ? v[i] : empty;
}

void Rows(const std::vector<std::string>& names,
          const std::vector<std::vector<std::string>>& by_row, int intervals,
          std::vector<HostCell>& cells) {
  for (size_t r = 0; r < names.size(); ++r) {
    const int row = static_cast<int>(r) + 1;
    cells.push_back({row, 0, names[r]});
    if (r >= by_row.size()) continue;
    for (int k = 1; k <= intervals; ++k) cells.push_back({row, k, At(by_row[r], k - 1)});
  }
}

}  // namespace

HostModel DescribeSheet(const HostSheet& m, const std::string& file_name) {
  HostModel d;
  static_cast<HostSettings&>(d) = m;
  d.file_name = file_name;
  d.species = static_cast<int>(m.species.size());
  d.intervals = m.intervals;
  d.parameters = static_cast<int>(m.parameters.size());
  d.points = static_cast<int>(m.points.size());
  Rows(m.species, m.species_start, m.intervals, d.especes);
  Rows(m.parameters, m.parameter_eqs, m.intervals, d.parametres);
  for (const HostSheet::Rate& r : m.rates) d.derivees.push_back({r.i, r.j, r.text});
  for (const HostSheet::Adjustable& a : m.adjustables)
    d.adjustables.push_back({a.name, a.value, 0.0, a.adjustable, a.equal_to});
  d.outputs.assign(m.outputs.begin(), m.outputs.end());
  return d;
}

SheetHost::SheetHost(const HostSheet& sheet, const HostCalls& c, const HostOle& ole,
                     std::string file)
    : model(sheet), path(std::move(file)), calls(c), owns_path_(path.empty()) {
  if (owns_path_) path = FreshPath();
  BuildHostRecords(DescribeSheet(model, path), ole, records);
  WriteFile();
}

SheetHost::~SheetHost() {
  std::error_code ignored;
  if (owns_path_) fs::remove(PathOf(path), ignored);
}

void SheetHost::CalculInitial() {
  calls.calcul_initial(&initials, &fitset, especes.data(), &adjustables, parametres.data(),
                       &sorties, derivees.data());
}

void SheetHost::Simulate() { calls.simulation(&initials, &fitset, nullptr, &adjustables); }

void SheetHost::Fit() { calls.ajustement(&initials, &fitset, nullptr, &adjustables); }

void SheetHost::Fin(int16_t mode) { calls.fin(&mode); }

int32_t SheetHost::Failure(std::string* message) const {
  char buffer[1024] = {0};
  const int32_t kind = calls.last_failure(buffer, sizeof buffer);
  if (message) *message = buffer;
  return kind;
}

std::vector<FileRecord> SheetHost::ReadFile() const {
  std::vector<FileRecord> records;
  ReadExchangeFile(path, records);
  return records;
}

bool SheetHost::FileExists() const {
  std::error_code ec;
  return fs::exists(PathOf(path), ec);
}

bool SheetHost::WriteFile() const { return WriteExchangeFile(path, model.points); }

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
