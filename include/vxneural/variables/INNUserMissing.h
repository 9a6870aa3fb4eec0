// User-missing values: numbers, strings or a numeric range that count as
// missing for one variable. The variable's encoder owns the object.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace VXXML_1_2 {
class XMLElement;
}

/// The values that count as missing for one variable: NNNumericUserMissing
/// (numbers and a range) or NNStringUserMissing (texts).
class INNUserMissing {
 public:
  /// Whether the values are numbers or texts.
  enum DataType { kNumericData = 0, kStringData = 1 };

  virtual ~INNUserMissing() = default;
  /// Numbers or texts.
  virtual DataType GetDataType() const = 0;
  /// How many single values count as missing.
  virtual int GetNDiscreteValues() const = 0;
  /// Whether a range of numbers counts as missing.
  virtual bool HasInterval() const = 0;
  /// A deep copy on the heap, owned by the caller.
  virtual INNUserMissing* Clone() const = 0;
  /// Same kind, same values in the same order (labels ignored), same interval.
  virtual bool IsEqualTo(const INNUserMissing* other) const = 0;
  /// PMML fragments describing the values; new elements owned by the caller.
  virtual std::vector<VXXML_1_2::XMLElement*> ExportXML() const = 0;
  /// Writes the binary form; returns the bytes written. Binary forms are
  /// written to any ostream and read from any istream (a host's binary
  /// fstream, or an in-memory stream).
  virtual int WriteObject(std::ostream& out) const = 0;
  /// Reads the binary form; returns the bytes read. A read that fails writes
  /// one line to standard error and throws a new VXNeural::IOException by
  /// pointer.
  virtual int ReadObject(std::istream& in) = 0;
  /// Writes the XML object-stream form at nesting level `level`.
  virtual int WriteObjectXML(std::ostream& out, int level) const = 0;
  /// Reads the XML object-stream form; fails as ReadObject does.
  virtual int ReadObjectXML(std::istream& in) = 0;
  /// A readable listing, for diagnostics.
  virtual void Display(std::ostream& out) const = 0;
};

/// The "extender" attribute of the PMML Extension elements this component
/// writes (invalid-value ranges and other facts PMML has no element for).
inline constexpr const char* kPMMLExtender = "vxneural";
