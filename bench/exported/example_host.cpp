#include "exported/example_host.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tarvo::bench {

namespace {

template <class Fn>
bool Find(void* handle, const char* name, Fn& fn, std::string& error) {
  fn = reinterpret_cast<Fn>(dlsym(handle, name));
  if (!fn) error = std::string("no exported ") + name;
  return fn != nullptr;
}

std::vector<std::string> SplitCommas(const std::string& line) {
  std::vector<std::string> cells;
  std::stringstream in(line);
  std::string cell;
  while (std::getline(in, cell, ',')) cells.push_back(cell);
  if (!line.empty() && line.back() == ',') cells.emplace_back();
  return cells;
}

// examples_dir/NAME/data.csv: '#' comment lines, a header "interval,time,OUT.1,OUT.2,...",
// then one row per point. Every replicate column must hold a number.
bool ReadData(const std::string& examples_dir, Example& ex, std::string& error) {
  const std::string path = examples_dir + "/" + ex.name + "/data.csv";
  std::ifstream in(path);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  std::string line;
  std::vector<int> column_output;  // per column from the third: the output it belongs to
  bool header = true;
  ex.points.clear();
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> cells = SplitCommas(line);
    if (header) {
      header = false;
      for (size_t c = 2; c < cells.size(); ++c) {
        const std::string name = cells[c].substr(0, cells[c].find('.'));
        int o = -1;
        for (size_t k = 0; k < ex.outputs.size(); ++k)
          if (ex.outputs[k] == name) o = static_cast<int>(k);
        if (o < 0) {
          error = path + ": column '" + cells[c] + "' names no output";
          return false;
        }
        column_output.push_back(o);
      }
      continue;
    }
    if (cells.size() != column_output.size() + 2) {
      error = path + ": a row has " + std::to_string(cells.size()) + " cells";
      return false;
    }
    ExamplePoint p;
    p.interval = std::atoi(cells[0].c_str());
    p.time = std::strtod(cells[1].c_str(), nullptr);
    p.replicates.assign(ex.outputs.size(), {});
    for (size_t c = 2; c < cells.size(); ++c) {
      char* end = nullptr;
      const double y = std::strtod(cells[c].c_str(), &end);
      if (cells[c].empty() || *end != 0) {
        error = path + ": '" + cells[c] + "' is not a number";
        return false;
      }
      p.replicates[static_cast<size_t>(column_output[c - 2])].push_back(y);
    }
    ex.points.push_back(p);
  }
  if (ex.points.empty()) error = path + ": no points";
  return !ex.points.empty();
}

}  // namespace

Library::~Library() {
  if (handle) dlclose(handle);
}

bool Library::Open(const std::string& file, std::string& error) {
  path = file;
  handle = dlopen(file.c_str(), RTLD_LOCAL | RTLD_NOW);
  if (!handle) {
    const char* why = dlerror();
    error = why ? why : "dlopen failed";
    return false;
  }
  return Find(handle, "Calcul_initial", calcul_initial, error) &&
         Find(handle, "Simulation", simulation, error) &&
         Find(handle, "Ajustement", ajustement, error) && Find(handle, "Fin", fin, error) &&
         Find(handle, "Tarvo_last_failure", last_failure, error) &&
         Find(handle, "SysAllocStringLen", sys_alloc_string_len, error) &&
         Find(handle, "VariantClear", variant_clear, error);
}

std::string Library::LastFailure() const {
  char text[1024] = {0};
  last_failure(text, sizeof text);
  return text;
}

// examples/consecutive/model.toml: A -> B -> C followed by absorbance.
bool ConsecutiveExample(const std::string& examples_dir, Example& ex, std::string& error) {
  ex = Example{};
  ex.name = "consecutive";
  ex.method = "RUNGE-KUTTA QC";
  ex.tolerance = 1e-7;
  ex.type_erreur = 0;
  ex.marquard = 0.01;
  ex.precision = 1e-10;
  ex.max_calls = 60;
  ex.intervals = 1;
  ex.species = {"A", "B", "C"};
  ex.starts = {{"A6"}, {"0"}, {"0"}};  // A = Atot
  ex.adjustables = {{"k1", 0.2, true},  {"k2", 0.05, true}, {"epsB", 1000, true},
                    {"epsA", 500, false}, {"epsC", 200, false}, {"Atot", 1e-3, false}};
  ex.outputs = {"Abs"};
  ex.output_formulas = {"A4*F1+A3*F2+A5*F3"};  // epsA*A + epsB*B + epsC*C
  ex.rates = {{1, 1, "-A1"}, {2, 1, "A1"}, {2, 2, "-A2"}, {3, 2, "A2"}};
  return ReadData(examples_dir, ex, error);
}

// examples/enzyme/model.toml: Michaelis-Menten S -> P, substrate added at the start of
// interval 2 (S + Sadd); P continues.
bool EnzymeExample(const std::string& examples_dir, Example& ex, std::string& error) {
  ex = Example{};
  ex.name = "enzyme";
  ex.method = "RUNGE-KUTTA QC";
  ex.tolerance = 1e-7;
  ex.type_erreur = 0;
  ex.marquard = 0.01;
  ex.precision = 1e-10;
  ex.max_calls = 60;
  ex.intervals = 2;
  ex.species = {"S", "P"};
  ex.starts = {{"A3", "F1+A4"}, {"0", "F2"}};  // S0, S + Sadd; P from 0, then continued
  ex.adjustables = {{"Vmax", 0.02, true}, {"Km", 0.01, true}, {"S0", 0.04, true},
                    {"Sadd", 0.1, false}, {"eps", 6.22, false}, {"q", 10, false}};
  ex.outputs = {"Abs340", "Fluo"};
  ex.output_formulas = {"A5*F2", "A6*F1"};  // eps*P, q*S
  ex.rates = {{1, 1, "-A1/(A2+F1)"}, {2, 1, "A1/(A2+F1)"}};
  return ReadData(examples_dir, ex, error);
}

