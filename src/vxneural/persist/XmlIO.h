// The one XML object writer and reader behind every persistent class, on top
// of the host library's XMLObj primitives. A writer emits one object (start,
// values in order, nested objects in place, end) and counts the values; the
// reader mirrors it. Any failed step writes "<prefix><class>!\n" to standard
// error and throws a newly allocated VXNeural::IOException by pointer. The
// prefix is "Failure reading " for most classes; the settings classes use
// "Error reading " in both streams. A class whose message does not end in
// "!\n" gives its own suffix.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

#include "vxcommon/XMLStream.h"

namespace VXNeural {
namespace detail {

class XmlWriter {
 public:
  // Writes the start of the object at once.
  XmlWriter(std::ostream& out, const std::string& objectName, int level);
  XmlWriter(const XmlWriter&) = delete;
  XmlWriter& operator=(const XmlWriter&) = delete;

  XmlWriter& Int(int value);
  XmlWriter& Long(long value);
  XmlWriter& Unsigned(unsigned int value);
  XmlWriter& Double(double value);
  XmlWriter& Bool(bool value);
  XmlWriter& String(const std::string& value);
  XmlWriter& Doubles(const double* values, std::size_t count);
  XmlWriter& Doubles(const std::vector<double>& values) { return Doubles(values.data(), values.size()); }
  XmlWriter& Ints(const std::vector<int>& values);
  XmlWriter& Strings(const std::vector<std::string>& values);
  XmlWriter& Nested(int count) { fCount += count; return *this; }
  // Writes the end of the object and returns the number of values written.
  int End();
  int Level() const { return fObj.Level(); }

 private:
  std::ostream& fOut;
  VXXML_1_2::XMLObj fObj;
  int fCount = 0;
};

class XmlReader {
 public:
  // Reads the start of the object at once.
  XmlReader(std::istream& in, const std::string& objectName, std::string className,
            const char* prefix = "Failure reading ", const char* suffix = "!\n");
  XmlReader(const XmlReader&) = delete;
  XmlReader& operator=(const XmlReader&) = delete;

  int Int();
  long Long();
  unsigned int Unsigned();
  double Double();
  bool Bool();
  std::string String();
  // A count of values that follow: refused when negative, above maxCount, or
  // larger than what remains in the stream could hold.
  int Count(int maxCount);
  std::vector<double> Doubles(int count);
  std::vector<int> Ints(int count);
  std::vector<std::string> Strings(int count);
  XmlReader& Nested(int count) { fCount += count; return *this; }
  // Reads the end of the object and returns the number of values read.
  int End();
  [[noreturn]] void Fail() const;

 private:
  template <typename T>
  T Value();
  std::istream& fIn;
  std::string fClass;
  const char* fPrefix;
  const char* fSuffix;
  int fCount = 0;
};

}  // namespace detail
}  // namespace VXNeural
