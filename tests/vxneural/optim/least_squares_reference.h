// An independent weighted least-squares solve for the solver tests: the
// normal equations (X'WX) b = X'WY by Gaussian elimination with partial
// pivoting, and the residual sums of squares of the solution.
#pragma once

#include <cmath>
#include <utility>
#include <vector>

namespace least_squares_reference {

struct Fit {
  std::vector<std::vector<double>> b;  // b[t][i]
  std::vector<double> rss;             // per dependent variable
};

// x: one row of regressors per record (the constant column included when
// wanted), y: one row of dependent values per record, w: the weights.
inline Fit Solve(const std::vector<std::vector<double>>& x,
                 const std::vector<std::vector<double>>& y, const std::vector<double>& w) {
  const std::size_t n = x.size(), p = x[0].size(), q = y[0].size();
  std::vector<std::vector<double>> a(p, std::vector<double>(p + q, 0.0));
  for (std::size_t r = 0; r < n; ++r)
    for (std::size_t i = 0; i < p; ++i) {
      for (std::size_t j = 0; j < p; ++j) a[i][j] += w[r] * x[r][i] * x[r][j];
      for (std::size_t t = 0; t < q; ++t) a[i][p + t] += w[r] * x[r][i] * y[r][t];
    }
  for (std::size_t c = 0; c < p; ++c) {
    std::size_t best = c;
    for (std::size_t r = c + 1; r < p; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[best][c])) best = r;
    std::swap(a[c], a[best]);
    for (std::size_t r = 0; r < p; ++r) {
      if (r == c) continue;
      const double f = a[r][c] / a[c][c];
      for (std::size_t k = c; k < p + q; ++k) a[r][k] -= f * a[c][k];
    }
  }
  Fit fit;
  fit.b.assign(q, std::vector<double>(p));
  for (std::size_t t = 0; t < q; ++t)
    for (std::size_t i = 0; i < p; ++i) fit.b[t][i] = a[i][p + t] / a[i][i];
  fit.rss.assign(q, 0.0);
  for (std::size_t r = 0; r < n; ++r)
    for (std::size_t t = 0; t < q; ++t) {
      double e = y[r][t];
      for (std::size_t i = 0; i < p; ++i) e -= x[r][i] * fit.b[t][i];
      fit.rss[t] += w[r] * e * e;
    }
  return fit;
}

}  // namespace least_squares_reference
