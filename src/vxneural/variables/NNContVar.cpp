#include "vxneural/variables/NNContVar.h"

#include <iostream>

#include "persist/BinaryIO.h"
#include "persist/Display.h"
#include "persist/XmlIO.h"
#include "variables/VariableCodes.h"
#include "vxcommon/XMLTree.h"

using VXNeural::detail::BinReader;
using VXNeural::detail::BinWriter;
using VXNeural::detail::ReadOptionalLabel;
using VXNeural::detail::RoleFromCode;
using VXNeural::detail::StorageFromCode;
using VXNeural::detail::XmlReader;
using VXNeural::detail::XmlWriter;

namespace {
const char kClass[] = "NNContVar";
const char kTag[] = "COVR";

[[noreturn]] void WrongEncoderType() {
  std::cout << "Wrong encoder type in NNContVar!\n";
  throw new VXNeural::IOException();
}
}  // namespace

NNContVar::NNContVar(const std::string& name, const std::string& label, double min, double max,
                     double mean, double variance, VariableRole role, VariableStorage storage,
                     double correction)
    : fName(name),
      fLabel(label),
      fRole(role),
      fStorage(storage),
      fMean(mean),
      fVariance(variance),
      fMin(min),
      fMax(max),
      fCorrection(correction),
      fEncoder(std::make_unique<NNLinearEncoder>(min, max)) {}

NNContVar::NNContVar(const NNContVar& other)
    : fName(other.fName),
      fLabel(other.fLabel),
      fRole(other.fRole),
      fStorage(other.fStorage),
      fMean(other.fMean),
      fVariance(other.fVariance),
      fMin(other.fMin),
      fMax(other.fMax),
      fCorrection(other.fCorrection),
      fEncoder(other.fEncoder ? other.fEncoder->Clone() : nullptr),
      fMissingValueReplacement(other.fMissingValueReplacement),
      fHasReplacement(other.fHasReplacement),
      fFieldFormatElement(other.fFieldFormatElement ? other.fFieldFormatElement->Clone()
                                                    : nullptr) {}

NNContVar& NNContVar::operator=(const NNContVar& other) {
  if (this != &other) {
    NNContVar copy(other);
    fEncoder = std::move(copy.fEncoder);
    fFieldFormatElement = std::move(copy.fFieldFormatElement);
    fName = std::move(copy.fName);
    fLabel = std::move(copy.fLabel);
    fRole = copy.fRole;
    fStorage = copy.fStorage;
    fMean = copy.fMean;
    fVariance = copy.fVariance;
    fMin = copy.fMin;
    fMax = copy.fMax;
    fCorrection = copy.fCorrection;
    fMissingValueReplacement = std::move(copy.fMissingValueReplacement);
    fHasReplacement = copy.fHasReplacement;
  }
  return *this;
}

NNContVar::~NNContVar() = default;

bool NNContVar::SetUserMissingInfo(INNUserMissing* um) {
  return fEncoder ? fEncoder->SetUserMissingInfo(um) : false;
}

INNUserMissing* NNContVar::GetUserMissingInfo() {
  return fEncoder ? fEncoder->GetUserMissingInfo() : nullptr;
}

const INNUserMissing* NNContVar::GetUserMissingInfo() const {
  return fEncoder ? fEncoder->GetUserMissingInfo() : nullptr;
}

void NNContVar::SetMissingValueReplacement(const std::string& text) {
  fMissingValueReplacement = text;
  fHasReplacement = true;
}

const std::string* NNContVar::GetMissingValueReplacement() const {
  return fHasReplacement ? &fMissingValueReplacement : nullptr;
}

INNVariable::VarStatus NNContVar::GetVarStatus() {
  if (fVariance < 0.0 || fMax < fMin) return kVarInvalid;
  if (fVariance == 0.0 || fMax == fMin) return kVarConstant;
  return kVarOK;
}

void NNContVar::SetFieldFormatElement(VXXML_1_2::XMLElement* element) {
  if (element != fFieldFormatElement.get()) fFieldFormatElement.reset(element);
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
  w.Tag(kTag).String(fName).String(fLabel).Int(fRole).Int(fStorage);
  w.Double(fMean).Double(fVariance).Double(fMin).Double(fMax).Double(fCorrection);
  w.Int(fEncoder ? INNEncoder::kLinearEncoder : INNEncoder::kNoEncoder);
  if (fEncoder) w.Nested(fEncoder->WriteObject(out));
  return w.Bytes();
}

int NNContVar::ReadObject(std::istream& in) {
  BinReader r(in, kClass);
  fEncoder.reset();
  r.ExpectTag(kTag);
  fName = r.String();
  fLabel = r.String();
  fRole = RoleFromCode(r, r.Int());
  fStorage = StorageFromCode(r, r.Int());
  fMean = r.Double();
  fVariance = r.Double();
  fMin = r.Double();
  fMax = r.Double();
  fCorrection = r.Double();
  fMissingValueReplacement.clear();
  fHasReplacement = false;
  const int type = r.Int();
  if (type == INNEncoder::kLinearEncoder) {
    auto encoder = std::make_unique<NNLinearEncoder>();
    r.Nested(encoder->ReadObject(in));
    fEncoder = std::move(encoder);
  } else if (type != INNEncoder::kNoEncoder) {
    WrongEncoderType();
  }
  return r.Bytes();
}

int NNContVar::WriteObjectXML(std::ostream& out, int level) const {
  XmlWriter w(out, kClass, level);
  w.String(fName).Int(static_cast<int>(fLabel.size()));
  if (!fLabel.empty()) w.String(fLabel);
  w.Int(fRole).Int(fStorage);
  w.Double(fMean).Double(fVariance).Double(fMin).Double(fMax).Double(fCorrection);
  w.Bool(fHasReplacement);
  if (fHasReplacement) w.String(fMissingValueReplacement);
  w.Int(fEncoder ? INNEncoder::kLinearEncoder : INNEncoder::kNoEncoder);
  if (fEncoder) w.Nested(fEncoder->WriteObjectXML(out, level + 1));
  return w.End();
}

int NNContVar::ReadObjectXML(std::istream& in) {
  fEncoder.reset();
  XmlReader r(in, kClass, kClass);
  fName = r.String();
  fLabel = ReadOptionalLabel(r);
  fRole = RoleFromCode(r, r.Int());
  fStorage = StorageFromCode(r, r.Int());
  fMean = r.Double();
  fVariance = r.Double();
  fMin = r.Double();
  fMax = r.Double();
  fCorrection = r.Double();
  fHasReplacement = r.Bool();
  fMissingValueReplacement = fHasReplacement ? r.String() : std::string();
  const int type = r.Int();
  if (type == INNEncoder::kLinearEncoder) {
    auto encoder = std::make_unique<NNLinearEncoder>();
    r.Nested(encoder->ReadObjectXML(in));
    fEncoder = std::move(encoder);
  } else if (type != INNEncoder::kNoEncoder) {
    WrongEncoderType();
  }
  return r.End();
}

void NNContVar::Display(std::ostream& out) const {
  VXNeural::detail::DisplayPrecision precision(out);
  out << "Continuous variable: name = " << fName << ", label = " << fLabel
      << ", role = " << DisplayText(fRole) << '\n';
  out << "\tMean = " << fMean << ", variance = " << fVariance << ", min = " << fMin
      << ", max = " << fMax << ", correction = " << fCorrection << '\n';
  if (fEncoder)
    fEncoder->Display(out);
  else
    out << "\tEncoder not set.\n";
}
