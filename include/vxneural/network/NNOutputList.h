// The result of scoring one record: one output per target variable, in the
// order of the targets in the variable list, and a flag saying the whole
// result is missing.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "vxneural/network/INNOutput.h"

class NNVarList;

/// An algorithm owns one list, refills it on every Score and hands the host a
/// const reference that stays valid until the next call.
class NNOutputList {
 public:
  /// No outputs; missing.
  NNOutputList();
  /// One output per Output variable, in list order: NNContOutput for a
  /// continuous variable, NNCategOutput otherwise; the names follow the
  /// outputs.
  explicit NNOutputList(const NNVarList& varList);
  /// One output per entry: an identity-mapped NNContOutput for 1, an
  /// NNCategOutput with that many units otherwise. No names.
  explicit NNOutputList(const std::vector<int>& outputCategories);
  /// A deep copy: every output is cloned.
  NNOutputList(const NNOutputList& other);
  /// A deep copy: every output is cloned.
  NNOutputList& operator=(const NNOutputList& other);
  /// Takes other's outputs.
  NNOutputList(NNOutputList&&) noexcept = default;
  /// Takes other's outputs.
  NNOutputList& operator=(NNOutputList&&) noexcept = default;
  /// Destroys the outputs.
  ~NNOutputList();

  /// Fills every output from consecutive units (each takes GetNUnits() of
  /// them), so units must hold at least the total number of output units.
  /// Clears the missing flag when any unit was read. Returns the last
  /// output's prediction, or the missing value (changing nothing) when the
  /// list has no outputs.
  double SetOutputs(const double* units);
  /// Marks the list missing. Output values are left as they were but can no
  /// longer be reached.
  void SetMissing() { fMissing = true; }
  /// True while the list is missing (new, or after SetMissing, until a
  /// SetOutputs reads a unit).
  bool IsMissing() const { return fMissing; }
  /// Null while the list is missing or for an index out of range.
  const INNOutput* GetOutputAt(int index) const;
  /// The number of outputs, missing or not.
  int Size() const { return static_cast<int>(fOutputs.size()); }
  /// Index among the target names, -1 when absent.
  int FindName(const std::string& name) const;
  /// The target names, in output order; empty when built without a list.
  const std::vector<std::string>& GetNames() const { return fNames; }
  /// The number of categorical outputs.
  int GetNCategorical() const { return fNCategorical; }
  /// The number of continuous outputs.
  int GetNContinuous() const { return fNContinuous; }
  /// Total number of units the outputs read.
  int GetNUnits() const;
  /// A readable listing of the counts, names, outputs and missing flag.
  void Display(std::ostream& out) const;

 private:
  std::vector<std::unique_ptr<INNOutput>> fOutputs;
  std::vector<std::string> fNames;
  int fNCategorical;
  int fNContinuous;
  bool fMissing;
};
