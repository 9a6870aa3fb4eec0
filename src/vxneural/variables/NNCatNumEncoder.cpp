#include "vxneural/variables/NNCatNumEncoder.h"

#include <cmath>
#include <ostream>

#include "persist/BinaryIO.h"
#include "persist/Display.h"
#include "persist/XmlIO.h"
#include "variables/EncoderCommon.h"
#include "vxcommon/VXMissing.h"

using VXNeural::detail::BinReader;
using VXNeural::detail::BinWriter;
using VXNeural::detail::DisplayUserMissing;
using VXNeural::detail::kMaxCategories;
using VXNeural::detail::ReadLabels;
using VXNeural::detail::ReadUserMissing;
using VXNeural::detail::WriteLabels;
using VXNeural::detail::WriteUserMissing;
using VXNeural::detail::XmlReader;
using VXNeural::detail::XmlWriter;

namespace {
const char kClass[] = "NNCatNumEncoder";
const char kTag[] = "CNEN";
}  // namespace

NNCatNumEncoder::NNCatNumEncoder(int expectedCount) {
  if (expectedCount > 0 && expectedCount <= kMaxCategories)
    fCateValues.reserve(static_cast<std::size_t>(expectedCount));
}

NNCatNumEncoder::NNCatNumEncoder(const std::vector<double>& values) {
  for (double v : values) Encode(v);
}

NNCatNumEncoder::NNCatNumEncoder(const NNCatNumEncoder& other)
    : fCodeMap(other.fCodeMap),
      fCateValues(other.fCateValues),
      fValueLabels(other.fValueLabels),
      fLastCode(other.fLastCode),
      fUserMissing(other.fUserMissing ? other.fUserMissing->Clone() : nullptr) {}

NNCatNumEncoder& NNCatNumEncoder::operator=(const NNCatNumEncoder& other) {
  if (this != &other) {
    fUserMissing.reset(other.fUserMissing ? other.fUserMissing->Clone() : nullptr);
    fCodeMap = other.fCodeMap;
    fCateValues = other.fCateValues;
    fValueLabels = other.fValueLabels;
    fLastCode = other.fLastCode;
  }
  return *this;
}

NNCatNumEncoder::~NNCatNumEncoder() = default;

void NNCatNumEncoder::Clear() {
  fCodeMap.clear();
  fCateValues.clear();
  fValueLabels.clear();
  fLastCode = -1;
  fUserMissing.reset();
}

void NNCatNumEncoder::SetValueLabel(int index, const std::string& label) {
  VXNeural::detail::SetPaddedLabel(fValueLabels, GetNumberOfCategories(), index, label);
}

bool NNCatNumEncoder::SetUserMissingInfo(INNUserMissing* um) {
  return VXNeural::detail::AdoptUserMissing(fUserMissing, um, INNUserMissing::kNumericData);
}

INNUserMissing* NNCatNumEncoder::GetUserMissingInfo() { return fUserMissing.get(); }
const INNUserMissing* NNCatNumEncoder::GetUserMissingInfo() const { return fUserMissing.get(); }

int NNCatNumEncoder::EncodeConst(double x) const {
  // NaN equals nothing, and as a map key it would break the ordering.
  if (x == VXMV::gMissingValue || std::isnan(x)) return -1;
  if (fUserMissing && fUserMissing->Contains(x)) return -1;
  const auto it = fCodeMap.find(x);
  return it == fCodeMap.end() ? -1 : it->second;
}

int NNCatNumEncoder::Encode(double x) {
  if (x == VXMV::gMissingValue || std::isnan(x)) return -1;
  if (fUserMissing && fUserMissing->Contains(x)) return -1;
  const auto it = fCodeMap.find(x);
  if (it != fCodeMap.end()) return it->second;
  ++fLastCode;
  fCodeMap.emplace(x, fLastCode);
  fCateValues.push_back(x);
  return fLastCode;
}

double NNCatNumEncoder::Decode(int code) const {
  if (code < 0 || code >= GetNumberOfCategories()) return VXMV::gMissingValue;
  return fCateValues[static_cast<std::size_t>(code)];
}

int NNCatNumEncoder::WriteObject(std::ostream& out) const {
  BinWriter w(out);
  w.Tag(kTag).Int(GetNumberOfCategories()).Doubles(fCateValues);
  WriteLabels(w, fValueLabels);
  WriteUserMissing(w, out, fUserMissing.get());
  return w.Bytes();
}

int NNCatNumEncoder::ReadObject(std::istream& in) {
  BinReader r(in, kClass);
  Clear();
  r.ExpectTag(kTag);
  const int n = r.Count(kMaxCategories, 8);
  for (int i = 0; i < n; ++i)
    // A stored category that does not get back its own code (a repeat or a
    // missing value) cannot come from a valid encoder.
    if (Encode(r.Double()) != i) r.Fail();
  fValueLabels = ReadLabels(r);
  fUserMissing = ReadUserMissing<NNNumericUserMissing>(r, in);
  return r.Bytes();
}

int NNCatNumEncoder::WriteObjectXML(std::ostream& out, int level) const {
  XmlWriter w(out, kClass, level);
  w.Int(GetNumberOfCategories()).Doubles(fCateValues);
  WriteLabels(w, fValueLabels);
  WriteUserMissing(w, out, level, fUserMissing.get());
  return w.End();
}

int NNCatNumEncoder::ReadObjectXML(std::istream& in) {
  Clear();
  XmlReader r(in, kClass, kClass);
  const int n = r.Count(kMaxCategories);
  for (int i = 0; i < n; ++i)
    if (Encode(r.Double()) != i) r.Fail();
  fValueLabels = ReadLabels(r);
  fUserMissing = ReadUserMissing<NNNumericUserMissing>(r, in);
  return r.End();
}

void NNCatNumEncoder::Display(std::ostream& out) const {
  VXNeural::detail::DisplayPrecision precision(out);
  out << "Start of NNCatNumEncoder display\n";
  out << "Last code = " << fLastCode << '\n';
  out << "Numeric values of categories\n";
  for (std::size_t i = 0; i < fCateValues.size(); ++i)
    out << '\t' << i << ": " << fCateValues[i] << '\n';
  out << "Value labels:\n";
  for (std::size_t i = 0; i < fValueLabels.size(); ++i)
    out << '\t' << i << ": " << fValueLabels[i] << '\n';
  DisplayUserMissing(out, fUserMissing.get());
  out << "End of NNCatNumEncoder display\n";
}
