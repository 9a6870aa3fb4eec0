// Settings, encoded records, a plain reference implementation of an MLP and
// small helpers shared by the network tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <valarray>
#include <vector>

#include "common/saved_forms.h"
#include "vxcommon/Record.h"
#include "vxneural/VXNNCommon.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/PassKernel.h"

// A second, deliberately plain implementation of an MLP for checking the
// network: nested vectors, one weight at a time from the flat weight vector,
// probabilities from exp and a direct division, errors straight from their
// definitions.
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

namespace network_fixtures {

// Settings that take the output activation as given, even SoftMax over a
// continuous target, which the setter would refuse: the network must then
// fall back on its own.
class TestSettings : public MLPSettings {
 public:
  using MLPSettings::MLPSettings;
  void ForceOutput(VXNNCommon::ActivationFunction f) { fActivFnOutput = f; }
};

inline std::unique_ptr<MLPSettings> MakeSettings(int inputs, const std::vector<int>& categories,
                                                 const std::vector<int>& hidden,
                                                 VXNNCommon::ActivationFunction hiddenFn,
                                                 VXNNCommon::ActivationFunction outputFn) {
  auto s = std::make_unique<TestSettings>(inputs, categories, 100);
  s->SetNumHiddenLayers(static_cast<int>(hidden.size()));
  for (std::size_t l = 0; l < hidden.size(); ++l)
    s->SetNumHiddenUnits(hidden[l], static_cast<int>(l) + 1);
  s->SetActivFnHiddenLayer(hiddenFn);
  s->ForceOutput(outputFn);
  return s;
}

// The reference shape of a network built from such settings.
inline mlp_reference::Shape ShapeOf(const NNetwork& net) {
  mlp_reference::Shape s;
  for (int l = 0; l <= net.GetNumLayers(); ++l) s.units.push_back(net.GetLayer(l)->GetNumUnits());
  if (net.GetNumLayers() > 1) s.hidden = net.GetLayer(1)->GetActivationFunction();
  s.output = net.GetLayer(net.GetNumLayers())->GetActivationFunction();
  s.categories = net.GetNumOutputCategories();
  return s;
}

// Encoded records: inputs uniform in [-1, 1]; a continuous target uniform in
// [0, 1]; a categorical one a one-of-n indicator.
inline std::vector<VXCommon_1_2::Record> MakeRecords(int inputs, const std::vector<int>& categories,
                                                     int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<VXCommon_1_2::Record> records;
  for (int r = 0; r < n; ++r) {
    std::vector<double> v;
    for (int i = 0; i < inputs; ++i) v.push_back(u(gen));
    for (int c : categories) {
      if (c == 1) {
        v.push_back(0.5 * (u(gen) + 1.0));
      } else {
        const int hot = static_cast<int>(gen() % static_cast<unsigned>(c));
        for (int k = 0; k < c; ++k) v.push_back(k == hot ? 1.0 : 0.0);
      }
    }
    records.emplace_back(std::move(v));
  }
  return records;
}

inline std::valarray<double> RandomWeights(int n, unsigned seed, double lo, double hi) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(lo, hi);
  std::valarray<double> w(static_cast<std::size_t>(n));
  for (double& x : w) x = u(gen);
  return w;
}

inline std::valarray<double> WeightsOf(const NNetwork& net) {
  std::valarray<double> w;
  net.GetWeights(w);
  return w;
}

// Pins a pass kernel for one scope and puts the previous one back.
struct KernelScope {
  explicit KernelScope(VXNeural::PassKernel k) : previous(VXNeural::GetPassKernel()) {
    EXPECT_TRUE(VXNeural::SetPassKernel(k));
  }
  ~KernelScope() { VXNeural::SetPassKernel(previous); }
  VXNeural::PassKernel previous;
};

// Inputs, hidden activation, hidden layer sizes, units per target, output
// activation.
using KernelCase = std::tuple<int, VXNNCommon::ActivationFunction, std::vector<int>,
                              std::vector<int>, VXNNCommon::ActivationFunction>;

// The gradient check's shapes: both hidden activations, 0-2 hidden layers,
// continuous, categorical and mixed targets, SoftMax and Identity outputs.
inline auto GradientCheckShapes(int inputs) {
  return ::testing::Combine(
      ::testing::Values(inputs), ::testing::Values(VXNNCommon::kTanH, VXNNCommon::kSigmoid),
      ::testing::Values(std::vector<int>{}, std::vector<int>{4}, std::vector<int>{4, 3}),
      ::testing::Values(std::vector<int>{1, 1}, std::vector<int>{3, 2}, std::vector<int>{3, 1, 2}),
      ::testing::Values(VXNNCommon::kIdentity, VXNNCommon::kSoftMax));
}

}  // namespace network_fixtures