HostBlocks::HostBlocks(const Library& library, const Example& ex, const std::string& path)
    : lib_(library) {
  VARIANT empty{};
  empty.vt = VT_EMPTY;
  especes.assign(static_cast<size_t>(kEspecesRows) * (ex.intervals + 1), empty);
  parametres.assign(static_cast<size_t>(kParametresRows) * (ex.intervals + 1), empty);
  derivees.assign(static_cast<size_t>(kDeriveesRows) * kDeriveesColumns, empty);
  adjustables = std::make_unique<BAjustables>();
  std::memset(static_cast<void*>(adjustables.get()), 0, sizeof(BAjustables));
  sorties = std::make_unique<BSorties>();
  std::memset(static_cast<void*>(sorties.get()), 0, sizeof(BSorties));

  SetText(initials.FileName, path);
  initials.NEspeces = static_cast<SmallInt>(ex.species.size());
  initials.NInterrupts = static_cast<SmallInt>(ex.intervals);
  initials.NParametres = 0;
  initials.NAjustables = static_cast<SmallInt>(ex.adjustables.size());
  initials.NPoints = static_cast<SmallInt>(ex.points.size());
  initials.NSorties = static_cast<SmallInt>(ex.outputs.size());

  fitset.MaxIter = 1;
  fitset.TypeErreur = ex.type_erreur;
  fitset.Tolerance = ex.tolerance;
  fitset.Marquard = ex.marquard;
  fitset.Precision = ex.precision;
  SetText(fitset.Method, ex.method);

  for (size_t s = 0; s < ex.species.size(); ++s) {
    SetText(especes[s], ex.species[s]);
    for (size_t k = 0; k < ex.starts[s].size(); ++k)
      SetText(especes[(k + 1) * kEspecesRows + s], ex.starts[s][k]);
  }
  for (const ExampleRate& r : ex.rates)
    SetText(derivees[static_cast<size_t>(r.j - 1) * kDeriveesRows + (r.i - 1)], r.text);
  for (size_t o = 0; o < ex.output_formulas.size(); ++o)
    SetText(sorties->Formula[o], ex.output_formulas[o]);
  for (size_t a = 0; a < ex.adjustables.size(); ++a) {
    SetText(*AdjName(adjustables.get(), static_cast<int>(a) + 1), ex.adjustables[a].name);
    adjustables->Value[a] = ex.adjustables[a].value;
    adjustables->Adjustable[a] = ex.adjustables[a].free ? kTrue : kFalse;
  }
}

HostBlocks::~HostBlocks() {
  lib_.variant_clear(&initials.FileName);
  lib_.variant_clear(&fitset.Method);
  for (auto* cells : {&especes, &parametres, &derivees})
    for (VARIANT& v : *cells) lib_.variant_clear(&v);
  for (int a = 1; a <= kMaxAdjustables; ++a) {
    lib_.variant_clear(AdjName(adjustables.get(), a));
    lib_.variant_clear(AdjEqualTo(adjustables.get(), a));
  }
  for (VARIANT& v : sorties->Formula) lib_.variant_clear(&v);
}

void HostBlocks::SetText(VARIANT& cell, const std::string& ascii) {
  const std::u16string text(ascii.begin(), ascii.end());
  lib_.variant_clear(&cell);
  cell.vt = VT_BSTR;
  cell.bstrVal = lib_.sys_alloc_string_len(text.data(), static_cast<uint32_t>(text.size()));
}

void HostBlocks::CalculInitial() {
  lib_.calcul_initial(&initials, &fitset, especes.data(), adjustables.get(), parametres.data(),
                      sorties.get(), derivees.data());
}

void HostBlocks::Simulate() { lib_.simulation(&initials, &fitset, nullptr, adjustables.get()); }

void HostBlocks::Fit() { lib_.ajustement(&initials, &fitset, nullptr, adjustables.get()); }

void HostBlocks::Fin() {
  const int16_t mode = 0;
  lib_.fin(&mode);
}

bool WriteExchangeFile(const Example& ex, const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const ExamplePoint& p : ex.points) {
    FileRecord r;
    std::memset(&r, 0, sizeof r);
    r.Interval = static_cast<SmallInt>(p.interval);
    r.Time = p.time;
    for (size_t o = 0; o < p.replicates.size(); ++o) {
      r.NRep[o] = static_cast<SmallInt>(p.replicates[o].size());
      for (size_t k = 0; k < p.replicates[o].size(); ++k) r.YExp[o][k] = p.replicates[o][k];
    }
    out.write(reinterpret_cast<const char*>(&r), sizeof r);
  }
  out.close();
  return static_cast<bool>(out);
}

std::string MakeScratchFolder() {
  std::error_code ec;
  std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  if (ec) base = "/tmp";
  std::string pattern = (base / "tarvo-bench-XXXXXX").string();
  return mkdtemp(pattern.data()) ? pattern : std::string();
}

void RemoveScratchFolder(const std::string& folder) {
  std::error_code ec;
  if (!folder.empty()) std::filesystem::remove_all(folder, ec);
}

}  // namespace tarvo::bench
