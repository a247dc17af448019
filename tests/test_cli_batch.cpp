// tarvo batch over the bundled examples: every manifest row comes back as a summary row in
// manifest order, with the numbers its folder's fit.json holds or the message of its failure;
// the number of worker processes changes nothing but the times; a bad manifest is refused
// with the place of each problem.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "language/batch_manifest.h"
#include "support/cli_run.h"

namespace {

namespace fs = std::filesystem;

using Table = std::vector<std::map<std::string, std::string>>;

// The rows of a CSV text as column -> field (quoted fields may hold commas and quotes).
Table ReadCsv(const std::string& text) {
  std::vector<std::vector<std::string>> records(1);
  std::string field;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') field += text[++i];
    else if (c == '"') quoted = !quoted;
    else if (!quoted && c == ',') records.back().push_back(std::move(field)), field.clear();
    else if (!quoted && c == '\n') {
      records.back().push_back(std::move(field));
      field.clear();
      records.emplace_back();
    } else field += c;
  }
  records.pop_back();
  Table rows;
  for (size_t r = 1; r < records.size(); ++r) {
    EXPECT_EQ(records[r].size(), records[0].size()) << "summary row " << r;
    std::map<std::string, std::string> row;
    for (size_t c = 0; c < records[r].size() && c < records[0].size(); ++c)
      row[records[0][c]] = records[r][c];
    rows.push_back(row);
  }
  return rows;
}

class CliBatch : public tarvo::testcli::CliTest {
 protected:
  CliBatch() : CliTest("cli-batch") {}
  // The exit status; the output and error text in out_ and err_.
  int Run(const std::string& args) {
    const tarvo::testcli::RunResult r = CliTest::Run(args);
    out_ = r.out;
    err_ = r.err;
    return r.code;
  }
  std::string out_, err_;
};

const std::string kExamples = std::string(TARVO_SOURCE_DIR) + "/examples/";

// Rows that converge, one that stops at its call limit, one that fits the enzyme model to data
// given in the manifest, and two that fail before fitting.
std::string Manifest() {
  const std::string enzyme = kExamples + "enzyme/model.toml";
  return "# a comment line, then the header\n"
         "model,data,set,free,fixed,max_calls,out\n" +
         enzyme + ",,,,,,enzyme\n" +
         enzyme + ",,\"Vmax=0.03; Km=0.02\",,S0,,\n" +
         kExamples + "consecutive/model.toml,,,,,,\n" +
         enzyme + ",,,,,1,one-call\n" +
         enzyme + "," + kExamples + "enzyme/data.csv,,,,,given-data\n" +
         enzyme + ",,,Bogus,,,bogus\n" +
         kExamples + "reversible/model.toml,,,,,,reversible\n" +
         kExamples + "global_reversible/model.toml," + kExamples + "enzyme/data.csv,,,,,\n";
}

