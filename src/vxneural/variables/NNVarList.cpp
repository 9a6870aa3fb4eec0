#include "vxneural/variables/NNVarList.h"

#include <ostream>
#include <unordered_set>

#include "persist/BinaryIO.h"
#include "persist/XmlIO.h"
#include "vxcommon/XMLTree.h"
#include "vxneural/variables/NNCatNumEncoder.h"
#include "vxneural/variables/NNCatVar.h"
#include "vxneural/variables/NNContVar.h"
#include "vxneural/variables/NNNumericUserMissing.h"
#include "vxneural/variables/NNStringEncoder.h"
#include "vxneural/variables/NNStringUserMissing.h"

using VXNeural::detail::BinReader;
using VXNeural::detail::BinWriter;
using VXNeural::detail::kMaxVariables;
using VXNeural::detail::XmlReader;
using VXNeural::detail::XmlWriter;

namespace {
const char kClass[] = "NNVarList";
const char kTag[] = "VARL";
// A measure level and a variable tag at least.
constexpr std::size_t kMinVariableBytes = 8;

// What a stored variable reads itself into, by the measure level stored
// before it.
std::unique_ptr<INNVariable> Placeholder(int measureLevel) {
  if (measureLevel == INNVariable::kContinuous)
    return std::make_unique<NNContVar>("", "", -1.0, 1.0, 0.0, 1.0, INNVariable::kInput,
                                       INNVariable::kUndefinedStorage, 0.0);
  return std::make_unique<NNCatVar>("", "", 0, INNVariable::kStringCategorical, INNVariable::kInput,
                                    INNVariable::kUndefinedStorage);
}

// Reads the variables and counters of a list with reader r (binary or XML),
// handing each variable to readVar; appends them through append.
template <typename Reader, typename ReadVar, typename Append>
void ReadVariables(Reader& r, int count, ReadVar readVar, Append append) {
  std::unordered_set<std::string> names;
  for (int i = 0; i < count; ++i) {
    const int level = r.Int();
    std::unique_ptr<INNVariable> var = Placeholder(level);
    readVar(*var);
    // A valid list names every variable, once, and stores each one's own
    // measure level before it.
    if (var->GetMeasureLevel() != level || var->GetVariableName().empty() ||
        !names.insert(var->GetVariableName()).second)
      r.Fail();
    append(std::move(var));
  }
}
}  // namespace

NNVarList::NNVarList() = default;

NNVarList::NNVarList(const NNVarList& other)
    : fNumContVar(other.fNumContVar),
      fNumCatVar(other.fNumCatVar),
      fWeightedCount(other.fWeightedCount),
      fFieldFormatsElement(other.fFieldFormatsElement ? other.fFieldFormatsElement->Clone()
                                                      : nullptr) {
  fVariables.reserve(other.fVariables.size());
  for (const auto& var : other.fVariables) fVariables.emplace_back(var->Clone());
}

NNVarList& NNVarList::operator=(const NNVarList& other) {
  if (this != &other) {
    NNVarList copy(other);
    fVariables = std::move(copy.fVariables);
    fFieldFormatsElement = std::move(copy.fFieldFormatsElement);
    fNumContVar = copy.fNumContVar;
    fNumCatVar = copy.fNumCatVar;
    fWeightedCount = copy.fWeightedCount;
  }
  return *this;
}

NNVarList::~NNVarList() = default;

void NNVarList::Reset() {
  fVariables.clear();
  fNumContVar = 0;
  fNumCatVar = 0;
}

bool NNVarList::CanAdd(const std::string& name) const {
  return !name.empty() && FindVariable(name) == -1;
}

int NNVarList::Append(std::unique_ptr<INNVariable> var) {
  const int index = static_cast<int>(fVariables.size());
  if (var->GetMeasureLevel() == INNVariable::kContinuous)
    ++fNumContVar;
  else
    ++fNumCatVar;
  fVariables.push_back(std::move(var));
  return index;
}

int NNVarList::AddContVar(const std::string& name, const std::string& label, double min, double max,
                          double mean, double variance, INNVariable::VariableRole role,
                          INNVariable::VariableStorage storage, double correction) {
  if (!CanAdd(name) || variance < 0.0) return -1;
  return Append(std::make_unique<NNContVar>(name, label, min, max, mean, variance, role, storage,
                                            correction));
}

