#include "exported/example_host.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <filesystem>

#include "language/data_csv.h"

namespace tarvo::bench {

namespace {

template <class Fn>
bool Find(void* handle, const char* name, Fn& fn, std::string& error) {
  fn = reinterpret_cast<Fn>(dlsym(handle, name));
  if (!fn) error = std::string("no exported ") + name;
  return fn != nullptr;
}

// examples_dir/NAME/data.csv, read as `tarvo fit` reads it.
bool ReadData(const std::string& examples_dir, Example& ex, std::string& error) {
  frontend::Dataset data;
  if (frontend::ReadData(examples_dir + "/" + ex.name + "/data.csv", ex.outputs, data, error) != 0)
    return false;
  ex.sheet.points.clear();
  for (const frontend::DataPoint& p : data.points)
    ex.sheet.points.push_back({p.interval, p.time, p.values, {}});
  return true;
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
  return Find(handle, "Calcul_initial", calls.calcul_initial, error) &&
         Find(handle, "Simulation", calls.simulation, error) &&
         Find(handle, "Ajustement", calls.ajustement, error) &&
         Find(handle, "Fin", calls.fin, error) &&
         Find(handle, "Tarvo_last_failure", calls.last_failure, error) &&
         Find(handle, "SysAllocStringLen", ole.alloc_len, error) &&
         Find(handle, "VariantInit", ole.init, error) &&
         Find(handle, "VariantClear", ole.clear, error);
}

std::string Library::LastFailure() const {
  char text[1024] = {0};
  calls.last_failure(text, sizeof text);
  return text;
}

// The model files' settings, the same in both examples.
const HostSettings kSettings{"RUNGE-KUTTA QC", 1, 0, 1e-7, 0.01, 1e-10};

// examples/consecutive/model.toml: A -> B -> C followed by absorbance.
bool ConsecutiveExample(const std::string& examples_dir, Example& ex, std::string& error) {
  ex = Example{};
  ex.name = "consecutive";
  ex.max_calls = 60;
  ex.outputs = {"Abs"};
  HostSheet& m = ex.sheet;
  static_cast<HostSettings&>(m) = kSettings;
  m.intervals = 1;
  m.species = {"A", "B", "C"};
  m.species_start = {{"A6"}, {"0"}, {"0"}};  // A = Atot
  m.adjustables = {{"k1", 0.2, "", true},    {"k2", 0.05, "", true},  {"epsB", 1000, "", true},
                   {"epsA", 500, "", false}, {"epsC", 200, "", false}, {"Atot", 1e-3, "", false}};
  m.outputs = {"A4*F1+A3*F2+A5*F3"};  // epsA*A + epsB*B + epsC*C
  m.rates = {{1, 1, "-A1"}, {2, 1, "A1"}, {2, 2, "-A2"}, {3, 2, "A2"}};
  return ReadData(examples_dir, ex, error);
}

// examples/enzyme/model.toml: Michaelis-Menten S -> P, substrate added at the start of
// interval 2 (S + Sadd); P continues.
bool EnzymeExample(const std::string& examples_dir, Example& ex, std::string& error) {
  ex = Example{};
  ex.name = "enzyme";
  ex.max_calls = 60;
  ex.outputs = {"Abs340", "Fluo"};
  HostSheet& m = ex.sheet;
  static_cast<HostSettings&>(m) = kSettings;
  m.intervals = 2;
  m.species = {"S", "P"};
  m.species_start = {{"A3", "F1+A4"}, {"0", "F2"}};  // S0, S + Sadd; P from 0, then continued
  m.adjustables = {{"Vmax", 0.02, "", true}, {"Km", 0.01, "", true},  {"S0", 0.04, "", true},
                   {"Sadd", 0.1, "", false}, {"eps", 6.22, "", false}, {"q", 10, "", false}};
  m.outputs = {"A5*F2", "A6*F1"};  // eps*P, q*S
  m.rates = {{1, 1, "-A1/(A2+F1)"}, {2, 1, "A1/(A2+F1)"}};
  return ReadData(examples_dir, ex, error);
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
