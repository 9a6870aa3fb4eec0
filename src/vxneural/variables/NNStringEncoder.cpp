#include "vxneural/variables/NNStringEncoder.h"

#include <ostream>

#include "persist/BinaryIO.h"
#include "persist/XmlIO.h"
#include "variables/EncoderCommon.h"

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
const char kClass[] = "NNStringEncoder";
const char kTag[] = "STEN";
}  // namespace

NNStringEncoder::NNStringEncoder(int expectedCount) {
  if (expectedCount > 0 && expectedCount <= kMaxCategories)
    fLinks.reserve(static_cast<std::size_t>(expectedCount));
}

NNStringEncoder::NNStringEncoder(const std::vector<std::string>& values) {
  for (const std::string& v : values) Encode(v);
}

NNStringEncoder::NNStringEncoder(const NNStringEncoder& other)
    : fCodeMap(other.fCodeMap),
      fValueLabels(other.fValueLabels),
      fLastCode(other.fLastCode),
      fUserMissing(other.fUserMissing ? other.fUserMissing->Clone() : nullptr) {
  CreateLinks();
}

NNStringEncoder& NNStringEncoder::operator=(const NNStringEncoder& other) {
  if (this != &other) {
    fUserMissing.reset(other.fUserMissing ? other.fUserMissing->Clone() : nullptr);
    fCodeMap = other.fCodeMap;
    fValueLabels = other.fValueLabels;
    fLastCode = other.fLastCode;
    CreateLinks();
  }
  return *this;
}

NNStringEncoder::~NNStringEncoder() = default;

void NNStringEncoder::CreateLinks() {
  fLinks.assign(static_cast<std::size_t>(fLastCode + 1), nullptr);
  for (const auto& entry : fCodeMap)
    if (entry.second >= 0 && entry.second <= fLastCode)
      fLinks[static_cast<std::size_t>(entry.second)] = &entry.first;
}

void NNStringEncoder::Clear() {
  fCodeMap.clear();
  fLinks.clear();
  fValueLabels.clear();
  fLastCode = -1;
  fUserMissing.reset();
}

void NNStringEncoder::SetValueLabel(int index, const std::string& label) {
  VXNeural::detail::SetPaddedLabel(fValueLabels, GetNumberOfCategories(), index, label);
}

bool NNStringEncoder::SetUserMissingInfo(INNUserMissing* um) {
  return VXNeural::detail::AdoptUserMissing(fUserMissing, um, INNUserMissing::kStringData);
}

INNUserMissing* NNStringEncoder::GetUserMissingInfo() { return fUserMissing.get(); }
const INNUserMissing* NNStringEncoder::GetUserMissingInfo() const { return fUserMissing.get(); }

void NNStringEncoder::GetCateValues(std::vector<std::string>& values) const {
  for (const std::string* link : fLinks) values.push_back(link ? *link : std::string());
}

int NNStringEncoder::EncodeConst(const std::string& s) const {
  if (fUserMissing && fUserMissing->Contains(s)) return -1;
  const auto it = fCodeMap.find(s);
  return it == fCodeMap.end() ? -1 : it->second;
}

int NNStringEncoder::Encode(const std::string& s) {
  if (fUserMissing && fUserMissing->Contains(s)) return -1;
  const auto it = fCodeMap.find(s);
  if (it != fCodeMap.end()) return it->second;
  ++fLastCode;
  const auto inserted = fCodeMap.emplace(s, fLastCode).first;
  fLinks.push_back(&inserted->first);
  return fLastCode;
}

std::string NNStringEncoder::Decode(int code) const {
  if (code < 0 || code > fLastCode) return std::string();
  const std::string* link = fLinks[static_cast<std::size_t>(code)];
  return link ? *link : std::string();
}

int NNStringEncoder::WriteObject(std::ostream& out) const {
  BinWriter w(out);
  w.Tag(kTag).Int(GetNumberOfCategories());
  for (const std::string* link : fLinks) w.String(link ? *link : std::string());
  WriteLabels(w, fValueLabels);
  WriteUserMissing(w, out, fUserMissing.get());
  return w.Bytes();
}

int NNStringEncoder::ReadObject(std::istream& in) {
  BinReader r(in, kClass);
  Clear();
  r.ExpectTag(kTag);
  const int n = r.Count(kMaxCategories, 4);
  for (int i = 0; i < n; ++i)
    // A repeated string cannot come from a valid encoder.
    if (Encode(r.String()) != i) r.Fail();
  fValueLabels = ReadLabels(r);
  fUserMissing = ReadUserMissing<NNStringUserMissing>(r, in);
  return r.Bytes();
}

int NNStringEncoder::WriteObjectXML(std::ostream& out, int level) const {
  XmlWriter w(out, kClass, level);
  w.Int(GetNumberOfCategories());
  for (const std::string* link : fLinks) w.String(link ? *link : std::string());
  WriteLabels(w, fValueLabels);
  WriteUserMissing(w, out, level, fUserMissing.get());
  return w.End();
}

int NNStringEncoder::ReadObjectXML(std::istream& in) {
  Clear();
  XmlReader r(in, kClass, kClass);
  const int n = r.Count(kMaxCategories);
  for (int i = 0; i < n; ++i)
    if (Encode(r.String()) != i) r.Fail();
  fValueLabels = ReadLabels(r);
  fUserMissing = ReadUserMissing<NNStringUserMissing>(r, in);
  return r.End();
}

void NNStringEncoder::Display(std::ostream& out) const {
  out << "\tNNStringEncoder object:  ";
  out << "Last code = " << fLastCode << '\n';
  for (std::size_t i = 0; i < fLinks.size(); ++i) {
    out << '\t' << i << ": ";
    if (fLinks[i] == nullptr) {
      out << "ERROR\n";
      continue;
    }
    out << *fLinks[i]
        << ",\t Label: " << (i < fValueLabels.size() ? fValueLabels[i] : std::string()) << '\n';
  }
  DisplayUserMissing(out, fUserMissing.get());
}