TEST_F(CliBatch, SummaryHoldsEveryRowAsItsFitJsonGivesIt) {
  Write("plate.csv", Manifest());
  ASSERT_EQ(Run("batch plate.csv -j 2 -o two"), 1) << err_;  // some rows fail
  const Table rows = ReadCsv(Read("two/summary.csv"));
  ASSERT_EQ(rows.size(), 8u);
  const struct {
    std::string out, outcome, message;
  } expected[] = {
      {"enzyme", "converged", ""},
      {"row-002", "converged", ""},
      {"row-003", "converged", ""},
      {"one-call", "not converged", "not converged after 1 calls"},
      {"given-data", "converged", ""},
      {"bogus", "bad input", "--free Bogus: 'Bogus' is not an adjustable of the model"},
      {"reversible", "converged", ""},  // open intervals
      {"row-008", "failed", "one data file per experiment"},
  };
  for (size_t r = 0; r < rows.size(); ++r) {
    SCOPED_TRACE("row " + std::to_string(r + 1));
    auto row = rows[r];
    EXPECT_EQ(row["row"], std::to_string(r + 1));
    EXPECT_EQ(row["out"], expected[r].out);
    EXPECT_EQ(row["outcome"], expected[r].outcome);
    EXPECT_EQ(row["converged"], expected[r].outcome == "converged" ? "true" : "false");
    if (expected[r].message.empty()) EXPECT_EQ(row["message"], "");
    else EXPECT_NE(row["message"].find(expected[r].message), std::string::npos) << row["message"];
    // Row 8 is refused before a worker starts; every other row ran in one.
    EXPECT_EQ(std::stod(row["seconds"]) > 0, r != 7) << row["seconds"];
    const fs::path json = fs::path(dir_) / "two" / expected[r].out / "fit.json";
    if (expected[r].outcome == "bad input" || expected[r].outcome == "failed") {
      EXPECT_FALSE(fs::exists(json));
      EXPECT_EQ(row["Vmax"], "");
      continue;
    }
    // Each number of the summary is the one of fit.json, to the last digit.
    const auto fit = nlohmann::json::parse(tarvo::testcli::ReadFile(json));
    EXPECT_EQ(std::stoi(row["calls"]), fit["calls"].get<int>());
    for (const auto& a : fit["adjustables"]) {
      const std::string name = a["name"];
      EXPECT_EQ(std::stod(row[name]), a["value"].get<double>()) << name;
      for (const char* key : {"sd", "se"}) {
        if (a[key].is_null()) EXPECT_EQ(row[name + "." + key], "") << name;
        else EXPECT_EQ(std::stod(row[name + "." + key]), a[key].get<double>()) << name;
      }
      if (a["ci"].is_null()) continue;
      EXPECT_EQ(std::stod(row[name + ".lower"]), a["ci"]["lower"].get<double>()) << name;
      EXPECT_EQ(std::stod(row[name + ".upper"]), a["ci"]["upper"].get<double>()) << name;
      for (const char* side : {"lower_open", "upper_open"})
        EXPECT_EQ(row[name + "." + side], a["ci"][side].get<bool>() ? "true" : "false") << name;
    }
  }
  // The overrides reached the fits: S0 held at the file's value; the model's own data file
  // named in the manifest gives the fit of the model as it stands.
  EXPECT_EQ(rows[1].at("S0.se"), "");
  EXPECT_EQ(rows[1].at("S0"), "0.04");
  EXPECT_NE(rows[1].at("Vmax"), rows[0].at("Vmax"));
  EXPECT_EQ(rows[4].at("Vmax"), rows[0].at("Vmax"));
  EXPECT_EQ(rows[4].at("Km.upper"), rows[0].at("Km.upper"));
  EXPECT_NE(rows[2].at("k1"), "");
  EXPECT_EQ(rows[6].at("k1.lower_open"), "true");  // the reversible reaction's k1 is not bounded
  EXPECT_EQ(rows[0].at("Km.lower_open"), "false");
  // A converged fit keeps its warnings: with Km free, Vmax and Km go together.
  EXPECT_NE(rows[0].at("warnings").find("Vmax and Km cannot be told apart"), std::string::npos);
  // A progress line per fit when stderr is a file, and the failures listed on stdout.
  EXPECT_NE(err_.find("[8/8] row "), std::string::npos) << err_;
  EXPECT_NE(out_.find("8 fits: 5 converged, 3 not"), std::string::npos) << out_;
  EXPECT_NE(out_.find("row 6 (line 8) bad input: --free Bogus"), std::string::npos) << out_;

  // One worker process gives the same summary but for the times.
  ASSERT_EQ(Run("batch plate.csv -j 1 -o one"), 1) << err_;
  const Table serial = ReadCsv(Read("one/summary.csv"));
  ASSERT_EQ(serial.size(), rows.size());
  for (size_t r = 0; r < rows.size(); ++r) {
    auto a = rows[r], b = serial[r];
    a.erase("seconds");
    b.erase("seconds");
    EXPECT_EQ(a, b) << "row " << r + 1;
  }
}