int NNVarList::AddCatVar(const std::string& name, const std::string& label, int numberOfCategories,
                         INNVariable::MeasureLevel level, INNVariable::VariableRole role,
                         INNVariable::VariableStorage storage) {
  if (!CanAdd(name)) return -1;
  return Append(std::make_unique<NNCatVar>(name, label, numberOfCategories, level, role, storage));
}

int NNVarList::AddCatVar(const std::string& name, const std::string& label,
                         const std::vector<double>& values, INNVariable::VariableRole role,
                         INNVariable::VariableStorage storage) {
  if (!CanAdd(name)) return -1;
  auto var = std::make_unique<NNCatVar>(name, label, static_cast<int>(values.size()),
                                        INNVariable::kNumericCategorical, role, storage);
  auto* encoder = static_cast<NNCatNumEncoder*>(var->GetEncoder());
  for (double v : values) encoder->Encode(v);
  return Append(std::move(var));
}

int NNVarList::AddCatVar(const std::string& name, const std::string& label,
                         const std::vector<double>& values,
                         const std::vector<std::string>& valueLabels,
                         INNVariable::VariableRole role, INNVariable::VariableStorage storage) {
  const int index = AddCatVar(name, label, values, role, storage);
  if (index != -1) GetEncoderAt(index)->SetValueLabels(valueLabels);
  return index;
}

int NNVarList::AddCatVar(const std::string& name, const std::string& label,
                         const std::vector<std::string>& values, INNVariable::VariableRole role,
                         INNVariable::VariableStorage storage) {
  if (!CanAdd(name)) return -1;
  auto var = std::make_unique<NNCatVar>(name, label, static_cast<int>(values.size()),
                                        INNVariable::kStringCategorical, role, storage);
  auto* encoder = static_cast<NNStringEncoder*>(var->GetEncoder());
  for (const std::string& v : values) encoder->Encode(v);
  return Append(std::move(var));
}

int NNVarList::AddCatVar(const std::string& name, const std::string& label,
                         const std::vector<std::string>& values,
                         const std::vector<std::string>& valueLabels,
                         INNVariable::VariableRole role, INNVariable::VariableStorage storage) {
  const int index = AddCatVar(name, label, values, role, storage);
  if (index != -1) GetEncoderAt(index)->SetValueLabels(valueLabels);
  return index;
}

bool NNVarList::RemoveVar(int index) {
  if (!ValidIndex(index)) return false;
  const bool continuous =
      fVariables[static_cast<std::size_t>(index)]->GetMeasureLevel() == INNVariable::kContinuous;
  fVariables.erase(fVariables.begin() + index);
  if (continuous)
    --fNumContVar;
  else
    --fNumCatVar;
  return true;
}

bool NNVarList::RemoveVar(const std::string& name) { return RemoveVar(FindVariable(name)); }

int NNVarList::FindVariable(const std::string& name) const {
  for (std::size_t i = 0; i < fVariables.size(); ++i)
    if (fVariables[i]->GetVariableName() == name) return static_cast<int>(i);
  return -1;
}

INNVariable* NNVarList::GetVarAt(int index) {
  return ValidIndex(index) ? fVariables[static_cast<std::size_t>(index)].get() : nullptr;
}

const INNVariable* NNVarList::GetVarAt(int index) const {
  return ValidIndex(index) ? fVariables[static_cast<std::size_t>(index)].get() : nullptr;
}

INNEncoder* NNVarList::GetEncoderAt(int index) {
  INNVariable* var = GetVarAt(index);
  return var ? var->GetEncoder() : nullptr;
}

const INNEncoder* NNVarList::GetEncoderAt(int index) const {
  const INNVariable* var = GetVarAt(index);
  return var ? var->GetEncoder() : nullptr;
}

INNVariable::VariableRole NNVarList::GetVariableRole(int index) const {
  const INNVariable* var = GetVarAt(index);
  return var ? var->GetVariableRole() : INNVariable::kUndefinedRole;
}

bool NNVarList::SetVariableRole(int index, INNVariable::VariableRole role) {
  INNVariable* var = GetVarAt(index);
  if (var == nullptr) return false;
  var->SetVariableRole(role);
  return true;
}

int NNVarList::GetNumInputs() const {
  int units = 0;
  for (const auto& var : fVariables)
    if (var->GetVariableRole() == INNVariable::kInput) units += var->GetNumberOfCategories();
  return units;
}

int NNVarList::GetNumInputVars() const {
  int n = 0;
  for (const auto& var : fVariables)
    if (var->GetVariableRole() == INNVariable::kInput) ++n;
  return n;
}

