// The records and cell blocks a macro host passes to the four calls, built from a plain
// description the way a host fills them from its sheets: BInitials and BFitSet, the
// column-major Variant tables Especes (30 rows), Parametres (50 rows) and Derivees (30 x 31),
// BAjustables and BSorties. Text cells are VT_BSTR Variants made with the OLE Automation
// functions given (the ones this program links, or those of a library it loaded), so the
// library may free or replace them. HostRecords owns every Variant it holds and clears them
// with the same functions when it is rebuilt, freed or destroyed.
//
// Beside the builder: the exchange file's writer and reader (one 3616-byte record per point),
// a row-by-row description of a model as tests and benchmarks write one by hand (HostSheet),
// and SheetHost, which holds a sheet's records and exchange file and drives the calls of one
// library through a table of function pointers (HostCalls): the calls this program links
// (api/linked_host.h) or those of a library it loaded.
//
// Nothing here reads library state or calls into the library but through those tables: a
// host program that loads the library at run time compiles this file and platform/utf8.cpp
// into itself. Standard library only; paths are UTF-8 on every system.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "library/records.h"

namespace tarvo {

#if defined(_WIN32)
using HostChar = OLECHAR;
#else
using HostChar = char16_t;
#endif

struct HostOle {
  BSTR (*alloc_len)(const HostChar* text, uint32_t length) = nullptr;
  void (*init)(VARIANT* v) = nullptr;
  int32_t (*clear)(VARIANT* v) = nullptr;
};

// The functions this program links: the system's on Windows, the library's own elsewhere.
inline HostOle LinkedOle() {
  return {[](const HostChar* text, uint32_t length) { return SysAllocStringLen(text, length); },
          [](VARIANT* v) { VariantInit(v); },
          [](VARIANT* v) { return static_cast<int32_t>(VariantClear(v)); }};
}

// One text cell of a table, numbered as the host numbers it: row from 1; column 0 the names
// and k interval k (Especes, Parametres), or j = 1..30 the coefficient of species j and 31 the
// free term (Derivees). A cell outside its table is left out.
struct HostCell {
  int row = 1;
  int column = 0;
  std::string text;  // UTF-8, as every text here
};

struct HostAdjustable {
  std::string name;
  double value = 0;
  double sd = 0;
  bool adjustable = true;
  std::optional<std::string> equal_to;  // none: the cell is not written
};

// The settings of BFitSet a host chooses.
struct HostSettings {
  std::string method;
  SmallInt max_iter = 1;
  double type_erreur = 0;
  double tolerance = 1e-6;
  double marquard = 0.01;
  double precision = 1e-6;
};

struct HostModel : HostSettings {
  std::string file_name;   // the exchange file
  WordBool done = kFalse;  // as the host leaves it before the set-up
  // The counts of BInitials, passed as they are (beyond the tables too); the tables get
  // intervals + 1 columns. NAjustables and NSorties are the sizes of the lists below.
  int species = 0;
  int intervals = 1;
  int parameters = 0;
  int points = 0;
  std::vector<HostCell> especes;
  std::vector<HostCell> parametres;
  std::vector<HostCell> derivees;
  std::vector<HostAdjustable> adjustables;          // the first 50 fill the block
  std::vector<std::optional<std::string>> outputs;  // formulas; the first 40 fill the block
  // Cells not written above hold the empty string, as a sheet range read into Variants gives
  // them, instead of Empty; Derivees stays Empty either way.
  bool blank_cells = false;
};

struct HostRecords {
  BInitials initials{};
  BFitSet fitset{};
  std::vector<VARIANT> especes;     // 30 x (intervals + 1)
  std::vector<VARIANT> parametres;  // 50 x (intervals + 1)
  std::vector<VARIANT> derivees;    // 30 x 31
  BAjustables adjustables{};
  BSorties sorties{};
  HostOle ole;  // what the cells are made and cleared with

