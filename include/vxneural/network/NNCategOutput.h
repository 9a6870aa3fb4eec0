// The scoring result of a categorical target: one value per category unit
// (class probabilities under SoftMax), the winning category and whether the
// win is tied.
#pragma once

#include <iosfwd>
#include <vector>

#include "vxneural/network/INNOutput.h"

class NNCatVar;

/// The scoring result of a categorical target: one value per category unit,
/// the winning category and whether the win is tied.
class NNCategOutput : public INNOutput {
 public:
  /// One unit per category of the variable (none without a variable).
  explicit NNCategOutput(const NNCatVar* var);
  /// A negative count gives no units.
  explicit NNCategOutput(int nUnits);

  /// Copies the units; the first of several equal maxima wins, and a later
  /// unit with exactly that value marks a tie. Returns the winning index.
  double SetOutputs(const double* units) override;
  OutputType GetOutputType() const override { return kCategorical; }
  int GetNUnits() const override { return fNUnits; }
  NNCategOutput* Clone() const override { return new NNCategOutput(*this); }
  void Display(std::ostream& out) const override;

  /// Filled with the missing value until the first SetOutputs.
  const std::vector<double>& GetOutputs() const { return fOutputs; }
  /// The missing value until the first SetOutputs.
  double GetMaxOutput() const { return fMaxOutput; }
  /// A category code of the target's encoder; -1 until the first SetOutputs.
  int GetWinningIndex() const { return fWinningIndex; }
  /// True when a later unit equals the winning maximum exactly; false until
  /// the first SetOutputs.
  bool HasTie() const { return fHasTie; }

 private:
  int fNUnits;
  std::vector<double> fOutputs;
  double fMaxOutput;
  int fWinningIndex;
  bool fHasTie;
};
