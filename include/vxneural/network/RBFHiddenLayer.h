// The hidden layer of a radial basis function network: one cluster centre
// and one width per unit, Gaussian activations, plain or normalised to sum
// to 1.
#pragma once

#include <iosfwd>
#include <valarray>
#include <vector>

#include "vxneural/network/INLayer.h"

/// Unit j has a centre c_j (one coordinate per input) and an adjusted
/// variance a_j, the square of its width. Its activation for inputs x is
/// exp(-0.5 * sum_i (x_i - c_ji)^2 / a_j) (RadialBasis), or those values
/// divided by their sum (NormalizedRadialBasis), computed relative to the
/// largest exponent so that a point far from every centre still gets
/// activations that sum to 1.
///
/// Only the first GetNumCenters() units are in use: the forward pass, the
/// weight vector and the export cover them alone; units above keep their
/// values.
///
/// Widths are placed in two steps. The centre placement fills the centres
/// and the per-input variance vectors (already multiplied by the overlap
/// factor; PrepareVarianceVectors makes room for them), then
/// ComputeAdjustedVariances turns each unit's vector into a_j and drops the
/// vectors. A trained layer holds no variance vectors.
///
/// Weight vector (SetWeights / GetWeights(v, offset)): the centres of units
/// 0 .. GetNumCenters() - 1, then their adjusted variances, (inputs + 1) *
/// GetNumCenters() values. The layer is never trained by gradients: AddUnit,
/// RemoveUnit and ComputeUnitValuesWithout do nothing.
///
/// Saved forms: binary "RBFHid", units, inputs, activation, centres in use,
/// their centres, the number V of variance vectors and either (V > 0) the
/// variance vectors of the units in use or (V = 0) their adjusted variances;
/// XML object "RBFHiddenLayer" with the same values. Readers fail with
/// "Error reading RBFHiddenLayer!\n" / "Failure reading RBFHiddenLayer!\n"
/// and leave the layer unchanged.
class RBFHiddenLayer : public INLayer {
 public:
  /// The form readers fill: no units, NormalizedRadialBasis, fallback
  /// variance 1. lower (not owned) must outlive the layer.
  explicit RBFHiddenLayer(INLayer* lower);
  /// units units over lower (not owned), activation RadialBasis or
  /// NormalizedRadialBasis; every unit gets a centre and a variance vector
  /// of lower->GetNumUnits() values, all 0 until placed; GetNumCenters() =
  /// units; no adjusted variances yet.
  RBFHiddenLayer(int units, INLayer* lower, VXNNCommon::ActivationFunction activation);
  RBFHiddenLayer(const RBFHiddenLayer&) = delete;
  RBFHiddenLayer& operator=(const RBFHiddenLayer&) = delete;
  ~RBFHiddenLayer() override;

  int GetLayerType() const override { return VXNNCommon::kHiddenLayer; }
  VXNNCommon::ActivationFunction GetActivationFunction() const override { return fActivFunc; }
  int GetNumUnits() const override { return fNUnits; }
  /// The number of inputs (no bias).
  int GetNumUnitsLower() const override { return fNUnitsLower; }
  /// (inputs + 1) * GetNumCenters().
  int GetNumWeights() const override;
  void ResetAll() override { ResetUnitValues(); }
  void ResetDerivatives() override { ResetUnitValues(); }
  void ResetUnitValues() override;
  void SetUnitValues(const double*, int) override {}
  double* GetUnitValues() override;
  /// The empty weight array: null. Use GetWeights(v, offset) or the centre
  /// accessors.
  double* GetWeights() override { return nullptr; }
  /// The flag is not used. A unit in use without an adjusted variance (before
  /// the width computation) takes the fallback variance as its a_j.
  void ComputeUnitValues(bool logOutputs) override;
  /// Both return (inputs + 1) * GetNumCenters(), or 0 (nothing copied) when v
  /// is too short.
  int SetWeights(const std::valarray<double>& v, int offset) override;
  int GetWeights(std::valarray<double>& v, int offset) const override;
  /// RandomizeWeights(rng, 0, 1).
  int RandomizeWeights(VXRandom& rng) override;
  /// Prepares the variance vectors when there are none; draws every centre
  /// coordinate (unit by unit), then every variance entry, each lo + draw *
  /// (hi - lo); then computes the adjusted variances. Returns 2 * inputs *
  /// units.
  int RandomizeWeights(VXRandom& rng, double lo, double hi) override;
  int AddUnit(VXRandom&) override { return 0; }
  int RemoveUnit(int) override { return 0; }
  void ComputeUnitValuesWithout(int, bool) override {}
  int WriteObject(std::ostream& out) const override;
  int ReadObject(std::istream& in) override;
  int WriteObjectXML(std::ostream& out) const override;
  int ReadObjectXML(std::istream& in) override;
  /// "NeuralLayer" with "radialBasis" units ("simplemax" normalisation when
  /// normalised), one "Neuron" per centre in use with its width and one
  /// "Con" per input carrying the centre coordinate. nWeights counts the
  /// "Con" elements. withActivation and targetIndex are not used.
  VXXML_1_2::XMLElement* CreatePMMLLayer(int firstNeuronId, bool withActivation, int targetIndex,
                                         int& nWeights) const override;
  /// Centre j and its width sqrt(a_j) (the fallback variance standing in for
  /// a_j before the width computation); an index outside the centres empties
  /// params and gives 0.
  void GetUnitParameters(int unit, std::vector<double>& params, double& extra) const override;
  void Display(std::ostream& out) const override;
  const double* GetWeightData() const override { return nullptr; }

