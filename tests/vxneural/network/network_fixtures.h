// Settings, encoded records and small helpers shared by the network tests.
#pragma once

#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <valarray>
#include <vector>

#include "mlp_reference.h"
#include "vxcommon/Record.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/network/NNetwork.h"

namespace network_fixtures {

// MLP settings with the given hidden layer sizes and activations.
inline std::unique_ptr<MLPSettings> MakeSettings(int inputs, const std::vector<int>& categories,
                                                 const std::vector<int>& hidden,
                                                 VXNNCommon::ActivationFunction hiddenFn,
                                                 VXNNCommon::ActivationFunction outputFn) {
  auto s = std::make_unique<MLPSettings>(inputs, categories, 100);
  s->SetNumHiddenLayers(static_cast<int>(hidden.size()));
  for (std::size_t l = 0; l < hidden.size(); ++l)
    s->SetNumHiddenUnits(hidden[l], static_cast<int>(l) + 1);
  s->SetActivFnHiddenLayer(hiddenFn);
  // SoftMax is refused (with a warning) unless every target is categorical.
  std::ostringstream quiet;
  auto* old = std::cerr.rdbuf(quiet.rdbuf());
  s->SetActivFnOutputLayer(outputFn);
  std::cerr.rdbuf(old);
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

// Fills the flat weight vector with values uniform in [lo, hi].
inline std::valarray<double> RandomWeights(int n, unsigned seed, double lo, double hi) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(lo, hi);
  std::valarray<double> w(static_cast<std::size_t>(n));
  for (double& x : w) x = u(gen);
  return w;
}

// Runs f with standard error captured; returns what was written.
template <typename F>
std::string CaptureStderr(F&& f) {
  std::ostringstream captured;
  auto* old = std::cerr.rdbuf(captured.rdbuf());
  try {
    f();
  } catch (...) {
    std::cerr.rdbuf(old);
    throw;
  }
  std::cerr.rdbuf(old);
  return captured.str();
}

// True when f threw a VXNeural::IOException pointer (which is deleted).
template <typename F>
bool ThrowsIOException(F&& f) {
  try {
    f();
  } catch (VXNeural::IOException* e) {
    delete e;
    return true;
  }
  return false;
}

}  // namespace network_fixtures
