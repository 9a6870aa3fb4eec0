#include "vxneural/network/RBFHiddenLayer.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <memory>
#include <ostream>
#include <utility>

#include "network/ArrayData.h"
#include "persist/BinaryIO.h"
#include "persist/Display.h"
#include "persist/XmlIO.h"
#include "vxcommon/XMLTree.h"
#include "vxneural/network/VXRandom.h"

using VXNeural::detail::Data;
using VXNNCommon::ActivationFunction;

namespace {

constexpr const char* kClassName = "RBFHiddenLayer";
constexpr const char* kBinaryTag = "RBFHid";
constexpr int kXmlLevel = 2;
constexpr int kXmlFrame = 2;

using Vectors = std::vector<std::vector<double>>;

// New centre and variance arrays are zero-filled: an unplaced unit then
// sits at the origin with no spread, a defined state that a display or a
// save shows plainly, rather than whatever the memory held.
Vectors MakeVectors(int count, int length) {
  return Vectors(static_cast<std::size_t>(std::max(count, 0)),
                 std::vector<double>(static_cast<std::size_t>(std::max(length, 0)), 0.0));
}

bool IsRadial(int activation) {
  return activation == VXNNCommon::kRadialBasis || activation == VXNNCommon::kNormalizedRadialBasis;
}

}  // namespace

// The values of a saved layer, read and checked before the layer changes.
struct RBFHiddenLayer::Saved {
  int units = 0;
  int lower = 0;
  int activation = VXNNCommon::kNormalizedRadialBasis;
  int centers = 0;
  Vectors centres;
  Vectors variances;
  std::vector<double> adjusted;
};

RBFHiddenLayer::RBFHiddenLayer(INLayer* lower)
    : fNUnits(0),
      fNUnitsLower(0),
      fActivFunc(VXNNCommon::kNormalizedRadialBasis),
      fFallbackVariance(1.0),
      fLowerLayer(lower),
      fNCenters(0) {}

RBFHiddenLayer::RBFHiddenLayer(int units, INLayer* lower, ActivationFunction activation)
    : fNUnits(std::max(units, 0)),
      fNUnitsLower(lower ? lower->GetNumUnits() : 0),
      fActivFunc(activation),
      fFallbackVariance(1.0),
      fLowerLayer(lower),
      fUnitValues(0.0, static_cast<std::size_t>(fNUnits)),
      fNCenters(fNUnits),
      fCenters(MakeVectors(fNUnits, fNUnitsLower)),
      fVarianceVectors(MakeVectors(fNUnits, fNUnitsLower)),
      fExponents(0.0, static_cast<std::size_t>(fNUnits)) {}

RBFHiddenLayer::~RBFHiddenLayer() = default;

int RBFHiddenLayer::GetNumWeights() const { return (fNUnitsLower + 1) * fNCenters; }

void RBFHiddenLayer::ResetUnitValues() { fUnitValues = 0.0; }

double* RBFHiddenLayer::GetUnitValues() { return Data(fUnitValues); }

// A unit in use has no adjusted variance only before the first width
// computation (the variance vectors are then still held); it behaves as if
// its width came from the fallback variance, so a forward pass, the weight
// vector and the export never read beyond the array.
static double UnitVariance(const std::vector<double>& adjusted, double fallback, int j) {
  return static_cast<std::size_t>(j) < adjusted.size() ? adjusted[static_cast<std::size_t>(j)]
                                                       : fallback;
}

double RBFHiddenLayer::GetUnitVariance(int j) const {
  return UnitVariance(fAdjustedVariances, fFallbackVariance, j);
}

void RBFHiddenLayer::ComputeUnitValues(bool) {
  if (!fLowerLayer || fNCenters == 0) return;
  const double* x = fLowerLayer->GetUnitValues();
  const int n = fNUnitsLower;
  const bool normalized = fActivFunc == VXNNCommon::kNormalizedRadialBasis;
  double* h = Data(fUnitValues);
  double* z = Data(fExponents);
  double m = -DBL_MAX;
  for (int j = 0; j < fNCenters; ++j) {
    const double* c = fCenters[static_cast<std::size_t>(j)].data();
    const double a = UnitVariance(fAdjustedVariances, fFallbackVariance, j);
    double d = 0.0;
    for (int i = 0; i < n; ++i) {
      const double diff = x[i] - c[i];
      d += diff * diff / a;
    }
    z[j] = -0.5 * d;
    if (z[j] > m) m = z[j];
  }
  if (!normalized) {
    for (int j = 0; j < fNCenters; ++j) h[j] = std::exp(z[j]);
    return;
  }
  // Relative to the largest exponent the biggest term is exp(0) = 1, so the
  // sum cannot underflow to 0 however far the point is from every centre.
  double s = 0.0;
  for (int j = 0; j < fNCenters; ++j) {
    h[j] = std::exp(z[j] - m);
    s += h[j];
  }
  for (int j = 0; j < fNCenters; ++j) h[j] /= s;
}

