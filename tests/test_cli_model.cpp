// The model file reader and the translation of a whole model: what a hand-written file
// becomes, which cell each formula lands in, and one message naming the place for each
// malformed file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "language/model_file.h"
#include "language/model_text.h"
#include "support/cli_run.h"

namespace tarvo::frontend {
namespace {

const char* kModel = R"toml(method = "RUNGE-KUTTA 4"
tolerance = 1e-4
error_type = 2
max_calls = 7
data = "sub/data.csv"

species = [
  { name = "S", start = ["S0", "S + Sadd", 0] },
  { name = "P" },
]
parameters = [ { name = "kcat", equation = ["k*2", "k*3"] } ]
adjustables = [
  { name = "k", value = 1, free = true },
  { name = "S0", value = 2 },
  { name = "Sadd", equal_to = "S0/2" },
]
outputs = [ { name = "Abs", formula = "P*2" } ]

[plot]
log_y = true

[rates]
S = { S = "-kcat/(1 + S)" }
P = "kcat*S/(1 + S)"
)toml";

class CliModel : public tarvo::testcli::TempFolderTest {
 protected:
  CliModel() : TempFolderTest("cli-model") {}
  std::string Write(const std::string& text) {
    const std::string path = dir_ + "/model.toml";
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
};

TEST_F(CliModel, ReadsAHandWrittenModel) {
  Model m;
  std::string message;
  ASSERT_EQ(ReadModel(Write(kModel), m, message), 0) << message;
  EXPECT_EQ(m.method, "RUNGE-KUTTA 4");
  EXPECT_EQ(m.method_line, 1);
  EXPECT_EQ(m.tolerance, 1e-4);
  EXPECT_EQ(m.error_type, 2);
  EXPECT_EQ(m.max_calls, 7);
  EXPECT_EQ(m.data, dir_ + "/sub/data.csv");
  EXPECT_TRUE(m.log_y);
  EXPECT_EQ(m.intervals, 3);
  ASSERT_EQ(m.species.size(), 2u);
  EXPECT_EQ(m.species[0].start[1].text, "S + Sadd");
  EXPECT_EQ(m.species[0].start[1].label, "species S start, interval 2");
  EXPECT_EQ(m.species[0].start[1].line, 8);
  EXPECT_EQ(m.species[0].start[1].column, 33);  // first character inside the quotes
  EXPECT_EQ(m.species[0].start[2].text, "0");   // a number is a formula too
  EXPECT_EQ(m.species[1].start[0].text, "0");   // no start: 0
  EXPECT_TRUE(m.adjustables[0].free);
  EXPECT_FALSE(m.adjustables[1].free);
  EXPECT_TRUE(m.adjustables[2].bound);
  ASSERT_EQ(m.rates.size(), 2u);
  const RateDecl& p = m.rates[0].species == "P" ? m.rates[0] : m.rates[1];
  const RateDecl& s = m.rates[0].species == "S" ? m.rates[0] : m.rates[1];
  ASSERT_EQ(s.coefficients.size(), 1u);
  EXPECT_EQ(s.coefficients[0].first, "S");
  EXPECT_FALSE(s.has_free);
  EXPECT_TRUE(p.has_free);  // a plain formula is the free term
  EXPECT_TRUE(p.coefficients.empty());
  EXPECT_EQ(p.free_term.label, "rates P");
}

TEST_F(CliModel, TranslatesEveryFormulaIntoItsCell) {
  Model m;
  std::string message;
  ASSERT_EQ(ReadModel(Write(kModel), m, message), 0) << message;
  TranslatedModel t;
  std::vector<std::string> errors;
  ASSERT_EQ(TranslateModel(m, 4, t, errors), 0) << (errors.empty() ? "" : errors[0]);
  auto find = [&](FormulaRole role, int row, int column) -> std::string {
    for (const auto& f : t.formulas)
      if (f.role == role && f.row == row && f.column == column) return f.text;
    return "<none>";
  };
  EXPECT_EQ(find(FormulaRole::SpeciesStart, 0, 0), "A2");
  EXPECT_EQ(find(FormulaRole::SpeciesStart, 0, 1), "F1+A3");
  EXPECT_EQ(find(FormulaRole::SpeciesStart, 0, 3), "F1");  // later intervals continue
  EXPECT_EQ(find(FormulaRole::SpeciesStart, 1, 0), "0");
  EXPECT_EQ(find(FormulaRole::SpeciesStart, 1, 2), "F2");
  EXPECT_EQ(find(FormulaRole::ParameterEquation, 0, 1), "A1*3");
  EXPECT_EQ(find(FormulaRole::ParameterEquation, 0, 3), "A1*3");  // the last one repeats
  EXPECT_EQ(find(FormulaRole::EqualTo, 2, 0), "A2/2");
  EXPECT_EQ(find(FormulaRole::Output, 0, 0), "F2*2");
  EXPECT_EQ(find(FormulaRole::Coefficient, 0, 0), "-P1/(1+F1)");
  EXPECT_EQ(find(FormulaRole::FreeTerm, 1, 0), "P1*F1/(1+F1)");
  EXPECT_EQ(find(FormulaRole::EqualTo, 0, 0), "<none>");
}

TEST_F(CliModel, RefusesUnsoundReferences) {
  const struct {
    std::string from, to, message;
  } cases[] = {
      {"equal_to = \"S0/2\"", "equal_to = \"Sadd*2\"", ":15:32: adjustable Sadd equal_to: refers to its own adjustable 'Sadd'"},
      {"equal_to = \"S0/2\"", "equal_to = \"S/2\"", "equal_to may only use adjustables and numbers, not species 'S'"},
      {"equal_to = \"S0/2\"", "equal_to = \"T\"", "not the time"},
      {"{ name = \"S0\", value = 2 }", "{ name = \"S0\", equal_to = \"Sadd*2\" }", "refer to each other in a cycle"},
      {"equation = [\"k*2\", \"k*3\"]", "equation = [\"k*2\", \"kcat*3\"]", "the equation of parameter 'kcat' refers to its own value"},
      {"formula = \"P*2\"", "formula = \"P*q\"", ":17:40: output Abs: unknown name 'q' at column 3"},
  };
  for (const auto& c : cases) {
    std::string text = kModel;
    const size_t at = text.find(c.from);
    ASSERT_NE(at, std::string::npos) << c.from;
    text.replace(at, c.from.size(), c.to);
    Model m;
    std::string message;
    ASSERT_EQ(ReadModel(Write(text), m, message), 0) << message;
    TranslatedModel t;
    std::vector<std::string> errors;
    EXPECT_EQ(TranslateModel(m, 3, t, errors), 2) << c.to;
    ASSERT_FALSE(errors.empty()) << c.to;
    EXPECT_NE(errors[0].find(c.message), std::string::npos)
        << "got \"" << errors[0] << "\", expected \"" << c.message << "\"";
  }
}

TEST_F(CliModel, NamesThePlaceOfEveryStructuralProblem) {
  const std::string tail =
      "species = [ { name = \"A\" } ]\noutputs = [ { name = \"Y\", formula = \"A\" } ]\n";
  const struct {
    std::string text, message;
  } cases[] = {
      {"method = \n", "model.toml:1:10: "},  // TOML syntax, with toml++'s description
      {"methd = \"x\"\n" + tail, "model.toml:1:1: unknown key 'methd'"},
      {"tolerance = \"x\"\n" + tail, "model.toml:1:13: 'tolerance' must be a number"},
      {"tolerance = 0\n" + tail, "'tolerance' must be above 0"},
      {"error_type = -1\n" + tail, "'error_type' must be from 0"},
      {"max_calls = 0\n" + tail, "'max_calls' must be a whole number"},
      {"max_calls = 1.5\n" + tail, "'max_calls' must be a whole number"},
      {"data = 3\n" + tail, "'data' must be a text in quotes"},
      {"sd_every_call = 1\n" + tail, "'sd_every_call' must be true or false"},
      {"interval_times = [5, 2]\n" + tail, "model.toml:1:22: 'interval_times' must increase"},
      {"interval_times = 5\n" + tail, "'interval_times' must be a list of times"},
      {"species = 3\n", "'species' must be a list"},
      {"species = [ 3 ]\n", "each entry of 'species' must be a { name = ... } table"},
      {"species = [ { start = \"1\" } ]\n", "species without a name"},
      {"species = [ { name = \"A1\" } ]\n", "model.toml:1:22: species 'A1' would be read as the library's own notation"},
      {"species = [ { name = \"T\" } ]\n", "'T' is the time"},
      {"species = [ { name = \"free\" } ]\n", "'free' names the free term"},
      {"species = [ { name = \"A\", start = [] } ]\n", "the list is empty"},
      {"species = [ { name = \"A\", start = true } ]\n", "a formula must be a text in quotes or a number"},
      {"species = [ { name = \"A\", colour = 1 } ]\n", "unknown key 'colour' in a species"},
      {"outputs = [ { name = \"Y\", formula = \"1\" } ]\n", "the model declares no species"},
      {"species = [ { name = \"A\" } ]\n", "the model declares no outputs"},
      {tail + "adjustables = [ { name = \"A\", value = 1 } ]\n", "adjustable 'A' is declared twice"},
      {tail + "adjustables = [ { name = \"k\" } ]\n", "model.toml:3: adjustable k has no value"},
      {tail + "adjustables = [ { name = \"k\", value = 1, free = true, equal_to = \"2\" } ]\n",
       "cannot also be free"},
      {tail + "parameters = [ { name = \"p\" } ]\n", "parameter p has no equation"},
      {tail + "outputs2 = 1\n", "unknown key 'outputs2'"},
      {"species = [ { name = \"A\" } ]\noutputs = [ { name = \"Y.1\", formula = \"A\" } ]\n",
       "output name 'Y.1' cannot head a data column"},
      {tail + "[rates]\nB = \"1\"\n", "model.toml:4:1: [rates] names 'B', which is not a declared species"},
      {tail + "[rates]\nA = { B = \"1\" }\n", "rates A: 'B' is not a declared species"},
      {tail + "[plot]\ntitle = \"x\"\ndata = \"d.csv\"\n", "keys written after a [plot] header belong to it"},
  };
  for (const auto& c : cases) {
    Model m;
    std::string message;
    EXPECT_EQ(ReadModel(Write(c.text), m, message), 2) << c.text;
    EXPECT_NE(message.find(c.message), std::string::npos)
        << "got \"" << message << "\", expected \"" << c.message << "\"";
  }
  // Sizes beyond the library's tables.
  std::string big = "species = [\n";
  for (int i = 0; i < 31; ++i) big += "{ name = \"s" + std::to_string(i) + "\" },\n";
  big += "]\noutputs = [ { name = \"Y\", formula = \"1\" } ]\n";
  Model m;
  std::string message;
  EXPECT_EQ(ReadModel(Write(big), m, message), 2);
  EXPECT_NE(message.find("31 species, at most 30"), std::string::npos) << message;
  EXPECT_EQ(ReadModel(dir_ + "/none.toml", m, message), 2);
  EXPECT_NE(message.find("no such file"), std::string::npos) << message;
  EXPECT_EQ(ReadModel(dir_, m, message), 2);
  EXPECT_NE(message.find("it is a folder"), std::string::npos) << message;
}

}  // namespace
}  // namespace tarvo::frontend
