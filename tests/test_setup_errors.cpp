// Calcul_initial's error sum: each cause of a failed set-up, and the sums of several causes.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Symbolic/cells.h"
#include "library/state.h"
#include "support/host.h"
#include "support/library_models.h"

namespace tarvo::testhost {
namespace {

Model Base() { return FirstOrderModel({0.0, 1.0, 2.0}); }

TEST(SetupErrors, SumsOfEachCause) {
  struct Case {
    const char* what;
    std::function<void(Model&)> change;
    int16_t erreur;
  };
  const Case cases[] = {
      {"well formed", [](Model&) {}, 0},
      {"RUNGE-KUTTA 5", [](Model& m) { m.method = "RUNGE-KUTTA 5"; }, 0},
      {"RUNGE-KUTTA QC", [](Model& m) { m.method = "RUNGE-KUTTA QC"; }, 0},
      {"CHU-BERMAN", [](Model& m) { m.method = "CHU-BERMAN"; }, 0},
      {"method in lower case", [](Model& m) { m.method = "runge-kutta 4"; }, 9},
      {"method without its inner space", [](Model& m) { m.method = "RUNGE-KUTTA4"; }, 9},
      {"method with two blanks", [](Model& m) { m.method = "RUNGE-KUTTA  4"; }, 9},
      {"empty method", [](Model& m) { m.method = ""; }, 9},
      {"malformed number adds its error position", [](Model& m) { m.outputs[0] = "1.2.3"; }, 4},
      {"two malformed formulas add both sums",
       [](Model& m) {
         m.outputs[0] = "1.2.3";
         m.outputs[1] = "F1+1.2.3";
       },
       8},
      {"compiler fault", [](Model& m) { m.outputs[1] = "F1+Q1"; }, 1},
      {"compilation stops at the first failure",
       [](Model& m) {
         m.species_start[1][0] = "Q1";  // species come before outputs
         m.outputs[1] = "F1+Q1";        // tokenized, never compiled
       },
       1},
      {"tokenizer errors add after the first failure",
       [](Model& m) {
         m.species_start[1][0] = "Q1";
         m.outputs[1] = "1.2.3";
       },
       5},
      {"parameter equation reading its own parameter",
       [](Model& m) {
         m.parameters.push_back("k2");
         m.parameter_eqs.push_back({"P2+1"});
       },
       1},
      {"equation reading its own parameter twice",
       [](Model& m) {
         m.parameters.push_back("k2");
         m.parameter_eqs.push_back({"P2+P1*P2"});
       },
       2},
      {"EqualTo reading its own adjustable under another name",
       [](Model& m) { m.adjustables.push_back({"kk", 1.0, "A3*2", true}); }, 1},
      {"fewer replicate values than free adjustables",
       [](Model& m) {
         m.points.resize(1);
         m.points[0].replicates = {{2.0}};
       },
       1},
      {"unknown method plus a malformed number",
       [](Model& m) {
         m.method = "EULER";
         m.outputs[0] = "1.2.3";
       },
       13},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Model m = Base();
    c.change(m);
    Host h(m);
    h.CalculInitial();
    EXPECT_EQ(h.fitset.Erreur, c.erreur);
    EXPECT_EQ(Host::LastFailure(), 0);
    h.Fin();
  }
}

TEST(SetupErrors, ReplicateCountsAndMeans) {
  Model m = Base();
  m.points[0].replicates = {{-0.5, 1.5}, {}};  // -0.5 is stored as 0 and still counts
  m.adjustables.push_back({"c", 1.0, "", true});
  m.adjustables.push_back({"d", 1.0, "", true});
  m.adjustables.push_back({"e", 1.0, "", true});
  Host h(m);
  h.CalculInitial();
  EXPECT_EQ(h.fitset.Erreur, 0);  // NData 6, NFree 5
  ASSERT_NE(ProcessState().points, nullptr);
  const PointRecord& p = ProcessState().points->Points[0];
  EXPECT_EQ(p.NRep[0], 2);
  EXPECT_EQ(p.YExp[0][0], 0.0);
  EXPECT_EQ(p.YMean[0], 0.75);
  EXPECT_EQ(p.YMean[1], 0.0);
  EXPECT_EQ(ProcessState().points->Tail.NData, 6);
  EXPECT_EQ(ProcessState().NFree, 5);
  h.Fin();

  // One free adjustable more than there are replicate values.
  m.adjustables.push_back({"f", 1.0, "", true});
  m.adjustables.push_back({"g", 1.0, "", true});
  Host h2(m);
  h2.CalculInitial();
  EXPECT_EQ(h2.fitset.Erreur, 1);
  h2.Fin();
}

TEST(SetupErrors, EqualToBindingAndSelfReference) {
  Model m = Base();
  m.adjustables.push_back({"A3", 1.0, "A3*2", true});  // names itself: emptied, stays free
  m.adjustables.push_back({"twice", 1.0, "A1*2", true});  // bound to adjustable 1
  Host h(m);
  h.fitset.Done = kTrue;
  h.CalculInitial();
  EXPECT_EQ(h.fitset.Erreur, 0);
  EXPECT_EQ(h.fitset.Done, kFalse);
  EXPECT_EQ(h.EqualToText(3), "");
  EXPECT_EQ(h.EqualTo(3).vt, VT_BSTR);
  EXPECT_EQ(h.adjustables.Adjustable[2], kTrue);
  EXPECT_EQ(h.EqualToText(4), "A1*2");
  EXPECT_EQ(h.adjustables.Adjustable[3], kFalse);
  EXPECT_EQ(ProcessState().adjustables[3].Adjustable, kFalse);
  EXPECT_NE(ProcessState().adjustables[3].Equation, nullptr);
  EXPECT_EQ(ProcessState().NFree, 3);
  h.Fin();
}

// An EqualTo expression is compiled and its adjustable bound only while the error sum is
// clean; after an earlier error the host's flag stays set and the adjustable counts in NFree,
// so that with two replicate values in the file and three flags set the sum gains 1 more.
TEST(SetupErrors, BindingOnlyWhileTheSumIsClean) {
  struct Case {
    const char* what;
    const char* method;
    std::vector<Adjustable> extra;
    int16_t erreur;
    std::vector<WordBool> flags;  // the host's flags of the extra adjustables afterwards
    int32_t nfree;
  };
  const Case cases[] = {
      {"clean: bound", "RUNGE-KUTTA 4", {{"twice", 1.0, "A1*2", true}}, 0, {kFalse}, 2},
      {"after an unknown method: left free", "EULER", {{"twice", 1.0, "A1*2", true}}, 10,
       {kTrue}, 3},
      {"after an earlier expression's error: left free",
       "RUNGE-KUTTA 4",
       {{"kk", 1.0, "A3*2", true}, {"twice", 1.0, "A1*2", true}},
       2,
       {kFalse, kTrue},
       3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Model m = Base();
    m.method = c.method;
    m.points.resize(1);
    m.points[0].replicates = {{2.0}, {1.0}};  // NData 2
    for (const Adjustable& a : c.extra) m.adjustables.push_back(a);
    Host h(m);
    h.CalculInitial();
    EXPECT_EQ(h.fitset.Erreur, c.erreur);
    for (size_t i = 0; i < c.flags.size(); ++i) {
      EXPECT_EQ(h.adjustables.Adjustable[2 + i], c.flags[i]) << "adjustable " << 3 + i;
      EXPECT_EQ(ProcessState().adjustables[2 + i].Adjustable, c.flags[i]) << "adjustable " << 3 + i;
    }
    EXPECT_EQ(ProcessState().NFree, c.nfree);
    h.Fin();
  }
}

TEST(SetupErrors, EmptyCellsAndNumericCells) {
  Model m = Base();
  m.intervals = 2;
  m.parameter_eqs = {{"A1", ""}};  // no equation in interval 2
  m.species_start = {{"A2", "0"}, {"0", ""}};
  Host h(m);
  h.CalculInitial();
  EXPECT_EQ(h.fitset.Erreur, 0);
  EXPECT_EQ(ProcessState().parameters[0].Equation[1], nullptr);
  ASSERT_NE(ProcessState().species[0].Formula[1], nullptr);
  EXPECT_EQ(Evaluate(ProcessState().species[0].Formula[1]), 0.0);
  EXPECT_EQ(ProcessState().species[1].Formula[1], nullptr);
  h.Fin();

  // An Empty Variant is no formula; a number where text is expected fails the call.
  Host h2(m);
  VariantClear(&h2.sorties.Formula[1]);
  h2.CalculInitial();
  EXPECT_EQ(h2.fitset.Erreur, 0);
  ASSERT_NE(ProcessState().points, nullptr);
  EXPECT_EQ(ProcessState().points->Outputs[1], nullptr);
  h2.Fin();
  Host h3(m);
  VARIANT& cell = h3.Derivees(1, kFreeTerm);
  VariantClear(&cell);
  cell.vt = VT_R8;
  cell.dblVal = 0.0;
  h3.CalculInitial();
  EXPECT_EQ(Host::LastFailure(), 3);
  h3.Fin();
}

}  // namespace
}  // namespace tarvo::testhost
