// The simplifier pass by pass, on coded texts written directly, then the whole road from
// host text through Tokenize and Simplify, and the same examples through `tarvo formula`.
//
// In the tables a constant token is written {value}: inputs are encoded with ConstName, and
// results are decoded back, so the tables do not depend on slot letters.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <type_traits>
#include <vector>

#include <nlohmann/json.hpp>

#include "Symbolic/cells.h"
#include "Symbolic/primitives.h"
#include "Symbolic/simplify.h"
#include "Symbolic/tokenizer.h"

using namespace tarvo;

namespace {

// The value cells and constant table every formula of this file is compiled against.
FormulaCells cells;
ConstantTable& constants = cells.constants;


// "+Fa*{8.314}" -> coded text with the token of 8.314.
Text Encode(const std::string& s) {
  Text out;
  for (size_t k = 0; k < s.size(); ++k) {
    if (s[k] == '{') {
      const size_t close = s.find('}', k);
      out += ConstName(constants, std::strtod(s.substr(k + 1, close - k - 1).c_str(), nullptr));
      k = close;
    } else {
      out += static_cast<char16_t>(s[k]);
    }
  }
  return out;
}

// Coded text -> "+Fa*{8.314}"; any character outside ASCII as \uXXXX.
std::string Decode(const Text& t) {
  std::string out;
  for (size_t k = 0; k < t.size(); ++k) {
    const char16_t c = t[k];
    if (c == u'C' && k + 1 < t.size() && t[k + 1] > 0x60) {
      const int n = IndexOf(t[k + 1]);
      if (n >= 1 && n < constants.count) {
        char buf[40];
        const auto r = std::to_chars(buf, buf + sizeof buf, constants.value[n - 1]);
        out += "{" + std::string(buf, r.ptr) + "}";
        ++k;
        continue;
      }
    }
    if (c < 128) {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
      out += buf;
    }
  }
  return out;
}

struct Case {
  const char* input;
  const char* expected;
};

// A pass of the text alone, or of the text and the constant table.
template <class Pass>
void RunTable(Pass pass, const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    ResetConstants(constants);
    Text text = Encode(c.input);
    if constexpr (std::is_invocable_v<Pass, Text&>)
      pass(text);
    else
      pass(text, constants);
    EXPECT_EQ(Decode(text), c.expected) << "input " << c.input;
  }
}

std::string Pipeline(const std::string& host) {
  ResetConstants(constants);
  Text text(host.begin(), host.end());
  int16_t error = 0;
  Tokenize(text, error, constants);
  EXPECT_EQ(error, 0) << host;
  Simplify(text, constants);
  return Decode(text);
}

TEST(NormalizeSigns, OperatorPairsInOneScan) {
  RunTable(NormalizeSigns, {
      {"++Fa", "+Fa"},
      {"+-Fa", "-Fa"},
      {"--Fa", "+Fa"},
      {"--", "+"},
      {"+Fa--Fb", "+Fa+Fb"},
      {"+Fa-+Fb", "+Fa-Fb"},
      {"+Fa-*Fb", "+Fa-Fb"},
      {"+(Fa)", "+(Fa)"},
      {"+()", "+)"},
      {"+(+Fa)", "+(Fa)"},
      {"+(*Fa)", "+(Fa)"},
      {"+(-Fa)", "+(-Fa)"},
      {"+Fa*)", "+Fa)"},
      {"+Fa**Fb", "+Fa*Fb"},
      {"+Fa*+Fb", "+Fa*Fb"},
      {"+Fa*/Fb", "+Fa/Fb"},
      {"+Fa+)", "+Fa)"},
      {"+*Fa", "+Fa"},
      {"+Fa-)", "+Fa)"},
      {"+Fa/)", "+Fa)"},
      {"+Fa/*Fb", "+Fa/Fb"},
      {"+Fa/+Fb", "+Fa/Fb"},
      {"+Fa//Fb", "+Fa/Fb"},
      {"+Fa^+{2}", "+Fa^{2}"},
      {"+Fa^-{2}", "+Fa^-{2}"},
      // A pair that a deletion brings together waits for the next scan.
      {"+Fa-+-Fb", "+Fa--Fb"},
      {"+Fa^++{2}", "+Fa^+{2}"},
  });
}

