// The records and cell blocks a macro host passes to the four calls, built from a plain
// description the way a host fills them from its sheets: BInitials and BFitSet, the
// column-major Variant tables Especes (30 rows), Parametres (50 rows) and Derivees (30 x 31),
// BAjustables and BSorties. Text cells are VT_BSTR Variants made with the OLE Automation
// functions given (the ones this program links, or those of a library it loaded), so the
// library may free or replace them. HostRecords owns every Variant it holds and clears them
// with the same functions when it is rebuilt, freed or destroyed.
//
// Nothing here reads library state or calls into the library: a host program that loads the
// library at run time compiles this file and platform/utf8.cpp into itself.
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

struct HostModel {
  std::string file_name;  // the exchange file
  std::string method;
  SmallInt max_iter = 1;
  double type_erreur = 0;
  double tolerance = 1e-6;
  double marquard = 0.01;
  double precision = 1e-6;
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

}  // namespace tarvo
