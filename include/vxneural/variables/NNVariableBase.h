// What every concrete variable shares: name, label, role, storage, the
// missing-value replacement and the field-format element, and forwarding of
// the user-missing values to the encoder.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>

#include "vxneural/variables/INNVariable.h"

namespace VXNeural {
namespace detail {
class BinReader;
class BinWriter;
class XmlReader;
class XmlWriter;
}  // namespace detail
}  // namespace VXNeural

/// What every concrete variable shares: name, label, role, storage, the
/// missing-value replacement and the field-format element, and forwarding of
/// the user-missing values to the encoder.
class NNVariableBase : public INNVariable {
 public:
  /// Destroys the field-format element.
  ~NNVariableBase() override;

  std::string GetVariableName() const override { return fName; }
  std::string GetVariableLabel() const override { return fLabel; }
  void SetVariableLabel(const std::string& label) override { fLabel = label; }
  VariableRole GetVariableRole() const override { return fRole; }
  void SetVariableRole(VariableRole role) override { fRole = role; }
  VariableStorage GetVariableStorage() const override { return fStorage; }
  void SetVariableStorage(VariableStorage storage) override { fStorage = storage; }
  bool SetUserMissingInfo(INNUserMissing* um) override;
  INNUserMissing* GetUserMissingInfo() override;
  const INNUserMissing* GetUserMissingInfo() const override;
  void SetMissingValueReplacement(const std::string& text) override;
  const std::string* GetMissingValueReplacement() const override;
  void SetFieldFormatElement(VXXML_1_2::XMLElement* element) override;
  VXXML_1_2::XMLElement* GetFieldFormatElement() override { return fFieldFormatElement.get(); }
  const VXXML_1_2::XMLElement* GetFieldFormatElement() const override {
    return fFieldFormatElement.get();
  }

 protected:
  /// No replacement and no field-format element.
  NNVariableBase(const std::string& name, const std::string& label, VariableRole role,
                 VariableStorage storage);
  /// Deep copy (the field-format element is cloned).
  NNVariableBase(const NNVariableBase& other);
  /// Lets a derived class assign from a finished copy without throwing.
  NNVariableBase& operator=(NNVariableBase&& other) noexcept;

  ///@{
  /// Name, label, role and storage, the leading fields of both stored forms
  /// (the XML form writes the label as its length, then the label if any).
  void WriteIdentity(VXNeural::detail::BinWriter& w) const;
  void ReadIdentity(VXNeural::detail::BinReader& r);
  void WriteIdentity(VXNeural::detail::XmlWriter& w) const;
  void ReadIdentity(VXNeural::detail::XmlReader& r);
  ///@}
  ///@{
  /// The replacement as a flag, then the text when set (XML form only).
  void WriteReplacement(VXNeural::detail::XmlWriter& w) const;
  void ReadReplacement(VXNeural::detail::XmlReader& r);
  ///@}
  /// Removes the missing-value replacement.
  void ClearReplacement();

  /// The variable's name.
  const std::string& Name() const { return fName; }
  /// The variable's label.
  const std::string& Label() const { return fLabel; }
  /// The variable's role.
  VariableRole Role() const { return fRole; }
  /// The variable's storage type.
  VariableStorage Storage() const { return fStorage; }

 private:
  std::string fName;
  std::string fLabel;
  VariableRole fRole;
  VariableStorage fStorage;
  std::string fMissingValueReplacement;
  bool fHasReplacement = false;
  std::unique_ptr<VXXML_1_2::XMLElement> fFieldFormatElement;
};