TEST(NormalizeSigns, MinusAfterTimesMovesToTheProductsSign) {
  RunTable(NormalizeSigns, {
      {"+Aa*Fa*-Fb", "-Aa*Fa*Fb"},
      {"-Aa*Fa*-Fb", "+Aa*Fa*Fb"},
      {"+Fa-Fb*-Fc", "+Fa+Fb*Fc"},
      {"+Fa*(Fb-Fc)*-Fd", "-Fa*(Fb-Fc)*Fd"},
      {"+Fa*(Fb+(Fc-Fd))*-Pa", "-Fa*(Fb+(Fc-Fd))*Pa"},
      {"+EX(Fa-Fb)/Fc*-Fd", "-EX(Fa-Fb)/Fc*Fd"},
      {"+Fa^Fb*-Fc", "-Fa^Fb*Fc"},
      {"+Fe*-Pl", "-Fe*Pl"},
      // A product without a sign of its own gets one: it opens its group, a function's
      // argument or the text.
      {"+Fc*(Fa*-Fb+Fd)", "+Fc*(-Fa*Fb+Fd)"},
      {"+EX(Fa*-Fb)", "+EX(-Fa*Fb)"},
      {"+Fa^(Fb*-Fc)", "+Fa^(-Fb*Fc)"},
      {"Fa*-Fb", "-Fa*Fb"},
      {"(Fa+Fb)*-Fc", "-(Fa+Fb)*Fc"},
      {"+((Fa+Fb)*-Fc)", "+(-(Fa+Fb)*Fc)"},
      // A stray `)` ends the walk at the first character.
      {"+Fa)*-Fb", "-Fa)*Fb"},
      {"*-Fb", "-*Fb"},
  });
}

TEST(DropParens, BracketsThatChangeNothingGo) {
  RunTable(DropParens, {
      {"+(Fa)", "+Fa"},
      {"+Fa-(Fb)", "+Fa-Fb"},
      {"+(Fa*Fb)*Fc", "+Fa*Fb*Fc"},
      {"+Fa/(Fb/Fc/Fd)*Fe", "+Fa/Fb*Fc*Fd*Fe"},
      {"+Fa/(Fb*Fc/Fd)*Pa", "+Fa/Fb/Fc*Fd*Pa"},
      {"+Fa/(Fb^(Pa*Pb)*Fc)*Pc", "+Fa/Fb^(Pa*Pb)/Fc*Pc"},
      {"+Fa/((Fb*Fc)*Fd)*Pa", "+Fa/(Fb*Fc)/Fd*Pa"},
      {"+Pa*EX(-Pb/({8}*Ta))", "+Pa*EX(-Pb/{8}/Ta)"},
      {"+Ca^(Fa)", "+Ca^Fa"},
      {"+(Fa)^Cb", "+Fa^Cb"},
      {"+(Fa^Cb)*Fc", "+Fa^Cb*Fc"},
      {"+Fa*(Pb)", "+Fa*Pb"},
      {"+Fa*()", "+Fa*"},
      // A `(` without partner: only the bracket goes when nothing follows that it groups.
      {"+Fa*(Fb", "+Fa*Fb"},
  });
}

