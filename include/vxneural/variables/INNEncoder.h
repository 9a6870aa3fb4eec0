// An encoder translates between a variable's raw values and network units.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

class INNUserMissing;

/// Maps a variable's raw values to network units and back: linear scaling
/// for a continuous variable (NNLinearEncoder), one unit per category for a
/// categorical one (NNCatNumEncoder, NNStringEncoder). The variable owns it.
class INNEncoder {
 public:
  /// The concrete kinds, as the saved forms name them.
  enum EncoderType { kNoEncoder = 0, kLinearEncoder = 1, kCatNumEncoder = 2, kStringEncoder = 3 };

  virtual ~INNEncoder() = default;
  /// The encoder's kind.
  virtual EncoderType GetEncoderType() const = 0;
  /// Categories the encoder knows (met or declared); 1 for a linear one.
  virtual int GetNumberOfCategories() const = 0;
  /// The categories' labels in category order (a linear encoder ignores them).
  virtual void SetValueLabels(const std::vector<std::string>& labels) = 0;
  /// The label of category `index` (from 0).
  virtual void SetValueLabel(int index, const std::string& label) = 0;
  /// Null when the encoder keeps no labels.
  virtual const std::vector<std::string>* GetValueLabels() const = 0;
  /// Takes ownership of um and returns true, or returns false and leaves um
  /// with the caller when its data type does not suit the encoder. Null clears.
  virtual bool SetUserMissingInfo(INNUserMissing* um) = 0;
  /// The user-missing values; null when none.
  virtual INNUserMissing* GetUserMissingInfo() = 0;
  /// The user-missing values; null when none.
  virtual const INNUserMissing* GetUserMissingInfo() const = 0;
  /// A deep copy on the heap, owned by the caller.
  virtual INNEncoder* Clone() const = 0;
  /// Writes the binary form; returns the bytes written.
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
