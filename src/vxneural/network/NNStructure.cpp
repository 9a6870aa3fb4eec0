#include "vxneural/network/NNStructure.h"

#include <cstddef>
#include <memory>

#include "vxneural/algorithm/NeuralSettings.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/RBFOutputLayer.h"
#include "vxneural/variables/NNVarList.h"

NNStructure::NNStructure(const NNStructure& other)
    : fImp(other.fImp ? new NNStructImp(*other.fImp) : nullptr) {}

NNStructure& NNStructure::operator=(const NNStructure& other) {
  if (this != &other) {
    NNStructImp* copy = other.fImp ? new NNStructImp(*other.fImp) : nullptr;
    delete fImp;
    fImp = copy;
  }
  return *this;
}

NNStructure::~NNStructure() { delete fImp; }

VXNNCommon::AlgorithmType NNStructure::GetAlgorithmType() const {
  return fImp ? fImp->fAlgorithmType : VXNNCommon::kMLP;
}

VXNNCommon::ActivationFunction NNStructure::GetActivFnHiddenLayer() const {
  return fImp ? fImp->fActivFnHidden : VXNNCommon::kIdentity;
}

VXNNCommon::ActivationFunction NNStructure::GetActivFnOutputLayer() const {
  return fImp ? fImp->fActivFnOutput : VXNNCommon::kIdentity;
}

VXNNCommon::Standardization NNStructure::GetStandInputs() const {
  return fImp ? fImp->fStandInputs : VXNNCommon::kNoStandardization;
}

VXNNCommon::Standardization NNStructure::GetStandOutputs() const {
  return fImp ? fImp->fStandOutputs : VXNNCommon::kNoStandardization;
}

int NNStructure::GetNumLayers() const { return fImp ? static_cast<int>(fImp->fLayers.size()) : 0; }

const NNVarList* NNStructure::GetVariableList() const { return fImp ? fImp->fVarList : nullptr; }

int NNStructure::GetNumUnits(int layer) const {
  if (layer < 0 || layer >= GetNumLayers()) return 0;
  return static_cast<int>(fImp->fLayers[static_cast<std::size_t>(layer)].size());
}

const NNStructImp::Unit* NNStructure::UnitAt(int layer, int unit) const {
  if (unit < 0 || unit >= GetNumUnits(layer)) return nullptr;
  return &fImp->fLayers[static_cast<std::size_t>(layer)][static_cast<std::size_t>(unit)];
}

double NNStructure::GetWidth(int layer, int unit) const {
  const NNStructImp::Unit* u = UnitAt(layer, unit);
  return u ? u->fWidth : 0.0;
}

std::string NNStructure::GetVariableName(int layer, int unit) const {
  const NNStructImp::Unit* u = UnitAt(layer, unit);
  return u ? u->fName : std::string();
}

int NNStructure::GetVariableCatNum(int layer, int unit) const {
  const NNStructImp::Unit* u = UnitAt(layer, unit);
  return u ? u->fCatNum : -1;
}

const std::vector<double>& NNStructure::GetVecParm(int layer, int unit) const {
  static const std::vector<double> kNone;
  const NNStructImp::Unit* u = UnitAt(layer, unit);
  return u ? u->fParameters : kNone;
}

bool NNStructure::IsBiasUnit(int layer, int unit) const {
  const NNStructImp::Unit* u = UnitAt(layer, unit);
  return u != nullptr && u->fName.empty() && u->fParameters.empty();
}

NNStructImp* NNetwork::CreateStructure(const NNVarList& list) const {
  auto imp = std::make_unique<NNStructImp>();
  const bool mlp = fAlgorithmType != VXNNCommon::kRBF;
  imp->fAlgorithmType = mlp ? VXNNCommon::kMLP : VXNNCommon::kRBF;
  imp->fVarList = &list;
  if (fSettings != nullptr) {
    imp->fStandInputs = fSettings->GetStandInputs();
    imp->fStandOutputs = fSettings->GetStandOutputs();
  }
  if (fLayers.empty()) return imp.release();
  imp->fActivFnHidden = fLayers[fLayers.size() - 2]->GetActivationFunction();
  imp->fActivFnOutput = OutputLayer()->GetActivationFunction();
  imp->fLayers.resize(fLayers.size());

  // The units of every variable of one role, in list order.
  auto variableUnits = [&list](INNVariable::VariableRole role, NNStructImp::Layer& units) {
    for (unsigned i = 0; i < list.Size(); ++i) {
      const INNVariable* var = list.GetVarAt(static_cast<int>(i));
      if (var->GetVariableRole() != role) continue;
      NNStructImp::Unit unit;
      unit.fName = var->GetVariableName();
      if (var->GetMeasureLevel() == INNVariable::kContinuous) {
        units.push_back(unit);
        continue;
      }
      for (int c = 0; c < var->GetNumberOfCategories(); ++c) {
        unit.fCatNum = c;
        units.push_back(unit);
      }
    }
  };
  // The network's own units of a layer, after the units already there.
  auto networkUnits = [](const INLayer& layer, NNStructImp::Layer& units) {
    const std::size_t first = units.size();
    units.resize(first + static_cast<std::size_t>(layer.GetNumUnits()));
    for (int j = 0; j < layer.GetNumUnits(); ++j) {
      NNStructImp::Unit& unit = units[first + static_cast<std::size_t>(j)];
      layer.GetUnitParameters(j, unit.fParameters, unit.fWidth);
    }
  };

  if (mlp) imp->fLayers.front().emplace_back();
  variableUnits(INNVariable::kInput, imp->fLayers.front());
  const auto* rbfOutput = dynamic_cast<const RBFOutputLayer*>(OutputLayer());
  const bool hiddenBias = mlp || (rbfOutput != nullptr && rbfOutput->HasBias());
  for (std::size_t l = 1; l + 1 < fLayers.size(); ++l) {
    if (hiddenBias) imp->fLayers[l].emplace_back();
    networkUnits(*fLayers[l], imp->fLayers[l]);
  }
  NNStructImp::Layer& outputs = imp->fLayers.back();
  variableUnits(INNVariable::kOutput, outputs);
  // The output units are the target units in the same order; a list that
  // does not fit the network keeps the units it names and no more.
  for (std::size_t k = 0;
       k < outputs.size() && k < static_cast<std::size_t>(OutputLayer()->GetNumUnits()); ++k) {
    double width = 0.0;
    OutputLayer()->GetUnitParameters(static_cast<int>(k), outputs[k].fParameters, width);
  }
  return imp.release();
}