TEST(DropParens, BracketsThatMatterStay) {
  RunTable(DropParens, {
      {"+Fa*(Fb*Fc+Fd)", "+Fa*(Fb*Fc+Fd)"},
      {"+Fa/(Fb*Fc)", "+Fa/(Fb*Fc)"},
      {"+(Fa*Fb)^Cc", "+(Fa*Fb)^Cc"},
      {"+Ca^(Fa^Cb)", "+Ca^(Fa^Cb)"},
      {"+(Fa^Cb)^Cc", "+(Fa^Cb)^Cc"},
      {"+Fa^(Fb*Fc)*Pa", "+Fa^(Fb*Fc)*Pa"},
      {"+Fa*(Fb*Fc)^Pa", "+Fa*(Fb*Fc)^Pa"},
      {"+Fa*(-Fb*Fc)*Pa", "+Fa*(-Fb*Fc)*Pa"},
      {"+Fa*EX(Fb)", "+Fa*EX(Fb)"},
      {"+Fa*ln(Fb*Fc)", "+Fa*ln(Fb*Fc)"},
      {"+Fa^(EX(Fb))", "+Fa^(EX(Fb))"},
      // Index 5 and 12 read as function letters.
      {"+Fa*(Fe*Fb)*Fc", "+Fa*(Fe*Fb)*Fc"},
      {"+Fa*(Pl)*Fc", "+Fa*(Pl)*Fc"},
      {"+Fe/(Fa*Fb)*Fc", "+Fe/(Fa*Fb)*Fc"},
      {"+Fa*(Fb*Fc+Fd", "+Fa*(Fb*Fc+Fd"},
      // Groups nested in a kept group wait for the recursion.
      {"+Fa*((Fb)+Fc)*Fd", "+Fa*((Fb)+Fc)*Fd"},
  });
}

TEST(FoldConstants, ProductsAndQuotientsOfConstants) {
  RunTable(FoldConstants, {
      {"*{6}/{3}/Fa", "*{2}/Fa"},
      {"+Fa/{2}/{4}/Fb", "+Fa/{8}/Fb"},
      {"+Fa/{2}/{4}", "+Fa/{2}/{4}"},
      {"-{2}", "+{-2}"},
      {"-{2}/Fa", "+{-2}/Fa"},
      {"-{2}^{3}", "-{2}^{3}"},
      {"*{6}/Fa/{3}/Fb", "*{2}/Fa/Fb"},
      {"*{6}/(Fa+Fb)/{3}/Fb", "*{2}/(Fa+Fb)/Fb"},
      {"*{2}/{4}/{8}/Fa", "*{0.0625}/Fa"},
      {"+Fa/{2}*{4}/Fb", "+Fa/{0.5}/Fb"},
      {"*{0}/{2}/Fa", "*{0}/Fa"},
      // Exponents, groups and function arguments keep their constants.
      {"*{2}^{3}/{4}/Fa", "*{2}^{3}/{4}/Fa"},
      {"*{2}/Fa^{3}/{4}/Fb", "*{2}/Fa^{3}/{4}/Fb"},
      {"*{2}/{4}^Fa/Fb", "*{2}/{4}^Fa/Fb"},
      {"*({2}/{4}/Fa)", "*({2}/{4}/Fa)"},
      {"*{2}/EX({4}/{2}/Fa)", "*{2}/EX({4}/{2}/Fa)"},
      {"*{2}/Fe/{4}/Fa", "*{2}/Fe/{4}/Fa"},
      // A zero divisor keeps the division's guard: no fold, before or after folding.
      {"*{2}/{0}/Fa", "*{2}/{0}/Fa"},
      {"+Fa/{0}/{2}/Fb", "+Fa/{0}/{2}/Fb"},
      {"+Fa/{2}*{0}/Fb", "+Fa/{2}*{0}/Fb"},
      {"+Fa/{1e-100}/{1e-100}/Fb", "+Fa/{1e-100}/{1e-100}/Fb"},
      // Overflow and underflow of the folded value lose the value: no fold.
      {"*{1e200}/{1e-200}/Fa", "*{1e+200}/{1e-200}/Fa"},
      {"*{1e-200}/{1e200}/Fa", "*{1e-200}/{1e+200}/Fa"},
      // The pair that cannot fold leaves its second constant free to fold further on.
      {"*{2}/{0}/{4}/Fa", "*{2}/{0}/{4}/Fa"},
      {"*Fa/{0}/{4}/{2}/Fb", "*Fa/{0}/{8}/Fb"},
  });
}

