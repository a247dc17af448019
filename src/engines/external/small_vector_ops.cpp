#include "engines/external/small_vector_ops.h"

#include <cmath>

#include <nvector/nvector_serial.h>

namespace tarvo {

namespace {

inline sunindextype Length(N_Vector v) { return NV_LENGTH_S(v); }
inline realtype* Data(N_Vector v) { return NV_DATA_S(v); }

// z = a x + b y. The serial vector's cases with a or b equal to +-1 multiply by 1 or -1
// nowhere, but x + y, x - y, a x + y and a x - y are the same numbers as a x + b y there (a
// product by +-1 is exact, and x - y is x + (-y)). Only a = b and a = -b sum before they
// scale, and are kept so.
inline void LinearSumLoops(realtype a, N_Vector x, realtype b, N_Vector y, N_Vector z) {
  const sunindextype n = Length(x);
  const realtype* xd = Data(x);
  const realtype* yd = Data(y);
  realtype* zd = Data(z);
  const bool unit = a == 1.0 || a == -1.0 || b == 1.0 || b == -1.0;
  if (!unit && a == b) {
    for (sunindextype i = 0; i < n; ++i) zd[i] = a * (xd[i] + yd[i]);
  } else if (!unit && a == -b) {
    for (sunindextype i = 0; i < n; ++i) zd[i] = a * (xd[i] - yd[i]);
  } else {
    for (sunindextype i = 0; i < n; ++i) zd[i] = a * xd[i] + b * yd[i];
  }
}

void LinearSum(realtype a, N_Vector x, realtype b, N_Vector y, N_Vector z) {
  LinearSumLoops(a, x, b, y, z);
}

// The same loops four entries a vector, for a processor with 256-bit vectors (chosen when the
// operations are installed): element by element, the same numbers.
[[gnu::target("avx")]] void LinearSumWide(realtype a, N_Vector x, realtype b, N_Vector y,
                                          N_Vector z) {
  LinearSumLoops(a, x, b, y, z);
}

void Scale(realtype c, N_Vector x, N_Vector z) {
  const sunindextype n = Length(x);
  const realtype* xd = Data(x);
  realtype* zd = Data(z);
  for (sunindextype i = 0; i < n; ++i) zd[i] = c * xd[i];
}

void Const(realtype c, N_Vector z) {
  const sunindextype n = Length(z);
  realtype* zd = Data(z);
  for (sunindextype i = 0; i < n; ++i) zd[i] = c;
}

void Abs(N_Vector x, N_Vector z) {
  const sunindextype n = Length(x);
  const realtype* xd = Data(x);
  realtype* zd = Data(z);
  for (sunindextype i = 0; i < n; ++i) zd[i] = std::fabs(xd[i]);
}

void Inv(N_Vector x, N_Vector z) {
  const sunindextype n = Length(x);
  const realtype* xd = Data(x);
  realtype* zd = Data(z);
  for (sunindextype i = 0; i < n; ++i) zd[i] = 1.0 / xd[i];
}

void AddConst(N_Vector x, realtype b, N_Vector z) {
  const sunindextype n = Length(x);
  const realtype* xd = Data(x);
  realtype* zd = Data(z);
  for (sunindextype i = 0; i < n; ++i) zd[i] = xd[i] + b;
}

realtype WSqrSum(N_Vector x, N_Vector w) {
  const sunindextype n = Length(x);
  const realtype* xd = Data(x);
  const realtype* wd = Data(w);
  realtype sum = 0.0;
  for (sunindextype i = 0; i < n; ++i) {
    const realtype p = xd[i] * wd[i];
    sum += p * p;
  }
  return sum;
}

realtype WrmsNorm(N_Vector x, N_Vector w) {
  return std::sqrt(WSqrSum(x, w) / static_cast<realtype>(Length(x)));
}

// The fused operations as their fallbacks run them without a vector's own: one scale or
// linear sum per vector, in order, so that a vector of X that is also z is read as the
// fallback reads it.
int LinearCombination(int nvec, realtype* c, N_Vector* X, N_Vector z) {
  Scale(c[0], X[0], z);
  for (int i = 1; i < nvec; ++i) LinearSum(c[i], X[i], 1.0, z, z);
  return 0;
}

int ScaleAddMulti(int nvec, realtype* a, N_Vector x, N_Vector* Y, N_Vector* Z) {
  for (int i = 0; i < nvec; ++i) LinearSum(a[i], x, 1.0, Y[i], Z[i]);
  return 0;
}

}  // namespace

void UseSmallVectorOps(N_Vector v) {
  N_Vector_Ops ops = v->ops;
  ops->nvlinearsum = __builtin_cpu_supports("avx") ? LinearSumWide : LinearSum;
  ops->nvscale = Scale;
  ops->nvconst = Const;
  ops->nvabs = Abs;
  ops->nvinv = Inv;
  ops->nvaddconst = AddConst;
  ops->nvwrmsnorm = WrmsNorm;
  ops->nvwsqrsumlocal = WSqrSum;
  ops->nvlinearcombination = LinearCombination;
  ops->nvscaleaddmulti = ScaleAddMulti;
}

}  // namespace tarvo
