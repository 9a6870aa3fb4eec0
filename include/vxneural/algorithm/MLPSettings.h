// Settings of a multi-layer perceptron: the common settings plus the
// training-method parameters, the architecture-search range and the stop
// rules.
#pragma once

#include <iosfwd>
#include <vector>

#include "vxcommon/VXVarList.h"
#include "vxneural/algorithm/MLPStopRules.h"
#include "vxneural/algorithm/NeuralSettings.h"

class NNVarList;

// Saved forms: binary "MLPSet" block (its values, the stop rules' block, the
// "NS" block); XML object "MLPSettings" at level 1 with the stop rules and the
// "NeuralSettings" object nested. A failed read writes
// "Error reading MLPSettings!\n" (or the message of the nested object that
// failed) and throws a new VXNeural::IOException by pointer, leaving the
// settings unchanged.
class MLPSettings : public NeuralSettings {
 public:
  // Algorithm type MLP and default stop rules; the MLP parameters are zero
  // until ReadObject fills them.
  MLPSettings();
  MLPSettings(int inputs, const std::vector<int>& outputCategories, int trainRecords);
  // Inputs and output categories from the list; sets the variable-list flag.
  MLPSettings(const NNVarList& varList, int trainRecords);
  // The same from the host's own list, converted (without correction) into a
  // temporary list; a list that does not convert whole gives the settings of
  // the variables that did.
  MLPSettings(const VXCommon_1_2::VXVarList& hostList, int trainRecords);
  MLPSettings(const MLPSettings&) = default;
  MLPSettings& operator=(const MLPSettings&) = default;
  ~MLPSettings() override;

  // Stores the units (no range check; a layer that does not exist is
  // ignored), sets the user flag, then recomputes the weight count, the
  // default mini-batch size and the default data-pass limit.
  void SetNumHiddenUnits(int units, int layer) override;
  // The base rule; Identity on a network without hidden layer also selects
  // linear regression.
  void SetActivFnOutputLayer(VXNNCommon::ActivationFunction f) override;
  // Both lower the mini-batch size to n when it is larger.
  void SetMaxRecordsInMemory(long n) override;
  void SetNTrainRecords(int n) override;
  double GetRandomWeightRangeLo() const override { return fRandomWeightRangeLo; }
  double GetRandomWeightRangeHi() const override { return fRandomWeightRangeHi; }
  int WriteObject(std::ostream& out) const override;
  int ReadObject(std::istream& in) override;
  int WriteObjectXML(std::ostream& out) const override;
  int ReadObjectXML(std::istream& in) override;
  void Display(std::ostream& out) const override;

  // Method parameters, weight range, stop rules, mini-batch size and
  // data-pass limit back to their defaults; training method SCG, type Batch.
  // Learning-rate, momentum, epochs, decay and hidden-unit range stay.
  void SetDefaults();

  // Keeps the sizes of the first min(n, old) layers and gives new first and
  // second layers their default sizes. Does not recompute the weight count.
  void SetNumHiddenLayers(int n);

  double GetCorrection() const { return fCorrection; }
  void SetCorrection(double c) { fCorrection = c; }
  // No check.
  void SetRandomWeightRange(double lo, double hi) {
    fRandomWeightRangeLo = lo;
    fRandomWeightRangeHi = hi;
  }

  VXNNCommon::MLPTrainingMethod GetTrainingMethod() const { return fTrainingMethod; }
  // SCG only with Batch; linear regression only without hidden layer and with
  // Identity outputs; gradient descent with any type. A refused pair changes
  // neither.
  void SetTrainingMethodAndType(VXNNCommon::MLPTrainingMethod method,
                                VXNNCommon::TrainingType type);
  VXNNCommon::TrainingType GetUpdateType() const { return fUpdateType; }
  // Accepted only under training type Batch and for Batch or MiniBatch.
  void SetUpdateType(VXNNCommon::TrainingType t);
  int GetMiniBatchSize() const { return fMiniBatchSize; }
  // Accepted only for 2 <= n <= records in memory and n <= training records.
  void SetMiniBatchSize(int n);
  bool GetUserSetMiniBatchSize() const { return fbUserSetMiniBatch; }
  int GetNWeights() const { return fNWeights; }
  void ComputeNWeights();
  void ComputeDefaultMinibatchSize();

  // Scaled conjugate gradient.
  double GetLambdaInit() const { return fLambdaInit; }
  void SetLambdaInit(double v) { fLambdaInit = v; }
  double GetSigmaInit() const { return fSigmaInit; }
  void SetSigmaInit(double v) { fSigmaInit = v; }
  double GetUpperDelta() const { return fUpperDelta; }
  void SetUpperDelta(double v) { fUpperDelta = v; }
  double GetLowerDelta() const { return fLowerDelta; }
  void SetLowerDelta(double v) { fLowerDelta = v; }
  double GetLambdaReduction() const { return fLambdaReduction; }
  void SetLambdaReduction(double v) { fLambdaReduction = v; }

