// A host for the programs of bench/exported/: it opens a libTarvo_64.so with dlopen (each
// library its own handle, RTLD_LOCAL, so two builds live side by side in one process), finds
// the exported calls in it, and drives them with the host blocks of two worked examples.
//
// Only the exported interface is used: the five calls, the library's own OLE functions
// (SysAllocStringLen, VariantInit, VariantClear: every string a library receives comes from
// that library's allocator and goes back to it), and the record layouts of api/exports.h.
// The records, the exchange file and the calls are the shared host's (SheetHost of
// api/host_records.cpp, compiled into these programs with platform/utf8.cpp), which calls
// nothing of the library but those functions.
//
// The examples are examples/consecutive and examples/enzyme. Their sheets are written here by
// hand, cell for cell as `tarvo fit` fills them from the model files (names translated into
// the library's notation: species n is Fn, adjustable n is An, spaces left out; MaxIter 1; no
// start point, since the data begin at t0 = 0): these programs must not link the front end,
// whose core would bring a second copy of the exported calls and OLE functions into a process
// that loads libraries to compare them. The measured points are read from the examples'
// data.csv by the front end's data reader (language/data_csv.cpp, standard library only,
// compiled in). The fits match `tarvo fit` on the same examples bit for bit (values and SDs
// as fit.json prints them).
#pragma once

#include <time.h>

#include <functional>
#include <string>
#include <vector>

#include "api/exports.h"
#include "api/host_records.h"

namespace tarvo::bench {

// The exported calls of one opened library.
struct Library {
  std::string path;
  void* handle = nullptr;
  HostCalls calls;  // the five exported calls
  HostOle ole;      // the library's SysAllocStringLen, VariantInit and VariantClear

  Library() = default;
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  ~Library();

  // false, with the reason in error, when the file cannot be opened or lacks a call.
  bool Open(const std::string& file, std::string& error);
  // The text Tarvo_last_failure gives ("" when nothing was recorded).
  std::string LastFailure() const;
};

struct Example {
  std::string name;
  int max_calls = 0;                 // Ajustement calls at most, as the model file's max_calls
  std::vector<std::string> outputs;  // names, as the data columns are headed
  HostSheet sheet;                   // formulas in the library's notation; MaxIter 1
};

// The examples with their data read from examples_dir/NAME/data.csv; false and a reason when
// the file cannot be read.
bool ConsecutiveExample(const std::string& examples_dir, Example& out, std::string& error);
bool EnzymeExample(const std::string& examples_dir, Example& out, std::string& error);

// The records of one example for one library, at the example's start values, with its points
// written into exchange_path. Text cells come from the library's SysAllocStringLen and go
// back through its VariantClear.
class HostBlocks : public SheetHost {
 public:
  HostBlocks(const Library& library, const Example& example, const std::string& exchange_path)
      : SheetHost(example.sheet, library.calls, library.ole, exchange_path) {}
};

// The command line the programs share: --reps N (N >= 1), --examples DIR (the folder of the
// examples; default the source tree's), then up to most_files library files, in any order
// with a program's own options.
struct CommandLine {
  int reps = 0;           // the default; 0: the program takes no --reps
  size_t most_files = 1;  // library files at most
  std::string examples_dir;
  std::vector<std::string> files;
};

// A program's own options: given argv and the index i of an option the shared ones do not
// know, 1 when it took the option (with i moved past any value it read), 0 when it is not the
// program's, -1 when its value is wrong.
using OwnOptions = std::function<int(int argc, char** argv, int& i)>;

// Reads argv into line; false on a usage error (an unknown option or a value out of range, a
// file too many).
bool ReadCommandLine(int argc, char** argv, CommandLine& line, const OwnOptions& own = {});

// Opens the libraries files name into libs[0], libs[1], ... (at most two); false, with the
// reason on stderr after "program: ", when one cannot be opened.
bool OpenLibraries(const char* program, const std::vector<std::string>& files, Library (&libs)[2]);

// Reads the consecutive and the enzyme example into examples and makes a scratch folder for
// their exchange files (RemoveScratchFolder when done); false, with the reason on stderr
// after "program: ", when either fails.
bool StartExamples(const char* program, const std::string& examples_dir, Example (&examples)[2],
                   std::string& folder);

// A fresh folder in the temporary directory for exchange files ("" when none can be made),
// and its removal with everything in it.
std::string MakeScratchFolder();
void RemoveScratchFolder(const std::string& folder);

// Seconds on clock (CLOCK_MONOTONIC for the wall, CLOCK_THREAD_CPUTIME_ID for this thread's
// processor time); the median and the least of a series.
double Seconds(clockid_t clock);
double Median(std::vector<double> v);
double Min(const std::vector<double>& v);

// What a fit leaves in the blocks, compared byte for byte.
struct FitOutcome {
  SmallInt erreur = 0;
  WordBool done = 0;
  int calls = 0;
  double figures[3] = {0, 0, 0};  // ErreurCalc, ErreurExp, Coeff
  std::vector<double> values, sds;

  bool SameAs(const FitOutcome& o) const;
};

struct FitTiming {
  double setup_cpu = 0, fit_cpu = 0, fit_wall = 0;  // the fit: Simulation and the Ajustements
};

// One fit of ex on lib from the start values to Done (at most ex.max_calls calls). false, with
// a reason, when a step fails or the fit ends without Done.
bool RunFitToDone(const Library& lib, const Example& ex, const std::string& exchange,
                  FitOutcome& out, FitTiming& t, std::string& error);

}  // namespace tarvo::bench
