// String user-missing values, each with a label; matched exactly
// (case-sensitive).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "vxneural/variables/INNUserMissing.h"

/// String user-missing values, each with a label, matched exactly
/// (case-sensitive).
class NNStringUserMissing : public INNUserMissing {
 public:
  /// No values.
  NNStringUserMissing() = default;

  DataType GetDataType() const override { return kStringData; }
  int GetNDiscreteValues() const override { return static_cast<int>(fDiscreteValues.size()); }
  bool HasInterval() const override { return false; }
  NNStringUserMissing* Clone() const override { return new NNStringUserMissing(*this); }
  bool IsEqualTo(const INNUserMissing* other) const override;
  /// One Value element (property "missing") per discrete value.
  std::vector<VXXML_1_2::XMLElement*> ExportXML() const override;
  int WriteObject(std::ostream& out) const override;
  int ReadObject(std::istream& in) override;
  int WriteObjectXML(std::ostream& out, int level) const override;
  int ReadObjectXML(std::istream& in) override;
  void Display(std::ostream& out) const override;

  /// Appends without checking for duplicates.
  void AddValue(const std::string& value, const std::string& label);
  /// The values in the order added.
  const std::vector<std::string>& GetDiscreteValues() const { return fDiscreteValues; }
  /// The values' labels, in the same order.
  const std::vector<std::string>& GetValueLabels() const { return fValueLabels; }
  /// True when s equals one of the values exactly.
  bool Contains(const std::string& s) const;

 private:
  std::vector<std::string> fDiscreteValues;
  std::vector<std::string> fValueLabels;
};
