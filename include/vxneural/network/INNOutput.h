// The scoring result for one target variable.
#pragma once

#include <iosfwd>

class INNOutput {
 public:
  // Display texts: VXNNCommon::DisplayText(NetworkOutputType).
  enum OutputType { kContinuous = 0, kCategorical = 1 };

  virtual ~INNOutput() = default;
  // Takes this output's GetNUnits() values from units and returns the
  // prediction: the raw-unit value of a continuous target, the winning
  // category code of a categorical one.
  virtual double SetOutputs(const double* units) = 0;
  virtual OutputType GetOutputType() const = 0;
  virtual int GetNUnits() const = 0;
  virtual INNOutput* Clone() const = 0;
  virtual void Display(std::ostream& out) const = 0;
};
