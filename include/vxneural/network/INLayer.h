// The layer interface of NNetwork: one layer of units with the weights that
// connect it to the layer below. MLP networks use MLPLayer; RBF networks use
// their own input, hidden and output layers.
#pragma once

#include <iosfwd>
#include <valarray>
#include <vector>

#include "vxneural/VXNNCommon.h"

class VXRandom;
namespace VXXML_1_2 {
class XMLElement;
}

/// A layer above the input keeps a non-owning pointer to the layer below it,
/// which must outlive it; the network that owns both links them. Unit values
/// returned by GetUnitValues stay valid until the layer is resized (AddUnit,
/// RemoveUnit, ReadObject, ReadObjectXML).
///
/// The virtual operations are declared in a fixed order that every
/// implementation keeps; do not reorder them.
class INLayer {
 public:
  /// Destroys the layer (never the layer below it).
  virtual ~INLayer() = default;

  /// 0 Input, 1 Hidden, 2 Output, 3 RBFLayer (VXNNCommon::LayerType).
  virtual int GetLayerType() const = 0;
  /// The activation function the layer's units apply.
  virtual VXNNCommon::ActivationFunction GetActivationFunction() const = 0;
  /// The number of units of the layer (no bias unit counted).
  virtual int GetNumUnits() const = 0;
  /// Units below plus one for the bias; 0 for an input layer.
  virtual int GetNumUnitsLower() const = 0;
  /// Length of the layer's weight array.
  virtual int GetNumWeights() const = 0;
  /// ResetDerivatives, then the weights to 0.
  virtual void ResetAll() = 0;
  /// ResetUnitValues, then the accumulated gradient to 0.
  virtual void ResetDerivatives() = 0;
  /// Unit values, unit combinations and deltas to 0. Back-propagation adds
  /// into the deltas, so this must run before every record.
  virtual void ResetUnitValues() = 0;
  /// Copies min(n, GetNumUnits()) values into the unit values.
  virtual void SetUnitValues(const double* values, int n) = 0;
  /// The unit values, GetNumUnits() of them, writable.
  virtual double* GetUnitValues() = 0;
  /// The weight array, GetNumWeights() values, writable: calling it counts
  /// as a change of the weights.
  virtual double* GetWeights() = 0;
  /// Forward pass of this layer from the lower layer's unit values. A SoftMax
  /// output layer stores log-probabilities when logOutputs is true.
  virtual void ComputeUnitValues(bool logOutputs) = 0;
  /// Copies GetNumWeights() values from v[offset...]; returns that count, or
  /// 0 (nothing copied) when v is too short.
  virtual int SetWeights(const std::valarray<double>& v, int offset) = 0;
  /// Copies the weights into v[offset...]; returns the count, or 0 (nothing
  /// copied) when v is too short.
  virtual int GetWeights(std::valarray<double>& v, int offset) const = 0;
  /// RandomizeWeights with the layer's own range.
  virtual int RandomizeWeights(VXRandom& rng) = 0;
  /// Every weight, in storage order, becomes draw * (hi - lo) + lo; returns
  /// the number of weights drawn.
  virtual int RandomizeWeights(VXRandom& rng, double lo, double hi) = 0;
  /// Grows a hidden layer by one unit, or an output layer by one lower unit;
  /// returns the new weight count.
  virtual int AddUnit(VXRandom& rng) = 0;
  /// The inverse of AddUnit for the given unit; returns the new weight count.
  virtual int RemoveUnit(int unit) = 0;
  /// ComputeUnitValues with lower unit lowerUnit left out of every sum.
  virtual void ComputeUnitValuesWithout(int lowerUnit, bool logOutputs) = 0;
  /// Binary save; returns the bytes written.
  virtual int WriteObject(std::ostream& out) const = 0;
  /// Binary restore; returns the bytes read. Throws a new
  /// VXNeural::IOException by pointer on a malformed stream.
  virtual int ReadObject(std::istream& in) = 0;
  /// XML save; returns the number of values written.
  virtual int WriteObjectXML(std::ostream& out) const = 0;
  /// XML restore; returns the number of values read. Throws as ReadObject
  /// does.
  virtual int ReadObjectXML(std::istream& in) = 0;
  /// The PMML "NeuralLayer" element of this layer, owned by the caller (null
  /// when the layer has none); nWeights receives the number of biases and
  /// connection weights written.
  virtual VXXML_1_2::XMLElement* CreatePMMLLayer(int firstNeuronId, bool withActivation,
                                                 int targetIndex, int& nWeights) const = 0;
  /// The parameters of one unit (for an MLP layer its weight row, bias first)
  /// and one extra value; params is emptied when the unit has none.
  virtual void GetUnitParameters(int unit, std::vector<double>& params, double& extra) const = 0;
  /// A readable listing of the layer, for diagnostics.
  virtual void Display(std::ostream& out) const = 0;
  /// The weight array for reading only. Unlike the writable GetWeights(),
  /// which counts as a change of the weights (its pointer may be written
  /// through), this leaves every packed copy of them valid. Last, so that
  /// the slots above keep their places.
  virtual const double* GetWeightData() const = 0;

  ///@{
  /// Read-only views of the two array slots; neither counts as a change.
  const double* GetUnitValues() const { return const_cast<INLayer*>(this)->GetUnitValues(); }
  const double* GetWeights() const { return GetWeightData(); }
  ///@}

  /// e^x, or the missing value (VXMV::gMissingValue) when e^x would overflow.
  static double SafeExp(double x);
  /// The largest argument whose exponential is taken: 1024 ln 2.
  static constexpr double kMaxExpArgument = 709.782712893384;
};
