// The output layer of a radial basis function network: plain weighted sums
// of the hidden activations, without an activation function of its own.
#pragma once

#include <iosfwd>
#include <valarray>
#include <vector>

#include "vxneural/network/INLayer.h"

class RBFHiddenLayer;

/// Weights are stored row by row, one row per output unit. Over a
/// NormalizedRadialBasis hidden layer a row holds one weight per hidden unit
/// (the activations sum to 1, so a bias would be redundant); over a
/// RadialBasis hidden layer it holds the bias and then one weight per hidden
/// unit. The units of target t are consecutive and start at the sum of the
/// category counts before t. Hidden units at or above the hidden layer's
/// number of centres contribute nothing.
///
/// The weights are solved by least squares, not by gradients: AddUnit,
/// RemoveUnit and ComputeUnitValuesWithout do nothing.
///
/// Saved forms: binary "RBFOut", units, hidden units, the hidden activation,
/// the weight count and weights, the category count and counts; XML object
/// "RBFOutputLayer" with the same values. Readers fail with "Error reading
/// RBFOutputLayer!\n" / "Failure reading RBFOutputLayer!\n" and leave the
/// layer unchanged.
class RBFOutputLayer : public INLayer {
 public:
  /// The form readers fill: no units, NormalizedRadialBasis. lower (not
  /// owned) must outlive the layer.
  explicit RBFOutputLayer(INLayer* lower);
  /// units outputs over lower (not owned, normally an RBFHiddenLayer, whose
  /// unit count and activation are taken), weights 0; outputCategories are
  /// the units per target variable.
  RBFOutputLayer(int units, INLayer* lower, const std::vector<int>& outputCategories);
  RBFOutputLayer(const RBFOutputLayer&) = delete;
  RBFOutputLayer& operator=(const RBFOutputLayer&) = delete;
  ~RBFOutputLayer() override;

  int GetLayerType() const override { return VXNNCommon::kOutputLayer; }
  VXNNCommon::ActivationFunction GetActivationFunction() const override {
    return VXNNCommon::kIdentity;
  }
  int GetNumUnits() const override { return fNUnits; }
  /// The number of hidden units (no bias).
  int GetNumUnitsLower() const override { return fNUnitsLower; }
  int GetNumWeights() const override { return static_cast<int>(fLayerWeights.size()); }
  void ResetAll() override;
  void ResetDerivatives() override { ResetUnitValues(); }
  void ResetUnitValues() override;
  void SetUnitValues(const double*, int) override {}
  double* GetUnitValues() override;
  double* GetWeights() override;
  /// The flag is not used.
  void ComputeUnitValues(bool logOutputs) override;
  int SetWeights(const std::valarray<double>& v, int offset) override;
  int GetWeights(std::valarray<double>& v, int offset) const override;
  /// RandomizeWeights(rng, 0, 1).
  int RandomizeWeights(VXRandom& rng) override;
  int RandomizeWeights(VXRandom& rng, double lo, double hi) override;
  int AddUnit(VXRandom&) override { return 0; }
  int RemoveUnit(int) override { return 0; }
  void ComputeUnitValuesWithout(int, bool) override {}
  int WriteObject(std::ostream& out) const override;
  int ReadObject(std::istream& in) override;
  int WriteObjectXML(std::ostream& out) const override;
  int ReadObjectXML(std::istream& in) override;
  /// The output neurons of target targetIndex (for the last target, every
  /// remaining unit), with "bias" over RadialBasis units and one "Con" per
  /// hidden unit in use. Null for a target index outside the category list.
  VXXML_1_2::XMLElement* CreatePMMLLayer(int firstNeuronId, bool withActivation, int targetIndex,
                                         int& nWeights) const override;
  /// Row k of the weights (bias first when present), extra 0; an index
  /// outside the units empties params.
  void GetUnitParameters(int unit, std::vector<double>& params, double& extra) const override;
  void Display(std::ostream& out) const override;
  const double* GetWeightData() const override;

  /// The read-only unit values view of INLayer, next to the writable one.
  using INLayer::GetUnitValues;
  /// The read-only weights view of INLayer, next to the writable ones.
  using INLayer::GetWeights;

  /// Weights per row: k (normalised hidden units) or k + 1 (with the bias).
  static int RowLength(VXNNCommon::ActivationFunction hidden, int k);
  /// This layer's weights per row, RowLength for its hidden activation and
  /// hidden unit count.
  int GetRowLength() const { return RowLength(fActivFuncHidden, fNUnitsLower); }
  /// True when each row starts with a bias (the hidden units are not
  /// normalised).
  bool HasBias() const { return fActivFuncHidden != VXNNCommon::kNormalizedRadialBasis; }
  /// When k differs from the hidden unit count, the weights are resized for
  /// k hidden units and all set to 0; then the count becomes k.
  void SetNumUnitsLower(int k);
  /// The hidden layer's activation, which decides the bias.
  VXNNCommon::ActivationFunction GetActivFuncHidden() const { return fActivFuncHidden; }
  /// The units per target variable.
  const std::vector<int>& GetNOutputCategories() const { return fNOutputCategories; }
  /// The hidden layer below (not owned).
  INLayer* GetLowerLayer() const { return fLowerLayer; }
  /// Links the layer below without changing any count (network readers).
  void SetLowerLayer(INLayer* lower);

 private:
  struct Saved;
  template <typename Reader>
  static Saved ReadSaved(Reader& r);
  void Adopt(Saved& saved);
  template <typename Writer>
  void PutFields(Writer& w) const;

  int fNUnits;
  int fNUnitsLower;
  VXNNCommon::ActivationFunction fActivFuncHidden;
  INLayer* fLowerLayer;
  /// fLowerLayer as a hidden layer (null when it is not one), for its number
  /// of centres in use.
  const RBFHiddenLayer* fHidden;
  std::valarray<double> fUnitValues;
  std::valarray<double> fLayerWeights;
  std::vector<int> fNOutputCategories;
};
