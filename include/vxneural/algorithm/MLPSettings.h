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

/// The settings of a multi-layer perceptron.
///
/// Saved forms: binary "MLPSet" block (its values, the stop rules' block, the
/// "NS" block); XML object "MLPSettings" at level 1 with the stop rules and the
/// "NeuralSettings" object nested. A failed read writes
/// "Error reading MLPSettings!\n" (or the message of the nested object that
/// failed) and throws a new VXNeural::IOException by pointer, leaving the
/// settings unchanged.
class MLPSettings : public NeuralSettings {
 public:
  /// Algorithm type MLP and default stop rules; the MLP parameters are zero
  /// until ReadObject fills them.
  MLPSettings();
  /// Settings for `inputs` input units and one entry per output variable in
  /// outputCategories (its category count, 1 for a continuous one): the common
  /// defaults, then the MLP's (SetDefaults; learning rate 0.4, lowest 0.001,
  /// momentum 0.9, 10 epochs, hidden-unit range 1 to 50, update type
  /// MiniBatch).
  MLPSettings(int inputs, const std::vector<int>& outputCategories, int trainRecords);
  /// Inputs and output categories from the list; sets the variable-list flag.
  MLPSettings(const NNVarList& varList, int trainRecords);
  /// The same from the host's own list, converted (without correction) into a
  /// temporary list; a list that does not convert whole gives the settings of
  /// the variables that did.
  MLPSettings(const VXCommon_1_2::VXVarList& hostList, int trainRecords);
  /// Memberwise copy (the call-backs are shared, not owned).
  MLPSettings(const MLPSettings&) = default;
  /// Memberwise assignment (the call-backs are shared, not owned).
  MLPSettings& operator=(const MLPSettings&) = default;
  /// Owns nothing beyond its members.
  ~MLPSettings() override;

  /// Stores the units (no range check; a layer that does not exist is
  /// ignored), sets the user flag, then recomputes the weight count, the
  /// default mini-batch size and the default data-pass limit.
  void SetNumHiddenUnits(int units, int layer) override;
  /// The base rule; Identity on a network without hidden layer also selects
  /// linear regression.
  void SetActivFnOutputLayer(VXNNCommon::ActivationFunction f) override;
  /// Stores n, and lowers the mini-batch size to n when it is larger.
  void SetMaxRecordsInMemory(long n) override;
  /// Stores n, and lowers the mini-batch size to n when it is larger.
  void SetNTrainRecords(int n) override;
  /// The lower end of the range of random initial weights (-0.5 by default).
  double GetRandomWeightRangeLo() const override { return fRandomWeightRangeLo; }
  /// The upper end of the range of random initial weights (0.5 by default).
  double GetRandomWeightRangeHi() const override { return fRandomWeightRangeHi; }
  /// Writes the binary "MLPSet" block; returns the bytes written.
  int WriteObject(std::ostream& out) const override;
  /// Reads the binary "MLPSet" block; returns the bytes read (failure: see the
  /// class comment).
  int ReadObject(std::istream& in) override;
  /// Writes the XML object "MLPSettings".
  int WriteObjectXML(std::ostream& out) const override;
  /// Reads the XML object "MLPSettings" (failure: see the class comment).
  int ReadObjectXML(std::istream& in) override;
  /// A readable listing of every field, the common ones included.
  void Display(std::ostream& out) const override;

  /// Method parameters, weight range, stop rules, mini-batch size and
  /// data-pass limit back to their defaults; training method SCG, type Batch.
  /// Learning-rate, momentum, epochs, decay and hidden-unit range stay.
  void SetDefaults();

  /// Keeps the sizes of the first min(n, old) layers; a new first layer gets
  /// the default first-layer size, every new layer after it the default
  /// second-layer size. With hidden layers, linear regression becomes
  /// gradient descent (non-batch types) or SCG; without any, Identity outputs
  /// select linear regression. Negative n, or the current count, is ignored.
  /// Then recomputes the default mini-batch size and, unless the user set
  /// it, the data-pass limit, from the weight count as last computed: this
  /// call does not recompute the weight count. A host that wants the
  /// defaults to follow the new layout then sets a layer's size with
  /// SetNumHiddenUnits, which recomputes the weight count and both defaults.
  void SetNumHiddenLayers(int n);

  /// The correction applied to continuous statistics when a factory converts
  /// the host's variable list (0 by default).
  double GetCorrection() const { return fCorrection; }
  /// Sets the correction of the host-list conversion.
  void SetCorrection(double c) { fCorrection = c; }
  /// No check.
  void SetRandomWeightRange(double lo, double hi) {
    fRandomWeightRangeLo = lo;
    fRandomWeightRangeHi = hi;
  }

