// SBML import and export: what import refuses (one diagnostic naming the construct and the
// element), names the model language reserves, and the round trip model -> SBML -> model,
// which libSBML must validate and which must simulate as the original does. The import of the
// SBML Test Suite's cases is tested by scripts/sbml_suite.py (the SbmlSuite test).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "language/model_file.h"
#include "language/prepare.h"
#include "language/sbml_export.h"
#include "language/sbml_import.h"
#include "analysis/simulate_at.h"

namespace tarvo::frontend {
namespace {

// A Level 3 Version 2 document around the model's lists.
std::string Sbml(const std::string& body,
                 const std::string& parameters =
                     R"(<parameter id="k" value="0.5" constant="true"/>)") {
  return R"(<?xml version="1.0" encoding="UTF-8"?>
<sbml xmlns="http://www.sbml.org/sbml/level3/version2/core" level="3" version="2">
<model id="m">
<listOfCompartments><compartment id="C" size="2" constant="true"/></listOfCompartments>
<listOfSpecies>
 <species id="S" compartment="C" initialConcentration="1" hasOnlySubstanceUnits="false"
          boundaryCondition="false" constant="false"/>
</listOfSpecies>
<listOfParameters>)" + parameters + "</listOfParameters>\n" + body + "</model></sbml>\n";
}

const char* kMath = R"(<math xmlns="http://www.w3.org/1998/Math/MathML">)";

TEST(SbmlImport, RefusesWhatTheLibraryCannotHoldNamingTheElement) {
  struct Case {
    const char* what;
    std::string body;
    const char* construct;
    const char* id;
    std::string from = "", to = "";  // an edit of the rest of the document
  };
  const std::string reaction_start =
      R"(<listOfReactions><reaction id="R" reversible="false">
         <listOfReactants><speciesReference species="S" stoichiometry="1" constant="true"/>
         </listOfReactants><kineticLaw>)" + std::string(kMath);
  const std::string reaction_end = "</math></kineticLaw></reaction></listOfReactions>";
  std::string many;  // 31 species
  for (int i = 0; i < 31; ++i)
    many += "<species id=\"X" + std::to_string(i) + "\" compartment=\"C\" initialAmount=\"1\" "
            "hasOnlySubstanceUnits=\"true\" boundaryCondition=\"false\" constant=\"false\"/>";
  const std::vector<Case> cases = {
      {"algebraic rule",
       std::string("<listOfRules><algebraicRule metaid=\"r1\">") + kMath +
           "<apply><minus/><ci>x</ci><cn>1</cn></apply></math></algebraicRule></listOfRules>",
       "algebraic rule", "r1", "</listOfParameters>",
       "<parameter id=\"x\" constant=\"false\"/></listOfParameters>"},
      {"event with a delay",
       std::string("<listOfEvents><event id=\"E\" useValuesFromTriggerTime=\"true\">"
                   "<trigger initialValue=\"false\" persistent=\"true\">") + kMath +
           "<apply><geq/><csymbol encoding=\"text\" definitionURL=\"http://www.sbml.org/sbml/"
           "symbols/time\">t</csymbol><cn>1</cn></apply></math></trigger><delay>" + kMath +
           "<cn>1</cn></math></delay><listOfEventAssignments><eventAssignment variable=\"S\">" +
           kMath + "<cn>0</cn></math></eventAssignment></listOfEventAssignments></event>"
           "</listOfEvents>",
       "event with delay", "E"},
      {"event on a species",
       std::string("<listOfEvents><event id=\"E\" useValuesFromTriggerTime=\"true\">"
                   "<trigger initialValue=\"false\" persistent=\"true\">") + kMath +
           "<apply><lt/><ci>S</ci><cn>0.5</cn></apply></math></trigger>"
           "<listOfEventAssignments><eventAssignment variable=\"S\">" + kMath +
           "<cn>1</cn></math></eventAssignment></listOfEventAssignments></event></listOfEvents>",
       "event", "E"},
      {"a rule on a compartment",
       std::string("<listOfRules><rateRule variable=\"C\">") + kMath +
           "<cn>1</cn></math></rateRule></listOfRules>",
       "non-constant compartment", "C", "size=\"2\" constant=\"true\"",
       "size=\"2\" constant=\"false\""},
      {"piecewise on a species", reaction_start + "<piecewise><piece><ci>k</ci><apply><lt/>"
           "<ci>S</ci><cn>1</cn></apply></piece><otherwise><cn>0</cn></otherwise></piecewise>" +
           reaction_end, "math", ""},
      {"more species than the library holds",
       "<listOfSpecies>" + many + "</listOfSpecies>", "size", "m"},
  };
  for (const Case& c : cases) {
    std::string xml = Sbml(c.body);
    if (!c.from.empty()) xml.replace(xml.find(c.from), c.from.size(), c.to);
    if (c.body.rfind("<listOfSpecies>", 0) == 0) {  // replaces the document's species
      const size_t a = xml.find("<listOfSpecies>"), b = xml.find("</listOfSpecies>") + 16;
      xml.replace(a, b - a, "");
    }
    SbmlImport out;
    SbmlDiagnostic why;
    EXPECT_EQ(ImportSbmlText(xml, out, why), 2) << c.what;
    EXPECT_EQ(why.construct, c.construct) << c.what << ": " << why.reason;
    EXPECT_EQ(why.id, c.id) << c.what << ": " << why.reason;
    EXPECT_TRUE(out.toml.empty()) << c.what;
  }
}

