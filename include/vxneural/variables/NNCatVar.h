// A categorical variable, numeric (measure level 2, NNCatNumEncoder) or
// string (measure level 3, NNStringEncoder).
#pragma once

#include <iosfwd>
#include <memory>
#include <string>

#include "vxneural/variables/INNVariable.h"

class NNCatVar : public INNVariable {
 public:
  // A measure level other than kNumericCategorical is taken as
  // kStringCategorical; a negative number of categories as 0. The new
  // encoder is empty, sized for numberOfCategories.
  NNCatVar(const std::string& name, const std::string& label, int numberOfCategories,
           MeasureLevel level, VariableRole role, VariableStorage storage);
  NNCatVar(const NNCatVar& other);
  NNCatVar& operator=(const NNCatVar& other);
  ~NNCatVar() override;

  MeasureLevel GetMeasureLevel() const override { return fMeasureLevel; }
  std::string GetVariableName() const override { return fName; }
  std::string GetVariableLabel() const override { return fLabel; }
  void SetVariableLabel(const std::string& label) override { fLabel = label; }
  // The stored number, without updating it from the encoder.
  int GetNumberOfCategories() const override { return fNumberOfCategories; }
  VariableRole GetVariableRole() const override { return fRole; }
  void SetVariableRole(VariableRole role) override { fRole = role; }
  VariableStorage GetVariableStorage() const override { return fStorage; }
  void SetVariableStorage(VariableStorage storage) override { fStorage = storage; }
  // Raises the stored number to the encoder's count when that is larger
  // (never lowers it) and returns the stored number.
  int UpdateNumberOfCategories() override;
  bool SetUserMissingInfo(INNUserMissing* um) override;
  INNUserMissing* GetUserMissingInfo() override;
  const INNUserMissing* GetUserMissingInfo() const override;
  void SetMissingValueReplacement(const std::string& text) override;
  const std::string* GetMissingValueReplacement() const override;
  NNCatVar* Clone() const override { return new NNCatVar(*this); }
  INNEncoder* GetEncoder() override { return fEncoder.get(); }
  const INNEncoder* GetEncoder() const override { return fEncoder.get(); }
  // Updates the number of categories, then: 1 is kVarConstant, more kVarOK,
  // none kVarInvalid.
  VarStatus GetVarStatus() override;
  // Readers first destroy the encoder and build the one the stream names. The
  // binary record carries neither the replacement nor the binary and ordinal
  // flags; the XML object carries both.
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

  // A flag variable (two-valued) and the index of the category that stands
  // for true.
  virtual void GetBinaryFlag(bool& flag, int& trueIndex) const;
  virtual void SetBinaryFlag(bool flag, int trueIndex);
  virtual bool GetOrdinalFlag() const { return fOrdinalFlag; }
  virtual void SetOrdinalFlag(bool flag) { fOrdinalFlag = flag; }

  // A negative number is taken as 0.
  void SetNumberOfCategories(int n);

 private:
  std::string fName;
  std::string fLabel;
  VariableRole fRole;
  VariableStorage fStorage;
  bool fBinaryFlag = false;
  int fBinaryFlagTrueIndex = -1;
  bool fOrdinalFlag = false;
  int fNumberOfCategories;
  MeasureLevel fMeasureLevel;
  std::unique_ptr<INNEncoder> fEncoder;
  std::string fMissingValueReplacement;
  bool fHasReplacement = false;
  std::unique_ptr<VXXML_1_2::XMLElement> fFieldFormatElement;
};
