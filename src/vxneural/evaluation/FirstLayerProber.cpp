#include "evaluation/FirstLayerProber.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>

#include "network/kernels/KernelTable.h"
#include "vxneural/network/INLayer.h"
#include "vxneural/network/MLPLayer.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/RBFHiddenLayer.h"

namespace VXNeural {

namespace {
std::size_t Index(int i) { return static_cast<std::size_t>(i); }
// Beyond this size a value's product with a weight, or its squared
// distance, swamps the other terms of a sum.
constexpr double kLargestSafe = 1e150;
}  // namespace

FirstLayerProber::FirstLayerProber(NNetwork& network)
    : fNetwork(network), fKernel(detail::ActiveKernelTable()) {
  const int layers = network.GetNumLayers();
  fNInputs = network.GetNumInputs();
  INLayer* output = network.GetLayer(layers);
  if (layers < 1 || output == nullptr || fNInputs < 1) return;
  fNOutputs = output->GetNumUnits();
  fLogOutputs = network.GetErrorFunction() == VXNNCommon::kCrossEntropy;
  if (network.GetAlgorithmType() == VXNNCommon::kRBF) {
    fRBF = network.GetRBFHiddenLayer();
    if (fRBF == nullptr || layers != 2 || fRBF->GetNumUnitsLower() != fNInputs) return;
    fFirst = fRBF;
    fNUnits = fRBF->GetNumCenters();
    // A unit without an adjusted variance uses the fallback, as the forward
    // pass does.
    const std::vector<double>& adjusted = fRBF->GetAdjustedVariances();
    for (int j = 0; j < fNUnits; ++j)
      fVariances.push_back(Index(j) < adjusted.size() ? adjusted[Index(j)]
                                                      : fRBF->GetFallbackVariance());
    fKind = kRBF;
  } else {
    fFirst = network.GetLayer(1);
    if (fFirst == nullptr || fFirst->GetNumUnitsLower() != fNInputs + 1 ||
        fFirst->GetWeightData() == nullptr)
      return;
    fNUnits = fFirst->GetNumUnits();
    auto* mlp = dynamic_cast<MLPLayer*>(fFirst);
    if (layers == 1 && fFirst->GetActivationFunction() == VXNNCommon::kSoftMax) {
      if (mlp == nullptr) return;
      fSoftMaxGroups = mlp->GetNOutputCategories();
    }
    fKind = kMLP;
  }
  fBase.assign(Index(fNInputs), 0.0);
  fScratch.assign(Index(fNInputs), 0.0);
  fUnsafe.assign(Index(fNInputs), false);
  fBaseSums.assign(Index(fNUnits), 0.0);
  fSums.assign(Index(fNUnits), 0.0);
}

bool FirstLayerProber::Unsafe(double v) { return !(std::fabs(v) <= kLargestSafe); }

void FirstLayerProber::Sums(const double* x, double* sums) const {
  const int n = fNInputs;
  if (fKind == kMLP) {
    const double* w = fFirst->GetWeightData();
    const std::ptrdiff_t stride = n + 1;
    for (int j = 0; j < fNUnits; ++j) {
      const double* row = w + j * stride;
      double s = 0.0;
      for (int i = 0; i < n; ++i) s += row[i + 1] * x[i];
      sums[j] = row[0] + s;
    }
    return;
  }
  const std::vector<std::vector<double>>& centres = fRBF->GetCenters();
  for (int j = 0; j < fNUnits; ++j) {
    const double* c = centres[Index(j)].data();
    const double a = fVariances[Index(j)];
    double d = 0.0;
    for (int i = 0; i < n; ++i) {
      const double diff = x[i] - c[i];
      d += diff * diff / a;
    }
    sums[j] = d;
  }
}

void FirstLayerProber::SetBase(const double* inputs) {
  if (!Usable()) return;
  std::copy(inputs, inputs + fNInputs, fBase.begin());
  for (int i = 0; i < fNInputs; ++i) fUnsafe[Index(i)] = Unsafe(inputs[i]);
  Sums(fBase.data(), fBaseSums.data());
}

double FirstLayerProber::Term(int unit, int column, double value) const {
  if (fKind == kMLP)
    return fFirst->GetWeightData()[Index(unit * (fNInputs + 1) + column + 1)] * value;
  const double diff = value - fRBF->GetCenters()[Index(unit)][Index(column)];
  return diff * diff / fVariances[Index(unit)];
}

void FirstLayerProber::ChangedSums(const Change* changes, int nChanges, double* sums) {
  bool afresh = false;
  for (int k = 0; k < nChanges; ++k) afresh = afresh || fUnsafe[Index(changes[k].column)];
  if (afresh) {
    std::copy(fBase.begin(), fBase.end(), fScratch.begin());
    for (int k = 0; k < nChanges; ++k) fScratch[Index(changes[k].column)] = changes[k].value;
    Sums(fScratch.data(), sums);
  } else if (fKind == kMLP) {
    // The weight's product with the change, rather than the difference of
    // two products: one rounding instead of two.
    const double* w = fFirst->GetWeightData();
    const std::ptrdiff_t stride = fNInputs + 1;
    if (sums != fBaseSums.data()) std::copy(fBaseSums.begin(), fBaseSums.end(), sums);
    for (int k = 0; k < nChanges; ++k) {
      const int c = changes[k].column;
      const double delta = changes[k].value - fBase[Index(c)];
      if (delta == 0.0) continue;
      const double* wc = w + c + 1;
      for (int j = 0; j < fNUnits; ++j) sums[j] += wc[j * stride] * delta;
    }
  } else {
    if (sums != fBaseSums.data()) std::copy(fBaseSums.begin(), fBaseSums.end(), sums);
    for (int k = 0; k < nChanges; ++k) {
      const int c = changes[k].column;
      const double old = fBase[Index(c)];
      if (changes[k].value == old) continue;
      for (int j = 0; j < fNUnits; ++j) sums[j] += Term(j, c, changes[k].value) - Term(j, c, old);
    }
  }
}

void FirstLayerProber::Probe(const Change* changes, int nChanges, double* outputs) {
  if (!Usable()) return;
  ChangedSums(changes, nChanges, fSums.data());
  FinishForward(fSums.data(), outputs);
}

void FirstLayerProber::Move(const Change& change) {
  if (!Usable()) return;
  ChangedSums(&change, 1, fBaseSums.data());
  fBase[Index(change.column)] = change.value;
  fUnsafe[Index(change.column)] = Unsafe(change.value);
}

void FirstLayerProber::FinishForward(const double* sums, double* outputs) {
  double* y = fFirst->GetUnitValues();
  if (fKind == kRBF) {
    // As the hidden layer's own pass: exponents relative to the largest
    // when normalised, so that the sum cannot underflow.
    const bool normalized = fRBF->GetActivationFunction() == VXNNCommon::kNormalizedRadialBasis;
    double m = -DBL_MAX;
    for (int j = 0; j < fNUnits; ++j) m = std::max(m, -0.5 * sums[j]);
    if (!normalized) {
      for (int j = 0; j < fNUnits; ++j) y[j] = std::exp(-0.5 * sums[j]);
    } else {
      double s = 0.0;
      for (int j = 0; j < fNUnits; ++j) s += (y[j] = std::exp(-0.5 * sums[j] - m));
      for (int j = 0; j < fNUnits; ++j) y[j] /= s;
    }
  } else if (!fSoftMaxGroups.empty()) {
    // A SoftMax output layer straight above the inputs: one group per
    // target, shifted by its largest combination.
    int first = 0;
    for (int count : fSoftMaxGroups) {
      const int end = std::min(first + count, fNUnits);
      if (first >= end) break;
      const double m = *std::max_element(sums + first, sums + end);
      double s = 0.0;
      for (int j = first; j < end; ++j) s += (y[j] = std::exp(sums[j] - m));
      const double shift = std::log(s) + m;
      for (int j = first; j < end; ++j) y[j] = fLogOutputs ? sums[j] - shift : y[j] / s;
      first = end;
    }
  } else {
    const VXNNCommon::ActivationFunction f = fFirst->GetActivationFunction();
    if (f == VXNNCommon::kTanH && fKernel)
      fKernel->tanh(sums, y, fNUnits);
    else
      for (int j = 0; j < fNUnits; ++j) y[j] = MLPLayer::Activate(f, sums[j]);
  }
  const int layers = fNetwork.GetNumLayers();
  for (int l = 2; l <= layers; ++l)
    fNetwork.GetLayer(l)->ComputeUnitValues(l == layers && fLogOutputs);
  const double* o = fNetwork.GetLayer(layers)->GetUnitValues();
  std::copy(o, o + fNOutputs, outputs);
}

}  // namespace VXNeural
