// Conversion of the host's own variable list into an NNVarList. Small
// adapters wrap each host variable and give the conversion uniform access
// to what it carries over; ConvertHostVarList creates and frees them.
#pragma once

#include <string>
#include <vector>

#include "vxcommon/VXVarList.h"
#include "vxneural/variables/INNVariable.h"
#include "vxneural/variables/NNVarList.h"

/// Wraps one host variable (not owned, must outlive the adapter). The flags
/// start cleared; Create sets them from a categorical host variable.
class VXVarAdapter {
 public:
  /// The adapter of the host variable's measure level (1, 2, 3), with its
  /// binary flag and true index or else its ordinal flag; null for any other
  /// measure level (or a variable whose class does not match its level).
  static VXVarAdapter* Create(const VXCommon_1_2::IVXVariable* variable);

  /// Wraps variable (not owned).
  explicit VXVarAdapter(const VXCommon_1_2::IVXVariable* variable) : fVariable(variable) {}
  VXVarAdapter(const VXVarAdapter&) = delete;
  VXVarAdapter& operator=(const VXVarAdapter&) = delete;
  virtual ~VXVarAdapter();

  /// The measure level of the variable the conversion creates.
  virtual int GetKind() const = 0;

  /// The host variable's name.
  const std::string& GetName() const { return fVariable->GetName(); }
  /// The host variable's label.
  const std::string& GetLabel() const { return fVariable->GetLabel(); }
  /// Host roles 1 and 2 are targets (Output); every other value is an Input.
  INNVariable::VariableRole GetRole() const;
  /// Host storages 1..6 are kept; anything else is Undefined.
  INNVariable::VariableStorage GetStorage() const;
  /// The host variable's field-format element, or null.
  const VXXML_1_2::XMLElement* GetFieldFormatElement() const {
    return fVariable->GetFieldFormatElement();
  }
  ///@{
  /// A two-valued variable, with the index of its value that means true.
  void SetBinaryFlag(bool flag, int trueIndex) {
    fBinaryFlag = flag;
    fBinaryTrueIndex = trueIndex;
  }
  bool GetBinaryFlag() const { return fBinaryFlag; }
  int GetBinaryTrueIndex() const { return fBinaryTrueIndex; }
  ///@}
  ///@{
  /// Whether the categories are ordered.
  void SetOrdinalFlag(bool flag) { fOrdinalFlag = flag; }
  bool GetOrdinalFlag() const { return fOrdinalFlag; }
  ///@}

  ///@{
  /// The host variable's user-missing values, as it declares them.
  bool HasMissingInterval() const { return fVariable->HasMissingInterval(); }
  double GetMissingIntervalLow() const { return fVariable->GetMissingIntervalLow(); }
  double GetMissingIntervalHigh() const { return fVariable->GetMissingIntervalHigh(); }
  const std::vector<double>& GetDiscreteMissingNumbers() const {
    return fVariable->GetDiscreteMissingNumbers();
  }
  const std::vector<std::string>& GetDiscreteMissingStrings() const {
    return fVariable->GetDiscreteMissingStrings();
  }
  const std::vector<std::string>& GetDiscreteMissingLabels() const {
    return fVariable->GetDiscreteMissingLabels();
  }
  ///@}

 protected:
  const VXCommon_1_2::IVXVariable* fVariable;  ///< the host variable
  bool fBinaryFlag = false;                    ///< see SetBinaryFlag
  int fBinaryTrueIndex = -1;                   ///< see SetBinaryFlag
  bool fOrdinalFlag = false;                   ///< see SetOrdinalFlag
};

/// A continuous host variable.
class VXContinVarAdapter : public VXVarAdapter {
 public:
  /// Wraps variable (not owned).
  explicit VXContinVarAdapter(const VXCommon_1_2::VXContVar* variable)
      : VXVarAdapter(variable), fContVar(variable) {}
  int GetKind() const override { return INNVariable::kContinuous; }
  ///@{
  /// The host's statistics.
  double GetMin() const { return fContVar->GetMin(); }
  double GetMax() const { return fContVar->GetMax(); }
  double GetMean() const { return fContVar->GetMean(); }
  ///@}
  /// The square of the host's standard deviation.
  double GetVariance() const { return fContVar->GetStdDev() * fContVar->GetStdDev(); }

 private:
  const VXCommon_1_2::VXContVar* fContVar;
};

/// A categorical host variable.
class VXCateVarAdapter : public VXVarAdapter {
 public:
  /// Wraps variable (not owned).
  explicit VXCateVarAdapter(const VXCommon_1_2::VXCatVar* variable)
      : VXVarAdapter(variable), fCatVar(variable) {}
  /// The host variable carries category values (not only a declared count).
  virtual bool HasCategoryValues() const = 0;
  /// The labels of the category values (may be fewer, or empty).
  const std::vector<std::string>& GetValueLabels() const { return fCatVar->GetValueLabels(); }
  /// The host's declared number of categories.
  int GetDeclaredCategories() const { return fCatVar->GetNumberOfCategories(); }

 protected:
  const VXCommon_1_2::VXCatVar* fCatVar;  ///< the host variable
};

/// A categorical host variable whose categories are numbers.
class VXCateNumVarAdapter : public VXCateVarAdapter {
 public:
  /// Wraps variable (not owned).
  using VXCateVarAdapter::VXCateVarAdapter;
  int GetKind() const override { return INNVariable::kNumericCategorical; }
  bool HasCategoryValues() const override { return !fCatVar->GetNumericValues().empty(); }
  /// The category values in the host's order.
  const std::vector<double>& GetValues() const { return fCatVar->GetNumericValues(); }
};

/// A categorical host variable whose categories are texts.
class VXCateStringVarAdapter : public VXCateVarAdapter {
 public:
  /// Wraps variable (not owned).
  using VXCateVarAdapter::VXCateVarAdapter;
  int GetKind() const override { return INNVariable::kStringCategorical; }
  bool HasCategoryValues() const override { return !fCatVar->GetStringValues().empty(); }
  /// The category values in the host's order.
  const std::vector<std::string>& GetValues() const { return fCatVar->GetStringValues(); }
};

/// Adds one variable per host variable to out (expected empty), in the
/// host's order, with its statistics (continuous variables take
/// `correction`), categories, labels, flags, user-missing values,
/// replacements and field-format element; then the weighted count and the
/// list's field-formats element. True when every variable was converted; a
/// failure (an unknown measure level, an empty or repeated name, a negative
/// variance, a refused missing-value replacement) stops the conversion and
/// keeps the variables added before it. A user-missing value the variable
/// refuses (an interval on a string variable) is left out without failing:
/// the host's list was valid for the host, and the value cannot apply. No message is
/// written: the caller decides what a failure means.
bool ConvertHostVarList(const VXCommon_1_2::VXVarList& host, NNVarList& out, double correction);

/// The list ConvertHostVarList builds from host into a new, empty list,
/// whether or not every variable converted: the settings constructors and
/// factories that take a host list check what they got like any other list.
NNVarList ConvertedHostVarList(const VXCommon_1_2::VXVarList& host, double correction,
                               bool* converted = nullptr);
