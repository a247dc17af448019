// The records, blocks and exchange file of one model, built exactly as a macro host builds
// them (api/host_records.h): text cells are VT_BSTR Variants whose strings come from the
// library's exported SysAllocStringLen, so the library may free or replace them.
//
// The exchange file holds one 3616-byte record per point (interval, replicate counts, time,
// replicates), built by api/host_records.h; sessions hand them over in memory.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "api/host_records.h"
#include "language/data_csv.h"
#include "language/model_file.h"
#include "language/model_text.h"

namespace tarvo::frontend {

using HostBlocks = HostRecords;

// values and free give each adjustable's start value and flag (declaration order). Bound
// adjustables get their equal_to text. Only formulas that translated are placed.
void BuildHostBlocks(const Model& model, const TranslatedModel& text, int points,
                     const std::string& exchange_path, const std::vector<double>& values,
                     const std::vector<bool>& free, HostBlocks& blocks);

// The exchange-file record of each point; offsets: per output, added to each replicate.
// start: the time of a point without measurements put in front (interval 1), if any.
std::vector<FileRecord> ExchangeRecords(const std::vector<DataPoint>& points,
                                        const std::vector<double>& offsets,
                                        std::optional<double> start = std::nullopt);

}  // namespace tarvo::frontend
