// A continuous variable: its statistics and the linear encoder that
// standardizes it.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>

#include "vxneural/VXNNCommon.h"
#include "vxneural/variables/NNLinearEncoder.h"
#include "vxneural/variables/NNVariableBase.h"

/// A continuous variable: its statistics and the linear encoder that
/// standardizes it.
class NNContVar : public NNVariableBase {
 public:
  /// The encoder starts as the identity map over min..max. correction widens
  /// min and max when the variable is a target and is standardized.
  NNContVar(const std::string& name, const std::string& label, double min, double max, double mean,
            double variance, VariableRole role, VariableStorage storage, double correction = 0.0);
  /// A deep copy: the encoder is copied.
  NNContVar(const NNContVar& other);
  /// A deep copy: the encoder is copied.
  NNContVar& operator=(const NNContVar& other);
  ~NNContVar() override;

  MeasureLevel GetMeasureLevel() const override { return kContinuous; }
  int GetNumberOfCategories() const override { return 1; }
  int UpdateNumberOfCategories() override { return 1; }
  NNContVar* Clone() const override { return new NNContVar(*this); }
  INNEncoder* GetEncoder() override { return fEncoder.get(); }
  const INNEncoder* GetEncoder() const override { return fEncoder.get(); }
  /// kVarInvalid when variance < 0 or max < min, else kVarConstant when
  /// variance == 0 or max == min, else kVarOK.
  VarStatus GetVarStatus() override;
  /// Binary and XML readers first destroy the encoder. The binary record
  /// carries no replacement and no field-format element; the XML object
  /// carries the replacement.
  int WriteObject(std::ostream& out) const override;
  int ReadObject(std::istream& in) override;
  int WriteObjectXML(std::ostream& out, int level) const override;
  int ReadObjectXML(std::istream& in) override;
  void Display(std::ostream& out) const override;

  ///@{
  /// The encoder with its concrete type; null only after reading a stream that
  /// stored none.
  NNLinearEncoder* GetLinearEncoder() { return fEncoder.get(); }
  const NNLinearEncoder* GetLinearEncoder() const { return fEncoder.get(); }
  ///@}

  /// The mean of the raw values.
  double GetMean() const { return fMean; }
  /// Sets the mean; the encoder changes only at the next SetupEncoder.
  void SetMean(double mean) { fMean = mean; }
  /// The variance of the raw values.
  double GetVariance() const { return fVariance; }
  /// Sets the variance; the encoder changes only at the next SetupEncoder.
  void SetVariance(double variance) { fVariance = variance; }
  /// The smallest raw value.
  double GetMin() const { return fMin; }
  /// The largest raw value.
  double GetMax() const { return fMax; }
  /// Sets the range, unchecked; the encoder changes only at the next
  /// SetupEncoder.
  void SetMinMax(double min, double max) {
    fMin = min;
    fMax = max;
  }
  /// The amount a standardized target's range is widened by.
  double GetCorrection() const { return fCorrection; }
  /// Sets the correction; used at the next SetupEncoder.
  void SetCorrection(double correction) { fCorrection = correction; }
  /// Replaces the encoder by NNLinearEncoder(mode, *this), keeping a copy of
  /// the old encoder's user-missing values. Refused (false, encoder kept) for
  /// mode 1 unless variance > 0, and for modes 2 and 3 unless min < max.
  bool SetupEncoder(VXNNCommon::Standardization mode);

 private:
  double fMean;
  double fVariance;
  double fMin;
  double fMax;
  double fCorrection;
  std::unique_ptr<NNLinearEncoder> fEncoder;
};
