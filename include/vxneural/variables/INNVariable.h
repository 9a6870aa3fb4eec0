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

/// A field of the model. The concrete classes are NNContVar and NNCatVar;
/// an NNVarList holds them.
class INNVariable {
 public:
  /// How the field's values are read: a number, or a category given by a
  /// number or a text.
  enum MeasureLevel {
    kUnknownMeasure = 0,
    kContinuous = 1,
    kNumericCategorical = 2,
    kStringCategorical = 3
  };
  /// Whether the field feeds the network, is predicted by it, or neither.
  enum VariableRole { kUndefinedRole = 0, kInput = 1, kOutput = 2, kUnused = 3 };
  /// How the host stores the field (carried over to documents, not used in
  /// the arithmetic).
  enum VariableStorage {
    kUndefinedStorage = 0,
    kInteger = 1,
    kReal = 2,
    kString = 3,
    kDate = 4,
    kTime = 5,
    kTimestamp = 6
  };
  /// Whether the field can take part in a model: usable, constant (one
  /// category, or no spread), or without any value.
  enum VarStatus { kVarOK = 0, kVarConstant = 1, kVarInvalid = 2 };

  virtual ~INNVariable() = default;
  /// The field's measure level.
  virtual MeasureLevel GetMeasureLevel() const = 0;
  /// The field's name, unique in its list.
  virtual std::string GetVariableName() const = 0;
  /// The text a user reads for the field (may be empty).
  virtual std::string GetVariableLabel() const = 0;
  /// Sets the label.
  virtual void SetVariableLabel(const std::string& label) = 0;
  /// Categories of a categorical field (the most of its declared count and
  /// what its encoder holds); 1 for a continuous one.
  virtual int GetNumberOfCategories() const = 0;
  /// The field's role.
  virtual VariableRole GetVariableRole() const = 0;
  /// Sets the role.
  virtual void SetVariableRole(VariableRole role) = 0;
  /// The field's storage.
  virtual VariableStorage GetVariableStorage() const = 0;
  /// Sets the storage.
  virtual void SetVariableStorage(VariableStorage storage) = 0;
  /// Takes up the categories the encoder has met since, and returns the
  /// count (GetNumberOfCategories).
  virtual int UpdateNumberOfCategories() = 0;
  /// Hands the field's user-missing values (taking ownership) to the
  /// encoder; false without an encoder or when it refuses them.
  virtual bool SetUserMissingInfo(INNUserMissing* um) = 0;
  /// The encoder's user-missing values; null without an encoder or values.
  virtual INNUserMissing* GetUserMissingInfo() = 0;
  /// The encoder's user-missing values; null without an encoder or values.
  virtual const INNUserMissing* GetUserMissingInfo() const = 0;
  /// Sets the text that stands for a missing value in documents.
  virtual void SetMissingValueReplacement(const std::string& text) = 0;
  /// The text that stands for a missing value in documents; null when none.
  virtual const std::string* GetMissingValueReplacement() const = 0;
  /// A deep copy on the heap, owned by the caller.
  virtual INNVariable* Clone() const = 0;
  /// The encoder that maps the field's raw values to network units; null
  /// before one is set.
  virtual INNEncoder* GetEncoder() = 0;
  /// The encoder, read only; null before one is set.
  virtual const INNEncoder* GetEncoder() const = 0;
  /// Whether the field can take part in a model (updates the category count).
  virtual VarStatus GetVarStatus() = 0;
  /// Writes the binary form; returns the bytes written.
  virtual int WriteObject(std::ostream& out) const = 0;
  /// Reads the binary form; returns the bytes read. A read that fails writes
  /// one line to standard error and throws a new VXNeural::IOException by
  /// pointer.
  virtual int ReadObject(std::istream& in) = 0;
  /// Writes the XML object-stream form at nesting level `level`.
  virtual int WriteObjectXML(std::ostream& out, int level) const = 0;
  /// Reads the XML object-stream form; fails as ReadObject does.
  virtual int ReadObjectXML(std::istream& in) = 0;
  /// A readable listing of the field, for diagnostics.
  virtual void Display(std::ostream& out) const = 0;
  /// Sets the host's field-format element for documents, taking ownership
  /// (null clears).
  virtual void SetFieldFormatElement(VXXML_1_2::XMLElement* element) = 0;
  /// The field-format element, or null.
  virtual VXXML_1_2::XMLElement* GetFieldFormatElement() = 0;
  /// The field-format element, or null.
  virtual const VXXML_1_2::XMLElement* GetFieldFormatElement() const = 0;
};

///@{
/// Display texts of the variable enumerations, without line end.
std::string DisplayText(INNVariable::MeasureLevel value);
std::string DisplayText(INNVariable::VariableRole value);
std::string DisplayText(INNVariable::VariableStorage value);
///@}
