// A layer of a multi-layer perceptron: fully connected to the layer below,
// with a bias per unit and one activation function (TanH, Sigmoid, SoftMax
// or Identity).
#pragma once

#include <cstdint>
#include <iosfwd>
#include <valarray>
#include <vector>

#include "vxneural/network/INLayer.h"

/// Weights are stored unit by unit, each unit's row holding its bias and then
/// one weight per unit of the lower layer: fNUnits x fNUnitsLower values,
/// the layout of the network's flat weight vector. An input layer (type 0)
/// has unit values only.
///
/// A SoftMax output layer works on groups of consecutive units whose lengths
/// are the output category counts, one group per target variable.
class MLPLayer : public INLayer {
 public:
  /// Input layer with no units, Identity, range 0..0; readers fill it.
  MLPLayer();
  /// type 0 Input, 1 Hidden, 2 Output. fNUnitsLower is lower's unit count + 1
  /// when the type is not 0 and lower is given, else 0. Weights start at 0.
  MLPLayer(int type, int units, INLayer* lower, VXNNCommon::ActivationFunction activation,
           double lo, double hi);
  /// The output form: outputCategories are the units per target variable.
  MLPLayer(int type, int units, INLayer* lower, VXNNCommon::ActivationFunction activation,
           const std::vector<int>& outputCategories, double lo, double hi);
  MLPLayer(const MLPLayer&) = delete;
  MLPLayer& operator=(const MLPLayer&) = delete;
  /// Destroys the layer (not the layer below).
  ~MLPLayer() override;

  int GetLayerType() const override { return fLayerType; }
  VXNNCommon::ActivationFunction GetActivationFunction() const override { return fActivFunc; }
  int GetNumUnits() const override { return fNUnits; }
  int GetNumUnitsLower() const override { return fNUnitsLower; }
  int GetNumWeights() const override { return static_cast<int>(fLayerWeights.size()); }
  void ResetAll() override;
  void ResetDerivatives() override;
  void ResetUnitValues() override;
  void SetUnitValues(const double* values, int n) override;
  double* GetUnitValues() override;
  double* GetWeights() override;
  void ComputeUnitValues(bool logOutputs) override;
  int SetWeights(const std::valarray<double>& v, int offset) override;
  int GetWeights(std::valarray<double>& v, int offset) const override;
  int RandomizeWeights(VXRandom& rng) override;
  int RandomizeWeights(VXRandom& rng, double lo, double hi) override;
  /// Hidden layer: appends a unit whose row is drawn from the layer's range.
  /// Output layer: appends one drawn weight to every row (a new lower unit).
  /// Other layers: 0, no change. Unit arrays and gradient are zeroed.
  int AddUnit(VXRandom& rng) override;
  /// Hidden layer: drops unit `unit`. Output layer: drops the weight of lower
  /// unit `unit` from every row. Input layer: 0, no change. An index out of
  /// range changes nothing and returns the current weight count.
  int RemoveUnit(int unit) override;
  /// An index out of range leaves nothing out.
  void ComputeUnitValuesWithout(int lowerUnit, bool logOutputs) override;
  /// Readers fail with "Error reading MLPLayer!\n" / "Failure reading
  /// MLPLayer!\n" on a wrong tag, a failed value or inconsistent counts, and
  /// leave the layer unchanged. The lower-layer link is not saved: the
  /// network's reader sets it again.
  int WriteObject(std::ostream& out) const override;
  int ReadObject(std::istream& in) override;
  int WriteObjectXML(std::ostream& out) const override;
  int ReadObjectXML(std::istream& in) override;
  /// Null for an input layer, or for an output layer and a target index
  /// outside its category counts.
  VXXML_1_2::XMLElement* CreatePMMLLayer(int firstNeuronId, bool withActivation, int targetIndex,
                                         int& nWeights) const override;
  void GetUnitParameters(int unit, std::vector<double>& params, double& extra) const override;
  void Display(std::ostream& out) const override;
  /// The weights, read without counting as a change (see GetWeightStamp).
  const double* GetWeightData() const override;

  /// The read-only unit values view of INLayer, next to the writable one.
  using INLayer::GetUnitValues;
  /// The read-only weights view of INLayer, next to the writable ones.
  using INLayer::GetWeights;

