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

std::vector<VARIANT> EmptyCells(size_t n) {
  std::vector<VARIANT> cells(n);
  for (VARIANT& v : cells) VariantInit(&v);
  return cells;
}

void ClearAll(std::vector<VARIANT>& cells) {
  for (VARIANT& v : cells) VariantClear(&v);
}

const std::string& At(const std::vector<std::string>& v, size_t i) {
  static const std::string empty;
  return i < v.size() ? v[i] : empty;
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
  const int intervals = m.intervals;
  especes = EmptyCells(static_cast<size_t>(kEspecesRows) * (intervals + 1));
  parametres = EmptyCells(static_cast<size_t>(kParametresRows) * (intervals + 1));
  derivees = EmptyCells(static_cast<size_t>(kDeriveesRows) * kDeriveesColumns);

  VariantInit(&initials.FileName);
  SetText(initials.FileName, path);
  initials.NEspeces = static_cast<SmallInt>(m.species.size());
  initials.NInterrupts = static_cast<SmallInt>(intervals);
  initials.NParametres = static_cast<SmallInt>(m.parameters.size());
  initials.NAjustables = static_cast<SmallInt>(m.adjustables.size());
  initials.NPoints = static_cast<SmallInt>(m.points.size());
  initials.NSorties = static_cast<SmallInt>(m.outputs.size());

  VariantInit(&fitset.Method);
  SetText(fitset.Method, m.method);
  fitset.MaxIter = m.max_iter;
  fitset.TypeErreur = m.type_erreur;
  fitset.Tolerance = m.tolerance;
  fitset.Marquard = m.marquard;
  fitset.Precision = m.precision;

  for (size_t s = 0; s < m.species.size() && s < kMaxSpecies; ++s) {
    const int row = static_cast<int>(s) + 1;
    SetText(Especes(row, 0), m.species[s]);
    for (int k = 1; k <= intervals; ++k)
      if (s < m.species_start.size()) SetText(Especes(row, k), At(m.species_start[s], k - 1));
  }
  for (size_t p = 0; p < m.parameters.size() && p < kMaxParameters; ++p) {
    const int row = static_cast<int>(p) + 1;
    SetText(Parametres(row, 0), m.parameters[p]);
    for (int k = 1; k <= intervals; ++k)
      if (p < m.parameter_eqs.size()) SetText(Parametres(row, k), At(m.parameter_eqs[p], k - 1));
  }
  for (const Rate& r : m.rates) SetText(Derivees(r.i, r.j), r.text);
  for (int a = 1; a <= kMaxAdjustables; ++a) {
    VariantInit(AdjName(&adjustables, a));
    VariantInit(AdjEqualTo(&adjustables, a));
  }
  for (size_t a = 0; a < m.adjustables.size() && a < kMaxAdjustables; ++a) {
    const Adjustable& adj = m.adjustables[a];
    const int n = static_cast<int>(a) + 1;
    SetText(*AdjName(&adjustables, n), adj.name);
    SetText(EqualTo(n), adj.equal_to);
    adjustables.Value[a] = adj.value;
    adjustables.Adjustable[a] = adj.adjustable ? kTrue : kFalse;
  }
  for (VARIANT& v : sorties.Formula) VariantInit(&v);
  for (size_t o = 0; o < m.outputs.size() && o < kMaxOutputs; ++o)
    SetText(sorties.Formula[o], m.outputs[o]);
  WriteFile();
}

Host::~Host() {
  ClearAll(especes);
  ClearAll(parametres);
  ClearAll(derivees);
  VariantClear(&initials.FileName);
  VariantClear(&fitset.Method);
  for (int a = 1; a <= kMaxAdjustables; ++a) {
    VariantClear(AdjName(&adjustables, a));
    VariantClear(AdjEqualTo(&adjustables, a));
  }
  for (VARIANT& v : sorties.Formula) VariantClear(&v);
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
