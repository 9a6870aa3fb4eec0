#include "vxneural/network/MLPLayer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <utility>

#include "network/ArrayData.h"
#include "network/InputUnits.h"
#include "persist/BinaryIO.h"
#include "persist/Display.h"
#include "persist/XmlIO.h"
#include "vxcommon/XMLTree.h"
#include "vxneural/network/VXRandom.h"

using VXNeural::detail::Data;
using VXNNCommon::ActivationFunction;

namespace {

constexpr const char* kClassName = "MLPLayer";
constexpr const char* kBinaryTag = "MLPLay";
// XML objects of layers sit inside the network's object, itself inside the
// algorithm's.
constexpr int kXmlLevel = 2;
// Below this combination the Sigmoid's e^-x would overflow; its value is 0.
constexpr double kSigmoidFloor = -INLayer::kMaxExpArgument;

// c[j] = w[j][0] + sum over i of w[j][i] * x[i - 1], for the weight indices
// i in [1, skip) and (skip, stride), added from i = 1 upward. Four rows go
// together: each keeps its own order of addition, so the results are those
// of the plain loop, while four independent chains keep the pipeline busy.
void Combine(const double* w, int rows, int stride, const double* x, int skip, double* c) {
  const int split = std::min(std::max(skip, 1), stride);
  const int resume = std::min(split + 1, stride);
  int j = 0;
  for (; j + 4 <= rows; j += 4) {
    const double* w0 = w + static_cast<std::ptrdiff_t>(j) * stride;
    const double* w1 = w0 + stride;
    const double* w2 = w1 + stride;
    const double* w3 = w2 + stride;
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    for (int i = 1; i < split; ++i) {
      const double xi = x[i - 1];
      s0 += w0[i] * xi;
      s1 += w1[i] * xi;
      s2 += w2[i] * xi;
      s3 += w3[i] * xi;
    }
    for (int i = resume; i < stride; ++i) {
      const double xi = x[i - 1];
      s0 += w0[i] * xi;
      s1 += w1[i] * xi;
      s2 += w2[i] * xi;
      s3 += w3[i] * xi;
    }
    c[j] = w0[0] + s0;
    c[j + 1] = w1[0] + s1;
    c[j + 2] = w2[0] + s2;
    c[j + 3] = w3[0] + s3;
  }
  for (; j < rows; ++j) {
    const double* wj = w + static_cast<std::ptrdiff_t>(j) * stride;
    double s = 0.0;
    for (int i = 1; i < split; ++i) s += wj[i] * x[i - 1];
    for (int i = resume; i < stride; ++i) s += wj[i] * x[i - 1];
    c[j] = wj[0] + s;
  }
}

// The fields of a saved layer, read and checked before the layer changes.
struct SavedLayer {
  int type = 0;
  int units = 0;
  int lower = 0;
  int activation = 0;
  double lo = 0.0;
  double hi = 0.0;
  std::vector<double> weights;
  std::vector<int> categories;
};

int ReadCategoryCount(VXNeural::detail::BinReader& r) {
  return r.Count(VXNeural::detail::kMaxVariables, 4);
}
int ReadCategoryCount(VXNeural::detail::XmlReader& r) {
  return r.Count(VXNeural::detail::kMaxVariables);
}

// Both saved forms hold the same values in the same order. Counts are
// checked before anything is allocated for them; a layer whose counts do
// not fit together is refused like a malformed one.
// valuesLeft: how many more values the stream could hold.
template <typename Reader>
SavedLayer ReadSavedLayer(Reader& r, std::size_t valuesLeft) {
  using VXNeural::detail::kMaxCategories;
  using VXNeural::detail::kMaxElements;
  SavedLayer s;
  s.type = r.Int();
  s.units = r.Int();
  s.lower = r.Int();
  s.activation = r.Int();
  s.lo = r.Double();
  s.hi = r.Double();
  const bool input = s.type == VXNNCommon::kInputLayer;
  if (s.type < VXNNCommon::kInputLayer || s.type > VXNNCommon::kOutputLayer) r.Fail();
  if (s.units < 0 || s.units > kMaxCategories) r.Fail();
  if (input ? s.lower != 0 : (s.lower < 1 || s.lower > kMaxCategories + 1)) r.Fail();
  if (input && !VXNeural::detail::InputUnitsPlausible(s.units, valuesLeft)) r.Fail();
  if (s.activation < VXNNCommon::kTanH || s.activation > VXNNCommon::kIdentity) r.Fail();
  if (s.activation == VXNNCommon::kSoftMax && !input && s.type != VXNNCommon::kOutputLayer)
    r.Fail();
  if (!input) {
    const std::int64_t n = static_cast<std::int64_t>(s.units) * s.lower;
    if (n > kMaxElements) r.Fail();
    s.weights = r.Doubles(static_cast<int>(n));
  }
  s.categories = r.Ints(ReadCategoryCount(r));
  std::int64_t sum = 0;
  for (int c : s.categories) {
    if (c < 0) r.Fail();
    sum += c;
  }
  if (s.type == VXNNCommon::kOutputLayer && s.activation == VXNNCommon::kSoftMax && sum != s.units)
    r.Fail();
  return s;
}

template <typename T>
void CopyRow(const T* from, std::size_t n, T* to) {
  std::copy(from, from + n, to);
}

}  // namespace