  /// Scaled conjugate gradient (the default), gradient descent or linear
  /// regression.
  VXNNCommon::MLPTrainingMethod GetTrainingMethod() const { return fTrainingMethod; }
  /// SCG only with Batch; linear regression only without hidden layer and with
  /// Identity outputs; gradient descent with any type. A refused pair changes
  /// neither. Either way a non-batch type becomes the update type too, and the
  /// default mini-batch size is recomputed.
  void SetTrainingMethodAndType(VXNNCommon::MLPTrainingMethod method,
                                VXNNCommon::TrainingType type);
  /// The training type of an update (Update on new records).
  VXNNCommon::TrainingType GetUpdateType() const { return fUpdateType; }
  /// Accepted only under training type Batch and for Batch or MiniBatch.
  void SetUpdateType(VXNNCommon::TrainingType t);
  /// Records per mini-batch; 0 when neither training nor update uses mini-batches.
  int GetMiniBatchSize() const { return fMiniBatchSize; }
  /// Accepted only for 2 <= n <= records in memory and n <= training records.
  void SetMiniBatchSize(int n);
  /// True once SetMiniBatchSize has accepted a size (defaults are then not
  /// recomputed).
  bool GetUserSetMiniBatchSize() const { return fbUserSetMiniBatch; }
  /// The network's weight count as last computed (saturates at INT32_MAX).
  int GetNWeights() const { return fNWeights; }
  /// Recomputes the weight count from the layer sizes, biases included.
  void ComputeNWeights();
  /// Recomputes the default mini-batch size unless one was set by the user:
  /// for MiniBatch training a tenth of the training records (rounded up), for a
  /// MiniBatch update twice the weights; never more than the records in memory.
  void ComputeDefaultMinibatchSize();

  // Scaled conjugate gradient.
  /// Scaled conjugate gradient: the initial lambda (5e-7 by default).
  double GetLambdaInit() const { return fLambdaInit; }
  /// Sets the initial lambda of scaled conjugate gradient.
  void SetLambdaInit(double v) { fLambdaInit = v; }
  /// Scaled conjugate gradient: sigma0, the step of the curvature probe
  /// (divided by the direction's norm; 5e-5 by default).
  double GetSigmaInit() const { return fSigmaInit; }
  /// Sets sigma0 of scaled conjugate gradient.
  void SetSigmaInit(double v) { fSigmaInit = v; }
  /// Scaled conjugate gradient: a comparison ratio at or above it reduces
  /// lambda (0.75 by default).
  double GetUpperDelta() const { return fUpperDelta; }
  /// Sets the upper comparison threshold of scaled conjugate gradient.
  void SetUpperDelta(double v) { fUpperDelta = v; }
  /// Scaled conjugate gradient: a comparison ratio below it raises lambda
  /// (0.25 by default).
  double GetLowerDelta() const { return fLowerDelta; }
  /// Sets the lower comparison threshold of scaled conjugate gradient.
  void SetLowerDelta(double v) { fLowerDelta = v; }
  /// Scaled conjugate gradient: the factor lambda is multiplied by when it is
  /// reduced (0.25 by default).
  double GetLambdaReduction() const { return fLambdaReduction; }
  /// Sets the lambda reduction factor of scaled conjugate gradient.
  void SetLambdaReduction(double v) { fLambdaReduction = v; }

  // Gradient descent with momentum.
  /// Gradient descent: the initial learning rate (0.4 by default).
  double GetEtaInit() const { return fEtaInit; }
  /// Sets the initial learning rate.
  void SetEtaInit(double v) { fEtaInit = v; }
  /// Gradient descent: the lowest learning rate, which the mini-batch rate
  /// decays to and updates use (0.001 by default).
  double GetEtaLow() const { return fEtaLow; }
  /// Sets the lowest learning rate.
  void SetEtaLow(double v) { fEtaLow = v; }
  /// Gradient descent: a highest learning rate (0.15 by default). Kept so
  /// that saved models keep their form: it has its place in both saved forms
  /// and is read back, but no optimizer reads it: it bounds no learning
  /// rate.
  double GetEtaHigh() const { return fEtaHigh; }
  /// Sets the highest learning rate.
  void SetEtaHigh(double v) { fEtaHigh = v; }
  /// Gradient descent: the momentum (0.9 by default).
  double GetAlpha() const { return fAlpha; }
  /// Sets the momentum.
  void SetAlpha(double v) { fAlpha = v; }
  /// Gradient descent: the momentum reduction factor (0.9 by default).
  double GetAlphaReduction() const { return fAlphaReduction; }
  /// Sets the momentum reduction factor.
  void SetAlphaReduction(double v) { fAlphaReduction = v; }
  /// Gradient descent: the epochs over which the mini-batch learning rate
  /// decays from the initial to the lowest rate (10 by default).
  double GetNEpochs() const { return fNEpochs; }
  /// Sets the epochs of the learning-rate decay.
  void SetNEpochs(double v) { fNEpochs = v; }
  /// Gradient descent: an initial decay factor (0.02 by default). Kept so
  /// that saved models keep their form: it has its place in both saved forms
  /// and is read back, but no optimizer reads it (the learning-rate decay of
  /// mini-batch training follows from GetEtaInit, GetEtaLow and GetNEpochs).
  double GetBetaInit() const { return fBetaInit; }
  /// Sets the initial decay factor.
  void SetBetaInit(double v) { fBetaInit = v; }

