#include "vxneural/variables/VXVarAdapter.h"

#include <cstddef>
#include <memory>

#include "vxneural/variables/NNCatVar.h"

using VXCommon_1_2::IVXVariable;
using VXCommon_1_2::VXCatVar;
using VXCommon_1_2::VXContVar;

VXVarAdapter::~VXVarAdapter() = default;

VXVarAdapter* VXVarAdapter::Create(const IVXVariable* variable) {
  if (variable == nullptr) return nullptr;
  const int level = variable->GetMeasureLevel();
  if (level == IVXVariable::kContinuous) {
    const auto* cont = dynamic_cast<const VXContVar*>(variable);
    return cont ? new VXContinVarAdapter(cont) : nullptr;
  }
  if (level != IVXVariable::kNumericCategorical && level != IVXVariable::kStringCategorical)
    return nullptr;
  const auto* cat = dynamic_cast<const VXCatVar*>(variable);
  if (cat == nullptr) return nullptr;
  VXCateVarAdapter* adapter = level == IVXVariable::kNumericCategorical
                                  ? static_cast<VXCateVarAdapter*>(new VXCateNumVarAdapter(cat))
                                  : new VXCateStringVarAdapter(cat);
  // A variable is binary or ordinal, never both: binary wins.
  if (cat->GetBinaryFlag())
    adapter->SetBinaryFlag(true, cat->GetBinaryFlagTrueIndex());
  else if (cat->GetOrdinalFlag())
    adapter->SetOrdinalFlag(true);
  return adapter;
}

INNVariable::VariableRole VXVarAdapter::GetRole() const {
  const int role = fVariable->GetRole();
  return role == IVXVariable::kRoleTarget || role == IVXVariable::kRoleTargetPartition
             ? INNVariable::kOutput
             : INNVariable::kInput;
}

INNVariable::VariableStorage VXVarAdapter::GetStorage() const {
  const int storage = fVariable->GetStorage();
  return storage >= INNVariable::kInteger && storage <= INNVariable::kTimestamp
             ? static_cast<INNVariable::VariableStorage>(storage)
             : INNVariable::kUndefinedStorage;
}

namespace {

// The categorical forms of AddCatVar: values with labels, values alone, or
// a declared count. Values is double or std::string.
template <typename Adapter>
int AddCategorical(NNVarList& out, const Adapter& a, INNVariable::MeasureLevel level) {
  if (!a.HasCategoryValues())
    return out.AddCatVar(a.GetName(), a.GetLabel(), a.GetDeclaredCategories(), level, a.GetRole(),
                         a.GetStorage());
  if (!a.GetValueLabels().empty())
    return out.AddCatVar(a.GetName(), a.GetLabel(), a.GetValues(), a.GetValueLabels(), a.GetRole(),
                         a.GetStorage());
  return out.AddCatVar(a.GetName(), a.GetLabel(), a.GetValues(), a.GetRole(), a.GetStorage());
}

// Adds the adapter's variable with its flags, user-missing values and
// field-format element; -1 when the list refuses it.
int AddVariable(NNVarList& out, const VXVarAdapter& a, double correction) {
  int index = -1;
  switch (a.GetKind()) {
    case INNVariable::kStringCategorical:
      index = AddCategorical(out, static_cast<const VXCateStringVarAdapter&>(a),
                             INNVariable::kStringCategorical);
      break;
    case INNVariable::kNumericCategorical:
      index = AddCategorical(out, static_cast<const VXCateNumVarAdapter&>(a),
                             INNVariable::kNumericCategorical);
      break;
    case INNVariable::kContinuous: {
      const auto& c = static_cast<const VXContinVarAdapter&>(a);
      index = out.AddContVar(c.GetName(), c.GetLabel(), c.GetMin(), c.GetMax(), c.GetMean(),
                             c.GetVariance(), c.GetRole(), c.GetStorage(), correction);
      break;
    }
    default:
      return -1;
  }
  if (index < 0) return -1;
  if (auto* cat = dynamic_cast<NNCatVar*>(out.GetVarAt(index))) {
    cat->SetBinaryFlag(a.GetBinaryFlag(), a.GetBinaryTrueIndex());
    cat->SetOrdinalFlag(a.GetOrdinalFlag());
  }
  if (a.HasMissingInterval())
    out.SetMissingInterval(index, a.GetMissingIntervalLow(), a.GetMissingIntervalHigh());
  const auto& labels = a.GetDiscreteMissingLabels();
  auto label = [&labels](std::size_t i) { return i < labels.size() ? labels[i] : std::string(); };
  if (a.GetKind() == INNVariable::kStringCategorical) {
    const auto& values = a.GetDiscreteMissingStrings();
    for (std::size_t i = 0; i < values.size(); ++i)
      out.AddDiscreteUserMissing(index, values[i], label(i));
  } else {
    const auto& values = a.GetDiscreteMissingNumbers();
    for (std::size_t i = 0; i < values.size(); ++i)
      out.AddDiscreteUserMissing(index, values[i], label(i));
  }
  if (const VXXML_1_2::XMLElement* format = a.GetFieldFormatElement())
    out.GetVarAt(index)->SetFieldFormatElement(format->Clone());
  return index;
}

}  // namespace

bool ConvertHostVarList(const VXCommon_1_2::VXVarList& host, NNVarList& out, double correction) {
  std::vector<std::unique_ptr<VXVarAdapter>> adapters;
  for (int i = 0; i < host.Size(); ++i)
    adapters.emplace_back(VXVarAdapter::Create(host.GetVarAt(i)));
  bool ok = true;
  for (const auto& adapter : adapters) {
    if (!adapter || AddVariable(out, *adapter, correction) < 0) {
      ok = false;
      break;
    }
  }
  // Replacements by the host's index: every variable was added, in order.
  for (int i = 0; ok && i < host.Size(); ++i) {
    const std::string* replacement = host.GetVarAt(i)->GetMissingValueReplacement();
    if (replacement != nullptr && !out.SetMissingValueReplacement(i, *replacement)) ok = false;
  }
  out.SetWeightedCount(host.GetWeightedCount());
  if (const VXXML_1_2::XMLElement* formats = host.GetFieldFormatsElement())
    out.SetFieldFormatsElement(formats->Clone());
  return ok;
}

NNVarList ConvertedHostVarList(const VXCommon_1_2::VXVarList& host, double correction,
                               bool* converted) {
  NNVarList list;
  const bool ok = ConvertHostVarList(host, list, correction);
  if (converted != nullptr) *converted = ok;
  return list;
}
