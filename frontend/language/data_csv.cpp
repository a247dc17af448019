#include "language/data_csv.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "api/limits.h"
#include "language/text.h"

namespace tarvo::frontend {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A finite decimal real written in full (no hexadecimal, no inf or nan).
// (from_chars: a data file holds thousands of them; a leading '+' is taken as strtod would.
// Hexadecimal stops it at the x, and inf or nan are not finite.)
bool ParseReal(std::string_view s, double& v) {
  if (s.empty()) return false;
  const char* first = s.data() + (s[0] == '+' ? 1 : 0);
  const char* last = s.data() + s.size();
  if (first == last || *first == '+' || (*first == '-' && s[0] == '+')) return false;
  const auto [end, ec] = std::from_chars(first, last, v, std::chars_format::general);
  return ec == std::errc() && end == last && std::isfinite(v);
}

// Column (from 1) of the first control character of a line, tabs aside; 0 when there is
// none. Such bytes are never echoed: they could garble the terminal.
int ControlByte(std::string_view line) {
  for (size_t i = 0; i < line.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(line[i]);
    if ((c < 0x20 && c != '\t') || c == 0x7F) return static_cast<int>(i) + 1;
  }
  return 0;
}

enum ColumnRole { kInterval = -2, kTime = -1 };  // or the output index 0..

struct Parser {
  std::string path;
  std::string* message;
  int Fail(int line, int column, const std::string& what) {
    *message = path + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + what;
    return 2;
  }
  int Fail(int line, const std::string& what) {
    *message = path + ":" + std::to_string(line) + ": " + what;
    return 2;
  }
};

// Maps each header cell to its role; fills the replicate column counts.
int ReadHeader(Parser& p, int line, const std::vector<std::string>& header,
               const std::vector<std::string>& outputs, std::vector<int>& role,
               Dataset& data) {
  data.replicate_columns.assign(outputs.size(), 0);
  bool has_time = false, has_interval = false;
  for (size_t c = 0; c < header.size(); ++c) {
    const std::string& h = header[c];
    const int column = static_cast<int>(c) + 1;
    const std::string l = Lower(h);
    if (l == "time" || l == "interval") {
      bool& seen = l == "time" ? has_time : has_interval;
      if (seen) return p.Fail(line, column, "a second '" + l + "' column");
      seen = true;
      role.push_back(l == "time" ? kTime : kInterval);
      continue;
    }
    // An output name, possibly with a replicate suffix .N.
    std::string name = h;
    const size_t dot = h.rfind('.');
    if (dot != std::string::npos && dot + 1 < h.size() &&
        h.find_first_not_of("0123456789", dot + 1) == std::string::npos)
      name = h.substr(0, dot);
    auto it = std::find(outputs.begin(), outputs.end(), name);
    if (it == outputs.end()) it = std::find(outputs.begin(), outputs.end(), h);
    if (it == outputs.end()) {
      std::string list;
      for (const auto& o : outputs) list += (list.empty() ? "" : ", ") + o;
      std::string what = h.empty() ? "a column without a name"
                                   : "column '" + h + "' is not an output of the model";
      what += " (expected time, interval" + (list.empty() ? "" : ", " + list) + ")";
      if (h.find_first_of(";\t") != std::string::npos) what += "; fields are separated by commas";
      return p.Fail(line, column, what);
    }
    const int o = static_cast<int>(it - outputs.begin());
    if (++data.replicate_columns[o] > kMaxReplicates)
      return p.Fail(line, column, "output '" + outputs[o] + "' has more than " +
                                      std::to_string(kMaxReplicates) + " replicate columns");
    role.push_back(o);
  }
  if (!has_time) return p.Fail(line, "the header has no 'time' column");
  return 0;
}

int ReadRow(Parser& p, int line, const std::vector<std::string>& cells,
            const std::vector<std::string>& header, const std::vector<int>& role,
            size_t outputs, DataPoint& point) {
  if (cells.size() > role.size())
    return p.Fail(line, static_cast<int>(role.size()) + 1,
                  std::to_string(cells.size()) + " cells but the header has " +
                      std::to_string(role.size()) + " columns (the decimal separator is a point)");
  point.line = line;
  point.values.assign(outputs, {});
  bool has_time = false;
  for (size_t c = 0; c < role.size(); ++c) {
    const int column = static_cast<int>(c) + 1;
    static const std::string kNone;
    const std::string& cell = c < cells.size() ? cells[c] : kNone;
    if (role[c] == kInterval) {
      double v = 0;
      if (!ParseReal(cell, v) || v != std::floor(v) || v < 1 || v > kMaxIntervals)
        return p.Fail(line, column, "interval '" + cell + "' is not a whole number from 1 to " +
                                        std::to_string(kMaxIntervals));
      point.interval = static_cast<int>(v);
    } else if (role[c] == kTime) {
      if (!ParseReal(cell, point.time))
        return p.Fail(line, column, cell.empty() ? "the time is missing"
                                                 : "time '" + cell + "' is not a number");
      has_time = true;
    } else if (!cell.empty() && !(cell.size() == 2 && Lower(cell) == "na")) {
      double v = 0;
      if (!ParseReal(cell, v))
        return p.Fail(line, column, "'" + cell + "' in column " + std::to_string(column) + " (" +
                                        header[c] + ") is not a number");
      point.values[role[c]].push_back(v);
    }
  }
  if (!has_time) return p.Fail(line, "the time is missing");
  return 0;
}

// Order rules of the simulation walk: time increases, intervals start at 1 and never skip.
int CheckOrder(Parser& p, const DataPoint& point, const DataPoint* before) {
  if (!before) {
    if (point.interval != 1)
      return p.Fail(point.line, "the first point must be in interval 1, not " +
                                    std::to_string(point.interval));
    return 0;
  }
  if (!(point.time > before->time))
    return p.Fail(point.line, "time " + Num(point.time, 10) +
                                  " is not after the time of the previous point (line " +
                                  std::to_string(before->line) +
                                  "); list the points in increasing time");
  if (point.interval < before->interval)
    return p.Fail(point.line, "interval " + std::to_string(point.interval) +
                                  " comes after interval " + std::to_string(before->interval) +
                                  "; intervals must not decrease");
  if (point.interval > before->interval + 1)
    return p.Fail(point.line, "interval " + std::to_string(point.interval) +
                                  " follows interval " + std::to_string(before->interval) +
                                  "; intervals are numbered without gaps");
  return 0;
}

// The checks after the last row, common to the file and the table.
int Finish(Parser& p, Dataset& data) {
  if (data.points.size() < 2) {
    *p.message = p.path + ": at least two points are needed (the simulation integrates from "
                 "each point to the next)";
    return 2;
  }
  data.last_interval = data.points.back().interval;
  return 0;
}

// Blank once trimmed, or a comment.
bool Skipped(std::string_view line) {
  size_t b = 0;
  while (b < line.size() && std::isspace(static_cast<unsigned char>(line[b]))) ++b;
  return b == line.size() || line[b] == '#';
}

// The lines of a data file or text; path names it in messages. The cells of each row are
// read into the same strings (a data file has thousands of cells).
int ReadDataFrom(std::string_view text, const std::string& path,
                 const std::vector<std::string>& outputs, Dataset& data, std::string& message) {
  Parser p{path, &message};
  std::vector<std::string> header, cells;
  std::vector<int> role;
  int line_no = 0;
  for (size_t at = 0; at < text.size();) {
    const size_t eol = std::min(text.find('\n', at), text.size());
    std::string_view line = text.substr(at, eol - at);
    at = eol + 1;
    ++line_no;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line_no == 1) line = WithoutBom(line);
    if (const int column = ControlByte(line); column > 0)
      return p.Fail(line_no, "character " + std::to_string(column) + " is a control byte: this "
                             "is not a CSV text file (binary, or another encoding such as "
                             "UTF-16)");
    if (Skipped(line)) continue;
    if (header.empty()) {
      header = SplitCsvLine(line);
      if (ReadHeader(p, line_no, header, outputs, role, data) != 0) return 2;
      continue;
    }
    if (data.points.size() == static_cast<size_t>(kMaxPoints))
      return p.Fail(line_no, "more than " + std::to_string(kMaxPoints) +
                                 " points (the library's limit)");
    DataPoint point;
    SplitCsvLine(line, cells);
    if (ReadRow(p, line_no, cells, header, role, outputs.size(), point) != 0) return 2;
    if (CheckOrder(p, point, data.points.empty() ? nullptr : &data.points.back()) != 0)
      return 2;
    data.points.push_back(std::move(point));
  }
  if (header.empty()) {
    message = path + ": the file is empty (it needs a header line: interval, time, outputs)";
    return 2;
  }
  return Finish(p, data);
}

}  // namespace

