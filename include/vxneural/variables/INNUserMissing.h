// User-missing values: numbers, strings or a numeric range that count as
// missing for one variable. The variable's encoder owns the object.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace VXXML_1_2 {
class XMLElement;
}

class INNUserMissing {
 public:
  enum DataType { kNumericData = 0, kStringData = 1 };

  virtual ~INNUserMissing() = default;
  virtual DataType GetDataType() const = 0;
  virtual int GetNDiscreteValues() const = 0;
  virtual bool HasInterval() const = 0;
  virtual INNUserMissing* Clone() const = 0;
  // Same kind, same values in the same order (labels ignored), same interval.
  virtual bool IsEqualTo(const INNUserMissing* other) const = 0;
  // PMML fragments describing the values; new elements owned by the caller.
  virtual std::vector<VXXML_1_2::XMLElement*> ExportXML() const = 0;
  // Binary streams are written to any ostream and read from any istream (a
  // host's binary fstream, or an in-memory stream in tests).
  virtual int WriteObject(std::ostream& out) const = 0;
  virtual int ReadObject(std::istream& in) = 0;
  virtual int WriteObjectXML(std::ostream& out, int level) const = 0;
  virtual int ReadObjectXML(std::istream& in) = 0;
  virtual void Display(std::ostream& out) const = 0;
};

// The "extender" attribute of the PMML Extension elements this component
// writes (invalid-value ranges and other facts PMML has no element for).
inline constexpr const char* kPMMLExtender = "vxneural";
