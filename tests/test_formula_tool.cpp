// The `tarvo formula` command, run as a user runs it: the documented formula examples through
// --json --fresh, the JSON shape, EqualTo preparation, the readable account and bad options.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace {

using nlohmann::json;

struct ToolRun {
  int status;
  std::string out;
};

std::string Quote(const std::string& arg) {
  std::string q = "'";
  for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

ToolRun Tarvo(const std::vector<std::string>& args) {
  std::string command = Quote(std::string(TARVO_BINARY_DIR) + "/tarvo");
  for (const std::string& a : args) command += " " + Quote(a);
  command += " 2>&1";
  ToolRun r{-1, ""};
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return r;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
  const int status = pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::vector<json> JsonLines(const std::string& out) {
  std::vector<json> lines;
  size_t start = 0;
  while (start < out.size()) {
    const size_t end = out.find('\n', start);
    lines.push_back(json::parse(out.substr(start, end - start)));
    start = end == std::string::npos ? out.size() : end + 1;
  }
  return lines;
}

// Values of the variables in every run below.
const std::vector<std::string> kSets = {"--set", "F1=1.5", "--set", "F2=2",  "--set", "P1=-3",
                                        "--set", "P2=4",   "--set", "P3=5",  "--set", "T=2",
                                        "--set", "A1=3"};

constexpr double kNull = -12345.0;  // expectation: the value is null

struct Example {
  const char* host;
  const char* coded;
  int tokenize_errors;
  double value;  // kNull, or NaN for a value that must be a string (see text)
  const char* text = nullptr;
};

void CheckExamples(const std::vector<Example>& examples, std::vector<std::string> extra) {
  std::vector<std::string> args = {"formula", "--json", "--fresh"};
  args.insert(args.end(), kSets.begin(), kSets.end());
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back("--");
  for (const Example& e : examples) args.push_back(e.host);
  const ToolRun r = Tarvo(args);
  ASSERT_EQ(r.status, 0) << r.out;
  const std::vector<json> lines = JsonLines(r.out);
  ASSERT_EQ(lines.size(), examples.size()) << r.out;
  for (size_t i = 0; i < examples.size(); ++i) {
    const Example& e = examples[i];
    const json& j = lines[i];
    EXPECT_EQ(j["host"], e.host);
    EXPECT_EQ(j["coded"], e.coded) << e.host;
    EXPECT_EQ(j["tokenize_errors"], e.tokenize_errors) << e.host;
    if (e.text) {
      EXPECT_EQ(j["value"], e.text) << e.host;
    } else if (e.value == kNull) {
      EXPECT_TRUE(j["value"].is_null()) << e.host;
    } else {
      ASSERT_TRUE(j["value"].is_number()) << e.host << " " << j.dump();
      EXPECT_NEAR(j["value"].get<double>(), e.value, 1e-12 * (1.0 + std::fabs(e.value)))
          << e.host;
    }
    if (e.tokenize_errors != 0) {
      for (const char* key : {"simplified", "faults", "slots", "value"})
        EXPECT_TRUE(j[key].is_null()) << e.host << " " << key;
    }
  }
}

TEST(FormulaTool, NotationAndTokenizerExamples) {
  const double f1 = 1.5, p1 = -3, p3 = 5, t = 2;
  CheckExamples(
      {
          {"2*F1 - P3/T", "+Ca*Fa-Pc/Ta", 0, 2 * f1 - p3 / t},
          {"F12", "+Fl", 0, 0.0},
          {"F1", "+Fa", 0, f1},
          {"f1", "+fCa", 0, kNull},
          {"ex(F1)", "+ex(Fa)", 0, std::exp(f1)},
          {"EX(F1)", "+EX(Fa)", 0, std::exp(f1)},
          {"EXP(F1)", "+EXP`Fa)", 1, kNull},
          {"F1*2", "+Fa*Ca", 0, f1 * 2},
          {"-2*F1", "+Ca*Fa", 0, -2 * f1},
          {"F1-3", "+Fa+Ca", 0, f1 - 3},
          {"-2^2", "+Ca^Cb", 0, 4.0},
          {"F1^-2", "+Fa^+Ca", 0, 1 / (f1 * f1)},
          {"1.5E-3", "+Ca", 0, 0.0015},
          {"2E", "+Ca", 3, kNull},
          {"P12", "+Pl", 0, 0.0},
          {"P1", "+Pa", 0, p1},
          {"P", "+P`", 1, kNull},
          {"((F1))", "+(+(Fa))", 0, f1},
          {"T", "+Ta", 0, t},
          {"2*T", "+Ca*Ta", 0, 2 * t},
          {"1.2.3", "+Ca", 4, kNull},
          {"2*F1+2", "+Ca*Fa+Ca", 0, 2 * f1 + 2},
          {"1/0", "+Ca/Cb", 0, 9.999999999999999E129},
          {"EX(1000)", "+EX(Ca)", 0, 0, "inf"},
          {"-EX(1000)", "-EX(Ca)", 0, 0, "-inf"},
          {"EX(1000)-EX(1000)", "+EX(Ca)-EX(Ca)", 0, 0, "nan"},
          {"(-8)^(1/3)", "+(+Ca)^(Cb/Cc)", 0, 0, "invalid-operation"},
      },
      {});
}

TEST(FormulaTool, CompilerExamples) {
  const double f1 = 1.5, f2 = 2, p1 = -3, p2 = 4;
  CheckExamples(
      {
          {"-F1*P2+C1", "-Fa*Pb+Ca", 0, -f1 * p2 + 2.0},  // slot 1 holds the 2 of A2's text
          {"F1^2^3", "+Fa^Ca^Cb", 0, std::pow(std::pow(f1, 2), 3)},
          {"2*F1^(+F2^3)", "+Ca*Fa^(+Fb^Cb)", 0, 2 * std::pow(f1, std::pow(f2, 3))},
          {"(F1+F2)*P1", "+(Fa+Fb)*Pa", 0, (f1 + f2) * p1},
          {"EY(F1)", "+EY(Fa)", 0, kNull},
          {"Q1", "+Qa", 0, kNull},
          {"F1,F2", "+Fa,Fb", 0, kNull},
          {"F1+", "+Fa+", 0, f1},
          {"F1^EX(F2)", "+Fa^EX(Fb)", 0, kNull},
          {"F1+E", "+Fa+E", 0, kNull},
          {"F45", "+F\u008d", 0, kNull},
          {"A2", "+Ab", 0, 3.0 * 2},
          {"A2*P2+A2", "+Ab*Pb+Ab", 0, 3.0 * 2 * p2 + 3.0 * 2},
      },
      {"--equal-to", "A2=A1*2"});
}

// Without simplification the compiler sees the tokenizer's text: slot counts and fault counts
// are its own.
TEST(FormulaTool, SlotsAndFaultsAsCompiled) {
  struct Case {
    const char* host;
    int faults;
    int slots;  // -1: not compiled
  };
  const Case cases[] = {
      {"F1", 0, 1},          {"-F1*P2+C1", 0, 3},  {"F1^2^3", 0, 5},      {"(F1+F2)*P1", 0, 3},
      {"ex(F1)", 0, 3},      {"EX(F1)", 0, 3},     {"EY(F1)", 1, 2},      {"Q1", 1, 1},
      {"F1,F2", 2, 2},       {"F1+", 0, 1},        {"F1^EX(F2)", 1, 3},   {"F1+E", 1, 2},
      {"F45", 1, 1},         {"A2+A2", 0, 4},      {"A3", 0, 1},          {"EXP(F1)", 0, -1},
      {"F1^-2", 1, 3},
  };
  std::vector<std::string> args = {"formula", "--json", "--fresh", "--no-simplify",
                                   "--equal-to", "A2=A1*2", "--"};
  for (const Case& c : cases) args.push_back(c.host);
  const ToolRun r = Tarvo(args);
  ASSERT_EQ(r.status, 0) << r.out;
  const std::vector<json> lines = JsonLines(r.out);
  ASSERT_EQ(lines.size(), std::size(cases));
  for (size_t i = 0; i < lines.size(); ++i) {
    const json& j = lines[i];
    const Case& c = cases[i];
    if (c.slots < 0) {
      EXPECT_TRUE(j["faults"].is_null() && j["slots"].is_null()) << c.host;
      continue;
    }
    EXPECT_EQ(j["simplified"], j["coded"]) << c.host;
    EXPECT_EQ(j["faults"], c.faults) << c.host;
    EXPECT_EQ(j["slots"], c.slots) << c.host;
    EXPECT_EQ(j["value"].is_null(), c.faults != 0) << c.host;
  }
}

TEST(FormulaTool, JsonShape) {
  const ToolRun r = Tarvo({"formula", "--json", "--set", "F1=2", "F1*3", "Q1"});
  ASSERT_EQ(r.status, 0) << r.out;
  const std::vector<json> lines = JsonLines(r.out);
  ASSERT_EQ(lines.size(), 2u);
  const std::vector<std::string> keys = {"host",   "coded", "tokenize_errors", "simplified",
                                         "faults", "slots", "value"};
  for (const json& j : lines) {
    std::vector<std::string> got;
    for (auto it = j.begin(); it != j.end(); ++it) got.push_back(it.key());
    std::sort(got.begin(), got.end());
    std::vector<std::string> want = keys;
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
  }
  EXPECT_EQ(r.out.substr(0, 8), "{\"host\":");  // keys in the documented order
  EXPECT_EQ(lines[0]["value"], 6.0);
  EXPECT_EQ(lines[1]["faults"], 1);
  EXPECT_TRUE(lines[1]["value"].is_null());
}

// Without --fresh the constant table carries over from one TEXT to the next, as it does across
// the formulas of a model; with it each TEXT starts from a newly loaded table.
TEST(FormulaTool, ConstantTableAcrossTexts) {
  const ToolRun shared = Tarvo({"formula", "--json", "--no-simplify", "3*F1", "2*F1", "3"});
  const ToolRun fresh = Tarvo({"formula", "--json", "--fresh", "--no-simplify", "3*F1", "2*F1", "3"});
  ASSERT_EQ(shared.status, 0);
  ASSERT_EQ(fresh.status, 0);
  const std::vector<json> s = JsonLines(shared.out), f = JsonLines(fresh.out);
  ASSERT_EQ(s.size(), 3u);
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(s[0]["coded"], "+Ca*Fa");
  EXPECT_EQ(s[1]["coded"], "+Cb*Fa");
  EXPECT_EQ(s[2]["coded"], "+Ca");
  EXPECT_EQ(f[1]["coded"], "+Ca*Fa");
  EXPECT_EQ(f[2]["value"], 3.0);
}

// EqualTo expressions are prepared as set-up prepares them; a cycle among them is refused
// instead of recursing.
TEST(FormulaTool, EqualToPreparation) {
  const ToolRun cycle = Tarvo({"formula", "--json", "--fresh", "--equal-to", "A1=A2+1",
                           "--equal-to", "A2=A1*2", "A1", "A2", "F1"});
  ASSERT_EQ(cycle.status, 0) << cycle.out;
  EXPECT_NE(cycle.out.find("EqualTo expressions report"), std::string::npos) << cycle.out;
  std::vector<json> lines;
  for (size_t start = 0; start < cycle.out.size();) {
    const size_t end = cycle.out.find('\n', start);
    const std::string line = cycle.out.substr(start, end - start);
    if (!line.empty() && line[0] == '{') lines.push_back(json::parse(line));
    start = end == std::string::npos ? cycle.out.size() : end + 1;
  }
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_GE(lines[0]["faults"].get<int>(), 1);
  EXPECT_GE(lines[1]["faults"].get<int>(), 1);
  EXPECT_EQ(lines[2]["faults"], 0);
}

TEST(FormulaTool, ReadableAccount) {
  const ToolRun r = Tarvo({"formula", "--set", "F1=2", "--equal-to", "A1=F1*10", "2*A1+EX(F1)"});
  ASSERT_EQ(r.status, 0) << r.out;
  for (const char* piece : {"A1 = F1*10", "[=2]", "Op_Call", "Op_Exp", "function cell",
                            "F1", "value       "}) {
    EXPECT_NE(r.out.find(piece), std::string::npos) << piece << "\n" << r.out;
  }
  const double value = 2 * 20 + std::exp(2.0);
  const size_t at = r.out.find("value       ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_NEAR(std::stod(r.out.substr(at + 12)), value, 1e-12 * value);
  // Nested programs are indented under the slot that calls them.
  EXPECT_NE(r.out.find("\n            0  Op_First     F1"), std::string::npos) << r.out;
}

TEST(FormulaTool, BadOptionsExitWithStatusTwo) {
  const std::vector<std::vector<std::string>> bad = {
      {"formula", "--bogus", "F1"},
      {"formula"},
      {"formula", "--set", "X1=2", "F1"},
      {"formula", "--set", "F31=2", "F1"},
      {"formula", "--set", "F1=abc", "F1"},
      {"formula", "--set", "F1", "F1"},
      {"formula", "--equal-to", "B1=F1", "F1"},
      {"formula", "--equal-to", "A51=F1", "F1"},
      {"formula", "--equal-to", "A1=F1", "--equal-to", "A1=F2", "F1"},
  };
  for (const auto& args : bad) {
    const ToolRun r = Tarvo(args);
    EXPECT_EQ(r.status, 2) << args.size() << " " << r.out;
    EXPECT_FALSE(r.out.empty());
  }
  // Malformed formulas are no usage error.
  EXPECT_EQ(Tarvo({"formula", "--json", "((", "^^", "1.2.3", ""}).status, 0);
}

}  // namespace
