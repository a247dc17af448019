// The model language above the split form: reactions turned into rates must give, through
// the library's own evaluation, exactly the rates a chemist would write by hand; transformed
// adjustables must start where the user put them, and the library's evaluation of their
// binding must agree with the front end's, slope included.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "language/model_file.h"
#include "language/prepare.h"
#include "language/reactions.h"
#include "analysis/simulate_at.h"
#include "language/transforms.h"
#include "support/transforms_text.h"

namespace tarvo::frontend {
namespace {

namespace fs = std::filesystem;

// Mass action of every order (zero-order production, a reversible pair with a product
// squared), a catalyst that nets to zero, rate laws with sums, powers, a species in a
// denominator and a term without a species factor, and a hand-written [rates] term on top.
const char* kReactions = R"toml(data = "unused.csv"
species = [ { name = "A", start = "a0" }, { name = "B", start = "b0" }, { name = "P", start = "p0" },
            { name = "S", start = "s0" }, { name = "E", start = "e0" } ]
adjustables = [ { name = "a0", value = 1 }, { name = "b0", value = 1 }, { name = "p0", value = 1 },
                { name = "s0", value = 1 }, { name = "e0", value = 1 }, { name = "k", value = 0.7 },
                { name = "kf", value = 1.3 }, { name = "kr", value = 0.4 },
                { name = "Vmax", value = 2.1 }, { name = "Km", value = 0.3 } ]
outputs = [ { name = "Y", formula = "A" } ]

[[reactions]]
equation = "2 A -> P"
rate = "k"
[[reactions]]
equation = "A + B <=> 2 P"
rate = ["kf", "kr"]
[[reactions]]
equation = "S + E -> P + E"
rate = "Vmax*S/(Km + S) - 0.1*A^2*B + kf*(A + B)"
[[reactions]]
equation = "S -> B"
rate = "S^3/Km - 2*E*S^2 + S/(1 + E)"
[[reactions]]
equation = " -> E"
rate = "kr"

[rates]
A = { A = "-0.01" }
)toml";

// The same rates written out by hand, in species order A, B, P, S, E.
const char* kByHand[] = {
    "-0.01*A - 2*k*A^2 - kf*A*B + kr*P^2",
    "-kf*A*B + kr*P^2 + (S^3/Km - 2*E*S^2 + S/(1 + E))",
    "k*A^2 + 2*kf*A*B - 2*kr*P^2 + (Vmax*S/(Km + S) - 0.1*A^2*B + kf*(A + B))",
    "-(Vmax*S/(Km + S) - 0.1*A^2*B + kf*(A + B)) - (S^3/Km - 2*E*S^2 + S/(1 + E))",
    "kr",
};

TEST(CliLanguage, DerivedSplitFormEqualsHandWrittenRatesAtRandomStates) {
  const fs::path dir = fs::temp_directory_path() / "cli-language-rates.toml";
  std::ofstream(dir) << kReactions;
  Prepared p;
  std::string message;
  ASSERT_EQ(ReadModel(dir.string(), p.model, message), 0) << message;
  fs::remove(dir);
  // Outputs 2k and 2k+1: the derived rate of species k and the hand-written one. The first
  // grid point is the start, so the outputs there are the rates at the start state.
  Model& m = p.model;
  m.outputs.clear();
  for (size_t s = 0; s < m.species.size(); ++s) {
    std::string derived = "0";
    for (const auto& r : m.rates)
      if (r.species == m.species[s].name) derived = RateExpression(r);
    m.outputs.push_back({"d" + m.species[s].name, {derived, "derived", 0, 0}, 0});
    m.outputs.push_back({"h" + m.species[s].name, {kByHand[s], "by hand", 0, 0}, 0});
  }
  std::vector<std::string> errors;
  ASSERT_EQ(TranslateModel(m, 1, p.text, errors), 0) << errors.front();
  for (const auto& a : m.adjustables) p.values.push_back(a.value);
  p.free.assign(m.adjustables.size(), false);
  std::vector<DataPoint> grid(2);
  for (int j = 0; j < 2; ++j) {
    grid[j].time = j;
    grid[j].values.assign(m.outputs.size(), {});
  }
  p.data.points = grid;
  std::mt19937 rng(15);
  std::uniform_real_distribution<double> state(0.05, 3.0);
  for (int draw = 0; draw < 20; ++draw) {
    for (int s = 0; s < 5; ++s) p.values[s] = state(rng);
    std::vector<std::vector<double>> y;
    ASSERT_EQ(SimulateAt(p, p.values, grid, y, message), 0) << message;
    for (size_t s = 0; s < m.species.size(); ++s) {
      const double derived = y[0][2 * s], by_hand = y[0][2 * s + 1];
      EXPECT_NEAR(derived, by_hand, 1e-12 * std::max(1.0, std::fabs(by_hand)))
          << "d" << m.species[s].name << "/dt, draw " << draw;
    }
  }
}

TEST(CliLanguage, TransformsStartAtTheUsersValueAndAgreeWithTheLibrary) {
  const struct {
    const char* keys;
    double v0;
  } cases[] = {
      {"scale = \"log\"", 0.3},           {"scale = \"linear\"", -2},
      {"scale = \"linear\"", 0},          {"min = 0, max = 1", 0.2},
      {"scale = \"log\", min = 1e-3, max = 10", 0.05}, {"min = 0.5", 3},
      {"scale = \"linear\", max = 4", -1}, {"scale = \"log\", max = 100", 7},
  };
  std::string toml = "data = \"unused.csv\"\nspecies = [ { name = \"A\" } ]\nadjustables = [\n";
  std::string outputs = "outputs = [\n";
  for (size_t c = 0; c < std::size(cases); ++c) {
    const std::string name = "v" + std::to_string(c);
    toml += "  { name = \"" + name + "\", value = " + std::to_string(cases[c].v0) +
            ", free = true, " + cases[c].keys + " },\n";
    outputs += "  { name = \"Y" + std::to_string(c) + "\", formula = \"" + name + "\" },\n";
  }
  toml += "]\n" + outputs + "]\n";
  Prepared p;
  const std::vector<Transform> ts =
      testcli::TransformsOfText(toml, "cli-language-transforms.toml", p);
  ASSERT_FALSE(HasFailure());
  ASSERT_EQ(ts.size(), std::size(cases));
  std::string message;
  std::vector<DataPoint> grid(2);
  for (int j = 0; j < 2; ++j) {
    grid[j].time = j;
    grid[j].values.assign(std::size(cases), {});
  }
  for (const double factor : {1.0, 0.05, 7.0}) {
    std::vector<double> values = p.values;
    for (const Transform& t : ts) values[t.hidden] *= factor;
    std::vector<std::vector<double>> y;
    ASSERT_EQ(SimulateAt(p, values, grid, y, message), 0) << message;
    for (size_t c = 0; c < ts.size(); ++c) {
      const Transform& t = ts[c];
      const double u = values[t.hidden], v = UserValue(t, u);
      const double tol = 1e-12 * std::max(1.0, std::fabs(v));
      if (factor == 1) {
        EXPECT_NEAR(v, cases[c].v0, tol) << cases[c].keys;
      }
      EXPECT_NEAR(y[0][c], v, tol) << cases[c].keys << ", factor " << factor;
      const double h = 1e-5;
      EXPECT_NEAR(UserSlope(t, u), (UserValue(t, u + h) - UserValue(t, u - h)) / (2 * h),
                  1e-6 * std::max(1.0, std::fabs(UserSlope(t, u))))
          << cases[c].keys << ", factor " << factor;
      EXPECT_GT(UserSlope(t, u), 0) << cases[c].keys;
    }
  }
}

}  // namespace
}  // namespace tarvo::frontend
