#include "vxneural/network/RBFOutputLayer.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <ostream>
#include <utility>

#include "network/ArrayData.h"
#include "persist/BinaryIO.h"
#include "persist/Display.h"
#include "persist/XmlIO.h"
#include "vxcommon/XMLTree.h"
#include "vxneural/network/RBFHiddenLayer.h"
#include "vxneural/network/VXRandom.h"

using VXNeural::detail::Data;
using VXNNCommon::ActivationFunction;

namespace {

constexpr const char* kClassName = "RBFOutputLayer";
constexpr const char* kBinaryTag = "RBFOut";
constexpr int kXmlLevel = 2;
constexpr int kXmlFrame = 2;

int ReadCategoryCount(VXNeural::detail::BinReader& r) {
  return r.Count(VXNeural::detail::kMaxVariables, 4);
}
int ReadCategoryCount(VXNeural::detail::XmlReader& r) {
  return r.Count(VXNeural::detail::kMaxVariables);
}

}  // namespace

struct RBFOutputLayer::Saved {
  int units = 0;
  int lower = 0;
  int activation = VXNNCommon::kNormalizedRadialBasis;
  std::vector<double> weights;
  std::vector<int> categories;
};

int RBFOutputLayer::RowLength(ActivationFunction hidden, int k) {
  return hidden == VXNNCommon::kNormalizedRadialBasis ? k : k + 1;
}

RBFOutputLayer::RBFOutputLayer(INLayer* lower)
    : fNUnits(0),
      fNUnitsLower(0),
      fActivFuncHidden(VXNNCommon::kNormalizedRadialBasis),
      fLowerLayer(nullptr),
      fHidden(nullptr) {
  SetLowerLayer(lower);
}

RBFOutputLayer::RBFOutputLayer(int units, INLayer* lower, const std::vector<int>& outputCategories)
    : fNUnits(std::max(units, 0)),
      fNUnitsLower(lower ? lower->GetNumUnits() : 0),
      fActivFuncHidden(lower ? lower->GetActivationFunction() : VXNNCommon::kNormalizedRadialBasis),
      fLowerLayer(nullptr),
      fHidden(nullptr),
      fUnitValues(0.0, static_cast<std::size_t>(fNUnits)),
      fLayerWeights(0.0, static_cast<std::size_t>(fNUnits) *
                             static_cast<std::size_t>(RowLength(fActivFuncHidden, fNUnitsLower))),
      fNOutputCategories(outputCategories) {
  SetLowerLayer(lower);
}

RBFOutputLayer::~RBFOutputLayer() = default;

void RBFOutputLayer::SetLowerLayer(INLayer* lower) {
  fLowerLayer = lower;
  fHidden = dynamic_cast<const RBFHiddenLayer*>(lower);
}

void RBFOutputLayer::ResetAll() {
  ResetUnitValues();
  fLayerWeights = 0.0;
}

void RBFOutputLayer::ResetUnitValues() { fUnitValues = 0.0; }

double* RBFOutputLayer::GetUnitValues() { return Data(fUnitValues); }

double* RBFOutputLayer::GetWeights() { return Data(fLayerWeights); }

const double* RBFOutputLayer::GetWeightData() const { return Data(fLayerWeights); }

void RBFOutputLayer::ComputeUnitValues(bool) {
  if (!fLowerLayer || fNUnits == 0) return;
  const double* h = fLowerLayer->GetUnitValues();
  const int n = fNUnitsLower;
  // Hidden units beyond the centres in use hold stale values: their
  // weights are skipped.
  const int used = std::min(n, fHidden ? fHidden->GetNumCenters() : n);
  const bool bias = HasBias();
  const int stride = GetRowLength();
  const double* w = Data(fLayerWeights);
  double* y = Data(fUnitValues);
  for (int k = 0; k < fNUnits; ++k) {
    const double* row = w + static_cast<std::ptrdiff_t>(k) * stride;
    double s = 0.0;
    if (bias) s = *row++;
    for (int j = 0; j < used; ++j) s += h[j] * row[j];
    y[k] = s;
  }
}

