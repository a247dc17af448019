// The worked examples: each one's data are what examples/make_data.sh makes from the recorded
// truth, and fitting each one brings every true value within three standard deviations of
// its fitted value.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>
#include <toml++/toml.h>

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class CliExamples : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "cli-examples-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    out_ = pattern;
    example_ = std::string(TARVO_SOURCE_DIR) + "/examples/" + GetParam();
  }
  void TearDown() override { fs::remove_all(out_); }
  int Run(const std::string& args) {
    const std::string cmd = "cd '" + example_ + "' && '" + TARVO_BINARY_DIR + "/tarvo' " + args +
                            " >'" + out_ + "/out.txt' 2>'" + out_ + "/err.txt'";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string out_, example_;
};

TEST_P(CliExamples, DataComeFromTheTruthByTheScript) {
  // The options of each example's line in examples/make_data.sh, as recorded in the data.
  const std::string data = ReadFile(example_ + "/data.csv");
  const std::string made_by = "# made by: tarvo synth ";
  ASSERT_EQ(data.rfind(made_by, 0), 0u);
  std::string args = data.substr(made_by.size(), data.find('\n') - made_by.size());
  ASSERT_EQ(Run("synth " + args + " -o '" + out_ + "/data.csv'"), 0) << ReadFile(out_ + "/err.txt");
  EXPECT_EQ(ReadFile(out_ + "/data.csv"), data);
  EXPECT_NE(args.find("--truth truth.toml"), std::string::npos);
}

TEST_P(CliExamples, FitFindsTheTruthWithinThreeStandardDeviations) {
  ASSERT_EQ(Run("check model.toml"), 0) << ReadFile(out_ + "/err.txt");
  // A bundled example warns about nothing: a warning on every run teaches users to skip them.
  EXPECT_EQ(ReadFile(out_ + "/err.txt"), "");
  ASSERT_EQ(Run("fit -q model.toml -o '" + out_ + "'"), 0)
      << ReadFile(out_ + "/out.txt") << ReadFile(out_ + "/err.txt");
  const nlohmann::json fit = nlohmann::json::parse(ReadFile(out_ + "/fit.json"));
  EXPECT_EQ(fit["outcome"], "converged");
  const toml::table truth = toml::parse_file(example_ + "/truth.toml");
  int compared = 0;
  for (const auto& a : fit["adjustables"]) {
    const std::string name = a["name"];
    const auto true_value = truth[name].value<double>();
    if (a["status"] != "free") {
      EXPECT_FALSE(true_value) << name << " has a true value but is not fitted";
      continue;
    }
    ASSERT_TRUE(true_value) << name << " is fitted but has no true value";
    const double value = a["value"], sd = a["sd"];
    EXPECT_GT(sd, 0) << name;
    EXPECT_LE(std::fabs(value - *true_value), 3 * sd)
        << name << ": fitted " << value << " +- " << sd << ", true " << *true_value;
    ++compared;
  }
  EXPECT_EQ(compared, static_cast<int>(truth.size()));
  EXPECT_TRUE(fs::exists(out_ + "/plot.png"));
  EXPECT_TRUE(fs::exists(out_ + "/points.csv"));
}

INSTANTIATE_TEST_SUITE_P(Examples, CliExamples,
                         ::testing::Values("consecutive", "enzyme", "two_compartment",
                                           "second_order", "bounded"));

// Three experiments fitted together: the shared constants and the per-experiment offsets
// (two of them negative, reached from a positive start) land inside their 95 % intervals,
// and the report has one line per experiment.
TEST(CliExampleExperiments, GlobalFitFindsEveryTruthInsideItsInterval) {
  const std::string dir = std::string(TARVO_SOURCE_DIR) + "/examples/global_reversible";
  const fs::path out = fs::temp_directory_path() / "cli-examples-global";
  const std::string cmd = "cd '" + dir + "' && '" + TARVO_BINARY_DIR + "/tarvo' fit -q model.toml -o '" +
                          out.string() + "' >'" + out.string() + ".txt' 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << ReadFile(out.string() + ".txt");
  const std::string report = ReadFile(out.string() + ".txt");
  for (const char* e : {"low ", "mid ", "high "})
    EXPECT_NE(report.find(std::string("\n") + e), std::string::npos) << e << report;
  const nlohmann::json fit = nlohmann::json::parse(ReadFile((out / "fit.json").string()));
  const toml::table truth = toml::parse_file(dir + "/truth.toml");
  int compared = 0;
  for (const auto& a : fit["adjustables"]) {
    const auto true_value = truth[a["name"].get<std::string>()].value<double>();
    if (!true_value) continue;
    ASSERT_TRUE(a["ci"].is_object()) << a["name"];
    EXPECT_GE(*true_value, a["ci"]["lower"].get<double>()) << a["name"];
    EXPECT_LE(*true_value, a["ci"]["upper"].get<double>()) << a["name"];
    ++compared;
  }
  EXPECT_EQ(compared, static_cast<int>(truth.size()));
  fs::remove_all(out);
  fs::remove(out.string() + ".txt");
}

}  // namespace
