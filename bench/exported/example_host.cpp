#include "exported/example_host.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

bool ReadCommandLine(int argc, char** argv, CommandLine& line, const OwnOptions& own) {
  line.examples_dir = TARVO_SOURCE_DIR "/examples";
  const bool takes_reps = line.reps > 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (takes_reps && arg == "--reps" && i + 1 < argc) {
      line.reps = std::atoi(argv[++i]);
      if (line.reps < 1) return false;
    } else if (arg == "--examples" && i + 1 < argc) {
      line.examples_dir = argv[++i];
    } else if (!arg.empty() && arg[0] != '-') {
      if (line.files.size() == line.most_files) return false;
      line.files.push_back(arg);
    } else {
      const int taken = own ? own(argc, argv, i) : 0;
      if (taken != 1) return false;
    }
  }
  return true;
}

bool OpenLibraries(const char* program, const std::vector<std::string>& files, Library (&libs)[2]) {
  for (size_t k = 0; k < files.size() && k < 2; ++k) {
    std::string error;
    if (!libs[k].Open(files[k], error)) {
      std::fprintf(stderr, "%s: %s: %s\n", program, files[k].c_str(), error.c_str());
      return false;
    }
  }
  return true;
}

bool StartExamples(const char* program, const std::string& examples_dir, Example (&examples)[2],
                   std::string& folder) {
  std::string error;
  if (!ConsecutiveExample(examples_dir, examples[0], error) ||
      !EnzymeExample(examples_dir, examples[1], error)) {
    std::fprintf(stderr, "%s: %s\n", program, error.c_str());
    return false;
  }
  folder = MakeScratchFolder();
  if (folder.empty()) {
    std::fprintf(stderr, "%s: cannot create a temporary folder\n", program);
    return false;
  }
  return true;
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

double Seconds(clockid_t clock) {
  timespec ts;
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

double Min(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

bool FitOutcome::SameAs(const FitOutcome& o) const {
  return erreur == o.erreur && (done != 0) == (o.done != 0) && calls == o.calls &&
         std::memcmp(figures, o.figures, sizeof figures) == 0 && values.size() == o.values.size() &&
         std::memcmp(values.data(), o.values.data(), values.size() * sizeof(double)) == 0 &&
         std::memcmp(sds.data(), o.sds.data(), sds.size() * sizeof(double)) == 0;
}

bool RunFitToDone(const Library& lib, const Example& ex, const std::string& exchange,
                  FitOutcome& out, FitTiming& t, std::string& error) {
  HostBlocks h(lib, ex, exchange);
  if (!h.FileExists()) {
    error = "cannot write " + exchange;
    return false;
  }
  const BFitSet& fit = h.records.fitset;
  const BAjustables& adj = h.records.adjustables;
  const double s0 = Seconds(CLOCK_THREAD_CPUTIME_ID);
  h.CalculInitial();
  const double s1 = Seconds(CLOCK_THREAD_CPUTIME_ID);
  if (fit.Erreur != 0) {
    error = "Calcul_initial: Erreur " + std::to_string(fit.Erreur) + " " + lib.LastFailure();
    h.Fin();
    return false;
  }
  const double w0 = Seconds(CLOCK_MONOTONIC);
  const double c0 = Seconds(CLOCK_THREAD_CPUTIME_ID);
  h.Simulate();
  int calls = 0;
  if (fit.Erreur == 0) {
    while (calls < ex.max_calls) {
      h.Fit();
      ++calls;
      if (fit.Erreur != 0 || fit.Done != 0) break;
    }
  }
  const double c1 = Seconds(CLOCK_THREAD_CPUTIME_ID);
  const double w1 = Seconds(CLOCK_MONOTONIC);
  t = FitTiming{s1 - s0, c1 - c0, w1 - w0};
  out.erreur = fit.Erreur;
  out.done = fit.Done;
  out.calls = calls;
  out.figures[0] = fit.ErreurCalc;
  out.figures[1] = fit.ErreurExp;
  out.figures[2] = fit.Coeff;
  out.values.assign(adj.Value, adj.Value + ex.sheet.adjustables.size());
  out.sds.assign(adj.SD, adj.SD + ex.sheet.adjustables.size());
  const std::string failure = lib.LastFailure();
  h.Fin();
  if (out.erreur != 0 || out.done == 0) {
    error = "the fit ended with Erreur " + std::to_string(out.erreur) +
            (out.done ? "" : ", not Done") + " after " + std::to_string(calls) + " calls" +
            (failure.empty() ? "" : ": " + failure);
    return false;
  }
  return true;
}

}  // namespace tarvo::bench
