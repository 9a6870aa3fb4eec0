#include "vxneural/variables/NNCatVar.h"

#include <ostream>

#include "persist/BinaryIO.h"
#include "persist/XmlIO.h"
#include "variables/VariableCodes.h"
#include "vxcommon/XMLTree.h"
#include "vxneural/variables/NNCatNumEncoder.h"
#include "vxneural/variables/NNStringEncoder.h"

using VXNeural::detail::BinReader;
using VXNeural::detail::BinWriter;
using VXNeural::detail::kMaxCategories;
using VXNeural::detail::ReadOptionalLabel;
using VXNeural::detail::RoleFromCode;
using VXNeural::detail::StorageFromCode;
using VXNeural::detail::XmlReader;
using VXNeural::detail::XmlWriter;

namespace {
const char kClass[] = "NNCatVar";
const char kTag[] = "CAVR";

INNVariable::MeasureLevel CategoricalLevel(INNVariable::MeasureLevel level) {
  return level == INNVariable::kNumericCategorical ? level : INNVariable::kStringCategorical;
}

std::unique_ptr<INNEncoder> NewEncoder(INNVariable::MeasureLevel level, int expectedCount) {
  if (level == INNVariable::kNumericCategorical)
    return std::make_unique<NNCatNumEncoder>(expectedCount);
  return std::make_unique<NNStringEncoder>(expectedCount);
}

template <typename Reader>
INNVariable::MeasureLevel LevelFromCode(Reader& r, int level) {
  if (level != INNVariable::kNumericCategorical && level != INNVariable::kStringCategorical)
    r.Fail();
  return static_cast<INNVariable::MeasureLevel>(level);
}

// A valid writer leaves the encoder type equal to the measure level.
template <typename Reader>
void CheckEncoderType(Reader& r, INNVariable::MeasureLevel level, int type) {
  const int expected = level == INNVariable::kNumericCategorical ? INNEncoder::kCatNumEncoder
                                                                 : INNEncoder::kStringEncoder;
  if (type != expected) r.Fail();
}

template <typename Reader>
int ReadCategoryCount(Reader& r) {
  const int n = r.Int();
  if (n < 0 || n > kMaxCategories) r.Fail();
  return n;
}
}  // namespace

NNCatVar::NNCatVar(const std::string& name, const std::string& label, int numberOfCategories,
                   MeasureLevel level, VariableRole role, VariableStorage storage)
    : fName(name),
      fLabel(label),
      fRole(role),
      fStorage(storage),
      fNumberOfCategories(numberOfCategories > 0 ? numberOfCategories : 0),
      fMeasureLevel(CategoricalLevel(level)),
      fEncoder(NewEncoder(fMeasureLevel, fNumberOfCategories)) {}

NNCatVar::NNCatVar(const NNCatVar& other)
    : fName(other.fName),
      fLabel(other.fLabel),
      fRole(other.fRole),
      fStorage(other.fStorage),
      fBinaryFlag(other.fBinaryFlag),
      fBinaryFlagTrueIndex(other.fBinaryFlagTrueIndex),
      fOrdinalFlag(other.fOrdinalFlag),
      fNumberOfCategories(other.fNumberOfCategories),
      fMeasureLevel(other.fMeasureLevel),
      fEncoder(other.fEncoder ? other.fEncoder->Clone() : nullptr),
      fMissingValueReplacement(other.fMissingValueReplacement),
      fHasReplacement(other.fHasReplacement),
      fFieldFormatElement(other.fFieldFormatElement ? other.fFieldFormatElement->Clone()
                                                    : nullptr) {}

NNCatVar& NNCatVar::operator=(const NNCatVar& other) {
  if (this != &other) {
    NNCatVar copy(other);
    fEncoder = std::move(copy.fEncoder);
    fFieldFormatElement = std::move(copy.fFieldFormatElement);
    fName = std::move(copy.fName);
    fLabel = std::move(copy.fLabel);
    fRole = copy.fRole;
    fStorage = copy.fStorage;
    fBinaryFlag = copy.fBinaryFlag;
    fBinaryFlagTrueIndex = copy.fBinaryFlagTrueIndex;
    fOrdinalFlag = copy.fOrdinalFlag;
    fNumberOfCategories = copy.fNumberOfCategories;
    fMeasureLevel = copy.fMeasureLevel;
    fMissingValueReplacement = std::move(copy.fMissingValueReplacement);
    fHasReplacement = copy.fHasReplacement;
  }
  return *this;
}

NNCatVar::~NNCatVar() = default;

int NNCatVar::UpdateNumberOfCategories() {
  if (fEncoder && fEncoder->GetNumberOfCategories() > fNumberOfCategories)
    fNumberOfCategories = fEncoder->GetNumberOfCategories();
  return fNumberOfCategories;
}

bool NNCatVar::SetUserMissingInfo(INNUserMissing* um) {
  return fEncoder ? fEncoder->SetUserMissingInfo(um) : false;
}

INNUserMissing* NNCatVar::GetUserMissingInfo() {
  return fEncoder ? fEncoder->GetUserMissingInfo() : nullptr;
}

