// The kernels' matrix product against a plain triple loop, for every kernel
// this machine runs: column counts of every strip width and remainder, row
// counts that leave partial register tiles, inner lengths past the cache
// chunk at which a strip cuts K, both strides of A, with and without
// accumulation. Cells outside the M x N result must keep what they held.
#include <gtest/gtest.h>

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

      table->gemm(c.M, c.N, c.K, A.data(), am, ak, B.data(), ldb, C.data(), ldc, c.accumulate);

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

}  // namespace
