#include "vxneural/variables/NNCatVar.h"

#include <ostream>

#include "persist/BinaryIO.h"
#include "persist/XmlIO.h"
#include "vxneural/variables/NNCatNumEncoder.h"
#include "vxneural/variables/NNStringEncoder.h"

using VXNeural::detail::BinReader;
using VXNeural::detail::BinWriter;
using VXNeural::detail::kMaxCategories;
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
    : NNVariableBase(name, label, role, storage),
      fNumberOfCategories(numberOfCategories > 0 ? numberOfCategories : 0),
      fMeasureLevel(CategoricalLevel(level)),
      fEncoder(NewEncoder(fMeasureLevel, fNumberOfCategories)) {}

NNCatVar::NNCatVar(const NNCatVar& other)
    : NNVariableBase(other),
      fBinaryFlag(other.fBinaryFlag),
      fBinaryFlagTrueIndex(other.fBinaryFlagTrueIndex),
      fOrdinalFlag(other.fOrdinalFlag),
      fNumberOfCategories(other.fNumberOfCategories),
      fMeasureLevel(other.fMeasureLevel),
      fEncoder(other.fEncoder ? other.fEncoder->Clone() : nullptr) {}

NNCatVar& NNCatVar::operator=(const NNCatVar& other) {
  if (this != &other) {
    NNCatVar copy(other);
    NNVariableBase::operator=(std::move(copy));
    fEncoder = std::move(copy.fEncoder);
    fBinaryFlag = copy.fBinaryFlag;
    fBinaryFlagTrueIndex = copy.fBinaryFlagTrueIndex;
    fOrdinalFlag = copy.fOrdinalFlag;
    fNumberOfCategories = copy.fNumberOfCategories;
    fMeasureLevel = copy.fMeasureLevel;
  }
  return *this;
}

NNCatVar::~NNCatVar() = default;

int NNCatVar::UpdateNumberOfCategories() {
  if (fEncoder && fEncoder->GetNumberOfCategories() > fNumberOfCategories)
    fNumberOfCategories = fEncoder->GetNumberOfCategories();
  return fNumberOfCategories;
}

INNVariable::VarStatus NNCatVar::GetVarStatus() {
  const int n = UpdateNumberOfCategories();
  if (n == 1) return kVarConstant;
  return n > 1 ? kVarOK : kVarInvalid;
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
  w.Tag(kTag);
  WriteIdentity(w);
  w.Int(fNumberOfCategories).Int(fMeasureLevel);
  w.Int(fEncoder ? fEncoder->GetEncoderType() : INNEncoder::kNoEncoder);
  if (fEncoder) w.Nested(fEncoder->WriteObject(out));
  return w.Bytes();
}

int NNCatVar::ReadObject(std::istream& in) {
  BinReader r(in, kClass);
  fEncoder.reset();
  r.ExpectTag(kTag);
  ReadIdentity(r);
  fNumberOfCategories = ReadCategoryCount(r);
  fMeasureLevel = LevelFromCode(r, r.Int());
  CheckEncoderType(r, fMeasureLevel, r.Int());
  ClearReplacement();
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
  WriteIdentity(w);
  w.Int(fNumberOfCategories).Int(fMeasureLevel);
  WriteReplacement(w);
  w.Int(fEncoder ? fEncoder->GetEncoderType() : INNEncoder::kNoEncoder);
  if (fEncoder) w.Nested(fEncoder->WriteObjectXML(out, level + 1));
  w.Bool(fBinaryFlag).Int(fBinaryFlagTrueIndex).Bool(fOrdinalFlag);
  return w.End();
}

int NNCatVar::ReadObjectXML(std::istream& in) {
  fEncoder.reset();
  XmlReader r(in, kClass, kClass);
  ReadIdentity(r);
  fNumberOfCategories = ReadCategoryCount(r);
  fMeasureLevel = LevelFromCode(r, r.Int());
  ReadReplacement(r);
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
  out << "Categorical variable: name = " << Name() << ", label = " << Label()
      << ", role = " << DisplayText(Role()) << ", storage = " << DisplayText(Storage()) << '\n';
  out << "\tMeasurement Level = " << DisplayText(fMeasureLevel) << '\n';
  out << "\tNumber of Categories = " << fNumberOfCategories << '\n';
  if (fEncoder) fEncoder->Display(out);
}
