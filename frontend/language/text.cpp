#include "language/text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace tarvo::frontend {

namespace {

bool Space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Reads one record from text at i (which it advances past the record's line break); false
// when a quote is still open at the end of text. Line breaks inside quotes count in line.
bool ReadRecord(std::string_view text, size_t& i, bool multiline, std::vector<std::string>& fields,
                int& line) {
  std::string field;
  bool quoted = false, was_quoted = false;
  for (;; ++i) {
    const char c = i < text.size() ? text[i] : '\n';
    if (quoted) {
      if (i >= text.size() || (c == '\n' && !multiline)) return false;
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        if (c == '\n') ++line;
        field += c;
      }
    } else if (c == '"' && Trim(field).empty() && !was_quoted) {
      quoted = was_quoted = true;
      field.clear();
    } else if (c == ',' || c == '\n') {
      fields.push_back(was_quoted ? field : Trim(field));
      field.clear();
      was_quoted = false;
      if (c == '\n') {
        ++i;
        return true;
      }
    } else if (!was_quoted) {
      field += c;  // text after a closing quote is dropped, blanks and all
    }
  }
}

}  // namespace

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && Space(s[b])) ++b;
  while (e > b && Space(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

std::string Num(double v, int digits) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.*g", digits, v);
  return buf;
}

std::string_view WithoutBom(std::string_view text) {
  return text.substr(0, 3) == "\xEF\xBB\xBF" ? text.substr(3) : text;
}

std::vector<std::string> SplitCsvLine(std::string_view line) {
  std::vector<std::string> fields;
  SplitCsvLine(line, fields);
  return fields;
}

void SplitCsvLine(std::string_view line, std::vector<std::string>& fields) {
  if (line.find('"') == std::string_view::npos) {
    // No quotes: the fields between the commas, trimmed, into the strings already there.
    size_t n = 0, start = 0;
    for (;; ++n) {
      const size_t comma = std::min(line.find(',', start), line.size());
      if (n == fields.size()) fields.emplace_back();
      std::string_view f = line.substr(start, comma - start);
      while (!f.empty() && Space(f.front())) f.remove_prefix(1);
      while (!f.empty() && Space(f.back())) f.remove_suffix(1);
      fields[n].assign(f);
      if (comma == line.size()) break;
      start = comma + 1;
    }
    fields.resize(n + 1);
    return;
  }
  fields.clear();
  size_t i = 0;
  int ignored = 0;
  if (!ReadRecord(line, i, false, fields, ignored)) {
    // An unclosed quote: the rest of the line is the last field, as written.
    fields.clear();
    size_t start = 0;
    for (size_t comma; (comma = line.find(',', start)) != std::string_view::npos; start = comma + 1)
      fields.push_back(Trim(line.substr(start, comma - start)));
    fields.push_back(Trim(line.substr(start)));
  }
}

bool SplitCsv(std::string_view text, std::vector<CsvRecord>& records, int& bad_line) {
  text = WithoutBom(text);
  int line = 1;
  size_t i = 0;
  while (i < text.size()) {
    const size_t eol = text.find('\n', i);
    const std::string whole = Trim(text.substr(i, eol == std::string_view::npos ? eol : eol - i));
    if (whole.empty() || whole[0] == '#') {
      i = eol == std::string_view::npos ? text.size() : eol + 1;
      ++line;
      continue;
    }
    CsvRecord r;
    r.line = line;
    if (!ReadRecord(text, i, true, r.fields, line)) {
      bad_line = r.line;
      return false;
    }
    records.push_back(std::move(r));
    ++line;
  }
  return true;
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
  std::string q = "\"";
  for (const char c : text) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

}  // namespace tarvo::frontend
