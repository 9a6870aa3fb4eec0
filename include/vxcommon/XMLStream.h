// The XML object stream: a flat, typed, value-by-value serialisation used to
// save and restore objects. A writer emits one object as a start mark, one
// sub-element per value and an end mark; the reader mirrors those calls in the
// same order with variables of the same types. What one writes the other reads
// back unchanged, bit for bit for doubles (negative zero, infinities, NaN
// payloads and the missing value included) and byte for byte for strings.
//
// Lexical form (an implementation detail a reader must not rely on):
//
//   <?xml version="1.0" encoding="UTF-8"?>
//   <!DOCTYPE VXXMLRoot SYSTEM "savexml.dtd">
//   <VXXMLRoot>
//   <!-- notice -->
//     <object name="NNVarList">
//       <int>3</int>
//       <double>0.5</double>
//       <string>a &amp; b</string>
//     </object>
//   </VXXMLRoot>
//
// Object names go in an attribute because they need not be XML names (a
// versioned header such as "MLPAlgorithm 1.00" holds a space). Strings that
// XML 1.0 cannot carry as text (control characters, invalid UTF-8) are written
// as hexadecimal with enc="hex" so that every byte string survives; so are
// such object names. Carriage returns are written as "&#13;". Doubles are
// written in the shortest form that reads back to the same bits ("-0", "inf",
// "-inf"), a NaN as "nan:0x" and the 16 hexadecimal digits of its bits.
// Integers out of range for the type read, and anything after a number, are
// refused. White space and comments may stand between any two constructs.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>

namespace VXXML_1_2 {

/// Every value sub-element takes at least this many bytes, so a reader can
/// bound a count of values by what remains in the stream.
inline constexpr std::size_t kMinValueBytes = 8;

/// Longest string a reader accepts, so that a hostile stream cannot make it
/// allocate without bound.
inline constexpr std::size_t kMaxStringBytes = std::size_t{1} << 26;

/// Name of the root element of every saved-object document.
inline constexpr const char* kRootName = "VXXMLRoot";

/// The writer of one object: its start mark, its values, its end mark.
class XMLObj {
 public:
  /// level is the nesting depth, used for indentation only.
  XMLObj(std::string name, int level);

  ///@{
  /// Each returns whether the stream is still good afterwards.
  bool StartObj(std::ostream& out) const;
  bool WriteSubElement(std::ostream& out, int value) const;
  bool WriteSubElement(std::ostream& out, long value) const;
  bool WriteSubElement(std::ostream& out, unsigned int value) const;
  bool WriteSubElement(std::ostream& out, double value) const;
  bool WriteSubElement(std::ostream& out, bool value) const;
  bool WriteSubElement(std::ostream& out, const std::string& value) const;
  /// Without this a string literal would silently pick the bool overload.
  bool WriteSubElement(std::ostream& out, const char* value) const;
  ///@}
  /// The end mark; whether the stream is still good afterwards.
  bool EndObj(std::ostream& out) const;

  /// The object's name.
  const std::string& Name() const { return fName; }
  /// The nesting depth given.
  int Level() const { return fLevel; }

 private:
  std::string fName;
  int fLevel;
};

///@{
/// Readers. Each consumes exactly its own construct (and any comments or
/// white space before it) and returns false, without throwing, on anything
/// else: end of input, malformed markup, a different object name, a value of
/// another type, a number out of range for the target type. After a false
/// return the stream position is unspecified; callers abandon the read.
bool ParseStartXML(std::istream& in);  ///< prolog, document type, root start
bool ParseStartObj(std::istream& in, const std::string& name);
bool ParseValue(std::istream& in, int& value);
bool ParseValue(std::istream& in, long& value);
bool ParseValue(std::istream& in, unsigned int& value);
bool ParseValue(std::istream& in, double& value);
bool ParseValue(std::istream& in, bool& value);
bool ParseValue(std::istream& in, std::string& value);
bool ParseEndObj(std::istream& in);
bool ParseEndXML(std::istream& in);  ///< root end
///@}

}  // namespace VXXML_1_2
