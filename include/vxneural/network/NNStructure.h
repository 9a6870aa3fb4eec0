// The read-only picture of a network that a host can browse (to draw it, or
// to list its weights): its layers and, for every unit, the variable it
// stands for, the category, the parameters and the width. It is a copy: it
// holds no reference to the network it was built from.
#pragma once

#include <string>
#include <vector>

#include "vxneural/VXNNCommon.h"

class NNVarList;

// The data of a structure view. Layer 0 is the input layer, the last the
// output layer.
//
// Input layer: for an MLP, unit 0 is the bias unit; then one unit per
// continuous input (category -1) or one per category of a categorical input
// (categories 0, 1, ...), in list order.
// Hidden layers: unit 0 is the bias unit when the layer above uses one
// (always for an MLP; for an RBF network over RadialBasis units), then one
// unit per network unit with its parameters (an MLP unit's weight row, bias
// first; an RBF unit's centre) and its width (RBF only).
// Output layer: one unit per continuous target or per category of a
// categorical one, in list order, with its weight row as parameters.
//
// Putting every bias unit first makes a unit's parameter j belong to unit j
// of the layer below, in every layer of either kind of network.
class NNStructImp {
 public:
  struct Unit {
    std::string fName;
    int fCatNum = -1;
    double fWidth = 0.0;
    std::vector<double> fParameters;
  };
  using Layer = std::vector<Unit>;

  NNStructImp() = default;

  VXNNCommon::AlgorithmType fAlgorithmType = VXNNCommon::kMLP;
  VXNNCommon::ActivationFunction fActivFnHidden = VXNNCommon::kIdentity;
  VXNNCommon::ActivationFunction fActivFnOutput = VXNNCommon::kIdentity;
  VXNNCommon::Standardization fStandInputs = VXNNCommon::kNoStandardization;
  VXNNCommon::Standardization fStandOutputs = VXNNCommon::kNoStandardization;
  // Not owned: the list the view was built from.
  const NNVarList* fVarList = nullptr;
  std::vector<Layer> fLayers;
};

// A handle around one owned NNStructImp (none: an empty structure). Every
// accessor answers safely on an empty structure or an index out of range,
// with the neutral value its comment gives.
class NNStructure {
 public:
  NNStructure() = default;
  // Takes ownership; null gives an empty structure.
  explicit NNStructure(NNStructImp* imp) : fImp(imp) {}
  NNStructure(const NNStructure& other);
  NNStructure& operator=(const NNStructure& other);
  ~NNStructure();

  bool IsEmpty() const { return fImp == nullptr; }
  // MLP (1) when empty.
  VXNNCommon::AlgorithmType GetAlgorithmType() const;
  // Identity (3) when empty.
  VXNNCommon::ActivationFunction GetActivFnHiddenLayer() const;
  VXNNCommon::ActivationFunction GetActivFnOutputLayer() const;
  // 0 when empty.
  VXNNCommon::Standardization GetStandInputs() const;
  VXNNCommon::Standardization GetStandOutputs() const;
  int GetNumLayers() const;
  // Null when empty. Not a copy: the list of the algorithm that built the
  // structure, valid while that algorithm lives (the names and categories
  // of the units are copies and stay valid).
  const NNVarList* GetVariableList() const;
  // 0, 0.0, "", -1 and an empty vector for a bad index.
  int GetNumUnits(int layer) const;
  double GetWidth(int layer, int unit) const;
  std::string GetVariableName(int layer, int unit) const;
  int GetVariableCatNum(int layer, int unit) const;
  const std::vector<double>& GetVecParm(int layer, int unit) const;
  // A unit with no name and no parameters; false for a bad index.
  bool IsBiasUnit(int layer, int unit) const;

 private:
  const NNStructImp::Unit* UnitAt(int layer, int unit) const;

  NNStructImp* fImp = nullptr;
};
