// Numeric user-missing values: a list of discrete values with labels and an
// optional closed interval.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "vxneural/variables/INNUserMissing.h"
#include "vxneural/variables/NNNumericInterval.h"

/// Numeric user-missing values: discrete values with labels and an optional
/// closed interval.
class NNNumericUserMissing : public INNUserMissing {
 public:
  /// No values and no interval.
  NNNumericUserMissing() = default;

  DataType GetDataType() const override { return kNumericData; }
  int GetNDiscreteValues() const override { return static_cast<int>(fDiscreteValues.size()); }
  bool HasInterval() const override { return fHasInterval; }
  NNNumericUserMissing* Clone() const override { return new NNNumericUserMissing(*this); }
  bool IsEqualTo(const INNUserMissing* other) const override;
  /// One Extension element per closed end of a non-empty interval, then one
  /// Value element (property "missing") per discrete value.
  std::vector<VXXML_1_2::XMLElement*> ExportXML() const override;
  int WriteObject(std::ostream& out) const override;
  int ReadObject(std::istream& in) override;
  int WriteObjectXML(std::ostream& out, int level) const override;
  int ReadObjectXML(std::istream& in) override;
  void Display(std::ostream& out) const override;

  /// Appends without checking for duplicates.
  void AddValue(double value, const std::string& label);
  /// Replaces any earlier interval.
  void SetInterval(const NNNumericInterval& interval);
  /// The interval; null when no interval is set.
  const NNNumericInterval* GetInterval() const { return fHasInterval ? &fInterval : nullptr; }
  /// The discrete values in the order added.
  const std::vector<double>& GetDiscreteValues() const { return fDiscreteValues; }
  /// The discrete values' labels, in the same order.
  const std::vector<std::string>& GetValueLabels() const { return fValueLabels; }
  /// One of the discrete values, or inside the interval when there is one.
  bool Contains(double x) const;

 private:
  std::vector<double> fDiscreteValues;
  std::vector<std::string> fValueLabels;
  NNNumericInterval fInterval;
  bool fHasInterval = false;
};
