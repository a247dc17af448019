#include "language/batch_manifest.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <toml++/toml.h>

#include "language/text.h"

namespace tarvo::frontend {

namespace fs = std::filesystem;

namespace {

// "a;b; c" -> {"a", "b", "c"}; empty items dropped.
std::vector<std::string> Items(const std::string& cell) {
  std::vector<std::string> items;
  std::stringstream s(cell);
  std::string item;
  while (std::getline(s, item, ';'))
    if (const std::string t = Trim(item); !t.empty()) items.push_back(t);
  return items;
}

std::string Resolve(const fs::path& base, const std::string& p) {
  return fs::path(p).is_absolute() ? p : (base / p).lexically_normal().string();
}

// Byte offset of a 1-based line and column (counted in characters) of text.
size_t Offset(const std::string& text, size_t line, size_t column) {
  size_t at = 0;
  for (size_t l = 1; l < line && at < text.size(); ++l) at = text.find('\n', at) + 1;
  for (size_t c = 1; c < column && at < text.size(); ++c) {
    ++at;
    while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
  }
  return at;
}

std::string TomlString(const std::string& s) {
  std::string q = "\"";
  for (const char c : s) {
    if (c == '"' || c == '\\') q += '\\';
    q += c;
  }
  return q + "\"";
}

}  // namespace

int ReadManifest(const std::string& path, const std::string& out_dir, std::vector<BatchRow>& rows,
                 std::vector<std::string>& errors) {
  std::ifstream in(path, std::ios::binary);
  if (fs::is_directory(path) || !in) {
    errors.push_back("cannot open manifest '" + path + "'" +
                     (fs::is_directory(path) ? ": it is a folder" : ""));
    return 2;
  }
  std::stringstream buffer;
  buffer << in.rdbuf();
  std::vector<CsvRecord> records;
  int bad_line = 0;
  if (!SplitCsv(buffer.str(), records, bad_line)) {
    errors.push_back(path + ":" + std::to_string(bad_line) + ": a quote is never closed");
    return 2;
  }
  if (records.empty()) {
    errors.push_back(path + ": no header line (model, data, set, free, fixed, ...)");
    return 2;
  }
  // Each column and the fit setting it gives; model, data, out and set are read apart.
  static const std::map<std::string, Setting> kSettings = {
      {"free", Setting::kFree},         {"fixed", Setting::kFix},
      {"starts", Setting::kStarts},     {"seed", Setting::kSeed},
      {"method", Setting::kMethod},     {"tolerance", Setting::kTolerance},
      {"max_calls", Setting::kMaxCalls}};
  const std::vector<std::string>& header = records[0].fields;
  std::map<std::string, size_t> column;
  for (size_t c = 0; c < header.size(); ++c) {
    const std::string& name = header[c];
    const std::string where = path + ":" + std::to_string(records[0].line) + ": column " +
                              std::to_string(c + 1) + " '" + name + "'";
    if (name != "model" && name != "data" && name != "out" && name != "set" &&
        !kSettings.count(name))
      errors.push_back(where + " is not a manifest column (model, data, set, free, fixed, "
                               "starts, seed, method, tolerance, max_calls, out)");
    else if (!column.emplace(name, c).second)
      errors.push_back(where + " appears twice");
  }
  if (!column.count("model")) errors.push_back(path + ": the header has no 'model' column");
  if (!errors.empty()) return 2;

  const fs::path base = fs::path(path).parent_path();
  std::map<std::string, int> outs;  // folder -> manifest line
  for (size_t r = 1; r < records.size(); ++r) {
    const CsvRecord& rec = records[r];
    const std::string where = path + ":" + std::to_string(rec.line) + ": ";
    if (rec.fields.size() != header.size()) {
      errors.push_back(where + std::to_string(rec.fields.size()) + " fields where the header has " +
                       std::to_string(header.size()));
      continue;
    }
    auto cell = [&](const char* name) {
      const auto it = column.find(name);
      return it == column.end() ? std::string() : rec.fields[it->second];
    };
    BatchRow row;
    row.number = static_cast<int>(rows.size()) + 1;
    row.line = rec.line;
    if (cell("model").empty()) {
      errors.push_back(where + "no model");
      continue;
    }
    row.model = Resolve(base, cell("model"));
    if (!cell("data").empty()) row.data = Resolve(base, cell("data"));
    char name[32];
    std::snprintf(name, sizeof name, "row-%03d", row.number);
    row.out = Resolve(out_dir, cell("out").empty() ? name : cell("out"));
    if (const auto [it, fresh] = outs.emplace(row.out, rec.line); !fresh)
      errors.push_back(where + "out folder '" + row.out + "' is the one of line " +
                       std::to_string(it->second) + " too");
    row.sets = Items(cell("set"));
    for (const auto& [col, setting] : kSettings) {
      const std::string text = cell(col.c_str());
      const bool list = setting == Setting::kFree || setting == Setting::kFix;
      for (const auto& item : list ? Items(text) : std::vector<std::string>{Trim(text)}) {
        if (item.empty()) continue;
        if (const std::string why = ReadSetting(setting, item, row.control); !why.empty())
          errors.push_back(where.substr(0, where.size() - 2) + ":" +
                           std::to_string(column.at(col) + 1) + ": " + col + " '" + item +
                           "': " + why);
      }
    }
    rows.push_back(row);
  }
  if (errors.empty() && rows.empty()) errors.push_back(path + ": no fit: the manifest has no rows");
  return errors.empty() ? 0 : 2;
}

std::string ModelForRow(const BatchRow& row, const std::string& folder, std::string& message) {
  if (row.data.empty()) return row.model;
  std::ifstream in(row.model, std::ios::binary);
  if (fs::is_directory(row.model) || !in) return row.model;  // the fit names the problem
  std::stringstream buffer;
  buffer << in.rdbuf();
  std::string text = buffer.str();
  toml::table root;
  try {
    root = toml::parse(text, row.model);
  } catch (const toml::parse_error&) {
    return row.model;  // the fit reports the syntax error at its place in the user's file
  }
  if (root.contains("experiments")) {
    message = row.model + ": the model names one data file per experiment; a manifest's data "
                          "column can only replace the data of a model with one data file";
    return "";
  }
  const std::string data = TomlString(fs::absolute(row.data).lexically_normal().string());
  if (const toml::node* n = root.get("data")) {
    const auto& src = n->source();
    const size_t b = Offset(text, src.begin.line, src.begin.column);
    const size_t e = Offset(text, src.end.line, src.end.column);
    text.replace(b, e - b, data);
  } else {
    text = "data = " + data + "\n" + text;
  }
  const std::string copy = (fs::path(folder) / "model.toml").string();
  std::ofstream out(copy, std::ios::binary);
  out << text;
  if (!out.flush()) {
    message = "cannot write '" + copy + "'";
    return "";
  }
  return copy;
}

}  // namespace tarvo::frontend
