// The scoring result of a continuous target: the network's output unit and
// that value in the target's raw units.
#pragma once

#include <iosfwd>

#include "vxneural/network/INNOutput.h"
#include "vxneural/variables/NNLinearEncoder.h"

class NNContVar;

/// The scoring result of a continuous target: the network's output unit and
/// that value in the target's raw units.
class NNContOutput : public INNOutput {
 public:
  /// Keeps a copy of the variable's encoder; without a variable (or encoder)
  /// the default encoder, an identity map.
  explicit NNContOutput(const NNContVar* var = nullptr);

  /// output = units[0]; real output = the encoder's Unnormalize(output), with
  /// no missing-value test. Returns the real output.
  double SetOutputs(const double* units) override;
  OutputType GetOutputType() const override { return kContinuous; }
  int GetNUnits() const override { return 1; }
  NNContOutput* Clone() const override { return new NNContOutput(*this); }
  void Display(std::ostream& out) const override;

  ///@{
  /// The output unit's value, and that value in the target's raw units. The
  /// missing value until the first SetOutputs.
  double GetOutput() const { return fOutput; }
  double GetRealOutput() const { return fRealOutput; }
  ///@}
  /// The copy of the target's encoder that maps the unit to raw units.
  const NNLinearEncoder& GetEncoder() const { return fEncoder; }

 private:
  double fOutput;
  double fRealOutput;
  NNLinearEncoder fEncoder;
};