int RBFHiddenLayer::SetWeights(const std::valarray<double>& v, int offset) {
  const int count = GetNumWeights();
  if (offset < 0 || static_cast<std::size_t>(offset) + static_cast<std::size_t>(count) > v.size())
    return 0;
  std::size_t at = static_cast<std::size_t>(offset);
  for (int j = 0; j < fNCenters; ++j)
    for (double& c : fCenters[static_cast<std::size_t>(j)]) c = v[at++];
  // Given widths replace any pending variance vectors: the layer is then in
  // its trained form.
  fVarianceVectors.clear();
  fAdjustedVariances.resize(static_cast<std::size_t>(fNUnits), 0.0);
  for (int j = 0; j < fNCenters; ++j) fAdjustedVariances[static_cast<std::size_t>(j)] = v[at++];
  return count;
}

int RBFHiddenLayer::GetWeights(std::valarray<double>& v, int offset) const {
  const int count = GetNumWeights();
  if (offset < 0 || static_cast<std::size_t>(offset) + static_cast<std::size_t>(count) > v.size())
    return 0;
  std::size_t at = static_cast<std::size_t>(offset);
  for (int j = 0; j < fNCenters; ++j)
    for (double c : fCenters[static_cast<std::size_t>(j)]) v[at++] = c;
  for (int j = 0; j < fNCenters; ++j)
    v[at++] = UnitVariance(fAdjustedVariances, fFallbackVariance, j);
  return count;
}

int RBFHiddenLayer::RandomizeWeights(VXRandom& rng) { return RandomizeWeights(rng, 0.0, 1.0); }

int RBFHiddenLayer::RandomizeWeights(VXRandom& rng, double lo, double hi) {
  PrepareVarianceVectors();
  for (auto& c : fCenters) rng.FillUniform(c.data(), c.size(), lo, hi);
  for (auto& s : fVarianceVectors) rng.FillUniform(s.data(), s.size(), lo, hi);
  ComputeAdjustedVariances();
  return 2 * fNUnitsLower * fNUnits;
}

std::vector<std::vector<double>>& RBFHiddenLayer::SetNumCenters(int k) {
  fNCenters = std::clamp(k, 0, fNUnits);
  return fCenters;
}

void RBFHiddenLayer::SetFallbackVariance(double v) {
  if (v > 0.0) fFallbackVariance = v;
}

std::vector<std::vector<double>>& RBFHiddenLayer::PrepareVarianceVectors() {
  if (fVarianceVectors.empty()) {
    fAdjustedVariances.clear();
    fVarianceVectors = MakeVectors(fNUnits, fNUnitsLower);
  }
  return fVarianceVectors;
}

void RBFHiddenLayer::ComputeAdjustedVariances() {
  if (fVarianceVectors.empty()) return;
  fAdjustedVariances.assign(static_cast<std::size_t>(fNUnits), 0.0);
  double smallest = DBL_MAX;
  bool zeroFound = false;
  for (int j = 0; j < fNCenters; ++j) {
    const std::vector<double>& s = fVarianceVectors[static_cast<std::size_t>(j)];
    double sum = 0.0;
    for (double e : s) sum += std::max(e, 0.0);
    const double mean = s.empty() ? 0.0 : sum / static_cast<double>(s.size());
    if (mean == 0.0)
      zeroFound = true;
    else if (mean < smallest)
      smallest = mean;
    fAdjustedVariances[static_cast<std::size_t>(j)] = mean;
  }
  int replaced = 0;
  if (zeroFound) {
    for (int j = 0; j < fNCenters; ++j) {
      double& a = fAdjustedVariances[static_cast<std::size_t>(j)];
      if (a == 0.0) {
        a = smallest;
        ++replaced;
      }
    }
  }
  if (replaced == fNCenters)
    for (int j = 0; j < fNCenters; ++j)
      fAdjustedVariances[static_cast<std::size_t>(j)] = fFallbackVariance;
  fVarianceVectors.clear();
}