int RBFOutputLayer::SetWeights(const std::valarray<double>& v, int offset) {
  const std::size_t n = fLayerWeights.size();
  if (offset < 0 || static_cast<std::size_t>(offset) + n > v.size()) return 0;
  for (std::size_t i = 0; i < n; ++i) fLayerWeights[i] = v[static_cast<std::size_t>(offset) + i];
  return static_cast<int>(n);
}

int RBFOutputLayer::GetWeights(std::valarray<double>& v, int offset) const {
  const std::size_t n = fLayerWeights.size();
  if (offset < 0 || static_cast<std::size_t>(offset) + n > v.size()) return 0;
  for (std::size_t i = 0; i < n; ++i) v[static_cast<std::size_t>(offset) + i] = fLayerWeights[i];
  return static_cast<int>(n);
}

int RBFOutputLayer::RandomizeWeights(VXRandom& rng) { return RandomizeWeights(rng, 0.0, 1.0); }

int RBFOutputLayer::RandomizeWeights(VXRandom& rng, double lo, double hi) {
  rng.FillUniform(Data(fLayerWeights), fLayerWeights.size(), lo, hi);
  return static_cast<int>(fLayerWeights.size());
}

void RBFOutputLayer::SetNumUnitsLower(int k) {
  if (k < 0) return;
  if (k != fNUnitsLower) {
    fLayerWeights.resize(static_cast<std::size_t>(fNUnits) *
                             static_cast<std::size_t>(RowLength(fActivFuncHidden, k)),
                         0.0);
    fLayerWeights = 0.0;
  }
  fNUnitsLower = k;
}

// Both saved forms hold the same values in the same order. The weight
// count must follow the layout rule for the saved counts, so that a forward
// pass never reads beyond the array.
template <typename Reader>
RBFOutputLayer::Saved RBFOutputLayer::ReadSaved(Reader& r) {
  using VXNeural::detail::kMaxCategories;
  using VXNeural::detail::kMaxElements;
  Saved s;
  s.units = r.Int();
  s.lower = r.Int();
  s.activation = r.Int();
  if (s.units < 0 || s.units > kMaxCategories || s.lower < 0 || s.lower > kMaxCategories) r.Fail();
  if (s.activation != VXNNCommon::kRadialBasis &&
      s.activation != VXNNCommon::kNormalizedRadialBasis)
    r.Fail();
  const std::int64_t expected = static_cast<std::int64_t>(s.units) *
                                RowLength(static_cast<ActivationFunction>(s.activation), s.lower);
  const int count = r.Int();
  if (count != expected || expected > kMaxElements) r.Fail();
  s.weights = r.Doubles(count);
  s.categories = r.Ints(ReadCategoryCount(r));
  for (int c : s.categories)
    if (c < 0) r.Fail();
  return s;
}

void RBFOutputLayer::Adopt(Saved& s) {
  fNUnits = s.units;
  fNUnitsLower = s.lower;
  fActivFuncHidden = static_cast<ActivationFunction>(s.activation);
  fUnitValues.resize(static_cast<std::size_t>(fNUnits), 0.0);
  fUnitValues = 0.0;
  fLayerWeights.resize(s.weights.size());
  std::copy(s.weights.begin(), s.weights.end(), std::begin(fLayerWeights));
  fNOutputCategories = std::move(s.categories);
}

// Both saved forms write the same values in the same order.
template <typename Writer>
void RBFOutputLayer::PutFields(Writer& w) const {
  w.Int(fNUnits).Int(fNUnitsLower).Int(fActivFuncHidden);
  w.Int(static_cast<int>(fLayerWeights.size())).Doubles(Data(fLayerWeights), fLayerWeights.size());
  w.Int(static_cast<int>(fNOutputCategories.size())).Ints(fNOutputCategories);
}

int RBFOutputLayer::WriteObject(std::ostream& out) const {
  VXNeural::detail::BinWriter w(out);
  w.Tag(kBinaryTag);
  PutFields(w);
  return w.Bytes();
}