int ReadData(const std::string& path, const std::vector<std::string>& outputs, Dataset& data,
             std::string& message) {
  data = Dataset{};
  data.path = path;
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    message = "cannot open data file '" + path + "': it is a folder";
    return 2;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    message = "cannot open data file '" + path + "'" +
              (std::filesystem::exists(path, ec) ? "" : ": no such file");
    return 2;
  }
  std::ostringstream whole;
  whole << in.rdbuf();
  return ReadDataFrom(whole.view(), path, outputs, data, message);
}

int ReadDataText(const std::string& text, const std::string& name,
                 const std::vector<std::string>& outputs, Dataset& data, std::string& message) {
  data = Dataset{};
  data.path = name;
  return ReadDataFrom(text, name, outputs, data, message);
}

int ReadDataTable(const std::vector<std::string>& columns, const std::vector<double>& values,
                  const std::string& name, const std::vector<std::string>& outputs,
                  Dataset& data, std::string& message) {
  data = Dataset{};
  data.path = name;
  Parser p{name, &message};
  std::vector<int> role;
  if (ReadHeader(p, 1, columns, outputs, role, data) != 0) return 2;
  const size_t width = columns.size();
  const size_t rows = width ? values.size() / width : 0;
  for (size_t r = 0; r < rows; ++r) {
    const int line = static_cast<int>(r) + 2;
    if (data.points.size() == static_cast<size_t>(kMaxPoints))
      return p.Fail(line, "more than " + std::to_string(kMaxPoints) +
                              " points (the library's limit)");
    DataPoint point;
    point.line = line;
    point.values.assign(outputs.size(), {});
    for (size_t c = 0; c < width; ++c) {
      const double v = values[r * width + c];
      const int column = static_cast<int>(c) + 1;
      if (role[c] == kInterval) {
        if (!std::isfinite(v) || v != std::floor(v) || v < 1 || v > kMaxIntervals)
          return p.Fail(line, column, "interval '" + Num(v, 17) +
                                          "' is not a whole number from 1 to " +
                                          std::to_string(kMaxIntervals));
        point.interval = static_cast<int>(v);
      } else if (role[c] == kTime) {
        if (!std::isfinite(v))
          return p.Fail(line, column, std::isnan(v) ? "the time is missing"
                                                    : "time '" + Num(v) + "' is not a number");
        point.time = v;
      } else if (!std::isnan(v)) {
        if (!std::isfinite(v))
          return p.Fail(line, column, "'" + Num(v) + "' in column " + std::to_string(column) +
                                          " (" + columns[c] + ") is not a number");
        point.values[role[c]].push_back(v);
      }
    }
    if (CheckOrder(p, point, data.points.empty() ? nullptr : &data.points.back()) != 0)
      return 2;
    data.points.push_back(std::move(point));
  }
  return Finish(p, data);
}

bool MeanOf(const DataPoint& p, int output, double& mean) {
  const auto& v = p.values[static_cast<size_t>(output)];
  if (v.empty()) return false;
  double sum = 0;
  for (double x : v) sum += x;
  mean = sum / static_cast<double>(v.size());
  return true;
}

}  // namespace tarvo::frontend
