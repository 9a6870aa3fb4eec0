#include "network/BlockPass.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "network/ArrayData.h"
#include "vxneural/network/MLPLayer.h"
#include "vxneural/network/RBFHiddenLayer.h"
#include "vxneural/network/RBFOutputLayer.h"

namespace VXNeural {
namespace detail {

namespace {

// Resizes to n zeros only when the buffer is too small, so that passes over
// one shape allocate once. Padding columns must read 0: a grown buffer is
// zeroed whole.
void Fit(AlignedBuffer& b, std::size_t n) {
  if (b.size() < n) b.assign(n, 0.0);
}

// C (n x units, padded) = or += X W for X's rows at x (K values each) and
// W given twice, as B (K x ldb) and transposed as Bt (units x ldbt). One
// or two units past the last whole vector cost fewer multiply-adds as dot
// products with Bt's rows than as a vector that is mostly padding; with
// more, the sums across each dot product's lanes eat up the saving.
void Product(const KernelTable& kernel, int n, int units, int K, const double* const* x,
             const double* B, std::ptrdiff_t ldb, const double* Bt, std::ptrdiff_t ldbt, double* C,
             std::ptrdiff_t ldc, bool accumulate) {
  const int whole = units / kPad * kPad, tail = units - whole;
  if (tail == 0 || tail > 2) {
    kernel.gemmRowsA(n, Padded(units), K, x, B, ldb, C, ldc, accumulate);
    return;
  }
  if (whole > 0) kernel.gemmRowsA(n, whole, K, x, B, ldb, C, ldc, accumulate);
  if (!accumulate)
    for (int r = 0; r < n; ++r) std::fill_n(C + r * ldc + whole, kPad, 0.0);
  kernel.dots(n, tail, K, x, Bt + whole * ldbt, ldbt, C + whole, ldc);
}

}  // namespace

void MLPBlockPass::Reserve(const std::vector<INLayer*>& layers) {
  fNLayers = static_cast<int>(layers.size()) - 1;
  const std::size_t nl = layers.size();
  fUnits.resize(nl);
  fLd.resize(nl);
  fActivation.resize(nl);
  for (std::size_t l = 0; l < nl; ++l) {
    fUnits[l] = layers[l]->GetNumUnits();
    fLd[l] = Padded(fUnits[l]);
    fActivation[l] = layers[l]->GetActivationFunction();
  }
  fNOutputs = fUnits[nl - 1];
  fCategories = static_cast<const MLPLayer*>(layers[nl - 1])->GetNOutputCategories();
  for (auto* v : {&fValues, &fSums, &fDeltas, &fWeightsT, &fBias, &fWeightsN, &fGrad, &fGradBias})
    v->resize(nl);
  Fit(fTargets, static_cast<std::size_t>(kBlock) * fNOutputs);
  Fit(fInputTail, static_cast<std::size_t>(kBlock) * kPad);
  // A new shape, or new layers: the packed weights are stale whatever the
  // layers' stamps say.
  fStamps.assign(nl, 0);
  const std::size_t block = kBlock;
  Fit(fValues[0], block * fLd[0]);
  for (std::size_t l = 1; l < nl; ++l) {
    const std::size_t units = fUnits[l], ld = fLd[l], lower = fUnits[l - 1], ldLower = fLd[l - 1];
    Fit(fValues[l], block * ld);
    Fit(fSums[l], block * ld);
    Fit(fDeltas[l], block * ld);
    Fit(fWeightsT[l], lower * ld);
    Fit(fBias[l], ld);
    Fit(fWeightsN[l], units * ldLower);
    Fit(fGrad[l], units * ldLower);
    Fit(fGradBias[l], ld);
  }
}

void MLPBlockPass::Begin(const KernelTable& kernel, const std::vector<INLayer*>& layers,
                         bool logOutputs) {
  fKernel = &kernel;
  fLogOutputs = logOutputs;
  Reserve(layers);
  Pack(layers);
}

void MLPBlockPass::Pack(const std::vector<INLayer*>& layers) {
  fStamps[0] = 0;
  for (std::size_t l = 1; l < layers.size(); ++l) {
    const std::size_t units = fUnits[l], ld = fLd[l], lower = fUnits[l - 1], ldLower = fLd[l - 1];
    const auto* layer = static_cast<const MLPLayer*>(layers[l]);
    fStamps[l] = layer->GetWeightStamp();
    // Padding columns read 0, whatever a pass over another shape left.
    std::fill(fWeightsT[l].begin(), fWeightsT[l].begin() + lower * ld, 0.0);
    std::fill(fWeightsN[l].begin(), fWeightsN[l].begin() + units * ldLower, 0.0);
    std::fill(fBias[l].begin(), fBias[l].begin() + ld, 0.0);
    // Row j of the layer's weights: bias, then one weight per lower unit.
    const double* w = layer->GetWeightData();
    const std::size_t stride = lower + 1;
    double* wt = fWeightsT[l].data();
    double* wn = fWeightsN[l].data();
    double* bias = fBias[l].data();
    for (std::size_t j = 0; j < units; ++j) {
      const double* row = w + j * stride;
      bias[j] = row[0];
      for (std::size_t i = 0; i < lower; ++i) {
        wt[i * ld + j] = row[1 + i];
        wn[j * ldLower + i] = row[1 + i];
      }
    }
  }
}

void MLPBlockPass::Forward(int n) {
  for (int l = 1; l <= fNLayers; ++l) {
    const std::ptrdiff_t ld = fLd[l], ldLower = fLd[l - 1];
    const int units = fUnits[l];
    double* z = fSums[l].data();
    const double* bias = fBias[l].data();
    for (int r = 0; r < n; ++r) std::copy(bias, bias + ld, z + r * ld);
    Product(*fKernel, n, units, fUnits[l - 1], RowsOf(l - 1, n), fWeightsT[l].data(), ld,
            fWeightsN[l].data(), ldLower, z, ld, true);
    double* y = fValues[l].data();
    const auto f = static_cast<VXNNCommon::ActivationFunction>(fActivation[l]);
    if (l == fNLayers && f == VXNNCommon::kSoftMax) {
      SoftMax(n);
    } else if (f == VXNNCommon::kTanH) {
      // The whole block in one call: padding columns hold sums of 0.
      fKernel->tanh(z, y, n * static_cast<int>(ld));
    } else {
      for (int r = 0; r < n; ++r)
        for (int j = 0; j < units; ++j) y[r * ld + j] = MLPLayer::Activate(f, z[r * ld + j]);
    }
  }
}

void MLPBlockPass::ForwardScores(int n) {
  for (int l = 1; l <= fNLayers; ++l) {
    const std::ptrdiff_t ld = fLd[l], ldLower = fLd[l - 1];
    double* z = fSums[l].data();
    const double* bias = fBias[l].data();
    for (int r = 0; r < n; ++r) std::copy(bias, bias + ld, z + r * ld);
    Product(*fKernel, n, fUnits[l], fUnits[l - 1], RowsOf(l - 1, n), fWeightsT[l].data(), ld,
            fWeightsN[l].data(), ldLower, z, ld, true);
    // The activations are element by element, so the block's rows, one
    // after the other, go through the kernel in one call: a call per row
    // spent as much on its own overhead as on the row's few vectors.
    if (l == fNLayers && fActivation[l] == VXNNCommon::kSoftMax)
      ScoreSoftMaxRows(n);
    else
      Activate(l, z, fValues[l].data(), n * static_cast<int>(ld));
  }
}

const double* const* MLPBlockPass::RowsOf(int l, int n) {
  if (l == 0) return fInputRows.data();
  for (int r = 0; r < n; ++r)
    fRows[static_cast<std::size_t>(r)] = &fValues[l][static_cast<std::size_t>(r) * fLd[l]];
  return fRows.data();
}

void MLPBlockPass::Activate(int l, const double* z, double* y, int count) const {
  const int ld = count;
  switch (static_cast<VXNNCommon::ActivationFunction>(fActivation[l])) {
    case VXNNCommon::kTanH:
      fKernel->tanh(z, y, ld);
      break;
    case VXNNCommon::kSigmoid:
      // 1 / (1 + e^-x) from e^-|x|, which never overflows: for x < 0 it is
      // e^x / (1 + e^x). Below -708 the exponential is taken as 0, and so
      // is the value, as the record-by-record code has it below -709.78
      // (in between it differs from 0 by less than 1e-307).
      for (int j = 0; j < ld; ++j) y[j] = z[j] < 0.0 ? z[j] : -z[j];
      fKernel->expNonPositive(y, y, ld);
      for (int j = 0; j < ld; ++j) {
        const double e = y[j], inverse = 1.0 / (1.0 + e);
        y[j] = z[j] < 0.0 ? e * inverse : inverse;
      }
      break;
    default:
      std::copy(z, z + ld, y);
      break;
  }
}

void MLPBlockPass::ScoreRecord(const KernelTable& kernel, const std::vector<INLayer*>& layers,
                               const double* x, double* out) {
  fKernel = &kernel;
  bool stale = layers.size() != fStamps.size();
  for (std::size_t l = 1; !stale && l < layers.size(); ++l)
    stale = static_cast<const MLPLayer*>(layers[l])->GetWeightStamp() != fStamps[l];
  if (stale) {
    // Reserve notices a changed shape; it allocates only when it grew.
    Reserve(layers);
    Pack(layers);
  }
  const double* in = x;
  for (int l = 1; l <= fNLayers; ++l) {
    double* z = fSums[l].data();
    double* y = fValues[l].data();
    fKernel->rowDots(fUnits[l - 1], in, fWeightsT[l].data(), fLd[l], fBias[l].data(), z, fLd[l]);
    if (l == fNLayers && fActivation[l] == VXNNCommon::kSoftMax)
      ScoreSoftMax(z, y);
    else
      Activate(l, z, y, fLd[l]);
    in = y;
  }
  std::copy(in, in + fNOutputs, out);
}

// One row of output sums less the largest of each SoftMax group, so that
// the exponentials cannot overflow; the padding and units outside every
// group get 0.
void MLPBlockPass::LessGroupMaxima(const double* c, double* p) const {
  const int units = fUnits[fNLayers];
  std::fill(p, p + fLd[fNLayers], 0.0);
  int first = 0;
  for (int count : fCategories) {
    const int end = std::min(first + count, units);
    if (first >= end) break;
    double m = c[first];
    for (int j = first + 1; j < end; ++j)
      if (c[j] > m) m = c[j];
    for (int j = first; j < end; ++j) p[j] = c[j] - m;
    first = end;
  }
}

// Probabilities of one row of output sums, group by group, with the
// kernel's exponential over the whole row at once.
void MLPBlockPass::ScoreSoftMax(const double* c, double* y) const {
  const int units = fUnits[fNLayers], ld = fLd[fNLayers];
  LessGroupMaxima(c, y);
  fKernel->expNonPositive(y, y, ld);
  int first = 0;
  for (int count : fCategories) {
    const int end = std::min(first + count, units);
    if (first >= end) break;
    double s = 0.0;
    for (int j = first; j < end; ++j) s += y[j];
    const double inverse = 1.0 / s;
    for (int j = first; j < end; ++j) y[j] *= inverse;
    first = end;
  }
}

// ScoreSoftMax over the first n rows of the output sums, each row's units
// packed one after the other for the exponential: with 10 outputs in rows
// padded to 16, the padding was more than a third of the exponentials.
// Each unit's value goes through the same operations as in ScoreSoftMax
// (its sum less its group's largest, the exponential, times one over the
// group's sum added up in unit order; a unit after the last group gets
// e^0), so the two agree bit for bit. Written straight to and from the
// packed rows, without the copies and clearing of a padded row between
// them, which had cost as much as the arithmetic. The padding columns of
// the values are left as they were: only the units are read.
void MLPBlockPass::ScoreSoftMaxRows(int n) {
  const int out = fNLayers, units = fUnits[out];
  const std::ptrdiff_t ld = fLd[out];
  const double* sums = fSums[out].data();
  double* values = fValues[out].data();
  double* packed = fDeltas[out].data();  // not used by scoring otherwise
  for (int r = 0; r < n; ++r) {
    const double* c = sums + r * ld;
    double* e = packed + r * units;
    int first = 0;
    for (int count : fCategories) {
      const int end = std::min(first + count, units);
      if (first >= end) break;
      double m = c[first];
      for (int j = first + 1; j < end; ++j) m = c[j] > m ? c[j] : m;
      for (int j = first; j < end; ++j) e[j] = c[j] - m;
      first = end;
    }
    for (int j = first; j < units; ++j) e[j] = 0.0;
  }
  fKernel->expNonPositive(packed, packed, n * units);
  for (int r = 0; r < n; ++r) {
    const double* e = packed + r * units;
    double* y = values + r * ld;
    int first = 0;
    for (int count : fCategories) {
      const int end = std::min(first + count, units);
      if (first >= end) break;
      double s = 0.0;
      for (int j = first; j < end; ++j) s += e[j];
      const double inverse = 1.0 / s;
      for (int j = first; j < end; ++j) y[j] = e[j] * inverse;
      first = end;
    }
    for (int j = first; j < units; ++j) y[j] = e[j];
  }
}

// The SoftMax of the first n rows of the output sums, group by group as
// MLPLayer::SoftMax does, with the kernel's exponential. Under log outputs
// the probabilities go to the output deltas' buffer as well, so that the
// backward pass need not take the exponential of the logarithms again.
void MLPBlockPass::SoftMax(int n) {
  const int out = fNLayers, units = fUnits[out];
  const std::ptrdiff_t ld = fLd[out];
  double* probabilities = fLogOutputs ? fDeltas[out].data() : fValues[out].data();
  // Each group's sums less the group's largest, then the exponential of
  // the whole block in one call (a call per group would spend more on its
  // partial vectors than on the arithmetic). Units outside every group get
  // 0 here and are not read afterwards.
  for (int r = 0; r < n; ++r) {
    LessGroupMaxima(&fSums[out][r * ld], probabilities + r * ld);
  }
  fKernel->expNonPositive(probabilities, probabilities, n * static_cast<int>(ld));
  for (int r = 0; r < n; ++r) {
    const double* c = &fSums[out][r * ld];
    double* y = &fValues[out][r * ld];
    double* p = probabilities + r * ld;
    int first = 0;
    for (int count : fCategories) {
      const int end = std::min(first + count, units);
      if (first >= end) break;
      double s = 0.0;
      for (int j = first; j < end; ++j) s += p[j];
      // One division per group rather than per unit.
      const double inverse = 1.0 / s;
      for (int j = first; j < end; ++j) p[j] *= inverse;
      if (fLogOutputs) {
        // log p = c - m - log s, m the group's largest sum; m is where
        // the exponential was 1.
        double m = c[first];
        for (int j = first + 1; j < end; ++j)
          if (c[j] > m) m = c[j];
        const double shift = std::log(s) + m;
        for (int j = first; j < end; ++j) y[j] = c[j] - shift;
      }
      first = end;
    }
  }
}

namespace {

// d[i] times the activation's derivative at y[i], the switch taken once per
// row rather than once per unit.
void TimesDerivative(VXNNCommon::ActivationFunction f, double* d, const double* y, int n) {
  switch (f) {
    case VXNNCommon::kTanH:
      for (int i = 0; i < n; ++i) d[i] *= MLPLayer::Derivative(VXNNCommon::kTanH, y[i]);
      break;
    case VXNNCommon::kSigmoid:
      for (int i = 0; i < n; ++i) d[i] *= MLPLayer::Derivative(VXNNCommon::kSigmoid, y[i]);
      break;
    default:
      break;  // a derivative of 1
  }
}

}  // namespace

void MLPBlockPass::Backward(int n) {
  // The products below add to the gradient buffers: they start each block
  // at 0, so that they hold the block's own sums for CopyBlockGradient.
  for (int l = 1; l <= fNLayers; ++l) {
    const std::size_t units = fUnits[l], ldLower = fLd[l - 1];
    std::fill(fGrad[l].begin(), fGrad[l].begin() + units * ldLower, 0.0);
    std::fill(fGradBias[l].begin(), fGradBias[l].begin() + fLd[l], 0.0);
  }
  const int out = fNLayers;
  {
    const std::ptrdiff_t ld = fLd[out];
    const auto f = static_cast<VXNNCommon::ActivationFunction>(fActivation[out]);
    // Log outputs come only from a SoftMax, whose probabilities Forward
    // left in the deltas' buffer.
    const double* v = fLogOutputs ? fDeltas[out].data() : fValues[out].data();
    double* d = fDeltas[out].data();
    for (int r = 0; r < n; ++r) {
      const double* t = &fTargets[static_cast<std::size_t>(r) * fNOutputs];
      for (int j = 0; j < fNOutputs; ++j) d[r * ld + j] = v[r * ld + j] - t[j];
      TimesDerivative(f, d + r * ld, v + r * ld, fNOutputs);
    }
  }
  for (int l = out; l >= 1; --l) {
    const std::ptrdiff_t ld = fLd[l], ldLower = fLd[l - 1];
    const int units = fUnits[l], lower = fUnits[l - 1];
    const double* d = fDeltas[l].data();
    // The padding columns' sums land in the padding of gb, never read.
    fKernel->columnSums(n, fLd[l], d, ld, fGradBias[l].data());
    // G (units x lower) += D^T (units x n) * X (n x lower).
    if (l == 1) {
      InputGradient(n, d, ld);
      break;
    }
    fKernel->gemm(units, fLd[l - 1], n, d, 1, ld, fValues[l - 1].data(), ldLower, fGrad[l].data(),
                  ldLower, true);
    // Deltas of the layer below: D (n x units) * W (units x lower), then
    // times the lower activation's derivative.
    double* dl = fDeltas[l - 1].data();
    fKernel->gemm(n, fLd[l - 1], units, d, ld, 1, fWeightsN[l].data(), ldLower, dl, ldLower, false);
    const auto f = static_cast<VXNNCommon::ActivationFunction>(fActivation[l - 1]);
    const double* y = fValues[l - 1].data();
    if (f == VXNNCommon::kTanH) {
      // The whole block in one call; the padding columns hold 0.
      fKernel->timesTanhDerivative(dl, y, n * static_cast<int>(ldLower));
    } else {
      for (int r = 0; r < n; ++r) TimesDerivative(f, dl + r * ldLower, y + r * ldLower, lower);
    }
  }
}

// The first layer's G += D^T X with the block's input rows where they lie:
// the whole vectors of each row read in place, the last few inputs (a row
// in place has no zero padding to read up to a whole vector) through a
// zero-padded copy.
void MLPBlockPass::InputGradient(int n, const double* d, std::ptrdiff_t ld) {
  const int inputs = fUnits[0], whole = inputs / kPad * kPad, units = fUnits[1];
  const std::ptrdiff_t ldG = fLd[0];
  double* g = fGrad[1].data();
  if (whole > 0) fKernel->gemmRowsB(units, whole, n, d, 1, ld, fInputRows.data(), g, ldG, true);
  if (whole == inputs) return;
  double* tail = fInputTail.data();
  for (int r = 0; r < n; ++r) {
    const double* x = fInputRows[static_cast<std::size_t>(r)];
    std::copy(x + whole, x + inputs, tail + r * kPad);
    std::fill(tail + r * kPad + (inputs - whole), tail + (r + 1) * kPad, 0.0);
  }
  fKernel->gemm(units, kPad, n, d, 1, ld, tail, kPad, g + whole, ldG, true);
}

std::size_t MLPBlockPass::GradientValues() const {
  std::size_t n = 0;
  for (int l = 1; l <= fNLayers; ++l)
    n += static_cast<std::size_t>(fUnits[l]) * static_cast<std::size_t>(fUnits[l - 1] + 1);
  return n;
}

void MLPBlockPass::CopyBlockGradient(double* out) const {
  for (int l = 1; l <= fNLayers; ++l) {
    const std::size_t units = fUnits[l], lower = fUnits[l - 1], ldLower = fLd[l - 1];
    const double* g = fGrad[l].data();
    const double* gb = fGradBias[l].data();
    for (std::size_t j = 0; j < units; ++j) {
      *out++ = gb[j];
      out = std::copy_n(g + j * ldLower, lower, out);
    }
  }
}

void MLPBlockPass::AddGradientTo(const std::vector<INLayer*>& layers, const double* sum) const {
  for (int l = 1; l <= fNLayers; ++l) {
    const std::size_t count = static_cast<std::size_t>(fUnits[l]) * (fUnits[l - 1] + 1);
    double* g = static_cast<MLPLayer*>(layers[static_cast<std::size_t>(l)])->GetAccumGradientData();
    for (std::size_t i = 0; i < count; ++i) g[i] += sum[i];
    sum += count;
  }
}

void MLPBlockPass::LeaveUnitValues(const std::vector<INLayer*>& layers, int last) const {
  if (last < 0) return;
  for (int l = 0; l <= fNLayers; ++l) {
    const std::size_t row = static_cast<std::size_t>(last) * fLd[l];
    layers[static_cast<std::size_t>(l)]->SetUnitValues(
        l == 0 ? fInputRows[static_cast<std::size_t>(last)] : &fValues[l][row], fUnits[l]);
  }
}

void RBFBlockPass::Reserve(const std::vector<INLayer*>& layers) {
  fNInputs = layers[0]->GetNumUnits();
  fNHidden = layers[1]->GetNumUnits();
  fNOutputs = layers[2]->GetNumUnits();
  fLdIn = Padded(fNInputs);
  fLdHidden = Padded(fNHidden);
  fLdOut = Padded(fNOutputs);
  const std::size_t block = kBlock;
  Fit(fX, block * fLdIn);
  Fit(fTargets, block * fNOutputs);
  Fit(fH, block * fLdHidden);
  Fit(fY, block * fLdOut);
  Fit(fCentersT, static_cast<std::size_t>(fNInputs) * fLdHidden);
  Fit(fVariances, fLdHidden);
  Fit(fWeightsT, static_cast<std::size_t>(fNHidden) * fLdOut);
  Fit(fWeightsN, static_cast<std::size_t>(fNOutputs) * fLdHidden);
  Fit(fBias, fLdOut);
}

void RBFBlockPass::Begin(const KernelTable& kernel, const std::vector<INLayer*>& layers) {
  fKernel = &kernel;
  Reserve(layers);
  const auto* hidden = static_cast<const RBFHiddenLayer*>(layers[1]);
  const auto* output = static_cast<const RBFOutputLayer*>(layers[2]);
  fNormalized = hidden->GetActivationFunction() == VXNNCommon::kNormalizedRadialBasis;
  // Only the centres in use take part; the output layer skips the others.
  fUsed = std::min(hidden->GetNumCenters(), fNHidden);
  const std::size_t ldH = fLdHidden, ldO = fLdOut;
  std::fill(fCentersT.begin(), fCentersT.begin() + fNInputs * ldH, 0.0);
  // The kernel reads whole vectors of these; past the centres in use they
  // are masked, but must be numbers, and the variances not 0.
  std::fill(fVariances.begin(), fVariances.begin() + ldH, 1.0);
  for (int j = 0; j < fUsed; ++j) {
    const std::vector<double>& c = hidden->GetCenters()[static_cast<std::size_t>(j)];
    for (int i = 0; i < fNInputs; ++i) fCentersT[i * ldH + j] = c[static_cast<std::size_t>(i)];
    fVariances[static_cast<std::size_t>(j)] = hidden->GetUnitVariance(j);
  }
  // Row k of the output weights: its bias when the units are not
  // normalised, then one weight per hidden unit.
  const bool bias = output->HasBias();
  const int stride = output->GetRowLength();
  const double* w = output->GetWeights();
  std::fill(fWeightsT.begin(), fWeightsT.begin() + fNHidden * ldO, 0.0);
  std::fill(fBias.begin(), fBias.begin() + ldO, 0.0);
  for (int k = 0; k < fNOutputs; ++k) {
    const double* row = w + static_cast<std::ptrdiff_t>(k) * stride;
    if (bias) fBias[static_cast<std::size_t>(k)] = *row++;
    for (int j = 0; j < fUsed; ++j) fWeightsT[j * ldO + k] = fWeightsN[k * ldH + j] = row[j];
  }
}

void RBFBlockPass::Forward(int n) {
  const std::ptrdiff_t ldH = fLdHidden, ldO = fLdOut;
  if (fUsed > 0)
    fKernel->radialRows(n, fUsed, fInputRows.data(), fNInputs, fCentersT.data(), ldH,
                        fVariances.data(), fNormalized, fH.data(), ldH);
  for (int r = 0; r < n; ++r) std::copy(fBias.data(), fBias.data() + ldO, &fY[r * ldO]);
  for (int r = 0; r < n; ++r) fHRows[static_cast<std::size_t>(r)] = &fH[r * ldH];
  Product(*fKernel, n, fNOutputs, fUsed, fHRows.data(), fWeightsT.data(), ldO, fWeightsN.data(),
          ldH, fY.data(), ldO, true);
}

void RBFBlockPass::LeaveUnitValues(const std::vector<INLayer*>& layers, int last) const {
  if (last < 0) return;
  const std::size_t r = static_cast<std::size_t>(last);
  std::copy_n(fInputRows[r], fNInputs, layers[0]->GetUnitValues());
  std::copy_n(&fH[r * fLdHidden], fUsed, layers[1]->GetUnitValues());
  std::copy_n(&fY[r * fLdOut], fNOutputs, layers[2]->GetUnitValues());
}

}  // namespace detail
}  // namespace VXNeural
