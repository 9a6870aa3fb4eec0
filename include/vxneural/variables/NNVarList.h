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

/// The ordered list of a model's variables (continuous and categorical), each
/// with its role, encoder and user-missing values; it decides the network's
/// input and output units.
class NNVarList {
 public:
  /// An empty list.
  NNVarList();
  /// Deep: variables, encoders, user-missing objects and field-format
  /// elements are cloned.
  NNVarList(const NNVarList& other);
  /// Deep, as the copy constructor.
  NNVarList& operator=(const NNVarList& other);
  /// Destroys the variables.
  virtual ~NNVarList();
  /// A deep copy on the heap, owned by the caller.
  NNVarList* Clone() const { return new NNVarList(*this); }

  /// Each Add returns the new variable's index, or -1 (nothing changed) for
  /// an empty name or one already in the list (names are case-sensitive).
  /// AddContVar also refuses a negative variance.
  int AddContVar(const std::string& name, const std::string& label, double min, double max,
                 double mean, double variance, INNVariable::VariableRole role,
                 INNVariable::VariableStorage storage, double correction = 0.0);
  /// An empty encoder sized for numberOfCategories.
  int AddCatVar(const std::string& name, const std::string& label, int numberOfCategories,
                INNVariable::MeasureLevel level, INNVariable::VariableRole role,
                INNVariable::VariableStorage storage);
  ///@{
  /// Measure level 2, as many categories as values; the values are encoded in
  /// order (repeated and missing values get no code).
  int AddCatVar(const std::string& name, const std::string& label,
                const std::vector<double>& values, INNVariable::VariableRole role,
                INNVariable::VariableStorage storage);
  int AddCatVar(const std::string& name, const std::string& label,
                const std::vector<double>& values, const std::vector<std::string>& valueLabels,
                INNVariable::VariableRole role, INNVariable::VariableStorage storage);
  ///@}
  ///@{
  /// Measure level 3, likewise.
  int AddCatVar(const std::string& name, const std::string& label,
                const std::vector<std::string>& values, INNVariable::VariableRole role,
                INNVariable::VariableStorage storage);
  int AddCatVar(const std::string& name, const std::string& label,
                const std::vector<std::string>& values, const std::vector<std::string>& valueLabels,
                INNVariable::VariableRole role, INNVariable::VariableStorage storage);
  ///@}

  ///@{
  /// Removes the variable; later variables move down one index. False (nothing
  /// changed) for an index out of range or a name not in the list.
  bool RemoveVar(int index);
  bool RemoveVar(const std::string& name);
  ///@}
  /// The index of the variable named name (case-sensitive), -1 when absent.
  int FindVariable(const std::string& name) const;
  /// The number of variables.
  unsigned int Size() const { return static_cast<unsigned int>(fVariables.size()); }

  ///@{
  /// The variable at index; null out of range.
  INNVariable* GetVarAt(int index);
  const INNVariable* GetVarAt(int index) const;
  ///@}
  ///@{
  /// The encoder of the variable at index; null out of range.
  INNEncoder* GetEncoderAt(int index);
  const INNEncoder* GetEncoderAt(int index) const;
  ///@}
  /// The role of the variable at index; 0 (kUndefinedRole) out of range.
  INNVariable::VariableRole GetVariableRole(int index) const;
  /// Sets the role of the variable at index; false out of range.
  bool SetVariableRole(int index, INNVariable::VariableRole role);

  /// The number of continuous variables, whatever their role.
  int GetNumContVar() const { return fNumContVar; }
  /// The number of categorical variables, whatever their role.
  int GetNumCatVar() const { return fNumCatVar; }
  /// Network input units: 1 per continuous input, 1 per category of a
  /// categorical input.
  int GetNumInputs() const;
  /// The number of Input variables.
  int GetNumInputVars() const;
  ///@{
  /// The number of categories of each Input (Output) variable, in list order.
  std::vector<int> GetNInputCats() const;
  std::vector<int> GetNOutputCats() const;
  ///@}
  /// Clears both vectors, then fills them with the names of the Input and of
  /// the Output variables, in list order.
  void GetVarNames(std::vector<std::string>& inputNames,
                   std::vector<std::string>& outputNames) const;
  /// True when no Input or Output variable is constant or invalid and there is
  /// at least one of each role. The vectors receive the indices of the
  /// constant and the invalid variables. Categorical variables update their
  /// number of categories on the way.
  bool IsValidList(std::vector<int>& constantVars, std::vector<int>& invalidVars) const;
  /// Min and max of each continuous Input variable in network units (raw when
  /// the variable has no encoder); returns how many variables were seen.
  int GetInpContMinMax(std::vector<double>& mins, std::vector<double>& maxs) const;
  /// SetupEncoder with inputMode on continuous inputs and outputMode on
  /// continuous outputs; returns how many succeeded.
  int SetupContEncoders(VXNNCommon::Standardization inputMode,
                        VXNNCommon::Standardization outputMode);
  /// Sum of UpdateNumberOfCategories over all variables.
  int UpdateNumbersOfCategories();

  /// A string user-missing value (string categorical variables only).
  bool AddDiscreteUserMissing(int index, const std::string& value, const std::string& label);
  /// A numeric user-missing value (continuous and numeric categorical).
  bool AddDiscreteUserMissing(int index, double value, const std::string& label);
  /// The closed interval low..high (the missing value opens an end) replaces
  /// any earlier one; refused for string categorical variables.
  bool SetMissingInterval(int index, double low, double high);
  /// Sets the text that stands for a missing value of the variable at index;
  /// false out of range.
  bool SetMissingValueReplacement(int index, const std::string& text);

  /// The weighted number of records behind the statistics; values not above 0
  /// are ignored.
  void SetWeightedCount(double count);
  /// The weighted number of records behind the statistics; 0 until set.
  double GetWeightedCount() const { return fWeightedCount; }
  /// Takes ownership (null clears). Kept and cloned, never saved.
  void SetFieldFormatsElement(VXXML_1_2::XMLElement* element);
  ///@{
  /// The field-formats element (owned by the list); null when none is set.
  VXXML_1_2::XMLElement* GetFieldFormatsElement() { return fFieldFormatsElement.get(); }
  const VXXML_1_2::XMLElement* GetFieldFormatsElement() const { return fFieldFormatsElement.get(); }
  ///@}

  /// Binary form: tag, count, each variable's measure level and record, then
  /// the continuous and categorical counts. Returns the bytes written. The
  /// weighted count and the field-formats element are not in either stream.
  int WriteObject(std::ostream& out) const;
  /// Destroys the variables first, then reads the binary form; returns the
  /// bytes read. The weighted count and the field-formats element are left as
  /// they are. A read that fails (or counts that do not match the variables
  /// read) writes one line to standard error and throws a new
  /// VXNeural::IOException by pointer.
  int ReadObject(std::istream& in);
  /// The XML object-stream form of the same values, at nesting level level.
  int WriteObjectXML(std::ostream& out, int level) const;
  /// Reads the XML form; as ReadObject otherwise.
  int ReadObjectXML(std::istream& in);
  /// A readable listing of the counts and every variable, for diagnostics.
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
