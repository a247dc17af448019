#include "support/host.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>

#include "platform/variant.h"

namespace tarvo::testhost {

namespace {

// Test processes run side by side: a random tag per process keeps their files apart.
std::string FreshPath() {
  static const std::string tag = std::to_string(std::random_device{}());
  static std::atomic<int> counter{0};
  const auto dir = std::filesystem::temp_directory_path();
  return (dir / ("tarvo-host-" + tag + "-" + std::to_string(counter.fetch_add(1)) + ".dat"))
      .string();
}

const std::string& At(const std::vector<std::string>& v, size_t i) {
  static const std::string empty;
  return i < v.size() ? v[i] : empty;
}

// Names in column 0; a row with formulas gets one cell per interval, the missing ones empty.
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

HostModel Describe(const Model& m, const std::string& path) {
  HostModel d;
  d.file_name = path;
  d.method = m.method;
  d.max_iter = m.max_iter;
  d.type_erreur = m.type_erreur;
  d.tolerance = m.tolerance;
  d.marquard = m.marquard;
  d.precision = m.precision;
  d.species = static_cast<int>(m.species.size());
  d.intervals = m.intervals;
  d.parameters = static_cast<int>(m.parameters.size());
  d.points = static_cast<int>(m.points.size());
  Rows(m.species, m.species_start, m.intervals, d.especes);
  Rows(m.parameters, m.parameter_eqs, m.intervals, d.parametres);
  for (const Rate& r : m.rates) d.derivees.push_back({r.i, r.j, r.text});
  for (const Adjustable& a : m.adjustables)
    d.adjustables.push_back({a.name, a.value, 0.0, a.adjustable, a.equal_to});
  d.outputs.assign(m.outputs.begin(), m.outputs.end());
  return d;
}

}  // namespace

void Host::SetText(VARIANT& v, std::string_view utf8) {
  VariantClear(&v);
  const std::u16string text = FromUtf8(utf8);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(text.c_str());
}

std::string Host::Text(const VARIANT& v) { return ToUtf8(VariantToText(v)); }

Host::Host(const Model& m) : model(m), path(FreshPath()) {
  BuildHostRecords(Describe(m, path), LinkedOle(), records);
  WriteFile();
}

Host::~Host() {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
}

void Host::WriteFile() const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const Point& p : model.points) {
    FileRecord r{};
    r.Interval = p.interval;
    r.Time = p.time;
    for (size_t o = 0; o < p.replicates.size() && o < kMaxOutputs; ++o) {
      r.NRep[o] = static_cast<SmallInt>(p.replicates[o].size());
      for (size_t k = 0; k < p.replicates[o].size() && k < kMaxReplicates; ++k)
        r.YExp[o][k] = p.replicates[o][k];
    }
    for (size_t o = 0; o < p.nrep.size() && o < kMaxOutputs; ++o) r.NRep[o] = p.nrep[o];
    out.write(reinterpret_cast<const char*>(&r), sizeof r);
  }
}

std::vector<FileRecord> Host::ReadFile() const {
  std::vector<FileRecord> records;
  std::ifstream in(path, std::ios::binary);
  FileRecord r{};
  while (in.read(reinterpret_cast<char*>(&r), sizeof r)) records.push_back(r);
  return records;
}

bool Host::FileExists() const { return std::filesystem::exists(path); }

void Host::CalculInitial() {
  Calcul_initial(&initials, &fitset, especes.data(), &adjustables, parametres.data(), &sorties,
                 derivees.data());
}

void Host::Simulate() { Simulation(&initials, &fitset, nullptr, &adjustables); }

void Host::Fit() { Ajustement(&initials, &fitset, nullptr, &adjustables); }

void Host::Fin(int16_t mode) { ::Fin(&mode); }

int32_t Host::LastFailure(std::string* message) {
  char buffer[1024];
  const int32_t kind = Tarvo_last_failure(buffer, sizeof buffer);
  if (message) *message = buffer;
  return kind;
}

}  // namespace tarvo::testhost