MLPLayer::MLPLayer()
    : MLPLayer(VXNNCommon::kInputLayer, 0, nullptr, VXNNCommon::kIdentity, 0.0, 0.0) {}

MLPLayer::MLPLayer(int type, int units, INLayer* lower, ActivationFunction activation, double lo,
                   double hi)
    : MLPLayer(type, units, lower, activation, std::vector<int>(), lo, hi) {}

MLPLayer::MLPLayer(int type, int units, INLayer* lower, ActivationFunction activation,
                   const std::vector<int>& outputCategories, double lo, double hi)
    : fLayerType(type),
      fNUnits(std::max(units, 0)),
      fNUnitsLower(type != VXNNCommon::kInputLayer && lower ? lower->GetNumUnits() + 1 : 0),
      fActivFunc(activation),
      fInitWeightLower(lo),
      fInitWeightUpper(hi),
      fLowerLayer(type != VXNNCommon::kInputLayer ? lower : nullptr),
      fNOutputCategories(outputCategories) {
  SizeArrays();
}

MLPLayer::~MLPLayer() = default;

namespace {
// Stamps start at 1: a packed copy that holds stamp 0 was never packed.
std::atomic<std::uint64_t> gNextWeightStamp{1};
}  // namespace

void MLPLayer::WeightsChanged() {
  fWeightStamp = gNextWeightStamp.fetch_add(1, std::memory_order_relaxed);
}

void MLPLayer::SizeArrays() {
  WeightsChanged();
  const bool input = fLayerType == VXNNCommon::kInputLayer;
  const std::size_t units = static_cast<std::size_t>(fNUnits);
  const std::size_t weights = input ? 0 : units * static_cast<std::size_t>(fNUnitsLower);
  fLayerWeights.resize(weights, 0.0);
  fAccumGradient.resize(weights, 0.0);
  fUnitValues.resize(units, 0.0);
  fUnitCombinations.resize(input ? 0 : units, 0.0);
  fDeltas.resize(input ? 0 : units, 0.0);
}

void MLPLayer::ResetAll() {
  ResetDerivatives();
  fLayerWeights = 0.0;
  WeightsChanged();
}

void MLPLayer::ResetDerivatives() {
  ResetUnitValues();
  fAccumGradient = 0.0;
}

void MLPLayer::ResetUnitValues() {
  fUnitValues = 0.0;
  fUnitCombinations = 0.0;
  fDeltas = 0.0;
}

void MLPLayer::SetUnitValues(const double* values, int n) {
  const int count = std::min(n, fNUnits);
  if (count > 0) CopyRow(values, static_cast<std::size_t>(count), Data(fUnitValues));
}

double* MLPLayer::GetUnitValues() { return Data(fUnitValues); }

double* MLPLayer::GetWeights() {
  // The caller may write through the pointer.
  WeightsChanged();
  return Data(fLayerWeights);
}

const double* MLPLayer::GetWeightData() const { return Data(fLayerWeights); }

double MLPLayer::Activate(ActivationFunction f, double x) {
  switch (f) {
    case VXNNCommon::kTanH:
      return std::tanh(x);
    case VXNNCommon::kSigmoid:
      return x <= kSigmoidFloor ? 0.0 : 1.0 / (1.0 + std::exp(-x));
    default:
      return x;
  }
}

