// The scoring result for one target variable.
#pragma once

#include <iosfwd>

/// The scoring result for one target variable: continuous (NNContOutput) or
/// categorical (NNCategOutput).
class INNOutput {
 public:
  /// Display texts: VXNNCommon::DisplayText(NetworkOutputType).
  enum OutputType { kContinuous = 0, kCategorical = 1 };

  /// Destroys the output.
  virtual ~INNOutput() = default;
  /// Takes this output's GetNUnits() values from units and returns the
  /// prediction: the raw-unit value of a continuous target, the winning
  /// category code of a categorical one.
  virtual double SetOutputs(const double* units) = 0;
  /// Continuous or categorical.
  virtual OutputType GetOutputType() const = 0;
  /// The number of output units this output reads.
  virtual int GetNUnits() const = 0;
  /// A deep copy on the heap, owned by the caller.
  virtual INNOutput* Clone() const = 0;
  /// A readable listing, for diagnostics.
  virtual void Display(std::ostream& out) const = 0;
};