TEST(FoldConstants, TrailingAndHalfTokensAreNoConstants) {
  RunTable(FoldConstants, {
      {"*{2}/C", "*{2}/C"},
      {"-C", "-C"},
      {"*{2}/{3}/C", "*{0.6666666666666666}/C"},
  });
}

TEST(MergePowers, RepeatedFactorsBecomeOnePower) {
  RunTable(MergePowers, {
      {"+Fa/Fb/Fa", "+Fa^(+{1}+{-1})/Fb"},
      {"*Fa/Fa^{2}", "*Fa^(+{1}+{-2})"},
      {"+Pa/Fa/Fa", "+Pa*Fa^(+{-1}+{-1})"},
      {"+Fa/Fa/Fa", "+Fa^(+{1}+{-1}+{-1})"},
      {"+Fa^{3}/Pa/Fa^{2}/Pb", "+Fa^(+{3}+{-2})/Pa/Pb"},
      {"+Pa/Fa^{2}/Fa", "+Pa*Fa^(+{-2}+{-1})"},
      {"+Fa^(Pa+Pb)/Fa^{2}", "+Fa^(+Pa+Pb+{-2})"},
      {"+Fa^Pa/Fa", "+Fa^(+Pa+{-1})"},
      {"+Fa^{0.5}/Fa", "+Fa^(+{0.5}+{-1})"},
      {"+Ta/Ta", "+Ta^(+{1}+{-1})"},
      {"+Qa/Qa", "+Qa^(+{1}+{-1})"},
      {"+Fe/Fe", "+Fe^(+{1}+{-1})"},
      {"+EX(Fa)/Fa/Fa", "+EX(Fa)*Fa^(+{-1}+{-1})"},
  });
}

TEST(MergePowers, OccurrencesThatStay) {
  RunTable(MergePowers, {
      {"*Fa", "*Fa"},
      {"+Fa/(Fa)", "+Fa/(Fa)"},
      {"+Fa/Fb^Fa", "+Fa/Fb^Fa"},
      {"+Fb^Fa/Fa", "+Fb^Fa/Fa"},
      {"+Fa/EX(Fa)", "+Fa/EX(Fa)"},
      // A power raised again is not merged («F1^2^2/F1» is F1 cubed).
      {"+Fa^{2}^{2}/Fa", "+Fa^{2}^{2}/Fa"},
      {"+Fa/Fa^{2}^{2}", "+Fa/Fa^{2}^{2}"},
      {"+Fa/Fa^{2}^{2}/Fa", "+Fa^(+{1}+{-1})/Fa^{2}^{2}"},
      // Two exponents that may both be fractional: a negative base fails with them
      // whatever they sum to.
      {"+Fa^{0.5}/Fa^{0.5}", "+Fa^{0.5}/Fa^{0.5}"},
      {"+Fa^Pa/Fa^Pb", "+Fa^Pa/Fa^Pb"},
      // Exponents the chunk does not hold entirely.
      {"+Fa/Fa^", "+Fa/Fa^"},
      {"+Fa/Fa^(Pa", "+Fa/Fa^(Pa"},
      {"+Fa/Fa^-Pa", "+Fa/Fa^-Pa"},
      // Only `/` joins operands inside a chunk.
      {"+FaFa", "+FaFa"},
  });
}