void MLPLayer::ComputeUnitValues(bool logOutputs) { Compute(fNUnitsLower, logOutputs); }

void MLPLayer::ComputeUnitValuesWithout(int lowerUnit, bool logOutputs) {
  const bool valid = lowerUnit >= 0 && lowerUnit < fNUnitsLower - 1;
  Compute(valid ? lowerUnit + 1 : fNUnitsLower, logOutputs);
}

void MLPLayer::Compute(int skip, bool logOutputs) {
  if (fLayerType == VXNNCommon::kInputLayer || !fLowerLayer || fNUnits == 0) return;
  double* c = Data(fUnitCombinations);
  Combine(Data(fLayerWeights), fNUnits, fNUnitsLower, fLowerLayer->GetUnitValues(), skip, c);
  if (fLayerType == VXNNCommon::kOutputLayer && fActivFunc == VXNNCommon::kSoftMax) {
    ApplySoftMax(logOutputs);
    return;
  }
  double* y = Data(fUnitValues);
  switch (fActivFunc) {
    case VXNNCommon::kTanH:
      for (int j = 0; j < fNUnits; ++j) y[j] = std::tanh(c[j]);
      break;
    case VXNNCommon::kSigmoid:
      for (int j = 0; j < fNUnits; ++j) y[j] = Activate(VXNNCommon::kSigmoid, c[j]);
      break;
    default:
      for (int j = 0; j < fNUnits; ++j) y[j] = c[j];
      break;
  }
}

void MLPLayer::ApplySoftMax(bool logOutputs) {
  SoftMax(Data(fUnitCombinations), Data(fUnitValues), fNUnits, fNOutputCategories, logOutputs);
}

void MLPLayer::SoftMax(const double* c, double* y, int units, const std::vector<int>& groups,
                       bool logOutputs) {
  int first = 0;
  for (int count : groups) {
    const int end = std::min(first + count, units);
    if (first >= end) break;
    double m = c[first];
    for (int j = first + 1; j < end; ++j)
      if (c[j] > m) m = c[j];
    double s = 0.0;
    for (int j = first; j < end; ++j) {
      y[j] = std::exp(c[j] - m);
      s += y[j];
    }
    if (logOutputs) {
      const double shift = std::log(s) + m;
      for (int j = first; j < end; ++j) y[j] = c[j] - shift;
    } else {
      for (int j = first; j < end; ++j) y[j] /= s;
    }
    first = end;
  }
}

double* MLPLayer::GetAccumGradientData() { return Data(fAccumGradient); }

void MLPLayer::ComputeOutputDeltas(const double* targets, bool logOutputs) {
  const double* values = Data(fUnitValues);
  double* d = Data(fDeltas);
  for (int j = 0; j < fNUnits; ++j) {
    const double y = logOutputs ? SafeExp(values[j]) : values[j];
    d[j] = (y - targets[j]) * Derivative(fActivFunc, y);
  }
}

void MLPLayer::BackPropagate(MLPLayer* lower) {
  if (fLayerType == VXNNCommon::kInputLayer || !fLowerLayer || fNUnits == 0) return;
  const std::ptrdiff_t stride = fNUnitsLower;
  const int n = fNUnitsLower - 1;
  const double* x = fLowerLayer->GetUnitValues();
  const double* w = Data(fLayerWeights);
  const double* d = Data(fDeltas);
  double* g = Data(fAccumGradient);
  double* lowerDeltas = lower && lower->fNUnits == n ? Data(lower->fDeltas) : nullptr;
  for (int j = 0; j < fNUnits; ++j) {
    const double dj = d[j];
    double* gj = g + j * stride;
    gj[0] += dj;
    double* gi = gj + 1;
    for (int i = 0; i < n; ++i) gi[i] += x[i] * dj;
    if (lowerDeltas) {
      const double* wi = w + j * stride + 1;
      for (int i = 0; i < n; ++i) lowerDeltas[i] += wi[i] * dj;
    }
  }
  if (lowerDeltas) lower->ScaleDeltasByDerivative();
}