TEST_F(CliBatch, StaleResultsOfAnEarlierRunAreNotRead) {
  const std::string enzyme = kExamples + "enzyme/model.toml";
  Write("m.csv", "model,out\n" + enzyme + ",a\n");
  ASSERT_EQ(Run("batch m.csv -j 1"), 0) << err_;
  EXPECT_TRUE(fs::exists(dir_ + "/m-results/a/fit.json"));  // the default folder
  Write("m.csv", "model,fixed,out\n" + enzyme + ",Nothing,a\n");
  ASSERT_EQ(Run("batch m.csv -j 1"), 1);
  const Table rows = ReadCsv(Read("m-results/summary.csv"));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].at("outcome"), "bad input");
  EXPECT_EQ(rows[0].count("Vmax"), 0u);  // no fit, so no adjustable columns
  EXPECT_FALSE(fs::exists(dir_ + "/m-results/a/fit.json"));  // the folder does not mislead
}

TEST_F(CliBatch, BadManifestIsRefusedWithItsPlace) {
  const std::string model = kExamples + "enzyme/model.toml";
  const struct {
    std::string manifest, message;
  } cases[] = {
      {"", "m.csv: no header line"},
      {"model,data\n", "m.csv: no fit: the manifest has no rows"},
      {"data\nx.csv\n", "m.csv: the header has no 'model' column"},
      {"model,sets\n" + model + ",k=1\n", "m.csv:1: column 2 'sets' is not a manifest column"},
      {"model,model\n" + model + "," + model + "\n", "m.csv:1: column 2 'model' appears twice"},
      {"model,set\n\n" + model + ",a=1,b=2\n", "m.csv:3: 3 fields where the header has 2"},
      {"model,set\n" + model + ",\"a=1\n", "m.csv:2: a quote is never closed"},
      {"model,out\n,x\n", "m.csv:2: no model"},
      {"model,starts\n" + model + ",3.5\n",
       "m.csv:2:2: starts '3.5': must be a whole number from 1 to 1000"},
      {"model,out\n" + model + ",x\n" + model + ",x\n", "m.csv:3: out folder"},
  };
  for (const auto& c : cases) {
    Write("m.csv", c.manifest);
    EXPECT_EQ(Run("batch m.csv -o out"), 2) << c.manifest;
    EXPECT_NE(err_.find("tarvo: error: " + c.message), std::string::npos) << err_;
    EXPECT_FALSE(fs::exists(dir_ + "/out")) << c.manifest;
  }
  EXPECT_EQ(Run("batch none.csv"), 2);
  EXPECT_NE(err_.find("cannot open manifest 'none.csv'"), std::string::npos) << err_;
  EXPECT_EQ(Run("batch m.csv -j 0"), 2);
}

// A spreadsheet saves its CSV with a byte-order mark and CRLF line ends: the header still
// reads as model, set, fixed, out, and the row as written.
TEST_F(CliBatch, ManifestSavedByASpreadsheetIsRead) {
  const std::string model = kExamples + "enzyme/model.toml";
  Write("m.csv", "\xEF\xBB\xBFmodel,set,fixed,out\r\n" + model + ",Vmax=0.03;Km=0.02,S0,a\r\n");
  std::vector<tarvo::frontend::BatchRow> rows;
  std::vector<std::string> errors;
  ASSERT_EQ(tarvo::frontend::ReadManifest(dir_ + "/m.csv", "out", rows, errors), 0)
      << (errors.empty() ? "" : errors.front());
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].model, model);
  EXPECT_EQ(rows[0].out, "out/a");
  EXPECT_EQ(rows[0].sets, (std::vector<std::string>{"Vmax=0.03", "Km=0.02"}));
  EXPECT_EQ(rows[0].control.fix, (std::vector<std::string>{"S0"}));
}

}  // namespace