int RBFOutputLayer::ReadObject(std::istream& in) {
  VXNeural::detail::BinReader r(in, kClassName);
  r.ExpectTag(kBinaryTag);
  Saved s = ReadSaved(r);
  Adopt(s);
  return r.Bytes();
}

int RBFOutputLayer::WriteObjectXML(std::ostream& out) const {
  VXNeural::detail::XmlWriter w(out, kClassName, kXmlLevel);
  PutFields(w);
  return w.End() + kXmlFrame;
}

int RBFOutputLayer::ReadObjectXML(std::istream& in) {
  VXNeural::detail::XmlReader r(in, kClassName, kClassName);
  Saved s = ReadSaved(r);
  const int count = r.End();
  Adopt(s);
  return count + kXmlFrame;
}

VXXML_1_2::XMLElement* RBFOutputLayer::CreatePMMLLayer(int firstNeuronId, bool withActivation,
                                                       int targetIndex, int& nWeights) const {
  using VXXML_1_2::XMLElement;
  nWeights = 0;
  const int targets = static_cast<int>(fNOutputCategories.size());
  if (targetIndex < 0 || targetIndex >= targets) return nullptr;
  int first = 0;
  for (int t = 0; t < targetIndex; ++t) first += fNOutputCategories[static_cast<std::size_t>(t)];
  const int count = fNOutputCategories[static_cast<std::size_t>(targetIndex)];
  // The last target takes every remaining unit, whatever the counts say.
  const int end = targetIndex + 1 == targets ? fNUnits : std::min(first + count, fNUnits);
  std::unique_ptr<XMLElement> layer(XMLElement::Create("NeuralLayer"));
  layer->AddAttribute("numberOfNeurons", static_cast<double>(count));
  if (withActivation) layer->AddAttribute("activationFunction", "identity");
  const int n = fNUnitsLower;
  const int used = std::min(n, fHidden ? fHidden->GetNumCenters() : n);
  const bool bias = HasBias();
  const int stride = GetRowLength();
  for (int k = first; k < end; ++k) {
    const double* row =
        &fLayerWeights[static_cast<std::size_t>(k) * static_cast<std::size_t>(stride)];
    std::unique_ptr<XMLElement> neuron(XMLElement::Create("Neuron"));
    neuron->AddAttribute("id", static_cast<double>(firstNeuronId + k));
    if (bias) {
      neuron->AddAttribute("bias", *row++);
      ++nWeights;
    }
    for (int j = 0; j < used; ++j) {
      std::unique_ptr<XMLElement> con(XMLElement::Create("Con"));
      con->AddAttribute("from", static_cast<double>(firstNeuronId - n + j));
      con->AddAttribute("weight", row[j]);
      neuron->AddElement(con.release());
      ++nWeights;
    }
    layer->AddElement(neuron.release());
  }
  return layer.release();
}

void RBFOutputLayer::GetUnitParameters(int unit, std::vector<double>& params, double& extra) const {
  params.clear();
  extra = 0.0;
  if (unit < 0 || unit >= fNUnits) return;
  const std::size_t stride = static_cast<std::size_t>(GetRowLength());
  const double* row = Data(fLayerWeights) + static_cast<std::size_t>(unit) * stride;
  params.assign(row, row + stride);
}

void RBFOutputLayer::Display(std::ostream& out) const {
  using VXNeural::detail::ShowValue;
  using VXNeural::detail::ShowVector;
  VXNeural::detail::DisplayPrecision precision(out);
  out << "\nStart of RBFOutputLayer display\n";
  ShowValue(out, "fNUnits = ", fNUnits);
  ShowValue(out, "fNUnitsLower = ", fNUnitsLower);
  ShowValue(out, "fActivFuncHidden = ", VXNNCommon::DisplayText(fActivFuncHidden));
  ShowVector(out, "fUnitValues", fUnitValues);
  ShowVector(out, "fLayerWeights", fLayerWeights);
  ShowVector(out, "fNOutputCategories", fNOutputCategories);
  out << "End of RBFOutputLayer display\n";
}