void MLPLayer::ScaleDeltasByDerivative() {
  const double* y = Data(fUnitValues);
  double* d = Data(fDeltas);
  switch (fActivFunc) {
    case VXNNCommon::kTanH:
      for (int j = 0; j < fNUnits; ++j) d[j] *= (1.0 + y[j]) * (1.0 - y[j]);
      break;
    case VXNNCommon::kSigmoid:
      for (int j = 0; j < fNUnits; ++j) d[j] *= (1.0 - y[j]) * y[j];
      break;
    default:
      break;
  }
}

int MLPLayer::SetWeights(const std::valarray<double>& v, int offset) {
  const std::size_t n = fLayerWeights.size();
  if (offset < 0 || static_cast<std::size_t>(offset) + n > v.size()) return 0;
  if (n > 0) CopyRow(&v[static_cast<std::size_t>(offset)], n, Data(fLayerWeights));
  WeightsChanged();
  return static_cast<int>(n);
}

int MLPLayer::GetWeights(std::valarray<double>& v, int offset) const {
  const std::size_t n = fLayerWeights.size();
  if (offset < 0 || static_cast<std::size_t>(offset) + n > v.size()) return 0;
  if (n > 0) CopyRow(&fLayerWeights[0], n, &v[static_cast<std::size_t>(offset)]);
  return static_cast<int>(n);
}

int MLPLayer::GetGradient(std::valarray<double>& g, int offset) const {
  const std::size_t n = fAccumGradient.size();
  if (offset < 0 || static_cast<std::size_t>(offset) + n > g.size()) return 0;
  if (n > 0) CopyRow(&fAccumGradient[0], n, &g[static_cast<std::size_t>(offset)]);
  return static_cast<int>(n);
}

int MLPLayer::SetGradient(const std::valarray<double>& g, int offset) {
  const std::size_t n = fAccumGradient.size();
  if (offset < 0 || static_cast<std::size_t>(offset) + n > g.size()) return 0;
  if (n > 0) CopyRow(&g[static_cast<std::size_t>(offset)], n, Data(fAccumGradient));
  return static_cast<int>(n);
}

double MLPLayer::GradientSumOfSquares() const {
  double s = 0.0;
  for (double g : fAccumGradient) s += g * g;
  return s;
}

int MLPLayer::RandomizeWeights(VXRandom& rng) {
  return RandomizeWeights(rng, fInitWeightLower, fInitWeightUpper);
}

int MLPLayer::RandomizeWeights(VXRandom& rng, double lo, double hi) {
  rng.FillUniform(Data(fLayerWeights), fLayerWeights.size(), lo, hi);
  WeightsChanged();
  return static_cast<int>(fLayerWeights.size());
}

int MLPLayer::AddUnit(VXRandom& rng) {
  const std::size_t units = static_cast<std::size_t>(fNUnits);
  const std::size_t stride = static_cast<std::size_t>(fNUnitsLower);
  if (fLayerType == VXNNCommon::kHiddenLayer) {
    std::valarray<double> w(0.0, (units + 1) * stride);
    if (units * stride > 0) CopyRow(&fLayerWeights[0], units * stride, &w[0]);
    rng.FillUniform(Data(w) + units * stride, stride, fInitWeightLower, fInitWeightUpper);
    fLayerWeights = std::move(w);
    ++fNUnits;
    fUnitValues.resize(units + 1, 0.0);
    fUnitCombinations.resize(units + 1, 0.0);
    fDeltas.resize(units + 1, 0.0);
  } else if (fLayerType == VXNNCommon::kOutputLayer) {
    std::valarray<double> w(0.0, units * (stride + 1));
    for (std::size_t j = 0; j < units; ++j) {
      double* row = &w[j * (stride + 1)];
      if (stride > 0) CopyRow(&fLayerWeights[j * stride], stride, row);
      row[stride] = rng.Uniform(fInitWeightLower, fInitWeightUpper);
    }
    fLayerWeights = std::move(w);
    ++fNUnitsLower;
    ResetUnitValues();
  } else {
    return 0;
  }
  fAccumGradient.resize(fLayerWeights.size(), 0.0);
  WeightsChanged();
  return GetNumWeights();
}