void RBFHiddenLayer::Resize(int k) {
  if (k < 0 || k == fNUnits) return;
  fUnitValues.resize(static_cast<std::size_t>(k), 0.0);
  fExponents.resize(static_cast<std::size_t>(k), 0.0);
  fCenters = MakeVectors(k, fNUnitsLower);
  if (!fVarianceVectors.empty())
    fVarianceVectors = MakeVectors(k, fNUnitsLower);
  else
    fAdjustedVariances.assign(static_cast<std::size_t>(k), 0.0);
  fNUnits = fNCenters = k;
}

template <typename Writer>
void RBFHiddenLayer::PutFields(Writer& w) const {
  w.Int(fNUnits).Int(fNUnitsLower).Int(fActivFunc).Int(fNCenters);
  for (int j = 0; j < fNCenters; ++j) w.Doubles(fCenters[static_cast<std::size_t>(j)]);
  w.Int(static_cast<int>(fVarianceVectors.size()));
  if (!fVarianceVectors.empty()) {
    for (int j = 0; j < fNCenters; ++j) w.Doubles(fVarianceVectors[static_cast<std::size_t>(j)]);
  } else {
    for (int j = 0; j < fNCenters; ++j)
      w.Double(UnitVariance(fAdjustedVariances, fFallbackVariance, j));
  }
}

// Both saved forms hold the same values in the same order. Counts are
// checked against each other and against what remains before anything is
// allocated for them.
template <typename Reader>
RBFHiddenLayer::Saved RBFHiddenLayer::ReadSaved(Reader& r, int lowerUnits, std::size_t valuesLeft) {
  using VXNeural::detail::kMaxCategories;
  using VXNeural::detail::kMaxElements;
  Saved s;
  s.units = r.Int();
  s.lower = r.Int();
  s.activation = r.Int();
  s.centers = r.Int();
  if (s.units < 0 || s.units > kMaxCategories || s.lower < 0 || s.lower > kMaxCategories) r.Fail();
  if (!IsRadial(s.activation) || s.centers < 0 || s.centers > s.units) r.Fail();
  if (static_cast<std::int64_t>(s.units) * s.lower > kMaxElements) r.Fail();
  // Units without a centre yet are held in memory (zero-filled centre and
  // variance vectors of the lower layer's width) but stored as nothing here,
  // so their count must be bounded by something else before it sizes the
  // arrays. A layer linked below must match that layer. A trained or new
  // layer has a centre for every unit, so a saved model hardly ever holds
  // unplaced units; more unplaced centre values than values left in the
  // stream (a model goes on with the output weights and the solver) are
  // taken for damage.
  if (lowerUnits >= 0 && s.lower != lowerUnits) r.Fail();
  const std::uint64_t unplaced = static_cast<std::uint64_t>(s.units - s.centers);
  if (unplaced * static_cast<std::uint64_t>(std::max(s.lower, 1)) > valuesLeft) r.Fail();
  const auto readVectors = [&](Vectors& to) {
    // The whole block is checked against the stream before any allocation.
    std::vector<double> block =
        r.Doubles(static_cast<int>(static_cast<std::int64_t>(s.centers) * s.lower));
    to = MakeVectors(s.units, s.lower);
    for (int j = 0; j < s.centers; ++j)
      std::copy_n(block.begin() + static_cast<std::ptrdiff_t>(j) * s.lower, s.lower,
                  to[static_cast<std::size_t>(j)].begin());
  };
  readVectors(s.centres);
  const int held = r.Int();
  if (held < 0 || held > kMaxCategories) r.Fail();
  if (held > 0) {
    readVectors(s.variances);
  } else {
    std::vector<double> adjusted = r.Doubles(s.centers);
    s.adjusted.assign(static_cast<std::size_t>(s.units), 0.0);
    std::copy(adjusted.begin(), adjusted.end(), s.adjusted.begin());
  }
  return s;
}

void RBFHiddenLayer::Adopt(Saved& s) {
  fNUnits = s.units;
  fNUnitsLower = s.lower;
  fActivFunc = static_cast<ActivationFunction>(s.activation);
  fNCenters = s.centers;
  fUnitValues.resize(static_cast<std::size_t>(fNUnits), 0.0);
  fUnitValues = 0.0;
  fExponents.resize(static_cast<std::size_t>(fNUnits), 0.0);
  fCenters = std::move(s.centres);
  fVarianceVectors = std::move(s.variances);
  fAdjustedVariances = std::move(s.adjusted);
}

