// The kernels against plain loops and the C library, for every kernel
// this machine runs: column counts of every strip width and remainder, row
// counts that leave partial register tiles, inner lengths past the cache
// chunk at which a strip cuts K, both strides of A, with and without
// accumulation. Cells outside the M x N result must keep what they held.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "network/kernels/KernelTable.h"
#include "vxneural/network/PassKernel.h"

namespace {

using VXNeural::PassKernel;
using VXNeural::detail::KernelTable;

std::vector<std::pair<PassKernel, const KernelTable*>> Tables() {
  std::vector<std::pair<PassKernel, const KernelTable*>> all = {
      {PassKernel::kBaseline, VXNeural::detail::BaselineKernel()},
      {PassKernel::kAvx2, VXNeural::detail::Avx2Kernel()},
      {PassKernel::kAvx512, VXNeural::detail::Avx512Kernel()}};
  std::vector<std::pair<PassKernel, const KernelTable*>> usable;
  for (const auto& t : all)
    if (t.second && VXNeural::IsPassKernelAvailable(t.first)) usable.push_back(t);
  return usable;
}

// Deterministic values in [-1, 1) without a random engine.
double Value(int i) { return ((i * 7919 + 13) % 2001) / 1000.0 - 1.0; }

struct GemmCase {
  int M, N, K;
  bool transposedA;  // A read as D^T (am = 1) rather than row by row
  bool accumulate;
};

TEST(KernelGemm, EveryKernelMatchesThePlainProduct) {
  const GemmCase cases[] = {
      // N of 1 to 16 vectors of the widest kernel: every strip width and
      // the remainders after them.
      {13, 8, 5, false, false},
      {13, 16, 7, false, true},
      {7, 24, 9, true, false},
      {9, 32, 11, false, false},
      {11, 40, 37, false, true},
      {17, 48, 20, true, true},
      {96, 56, 200, false, false},
      {50, 56, 96, true, true},
      {19, 64, 3, false, false},
      {23, 72, 10, true, false},
      {5, 80, 4, false, true},
      {31, 88, 6, false, false},
      {4, 96, 15, true, true},
      {8, 104, 2, false, false},
      {3, 112, 160, false, true},
      {1, 120, 8, true, false},
      {29, 128, 9, false, false},
      // The wide-input gradient (50 x 200 over a block of 96 records)
      // and a strip cut into several chunks of K.
      {50, 200, 96, true, true},
      {6, 56, 300, false, true},
      {10, 40, 250, true, false},
      // K = 0: C cleared, or left as it was.
      {7, 56, 0, false, false},
      {7, 40, 0, false, true},
  };
  for (const auto& [kernel, table] : Tables()) {
    SCOPED_TRACE(VXNeural::PassKernelName(kernel));
    for (const GemmCase& c : cases) {
      SCOPED_TRACE(testing::Message()
                   << c.M << "x" << c.N << " K " << c.K << (c.transposedA ? " A^T" : "")
                   << (c.accumulate ? " +=" : ""));
      // Leading dimensions wider than the matrices, so that a kernel
      // reading or writing past its columns shows.
      const std::ptrdiff_t lda = c.transposedA ? c.M + 3 : c.K + 5, ldb = c.N + 8, ldc = c.N + 16;
      const std::ptrdiff_t am = c.transposedA ? 1 : lda, ak = c.transposedA ? lda : 1;
      std::vector<double> A(static_cast<std::size_t>((c.transposedA ? c.K : c.M) * lda + 8));
      std::vector<double> B(static_cast<std::size_t>(c.K * ldb + 8));
      std::vector<double> C(static_cast<std::size_t>((c.M + 1) * ldc));
      for (std::size_t i = 0; i < A.size(); ++i) A[i] = Value(static_cast<int>(i));
      for (std::size_t i = 0; i < B.size(); ++i) B[i] = Value(static_cast<int>(i + 5000));
      for (std::size_t i = 0; i < C.size(); ++i) C[i] = Value(static_cast<int>(i + 9000));
      const std::vector<double> before = C;
      // The same operands as rows of their own, no longer than what the
      // product may read, for the variants that take row pointers.
      std::vector<std::vector<double>> aRows, bRows;
      std::vector<const double*> aPtrs, bPtrs;
      for (int m = 0; m < c.M && !c.transposedA; ++m)
        aRows.emplace_back(A.begin() + m * lda, A.begin() + m * lda + c.K);
      for (int k = 0; k < c.K; ++k)
        bRows.emplace_back(B.begin() + k * ldb, B.begin() + k * ldb + c.N);
      for (const auto& r : aRows) aPtrs.push_back(r.data());
      for (const auto& r : bRows) bPtrs.push_back(r.data());

      for (int variant = 0; variant < 3; ++variant) {
        if (variant == 1 && c.transposedA) continue;
        SCOPED_TRACE(variant == 0 ? "strided" : variant == 1 ? "rows of A" : "rows of B");
        C = before;
        if (variant == 0)
          table->gemm(c.M, c.N, c.K, A.data(), am, ak, B.data(), ldb, C.data(), ldc, c.accumulate);
        else if (variant == 1)
          table->gemmRowsA(c.M, c.N, c.K, aPtrs.data(), B.data(), ldb, C.data(), ldc, c.accumulate);
        else
          table->gemmRowsB(c.M, c.N, c.K, A.data(), am, ak, bPtrs.data(), C.data(), ldc,
                           c.accumulate);

        for (int m = 0; m <= c.M; ++m) {
          for (int n = 0; n < ldc; ++n) {
            const std::size_t at = static_cast<std::size_t>(m * ldc + n);
            if (m == c.M || n >= c.N) {
              ASSERT_EQ(C[at], before[at]) << "outside the result at " << m << "," << n;
              continue;
            }
            double want = c.accumulate ? before[at] : 0.0, magnitude = std::fabs(want);
            for (int k = 0; k < c.K; ++k) {
              const double t = A[m * am + k * ak] * B[k * ldb + n];
              want += t;
              magnitude += std::fabs(t);
            }
            ASSERT_NEAR(C[at], want, 1e-14 * (1.0 + magnitude)) << "at " << m << "," << n;
          }
        }
      }
    }
  }
}

// The last few columns of a product as dot products: C += A_m . B_j for
// j < T, rows of A of exactly K values (any K: whole vectors and a ragged
// end), odd and even row counts; cells past T keep their values.
TEST(KernelGemm, DotsMatchThePlainSums) {
  constexpr int kLdb = 45, kLdc = 9;
  for (const auto& [kernel, table] : Tables()) {
    SCOPED_TRACE(VXNeural::PassKernelName(kernel));
    for (int M : {1, 4, 7}) {
      for (int T : {1, 2, 4, 5}) {
        for (int K : {0, 3, 8, 21, 40}) {
          SCOPED_TRACE(testing::Message() << M << " rows, " << T << " columns, K " << K);
          std::vector<std::vector<double>> rows;
          std::vector<const double*> ptrs;
          for (int m = 0; m < M; ++m) {
            rows.emplace_back(static_cast<std::size_t>(K));
            for (int k = 0; k < K; ++k) rows.back()[k] = Value(m * 100 + k);
          }
          for (const auto& r : rows) ptrs.push_back(r.data());
          std::vector<double> B(T * kLdb), C(M * kLdc);
          for (std::size_t i = 0; i < B.size(); ++i) B[i] = Value(static_cast<int>(i) + 3000);
          for (std::size_t i = 0; i < C.size(); ++i) C[i] = Value(static_cast<int>(i) + 6000);
          const std::vector<double> before = C;
          table->dots(M, T, K, ptrs.data(), B.data(), kLdb, C.data(), kLdc);
          for (int m = 0; m < M; ++m) {
            for (int j = 0; j < kLdc; ++j) {
              double want = before[m * kLdc + j];
              for (int k = 0; k < K && j < T; ++k) want += rows[m][k] * B[j * kLdb + k];
              ASSERT_NEAR(C[m * kLdc + j], want, 1e-14 * (1.0 + K)) << m << "," << j;
            }
          }
        }
      }
    }
  }
}

}  // namespace

