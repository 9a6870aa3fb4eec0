// The arithmetic of the blocked passes, compiled once per instruction set
// and chosen at run time (PassKernel.h). Every kernel computes the same
// sums; they differ only in the order of additions (vector width, register
// tiles, fused multiply-adds), so results may differ in the last bits
// between kernels but never between two runs of the same kernel.
#pragma once

#include <cstddef>

namespace VXNeural {
namespace detail {

// Matrices are row-major with an explicit leading dimension. Column counts
// handed to Gemm are multiples of kPad; callers pad rows with zeros.
constexpr int kPad = 8;

inline int Padded(int n) { return (n + kPad - 1) / kPad * kPad; }

struct KernelTable {
  // C[m][n] = (accumulate ? C[m][n] : 0) + sum over k < K of
  //   A[m * am + k * ak] * B[k * ldb + n], for m < M, n < N (N % kPad == 0).
  // The strides of A let one kernel serve X * W^T (am = row length, ak = 1)
  // and D^T * X (am = 1, ak = row length).
  void (*gemm)(int M, int N, int K, const double* A, std::ptrdiff_t am, std::ptrdiff_t ak,
               const double* B, std::ptrdiff_t ldb, double* C, std::ptrdiff_t ldc, bool accumulate);
  // As gemm, with A's row m read at aRows[m] (ak = 1): the rows of a block
  // of records where their source keeps them.
  void (*gemmRowsA)(int M, int N, int K, const double* const* aRows, const double* B,
                    std::ptrdiff_t ldb, double* C, std::ptrdiff_t ldc, bool accumulate);
  // As gemm, with B's row k read at bRows[k]; only its first N values are
  // read.
  void (*gemmRowsB)(int M, int N, int K, const double* A, std::ptrdiff_t am, std::ptrdiff_t ak,
                    const double* const* bRows, double* C, std::ptrdiff_t ldc, bool accumulate);
  // C[m * ldc + j] += the sum over k < K of aRows[m][k] * B[j * ldb + k],
  // for m < M, j < T: a product's last few columns (T of a vector or less)
  // as dot products along k, at about T / (vector width) of the
  // multiply-adds that a whole vector of padded columns would cost.
  void (*dots)(int M, int T, int K, const double* const* aRows, const double* B, std::ptrdiff_t ldb,
               double* C, std::ptrdiff_t ldc);
  // One record through one layer, all units at once: z[n] = bias[n] + the
  // sum over k < K of x[k] * W[k * ldw + n], for n < N (N % kPad == 0).
  // Terms whose input is 0 may be left out, which changes no sum but the
  // sign of a zero: a one-of-n input then costs about one weight row
  // rather than n.
  void (*rowDots)(int K, const double* x, const double* W, std::ptrdiff_t ldw, const double* bias,
                  double* z, int N);
  // y[i] = tanh(x[i]) for i < n, within a few units in the last place.
  void (*tanh)(const double* x, double* y, int n);
  // y[i] = e^x[i] for x[i] <= 0 (0 below -708, where the result would not
  // be a normal double), within a few units in the last place.
  void (*expNonPositive)(const double* x, double* y, int n);
  // Floating-point operations of a register-only multiply-add loop run for
  // `rounds` rounds, for measuring the core's peak rate with this kernel's
  // instructions; *sink receives a value that depends on every operation.
  double (*peak)(long rounds, double* sink);
  // The radial units of n records, x_r at x[r] with `inputs` values, for
  // the centres j < used: coordinate i of centre j at centersT[i * ldc + j]
  // and its variance a_j at variances[j]. The squared distance is summed
  // from the differences themselves, d = the sum over i, in order, of
  // (x_i - c_ji)^2 / a_j, each term divided before it is added, exactly as
  // a hidden layer computes it record by record: the bits of d are the
  // same at any distance from the origin, where |x|^2 - 2 x.c + |c|^2
  // would lose them to cancellation. The unit is then e^(-d / 2);
  // normalised, each row is divided by its sum, the row's largest exponent
  // taken out first so that not every term can underflow. centersT and
  // variances are read up to Padded(used) columns, which must hold numbers
  // and a variance other than 0; the columns from `used` to Padded(used)
  // of h come back 0.
  void (*radialRows)(int n, int used, const double* const* x, int inputs, const double* centersT,
                     std::ptrdiff_t ldc, const double* variances, bool normalized, double* h,
                     std::ptrdiff_t ldh);
  // sums[j] += the sum over m < M of A[m * lda + j], for j < N
  // (N % kPad == 0).
  void (*columnSums)(int M, int N, const double* A, std::ptrdiff_t lda, double* sums);
  // d[i] *= (1 + y[i]) (1 - y[i]), tanh's derivative at its value y, for
  // i < n (n % kPad == 0).
  void (*timesTanhDerivative)(double* d, const double* y, int n);
  // y[i] = x[i] * a[i] + b[i] for i < n, the product rounded before b[i]
  // is added (never fused), so that every kernel gives the bits of the
  // plain expression; returns whether any x[i] equals `flag`.
  bool (*affine)(const double* x, const double* a, const double* b, double* y, int n, double flag);
};

// Null when the build has no such kernel (not an x86-64 build).
const KernelTable* BaselineKernel();
const KernelTable* Avx2Kernel();
const KernelTable* Avx512Kernel();

}  // namespace detail
}  // namespace VXNeural

namespace VXNeural {
namespace detail {
// The table of the kernel the passes use now; null for the reference
// (record by record) kernel.
const KernelTable* ActiveKernelTable();
}  // namespace detail
}  // namespace VXNeural
