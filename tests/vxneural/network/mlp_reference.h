// A second, deliberately plain implementation of an MLP for checking the
// network: nested vectors, one weight at a time from the flat weight vector,
// probabilities from exp and a direct division, errors straight from their
// definitions.
#pragma once

#include <cmath>
#include <cstddef>
#include <valarray>
#include <vector>

#include "vxneural/VXNNCommon.h"

namespace mlp_reference {

struct Shape {
  std::vector<int> units;  // input, hidden..., output
  VXNNCommon::ActivationFunction hidden = VXNNCommon::kTanH;
  VXNNCommon::ActivationFunction output = VXNNCommon::kIdentity;
  std::vector<int> categories;  // units per target variable
};

// Output values as probabilities (SoftMax per category group).
inline std::vector<double> Forward(const Shape& s, const std::valarray<double>& w,
                                   const double* inputs) {
  std::vector<double> x(inputs, inputs + s.units[0]);
  std::size_t k = 0;
  const std::size_t layers = s.units.size() - 1;
  for (std::size_t l = 1; l <= layers; ++l) {
    std::vector<double> y(static_cast<std::size_t>(s.units[l]));
    for (double& yj : y) {
      double c = w[k++];
      for (double xi : x) c += w[k++] * xi;
      yj = c;
    }
    const auto f = l < layers ? s.hidden : s.output;
    if (f == VXNNCommon::kSoftMax) {
      std::size_t first = 0;
      for (int n : s.categories) {
        double sum = 0.0;
        for (int u = 0; u < n; ++u) sum += std::exp(y[first + u]);
        for (int u = 0; u < n; ++u) y[first + u] = std::exp(y[first + u]) / sum;
        first += static_cast<std::size_t>(n);
      }
    } else if (f == VXNNCommon::kTanH) {
      for (double& yj : y) yj = std::tanh(yj);
    } else if (f == VXNNCommon::kSigmoid) {
      for (double& yj : y) yj = 1.0 / (1.0 + std::exp(-yj));
    }
    x = y;
  }
  return x;
}

inline double SumOfSquares(const std::vector<double>& o, const double* t) {
  double e = 0.0;
  for (std::size_t k = 0; k < o.size(); ++k) e += 0.5 * (t[k] - o[k]) * (t[k] - o[k]);
  return e;
}

inline double CrossEntropy(const std::vector<double>& p, const double* t) {
  double e = 0.0;
  for (std::size_t k = 0; k < p.size(); ++k)
    if (t[k] != 0.0) e -= t[k] * std::log(p[k] / t[k]);
  return e;
}

inline int NumWeights(const Shape& s) {
  int n = 0;
  for (std::size_t l = 1; l < s.units.size(); ++l) n += s.units[l] * (s.units[l - 1] + 1);
  return n;
}

}  // namespace mlp_reference
