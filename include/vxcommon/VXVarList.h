// The host's own description of its fields. A library that keeps its own
// variable list converts from this one; the host builds it with the Add...
// operations and owns it.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "vxcommon/XMLTree.h"

namespace VXCommon_1_2 {

/// Measure levels: 1 continuous, 2 numeric categorical, 3 string categorical.
/// Roles: 0 none, 1 target, 2 target with partition meaning, 3 input, 4 both,
/// 5 none/ignored; a converting library treats 1 and 2 as targets and every
/// other value as an input. Storage: 1 integer, 2 real, 3 string, 4 date,
/// 5 time, 6 timestamp; anything else is undefined.
class IVXVariable {
 public:
  /// What GetMeasureLevel answers.
  enum MeasureLevel {
    kUnknown = 0,
    kContinuous = 1,
    kNumericCategorical = 2,
    kStringCategorical = 3
  };
  /// The role values GetRole may answer.
  enum Role {
    kRoleNone = 0,
    kRoleTarget = 1,
    kRoleTargetPartition = 2,
    kRoleInput = 3,
    kRoleBoth = 4,
    kRoleIgnore = 5
  };

  /// role and storage as listed above; the name is the field's, the label
  /// what a user reads (may be empty).
  IVXVariable(std::string name, std::string label, int role, int storage);
  virtual ~IVXVariable();
  IVXVariable(const IVXVariable&) = delete;
  IVXVariable& operator=(const IVXVariable&) = delete;

  /// One of MeasureLevel.
  virtual int GetMeasureLevel() const = 0;
  /// The field's name.
  const std::string& GetName() const { return fName; }
  /// The label a user reads (may be empty).
  const std::string& GetLabel() const { return fLabel; }
  /// One of Role.
  int GetRole() const { return fRole; }
  /// The storage code (1 integer ... 6 timestamp).
  int GetStorage() const { return fStorage; }

  ///@{
  /// Missing interval [low, high]; an end equal to the missing value is open.
  void SetMissingInterval(double low, double high);
  bool HasMissingInterval() const { return fHasInterval; }
  double GetMissingIntervalLow() const { return fIntervalLow; }
  double GetMissingIntervalHigh() const { return fIntervalHigh; }
  ///@}
  ///@{
  /// Discrete missing values, numeric or string according to the measure
  /// level, each with a label (possibly empty), in declaration order.
  void AddDiscreteMissing(double value, const std::string& label);
  void AddDiscreteMissing(const std::string& value, const std::string& label);
  const std::vector<double>& GetDiscreteMissingNumbers() const { return fMissingNumbers; }
  const std::vector<std::string>& GetDiscreteMissingStrings() const { return fMissingStrings; }
  const std::vector<std::string>& GetDiscreteMissingLabels() const { return fMissingLabels; }
  ///@}

  ///@{
  /// The text that stands for a missing value in the host's exports; null
  /// when none was set.
  const std::string* GetMissingValueReplacement() const {
    return fHasReplacement ? &fReplacement : nullptr;
  }
  void SetMissingValueReplacement(const std::string& text);
  ///@}

  ///@{
  /// Takes ownership (null clears).
  void SetFieldFormatElement(VXXML_1_2::XMLElement* element);
  const VXXML_1_2::XMLElement* GetFieldFormatElement() const { return fFieldFormat.get(); }
  ///@}

 private:
  std::string fName;
  std::string fLabel;
  int fRole;
  int fStorage;
  bool fHasInterval = false;
  double fIntervalLow = 0.0;
  double fIntervalHigh = -1.0;
  std::vector<double> fMissingNumbers;
  std::vector<std::string> fMissingStrings;
  std::vector<std::string> fMissingLabels;
  bool fHasReplacement = false;
  std::string fReplacement;
  std::unique_ptr<VXXML_1_2::XMLElement> fFieldFormat;
};

/// A continuous variable with the statistics the host found over its values.
class VXContVar : public IVXVariable {
 public:
  /// min, max, mean and stdDev: the host's statistics of the field's valid
  /// values (any of them may be the missing value when not known).
  VXContVar(std::string name, std::string label, int role, int storage, double min, double max,
            double mean, double stdDev);
  /// kContinuous.
  int GetMeasureLevel() const override { return kContinuous; }
  ///@{
  /// The statistics given at construction.
  double GetMin() const { return fMin; }
  double GetMax() const { return fMax; }
  double GetMean() const { return fMean; }
  double GetStdDev() const { return fStdDev; }
  ///@}