  /// The layer below (not owned); null for an input layer.
  INLayer* GetLowerLayer() const { return fLowerLayer; }
  /// Links the layer below without changing any count (network readers).
  void SetLowerLayer(INLayer* lower) { fLowerLayer = lower; }
  /// The low end of the range the weights are drawn from.
  double GetInitWeightLower() const { return fInitWeightLower; }
  /// The high end of the range the weights are drawn from.
  double GetInitWeightUpper() const { return fInitWeightUpper; }
  /// The units per target variable of an output layer; empty otherwise.
  const std::vector<int>& GetNOutputCategories() const { return fNOutputCategories; }
  /// Each unit's weighted sum (combination) before its activation, from the
  /// last forward pass.
  const std::valarray<double>& GetUnitCombinations() const { return fUnitCombinations; }
  /// Each unit's delta from the last back-propagation.
  const std::valarray<double>& GetDeltas() const { return fDeltas; }
  /// The gradient accumulated since the last ResetDerivatives, in the
  /// layout of the weights.
  const std::valarray<double>& GetAccumGradient() const { return fAccumGradient; }
  ///@{
  /// Copies the accumulated gradient into g[offset...] or back from it; each
  /// returns the count, or 0 (nothing copied) when g is too short.
  int GetGradient(std::valarray<double>& g, int offset) const;
  int SetGradient(const std::valarray<double>& g, int offset);
  ///@}
  /// A number that changes whenever the weights may have changed: on every
  /// operation that writes them and on every call of the writable
  /// GetWeights(), whose pointer may be written through until the layer is
  /// next read by a pass or a score. Stamps are unique across all layers of
  /// the process, so a layer that replaces another never repeats its stamp;
  /// scoring re-packs its copy of the weights only when a stamp moved.
  std::uint64_t GetWeightStamp() const { return fWeightStamp; }
  /// The accumulated gradient itself, for the blocked pass to add into.
  double* GetAccumGradientData();
  /// Sum of squares of the accumulated gradient.
  double GradientSumOfSquares() const;

  ///@{
  /// Back-propagation, driven by the network for one record after its
  /// forward pass. ComputeOutputDeltas sets the deltas of an output layer,
  /// (y - t) times the activation's derivative, with y = SafeExp(value) when
  /// the values are log-probabilities. BackPropagate adds this record's
  /// gradient (input times delta) and, when lower is given, adds the deltas
  /// into lower's deltas and multiplies them by its activation's derivative;
  /// lower is null when the layer below is the input layer.
  void ComputeOutputDeltas(const double* targets, bool logOutputs);
  void BackPropagate(MLPLayer* lower);
  ///@}

  /// The activation of a combination x, and its derivative expressed through
  /// the activation's value y. SoftMax is a group operation: its per-unit
  /// value is not defined here, and its derivative is 1.
  static double Activate(VXNNCommon::ActivationFunction f, double x);
  /// Inline: the blocked passes call it in their innermost loops.
  static double Derivative(VXNNCommon::ActivationFunction f, double y) {
    switch (f) {
      case VXNNCommon::kTanH:
        return (1.0 + y) * (1.0 - y);
      case VXNNCommon::kSigmoid:
        return (1.0 - y) * y;
      default:
        return 1.0;
    }
  }
  /// SoftMax of the combinations c[0..units) into y, group by group (groups
  /// are the units per target variable), as probabilities or, with
  /// logOutputs, their logarithms. c and y must not overlap.
  static void SoftMax(const double* c, double* y, int units, const std::vector<int>& groups,
                      bool logOutputs);

 private:
  void SizeArrays();
  void WeightsChanged();
  /// Combinations of every unit with the lower unit at weight index skip
  /// left out (skip beyond the row leaves nothing out), then the values.
  void Compute(int skip, bool logOutputs);
  void ApplySoftMax(bool logOutputs);
  void ScaleDeltasByDerivative();
  /// Takes the fields a reader has read and checked, and sizes the arrays.
  void Restore(int type, int units, int lower, VXNNCommon::ActivationFunction activation, double lo,
               double hi, const std::vector<double>& weights, std::vector<int> categories);

  int fLayerType;
  int fNUnits;
  int fNUnitsLower;
  VXNNCommon::ActivationFunction fActivFunc;
  double fInitWeightLower;
  double fInitWeightUpper;
  std::valarray<double> fLayerWeights;
  std::valarray<double> fUnitValues;
  std::valarray<double> fUnitCombinations;
  std::valarray<double> fDeltas;
  std::valarray<double> fAccumGradient;
  INLayer* fLowerLayer;
  std::vector<int> fNOutputCategories;
  std::uint64_t fWeightStamp = 0;
};
