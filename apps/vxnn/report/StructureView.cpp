#include "report/StructureView.h"

#include <string>

namespace vxnn {
namespace {

const char* LayerRole(const NNStructure& s, int layer) {
  if (layer == 0) return "input";
  return layer + 1 == s.GetNumLayers() ? "output" : "hidden";
}

int BiasUnits(const NNStructure& s, int layer) {
  int n = 0;
  for (int u = 0; u < s.GetNumUnits(layer); ++u) n += s.IsBiasUnit(layer, u) ? 1 : 0;
  return n;
}

// "petal_length", "species[2]" (the category number), "bias", or "" for a
// hidden unit.
std::string UnitName(const NNStructure& s, int layer, int unit) {
  if (s.IsBiasUnit(layer, unit)) return "bias";
  std::string name = s.GetVariableName(layer, unit);
  const int category = s.GetVariableCatNum(layer, unit);
  if (category >= 0) name += "[" + std::to_string(category) + "]";
  return name;
}

bool IsRbfHidden(const NNStructure& s, int layer) {
  return s.GetAlgorithmType() == VXNNCommon::kRBF && layer > 0 && layer + 1 < s.GetNumLayers();
}

}  // namespace

void PrintStructure(std::ostream& out, const NNStructure& s, bool weights) {
  if (s.IsEmpty()) {
    out << "\nStructure: not available (the model is not trained)\n";
    return;
  }
  out << "\nStructure: " << VXNNCommon::DisplayText(s.GetAlgorithmType()) << ", "
      << s.GetNumLayers() << " layers; hidden activation "
      << VXNNCommon::DisplayText(s.GetActivFnHiddenLayer()) << ", output activation "
      << VXNNCommon::DisplayText(s.GetActivFnOutputLayer()) << "\n";
  const auto precision = out.precision(6);
  for (int l = 0; l < s.GetNumLayers(); ++l) {
    out << "  layer " << l << " (" << LayerRole(s, l) << "): " << s.GetNumUnits(l) << " units";
    if (const int bias = BiasUnits(s, l)) out << " (" << bias << " bias)";
    out << "\n";
    if (!weights) continue;
    for (int u = 0; u < s.GetNumUnits(l); ++u) {
      out << "    unit " << u;
      const std::string name = UnitName(s, l, u);
      if (!name.empty()) out << " " << name;
      const auto& parameters = s.GetVecParm(l, u);
      if (!parameters.empty()) {
        out << (IsRbfHidden(s, l) ? ": centre" : ": weights");
        for (double p : parameters) out << " " << p;
      }
      if (IsRbfHidden(s, l) && !parameters.empty()) out << "; width " << s.GetWidth(l, u);
      out << "\n";
    }
  }
  out.precision(precision);
}

void WriteStructureJson(JsonWriter& j, const NNStructure& s, bool weights) {
  j.Key("structure");
  if (s.IsEmpty()) {
    j.Null();
    return;
  }
  j.BeginObject();
  j.Field("algorithm", VXNNCommon::DisplayText(s.GetAlgorithmType()));
  j.Field("hidden_activation", VXNNCommon::DisplayText(s.GetActivFnHiddenLayer()));
  j.Field("output_activation", VXNNCommon::DisplayText(s.GetActivFnOutputLayer()));
  j.Key("layers").BeginArray();
  for (int l = 0; l < s.GetNumLayers(); ++l) {
    j.BeginObject();
    j.Field("role", LayerRole(s, l));
    j.Field("units", s.GetNumUnits(l));
    j.Field("bias_units", BiasUnits(s, l));
    if (weights) {
      j.Key("unit_list").BeginArray();
      for (int u = 0; u < s.GetNumUnits(l); ++u) {
        j.BeginObject();
        j.Field("bias", s.IsBiasUnit(l, u));
        if (!s.GetVariableName(l, u).empty()) j.Field("field", s.GetVariableName(l, u));
        if (s.GetVariableCatNum(l, u) >= 0) j.Field("category", s.GetVariableCatNum(l, u));
        const auto& parameters = s.GetVecParm(l, u);
        if (!parameters.empty()) {
          j.Key(IsRbfHidden(s, l) ? "centre" : "weights").BeginArray();
          for (double p : parameters) j.Number(p);
          j.EndArray();
          if (IsRbfHidden(s, l)) j.Field("width", s.GetWidth(l, u));
        }
        j.EndObject();
      }
      j.EndArray();
    }
    j.EndObject();
  }
  j.EndArray();
  j.EndObject();
}

}  // namespace vxnn