 private:
  double fMin, fMax, fMean, fStdDev;
};

/// A categorical variable. Numeric ones carry double category values, string
/// ones string values; either may carry none and only a declared count.
class VXCatVar : public IVXVariable {
 public:
  /// numeric: the categories are numbers (else strings); declaredCategories:
  /// the count the host declares, which may exceed the values it lists.
  VXCatVar(std::string name, std::string label, int role, int storage, bool numeric,
           int declaredCategories);
  /// kNumericCategorical or kStringCategorical.
  int GetMeasureLevel() const override {
    return fNumeric ? kNumericCategorical : kStringCategorical;
  }

  /// The declared number of categories.
  int GetNumberOfCategories() const { return fDeclaredCategories; }
  ///@{
  /// The category values in the host's order (numbers or strings by the
  /// measure level), and a label per value (may be empty or shorter).
  void SetNumericValues(std::vector<double> values) { fNumbers = std::move(values); }
  void SetStringValues(std::vector<std::string> values) { fStrings = std::move(values); }
  void SetValueLabels(std::vector<std::string> labels) { fLabels = std::move(labels); }
  const std::vector<double>& GetNumericValues() const { return fNumbers; }
  const std::vector<std::string>& GetStringValues() const { return fStrings; }
  const std::vector<std::string>& GetValueLabels() const { return fLabels; }
  ///@}
  /// Number of category values carried (numeric or string by measure level).
  int GetNumberOfValues() const;

  ///@{
  /// A two-valued field (flag), with the index of its value that means true
  /// (-1 when not set).
  void SetBinaryFlag(bool flag, int trueIndex) {
    fBinary = flag;
    fBinaryTrueIndex = trueIndex;
  }
  bool GetBinaryFlag() const { return fBinary; }
  int GetBinaryFlagTrueIndex() const { return fBinaryTrueIndex; }
  ///@}
  ///@{
  /// Whether the categories are ordered as listed.
  void SetOrdinalFlag(bool flag) { fOrdinal = flag; }
  bool GetOrdinalFlag() const { return fOrdinal; }
  ///@}

 private:
  bool fNumeric;
  int fDeclaredCategories;
  std::vector<double> fNumbers;
  std::vector<std::string> fStrings;
  std::vector<std::string> fLabels;
  bool fBinary = false;
  int fBinaryTrueIndex = -1;
  bool fOrdinal = false;
};

/// The host's fields in order, each an IVXVariable the list owns.
class VXVarList {
 public:
  VXVarList() = default;
  VXVarList(const VXVarList&) = delete;
  VXVarList& operator=(const VXVarList&) = delete;

  /// Takes ownership; returns the new variable's index (null is refused: -1).
  /// A variable belongs to one list, once.
  int Add(IVXVariable* variable);
  /// The number of variables.
  int Size() const { return static_cast<int>(fVars.size()); }
  /// The variable at index; null out of range.
  IVXVariable* GetVarAt(int index) const;
  ///@{
  /// The host's count of records (weighted), for documents that report it.
  double GetWeightedCount() const { return fWeightedCount; }
  void SetWeightedCount(double count) { fWeightedCount = count; }
  ///@}
  ///@{
  /// The fields' formats as the host describes them for exported documents;
  /// the list takes ownership (null clears).
  const VXXML_1_2::XMLElement* GetFieldFormatsElement() const { return fFieldFormats.get(); }
  void SetFieldFormatsElement(VXXML_1_2::XMLElement* element);
  ///@}

 private:
  std::vector<std::unique_ptr<IVXVariable>> fVars;
  double fWeightedCount = 0.0;
  std::unique_ptr<VXXML_1_2::XMLElement> fFieldFormats;
};

/// The host application's identity, written into exported document headers.
struct VXApplicInfo4XML {
  std::string fName = "vxnn";  ///< the application's name
  std::string fVersion;        ///< its version
  std::string fCopyright;      ///< its copyright line
  std::string fDescription;    ///< what it is
};

}  // namespace VXCommon_1_2

/// The variable list travels with the XML primitives in host code, which names
/// it from either namespace.
namespace VXXML_1_2 {
using VXCommon_1_2::IVXVariable;
using VXCommon_1_2::VXApplicInfo4XML;
using VXCommon_1_2::VXCatVar;
using VXCommon_1_2::VXContVar;
using VXCommon_1_2::VXVarList;
}  // namespace VXXML_1_2