TEST(DropOnes, FactorsOfOneGo) {
  RunTable(DropOnes, {
      {"*Fa^{1}", "*Fa"},
      {"*{1}", ""},
      {"+{1}/Fa", "+{1}/Fa"},
      {"+{1}", "+{1}"},
      {"-{1}", "-{1}"},
      {"+{1}*Fa", "+Fa"},
      {"*Fa/{1}", "*Fa"},
      {"*Fa/{1}/Fb", "*Fa/{1}/Fb"},
      {"*(Fa*{1})", "*(Fa)"},
      {"*(Fa+{1}*Fb)", "*(Fa+Fb)"},
      {"*(Fa/{1}*Fb)", "*(Fa/{1}*Fb)"},
      {"*Fa^{1}^{2}", "*Fa^{2}"},
      {"*{1}^{1}", ""},
      // 1 raised to a power: the whole factor goes when every exponent is a token.
      {"+{1}^Fa*Fb", "+Fb"},
      {"*{1}^{2}", ""},
      {"*{1}^{2}^Pa", ""},
      {"+Fa/{1}^{3}", "+Fa"},
      {"+{1}^Fa", "+{1}^Fa"},
      {"*{1}^(Fa)", "*{1}^(Fa)"},
      {"*{1}^Aa", "*{1}^Aa"},
      {"*{1}^", "*{1}^"},
      {"*{1}^C", "*{1}^C"},
      {"*{2}/C", "*{2}/C"},
  });
}

TEST(DropZeros, ZeroTermsGo) {
  RunTable(DropZeros, {
      {"+Fa^(+{0}+{2})", "+Fa^(+{2})"},
      {"+Fb^(Fa-{0}-Fc)", "+Fb^(Fa-Fc)"},
      {"+Fa/Fb^({0}+Fc)", "+Fa/Fb^(Fc)"},
      {"+{0}+Fa", "+{0}+Fa"},
      {"+Fa^(+{0}*Fb)", "+Fa^(+{0}*Fb)"},
      {"+Fa^(+{0}-Fb)", "+Fa^(+{0}-Fb)"},
      {"+Fa^(+{2}+{2})", "+Fa^(+{2}+{2})"},
      // A `+` after a power sign is the exponent's sign: that zero is the exponent.
      {"*(Fa^+{0}+Fb)", "*(Fa^+{0}+Fb)"},
  });
}

TEST(Simplify, DriverExamples) {
  RunTable(Simplify, {
      {"+(Fa)", "+Fa"},
      {"+(Fa*Fb)*Fc", "+Fa*Fb*Fc"},
      {"+Fa/(Fb/Fc/Fd)*Fe", "+Fa/Fb*Fc*Fd*Fe"},
      {"+Fa*(Fb*Fc+Fd)", "+Fa*(Fb*Fc+Fd)"},
      {"+Fa/(Fb*Fc)", "+Fa/(Fb*Fc)"},
      {"+(Fa*Fb)^Cc", "+(Fa*Fb)^Cc"},
      {"+Ca^(Fa^Cb)", "+Ca^(Fa^Cb)"},
      {"+(Fa^Cb)^Cc", "+(Fa^Cb)^Cc"},
      {"+Ca^(Fa)", "+Ca^Fa"},
      {"+Pa*EX(-Pb/({8}*Ta))", "+Pa*EX(-Pb/{8}/Ta)"},
      {"+Fa*(Fb-Fc)*-Fd", "-Fa*(Fb-Fc)*Fd"},
      {"+Fa-(Fb)", "+Fa-Fb"},
      {"++Fa", "+Fa"},
      {"+-Fa", "-Fa"},
      {"--Fa", "+Fa"},
      {"--", "+{0}"},
      {"+Fa+{2}+{3}", "+Fa+{2}+{3}"},
      {"+Fa-{2}-{3}", "+Fa+{-2}+{-3}"},
      {"+Fa*(Fe*Fb)*Fc", "+Fa*(Fe*Fb)*Fc"},
      {"+Fe/(Fa*Fb)*Fc", "+Fe/(Fa*Fb)*Fc"},
      {"+Fa*Fa", "+Fa*Fa"},
      {"+Fa/Fb/Fa", "+Fa^({1}+{-1})/Fb"},
      {"+Fa^(+{0}+{2})", "+Fa^{2}"},
      {"+Fa*{1}", "+Fa"},
      {"+{1}/Fa", "+{1}/Fa"},
      {"-{2}*Fa", "+{-2}*Fa"},
      {"+Fa*({2}/{4}/Fb)*Pa", "+Fa*{0.5}/Fb*Pa"},
      // A group that ends the text stays.
      {"+Fa*({2}/{4}/Fb)", "+Fa*({0.5}/Fb)"},
      // Whatever simplifies away is the token of 0.
      {"", "+{0}"},
      {"+", "+{0}"},
      {"+()", "+)"},
      // Text without a leading sign gets one.
      {"Fa", "+Fa"},
      {"(Fa+Fb)*Fc", "+(Fa+Fb)*Fc"},
  });
}