  /// The smallest hidden-unit count the architecture search tries (1 by
  /// default).
  int GetMinNHiddenUnits() const { return fMinNHiddenUnits; }
  /// The largest hidden-unit count the architecture search tries (50 by default).
  int GetMaxNHiddenUnits() const { return fMaxNHiddenUnits; }
  /// Sets the architecture search range (no check).
  void SetNHiddenUnitsRange(int min, int max) {
    fMinNHiddenUnits = min;
    fMaxNHiddenUnits = max;
  }

  /// The settings' own stop rules.
  MLPStopRules* GetStopRules() { return &fStopRules; }
  /// The settings' own stop rules.
  const MLPStopRules* GetStopRules() const { return &fStopRules; }
  /// Copies the values of the given rules; rules of another kind, or null,
  /// are ignored.
  void SetStopRules(INNStopRules* rules);
  /// Copies the values of other's stop rules.
  void CopyStopRules(const MLPSettings& other) { fStopRules = other.fStopRules; }

  /// The stop rules' value of the same name (MLPStopRules).
  double GetMinRelativeChangeError() const { return fStopRules.GetMinRelativeChangeError(); }
  /// Sets the stop rules' value of the same name (MLPStopRules).
  void SetMinRelativeChangeError(double v) { fStopRules.SetMinRelativeChangeError(v); }
  /// The stop rules' value of the same name (MLPStopRules).
  double GetMinErrorRatio() const { return fStopRules.GetMinErrorRatio(); }
  /// Sets the stop rules' value of the same name (MLPStopRules).
  void SetMinErrorRatio(double v) { fStopRules.SetMinErrorRatio(v); }
  /// The stop rules' value of the same name (MLPStopRules).
  double GetGradientNormLimit() const { return fStopRules.GetGradientNormLimit(); }
  /// Sets the stop rules' value of the same name (MLPStopRules).
  void SetGradientNormLimit(double v) { fStopRules.SetGradientNormLimit(v); }
  /// The stop rules' value of the same name (MLPStopRules).
  int GetMaxNDataPasses() const { return fStopRules.GetMaxNDataPasses(); }
  /// Sets the stop rules' value of the same name (MLPStopRules).
  void SetMaxNDataPasses(int v) { fStopRules.SetMaxNDataPasses(v); }
  /// The stop rules' value of the same name (MLPStopRules).
  int GetMaxNStepsTrackError() const { return fStopRules.GetMaxNStepsTrackError(); }
  /// Sets the stop rules' value of the same name (MLPStopRules).
  void SetMaxNStepsTrackError(int v) { fStopRules.SetMaxNStepsTrackError(v); }
  /// The stop rules' value of the same name (MLPStopRules).
  double GetMaxTime() const { return fStopRules.GetMaxTime(); }
  /// Sets the stop rules' value of the same name (MLPStopRules).
  void SetMaxTime(double v) { fStopRules.SetMaxTime(v); }
  /// The stop rules' value of the same name (MLPStopRules).
  bool GetCheckTrainErrVerifyingCycle() const {
    return fStopRules.GetCheckTrainErrVerifyingCycle();
  }
  /// Sets the stop rules' value of the same name (MLPStopRules).
  void SetCheckTrainErrVerifyingCycle(bool v) { fStopRules.SetCheckTrainErrVerifyingCycle(v); }
  /// The stop rules' value of the same name (MLPStopRules).
  double GetAccuracy() const { return fStopRules.GetAccuracy(); }
  /// Sets the stop rules' value of the same name (MLPStopRules).
  void SetAccuracy(double v) { fStopRules.SetAccuracy(v); }
  /// The stop rules' value of the same name (MLPStopRules).
  double GetTimeForExpertArch() const { return fStopRules.GetTimeForExpertArch(); }
  /// Sets the stop rules' value of the same name (MLPStopRules).
  void SetTimeForExpertArch(double v) { fStopRules.SetTimeForExpertArch(v); }

  /// True when other differs in anything that shapes or initialises the
  /// network or its optimizer, so that a network built for one cannot serve
  /// the other.
  bool NeedNewNetwork(const MLPSettings& other) const;

 private:
  void SetAll();
  /// The data-pass limit derived from the weight count, unless user-set.
  void ComputeDefaultMaxDataPasses() { fStopRules.ComputeDefaultMaxDataPasses(fNWeights); }
  /// The MLP's own stored fields in their saved order, for either saved form.
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
