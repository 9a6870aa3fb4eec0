// A continuous variable: its statistics and the linear encoder that
// standardizes it.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>

#include "vxneural/VXNNCommon.h"
#include "vxneural/variables/INNVariable.h"
#include "vxneural/variables/NNLinearEncoder.h"

class NNContVar : public INNVariable {
 public:
  // The encoder starts as the identity map over min..max. correction widens
  // min and max when the variable is a target and is standardized.
  NNContVar(const std::string& name, const std::string& label, double min, double max, double mean,
            double variance, VariableRole role, VariableStorage storage, double correction = 0.0);
  NNContVar(const NNContVar& other);
  NNContVar& operator=(const NNContVar& other);
  ~NNContVar() override;

  MeasureLevel GetMeasureLevel() const override { return kContinuous; }
  std::string GetVariableName() const override { return fName; }
  std::string GetVariableLabel() const override { return fLabel; }
  void SetVariableLabel(const std::string& label) override { fLabel = label; }
  int GetNumberOfCategories() const override { return 1; }
  VariableRole GetVariableRole() const override { return fRole; }
  void SetVariableRole(VariableRole role) override { fRole = role; }
  VariableStorage GetVariableStorage() const override { return fStorage; }
  void SetVariableStorage(VariableStorage storage) override { fStorage = storage; }
  int UpdateNumberOfCategories() override { return 1; }
  bool SetUserMissingInfo(INNUserMissing* um) override;
  INNUserMissing* GetUserMissingInfo() override;
  const INNUserMissing* GetUserMissingInfo() const override;
  void SetMissingValueReplacement(const std::string& text) override;
  const std::string* GetMissingValueReplacement() const override;
  NNContVar* Clone() const override { return new NNContVar(*this); }
  INNEncoder* GetEncoder() override { return fEncoder.get(); }
  const INNEncoder* GetEncoder() const override { return fEncoder.get(); }
  // kVarInvalid when variance < 0 or max < min, else kVarConstant when
  // variance == 0 or max == min, else kVarOK.
  VarStatus GetVarStatus() override;
  // Binary and XML readers first destroy the encoder. The binary record
  // carries no replacement and no field-format element; the XML object
  // carries the replacement.
  int WriteObject(std::ostream& out) const override;
  int ReadObject(std::istream& in) override;
  int WriteObjectXML(std::ostream& out, int level) const override;
  int ReadObjectXML(std::istream& in) override;
  void Display(std::ostream& out) const override;
  void SetFieldFormatElement(VXXML_1_2::XMLElement* element) override;
  VXXML_1_2::XMLElement* GetFieldFormatElement() override { return fFieldFormatElement.get(); }
  const VXXML_1_2::XMLElement* GetFieldFormatElement() const override {
    return fFieldFormatElement.get();
  }

  // The encoder with its concrete type; null only after reading a stream that
  // stored none.
  NNLinearEncoder* GetLinearEncoder() { return fEncoder.get(); }
  const NNLinearEncoder* GetLinearEncoder() const { return fEncoder.get(); }

  double GetMean() const { return fMean; }
  void SetMean(double mean) { fMean = mean; }
  double GetVariance() const { return fVariance; }
  void SetVariance(double variance) { fVariance = variance; }
  double GetMin() const { return fMin; }
  double GetMax() const { return fMax; }
  void SetMinMax(double min, double max) {
    fMin = min;
    fMax = max;
  }
  double GetCorrection() const { return fCorrection; }
  void SetCorrection(double correction) { fCorrection = correction; }
  // Replaces the encoder by NNLinearEncoder(mode, *this), keeping a copy of
  // the old encoder's user-missing values. Refused (false, encoder kept) for
  // mode 1 unless variance > 0, and for modes 2 and 3 unless min < max.
  bool SetupEncoder(VXNNCommon::Standardization mode);

 private:
  std::string fName;
  std::string fLabel;
  VariableRole fRole;
  VariableStorage fStorage;
  double fMean;
  double fVariance;
  double fMin;
  double fMax;
  double fCorrection;
  std::unique_ptr<NNLinearEncoder> fEncoder;
  std::string fMissingValueReplacement;
  bool fHasReplacement = false;
  std::unique_ptr<VXXML_1_2::XMLElement> fFieldFormatElement;
};
