// The XML object stream's readers. Each input is walked as a saved-object
// document: at every point each reader is tried in turn (the stream is
// rewound after a refusal), so any document the writers could produce is
// read to its end and any other meets every reader. The promises checked:
//   - readers refuse by returning false, never by throwing or crashing;
//   - every value a reader accepts, written again by the writer, reads back
//     the same (bit for bit for doubles, byte for byte for strings);
//   - any byte string, as a string value or as an object name, survives a
//     write and a read.
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>

#include "FuzzCommon.h"
#include "vxcommon/XMLStream.h"

namespace {

using namespace VXXML_1_2;

// Names of the objects a saved model holds.
const char* const kObjectNames[] = {"MLPSettings",
                                    "RBFSettings",
                                    "NeuralSettings",
                                    "MLPStopRules",
                                    "NNVarList",
                                    "NNContVar",
                                    "NNCatVar",
                                    "NNNumericUserMissing",
                                    "NNStringUserMissing",
                                    "NNNumericInterval",
                                    "NNLinearEncoder",
                                    "NNCatNumEncoder",
                                    "NNStringEncoder",
                                    "RecordBufferIter",
                                    "MLPAlgorithm 1.00",
                                    "RBFAlgorithm 1.00",
                                    "VXRandom",
                                    "NNetwork",
                                    "MLPLayer",
                                    "RBFInputLayer",
                                    "RBFHiddenLayer",
                                    "RBFOutputLayer",
                                    "ScaledConjGrad",
                                    "GradientDescentBatch",
                                    "GradientDescentMBO",
                                    "LinearRegr",
                                    "RBFLinReg",
                                    "MultiVariateRegression"};

template <typename T>
bool Same(const T& a, const T& b) {
  return a == b;
}
template <>
bool Same(const double& a, const double& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// Writes value as the one value of an object named name and reads it back.
template <typename T>
void CheckRoundTrip(const std::string& name, const T& value) {
  // One stream for every round trip, emptied each time: building a string
  // stream (its locale above all) cost more than the trip of a short value.
  static std::stringstream s;
  s.str(std::string());
  s.clear();
  const XMLObj obj(name, 1);
  fuzz::Check(obj.StartObj(s) && obj.WriteSubElement(s, value) && obj.EndObj(s),
              "the writer writes to a good stream");
  T back{};
  fuzz::Check(ParseStartObj(s, name), "an object start reads back under its name");
  fuzz::Check(ParseValue(s, back), "a written value reads back");
  fuzz::Check(Same(back, value), "a written value reads back unchanged");
  fuzz::Check(ParseEndObj(s), "an object end reads back");
}

// Tries one reader at the stream's current position; on a refusal the
// stream is put back where it was.
template <typename Read>
bool Try(std::istringstream& in, Read&& read) {
  const std::streampos at = in.tellg();
  if (read()) return true;
  in.clear();
  in.seekg(at);
  return false;
}

template <typename T>
bool TryValue(std::istringstream& in) {
  T value{};
  if (!Try(in, [&] { return ParseValue(in, value); })) return false;
  CheckRoundTrip<T>("v", value);
  return true;
}

// The name of the next tag after position at, skipping comments: a guess
// that picks which reader to try first (the others are tried after it).
// where: the position of its '<'.
std::string NextTag(const std::string& bytes, std::size_t at, std::size_t& where) {
  for (;;) {
    at = bytes.find('<', at);
    if (at == std::string::npos) return "";
    if (bytes.compare(at, 4, "<!--") != 0) break;
    at = bytes.find("-->", at);
    if (at == std::string::npos) return "";
  }
  where = at;
  const std::size_t end = bytes.find_first_of(" \t\r\n>", at);
  return bytes.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
}

bool TryStep(std::istringstream& in, const std::string& bytes) {
  std::size_t where = 0;
  const std::string tag = NextTag(bytes, static_cast<std::size_t>(in.tellg()), where);
  if (tag == "int" && TryValue<int>(in)) return true;
  if (tag == "long" && TryValue<long>(in)) return true;
  if (tag == "unsigned" && TryValue<unsigned int>(in)) return true;
  if (tag == "double" && TryValue<double>(in)) return true;
  if (tag == "bool" && TryValue<bool>(in)) return true;
  if (tag == "string" && TryValue<std::string>(in)) return true;
  if (tag == "/object" && Try(in, [&] { return ParseEndObj(in); })) return true;
  if (tag == "object") {
    // The name is looked for up to the next '<' (which no attribute value
    // holds) only: searching the rest of the document at every step made
    // long inputs cost quadratic time.
    const std::size_t end = bytes.find('<', where + 1);
    const std::string_view text(bytes.data() + where,
                                (end == std::string::npos ? bytes.size() : end) - where);
    const std::size_t open = text.find("name=\"");
    const std::size_t close = open == text.npos ? text.npos : text.find('"', open + 6);
    if (close != text.npos) {
      const std::string name(text.substr(open + 6, close - open - 6));
      if (Try(in, [&] { return ParseStartObj(in, name); })) return true;
    }
  }
  // Whatever the guess, every reader still meets the input.
  if (TryValue<int>(in) || TryValue<long>(in) || TryValue<unsigned int>(in) ||
      TryValue<double>(in) || TryValue<bool>(in) || TryValue<std::string>(in))
    return true;
  if (Try(in, [&] { return ParseEndObj(in); })) return true;
  for (const char* name : kObjectNames)
    if (Try(in, [&] { return ParseStartObj(in, name); })) return true;
  return Try(in, [&] { return ParseEndXML(in); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string bytes = fuzz::Bytes(data, size);
  std::istringstream in(bytes);
  Try(in, [&] { return ParseStartXML(in); });
  while (in.good()) {
    const std::streampos at = in.tellg();
    if (!TryStep(in, bytes)) break;
    fuzz::Check(in.tellg() > at || !in.good(), "an accepted construct consumes input");
  }
  CheckRoundTrip<std::string>("v", bytes);
  CheckRoundTrip<int>(bytes, static_cast<int>(size));
  return 0;
}
