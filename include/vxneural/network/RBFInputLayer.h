// The input layer of a radial basis function network: it holds the encoded
// input values of the current record and has no weights.
#pragma once

#include <iosfwd>
#include <valarray>
#include <vector>

#include "vxneural/network/INLayer.h"

/// Saved forms: binary "RBFInp" and the unit count (10 bytes); XML object
/// "RBFInputLayer" with the unit count. Readers fail with "Error reading
/// RBFInputLayer!\n" / "Failure reading RBFInputLayer!\n" and leave the
/// layer unchanged.
class RBFInputLayer : public INLayer {
 public:
  /// No units; readers fill it.
  RBFInputLayer();
  /// units encoded inputs, all 0.
  explicit RBFInputLayer(int units);
  RBFInputLayer(const RBFInputLayer&) = delete;
  RBFInputLayer& operator=(const RBFInputLayer&) = delete;
  ~RBFInputLayer() override;

  int GetLayerType() const override { return VXNNCommon::kInputLayer; }
  VXNNCommon::ActivationFunction GetActivationFunction() const override {
    return VXNNCommon::kIdentity;
  }
  int GetNumUnits() const override { return fNUnits; }
  int GetNumUnitsLower() const override { return 0; }
  int GetNumWeights() const override { return 0; }
  void ResetAll() override { ResetUnitValues(); }
  void ResetDerivatives() override { ResetUnitValues(); }
  void ResetUnitValues() override;
  void SetUnitValues(const double* values, int n) override;
  double* GetUnitValues() override;
  /// The empty weight array: null.
  double* GetWeights() override { return nullptr; }
  void ComputeUnitValues(bool) override {}
  int SetWeights(const std::valarray<double>&, int) override { return 0; }
  int GetWeights(std::valarray<double>&, int) const override { return 0; }
  int RandomizeWeights(VXRandom&) override { return 0; }
  int RandomizeWeights(VXRandom&, double, double) override { return 0; }
  int AddUnit(VXRandom&) override { return 0; }
  int RemoveUnit(int) override { return 0; }
  void ComputeUnitValuesWithout(int, bool) override {}
  int WriteObject(std::ostream& out) const override;
  int ReadObject(std::istream& in) override;
  int WriteObjectXML(std::ostream& out) const override;
  int ReadObjectXML(std::istream& in) override;
  /// No element: null, nWeights 0.
  VXXML_1_2::XMLElement* CreatePMMLLayer(int firstNeuronId, bool withActivation, int targetIndex,
                                         int& nWeights) const override;
  /// params emptied, extra 0.
  void GetUnitParameters(int unit, std::vector<double>& params, double& extra) const override;
  void Display(std::ostream& out) const override;
  const double* GetWeightData() const override { return nullptr; }

  /// The read-only unit values view of INLayer, next to the writable one.
  using INLayer::GetUnitValues;
  /// The read-only weights view of INLayer, next to the writable ones.
  using INLayer::GetWeights;

 private:
  int fNUnits;
  std::valarray<double> fUnitValues;
};