  /// The read-only unit values view of INLayer, next to the writable one.
  using INLayer::GetUnitValues;
  /// The read-only weights view of INLayer, next to the writable ones.
  using INLayer::GetWeights;

  // --- Centre placement ---------------------------------------------------

  /// Sets the number of centres in use (clamped to 0 .. GetNumUnits()) and
  /// returns the centre list (GetNumUnits() vectors of inputs values each)
  /// for the caller to fill. Their sizes must not be changed.
  std::vector<std::vector<double>>& SetNumCenters(int k);
  /// The number of centres in use (units 0 .. GetNumCenters() - 1).
  int GetNumCenters() const { return fNCenters; }
  /// Every unit's centre, in use or not: GetNumUnits() vectors of inputs
  /// values each.
  const std::vector<std::vector<double>>& GetCenters() const { return fCenters; }
  /// Stores v when v > 0; 0, negative values and NaN keep the old value, so
  /// the width computation never produces a zero width from it.
  void SetFallbackVariance(double v);
  /// The variance a unit without an adjusted variance uses (1 for a new
  /// layer read by a reader).
  double GetFallbackVariance() const { return fFallbackVariance; }
  /// When there are no variance vectors: empties the adjusted variances and
  /// makes one vector of inputs values (0) per unit. Existing vectors are
  /// kept as they are. Returns the list for the caller to fill (per-input
  /// variance times the overlap factor).
  std::vector<std::vector<double>>& PrepareVarianceVectors();
  /// Empty when there are none (always after the width computation).
  const std::vector<std::vector<double>>& GetVarianceVectors() const { return fVarianceVectors; }
  /// The width computation: a_j = the mean of unit j's variance vector
  /// (negative entries counted as 0); a zero mean takes the smallest
  /// non-zero mean, or the fallback variance when every mean is 0. Then the
  /// variance vectors are dropped. Without variance vectors, nothing
  /// happens.
  void ComputeAdjustedVariances();
  /// a_j, one per unit (empty before the width computation).
  const std::vector<double>& GetAdjustedVariances() const { return fAdjustedVariances; }
  /// The variance a_j a forward pass divides by: the adjusted variance, or
  /// the fallback variance when unit j has none.
  double GetUnitVariance(int j) const;
  /// Resizes the layer to k units (k >= 0), all in use; centres (and variance
  /// vectors or adjusted variances, whichever the layer holds) are made anew
  /// with 0 values for the centre placement to fill. Resizing to the current
  /// size changes nothing.
  void Resize(int k);
  /// The input layer below (not owned).
  INLayer* GetLowerLayer() const { return fLowerLayer; }
  /// Links the layer below without changing any count (network readers).
  void SetLowerLayer(INLayer* lower) { fLowerLayer = lower; }

 private:
  struct Saved;
  /// lowerUnits: the linked lower layer's units, -1 when unlinked;
  /// valuesLeft: how many more values the stream could hold.
  template <typename Reader>
  static Saved ReadSaved(Reader& r, int lowerUnits, std::size_t valuesLeft);
  void Adopt(Saved& saved);
  template <typename Writer>
  void PutFields(Writer& w) const;

  int fNUnits;
  int fNUnitsLower;
  VXNNCommon::ActivationFunction fActivFunc;
  double fFallbackVariance;
  INLayer* fLowerLayer;
  std::valarray<double> fUnitValues;
  int fNCenters;
  std::vector<std::vector<double>> fCenters;
  std::vector<std::vector<double>> fVarianceVectors;
  std::vector<double> fAdjustedVariances;
  /// Working array of the normalised forward pass, sized with the units.
  std::valarray<double> fExponents;
};
