#include "vxneural/variables/NNCatNumEncoder.h"

#include <cmath>
#include <ostream>

#include "persist/BinaryIO.h"
#include "persist/Display.h"
#include "persist/XmlIO.h"
#include "vxcommon/VXMissing.h"

using VXNeural::detail::BinReader;
using VXNeural::detail::BinWriter;
using VXNeural::detail::kMaxCategories;
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
  const int n = GetNumberOfCategories();
  if (fValueLabels.size() < static_cast<std::size_t>(n))
    fValueLabels.resize(static_cast<std::size_t>(n));
  if (index >= 0 && index < n) fValueLabels[static_cast<std::size_t>(index)] = label;
}

bool NNCatNumEncoder::SetUserMissingInfo(INNUserMissing* um) {
  if (um == nullptr) {
    fUserMissing.reset();
    return true;
  }
  auto* numeric = um->GetDataType() == INNUserMissing::kNumericData
                      ? dynamic_cast<NNNumericUserMissing*>(um)
                      : nullptr;
  if (numeric == nullptr) return false;
  // Handing back the object already held must not destroy it.
  if (numeric != fUserMissing.get()) fUserMissing.reset(numeric);
  return true;
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
  w.Int(static_cast<int>(fValueLabels.size()));
  for (const std::string& label : fValueLabels) w.String(label);
  w.Int(fUserMissing ? 1 : 0);
  if (fUserMissing) w.Nested(fUserMissing->WriteObject(out));
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
  const int nLabels = r.Count(kMaxCategories, 4);
  std::vector<std::string> labels(static_cast<std::size_t>(nLabels));
  for (std::string& label : labels) label = r.String();
  fValueLabels = std::move(labels);
  const int hasUserMissing = r.Int();
  if (hasUserMissing != 0 && hasUserMissing != 1) r.Fail();
  if (hasUserMissing == 1) {
    auto um = std::make_unique<NNNumericUserMissing>();
    r.Nested(um->ReadObject(in));
    fUserMissing = std::move(um);
  }
  return r.Bytes();
}

int NNCatNumEncoder::WriteObjectXML(std::ostream& out, int level) const {
  XmlWriter w(out, kClass, level);
  w.Int(GetNumberOfCategories()).Doubles(fCateValues);
  w.Int(static_cast<int>(fValueLabels.size())).Strings(fValueLabels);
  w.Int(fUserMissing ? 1 : 0);
  if (fUserMissing) w.Nested(fUserMissing->WriteObjectXML(out, level + 1));
  return w.End();
}

int NNCatNumEncoder::ReadObjectXML(std::istream& in) {
  Clear();
  XmlReader r(in, kClass, kClass);
  const int n = r.Count(kMaxCategories);
  for (int i = 0; i < n; ++i)
    if (Encode(r.Double()) != i) r.Fail();
  const int nLabels = r.Count(kMaxCategories);
  fValueLabels = r.Strings(nLabels);
  const int hasUserMissing = r.Int();
  if (hasUserMissing != 0 && hasUserMissing != 1) r.Fail();
  if (hasUserMissing == 1) {
    auto um = std::make_unique<NNNumericUserMissing>();
    r.Nested(um->ReadObjectXML(in));
    fUserMissing = std::move(um);
  }
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
  if (fUserMissing) {
    out << "\t\tUser-missing values for this encoder:\n\t\t";
    fUserMissing->Display(out);
  }
  out << "End of NNCatNumEncoder display\n";
}
