// The life of a model across the calls: Fin releases every compiled formula and erases the
// file, calls out of order change nothing and never release twice, exchange file trouble is
// raised and leaves a state that Fin releases, and a long-lived host loads many models.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "Symbolic/compil.h"
#include "library/state.h"
#include "support/host.h"
#include "support/library_models.h"

// Live compiled-formula records, counted by the program's allocation functions: a block of
// the size of a compil is remembered in a fixed table (no allocation here) until it is freed.
namespace {

constexpr size_t kSlots = 1 << 16;
void* g_compils[kSlots];
long g_live = 0;

size_t SlotOf(void* p) { return (reinterpret_cast<uintptr_t>(p) >> 4) & (kSlots - 1); }

void Remember(void* p) {
  for (size_t i = SlotOf(p);; i = (i + 1) & (kSlots - 1))
    if (!g_compils[i]) {
      g_compils[i] = p;
      ++g_live;
      return;
    }
}

void Forget(void* p) {
  for (size_t i = SlotOf(p), n = 0; n < kSlots; i = (i + 1) & (kSlots - 1), ++n) {
    if (g_compils[i] == p) {
      // Backward-shift deletion keeps every probe chain intact.
      size_t hole = i;
      for (size_t j = (hole + 1) & (kSlots - 1); g_compils[j]; j = (j + 1) & (kSlots - 1)) {
        const size_t home = SlotOf(g_compils[j]);
        const bool movable = hole <= j ? (home <= hole || home > j) : (home <= hole && home > j);
        if (movable) {
          g_compils[hole] = g_compils[j];
          hole = j;
        }
      }
      g_compils[hole] = nullptr;
      --g_live;
      return;
    }
    if (!g_compils[i]) return;
  }
}

void* Allocate(size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (p && n == sizeof(tarvo::compil)) Remember(p);
  return p;
}

void Free(void* p) {
  if (p) Forget(p);
  std::free(p);
}

}  // namespace

