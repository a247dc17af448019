// A host for the programs of bench/exported/: it opens a libTarvo_64.so with dlopen (each
// library its own handle, RTLD_LOCAL, so two builds live side by side in one process), finds
// the exported calls in it, and drives them with the host blocks of two worked examples.
//
// Only the exported interface is used: the five calls, the library's own OLE functions
// (SysAllocStringLen, VariantInit, VariantClear: every string a library receives comes from
// that library's allocator and goes back to it), and the record layouts of api/exports.h.
// The blocks are made by the host-record builder (api/host_records.cpp, compiled into these
// programs with platform/utf8.cpp), which calls nothing of the library but those functions.
//
// The examples are examples/consecutive and examples/enzyme. Their descriptions are written
// here by hand, cell for cell as `tarvo fit` fills them from the model files (names
// translated into the library's notation: species n is Fn, adjustable n is An, spaces left
// out; MaxIter 1; no start point, since the data begin at t0 = 0); the measured points are
// read from the examples' data.csv. The fits these blocks give match `tarvo fit` on the same
// examples bit for bit (values and SDs as fit.json prints them).
#pragma once

#include <string>
#include <vector>

#include "api/exports.h"
#include "api/host_records.h"

namespace tarvo::bench {

// The exported calls of one opened library.
struct Library {
  std::string path;
  void* handle = nullptr;
  decltype(&::Calcul_initial) calcul_initial = nullptr;
  decltype(&::Simulation) simulation = nullptr;
  decltype(&::Ajustement) ajustement = nullptr;
  decltype(&::Fin) fin = nullptr;
  decltype(&::Tarvo_last_failure) last_failure = nullptr;
  HostOle ole;  // the library's SysAllocStringLen, VariantInit and VariantClear

  Library() = default;
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  ~Library();

  // false, with the reason in error, when the file cannot be opened or lacks a call.
  bool Open(const std::string& file, std::string& error);
  // The text Tarvo_last_failure gives ("" when nothing was recorded).
  std::string LastFailure() const;
};

struct ExampleAdjustable {
  std::string name;
  double value = 0;
  bool free = false;
};

// One cell of Derivees: the coefficient of species j in the rate of species i (1-based).
struct ExampleRate {
  int i = 1, j = 1;
  std::string text;
};

struct ExamplePoint {
  int interval = 1;
  double time = 0;
  std::vector<std::vector<double>> replicates;  // [output][replicate]
};

struct Example {
  std::string name;
  std::string method;
  double tolerance = 0, type_erreur = 0, marquard = 0, precision = 0;
  int max_calls = 0;  // Ajustement calls at most, as the model file's max_calls
  int intervals = 1;
  std::vector<std::string> species;
  std::vector<std::vector<std::string>> starts;  // [species][interval - 1]
  std::vector<ExampleAdjustable> adjustables;
  std::vector<std::string> outputs;          // names, as the data columns are headed
  std::vector<std::string> output_formulas;  // in the library's notation
  std::vector<ExampleRate> rates;
  std::vector<ExamplePoint> points;
};

// The examples with their data read from examples_dir/NAME/data.csv; false and a reason when
// the file cannot be read.
bool ConsecutiveExample(const std::string& examples_dir, Example& out, std::string& error);
bool EnzymeExample(const std::string& examples_dir, Example& out, std::string& error);

// The blocks of one example for one library, at the example's start values. Text cells come
// from the library's SysAllocStringLen and go back through its VariantClear.
class HostBlocks {
 public:
  HostBlocks(const Library& library, const Example& example, const std::string& exchange_path);

  void CalculInitial();
  void Simulate();
  void Fit();
  void Fin();

  HostRecords records;

 private:
  const Library& lib_;
};

// Writes the example's points as the exchange file the library reads (Fin erases it, so a
// fit that starts again writes it again). false when the file cannot be written.
bool WriteExchangeFile(const Example& example, const std::string& path);

// A fresh folder in the temporary directory for exchange files ("" when none can be made),
// and its removal with everything in it.
std::string MakeScratchFolder();
void RemoveScratchFolder(const std::string& folder);

}  // namespace tarvo::bench
