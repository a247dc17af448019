// The manifest of tarvo batch: a CSV file with one fit per row. Its header names the columns,
// in any order; only model is required:
//   model      the model file (TOML)
//   data       a data CSV to fit instead of the one the model file names
//   set        start values, "k1=0.3;k2=0.1"
//   free       adjustables to fit, "Vmax;Km"
//   fixed      adjustables to hold, "S0"
//   starts, seed, method, tolerance, max_calls        the fit's settings (fit_settings.h)
//   out        the fit's folder under the batch folder (default row-001, row-002, ...)
// Paths are relative to the manifest's folder. Blank lines and lines starting with # are
// skipped; a field may be quoted as in any CSV ("a,b", "" for a quote). An empty cell leaves
// the model file's own setting. A cell that is not a setting's kind of value (starts = 3.5)
// is a problem of the manifest, at its line and column.
#pragma once

#include <string>
#include <vector>

#include "language/fit_settings.h"
#include "language/text.h"  // CsvField, for the writers of manifest rows

namespace tarvo::frontend {

struct BatchRow {
  int number = 0;  // 1-based, in manifest order
  int line = 0;    // of the manifest
  std::string model, data, out;
  std::vector<std::string> sets;  // "name=value" start values, as Prepare takes them
  FitControl control;             // the row's settings; name left empty
};

// 0, or 2 with one message per problem (each naming the manifest and line).
// out_dir is the batch folder: each row's out is resolved against it.
int ReadManifest(const std::string& path, const std::string& out_dir, std::vector<BatchRow>& rows,
                 std::vector<std::string>& errors);

// The model file a row fits: its own, or when the row gives data, a copy of it written to
// folder/model.toml whose data key names that data (the rest of the text, comments and lines
// kept). "" with a message when the copy cannot be made.
std::string ModelForRow(const BatchRow& row, const std::string& folder, std::string& message);

}  // namespace tarvo::frontend