const INNUserMissing* NNCatVar::GetUserMissingInfo() const {
  return fEncoder ? fEncoder->GetUserMissingInfo() : nullptr;
}

void NNCatVar::SetMissingValueReplacement(const std::string& text) {
  fMissingValueReplacement = text;
  fHasReplacement = true;
}

const std::string* NNCatVar::GetMissingValueReplacement() const {
  return fHasReplacement ? &fMissingValueReplacement : nullptr;
}

INNVariable::VarStatus NNCatVar::GetVarStatus() {
  const int n = UpdateNumberOfCategories();
  if (n == 1) return kVarConstant;
  return n > 1 ? kVarOK : kVarInvalid;
}

void NNCatVar::SetFieldFormatElement(VXXML_1_2::XMLElement* element) {
  if (element != fFieldFormatElement.get()) fFieldFormatElement.reset(element);
}

void NNCatVar::GetBinaryFlag(bool& flag, int& trueIndex) const {
  flag = fBinaryFlag;
  trueIndex = fBinaryFlagTrueIndex;
}

void NNCatVar::SetBinaryFlag(bool flag, int trueIndex) {
  fBinaryFlag = flag;
  fBinaryFlagTrueIndex = trueIndex;
}

void NNCatVar::SetNumberOfCategories(int n) { fNumberOfCategories = n > 0 ? n : 0; }

int NNCatVar::WriteObject(std::ostream& out) const {
  BinWriter w(out);
  w.Tag(kTag).String(fName).String(fLabel).Int(fRole).Int(fStorage);
  w.Int(fNumberOfCategories).Int(fMeasureLevel);
  w.Int(fEncoder ? fEncoder->GetEncoderType() : INNEncoder::kNoEncoder);
  if (fEncoder) w.Nested(fEncoder->WriteObject(out));
  return w.Bytes();
}

int NNCatVar::ReadObject(std::istream& in) {
  BinReader r(in, kClass);
  fEncoder.reset();
  r.ExpectTag(kTag);
  fName = r.String();
  fLabel = r.String();
  fRole = RoleFromCode(r, r.Int());
  fStorage = StorageFromCode(r, r.Int());
  fNumberOfCategories = ReadCategoryCount(r);
  fMeasureLevel = LevelFromCode(r, r.Int());
  CheckEncoderType(r, fMeasureLevel, r.Int());
  fMissingValueReplacement.clear();
  fHasReplacement = false;
  fBinaryFlag = false;
  fBinaryFlagTrueIndex = -1;
  fOrdinalFlag = false;
  std::unique_ptr<INNEncoder> encoder = NewEncoder(fMeasureLevel, 0);
  r.Nested(encoder->ReadObject(in));
  fEncoder = std::move(encoder);
  return r.Bytes();
}

int NNCatVar::WriteObjectXML(std::ostream& out, int level) const {
  XmlWriter w(out, kClass, level);
  w.String(fName).Int(static_cast<int>(fLabel.size()));
  if (!fLabel.empty()) w.String(fLabel);
  w.Int(fRole).Int(fStorage).Int(fNumberOfCategories).Int(fMeasureLevel);
  w.Bool(fHasReplacement);
  if (fHasReplacement) w.String(fMissingValueReplacement);
  w.Int(fEncoder ? fEncoder->GetEncoderType() : INNEncoder::kNoEncoder);
  if (fEncoder) w.Nested(fEncoder->WriteObjectXML(out, level + 1));
  w.Bool(fBinaryFlag).Int(fBinaryFlagTrueIndex).Bool(fOrdinalFlag);
  return w.End();
}

int NNCatVar::ReadObjectXML(std::istream& in) {
  fEncoder.reset();
  XmlReader r(in, kClass, kClass);
  fName = r.String();
  fLabel = ReadOptionalLabel(r);
  fRole = RoleFromCode(r, r.Int());
  fStorage = StorageFromCode(r, r.Int());
  fNumberOfCategories = ReadCategoryCount(r);
  fMeasureLevel = LevelFromCode(r, r.Int());
  fHasReplacement = r.Bool();
  fMissingValueReplacement = fHasReplacement ? r.String() : std::string();
  CheckEncoderType(r, fMeasureLevel, r.Int());
  std::unique_ptr<INNEncoder> encoder = NewEncoder(fMeasureLevel, 0);
  r.Nested(encoder->ReadObjectXML(in));
  fEncoder = std::move(encoder);
  fBinaryFlag = r.Bool();
  fBinaryFlagTrueIndex = r.Int();
  fOrdinalFlag = r.Bool();
  return r.End();
}

void NNCatVar::Display(std::ostream& out) const {
  out << "Categorical variable: name = " << fName << ", label = " << fLabel
      << ", role = " << DisplayText(fRole) << ", storage = " << DisplayText(fStorage) << '\n';
  out << "\tMeasurement Level = " << DisplayText(fMeasureLevel) << '\n';
  out << "\tNumber of Categories = " << fNumberOfCategories << '\n';
  if (fEncoder) fEncoder->Display(out);
}
