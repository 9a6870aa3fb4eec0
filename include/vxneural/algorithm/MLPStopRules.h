// Stop thresholds of a training run. The settings hold one set; the
// optimizers read them at the start of each run.
#pragma once

#include <iosfwd>

/// The abstract stop-rule object the settings and the algorithms pass around.
class INNStopRules {
 public:
  virtual ~INNStopRules() = default;
  /// Writes the binary record; returns the bytes written.
  virtual int WriteObject(std::ostream& out) const = 0;
  /// Reads the binary record; returns the bytes read. A read that fails
  /// writes one line to standard error and throws a new
  /// VXNeural::IOException by pointer.
  virtual int ReadObject(std::istream& in) = 0;
  /// Writes the XML object.
  virtual int WriteObjectXML(std::ostream& out) const = 0;
  /// Reads the XML object; fails as ReadObject does.
  virtual int ReadObjectXML(std::istream& in) = 0;
  /// A readable listing, for diagnostics.
  virtual void Display(std::ostream& out) const = 0;
};

/// Thresholds of the MLP optimizers. The setters store without checking.
/// Binary record: "MLPStR" and eleven values, 70 bytes. XML: an object named
/// "MLPStopRules" nested in the settings. A failed read writes
/// "Error reading MLPStopRules!\n" to standard error and throws a new
/// VXNeural::IOException by pointer, leaving the rules unchanged.
class MLPStopRules : public INNStopRules {
 public:
  /// The defaults (SetDefaults).
  MLPStopRules();
  /// Copies every value and the user flag.
  MLPStopRules(const MLPStopRules&) = default;
  /// Assigns every value and the user flag.
  MLPStopRules& operator=(const MLPStopRules&) = default;
  ~MLPStopRules() override = default;

  /// Back to the defaults, including the "data-pass limit set by the user"
  /// flag.
  void SetDefaults();

  /// Training stops when the relative change of the error between steps
  /// falls below this (1e-4 by default).
  double GetMinRelativeChangeError() const { return fMinRelativeChangeError; }
  /// Sets the smallest relative change of the error.
  void SetMinRelativeChangeError(double v) { fMinRelativeChangeError = v; }
  /// Training stops when the error, as a ratio of the error of the mean
  /// model, falls below this (0.001 by default).
  double GetMinErrorRatio() const { return fMinErrorRatio; }
  /// Sets the smallest error ratio.
  void SetMinErrorRatio(double v) { fMinErrorRatio = v; }
  /// A batch optimizer stops when the gradient's norm falls below this
  /// (1e-6 by default).
  double GetGradientNormLimit() const { return fGradientNormLimit; }
  /// Sets the gradient-norm limit.
  void SetGradientNormLimit(double v) { fGradientNormLimit = v; }
  /// Training stops when the accuracy reaches this, in percent (100 by
  /// default).
  double GetAccuracy() const { return fAccuracy; }
  /// Sets the accuracy to reach, in percent.
  void SetAccuracy(double v) { fAccuracy = v; }
  /// Training stops after this many data passes (100 by default, or derived
  /// from the weight count; see ComputeDefaultMaxDataPasses).
  int GetMaxNDataPasses() const { return fMaxNDataPasses; }
  /// Also marks the limit as chosen by the user, so that the settings stop
  /// deriving it from the weight count.
  void SetMaxNDataPasses(int v) {
    fMaxNDataPasses = v;
    fMaxNDataPassesSet = true;
  }
  /// With test records, training stops after this many steps without a new
  /// lowest test error (5 by default).
  int GetMaxNStepsTrackError() const { return fMaxNStepsTrackError; }
  /// Sets the steps allowed without a new lowest test error.
  void SetMaxNStepsTrackError(int v) { fMaxNStepsTrackError = v; }
  /// True once SetMaxNDataPasses has been called since the last SetDefaults.
  bool GetMaxNDataPassesSet() const { return fMaxNDataPassesSet; }
  /// Training stops after this many seconds (600 by default).
  double GetMaxTime() const { return fMaxTime; }
  /// Sets the time limit, in seconds.
  void SetMaxTime(double v) { fMaxTime = v; }
  /// Whether gradient descent with test records also measures the training
  /// error (false by default).
  bool GetCheckTrainErrVerifyingCycle() const { return fCheckTrainErrVerifyingCycle; }
  /// Sets whether the training error is measured beside the test error.
  void SetCheckTrainErrVerifyingCycle(bool v) { fCheckTrainErrVerifyingCycle = v; }
  /// Seconds allowed for the architecture search (600 by default).
  double GetTimeForExpertArch() const { return fTimeForExpertArch; }
  /// Sets the seconds allowed for the architecture search.
  void SetTimeForExpertArch(double v) { fTimeForExpertArch = v; }

  /// Unless the user set the data-pass limit, it becomes
  /// max(100, 2 * nWeights + 1).
  void ComputeDefaultMaxDataPasses(int nWeights);

  /// Every value and the user flag equal.
  bool operator==(const MLPStopRules& other) const;
  /// The negation of operator==.
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