namespace {

// Element-wise functions against the C library, whole vectors and a partial
// last one: tanh to a few units in the last place (sign, 0, saturation and
// NaN kept), e^x for x <= 0 likewise, and 0 below the normal range.
TEST(KernelElementwise, TanhAndExponentialMatchTheLibrary) {
  const std::vector<double> x = {0.0,  -0.0, 1e-300, -1e-12, 3e-4, -0.17, 0.3466, -0.5,   1.0,
                                 -2.2, 5.5,  -9.75,  19.9,   -25,  400,   -707.5, -708.5, -1e5};
  for (const auto& [kernel, table] : Tables()) {
    SCOPED_TRACE(VXNeural::PassKernelName(kernel));
    std::vector<double> y(x.size() + 1, 7.0);
    table->tanh(x.data(), y.data(), static_cast<int>(x.size()));
    for (std::size_t i = 0; i < x.size(); ++i) {
      const double want = std::tanh(x[i]);
      EXPECT_NEAR(y[i], want, 1e-15 * std::fabs(want)) << "tanh " << x[i];
      EXPECT_EQ(std::signbit(y[i]), std::signbit(want)) << "tanh " << x[i];
    }
    EXPECT_EQ(y.back(), 7.0) << "written past the end";
    const double nan = std::nan("");
    table->tanh(&nan, y.data(), 1);
    EXPECT_TRUE(std::isnan(y[0]));
    for (std::size_t i = 0; i < x.size(); ++i) {
      const double in = -std::fabs(x[i]);
      table->expNonPositive(&in, y.data(), 1);
      const double want = in < -708.0 ? 0.0 : std::exp(in);
      EXPECT_NEAR(y[0], want, 1e-15 * want) << "exp " << in;
    }
  }
}

// Column sums and tanh's derivative over padded rows; cells past the
// columns given keep their values.
TEST(KernelElementwise, ColumnSumsAndTanhDerivative) {
  constexpr int kM = 7, kN = 40, kLd = 45;
  std::vector<double> a(kM * kLd), y(kN), d(kN + 1);
  for (std::size_t i = 0; i < a.size(); ++i) a[i] = Value(static_cast<int>(i));
  for (int j = 0; j < kN; ++j) y[j] = Value(j + 300), d[j] = Value(j + 600);
  d[kN] = 5.0;
  for (const auto& [kernel, table] : Tables()) {
    SCOPED_TRACE(VXNeural::PassKernelName(kernel));
    std::vector<double> sums(kN + 1, 0.25);
    table->columnSums(kM, kN, a.data(), kLd, sums.data());
    for (int j = 0; j < kN; ++j) {
      double want = 0.25;
      for (int m = 0; m < kM; ++m) want += a[m * kLd + j];
      EXPECT_NEAR(sums[j], want, 1e-14) << j;
    }
    EXPECT_EQ(sums[kN], 0.25);
    std::vector<double> got = d;
    table->timesTanhDerivative(got.data(), y.data(), kN);
    for (int j = 0; j < kN; ++j) EXPECT_NEAR(got[j], d[j] * (1 - y[j] * y[j]), 1e-15) << j;
    EXPECT_EQ(got[kN], 5.0);
  }
}

// Radial units from the products x . c against e^(s |x - c|^2) computed
// directly, plain and normalised, for centre counts that end in every part
// of a vector, with a record far from every centre (all its terms below
// the normal range before the normalisation takes the largest out).
TEST(KernelRadialRows, MatchTheDirectFormula) {
  constexpr int kInputs = 11, kLdX = 16, kLdH = 24, kRows = 3;
  std::vector<double> x(kRows * kLdX, 0.0);
  for (int r = 0; r < kRows; ++r)
    for (int i = 0; i < kInputs; ++i) x[r * kLdX + i] = Value(r * 31 + i) * (r == 2 ? 60.0 : 1.0);
  // Each record's row as its own vector of exactly its inputs.
  std::vector<std::vector<double>> xOwn;
  std::vector<const double*> xRows;
  for (int r = 0; r < kRows; ++r)
    xOwn.emplace_back(x.begin() + r * kLdX, x.begin() + r * kLdX + kInputs);
  for (const auto& row : xOwn) xRows.push_back(row.data());
  for (int used : {1, 2, 7, 9, 16, 17}) {
    std::vector<double> c(static_cast<std::size_t>(used * kInputs)), norms(kLdH, 0.0),
        scales(kLdH, 0.0);
    for (std::size_t i = 0; i < c.size(); ++i) c[i] = Value(static_cast<int>(i) + 700);
    for (int j = 0; j < used; ++j) {
      for (int i = 0; i < kInputs; ++i) norms[j] += c[j * kInputs + i] * c[j * kInputs + i];
      scales[j] = -0.5 / (0.2 + 0.1 * j);
    }
    for (bool normalized : {false, true}) {
      std::vector<double> want(kRows * kLdH, 0.0), h(kRows * kLdH, 9.0);
      for (int r = 0; r < kRows; ++r) {
        double largest = -HUGE_VAL;
        for (int j = 0; j < used; ++j) {
          double dist = 0.0, dot = 0.0;
          for (int i = 0; i < kInputs; ++i) {
            const double xi = x[r * kLdX + i], ci = c[j * kInputs + i];
            dist += (xi - ci) * (xi - ci);
            dot += xi * ci;
          }
          want[r * kLdH + j] = dist * scales[j];
          largest = std::max(largest, want[r * kLdH + j]);
          h[r * kLdH + j] = dot;
        }
        double sum = 0.0;
        for (int j = 0; j < used; ++j) {
          double& w = want[r * kLdH + j];
          w = std::exp(normalized ? w - largest : w);
          sum += w;
        }
        for (int j = 0; j < used && normalized; ++j) want[r * kLdH + j] /= sum;
      }
      for (const auto& [kernel, table] : Tables()) {
        SCOPED_TRACE(testing::Message() << VXNeural::PassKernelName(kernel) << " used " << used
                                        << (normalized ? " normalised" : ""));
        std::vector<double> got = h;
        table->radialRows(kRows, used, xRows.data(), kInputs, norms.data(), scales.data(),
                          normalized, got.data(), kLdH);
        for (int r = 0; r < kRows; ++r) {
          for (int j = 0; j < kLdH; ++j) {
            const double g = got[r * kLdH + j];
            if (j >= VXNeural::detail::Padded(used))
              EXPECT_EQ(g, 9.0) << "past the padded row at " << r << "," << j;
            else  // |x|^2 - 2 x.c + |c|^2 cancels on the far record
              EXPECT_NEAR(g, want[r * kLdH + j], 1e-10 * (1.0 + want[r * kLdH + j]))
                  << r << "," << j;
          }
        }
      }
    }
  }
}

}  // namespace
