#include "vxneural/variables/NNContVar.h"

#include <iostream>
#include <type_traits>

#include "persist/BinaryIO.h"
#include "persist/Display.h"
#include "persist/XmlIO.h"

using VXNeural::detail::BinReader;
using VXNeural::detail::BinWriter;
using VXNeural::detail::XmlReader;
using VXNeural::detail::XmlWriter;

namespace {
const char kClass[] = "NNContVar";
const char kTag[] = "COVR";

[[noreturn]] void WrongEncoderType() {
  std::cout << "Wrong encoder type in NNContVar!\n";
  throw new VXNeural::IOException();
}

// The stored encoder type, then the encoder when there is one.
template <typename Reader>
std::unique_ptr<NNLinearEncoder> ReadEncoder(Reader& r, std::istream& in) {
  const int type = r.Int();
  if (type == INNEncoder::kNoEncoder) return nullptr;
  if (type != INNEncoder::kLinearEncoder) WrongEncoderType();
  auto encoder = std::make_unique<NNLinearEncoder>();
  if constexpr (std::is_same_v<Reader, BinReader>)
    r.Nested(encoder->ReadObject(in));
  else
    r.Nested(encoder->ReadObjectXML(in));
  return encoder;
}
}  // namespace

NNContVar::NNContVar(const std::string& name, const std::string& label, double min, double max,
                     double mean, double variance, VariableRole role, VariableStorage storage,
                     double correction)
    : NNVariableBase(name, label, role, storage),
      fMean(mean),
      fVariance(variance),
      fMin(min),
      fMax(max),
      fCorrection(correction),
      fEncoder(std::make_unique<NNLinearEncoder>(min, max)) {}

NNContVar::NNContVar(const NNContVar& other)
    : NNVariableBase(other),
      fMean(other.fMean),
      fVariance(other.fVariance),
      fMin(other.fMin),
      fMax(other.fMax),
      fCorrection(other.fCorrection),
      fEncoder(other.fEncoder ? other.fEncoder->Clone() : nullptr) {}

NNContVar& NNContVar::operator=(const NNContVar& other) {
  if (this != &other) {
    NNContVar copy(other);
    NNVariableBase::operator=(std::move(copy));
    fEncoder = std::move(copy.fEncoder);
    fMean = copy.fMean;
    fVariance = copy.fVariance;
    fMin = copy.fMin;
    fMax = copy.fMax;
    fCorrection = copy.fCorrection;
  }
  return *this;
}

NNContVar::~NNContVar() = default;

INNVariable::VarStatus NNContVar::GetVarStatus() {
  if (fVariance < 0.0 || fMax < fMin) return kVarInvalid;
  if (fVariance == 0.0 || fMax == fMin) return kVarConstant;
  return kVarOK;
}

bool NNContVar::SetupEncoder(VXNNCommon::Standardization mode) {
  if (mode == VXNNCommon::kMeanStdDev && !(fVariance > 0.0)) return false;
  if ((mode == VXNNCommon::kMinRange || mode == VXNNCommon::kMinRangeSymmetric) && !(fMin < fMax))
    return false;
  std::unique_ptr<INNUserMissing> um;
  if (fEncoder && fEncoder->GetUserMissingInfo()) um.reset(fEncoder->GetUserMissingInfo()->Clone());
  auto encoder = std::make_unique<NNLinearEncoder>(mode, *this);
  if (um && encoder->SetUserMissingInfo(um.get())) um.release();
  fEncoder = std::move(encoder);
  return true;
}

int NNContVar::WriteObject(std::ostream& out) const {
  BinWriter w(out);
  w.Tag(kTag);
  WriteIdentity(w);
  w.Double(fMean).Double(fVariance).Double(fMin).Double(fMax).Double(fCorrection);
  w.Int(fEncoder ? INNEncoder::kLinearEncoder : INNEncoder::kNoEncoder);
  if (fEncoder) w.Nested(fEncoder->WriteObject(out));
  return w.Bytes();
}

int NNContVar::ReadObject(std::istream& in) {
  BinReader r(in, kClass);
  fEncoder.reset();
  r.ExpectTag(kTag);
  ReadIdentity(r);
  fMean = r.Double();
  fVariance = r.Double();
  fMin = r.Double();
  fMax = r.Double();
  fCorrection = r.Double();
  ClearReplacement();
  fEncoder = ReadEncoder(r, in);
  return r.Bytes();
}

int NNContVar::WriteObjectXML(std::ostream& out, int level) const {
  XmlWriter w(out, kClass, level);
  WriteIdentity(w);
  w.Double(fMean).Double(fVariance).Double(fMin).Double(fMax).Double(fCorrection);
  WriteReplacement(w);
  w.Int(fEncoder ? INNEncoder::kLinearEncoder : INNEncoder::kNoEncoder);
  if (fEncoder) w.Nested(fEncoder->WriteObjectXML(out, level + 1));
  return w.End();
}

int NNContVar::ReadObjectXML(std::istream& in) {
  fEncoder.reset();
  XmlReader r(in, kClass, kClass);
  ReadIdentity(r);
  fMean = r.Double();
  fVariance = r.Double();
  fMin = r.Double();
  fMax = r.Double();
  fCorrection = r.Double();
  ReadReplacement(r);
  fEncoder = ReadEncoder(r, in);
  return r.End();
}

void NNContVar::Display(std::ostream& out) const {
  VXNeural::detail::DisplayPrecision precision(out);
  out << "Continuous variable: name = " << Name() << ", label = " << Label()
      << ", role = " << DisplayText(Role()) << '\n';
  out << "\tMean = " << fMean << ", variance = " << fVariance << ", min = " << fMin
      << ", max = " << fMax << ", correction = " << fCorrection << '\n';
  if (fEncoder)
    fEncoder->Display(out);
  else
    out << "\tEncoder not set.\n";
}