TEST(SbmlImport, RenamesReservedNamesAndKeepsLocalParametersApart) {
  // Ids the model language reserves (the notation A1, the time T, a function name) and a local
  // parameter with the id of a global one.
  const std::string xml = Sbml(
      R"(<listOfReactions><reaction id="R" reversible="false">
         <listOfReactants><speciesReference species="S" stoichiometry="1" constant="true"/>
         </listOfReactants><kineticLaw>)" + std::string(kMath) +
      R"(<apply><times/><ci>k</ci><ci>A1</ci><ci>T</ci><ci>exp</ci><ci>S</ci></apply></math>
         <listOfLocalParameters><localParameter id="k" value="7"/></listOfLocalParameters>
         </kineticLaw></reaction></listOfReactions>)",
      R"(<parameter id="k" value="0.5" constant="true"/>
         <parameter id="A1" value="2" constant="true"/>
         <parameter id="T" value="3" constant="true"/>
         <parameter id="exp" value="4" constant="true"/>)");
  SbmlImport out;
  SbmlDiagnostic why;
  ASSERT_EQ(ImportSbmlText(xml, out, why), 0) << why.reason;
  Model m;
  std::string message;
  ASSERT_EQ(ReadModelText(out.toml, "imported.toml", m, message), 0) << message << "\n"
                                                                       << out.toml;
  std::vector<std::string> names;
  for (const auto& a : m.adjustables) names.push_back(a.name + "=" + std::to_string(a.value));
  for (const char* want : {"A1_=2.000000", "T_=3.000000", "exp_=4.000000", "k=0.500000",
                           "R_k=7.000000"})
    EXPECT_NE(std::find(names.begin(), names.end(), want), names.end()) << want << "\n"
                                                                         << out.toml;
  ASSERT_EQ(m.reactions.size(), 1u);
  // The rate reads the local k, and is divided by the compartment for the concentration S.
  EXPECT_EQ(m.reactions[0].rates[0].text, "(R_k*A1_*T_*exp_*S)/C");
}

// Every species of both models simulated on the grid, the later intervals opening at the
// model's interval_times.
std::vector<std::vector<double>> Simulate(Model m, std::string& message) {
  std::vector<DataPoint> grid;
  size_t next = 0;
  for (int j = 0; j <= 40; ++j) {
    DataPoint p;
    p.time = 0.25 * j;
    while (next < m.interval_times.size() && m.interval_times[next] <= p.time + 1e-12) ++next;
    p.interval = static_cast<int>(next) + 1;
    grid.push_back(p);
  }
  m.outputs.clear();
  for (const auto& s : m.species) m.outputs.push_back({s.name, {s.name, s.name, 0, 0}, 0, 0});
  for (auto& p : grid) p.values.assign(m.outputs.size(), {});
  Dataset data;
  data.points = grid;
  data.replicate_columns.assign(m.outputs.size(), 0);
  data.last_interval = grid.back().interval;
  Prepared p;
  std::vector<std::string> errors;
  std::vector<std::vector<double>> y;
  if (PrepareModel(m, {}, &data, p, errors) != 0) {
    message = errors.front();
    return y;
  }
  if (SimulateAt(p, p.values, grid, y, message) != 0) y.clear();
  return y;
}