void* operator new(size_t n) {
  if (void* p = Allocate(n)) return p;
  throw std::bad_alloc();
}
void* operator new(size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void operator delete(void* p) noexcept { Free(p); }
void operator delete(void* p, size_t) noexcept { Free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Free(p); }

namespace tarvo::testhost {
namespace {

// A model with nested groups, function calls and inlined EqualTo expressions.
Model NestedModel() {
  Model m = FirstOrderModel({0, 1, 2, 3});
  m.adjustables.push_back({"scale", 0.0, "A1*(2+A2)", true});
  m.parameter_eqs = {{"LN(EX(A1))"}};
  m.outputs.push_back("(F1+F2)*EX(-A3)+LN(A3+1)");
  return m;
}

std::vector<unsigned char> Bytes(const void* p, size_t n) {
  const auto* b = static_cast<const unsigned char*>(p);
  return {b, b + n};
}

// The host's BFitSet apart from its Erreur, and its adjustables block, as raw bytes.
struct HostSnapshot {
  std::vector<unsigned char> fitset, adjustables;
  explicit HostSnapshot(Host& h)
      : fitset(Bytes(reinterpret_cast<unsigned char*>(&h.fitset) + 2, sizeof(BFitSet) - 2)),
        adjustables(Bytes(&h.adjustables, sizeof(BAjustables))) {}
  bool operator==(const HostSnapshot&) const = default;
};

std::vector<unsigned char> FileBytes(const Host& h) {
  std::vector<unsigned char> out;
  for (const FileRecord& r : h.ReadFile()) {
    const auto b = Bytes(&r, sizeof r);
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

class Lifecycle : public ::testing::Test {
 protected:
  void SetUp() override {
    int16_t mode = 0;
    ::Fin(&mode);  // whatever an earlier test left loaded
    baseline_ = g_live;
  }
  long Live() const { return g_live - baseline_; }
  long baseline_ = 0;
};

TEST_F(Lifecycle, FinReleasesEverythingAndErasesTheFile) {
  for (int16_t mode : {0, 1}) {
    Host h(NestedModel());
    h.CalculInitial();
    ASSERT_EQ(h.fitset.Erreur, 0);
    EXPECT_GT(Live(), 10);
    h.Simulate();
    ASSERT_EQ(h.fitset.Erreur, 0);
    h.Fin(mode);
    EXPECT_EQ(Host::LastFailure(), 0);
    EXPECT_EQ(Live(), 0) << "mode " << mode;
    EXPECT_FALSE(h.FileExists());
    EXPECT_EQ(ProcessState().points, nullptr);
  }
}

TEST_F(Lifecycle, FinAfterFailedSetUps) {
  struct Case {
    const char* what;
    const char* method;
    const char* output;
    int16_t erreur;
  };
  const Case cases[] = {
      {"unknown method: nothing compiled", "RK4", "F1", 9},
      {"stopped at a fault", "RUNGE-KUTTA 4", "F1*Q1", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Model m = NestedModel();
    m.method = c.method;
    m.outputs[0] = c.output;
    Host h(m);
    h.CalculInitial();
    EXPECT_EQ(h.fitset.Erreur, c.erreur);
    h.Fin();
    EXPECT_EQ(Host::LastFailure(), 0);
    EXPECT_EQ(Live(), 0);
    EXPECT_FALSE(h.FileExists());
  }
}

TEST_F(Lifecycle, SecondFinDoesNothing) {
  Host h(NestedModel());
  h.CalculInitial();
  h.Fin();
  h.WriteFile();  // the host writes a new file; a second Fin must leave it alone
  h.Fin();
  EXPECT_EQ(Host::LastFailure(), 0);
  EXPECT_TRUE(h.FileExists());
  EXPECT_EQ(Live(), 0);
}

// Simulation and Ajustement without a usable model change nothing but the host's Erreur.
TEST_F(Lifecycle, CallsWithoutAUsableModel) {
  struct Case {
    const char* what;
    const char* method;  // nullptr: no Calcul_initial at all
    int16_t erreur;
  };
  const Case cases[] = {
      {"before any set-up", nullptr, kErreurNoModel},
      {"after an unknown method", "RK4", 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Model m = NestedModel();
    if (c.method) m.method = c.method;
    Host h(m);
    if (c.method) h.CalculInitial();
    for (bool fit : {false, true}) {
      h.fitset.Erreur = 0;  // a host that ignores the failed set-up
      const HostSnapshot before(h);
      const auto file = FileBytes(h);
      if (fit)
        h.Fit();
      else
        h.Simulate();
      EXPECT_EQ(h.fitset.Erreur, c.erreur) << (fit ? "Ajustement" : "Simulation");
      EXPECT_TRUE(HostSnapshot(h) == before);
      EXPECT_EQ(FileBytes(h), file);
    }
    h.Fin();
  }
}

TEST_F(Lifecycle, SecondSetUpReleasesTheFirstModel) {
  long alone = 0;
  {
    Model m2 = FirstOrderModel({0, 1, 2}, 0.25, 4.0);
    Host h2(m2);
    h2.CalculInitial();
    alone = Live();
    h2.Fin();
  }
  Host h1(NestedModel());
  h1.CalculInitial();
  ASSERT_EQ(h1.fitset.Erreur, 0);
  Host h2(FirstOrderModel({0, 1, 2}, 0.25, 4.0));
  h2.CalculInitial();  // no Fin in between
  ASSERT_EQ(h2.fitset.Erreur, 0);
  EXPECT_EQ(Live(), alone);
  EXPECT_TRUE(h1.FileExists());  // only Fin erases a file
  h2.Simulate();
  ASSERT_EQ(h2.fitset.Erreur, 0);
  const auto file = h2.ReadFile();
  ASSERT_EQ(file.size(), 3u);
  EXPECT_NEAR(file[2].YCalc[0], FirstOrderA(4.0, 0.25, 2.0), 1e-6);
  h2.Fin();
  EXPECT_EQ(Live(), 0);
}

// Exchange file trouble is raised; the host's records are left as they were, and Fin still
// releases everything (reporting that it could not erase a file that is not there).
TEST_F(Lifecycle, ExchangeFileTrouble) {
  {
    Host h(NestedModel());
    std::filesystem::remove(h.path);
    h.CalculInitial();
    std::string message;
    EXPECT_EQ(Host::LastFailure(&message), 1);
    EXPECT_NE(message.find("cannot open"), std::string::npos) << message;
    EXPECT_EQ(h.fitset.Erreur, 0);
    h.Simulate();
    EXPECT_EQ(h.fitset.Erreur, kErreurNoModel);
    EXPECT_FALSE(h.FileExists());
    h.Fin();
    EXPECT_EQ(Host::LastFailure(), 1);
    EXPECT_EQ(Live(), 0);
  }
  {
    Model m = NestedModel();
    Host h(m);
    h.initials.NPoints = 5;  // the file holds 4 records
    const HostSnapshot before(h);
    h.CalculInitial();
    std::string message;
    EXPECT_EQ(Host::LastFailure(&message), 1);
    EXPECT_NE(message.find("too short"), std::string::npos) << message;
    EXPECT_TRUE(HostSnapshot(h) == before);  // Done was false already
    h.Fin();
    EXPECT_EQ(Host::LastFailure(), 0);
    EXPECT_FALSE(h.FileExists());
    EXPECT_EQ(Live(), 0);
  }
  {
    Host h(NestedModel());
    h.CalculInitial();
    ASSERT_EQ(h.fitset.Erreur, 0);
    std::filesystem::remove(h.path);
    std::filesystem::create_directory(h.path);  // cannot be opened for writing, even by root
    h.fitset.Coeff = -1;
    const HostSnapshot before(h);
    h.Simulate();
    EXPECT_EQ(Host::LastFailure(), 1);
    EXPECT_TRUE(HostSnapshot(h) == before);
    h.Fin();
    EXPECT_EQ(Host::LastFailure(), 1);
    EXPECT_EQ(Live(), 0);
    std::filesystem::remove(h.path);
  }
}

// Every model brings numbers of its own; the constant table starts afresh at each set-up, so
// the thousandth model loads as well as the first.
TEST_F(Lifecycle, ThousandModelsWithDistinctConstants) {
  char text[64];
  for (int i = 0; i < 1000; ++i) {
    const double k = 0.1 + i * 1e-4, a0 = 1.0 + i * 1e-3, c = 2.0 + i * 1e-3;
    Model m = FirstOrderModel({0, 1, 2}, k, a0);
    std::snprintf(text, sizeof text, "%.17g", a0);
    m.species_start[0][0] = text;
    std::snprintf(text, sizeof text, "%.17g", k);
    m.parameter_eqs[0][0] = text;
    std::snprintf(text, sizeof text, "F1*%.17g", c);
    m.outputs.push_back(text);
    Host h(m);
    h.CalculInitial();
    ASSERT_EQ(h.fitset.Erreur, 0) << "model " << i;
    h.Simulate();
    ASSERT_EQ(h.fitset.Erreur, 0) << "model " << i;
    const auto file = h.ReadFile();
    ASSERT_EQ(file.size(), 3u);
    ASSERT_NEAR(file[2].YCalc[2], c * FirstOrderA(a0, k, 2.0), 1e-6) << "model " << i;
    h.Fin();
  }
  EXPECT_EQ(Live(), 0);
}

}  // namespace
}  // namespace tarvo::testhost
