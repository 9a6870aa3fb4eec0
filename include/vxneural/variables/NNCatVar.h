// A categorical variable, numeric (measure level 2, NNCatNumEncoder) or
// string (measure level 3, NNStringEncoder).
#pragma once

#include <iosfwd>
#include <memory>
#include <string>

#include "vxneural/variables/NNVariableBase.h"

/// A categorical variable, numeric (measure level 2, NNCatNumEncoder) or
/// string (measure level 3, NNStringEncoder).
class NNCatVar : public NNVariableBase {
 public:
  /// A measure level other than kNumericCategorical is taken as
  /// kStringCategorical; a negative number of categories as 0. The new
  /// encoder is empty, sized for numberOfCategories.
  NNCatVar(const std::string& name, const std::string& label, int numberOfCategories,
           MeasureLevel level, VariableRole role, VariableStorage storage);
  /// A deep copy: the encoder is cloned.
  NNCatVar(const NNCatVar& other);
  /// A deep copy: the encoder is cloned.
  NNCatVar& operator=(const NNCatVar& other);
  ~NNCatVar() override;

  MeasureLevel GetMeasureLevel() const override { return fMeasureLevel; }
  /// The stored number, without updating it from the encoder.
  int GetNumberOfCategories() const override { return fNumberOfCategories; }
  /// Raises the stored number to the encoder's count when that is larger
  /// (never lowers it) and returns the stored number.
  int UpdateNumberOfCategories() override;
  NNCatVar* Clone() const override { return new NNCatVar(*this); }
  INNEncoder* GetEncoder() override { return fEncoder.get(); }
  const INNEncoder* GetEncoder() const override { return fEncoder.get(); }
  /// Updates the number of categories, then: 1 is kVarConstant, more kVarOK,
  /// none kVarInvalid.
  VarStatus GetVarStatus() override;
  /// Readers first destroy the encoder and build the one the stream names. The
  /// binary record carries neither the replacement nor the binary and ordinal
  /// flags; the XML object carries both.
  int WriteObject(std::ostream& out) const override;
  int ReadObject(std::istream& in) override;
  int WriteObjectXML(std::ostream& out, int level) const override;
  int ReadObjectXML(std::istream& in) override;
  void Display(std::ostream& out) const override;

  /// A flag variable (two-valued) and the index of the category that stands
  /// for true.
  virtual void GetBinaryFlag(bool& flag, int& trueIndex) const;
  /// Stores the binary flag and the index of the true category, unchecked.
  virtual void SetBinaryFlag(bool flag, int trueIndex);
  /// True when the categories are ordered (ordinal); false for a new variable.
  virtual bool GetOrdinalFlag() const { return fOrdinalFlag; }
  /// Marks the categories as ordered or not.
  virtual void SetOrdinalFlag(bool flag) { fOrdinalFlag = flag; }

  /// A negative number is taken as 0.
  void SetNumberOfCategories(int n);

 private:
  bool fBinaryFlag = false;
  int fBinaryFlagTrueIndex = -1;
  bool fOrdinalFlag = false;
  int fNumberOfCategories;
  MeasureLevel fMeasureLevel;
  std::unique_ptr<INNEncoder> fEncoder;
};