TEST(Simplify, UnbalancedBracketsStayInsideTheText) {
  RunTable(Simplify, {
      {"+Fa*(Fb+Fc", "+Fa*(Fb+Fc"},
      {"+Fa*(Fb", "+Fa*Fb"},
      {"+Fa*(Fb+(Fc*Fd)", "+Fa*(Fb+(Fc*Fd)"},
      {"+(", "+("},
      {"+Fa/(", "+Fa/("},
      {"+Fa)*Fb", "+Fa)*Fb"},
      {"+Fa^(", "+Fa^("},
      {"+Fa^(Fb/Fa", "+Fa^(Fb/Fa"},
  });
}

// The examples of every pass written as host formulas, and the whole road of rate laws.
const std::vector<Case> kHostExamples = {
    // Brackets and signs.
    {"(F1)", "+Fa"},
    {"(F1*F2)*F3", "+Fa*Fb*Fc"},
    {"F1/(F2/F3/F4)*F5", "+Fa/Fb*Fc*Fd*Fe"},
    {"F1*(F2*F3+F4)", "+Fa*(Fb*Fc+Fd)"},
    {"F1/(F2*F3)", "+Fa/(Fb*Fc)"},
    {"(F1*F2)^3", "+(Fa*Fb)^{3}"},
    {"3^(F1^2)", "+{3}^(Fa^{2})"},
    {"(F1^2)^3", "+(Fa^{2})^{3}"},
    {"3^(F1)", "+{3}^Fa"},
    {"P1*EX(-P2/(3*T))", "+Pa*EX(-Pb/{3}/Ta)"},
    {"F1*(F2-F3)*-F4", "-Fa*(Fb-Fc)*Fd"},
    {"F1-(F2)", "+Fa-Fb"},
    {"++F1", "+Fa"},
    {"+-F1", "-Fa"},
    {"F1+2+3", "+Fa+{2}+{3}"},
    {"F1*(F5*F2)*F3", "+Fa*(Fe*Fb)*Fc"},
    {"F5/(F1*F2)*F3", "+Fe/(Fa*Fb)*Fc"},
    {"F1*(F2*-F3)", "+Fa*(-Fb*Fc)"},
    {"F1*(F2*-F3+F4)", "+Fa*(-Fb*Fc+Fd)"},
    // Constants, repeated factors, ones and zeros.
    {"F2*6/3/F1", "+Fb*{2}/Fa"},
    {"F1/2/4/F2", "+Fa/{8}/Fb"},
    {"F1/2/4", "+Fa/{2}/{4}"},
    {"F1-(2)", "+Fa+{-2}"},
    {"F1-(2)^3", "+Fa-{2}^{3}"},
    {"F1/F2/F1", "+Fa^({1}+{-1})/Fb"},
    {"F2*F1/F1^2", "+Fb*Fa^({1}+{-2})"},
    {"P1/F1/F1", "+Pa*Fa^({-1}+{-1})"},
    {"F1*F1", "+Fa*Fa"},
    {"F1^2^2/F1", "+Fa^{2}^{2}/Fa"},
    {"F2*F1^1", "+Fb*Fa"},
    {"F2*1", "+Fb"},
    {"1/F1", "+{1}/Fa"},
    {"F1^(0+2)", "+Fa^{2}"},
    {"F1*6/0/F2", "+Fa*{6}/{0}/Fb"},
    // The tokenizer's own shapes.
    {"2*F1 - P3/T", "+{2}*Fa-Pc/Ta"},
    {"F1-3", "+Fa+{-3}"},
    {"F1^-2", "+Fa^{-2}"},
    {"((F1))", "+Fa"},
    {"F12*1", "+Fl"},
    {"ex(F1)*1*F2", "+ex(Fa)*Fb"},
    {"0+F1", "+{0}+Fa"},
    {"0", "+{0}"},
    // Rate laws.
    {"P1*EX(-P2/(8.314*T))*F1*F2/(1+P3*F2)", "+Pa*EX(-Pb/{8.314}/Ta)*Fa*Fb/({1}+Pc*Fb)"},
    {"P1*F1/F1^2", "+Pa*Fa^({1}+{-2})"},
    {"(F1+F2)/(2)", "+(Fa+Fb)/{2}"},
    {"P1*F1/(P2*F1)", "+Pa*Fa/(Pb*Fa)"},
};

