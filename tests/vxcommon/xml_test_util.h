// Helpers shared by the XML suites: a sample saved-object document with every
// value type, its reader, and a bridge to xmllint as an independent parser.
#pragma once

#include <cfloat>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <istream>
#include <limits>
#include <memory>
#include <sstream>
#include <string>

#include "vxcommon/Callbacks.h"
#include "vxcommon/VXMissing.h"
#include "vxcommon/XMLStream.h"
#include "vxcommon/XMLTree.h"

namespace vxtest {

inline double FromBits(std::uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

inline std::uint64_t Bits(double d) {
  std::uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  return bits;
}

inline std::string DocumentHead(const std::string& notice = "Saved by the vxcommon tests") {
  std::ostringstream out;
  std::unique_ptr<VXXML_1_2::XMLDocType> docType(
      VXXML_1_2::XMLDocType::Create(VXXML_1_2::kRootName, "savexml.dtd", 0));
  docType->Write(out);
  VXXML_1_2::StartRoot(out, notice);
  return out.str();
}

// Names and values of the sample document.
inline const std::string kOuterName = "MLPAlgorithm 1.00";
inline const std::string kMiddleName = "Nested <&\"'> name";
inline const std::string kInnerName = "inn\x02r \xC3\xBC";  // control character: hex name
inline const double kNanPayload = FromBits(0xFFF0000000000123ULL);
inline const std::string kPlain = "a & b <c> \xC3\xA9t\xC3\xA9";
inline const std::string kControl = std::string("\x01z\0", 3);
inline const std::string kSpaces = "  two spaces\teach side  ";

// Three nested objects (levels 0, 1, 2) holding every value type.
inline std::string SampleDocument() {
  using VXXML_1_2::XMLObj;
  std::ostringstream out;
  out << DocumentHead();
  const XMLObj outer(kOuterName, 0), middle(kMiddleName, 1), inner(kInnerName, 2);
  outer.StartObj(out);
  outer.WriteSubElement(out, INT_MIN);
  outer.WriteSubElement(out, LONG_MAX);
  outer.WriteSubElement(out, UINT_MAX);
  outer.WriteSubElement(out, -0.0);
  outer.WriteSubElement(out, true);
  outer.WriteSubElement(out, kPlain);
  middle.StartObj(out);
  middle.WriteSubElement(out, VXMV::gMissingValue);
  middle.WriteSubElement(out, kNanPayload);
  middle.WriteSubElement(out, std::string());
  middle.WriteSubElement(out, kControl);
  inner.StartObj(out);
  inner.WriteSubElement(out, std::numeric_limits<double>::denorm_min());
  inner.WriteSubElement(out, -std::numeric_limits<double>::infinity());
  inner.WriteSubElement(out, false);
  inner.WriteSubElement(out, kSpaces);
  inner.EndObj(out);
  middle.WriteSubElement(out, 7);
  middle.EndObj(out);
  outer.WriteSubElement(out, 0.1);
  outer.EndObj(out);
  VXXML_1_2::EndRoot(out);
  return out.str();
}

// Reads one value and notes whether it is the expected one.
class ValueChecker {
 public:
  explicit ValueChecker(std::istream& in) : fIn(in) {}
  template <typename T, typename Matches>
  bool operator()(T& value, Matches matches) {
    if (!VXXML_1_2::ParseValue(fIn, value)) return false;
    if (!matches(value)) fSame = false;
    return true;
  }
  bool Same() const { return fSame; }

 private:
  std::istream& fIn;
  bool fSame = true;
};

// Reads the sample back. Returns whether every read succeeded; *same tells
// whether every value equals the one written (doubles bit for bit).
inline bool ReadSampleDocument(std::istream& in, bool* same) {
  using namespace VXXML_1_2;
  ValueChecker read(in);
  int i = 0;
  long l = 0;
  unsigned u = 0;
  double d = 0.0;
  bool b = false;
  std::string s;
  const auto is = [](auto expected) { return [expected](auto v) { return v == expected; }; };
  const auto bits = [](double expected) {
    return [expected](double v) { return Bits(v) == Bits(expected); };
  };
  const bool ok =
      ParseStartXML(in) && ParseStartObj(in, kOuterName) && read(i, is(INT_MIN)) &&
      read(l, is(LONG_MAX)) && read(u, is(UINT_MAX)) && read(d, bits(-0.0)) && read(b, is(true)) &&
      read(s, is(kPlain)) && ParseStartObj(in, kMiddleName) && read(d, bits(VXMV::gMissingValue)) &&
      read(d, bits(kNanPayload)) && read(s, is(std::string())) && read(s, is(kControl)) &&
      ParseStartObj(in, kInnerName) && read(d, bits(std::numeric_limits<double>::denorm_min())) &&
      read(d, bits(-std::numeric_limits<double>::infinity())) && read(b, is(false)) &&
      read(s, is(kSpaces)) && ParseEndObj(in) && read(i, is(7)) && ParseEndObj(in) &&
      read(d, bits(0.1)) && ParseEndObj(in) && ParseEndXML(in);
  if (same != nullptr) *same = read.Same();
  return ok;
}

inline bool HaveXmllint() { return std::ifstream("/usr/bin/xmllint").good(); }

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs "xmllint <options> FILE" on document; true when it exits with 0.
// Its standard output goes to *output when given.
inline bool RunXmllint(const std::string& document, const std::string& options,
                       std::string* output = nullptr) {
  VXCommon_1_2::VXDefaultTempFileNameMaker names("", "vxcommon-test");
  const std::string file = names.GetTempFileName();
  const std::string result = names.GetTempFileName();
  {
    std::ofstream out(file, std::ios::binary);
    out << document;
  }
  const std::string command =
      "/usr/bin/xmllint " + options + " '" + file + "' > '" + result + "' 2>/dev/null";
  const int status = std::system(command.c_str());
  if (output != nullptr) *output = ReadFile(result);
  std::remove(file.c_str());
  std::remove(result.c_str());
  return status == 0;
}

}  // namespace vxtest
