#include "persist/XmlIO.h"

#include <istream>

#include "persist/BinaryIO.h"

namespace VXNeural {
namespace detail {

namespace {
// No value sub-element of the stream is shorter than this (the stream
// primitives promise it); used to bound counts read from the stream.
constexpr std::size_t kMinValueBytes = VXXML_1_2::kMinValueBytes;

}  // namespace

XmlWriter::XmlWriter(std::ostream& out, const std::string& objectName, int level)
    : fOut(out), fObj(objectName, level) {
  fObj.StartObj(fOut);
}

XmlWriter& XmlWriter::Int(int value) { fObj.WriteSubElement(fOut, value); ++fCount; return *this; }
XmlWriter& XmlWriter::Long(long value) { fObj.WriteSubElement(fOut, value); ++fCount; return *this; }
XmlWriter& XmlWriter::Unsigned(unsigned int value) { fObj.WriteSubElement(fOut, value); ++fCount; return *this; }
XmlWriter& XmlWriter::Double(double value) { fObj.WriteSubElement(fOut, value); ++fCount; return *this; }
XmlWriter& XmlWriter::Bool(bool value) { fObj.WriteSubElement(fOut, value); ++fCount; return *this; }
XmlWriter& XmlWriter::String(const std::string& value) { fObj.WriteSubElement(fOut, value); ++fCount; return *this; }

XmlWriter& XmlWriter::Doubles(const double* values, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) Double(values[i]);
  return *this;
}
XmlWriter& XmlWriter::Ints(const std::vector<int>& values) {
  for (int v : values) Int(v);
  return *this;
}
XmlWriter& XmlWriter::Strings(const std::vector<std::string>& values) {
  for (const std::string& v : values) String(v);
  return *this;
}

int XmlWriter::End() {
  fObj.EndObj(fOut);
  return fCount;
}

XmlReader::XmlReader(std::istream& in, const std::string& objectName, std::string className,
                     const char* prefix, const char* suffix)
    : fIn(in), fClass(std::move(className)), fPrefix(prefix), fSuffix(suffix) {
  if (!VXXML_1_2::ParseStartObj(fIn, objectName)) Fail();
}

void XmlReader::Fail() const { ThrowReadError(fPrefix, fClass, fSuffix); }

template <typename T>
T XmlReader::Value() {
  T v{};
  if (!VXXML_1_2::ParseValue(fIn, v)) Fail();
  ++fCount;
  return v;
}

int XmlReader::Int() { return Value<int>(); }
long XmlReader::Long() { return Value<long>(); }
unsigned int XmlReader::Unsigned() { return Value<unsigned int>(); }
double XmlReader::Double() { return Value<double>(); }
bool XmlReader::Bool() { return Value<bool>(); }
std::string XmlReader::String() { return Value<std::string>(); }

int XmlReader::Count(int maxCount) {
  const int n = Int();
  if (n < 0 || n > maxCount) Fail();
  if (n > 0 && static_cast<std::size_t>(n) > StreamRemaining(fIn) / kMinValueBytes) Fail();
  return n;
}

std::vector<double> XmlReader::Doubles(int count) {
  if (count < 0 || count > kMaxElements ||
      (count > 0 && static_cast<std::size_t>(count) > StreamRemaining(fIn) / kMinValueBytes))
    Fail();
  std::vector<double> v(static_cast<std::size_t>(count));
  for (double& x : v) x = Double();
  return v;
}

std::vector<int> XmlReader::Ints(int count) {
  if (count < 0 || count > kMaxElements ||
      (count > 0 && static_cast<std::size_t>(count) > StreamRemaining(fIn) / kMinValueBytes))
    Fail();
  std::vector<int> v(static_cast<std::size_t>(count));
  for (int& x : v) x = Int();
  return v;
}

std::vector<std::string> XmlReader::Strings(int count) {
  if (count < 0 || count > kMaxElements ||
      (count > 0 && static_cast<std::size_t>(count) > StreamRemaining(fIn) / kMinValueBytes))
    Fail();
  std::vector<std::string> v(static_cast<std::size_t>(count));
  for (std::string& x : v) x = String();
  return v;
}

int XmlReader::End() {
  if (!VXXML_1_2::ParseEndObj(fIn)) Fail();
  return fCount;
}

}  // namespace detail
}  // namespace VXNeural
