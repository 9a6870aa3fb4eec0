#include "vxneural/variables/NNVariableBase.h"

#include "persist/BinaryIO.h"
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

NNVariableBase::NNVariableBase(const std::string& name, const std::string& label, VariableRole role,
                               VariableStorage storage)
    : fName(name), fLabel(label), fRole(role), fStorage(storage) {}

NNVariableBase::NNVariableBase(const NNVariableBase& other)
    : INNVariable(other),
      fName(other.fName),
      fLabel(other.fLabel),
      fRole(other.fRole),
      fStorage(other.fStorage),
      fMissingValueReplacement(other.fMissingValueReplacement),
      fHasReplacement(other.fHasReplacement),
      fFieldFormatElement(other.fFieldFormatElement ? other.fFieldFormatElement->Clone()
                                                    : nullptr) {}

NNVariableBase& NNVariableBase::operator=(NNVariableBase&& other) noexcept = default;

NNVariableBase::~NNVariableBase() = default;

bool NNVariableBase::SetUserMissingInfo(INNUserMissing* um) {
  INNEncoder* encoder = GetEncoder();
  return encoder ? encoder->SetUserMissingInfo(um) : false;
}

INNUserMissing* NNVariableBase::GetUserMissingInfo() {
  INNEncoder* encoder = GetEncoder();
  return encoder ? encoder->GetUserMissingInfo() : nullptr;
}

const INNUserMissing* NNVariableBase::GetUserMissingInfo() const {
  const INNEncoder* encoder = GetEncoder();
  return encoder ? encoder->GetUserMissingInfo() : nullptr;
}

void NNVariableBase::SetMissingValueReplacement(const std::string& text) {
  fMissingValueReplacement = text;
  fHasReplacement = true;
}

const std::string* NNVariableBase::GetMissingValueReplacement() const {
  return fHasReplacement ? &fMissingValueReplacement : nullptr;
}

void NNVariableBase::SetFieldFormatElement(VXXML_1_2::XMLElement* element) {
  if (element != fFieldFormatElement.get()) fFieldFormatElement.reset(element);
}

void NNVariableBase::WriteIdentity(BinWriter& w) const {
  w.String(fName).String(fLabel).Int(fRole).Int(fStorage);
}

void NNVariableBase::ReadIdentity(BinReader& r) {
  fName = r.String();
  fLabel = r.String();
  fRole = RoleFromCode(r, r.Int());
  fStorage = StorageFromCode(r, r.Int());
}

void NNVariableBase::WriteIdentity(XmlWriter& w) const {
  w.String(fName).Int(static_cast<int>(fLabel.size()));
  if (!fLabel.empty()) w.String(fLabel);
  w.Int(fRole).Int(fStorage);
}

void NNVariableBase::ReadIdentity(XmlReader& r) {
  fName = r.String();
  fLabel = ReadOptionalLabel(r);
  fRole = RoleFromCode(r, r.Int());
  fStorage = StorageFromCode(r, r.Int());
}

void NNVariableBase::WriteReplacement(XmlWriter& w) const {
  w.Bool(fHasReplacement);
  if (fHasReplacement) w.String(fMissingValueReplacement);
}

void NNVariableBase::ReadReplacement(XmlReader& r) {
  fHasReplacement = r.Bool();
  fMissingValueReplacement = fHasReplacement ? r.String() : std::string();
}

void NNVariableBase::ClearReplacement() {
  fMissingValueReplacement.clear();
  fHasReplacement = false;
}