TEST(Simplify, HostFormulasThroughTokenizeAndSimplify) {
  for (const Case& c : kHostExamples) EXPECT_EQ(Pipeline(c.input), c.expected) << c.input;
  for (const char* host : {"-2*F1", "-2^2+F1"})
    EXPECT_EQ(Pipeline(host), host[2] == '*' ? "+{-2}*Fa" : "+{-2}^{2}+Fa") << host;
}

// UTF-8 (as the tool writes coded text) back to 16-bit characters.
Text FromUtf8(const std::string& s) {
  Text t;
  for (size_t k = 0; k < s.size(); ++k) {
    const unsigned char c = static_cast<unsigned char>(s[k]);
    if (c < 0x80) {
      t += c;
    } else if ((c & 0xE0) == 0xC0 && k + 1 < s.size()) {
      t += static_cast<char16_t>(((c & 0x1F) << 6) | (static_cast<unsigned char>(s[k + 1]) & 0x3F));
      ++k;
    } else {
      t += u'?';
    }
  }
  return t;
}

// The same examples through `tarvo formula --json --fresh`: every text starts from the
// constant table of a newly loaded library, so its tokens are read back with the table that
// the same steps leave in this process.
TEST(Simplify, FormulaToolReproducesTheExamples) {
  const std::string tool = std::string(TARVO_BINARY_DIR) + "/tarvo";
  if (!std::ifstream(tool).good()) GTEST_SKIP() << "the tarvo tool is not built";
  const std::string out_file = ::testing::TempDir() + "tarvo_simplify_examples.jsonl";
  std::string command = "'" + tool + "' formula --json --fresh";
  for (const Case& c : kHostExamples) command += std::string(" '") + c.input + "'";
  command += " > '" + out_file + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;

  std::ifstream in(out_file);
  std::string line;
  size_t n = 0;
  while (std::getline(in, line) && n < kHostExamples.size()) {
    const Case& c = kHostExamples[n++];
    const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    ASSERT_TRUE(j.is_object() && j.contains("simplified")) << line;
    ASSERT_TRUE(j["simplified"].is_string()) << line;
    Pipeline(c.input);  // leaves the table the tool had for this text
    EXPECT_EQ(Decode(FromUtf8(j["simplified"].get<std::string>())), c.expected) << c.input;
    EXPECT_EQ(j["faults"], 0) << c.input;
  }
  EXPECT_EQ(n, kHostExamples.size());
  std::remove(out_file.c_str());
}

}  // namespace