std::vector<int> NNVarList::GetNInputCats() const {
  std::vector<int> cats;
  for (const auto& var : fVariables)
    if (var->GetVariableRole() == INNVariable::kInput) cats.push_back(var->GetNumberOfCategories());
  return cats;
}

std::vector<int> NNVarList::GetNOutputCats() const {
  std::vector<int> cats;
  for (const auto& var : fVariables)
    if (var->GetVariableRole() == INNVariable::kOutput)
      cats.push_back(var->GetNumberOfCategories());
  return cats;
}

void NNVarList::GetVarNames(std::vector<std::string>& inputNames,
                            std::vector<std::string>& outputNames) const {
  inputNames.clear();
  outputNames.clear();
  for (const auto& var : fVariables) {
    if (var->GetVariableRole() == INNVariable::kInput) inputNames.push_back(var->GetVariableName());
    if (var->GetVariableRole() == INNVariable::kOutput)
      outputNames.push_back(var->GetVariableName());
  }
}

bool NNVarList::IsValidList(std::vector<int>& constantVars, std::vector<int>& invalidVars) const {
  constantVars.clear();
  invalidVars.clear();
  bool hasInput = false;
  bool hasOutput = false;
  for (std::size_t i = 0; i < fVariables.size(); ++i) {
    INNVariable& var = *fVariables[i];
    const INNVariable::VariableRole role = var.GetVariableRole();
    if (role != INNVariable::kInput && role != INNVariable::kOutput) continue;
    hasInput = hasInput || role == INNVariable::kInput;
    hasOutput = hasOutput || role == INNVariable::kOutput;
    switch (var.GetVarStatus()) {
      case INNVariable::kVarConstant:
        constantVars.push_back(static_cast<int>(i));
        break;
      case INNVariable::kVarInvalid:
        invalidVars.push_back(static_cast<int>(i));
        break;
      case INNVariable::kVarOK:
        break;
    }
  }
  return constantVars.empty() && invalidVars.empty() && hasInput && hasOutput;
}

int NNVarList::GetInpContMinMax(std::vector<double>& mins, std::vector<double>& maxs) const {
  mins.clear();
  maxs.clear();
  int n = 0;
  for (const auto& var : fVariables) {
    if (var->GetMeasureLevel() != INNVariable::kContinuous ||
        var->GetVariableRole() != INNVariable::kInput)
      continue;
    const auto& cont = static_cast<const NNContVar&>(*var);
    const NNLinearEncoder* encoder = cont.GetLinearEncoder();
    mins.push_back(encoder ? encoder->Normalize(cont.GetMin()) : cont.GetMin());
    maxs.push_back(encoder ? encoder->Normalize(cont.GetMax()) : cont.GetMax());
    ++n;
  }
  return n;
}

int NNVarList::SetupContEncoders(VXNNCommon::Standardization inputMode,
                                 VXNNCommon::Standardization outputMode) {
  int succeeded = 0;
  int seen = 0;
  for (std::size_t i = 0; i < fVariables.size() && seen < fNumContVar; ++i) {
    if (fVariables[i]->GetMeasureLevel() != INNVariable::kContinuous) continue;
    ++seen;
    auto& cont = static_cast<NNContVar&>(*fVariables[i]);
    if (cont.GetVariableRole() == INNVariable::kInput)
      succeeded += cont.SetupEncoder(inputMode) ? 1 : 0;
    else if (cont.GetVariableRole() == INNVariable::kOutput)
      succeeded += cont.SetupEncoder(outputMode) ? 1 : 0;
  }
  return succeeded;
}

int NNVarList::UpdateNumbersOfCategories() {
  int sum = 0;
  for (auto& var : fVariables) sum += var->UpdateNumberOfCategories();
  return sum;
}

bool NNVarList::AddDiscreteUserMissing(int index, const std::string& value,
                                       const std::string& label) {
  INNVariable* var = GetVarAt(index);
  if (var == nullptr || var->GetMeasureLevel() != INNVariable::kStringCategorical) return false;
  if (INNUserMissing* existing = var->GetUserMissingInfo()) {
    auto* strings = dynamic_cast<NNStringUserMissing*>(existing);
    if (strings == nullptr) return false;
    strings->AddValue(value, label);
    return true;
  }
  auto um = std::make_unique<NNStringUserMissing>();
  um->AddValue(value, label);
  if (!var->SetUserMissingInfo(um.get())) return false;
  um.release();
  return true;
}

