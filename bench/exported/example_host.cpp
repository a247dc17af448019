#include "exported/example_host.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
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
         Find(handle, "SysAllocStringLen", ole.alloc_len, error) &&
         Find(handle, "VariantInit", ole.init, error) &&
         Find(handle, "VariantClear", ole.clear, error);
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
  HostModel m;
  m.file_name = path;
  m.method = ex.method;
  m.max_iter = 1;
  m.type_erreur = ex.type_erreur;
  m.tolerance = ex.tolerance;
  m.marquard = ex.marquard;
  m.precision = ex.precision;
  m.species = static_cast<int>(ex.species.size());
  m.intervals = ex.intervals;
  m.points = static_cast<int>(ex.points.size());
  for (size_t s = 0; s < ex.species.size(); ++s) {
    const int row = static_cast<int>(s) + 1;
    m.especes.push_back({row, 0, ex.species[s]});
    for (size_t k = 0; k < ex.starts[s].size(); ++k)
      m.especes.push_back({row, static_cast<int>(k) + 1, ex.starts[s][k]});
  }
  for (const ExampleRate& r : ex.rates) m.derivees.push_back({r.i, r.j, r.text});
  for (const ExampleAdjustable& a : ex.adjustables)
    m.adjustables.push_back({a.name, a.value, 0.0, a.free, std::nullopt});
  m.outputs.assign(ex.output_formulas.begin(), ex.output_formulas.end());
  BuildHostRecords(m, lib_.ole, records);
}

void HostBlocks::CalculInitial() {
  HostRecords& r = records;
  lib_.calcul_initial(&r.initials, &r.fitset, r.especes.data(), &r.adjustables,
                      r.parametres.data(), &r.sorties, r.derivees.data());
}

void HostBlocks::Simulate() {
  lib_.simulation(&records.initials, &records.fitset, nullptr, &records.adjustables);
}

void HostBlocks::Fit() {
  lib_.ajustement(&records.initials, &records.fitset, nullptr, &records.adjustables);
}

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
