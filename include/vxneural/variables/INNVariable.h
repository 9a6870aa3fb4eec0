// A field of the model: its measure level, role, storage, statistics,
// categories and the encoder that maps its raw values to network units.
#pragma once

#include <iosfwd>
#include <string>

#include "vxneural/variables/INNEncoder.h"
#include "vxneural/variables/INNUserMissing.h"

namespace VXXML_1_2 {
class XMLElement;
}

class INNVariable {
 public:
  enum MeasureLevel { kUnknownMeasure = 0, kContinuous = 1, kNumericCategorical = 2, kStringCategorical = 3 };
  enum VariableRole { kUndefinedRole = 0, kInput = 1, kOutput = 2, kUnused = 3 };
  enum VariableStorage {
    kUndefinedStorage = 0, kInteger = 1, kReal = 2, kString = 3, kDate = 4, kTime = 5, kTimestamp = 6
  };
  enum VarStatus { kVarOK = 0, kVarConstant = 1, kVarInvalid = 2 };

  virtual ~INNVariable() = default;
  virtual MeasureLevel GetMeasureLevel() const = 0;
  virtual std::string GetVariableName() const = 0;
  virtual std::string GetVariableLabel() const = 0;
  virtual void SetVariableLabel(const std::string& label) = 0;
  virtual int GetNumberOfCategories() const = 0;
  virtual VariableRole GetVariableRole() const = 0;
  virtual void SetVariableRole(VariableRole role) = 0;
  virtual VariableStorage GetVariableStorage() const = 0;
  virtual void SetVariableStorage(VariableStorage storage) = 0;
  virtual int UpdateNumberOfCategories() = 0;
  // Forwarded to the encoder (false / null without one).
  virtual bool SetUserMissingInfo(INNUserMissing* um) = 0;
  virtual INNUserMissing* GetUserMissingInfo() = 0;
  virtual const INNUserMissing* GetUserMissingInfo() const = 0;
  virtual void SetMissingValueReplacement(const std::string& text) = 0;
  // Null when none.
  virtual const std::string* GetMissingValueReplacement() const = 0;
  virtual INNVariable* Clone() const = 0;
  virtual INNEncoder* GetEncoder() = 0;
  virtual const INNEncoder* GetEncoder() const = 0;
  virtual VarStatus GetVarStatus() = 0;
  virtual int WriteObject(std::ostream& out) const = 0;
  virtual int ReadObject(std::istream& in) = 0;
  virtual int WriteObjectXML(std::ostream& out, int level) const = 0;
  virtual int ReadObjectXML(std::istream& in) = 0;
  virtual void Display(std::ostream& out) const = 0;
  // Takes ownership (null clears).
  virtual void SetFieldFormatElement(VXXML_1_2::XMLElement* element) = 0;
  virtual VXXML_1_2::XMLElement* GetFieldFormatElement() = 0;
  virtual const VXXML_1_2::XMLElement* GetFieldFormatElement() const = 0;
};

// Display texts of the variable enumerations, without line end.
std::string DisplayText(INNVariable::MeasureLevel value);
std::string DisplayText(INNVariable::VariableRole value);
std::string DisplayText(INNVariable::VariableStorage value);
