// A test host that drives the exported calls as a macro host does: it builds the host's
// records and blocks with the shared builder (api/host_records.h: BInitials, BFitSet,
// BAjustables, BSorties and the column-major Variant tables Especes, Parametres, Derivees,
// every string a BSTR), writes the exchange file, calls Calcul_initial, Simulation, Ajustement
// and Fin, reads the file back, and frees every Variant it made when it goes (VariantClear).
// It never calls Fin by itself.
//
// Describe a model with Model (texts in host notation, UTF-8), construct a Host from it, then
// adjust the blocks directly if a test needs a cell the description cannot express (a numeric
// Variant, a count beyond the tables). Each Host gets its own exchange file in the temporary
// directory, removed when the Host goes if Fin left it there.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "api/exports.h"
#include "api/host_records.h"
#include "library/records.h"

namespace tarvo::testhost {

struct Point {
  int16_t interval = 1;
  double time = 0.0;
  std::vector<std::vector<double>> replicates;  // per output, its replicate values
  std::vector<int16_t> nrep;                    // when not empty: the NRep written instead
};

struct Adjustable {
  std::string name;
  double value = 0.0;
  std::string equal_to;
  bool adjustable = true;
};

// One rate cell: the coefficient of species j in the rate of species i (j = 1..30), or the
// free term of species i (j = 31).
struct Rate {
  int i = 1, j = 1;
  std::string text;
};

inline constexpr int kFreeTerm = 31;

struct Model {
  std::string method = "RUNGE-KUTTA 4";
  double tolerance = 1e-6;
  double type_erreur = 0.0;
  double marquard = 0.01;
  double precision = 1e-6;
  int16_t max_iter = 10;
  int intervals = 1;
  std::vector<std::string> species;                      // names
  std::vector<std::vector<std::string>> species_start;   // [species][interval - 1]
  std::vector<std::string> parameters;                   // names
  std::vector<std::vector<std::string>> parameter_eqs;   // [parameter][interval - 1]
  std::vector<Adjustable> adjustables;
  std::vector<std::string> outputs;
  std::vector<Rate> rates;
  std::vector<Point> points;
};

class Host {
 public:
  explicit Host(const Model& model);
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // The exported calls with this host's blocks.
  void CalculInitial();
  void Simulate();
  void Fit();
  void Fin(int16_t mode = 0);

  // The exchange file as the library left it (empty when it is missing).
  std::vector<FileRecord> ReadFile() const;
  bool FileExists() const;
  // Writes the model's points into the exchange file (the constructor does it once).
  void WriteFile() const;

  // Tarvo_last_failure: the kind, and the message into *message when given.
  static int32_t LastFailure(std::string* message = nullptr);

  // Cells, 1-based as the host numbers them.
  VARIANT& Especes(int s, int k) { return especes[k * kEspecesRows + s - 1]; }
  VARIANT& Parametres(int p, int k) { return parametres[k * kParametresRows + p - 1]; }
  VARIANT& Derivees(int i, int j) { return derivees[(j - 1) * kDeriveesRows + i - 1]; }
  VARIANT& EqualTo(int a) { return *AdjEqualTo(&adjustables, a); }
  std::string EqualToText(int a) { return Text(EqualTo(a)); }

  static void SetText(VARIANT& v, std::string_view utf8);
  static std::string Text(const VARIANT& v);

  Model model;
  std::string path;
  HostRecords records;
  BInitials& initials = records.initials;
  BFitSet& fitset = records.fitset;
  BAjustables& adjustables = records.adjustables;
  BSorties& sorties = records.sorties;
  std::vector<VARIANT>& especes = records.especes;
  std::vector<VARIANT>& parametres = records.parametres;
  std::vector<VARIANT>& derivees = records.derivees;
};

}  // namespace tarvo::testhost