TEST(SbmlExport, ValidatesAndImportsBackToTheSameSimulation) {
  const std::vector<std::pair<const char*, std::string>> models = {
      {"reactions and a bound adjustable", R"toml(tolerance = 1e-10
species = [ { name = "A", start = "Azero" }, { name = "B" }, { name = "C" } ]
adjustables = [ { name = "k1", value = 0.7 }, { name = "k2", value = 0.3 },
                { name = "Azero", value = 1 }, { name = "half", equal_to = "Azero/2" } ]
outputs = [ { name = "Abs", formula = "2*A + half*B" } ]
[[reactions]]
equation = "2 A -> B"
rate = "k1"
[[reactions]]
equation = "B <=> C"
rate = ["k2", "k2/3"]
)toml"},
      {"split rates, exp, ln, powers and the time", R"toml(tolerance = 1e-10
species = [ { name = "S", start = "2" }, { name = "P" } ]
adjustables = [ { name = "Vmax", value = 1.5 }, { name = "Km", value = 0.4 } ]
outputs = [ { name = "signal", formula = "ln(1 + P)" } ]
[rates]
S = { S = "-Vmax/(Km + S)" }
P = { S = "Vmax/(Km + S)", free = "0.01*exp(-T)*S^0.5" }
)toml"},
      {"a reset at a time of its own, reading a parameter of the interval", R"toml(tolerance = 1e-10
interval_times = [4.0]
species = [ { name = "A", start = ["1", "A + dose"] }, { name = "B", start = ["0", "0"] } ]
parameters = [ { name = "dose", equation = ["1", "2 + 0*B"] } ]
adjustables = [ { name = "k", value = 0.5 } ]
outputs = [ { name = "A", formula = "A" } ]
[rates]
A = "-k*A"
B = "k*A"
)toml"},
  };
  for (const auto& [what, text] : models) {
    Model original;
    std::string message;
    ASSERT_EQ(ReadModelText(text, "model.toml", original, message), 0) << what << ": " << message;
    std::string xml;
    std::vector<std::string> problems;
    ASSERT_EQ(ExportSbml(original, xml, problems), 0)
        << what << ": " << (problems.empty() ? "" : problems.front());
    EXPECT_TRUE(SbmlErrors(xml).empty()) << what << ": " << SbmlErrors(xml).front();
    SbmlImport back;
    SbmlDiagnostic why;
    ASSERT_EQ(ImportSbmlText(xml, back, why), 0) << what << ": " << why.reason;
    Model again;
    ASSERT_EQ(ReadModelText(back.toml, "again.toml", again, message), 0)
        << what << ": " << message << "\n" << back.toml;
    const auto y0 = Simulate(original, message);
    ASSERT_FALSE(y0.empty()) << what << ": " << message;
    const auto y1 = Simulate(again, message);
    ASSERT_EQ(y1.size(), y0.size()) << what << ": " << message;
    // Species by name: a parameter that events set comes back as a species of its own.
    for (size_t o = 0; o < original.species.size(); ++o) {
      size_t o1 = 0;
      while (o1 < again.species.size() && again.species[o1].name != original.species[o].name) ++o1;
      ASSERT_LT(o1, again.species.size()) << what << ": " << original.species[o].name;
      for (size_t j = 0; j < y0.size(); ++j)
        EXPECT_NEAR(y1[j][o1], y0[j][o], 1e-7 * std::max(1.0, std::fabs(y0[j][o])))
            << what << ": point " << j << ", species " << original.species[o].name;
    }
    // The reset of the third model happened: A jumps by 2 at t = 4.
    if (!original.interval_times.empty()) {
      EXPECT_GT(y0[16][0], y0[15][0] + 1.5) << what;
    }
  }
}

TEST(SbmlExport, RefusesIntervalsWithoutTimes) {
  Model m;
  std::string message;
  ASSERT_EQ(ReadModelText(R"(species = [ { name = "A", start = ["1", "2"] } ]
outputs = [ { name = "A", formula = "A" } ]
)", "model.toml", m, message), 0) << message;
  std::string xml;
  std::vector<std::string> problems;
  EXPECT_EQ(ExportSbml(m, xml, problems), 2);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("interval_times"), std::string::npos) << problems[0];
}

}  // namespace
}  // namespace tarvo::frontend