  HostRecords() = default;
  HostRecords(const HostRecords&) = delete;
  HostRecords& operator=(const HostRecords&) = delete;
  ~HostRecords();
};

// Replaces whatever records held by the model's.
void BuildHostRecords(const HostModel& model, const HostOle& ole, HostRecords& records);

// Clears every Variant and empties the tables; the records can be built again.
void FreeHostRecords(HostRecords& records);

// Replaces the cell's content by a fresh VT_BSTR holding text.
void SetHostText(const HostOle& ole, VARIANT& cell, std::string_view utf8);

// Cells by the host's numbers (see HostCell).
VARIANT& EspecesCell(HostRecords& r, int s, int k);
VARIANT& ParametresCell(HostRecords& r, int p, int k);
VARIANT& DeriveesCell(HostRecords& r, int i, int j);

// ---------------------------------------------------------------------------------------
// The exchange file.

// One experimental point as the exchange file holds it.
struct HostPoint {
  int interval = 1;
  double time = 0.0;
  std::vector<std::vector<double>> replicates;  // per output, its replicate values
  std::vector<int16_t> nrep;                    // when not empty: the NRep written instead
};

// The record of a point as the exchange file holds it (the first 40 outputs with up to 10
// replicates each, every other byte zero), and those of many.
FileRecord ExchangeRecord(const HostPoint& point);
std::vector<FileRecord> ExchangeRecords(const std::vector<HostPoint>& points);

// One record per point, all written at once (a fit with intervals writes the file dozens of
// times): the first 40 outputs with up to 10 replicates each, every other byte zero. false,
// with the reason in error when given, when the file cannot be created or written.
bool WriteExchangeFile(const std::string& path, const std::vector<HostPoint>& points,
                       std::string* error = nullptr);

// Every whole record of the file, read at once; false (records empty) when it cannot be
// opened.
bool ReadExchangeFile(const std::string& path, std::vector<FileRecord>& records);

// ---------------------------------------------------------------------------------------
// A model row by row, and a host that drives one library with it.

inline constexpr int kFreeTermColumn = kDeriveesColumns;  // Derivees column of the free term

struct HostSheet : HostSettings {
  HostSheet() {
    method = "RUNGE-KUTTA 4";
    max_iter = 10;
  }
  struct Adjustable {
    std::string name;
    double value = 0.0;
    std::string equal_to;  // empty: the cell holds the empty string
    bool adjustable = true;
  };
  // One rate cell: the coefficient of species j in the rate of species i (j = 1..30), or the
  // free term of species i (j = kFreeTermColumn).
  struct Rate {
    int i = 1, j = 1;
    std::string text;
  };
  int intervals = 1;
  std::vector<std::string> species;                     // names
  std::vector<std::vector<std::string>> species_start;  // [species][interval - 1]
  std::vector<std::string> parameters;                  // names
  std::vector<std::vector<std::string>> parameter_eqs;  // [parameter][interval - 1]
  std::vector<Adjustable> adjustables;
  std::vector<std::string> outputs;
  std::vector<Rate> rates;
  std::vector<HostPoint> points;
};

// The sheet as the builder's description: names in column 0, and a row with formulas gets one
// cell per interval (those the sheet leaves out hold the empty string).
HostModel DescribeSheet(const HostSheet& sheet, const std::string& file_name);

// The calls of one library: the ones this program links, or those found in a library it
// loaded (the same signatures as api/exports.h).
struct HostCalls {
  void (*calcul_initial)(BInitials*, BFitSet*, VARIANT*, BAjustables*, VARIANT*, BSorties*,
                         VARIANT*) = nullptr;
  void (*simulation)(BInitials*, BFitSet*, void*, BAjustables*) = nullptr;
  void (*ajustement)(BInitials*, BFitSet*, void*, BAjustables*) = nullptr;
  void (*fin)(const int16_t*) = nullptr;
  int32_t (*last_failure)(char*, int32_t) = nullptr;
};

// A sheet's records and exchange file, and the calls that act on them. Construct it, adjust
// the records directly if a case needs a cell the sheet cannot express (a numeric Variant, a
// count beyond the tables), then make the calls. It never calls Fin by itself.
class SheetHost {
 public:
  // path: the exchange file; empty for a fresh one in the temporary folder, removed when the
  // host goes if Fin left it there. The constructor writes the sheet's points into it.
  SheetHost(const HostSheet& sheet, const HostCalls& calls, const HostOle& ole,
            std::string path = "");
  ~SheetHost();
  SheetHost(const SheetHost&) = delete;
  SheetHost& operator=(const SheetHost&) = delete;

  void CalculInitial();
  void Simulate();
  void Fit();
  void Fin(int16_t mode = 0);
  // The kind of the last failure, and its message into *message when given.
  int32_t Failure(std::string* message = nullptr) const;

  // The exchange file as the library left it (empty when it is missing).
  std::vector<FileRecord> ReadFile() const;
  bool FileExists() const;
  // Writes the sheet's points into the exchange file again.
  bool WriteFile() const;

  // Cells, 1-based as the host numbers them.
  VARIANT& Especes(int s, int k) { return EspecesCell(records, s, k); }
  VARIANT& Parametres(int p, int k) { return ParametresCell(records, p, k); }
  VARIANT& Derivees(int i, int j) { return DeriveesCell(records, i, j); }
  VARIANT& EqualTo(int a) { return *AdjEqualTo(&records.adjustables, a); }

  HostSheet model;
  std::string path;
  HostCalls calls;
  HostRecords records;
  BInitials& initials = records.initials;
  BFitSet& fitset = records.fitset;
  BAjustables& adjustables = records.adjustables;
  BSorties& sorties = records.sorties;
  std::vector<VARIANT>& especes = records.especes;
  std::vector<VARIANT>& parametres = records.parametres;
  std::vector<VARIANT>& derivees = records.derivees;

 private:
  bool owns_path_ = false;
};

}  // namespace tarvo
