// Dense solve and inversion of the fit: documented examples, codes, the pivot rules, and
// that the caller's arrays are left alone.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "fitting/solvers.h"

namespace tarvo {
namespace {

constexpr double kSentinel = -777.0;

FitMatrix MakeMatrix(int n, const std::vector<double>& rows) {
  FitMatrix m;
  for (auto& row : m.a) {
    for (double& v : row) v = kSentinel;  // entries beyond n must not matter
  }
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) m.a[i][j] = rows[static_cast<size_t>(i * n + j)];
  }
  return m;
}

FitVector MakeVector(const std::vector<double>& values) {
  FitVector v;
  for (double& e : v.v) e = kSentinel;
  for (size_t i = 0; i < values.size(); ++i) v.v[i] = values[i];
  return v;
}

struct SolveCase {
  const char* name;
  int n;
  std::vector<double> a;  // row-major n x n
  std::vector<double> b;
  int code;
  std::vector<double> x;  // expected solution when code is 0
};

TEST(Resolution, ExamplesAndCodes) {
  const SolveCase cases[] = {
      {"diagonal", 2, {2, 0, 0, 4}, {2, 4}, 0, {1, 1}},
      {"exchange by magnitude", 2, {1, 2, 3, 4}, {5, 6}, 0, {-4, 4.5}},
      {"anti-diagonal", 2, {0, 1, 1, 0}, {7, 3}, 0, {3, 7}},
      {"single entry", 1, {4}, {2}, 0, {0.5}},
      {"single vanishing entry", 1, {1e-131}, {2}, 2, {}},
      {"zero matrix: 4 replaces 3", 2, {0, 0, 0, 0}, {1, 1}, 4, {}},
      // Column 1 is all zero: no exchange among equal magnitudes, so code 3 stays, the last
      // diagonal being usable.
      {"empty first column", 3, {0, 1, 0, 0, 0, 1, 0, 1, 1}, {1, 1, 1}, 3, {}},
      {"last diagonal vanishes", 2, {1, 1, 1, 1}, {1, 2}, 4, {}},
      {"no system", 0, {}, {}, 1, {}},
      {"negative order", -3, {}, {}, 1, {}},
      {"order above the table", 51, {}, {}, 1, {}},
      // A tiny pivot found by an exchange is used as it is: the row below is not eliminated.
      {"tiny exchanged pivot", 2, {1e-140, 1, 1e-135, 1}, {1, 2}, 0, {1e135, 1}},
  };
  for (const SolveCase& c : cases) {
    SCOPED_TRACE(c.name);
    const int order = c.n > 0 && c.n <= kFitOrder ? c.n : 0;
    const FitMatrix a = MakeMatrix(order, c.a);
    const FitVector b = MakeVector(c.b);
    const FitMatrix a_before = a;
    const FitVector b_before = b;
    FitVector x = MakeVector({});
    EXPECT_EQ(Resolution(c.n, a, b, x), c.code);
    EXPECT_EQ(std::memcmp(&a, &a_before, sizeof a), 0);
    EXPECT_EQ(std::memcmp(&b, &b_before, sizeof b), 0);
    for (size_t i = 0; i < c.x.size(); ++i) EXPECT_DOUBLE_EQ(x.v[i], c.x[i]) << i;
    const size_t written = c.code == 0 ? c.x.size() : 0;
    for (size_t i = written; i < kFitOrder; ++i) EXPECT_EQ(x.v[i], kSentinel) << i;
  }
}

struct InvertCase {
  const char* name;
  int n;
  std::vector<double> a;
  int code;
  std::vector<double> inv;
};

TEST(Inversion, ExamplesAndCodes) {
  const InvertCase cases[] = {
      {"diagonal", 2, {2, 0, 0, 4}, 0, {0.5, 0, 0, 0.25}},
      {"anti-diagonal: exchange for a zero diagonal", 2, {0, 1, 1, 0}, 0, {0, 1, 1, 0}},
      {"general 2x2", 2, {1, 2, 3, 4}, 0, {-2, 1, 1.5, -0.5}},
      // The first usable row (2) is taken, not the largest (3); the inverse is the same.
      {"first usable row", 3, {0, 1, 0, 1, 0, 0, 5, 0, 1}, 0, {0, 1, 0, 1, 0, 0, 0, -5, 1}},
      {"single entry", 1, {4}, 0, {0.25}},
      {"single vanishing entry", 1, {0}, 2, {}},
      {"zero matrix", 2, {0, 0, 0, 0}, 2, {}},
      {"singular 2x2", 2, {1, 2, 2, 4}, 2, {}},
  };
  for (const InvertCase& c : cases) {
    SCOPED_TRACE(c.name);
    const FitMatrix a = MakeMatrix(c.n, c.a);
    const FitMatrix a_before = a;
    FitMatrix inv = MakeMatrix(0, {});
    EXPECT_EQ(Inversion(c.n, a, inv), c.code);
    EXPECT_EQ(std::memcmp(&a, &a_before, sizeof a), 0);
    if (c.code != 0) continue;
    for (int i = 0; i < kFitOrder; ++i) {
      for (int j = 0; j < kFitOrder; ++j) {
        const double want = (i < c.n && j < c.n) ? c.inv[static_cast<size_t>(i * c.n + j)] : 0;
        EXPECT_NEAR(inv.a[i][j], want, 1e-15) << i << "," << j;
      }
    }
  }
}

TEST(Inversion, NoSystemLeavesOutputAlone) {
  for (int n : {0, -1, 51}) {
    const FitMatrix a = MakeMatrix(0, {});
    FitMatrix inv = MakeMatrix(0, {});
    EXPECT_EQ(Inversion(n, a, inv), 1);
    EXPECT_EQ(inv.a[0][0], kSentinel);
    EXPECT_EQ(inv.a[kFitOrder - 1][kFitOrder - 1], kSentinel);
  }
}

// Full-size systems: the solution satisfies A x = b and A Inv = I to rounding.
TEST(Solvers, FullOrderSystems) {
  FitMatrix a;
  FitVector b;
  unsigned seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return static_cast<double>((seed >> 8) % 2001) / 1000.0 - 1.0;
  };
  for (int i = 0; i < kFitOrder; ++i) {
    for (int j = 0; j < kFitOrder; ++j) a.a[i][j] = next();
    a.a[i][i] += (i % 2 == 0 ? 3.0 : -3.0);
    b.v[i] = next();
  }
  FitVector x;
  ASSERT_EQ(Resolution(kFitOrder, a, b, x), 0);
  FitMatrix inv;
  ASSERT_EQ(Inversion(kFitOrder, a, inv), 0);
  for (int i = 0; i < kFitOrder; ++i) {
    double s = 0;
    for (int j = 0; j < kFitOrder; ++j) s += a.a[i][j] * x.v[j];
    EXPECT_NEAR(s, b.v[i], 1e-11) << i;
    for (int k = 0; k < kFitOrder; ++k) {
      double p = 0;
      for (int j = 0; j < kFitOrder; ++j) p += a.a[i][j] * inv.a[j][k];
      EXPECT_NEAR(p, i == k ? 1.0 : 0.0, 1e-11) << i << "," << k;
    }
  }
}

}  // namespace
}  // namespace tarvo
