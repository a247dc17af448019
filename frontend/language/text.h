// Small text rules shared by every reader and writer of the front end: trimming, number
// formatting and CSV fields. Each is written once here; a reader with its own copy drifts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarvo::frontend {

// s without leading and trailing white space (blank, tab, CR, LF, FF, VT).
std::string Trim(std::string_view s);

// v with up to digits significant digits, shortest form ("%g").
std::string Num(double v, int digits = 6);

// text without a leading UTF-8 byte-order mark (spreadsheets save CSV with one).
std::string_view WithoutBom(std::string_view text);

// The fields of one CSV line: fields are separated by commas; a field that starts with a
// double quote runs to the closing quote and may hold commas and doubled quotes ("");
// unquoted fields are trimmed.
std::vector<std::string> SplitCsvLine(std::string_view line);
// The same into fields, reusing its strings (a reader of many lines).
void SplitCsvLine(std::string_view line, std::vector<std::string>& fields);

// A CSV record of a whole text, with the line on which it starts.
struct CsvRecord {
  int line = 0;
  std::vector<std::string> fields;
};

// The records of a CSV text as SplitCsvLine reads a line, except that quoted fields may also
// hold line breaks. A leading byte-order mark, blank lines and lines starting with # are
// skipped. false, with the line of the record, when a quote is never closed.
bool SplitCsv(std::string_view text, std::vector<CsvRecord>& records, int& bad_line);

// text as one CSV field: quoted (quotes doubled) when it holds a comma, a quote or a line
// break.
std::string CsvField(const std::string& text);

}  // namespace tarvo::frontend