int MLPLayer::RemoveUnit(int unit) {
  const std::size_t units = static_cast<std::size_t>(fNUnits);
  const std::size_t stride = static_cast<std::size_t>(fNUnitsLower);
  if (fLayerType == VXNNCommon::kHiddenLayer) {
    if (unit < 0 || unit >= fNUnits) return GetNumWeights();
    const std::size_t k = static_cast<std::size_t>(unit);
    std::valarray<double> w(0.0, (units - 1) * stride);
    for (std::size_t j = 0, to = 0; j < units; ++j)
      if (j != k) CopyRow(&fLayerWeights[j * stride], stride, &w[(to++) * stride]);
    fLayerWeights = std::move(w);
    --fNUnits;
    fUnitValues.resize(units - 1, 0.0);
    fUnitCombinations.resize(units - 1, 0.0);
    fDeltas.resize(units - 1, 0.0);
  } else if (fLayerType == VXNNCommon::kOutputLayer) {
    if (unit < 0 || unit >= fNUnitsLower - 1) return GetNumWeights();
    const std::size_t drop = static_cast<std::size_t>(unit) + 1;
    std::valarray<double> w(0.0, units * (stride - 1));
    for (std::size_t j = 0, to = 0; j < units; ++j)
      for (std::size_t i = 0; i < stride; ++i)
        if (i != drop) w[to++] = fLayerWeights[j * stride + i];
    fLayerWeights = std::move(w);
    --fNUnitsLower;
    ResetUnitValues();
  } else {
    return 0;
  }
  fAccumGradient.resize(fLayerWeights.size(), 0.0);
  WeightsChanged();
  return GetNumWeights();
}

void MLPLayer::Restore(int type, int units, int lower, ActivationFunction activation, double lo,
                       double hi, const std::vector<double>& weights, std::vector<int> categories) {
  fLayerType = type;
  fNUnits = units;
  fNUnitsLower = lower;
  fActivFunc = activation;
  fInitWeightLower = lo;
  fInitWeightUpper = hi;
  fNOutputCategories = std::move(categories);
  SizeArrays();
  if (!weights.empty()) CopyRow(weights.data(), weights.size(), Data(fLayerWeights));
}

int MLPLayer::WriteObject(std::ostream& out) const {
  VXNeural::detail::BinWriter w(out);
  w.Tag(kBinaryTag).Int(fLayerType).Int(fNUnits).Int(fNUnitsLower).Int(fActivFunc);
  w.Double(fInitWeightLower).Double(fInitWeightUpper);
  if (fLayerType != VXNNCommon::kInputLayer) w.Doubles(Data(fLayerWeights), fLayerWeights.size());
  w.Int(static_cast<int>(fNOutputCategories.size())).Ints(fNOutputCategories);
  return w.Bytes();
}

int MLPLayer::ReadObject(std::istream& in) {
  VXNeural::detail::BinReader r(in, kClassName);
  r.ExpectTag(kBinaryTag);
  SavedLayer s = ReadSavedLayer(r, r.Remaining() / sizeof(double));
  Restore(s.type, s.units, s.lower, static_cast<ActivationFunction>(s.activation), s.lo, s.hi,
          s.weights, std::move(s.categories));
  return r.Bytes();
}

int MLPLayer::WriteObjectXML(std::ostream& out) const {
  VXNeural::detail::XmlWriter w(out, kClassName, kXmlLevel);
  w.Int(fLayerType).Int(fNUnits).Int(fNUnitsLower).Int(fActivFunc);
  w.Double(fInitWeightLower).Double(fInitWeightUpper);
  if (fLayerType != VXNNCommon::kInputLayer) w.Doubles(Data(fLayerWeights), fLayerWeights.size());
  w.Int(static_cast<int>(fNOutputCategories.size())).Ints(fNOutputCategories);
  return w.End();
}

int MLPLayer::ReadObjectXML(std::istream& in) {
  VXNeural::detail::XmlReader r(in, kClassName, kClassName);
  SavedLayer s =
      ReadSavedLayer(r, VXNeural::detail::StreamRemaining(in) / VXXML_1_2::kMinValueBytes);
  const int count = r.End();
  Restore(s.type, s.units, s.lower, static_cast<ActivationFunction>(s.activation), s.lo, s.hi,
          s.weights, std::move(s.categories));
  return count;
}

