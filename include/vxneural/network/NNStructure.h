// The read-only picture of a network that a host can browse (to draw it, or
// to list its weights): its layers and, for every unit, the variable it
// stands for, the category, the parameters and the width. It is a copy: it
// holds no reference to the network it was built from.
#pragma once

#include <string>
#include <vector>

#include "vxneural/VXNNCommon.h"

class NNVarList;

/// The data of a structure view. Layer 0 is the input layer, the last the
/// output layer.
///
/// Input layer: for an MLP, unit 0 is the bias unit; then one unit per
/// continuous input (category -1) or one per category of a categorical input
/// (categories 0, 1, ...), in list order.
/// Hidden layers: unit 0 is the bias unit when the layer above uses one
/// (always for an MLP; for an RBF network over RadialBasis units), then one
/// unit per network unit with its parameters (an MLP unit's weight row, bias
/// first; an RBF unit's centre) and its width (RBF only).
/// Output layer: one unit per continuous target or per category of a
/// categorical one, in list order, with its weight row as parameters.
///
/// Putting every bias unit first makes a unit's parameter j belong to unit j
/// of the layer below, in every layer of either kind of network.
class NNStructImp {
 public:
  /// One unit of a layer.
  struct Unit {
    std::string fName;                ///< The variable it stands for; "" for none.
    int fCatNum = -1;                 ///< Its category; -1 for none.
    double fWidth = 0.0;              ///< Its width (RBF hidden units only).
    std::vector<double> fParameters;  ///< Its weight row or centre; empty for none.
  };
  /// The units of one layer, in order.
  using Layer = std::vector<Unit>;

  /// An MLP with no layers.
  NNStructImp() = default;

  VXNNCommon::AlgorithmType fAlgorithmType = VXNNCommon::kMLP;  ///< MLP or RBF.
  /// The hidden layers' activation.
  VXNNCommon::ActivationFunction fActivFnHidden = VXNNCommon::kIdentity;
  /// The output layer's activation.
  VXNNCommon::ActivationFunction fActivFnOutput = VXNNCommon::kIdentity;
  /// The inputs' standardization.
  VXNNCommon::Standardization fStandInputs = VXNNCommon::kNoStandardization;
  /// The targets' standardization.
  VXNNCommon::Standardization fStandOutputs = VXNNCommon::kNoStandardization;
  /// Not owned: the list the view was built from.
  const NNVarList* fVarList = nullptr;
  /// Layer 0 (input) to the output layer.
  std::vector<Layer> fLayers;
};

/// A handle around one owned NNStructImp (none: an empty structure). Every
/// accessor answers safely on an empty structure or an index out of range,
/// with the neutral value its comment gives.
class NNStructure {
 public:
  /// An empty structure.
  NNStructure() = default;
  /// Takes ownership; null gives an empty structure.
  explicit NNStructure(NNStructImp* imp) : fImp(imp) {}
  /// A deep copy of the data.
  NNStructure(const NNStructure& other);
  /// A deep copy of the data.
  NNStructure& operator=(const NNStructure& other);
  /// Deletes the owned data.
  ~NNStructure();

  /// True when the handle holds no data.
  bool IsEmpty() const { return fImp == nullptr; }
  /// MLP (1) when empty.
  VXNNCommon::AlgorithmType GetAlgorithmType() const;
  ///@{
  /// The hidden (output) layers' activation; Identity (3) when empty.
  VXNNCommon::ActivationFunction GetActivFnHiddenLayer() const;
  VXNNCommon::ActivationFunction GetActivFnOutputLayer() const;
  ///@}
  ///@{
  /// The inputs' (targets') standardization; 0 when empty.
  VXNNCommon::Standardization GetStandInputs() const;
  VXNNCommon::Standardization GetStandOutputs() const;
  ///@}
  /// The number of layers, the input layer included; 0 when empty.
  int GetNumLayers() const;
  /// Null when empty. Not a copy: the list of the algorithm that built the
  /// structure, valid while that algorithm lives (the names and categories
  /// of the units are copies and stay valid).
  const NNVarList* GetVariableList() const;
  /// The units of the layer; 0 for a bad index.
  int GetNumUnits(int layer) const;
  /// The unit's width (RBF hidden units); 0.0 for a bad index.
  double GetWidth(int layer, int unit) const;
  /// The name of the variable the unit stands for; "" for a bad index.
  std::string GetVariableName(int layer, int unit) const;
  /// The unit's category; -1 for a bad index.
  int GetVariableCatNum(int layer, int unit) const;
  /// The unit's parameters; an empty vector for a bad index.
  const std::vector<double>& GetVecParm(int layer, int unit) const;
  /// A unit with no name and no parameters; false for a bad index.
  bool IsBiasUnit(int layer, int unit) const;

 private:
  const NNStructImp::Unit* UnitAt(int layer, int unit) const;

  NNStructImp* fImp = nullptr;
};