int RBFHiddenLayer::WriteObject(std::ostream& out) const {
  VXNeural::detail::BinWriter w(out);
  w.Tag(kBinaryTag);
  PutFields(w);
  return w.Bytes();
}

int RBFHiddenLayer::ReadObject(std::istream& in) {
  VXNeural::detail::BinReader r(in, kClassName);
  r.ExpectTag(kBinaryTag);
  Saved s =
      ReadSaved(r, fLowerLayer ? fLowerLayer->GetNumUnits() : -1, r.Remaining() / sizeof(double));
  Adopt(s);
  return r.Bytes();
}

int RBFHiddenLayer::WriteObjectXML(std::ostream& out) const {
  VXNeural::detail::XmlWriter w(out, kClassName, kXmlLevel);
  PutFields(w);
  return w.End() + kXmlFrame;
}

int RBFHiddenLayer::ReadObjectXML(std::istream& in) {
  VXNeural::detail::XmlReader r(in, kClassName, kClassName);
  Saved s = ReadSaved(r, fLowerLayer ? fLowerLayer->GetNumUnits() : -1,
                      VXNeural::detail::StreamRemaining(in) / VXXML_1_2::kMinValueBytes);
  const int count = r.End();
  Adopt(s);
  return count + kXmlFrame;
}

VXXML_1_2::XMLElement* RBFHiddenLayer::CreatePMMLLayer(int firstNeuronId, bool, int,
                                                       int& nWeights) const {
  using VXXML_1_2::XMLElement;
  nWeights = 0;
  std::unique_ptr<XMLElement> layer(XMLElement::Create("NeuralLayer"));
  layer->AddAttribute("numberOfNeurons", static_cast<double>(fNUnits));
  layer->AddAttribute("activationFunction", "radialBasis");
  if (fActivFunc == VXNNCommon::kNormalizedRadialBasis)
    layer->AddAttribute("normalizationMethod", "simplemax");
  for (int j = 0; j < fNCenters; ++j) {
    std::unique_ptr<XMLElement> neuron(XMLElement::Create("Neuron"));
    neuron->AddAttribute("id", static_cast<double>(firstNeuronId + j));
    neuron->AddAttribute("width",
                         std::sqrt(UnitVariance(fAdjustedVariances, fFallbackVariance, j)));
    const std::vector<double>& c = fCenters[static_cast<std::size_t>(j)];
    for (int i = 0; i < fNUnitsLower; ++i) {
      std::unique_ptr<XMLElement> con(XMLElement::Create("Con"));
      con->AddAttribute("from", static_cast<double>(i));
      con->AddAttribute("weight", c[static_cast<std::size_t>(i)]);
      neuron->AddElement(con.release());
      ++nWeights;
    }
    layer->AddElement(neuron.release());
  }
  return layer.release();
}

void RBFHiddenLayer::GetUnitParameters(int unit, std::vector<double>& params, double& extra) const {
  params.clear();
  extra = 0.0;
  if (unit < 0 || static_cast<std::size_t>(unit) >= fCenters.size()) return;
  params = fCenters[static_cast<std::size_t>(unit)];
  extra = std::sqrt(UnitVariance(fAdjustedVariances, fFallbackVariance, unit));
}

void RBFHiddenLayer::Display(std::ostream& out) const {
  using VXNeural::detail::ShowValue;
  using VXNeural::detail::ShowVector;
  VXNeural::detail::DisplayPrecision precision(out);
  out << "\nStart of RBFHiddenLayer display\n";
  ShowValue(out, "fNUnits = ", fNUnits);
  ShowValue(out, "fNUnitsLower = ", fNUnitsLower);
  ShowValue(out, "fActivFunc = ", VXNNCommon::DisplayText(fActivFunc));
  ShowVector(out, "fUnitValues", fUnitValues);
  ShowValue(out, "fNCenters = ", fNCenters);
  for (int j = 0; j < fNCenters; ++j) {
    const std::size_t u = static_cast<std::size_t>(j);
    out << "\nCluster center number " << j << ":\n";
    ShowVector(out, "Cluster center vector", fCenters[u]);
    out << '\n';
    if (!fVarianceVectors.empty())
      ShowVector(out, "Cluster variance vector", fVarianceVectors[u]);
    else
      ShowValue(out, "Cluster center adjusted variance = ",
                UnitVariance(fAdjustedVariances, fFallbackVariance, j));
  }
  out << "End of RBFHiddenLayer display\n";
}
