// The records, blocks and exchange file of one model, built exactly as a macro host builds
// them: BInitials and BFitSet; the Especes (30 rows), Parametres (50 rows) and Derivees
// (30 x 31) tables as column-major blocks of Variants; BAjustables and BSorties. Text cells
// are VT_BSTR Variants whose strings come from the library's exported SysAllocStringLen, so
// the library may free or replace them; FreeHostBlocks releases them with VariantClear.
//
// The exchange file holds one 3616-byte record per point (interval, replicate counts, time,
// replicates); ReadSimulated reads back the YCalc that Simulation wrote into it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "library/records.h"
#include "tarvo/data_csv.h"
#include "tarvo/model_file.h"
#include "tarvo/model_text.h"

namespace tarvo::tool {

struct HostBlocks {
  BInitials initials{};
  BFitSet fitset{};
  std::vector<VARIANT> especes;     // 30 x (intervals + 1)
  std::vector<VARIANT> parametres;  // 50 x (intervals + 1)
  std::vector<VARIANT> derivees;    // 30 x 31
  std::unique_ptr<BAjustables> adjustables;
  std::unique_ptr<BSorties> sorties;
};

// values and free give each adjustable's start value and flag (declaration order). Bound
// adjustables get their equal_to text. Only formulas that translated are placed.
void BuildHostBlocks(const Model& model, const TranslatedModel& text, int points,
                     const std::string& exchange_path, const std::vector<double>& values,
                     const std::vector<bool>& free, HostBlocks& blocks);

void FreeHostBlocks(HostBlocks& blocks);

// Writes a BSTR holding text (UTF-8 in) into an Empty cell.
void SetTextCell(VARIANT& cell, const std::string& text);

// offsets: per output, added to each replicate. 0, or 2 and a message when the file cannot
// be written.
int WriteExchangeFile(const std::string& path, const std::vector<DataPoint>& points,
                      const std::vector<double>& offsets, std::string& message);

// YCalc of every point (point-major, outputs values each); 0, or 2 and a message.
int ReadSimulated(const std::string& path, int points, int outputs,
                  std::vector<std::vector<double>>& ycalc, std::string& message);

}  // namespace tarvo::tool
