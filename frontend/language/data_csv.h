// The data CSV: a header line, then one line per experimental point.
//   interval  optional, default 1: the interval (1, 2, ...) the point belongs to
//   time      the time of the point
//   <output>  one column per output of the model; replicates are repeated columns of the
//             same name, or <output>.1, <output>.2, ... An empty cell (or NA) is a missing
//             replicate.
// Blank lines and lines starting with '#' are skipped. The points must be in increasing time,
// with intervals numbered from 1 without gaps and never decreasing; at most 1000 points and
// 10 replicates per output (the library's limits).
//
// In: the path and the model's output names. Out: a Dataset, or status 2 and a message
// "FILE:LINE:COLUMN: what is wrong" (COLUMN counts fields from 1).
#pragma once

#include <string>
#include <vector>

namespace tarvo::frontend {

struct DataPoint {
  int interval = 1;
  double time = 0;
  int line = 0;                              // line in the file
  std::vector<std::vector<double>> values;   // per output: the replicates present
};

struct Dataset {
  std::string path;
  std::vector<DataPoint> points;
  std::vector<int> replicate_columns;  // per output: how many columns the file gives it
  int last_interval = 1;
};

int ReadData(const std::string& path, const std::vector<std::string>& outputs, Dataset& data,
             std::string& message);

// The same from CSV text held in memory (a table handed over by the Python module); name
// stands for the file in the dataset and in messages.
int ReadDataText(const std::string& text, const std::string& name,
                 const std::vector<std::string>& outputs, Dataset& data, std::string& message);

// The same from a table of numbers (a data frame handed over by the Python module), read by
// the rules of the file without a text in between: columns as the header's cells, values row
// by row (rows x columns), NaN a missing replicate. Row r counts as line r + 2 of name.
int ReadDataTable(const std::vector<std::string>& columns, const std::vector<double>& values,
                  const std::string& name, const std::vector<std::string>& outputs,
                  Dataset& data, std::string& message);

// Mean of the replicates of one output at one point; false when there are none.
bool MeanOf(const DataPoint& p, int output, double& mean);

}  // namespace tarvo::frontend