bool NNVarList::AddDiscreteUserMissing(int index, double value, const std::string& label) {
  INNVariable* var = GetVarAt(index);
  if (var == nullptr || var->GetMeasureLevel() == INNVariable::kStringCategorical) return false;
  if (INNUserMissing* existing = var->GetUserMissingInfo()) {
    auto* numbers = dynamic_cast<NNNumericUserMissing*>(existing);
    if (numbers == nullptr) return false;
    numbers->AddValue(value, label);
    return true;
  }
  auto um = std::make_unique<NNNumericUserMissing>();
  um->AddValue(value, label);
  if (!var->SetUserMissingInfo(um.get())) return false;
  um.release();
  return true;
}

bool NNVarList::SetMissingInterval(int index, double low, double high) {
  INNVariable* var = GetVarAt(index);
  if (var == nullptr || var->GetMeasureLevel() == INNVariable::kStringCategorical) return false;
  const NNNumericInterval interval(low, high);
  if (INNUserMissing* existing = var->GetUserMissingInfo()) {
    auto* numbers = dynamic_cast<NNNumericUserMissing*>(existing);
    if (numbers == nullptr) return false;
    numbers->SetInterval(interval);
    return true;
  }
  auto um = std::make_unique<NNNumericUserMissing>();
  um->SetInterval(interval);
  if (!var->SetUserMissingInfo(um.get())) return false;
  um.release();
  return true;
}

bool NNVarList::SetMissingValueReplacement(int index, const std::string& text) {
  INNVariable* var = GetVarAt(index);
  if (var == nullptr) return false;
  var->SetMissingValueReplacement(text);
  return true;
}

void NNVarList::SetWeightedCount(double count) {
  if (count > 0.0) fWeightedCount = count;
}

void NNVarList::SetFieldFormatsElement(VXXML_1_2::XMLElement* element) {
  if (element != fFieldFormatsElement.get()) fFieldFormatsElement.reset(element);
}

int NNVarList::WriteObject(std::ostream& out) const {
  BinWriter w(out);
  w.Tag(kTag).Int(static_cast<int>(fVariables.size()));
  for (const auto& var : fVariables) {
    w.Int(var->GetMeasureLevel());
    w.Nested(var->WriteObject(out));
  }
  w.Int(fNumContVar).Int(fNumCatVar);
  return w.Bytes();
}

int NNVarList::ReadObject(std::istream& in) {
  BinReader r(in, kClass);
  Reset();
  r.ExpectTag(kTag);
  const int n = r.Count(kMaxVariables, kMinVariableBytes);
  ReadVariables(
      r, n, [&](INNVariable& var) { r.Nested(var.ReadObject(in)); },
      [this](std::unique_ptr<INNVariable> var) { Append(std::move(var)); });
  const int numCont = r.Int();
  const int numCat = r.Int();
  // The counters describe the variables just read; anything else is corrupt.
  if (numCont != fNumContVar || numCat != fNumCatVar) r.Fail();
  return r.Bytes();
}

int NNVarList::WriteObjectXML(std::ostream& out, int level) const {
  XmlWriter w(out, kClass, level);
  w.Int(static_cast<int>(fVariables.size()));
  for (const auto& var : fVariables) {
    w.Int(var->GetMeasureLevel());
    w.Nested(var->WriteObjectXML(out, level + 1));
  }
  w.Int(fNumContVar).Int(fNumCatVar);
  return w.End();
}

int NNVarList::ReadObjectXML(std::istream& in) {
  Reset();
  XmlReader r(in, kClass, kClass);
  const int n = r.Count(kMaxVariables);
  ReadVariables(
      r, n, [&](INNVariable& var) { r.Nested(var.ReadObjectXML(in)); },
      [this](std::unique_ptr<INNVariable> var) { Append(std::move(var)); });
  const int numCont = r.Int();
  const int numCat = r.Int();
  if (numCont != fNumContVar || numCat != fNumCatVar) r.Fail();
  return r.End();
}

void NNVarList::Display(std::ostream& out) const {
  out << "\nBegin display of NNVarList object.\n";
  out << "Total variables: " << fVariables.size() << '\n';
  out << "fNumContVar = " << fNumContVar << '\n';
  out << "fNumCatVar  = " << fNumCatVar << '\n';
  for (std::size_t i = 0; i < fVariables.size(); ++i) {
    out << "Variable " << i << '\n';
    fVariables[i]->Display(out);
  }
  out << "End of display for NNVarList object.\n";
}