  // Gradient descent with momentum.
  double GetEtaInit() const { return fEtaInit; }
  void SetEtaInit(double v) { fEtaInit = v; }
  double GetEtaLow() const { return fEtaLow; }
  void SetEtaLow(double v) { fEtaLow = v; }
  double GetEtaHigh() const { return fEtaHigh; }
  void SetEtaHigh(double v) { fEtaHigh = v; }
  double GetAlpha() const { return fAlpha; }
  void SetAlpha(double v) { fAlpha = v; }
  double GetAlphaReduction() const { return fAlphaReduction; }
  void SetAlphaReduction(double v) { fAlphaReduction = v; }
  double GetNEpochs() const { return fNEpochs; }
  void SetNEpochs(double v) { fNEpochs = v; }
  double GetBetaInit() const { return fBetaInit; }
  void SetBetaInit(double v) { fBetaInit = v; }

  // Architecture search range, no check.
  int GetMinNHiddenUnits() const { return fMinNHiddenUnits; }
  int GetMaxNHiddenUnits() const { return fMaxNHiddenUnits; }
  void SetNHiddenUnitsRange(int min, int max) {
    fMinNHiddenUnits = min;
    fMaxNHiddenUnits = max;
  }

  MLPStopRules* GetStopRules() { return &fStopRules; }
  const MLPStopRules* GetStopRules() const { return &fStopRules; }
  // Copies the values of the given rules; rules of another kind, or null,
  // are ignored.
  void SetStopRules(INNStopRules* rules);
  void CopyStopRules(const MLPSettings& other) { fStopRules = other.fStopRules; }

  double GetMinRelativeChangeError() const { return fStopRules.GetMinRelativeChangeError(); }
  void SetMinRelativeChangeError(double v) { fStopRules.SetMinRelativeChangeError(v); }
  double GetMinErrorRatio() const { return fStopRules.GetMinErrorRatio(); }
  void SetMinErrorRatio(double v) { fStopRules.SetMinErrorRatio(v); }
  double GetGradientNormLimit() const { return fStopRules.GetGradientNormLimit(); }
  void SetGradientNormLimit(double v) { fStopRules.SetGradientNormLimit(v); }
  int GetMaxNDataPasses() const { return fStopRules.GetMaxNDataPasses(); }
  void SetMaxNDataPasses(int v) { fStopRules.SetMaxNDataPasses(v); }
  int GetMaxNStepsTrackError() const { return fStopRules.GetMaxNStepsTrackError(); }
  void SetMaxNStepsTrackError(int v) { fStopRules.SetMaxNStepsTrackError(v); }
  double GetMaxTime() const { return fStopRules.GetMaxTime(); }
  void SetMaxTime(double v) { fStopRules.SetMaxTime(v); }
  bool GetCheckTrainErrVerifyingCycle() const {
    return fStopRules.GetCheckTrainErrVerifyingCycle();
  }
  void SetCheckTrainErrVerifyingCycle(bool v) { fStopRules.SetCheckTrainErrVerifyingCycle(v); }
  double GetAccuracy() const { return fStopRules.GetAccuracy(); }
  void SetAccuracy(double v) { fStopRules.SetAccuracy(v); }
  double GetTimeForExpertArch() const { return fStopRules.GetTimeForExpertArch(); }
  void SetTimeForExpertArch(double v) { fStopRules.SetTimeForExpertArch(v); }

  // True when other differs in anything that shapes or initialises the
  // network or its optimizer, so that a network built for one cannot serve
  // the other.
  bool NeedNewNetwork(const MLPSettings& other) const;

 private:
  void SetAll();
  // The data-pass limit derived from the weight count, unless user-set.
  void ComputeDefaultMaxDataPasses() { fStopRules.ComputeDefaultMaxDataPasses(fNWeights); }
  // The MLP's own stored fields in their saved order, for either saved form.
  template <typename Out>
  void PutFields(Out& out) const;
  template <typename In>
  void GetFields(In& in);

  double fCorrection = 0.0;
  double fRandomWeightRangeLo = 0.0;
  double fRandomWeightRangeHi = 0.0;
  VXNNCommon::MLPTrainingMethod fTrainingMethod = VXNNCommon::kScaledConjugateGradient;
  VXNNCommon::TrainingType fUpdateType = VXNNCommon::kBatch;
  int fMiniBatchSize = 0;
  bool fbUserSetMiniBatch = false;
  int fNWeights = 0;
  double fLambdaInit = 0.0;
  double fSigmaInit = 0.0;
  double fUpperDelta = 0.0;
  double fLowerDelta = 0.0;
  double fLambdaReduction = 0.0;
  double fEtaInit = 0.0;
  double fEtaLow = 0.0;
  double fEtaHigh = 0.0;
  double fAlpha = 0.0;
  double fAlphaReduction = 0.0;
  double fNEpochs = 0.0;
  double fBetaInit = 0.0;
  int fMinNHiddenUnits = 0;
  int fMaxNHiddenUnits = 0;
  MLPStopRules fStopRules;
};
