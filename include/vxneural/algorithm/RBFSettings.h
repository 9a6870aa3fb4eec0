// Settings of a radial basis function network: the common settings plus the
// centre overlap and the architecture-search range.
#pragma once

#include <iosfwd>
#include <vector>

#include "vxcommon/VXVarList.h"
#include "vxneural/algorithm/NeuralSettings.h"

class NNVarList;

/// Saved forms: binary "RBFSet" block followed by the "NS" block; XML object
/// "RBFSettings" at level 1 with the "NeuralSettings" object nested. A failed
/// read writes "Error reading RBFSettings!\n" (or the message of the nested
/// object that failed) and throws a new VXNeural::IOException by pointer,
/// leaving the settings unchanged.
class RBFSettings : public NeuralSettings {
 public:
  ///@{
  /// Algorithm type RBF, hidden activation Normalized Radial Basis, output
  /// activation Identity, one-data-pass search; the rest zero until
  /// ReadObject fills it.
  RBFSettings();
  RBFSettings(int inputs, const std::vector<int>& outputCategories, int trainRecords);
  ///@}
  /// Inputs and output categories from the list; sets the variable-list flag.
  RBFSettings(const NNVarList& varList, int trainRecords);
  /// The same from the host's own list, converted (without correction) into a
  /// temporary list; a list that does not convert whole gives the settings of
  /// the variables that did.
  RBFSettings(const VXCommon_1_2::VXVarList& hostList, int trainRecords);
  RBFSettings(const RBFSettings&) = default;
  RBFSettings& operator=(const RBFSettings&) = default;
  ~RBFSettings() override;

  /// An RBF network has one hidden layer: whatever layer is given, sets the
  /// size of layer 1, then recomputes the weight count.
  void SetNumHiddenUnits(int units, int layer) override;
  int WriteObject(std::ostream& out) const override;
  int ReadObject(std::istream& in) override;
  int WriteObjectXML(std::ostream& out) const override;
  int ReadObjectXML(std::istream& in) override;
  void Display(std::ostream& out) const override;

  double GetOverlapFactor() const { return fOverlapFactor; }
  void SetOverlapFactor(double v) { fOverlapFactor = v; }
  int GetNWeights() const { return fNWeights; }
  void ComputeNWeights();
  ///@{
  /// -1 as maximum leaves the upper end to the search.
  int GetMinNHiddenUnits() const { return fMinNHiddenUnits; }
  int GetMaxNHiddenUnits() const { return fMaxNHiddenUnits; }
  void SetNHiddenUnitsRange(int min, int max) {
    fMinNHiddenUnits = min;
    fMaxNHiddenUnits = max;
  ///@}
  }
  ///@{
  /// True: the search estimates all candidate weight sets in one data pass.
  bool GetExpertOneDataPass() const { return fbExpertOneDataPass; }
  void SetExpertOneDataPass(bool v) { fbExpertOneDataPass = v; }
  ///@}

 private:
  /// The output activation of an RBF network is fixed.
  void SetActivFnOutputLayer(VXNNCommon::ActivationFunction f) override;
  void SetRBFDefaults();
  template <typename Out>
  void PutFields(Out& out) const;
  template <typename In>
  void GetFields(In& in);

  double fOverlapFactor = 0.0;
  int fNWeights = 0;
  int fMinNHiddenUnits = 0;
  int fMaxNHiddenUnits = 0;
  bool fbExpertOneDataPass = true;
};
