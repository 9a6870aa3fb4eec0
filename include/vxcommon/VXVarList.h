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

// Measure levels: 1 continuous, 2 numeric categorical, 3 string categorical.
// Roles: 0 none, 1 target, 2 target with partition meaning, 3 input, 4 both,
// 5 none/ignored; a converting library treats 1 and 2 as targets and every
// other value as an input. Storage: 1 integer, 2 real, 3 string, 4 date,
// 5 time, 6 timestamp; anything else is undefined.
class IVXVariable {
 public:
  enum MeasureLevel {
    kUnknown = 0,
    kContinuous = 1,
    kNumericCategorical = 2,
    kStringCategorical = 3
  };
  enum Role {
    kRoleNone = 0,
    kRoleTarget = 1,
    kRoleTargetPartition = 2,
    kRoleInput = 3,
    kRoleBoth = 4,
    kRoleIgnore = 5
  };

  IVXVariable(std::string name, std::string label, int role, int storage);
  virtual ~IVXVariable();
  IVXVariable(const IVXVariable&) = delete;
  IVXVariable& operator=(const IVXVariable&) = delete;

  virtual int GetMeasureLevel() const = 0;
  const std::string& GetName() const { return fName; }
  const std::string& GetLabel() const { return fLabel; }
  int GetRole() const { return fRole; }
  int GetStorage() const { return fStorage; }

  // Missing interval [low, high]; an end equal to the missing value is open.
  void SetMissingInterval(double low, double high);
  bool HasMissingInterval() const { return fHasInterval; }
  double GetMissingIntervalLow() const { return fIntervalLow; }
  double GetMissingIntervalHigh() const { return fIntervalHigh; }
  // Discrete missing values, numeric or string according to the measure
  // level, each with a label (possibly empty), in declaration order.
  void AddDiscreteMissing(double value, const std::string& label);
  void AddDiscreteMissing(const std::string& value, const std::string& label);
  const std::vector<double>& GetDiscreteMissingNumbers() const { return fMissingNumbers; }
  const std::vector<std::string>& GetDiscreteMissingStrings() const { return fMissingStrings; }
  const std::vector<std::string>& GetDiscreteMissingLabels() const { return fMissingLabels; }

  // Null when none.
  const std::string* GetMissingValueReplacement() const {
    return fHasReplacement ? &fReplacement : nullptr;
  }
  void SetMissingValueReplacement(const std::string& text);

  // Takes ownership (null clears).
  void SetFieldFormatElement(VXXML_1_2::XMLElement* element);
  const VXXML_1_2::XMLElement* GetFieldFormatElement() const { return fFieldFormat.get(); }

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

class VXContVar : public IVXVariable {
 public:
  VXContVar(std::string name, std::string label, int role, int storage, double min, double max,
            double mean, double stdDev);
  int GetMeasureLevel() const override { return kContinuous; }
  double GetMin() const { return fMin; }
  double GetMax() const { return fMax; }
  double GetMean() const { return fMean; }
  double GetStdDev() const { return fStdDev; }

 private:
  double fMin, fMax, fMean, fStdDev;
};

// A categorical variable. Numeric ones carry double category values, string
// ones string values; either may carry none and only a declared count.
class VXCatVar : public IVXVariable {
 public:
  VXCatVar(std::string name, std::string label, int role, int storage, bool numeric,
           int declaredCategories);
  int GetMeasureLevel() const override {
    return fNumeric ? kNumericCategorical : kStringCategorical;
  }

  int GetNumberOfCategories() const { return fDeclaredCategories; }
  void SetNumericValues(std::vector<double> values) { fNumbers = std::move(values); }
  void SetStringValues(std::vector<std::string> values) { fStrings = std::move(values); }
  void SetValueLabels(std::vector<std::string> labels) { fLabels = std::move(labels); }
  const std::vector<double>& GetNumericValues() const { return fNumbers; }
  const std::vector<std::string>& GetStringValues() const { return fStrings; }
  const std::vector<std::string>& GetValueLabels() const { return fLabels; }
  // Number of category values carried (numeric or string by measure level).
  int GetNumberOfValues() const;

  void SetBinaryFlag(bool flag, int trueIndex) {
    fBinary = flag;
    fBinaryTrueIndex = trueIndex;
  }
  bool GetBinaryFlag() const { return fBinary; }
  int GetBinaryFlagTrueIndex() const { return fBinaryTrueIndex; }
  void SetOrdinalFlag(bool flag) { fOrdinal = flag; }
  bool GetOrdinalFlag() const { return fOrdinal; }

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

class VXVarList {
 public:
  VXVarList() = default;
  VXVarList(const VXVarList&) = delete;
  VXVarList& operator=(const VXVarList&) = delete;

  // Takes ownership; returns the new variable's index (null is refused: -1).
  // A variable belongs to one list, once.
  int Add(IVXVariable* variable);
  int Size() const { return static_cast<int>(fVars.size()); }
  // Null out of range.
  IVXVariable* GetVarAt(int index) const;
  double GetWeightedCount() const { return fWeightedCount; }
  void SetWeightedCount(double count) { fWeightedCount = count; }
  const VXXML_1_2::XMLElement* GetFieldFormatsElement() const { return fFieldFormats.get(); }
  void SetFieldFormatsElement(VXXML_1_2::XMLElement* element);

 private:
  std::vector<std::unique_ptr<IVXVariable>> fVars;
  double fWeightedCount = 0.0;
  std::unique_ptr<VXXML_1_2::XMLElement> fFieldFormats;
};

// The host application's identity, written into exported document headers.
struct VXApplicInfo4XML {
  std::string fName = "vxnn";
  std::string fVersion;
  std::string fCopyright;
  std::string fDescription;
};

}  // namespace VXCommon_1_2

// The variable list travels with the XML primitives in host code, which names
// it from either namespace.
namespace VXXML_1_2 {
using VXCommon_1_2::IVXVariable;
using VXCommon_1_2::VXApplicInfo4XML;
using VXCommon_1_2::VXCatVar;
using VXCommon_1_2::VXContVar;
using VXCommon_1_2::VXVarList;
}  // namespace VXXML_1_2
