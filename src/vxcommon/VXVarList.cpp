#include "vxcommon/VXVarList.h"

namespace VXCommon_1_2 {

IVXVariable::IVXVariable(std::string name, std::string label, int role, int storage)
    : fName(std::move(name)), fLabel(std::move(label)), fRole(role), fStorage(storage) {}

IVXVariable::~IVXVariable() = default;

void IVXVariable::SetMissingInterval(double low, double high) {
  fHasInterval = true;
  fIntervalLow = low;
  fIntervalHigh = high;
}

void IVXVariable::AddDiscreteMissing(double value, const std::string& label) {
  fMissingNumbers.push_back(value);
  fMissingLabels.push_back(label);
}

void IVXVariable::AddDiscreteMissing(const std::string& value, const std::string& label) {
  fMissingStrings.push_back(value);
  fMissingLabels.push_back(label);
}

void IVXVariable::SetMissingValueReplacement(const std::string& text) {
  fHasReplacement = true;
  fReplacement = text;
}

void IVXVariable::SetFieldFormatElement(VXXML_1_2::XMLElement* element) {
  fFieldFormat.reset(element);
}

VXContVar::VXContVar(std::string name, std::string label, int role, int storage, double min,
                     double max, double mean, double stdDev)
    : IVXVariable(std::move(name), std::move(label), role, storage),
      fMin(min),
      fMax(max),
      fMean(mean),
      fStdDev(stdDev) {}

VXCatVar::VXCatVar(std::string name, std::string label, int role, int storage, bool numeric,
                   int declaredCategories)
    : IVXVariable(std::move(name), std::move(label), role, storage),
      fNumeric(numeric),
      fDeclaredCategories(declaredCategories) {}

int VXCatVar::GetNumberOfValues() const {
  return static_cast<int>(fNumeric ? fNumbers.size() : fStrings.size());
}

int VXVarList::Add(IVXVariable* variable) {
  if (variable == nullptr) return -1;
  std::unique_ptr<IVXVariable> owned(variable);
  fVars.push_back(std::move(owned));
  return static_cast<int>(fVars.size()) - 1;
}

IVXVariable* VXVarList::GetVarAt(int index) const {
  if (index < 0 || index >= Size()) return nullptr;
  return fVars[static_cast<std::size_t>(index)].get();
}

void VXVarList::SetFieldFormatsElement(VXXML_1_2::XMLElement* element) {
  fFieldFormats.reset(element);
}

}  // namespace VXCommon_1_2
