// Stop thresholds of a training run. The settings hold one set; the
// optimizers read them at the start of each run.
#pragma once

#include <iosfwd>

/// The abstract stop-rule object the settings and the algorithms pass around.
class INNStopRules {
 public:
  virtual ~INNStopRules() = default;
  virtual int WriteObject(std::ostream& out) const = 0;
  virtual int ReadObject(std::istream& in) = 0;
  virtual int WriteObjectXML(std::ostream& out) const = 0;
  virtual int ReadObjectXML(std::istream& in) = 0;
  virtual void Display(std::ostream& out) const = 0;
};

/// Thresholds of the MLP optimizers. The setters store without checking.
/// Binary record: "MLPStR" and eleven values, 70 bytes. XML: an object named
/// "MLPStopRules" nested in the settings. A failed read writes
/// "Error reading MLPStopRules!\n" to standard error and throws a new
/// VXNeural::IOException by pointer, leaving the rules unchanged.
class MLPStopRules : public INNStopRules {
 public:
  MLPStopRules();
  MLPStopRules(const MLPStopRules&) = default;
  MLPStopRules& operator=(const MLPStopRules&) = default;
  ~MLPStopRules() override = default;

  /// Back to the defaults, including the "data-pass limit set by the user"
  /// flag.
  void SetDefaults();

  double GetMinRelativeChangeError() const { return fMinRelativeChangeError; }
  void SetMinRelativeChangeError(double v) { fMinRelativeChangeError = v; }
  double GetMinErrorRatio() const { return fMinErrorRatio; }
  void SetMinErrorRatio(double v) { fMinErrorRatio = v; }
  double GetGradientNormLimit() const { return fGradientNormLimit; }
  void SetGradientNormLimit(double v) { fGradientNormLimit = v; }
  ///@{
  /// Percent.
  double GetAccuracy() const { return fAccuracy; }
  void SetAccuracy(double v) { fAccuracy = v; }
  int GetMaxNDataPasses() const { return fMaxNDataPasses; }
  ///@}
  /// Also marks the limit as chosen by the user, so that the settings stop
  /// deriving it from the weight count.
  void SetMaxNDataPasses(int v) {
    fMaxNDataPasses = v;
    fMaxNDataPassesSet = true;
  }
  int GetMaxNStepsTrackError() const { return fMaxNStepsTrackError; }
  void SetMaxNStepsTrackError(int v) { fMaxNStepsTrackError = v; }
  bool GetMaxNDataPassesSet() const { return fMaxNDataPassesSet; }
  ///@{
  /// Seconds.
  double GetMaxTime() const { return fMaxTime; }
  void SetMaxTime(double v) { fMaxTime = v; }
  bool GetCheckTrainErrVerifyingCycle() const { return fCheckTrainErrVerifyingCycle; }
  void SetCheckTrainErrVerifyingCycle(bool v) { fCheckTrainErrVerifyingCycle = v; }
  ///@}
  ///@{
  /// Seconds allowed for architecture selection.
  double GetTimeForExpertArch() const { return fTimeForExpertArch; }
  void SetTimeForExpertArch(double v) { fTimeForExpertArch = v; }
  ///@}

  /// Unless the user set the data-pass limit, it becomes
  /// max(100, 2 * nWeights + 1).
  void ComputeDefaultMaxDataPasses(int nWeights);

  bool operator==(const MLPStopRules& other) const;
  bool operator!=(const MLPStopRules& other) const { return !(*this == other); }

  int WriteObject(std::ostream& out) const override;
  int ReadObject(std::istream& in) override;
  int WriteObjectXML(std::ostream& out) const override;
  int ReadObjectXML(std::istream& in) override;
  void Display(std::ostream& out) const override;

 private:
  double fMinRelativeChangeError;
  double fMinErrorRatio;
  double fGradientNormLimit;
  double fAccuracy;
  int fMaxNDataPasses;
  int fMaxNStepsTrackError;
  bool fMaxNDataPassesSet;
  double fMaxTime;
  bool fCheckTrainErrVerifyingCycle;
  double fTimeForExpertArch;
};