VXXML_1_2::XMLElement* MLPLayer::CreatePMMLLayer(int firstNeuronId, bool withActivation,
                                                 int targetIndex, int& nWeights) const {
  using VXXML_1_2::XMLElement;
  nWeights = 0;
  if (fLayerType == VXNNCommon::kInputLayer) return nullptr;
  int first = 0;
  int end = fNUnits;
  if (fLayerType == VXNNCommon::kOutputLayer) {
    if (targetIndex < 0 || targetIndex >= static_cast<int>(fNOutputCategories.size()))
      return nullptr;
    for (int t = 0; t < targetIndex; ++t) first += fNOutputCategories[t];
    if (targetIndex + 1 < static_cast<int>(fNOutputCategories.size()))
      end = std::min(first + fNOutputCategories[targetIndex], fNUnits);
    first = std::min(first, end);
  }
  std::unique_ptr<XMLElement> layer(XMLElement::Create("NeuralLayer"));
  const int neurons =
      fLayerType == VXNNCommon::kOutputLayer ? fNOutputCategories[targetIndex] : fNUnits;
  layer->AddAttribute("numberOfNeurons", static_cast<double>(neurons));
  if (withActivation) {
    switch (fActivFunc) {
      case VXNNCommon::kTanH:
        layer->AddAttribute("activationFunction", "tanh");
        break;
      case VXNNCommon::kSigmoid:
        layer->AddAttribute("activationFunction", "logistic");
        break;
      case VXNNCommon::kSoftMax:
        layer->AddAttribute("activationFunction", "identity");
        layer->AddAttribute("normalizationMethod", "softmax");
        break;
      default:
        layer->AddAttribute("activationFunction", "identity");
        break;
    }
  }
  const int stride = fNUnitsLower;
  const int firstLower = firstNeuronId - (stride - 1);
  for (int j = first; j < end; ++j) {
    const double* row = &fLayerWeights[static_cast<std::size_t>(j) * stride];
    std::unique_ptr<XMLElement> neuron(XMLElement::Create("Neuron"));
    neuron->AddAttribute("id", static_cast<double>(j + firstNeuronId));
    neuron->AddAttribute("bias", row[0]);
    for (int i = 1; i < stride; ++i) {
      std::unique_ptr<XMLElement> con(XMLElement::Create("Con"));
      con->AddAttribute("from", static_cast<double>(firstLower + i - 1));
      con->AddAttribute("weight", row[i]);
      neuron->AddElement(con.release());
    }
    layer->AddElement(neuron.release());
    nWeights += stride;
  }
  return layer.release();
}

void MLPLayer::GetUnitParameters(int unit, std::vector<double>& params, double& extra) const {
  extra = 0.0;
  params.clear();
  if (fLayerType == VXNNCommon::kInputLayer || unit < 0 || unit >= fNUnits) return;
  const std::size_t stride = static_cast<std::size_t>(fNUnitsLower);
  const double* row = &fLayerWeights[static_cast<std::size_t>(unit) * stride];
  params.assign(row, row + stride);
}

void MLPLayer::Display(std::ostream& out) const {
  using VXNeural::detail::ShowValue;
  using VXNeural::detail::ShowVector;
  VXNeural::detail::DisplayPrecision precision(out);
  const bool softMaxOutput =
      fLayerType == VXNNCommon::kOutputLayer && fActivFunc == VXNNCommon::kSoftMax;
  out << "Start of MLPLayer display\n";
  ShowValue(out, "fLayerType = ",
            VXNNCommon::DisplayText(static_cast<VXNNCommon::LayerType>(fLayerType)));
  ShowValue(out, "fNUnits = ", fNUnits);
  ShowValue(out, "fNUnitsLower = ", fNUnitsLower);
  ShowValue(out, "fActivFunc = ", VXNNCommon::DisplayText(fActivFunc));
  ShowValue(out, "fInitWeightLower = ", fInitWeightLower);
  ShowValue(out, "fInitWeightUpper = ", fInitWeightUpper);
  ShowVector(out, "fLayerWeights", fLayerWeights);
  ShowVector(out, softMaxOutput ? "fUnitValues: unit values or their logarithm" : "fUnitValues",
             fUnitValues);
  ShowVector(out, "fUnitCombinations", fUnitCombinations);
  ShowVector(out, "fDeltas", fDeltas);
  ShowVector(out, "fAccumGradient", fAccumGradient);
  ShowVector(out, "fNOutputCategories", fNOutputCategories);
  out << "End of MLPLayer display\n";
}
