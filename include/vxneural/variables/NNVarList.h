// The model's description of its fields: the variables in a fixed order (a
// variable's index here is its index everywhere), with their roles,
// statistics, categories, user-missing values and encoders.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "vxneural/VXNNCommon.h"
#include "vxneural/variables/INNEncoder.h"
#include "vxneural/variables/INNVariable.h"

class NNVarList {
 public:
  NNVarList();
  // Deep: variables, encoders, user-missing objects and field-format
  // elements are cloned.
  NNVarList(const NNVarList& other);
  NNVarList& operator=(const NNVarList& other);
  virtual ~NNVarList();
  NNVarList* Clone() const { return new NNVarList(*this); }

  // Each Add returns the new variable's index, or -1 (nothing changed) for
  // an empty name or one already in the list (names are case-sensitive).
  // AddContVar also refuses a negative variance.
  int AddContVar(const std::string& name, const std::string& label, double min, double max,
                 double mean, double variance, INNVariable::VariableRole role,
                 INNVariable::VariableStorage storage, double correction = 0.0);
  // An empty encoder sized for numberOfCategories.
  int AddCatVar(const std::string& name, const std::string& label, int numberOfCategories,
                INNVariable::MeasureLevel level, INNVariable::VariableRole role,
                INNVariable::VariableStorage storage);
  // Measure level 2, as many categories as values; the values are encoded in
  // order (repeated and missing values get no code).
  int AddCatVar(const std::string& name, const std::string& label,
                const std::vector<double>& values, INNVariable::VariableRole role,
                INNVariable::VariableStorage storage);
  int AddCatVar(const std::string& name, const std::string& label,
                const std::vector<double>& values, const std::vector<std::string>& valueLabels,
                INNVariable::VariableRole role, INNVariable::VariableStorage storage);
  // Measure level 3, likewise.
  int AddCatVar(const std::string& name, const std::string& label,
                const std::vector<std::string>& values, INNVariable::VariableRole role,
                INNVariable::VariableStorage storage);
  int AddCatVar(const std::string& name, const std::string& label,
                const std::vector<std::string>& values, const std::vector<std::string>& valueLabels,
                INNVariable::VariableRole role, INNVariable::VariableStorage storage);

  // Later variables move down one index.
  bool RemoveVar(int index);
  bool RemoveVar(const std::string& name);
  int FindVariable(const std::string& name) const;
  unsigned int Size() const { return static_cast<unsigned int>(fVariables.size()); }

  // Out of range: null, null, 0 (kUndefinedRole), false.
  INNVariable* GetVarAt(int index);
  const INNVariable* GetVarAt(int index) const;
  INNEncoder* GetEncoderAt(int index);
  const INNEncoder* GetEncoderAt(int index) const;
  INNVariable::VariableRole GetVariableRole(int index) const;
  bool SetVariableRole(int index, INNVariable::VariableRole role);

  int GetNumContVar() const { return fNumContVar; }
  int GetNumCatVar() const { return fNumCatVar; }
  // Network input units: 1 per continuous input, 1 per category of a
  // categorical input.
  int GetNumInputs() const;
  int GetNumInputVars() const;
  // The number of categories of each Input (Output) variable, in list order.
  std::vector<int> GetNInputCats() const;
  std::vector<int> GetNOutputCats() const;
  void GetVarNames(std::vector<std::string>& inputNames,
                   std::vector<std::string>& outputNames) const;
  // True when no Input or Output variable is constant or invalid and there is
  // at least one of each role. The vectors receive the indices of the
  // constant and the invalid variables. Categorical variables update their
  // number of categories on the way.
  bool IsValidList(std::vector<int>& constantVars, std::vector<int>& invalidVars) const;
  // Min and max of each continuous Input variable in network units (raw when
  // the variable has no encoder); returns how many variables were seen.
  int GetInpContMinMax(std::vector<double>& mins, std::vector<double>& maxs) const;
  // SetupEncoder with inputMode on continuous inputs and outputMode on
  // continuous outputs; returns how many succeeded.
  int SetupContEncoders(VXNNCommon::Standardization inputMode,
                        VXNNCommon::Standardization outputMode);
  // Sum of UpdateNumberOfCategories over all variables.
  int UpdateNumbersOfCategories();

  // A string user-missing value (string categorical variables only).
  bool AddDiscreteUserMissing(int index, const std::string& value, const std::string& label);
  // A numeric user-missing value (continuous and numeric categorical).
  bool AddDiscreteUserMissing(int index, double value, const std::string& label);
  // The closed interval low..high (the missing value opens an end) replaces
  // any earlier one; refused for string categorical variables.
  bool SetMissingInterval(int index, double low, double high);
  bool SetMissingValueReplacement(int index, const std::string& text);

  // The weighted number of records behind the statistics; values not above 0
  // are ignored.
  void SetWeightedCount(double count);
  double GetWeightedCount() const { return fWeightedCount; }
  // Takes ownership (null clears). Kept and cloned, never saved.
  void SetFieldFormatsElement(VXXML_1_2::XMLElement* element);
  VXXML_1_2::XMLElement* GetFieldFormatsElement() { return fFieldFormatsElement.get(); }
  const VXXML_1_2::XMLElement* GetFieldFormatsElement() const { return fFieldFormatsElement.get(); }

  // Readers destroy the variables first; the weighted count and the
  // field-formats element are not in either stream and are left as they are.
  int WriteObject(std::ostream& out) const;
  int ReadObject(std::istream& in);
  int WriteObjectXML(std::ostream& out, int level) const;
  int ReadObjectXML(std::istream& in);
  void Display(std::ostream& out) const;

 private:
  bool ValidIndex(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < fVariables.size();
  }
  bool CanAdd(const std::string& name) const;
  int Append(std::unique_ptr<INNVariable> var);
  void Reset();

  std::vector<std::unique_ptr<INNVariable>> fVariables;
  int fNumContVar = 0;
  int fNumCatVar = 0;
  double fWeightedCount = 0.0;
  std::unique_ptr<VXXML_1_2::XMLElement> fFieldFormatsElement;
};
