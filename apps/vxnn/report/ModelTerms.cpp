#include "report/ModelTerms.h"

#include "report/Format.h"
#include "vxneural/algorithm/MLPAlgorithm.h"
#include "vxneural/network/NNetwork.h"

namespace vxnn {

namespace {

bool IsRBF(const INeuralAlgorithm& a) { return a.GetAlgorithmType() == VXNNCommon::kRBF; }

}  // namespace

const MLPSettings* MLPSettingsOf(const INeuralAlgorithm& a) {
  return IsRBF(a) ? nullptr : static_cast<const MLPSettings*>(a.GetSettings());
}

const RBFSettings* RBFSettingsOf(const INeuralAlgorithm& a) {
  return IsRBF(a) ? static_cast<const RBFSettings*>(a.GetSettings()) : nullptr;
}

const char* TrainingTypeName(VXNNCommon::TrainingType t) {
  switch (t) {
    case VXNNCommon::kMiniBatch:
      return "minibatch";
    case VXNNCommon::kOnline:
      return "online";
    default:
      return "batch";
  }
}

const char* MethodName(VXNNCommon::MLPTrainingMethod m) {
  switch (m) {
    case VXNNCommon::kGradientDescent:
      return "gradient descent";
    case VXNNCommon::kLinearRegression:
      return "linear regression";
    default:
      return "scaled conjugate gradient";
  }
}

std::string MethodText(const INeuralAlgorithm& a) {
  const MLPSettings* s = MLPSettingsOf(a);
  return s ? MethodName(s->GetTrainingMethod()) : "clustering and least squares";
}

std::pair<const char*, const char*> ScalingOf(VXNNCommon::Standardization s) {
  switch (s) {
    case VXNNCommon::kMeanStdDev:
      return {"standard", "continuous inputs scaled to mean 0, sd 1"};
    case VXNNCommon::kMinRangeSymmetric:
      return {"range", "continuous inputs scaled to -1..1"};
    case VXNNCommon::kMinRange:
      return {"unit range", "continuous inputs scaled to 0..1"};
    default:
      return {"none", "continuous inputs unscaled"};
  }
}

std::string KindText(const INNVariable& v) {
  switch (v.GetMeasureLevel()) {
    case INNVariable::kContinuous:
      return "continuous";
    case INNVariable::kNumericCategorical:
      return "categorical (numbers)";
    case INNVariable::kStringCategorical:
      return "categorical (text)";
    default:
      return "unknown";
  }
}

std::string RoleText(INNVariable::VariableRole role) {
  switch (role) {
    case INNVariable::kInput:
      return "input";
    case INNVariable::kOutput:
      return "target";
    case INNVariable::kUnused:
      return "unused";
    default:
      return "undefined";
  }
}

Shape ShapeOf(const INeuralAlgorithm& a) {
  Shape shape;
  if (const RBFSettings* s = RBFSettingsOf(a)) {
    const int centres = a.GetNumberOfHiddenUnits();
    const bool normalized = s->GetActivFnHiddenLayer() == VXNNCommon::kNormalizedRadialBasis;
    shape.fKind = NetworkKind::kRBF;
    shape.fUnits = {s->GetNumInputs(), centres, s->GetNumOutUnits()};
    shape.fActivations = {VXNNCommon::DisplayText(s->GetActivFnHiddenLayer()),
                          VXNNCommon::DisplayText(VXNNCommon::kIdentity)};
    // One row per output unit, with a bias unless the activations are
    // normalised (they then sum to 1, which plays the bias's part).
    shape.fWeights = s->GetNumOutUnits() * (centres + (normalized ? 0 : 1));
    shape.fError = "sum of squares";
    shape.fOverlap = s->GetOverlapFactor();
    return shape;
  }
  const auto* mlp = dynamic_cast<const MLPAlgorithm*>(&a);
  const NNetwork* net = mlp ? mlp->GetNetwork() : nullptr;
  if (!net) return shape;
  for (int l = 0; l <= net->GetNumLayers(); ++l) {
    const INLayer* layer = net->GetLayer(l);
    if (!layer) continue;
    shape.fUnits.push_back(layer->GetNumUnits());
    if (l > 0)
      shape.fActivations.push_back(VXNNCommon::DisplayText(layer->GetActivationFunction()));
  }
  shape.fWeights = net->GetNumWeights();
  shape.fError =
      net->GetErrorFunction() == VXNNCommon::kCrossEntropy ? "cross entropy" : "sum of squares";
  return shape;
}

std::string ShapeText(const Shape& s) {
  if (s.fUnits.size() < 2) return "no network";
  std::string t = Plural(s.fUnits.front(), "input unit") + ", ";
  if (s.fKind == NetworkKind::kRBF)
    return t + Plural(s.fUnits[1], "centre") + " (" + s.fActivations[0] + ", overlap factor " +
           General(s.fOverlap) + "), " + Plural(s.fUnits[2], "output unit") + " (" +
           s.fActivations[1] + "); " + Plural(s.fWeights, "output weight");
  const std::size_t hidden = s.fUnits.size() - 2;
  if (hidden == 0) t += "no hidden layer, ";
  for (std::size_t l = 1; l + 1 < s.fUnits.size(); ++l)
    t += "hidden layer " + (hidden > 1 ? std::to_string(l) + " " : std::string()) + "of " +
         Plural(s.fUnits[l], "unit") + " (" + s.fActivations[l - 1] + "), ";
  t += Plural(s.fUnits.back(), "output unit") + " (" + s.fActivations.back() + "); " +
       Plural(s.fWeights, "weight");
  return t;
}

std::string NetworkText(const Shape& s) { return Upper(KindName(s.fKind)) + ", " + ShapeText(s); }

void ShapeJson(JsonWriter& j, const Shape& s) {
  j.Key("network").BeginObject();
  j.Field("kind", KindName(s.fKind));
  j.Key("units_per_layer").BeginArray();
  for (int u : s.fUnits) j.Integer(u);
  j.EndArray();
  j.Key("activations").BeginArray();
  for (const auto& a : s.fActivations) j.String(a);
  j.EndArray();
  j.Field("weights", s.fWeights);
  j.Field("error_function", s.fError);
  if (s.fKind == NetworkKind::kRBF) {
    j.Field("centres", s.fUnits[1]);
    j.Field("overlap_factor", s.fOverlap);
  }
  j.EndObject();
}

}  // namespace vxnn
