// Settings of a radial basis function network: the common settings plus the
// centre overlap and the architecture-search range.
#pragma once

#include <iosfwd>
#include <vector>

#include "vxcommon/VXVarList.h"
#include "vxneural/algorithm/NeuralSettings.h"

class NNVarList;

/// The settings of a radial basis function network.
///
/// Saved forms: binary "RBFSet" block followed by the "NS" block; XML object
/// "RBFSettings" at level 1 with the "NeuralSettings" object nested. A failed
/// read writes "Error reading RBFSettings!\n" (or the message of the nested
/// object that failed) and throws a new VXNeural::IOException by pointer,
/// leaving the settings unchanged.
class RBFSettings : public NeuralSettings {
 public:
  /// Algorithm type RBF, hidden activation Normalized Radial Basis, output
  /// activation Identity, one-data-pass search; the rest zero until
  /// ReadObject fills it.
  RBFSettings();
  /// Settings for `inputs` input units and one entry per output variable in
  /// outputCategories (its category count, 1 for a continuous one): the common
  /// defaults, hidden activation Normalized Radial Basis, output activation
  /// Identity, overlap factor 0.1 x inputs + 1, search range 1 .. -1 (a
  /// maximum below the minimum: the search chooses its range), one-data-pass
  /// search.
  RBFSettings(int inputs, const std::vector<int>& outputCategories, int trainRecords);
  /// Inputs and output categories from the list; sets the variable-list flag.
  RBFSettings(const NNVarList& varList, int trainRecords);
  /// The same from the host's own list, converted (without correction) into a
  /// temporary list; a list that does not convert whole gives the settings of
  /// the variables that did.
  RBFSettings(const VXCommon_1_2::VXVarList& hostList, int trainRecords);
  /// Memberwise copy (the call-backs are shared, not owned).
  RBFSettings(const RBFSettings&) = default;
  /// Memberwise assignment (the call-backs are shared, not owned).
  RBFSettings& operator=(const RBFSettings&) = default;
  /// Owns nothing beyond its members.
  ~RBFSettings() override;

  /// An RBF network has one hidden layer: whatever layer is given, sets the
  /// size of layer 1, then recomputes the weight count.
  void SetNumHiddenUnits(int units, int layer) override;
  /// Writes the binary "RBFSet" block, then the "NS" block; returns the
  /// bytes written.
  int WriteObject(std::ostream& out) const override;
  /// Reads the binary form; returns the bytes read (failure: see the class
  /// comment).
  int ReadObject(std::istream& in) override;
  /// Writes the XML object "RBFSettings".
  int WriteObjectXML(std::ostream& out) const override;
  /// Reads the XML object "RBFSettings" (failure: see the class comment).
  int ReadObjectXML(std::istream& in) override;
  /// A readable listing of every field, the common ones included.
  void Display(std::ostream& out) const override;

  /// The factor the hidden units' widths are multiplied by (the centres'
  /// overlap).
  double GetOverlapFactor() const { return fOverlapFactor; }
  /// Sets the overlap factor, unchecked.
  void SetOverlapFactor(double v) { fOverlapFactor = v; }
  /// The output layer's weights only, as last computed: output units x
  /// hidden units with the Normalized Radial Basis, output units x (hidden
  /// units + 1) with Radial Basis (a bias per output). These are the weights
  /// the least-squares solve fits. The centres' coordinates and the widths,
  /// placed by clustering, are not counted here; the network's own count
  /// (NNetwork::GetNumWeights) adds inputs + 1 per centre in use. Saved with
  /// the settings and read back as saved.
  int GetNWeights() const { return fNWeights; }
  /// Recomputes the count GetNWeights returns from the first hidden layer's
  /// size, the output units and the hidden activation (SetNumHiddenUnits
  /// calls it; SetActivFnHiddenLayer does not).
  void ComputeNWeights();
  /// The smallest hidden-unit count the search tries (1 by default).
  int GetMinNHiddenUnits() const { return fMinNHiddenUnits; }
  /// The largest hidden-unit count the search tries; below the minimum (-1
  /// by default) the search chooses its range itself.
  int GetMaxNHiddenUnits() const { return fMaxNHiddenUnits; }
  /// Sets the search range, unchecked.
  void SetNHiddenUnitsRange(int min, int max) {
    fMinNHiddenUnits = min;
    fMaxNHiddenUnits = max;
  }
  /// True (the default): the search gathers every candidate's least-squares
  /// sums in one data pass; false: a pass per candidate.
  bool GetExpertOneDataPass() const { return fbExpertOneDataPass; }
  /// Sets whether the search uses one data pass.
  void SetExpertOneDataPass(bool v) { fbExpertOneDataPass = v; }

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
