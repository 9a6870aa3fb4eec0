// The sums a network's passes leave (error, accuracy, output averages,
// gradient, the mean model's error, record counts) as bits, for tests that
// compare a pass shared between processes with one process's, and the
// shapes and networks they compare them on.
#pragma once

#include <cstring>
#include <iterator>
#include <memory>
#include <valarray>
#include <vector>

#include "vxcommon/Record.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/algorithm/RBFSettings.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/RBFHiddenLayer.h"
#include "vxneural/network/VXRandom.h"

namespace pass_sums {

using VXCommon_1_2::VectorRecordIter;
using VXCommon_1_2::VXStatus;

// What a gradient pass and an error-only pass leave, as bits.
struct Sums {
  int records = 0, errorOnlyRecords = 0;
  std::vector<double> values;  // error, accuracy, errors of both passes' extras, averages, gradient
  int status = 0;
};

inline Sums Passes(NNetwork& net, VectorRecordIter& source, bool gradient) {
  Sums s;
  VXStatus status;
  net.ResetDerivatives();
  net.SetComputeAverages(true);
  net.ProcessRecords(status, source, 1 << 30, s.records, !gradient, true);
  net.SetComputeAverages(false);
  s.status = status.GetErrorCode();
  s.values = {net.GetAccumError(), net.GetAccuracy()};
  const std::valarray<double>& averages = net.GetOutputAverages();
  s.values.insert(s.values.end(), std::begin(averages), std::end(averages));
  if (gradient) {
    std::valarray<double> g;
    net.GetGradient(g);
    s.values.insert(s.values.end(), std::begin(g), std::end(g));
  }
  source.Rewind();
  net.ResetDerivatives();
  net.SetComputeErrorAverages(true);
  net.ProcessRecords(status, source, 1 << 30, s.errorOnlyRecords, true, false);
  net.SetComputeErrorAverages(false);
  if (s.status == 0) s.status = status.GetErrorCode();
  s.values.push_back(net.GetAccumError());
  s.values.push_back(net.GetErrorAverages());
  return s;
}

inline bool SameBits(const Sums& a, const Sums& b) {
  return a.records == b.records && a.errorOnlyRecords == b.errorOnlyRecords &&
         a.values.size() == b.values.size() &&
         std::memcmp(a.values.data(), b.values.data(), a.values.size() * sizeof(double)) == 0;
}

struct Shape {
  const char* name;
  bool rbf;
  int inputs;
  std::vector<int> categories;  // units per target
  std::vector<int> hidden;
};

inline std::unique_ptr<NeuralSettings> SettingsOf(const Shape& shape) {
  if (shape.rbf) {
    auto s = std::make_unique<RBFSettings>(shape.inputs, shape.categories, 100);
    s->SetNumHiddenUnits(shape.hidden[0], 1);
    return s;
  }
  auto s = std::make_unique<MLPSettings>(shape.inputs, shape.categories, 100);
  s->SetNumHiddenLayers(static_cast<int>(shape.hidden.size()));
  for (std::size_t l = 0; l < shape.hidden.size(); ++l)
    s->SetNumHiddenUnits(shape.hidden[l], static_cast<int>(l) + 1);
  return s;
}

// The network every process builds: the same weights everywhere.
inline std::unique_ptr<NNetwork> NetworkOf(const NeuralSettings& settings) {
  auto net = std::make_unique<NNetwork>(settings);
  VXRandom rng(3, true);
  net->RandomizeWeights(rng, -1.0, 1.0);
  if (RBFHiddenLayer* hidden = net->GetRBFHiddenLayer())
    hidden->SetNumCenters(hidden->GetNumUnits());
  return net;
}

inline const std::vector<Shape>& Shapes() {
  static const std::vector<Shape> shapes{
      {"mlp categorical and continuous", false, 6, {3, 1}, {5}},
      {"mlp two hidden layers", false, 37, {10}, {33, 14}},
      {"mlp continuous", false, 4, {1}, {3}},
      {"rbf", true, 5, {3, 1}, {12}},
  };
  return shapes;
}

}  // namespace pass_sums
