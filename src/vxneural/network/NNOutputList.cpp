#include "vxneural/network/NNOutputList.h"

#include <memory>
#include <ostream>
#include <utility>

#include "vxcommon/VXMissing.h"
#include "vxneural/network/NNCategOutput.h"
#include "vxneural/network/NNContOutput.h"
#include "vxneural/variables/NNContVar.h"
#include "vxneural/variables/NNVarList.h"

NNOutputList::NNOutputList() : fNCategorical(0), fNContinuous(0), fMissing(true) {}

NNOutputList::NNOutputList(const NNVarList& varList) : NNOutputList() {
  const int n = static_cast<int>(varList.Size());
  for (int i = 0; i < n; ++i) {
    const INNVariable* var = varList.GetVarAt(i);
    if (var == nullptr || var->GetVariableRole() != INNVariable::kOutput) continue;
    if (var->GetMeasureLevel() == INNVariable::kContinuous) {
      fOutputs.push_back(std::make_unique<NNContOutput>(dynamic_cast<const NNContVar*>(var)));
      ++fNContinuous;
    } else {
      fOutputs.push_back(std::make_unique<NNCategOutput>(var->GetNumberOfCategories()));
      ++fNCategorical;
    }
    fNames.push_back(var->GetVariableName());
  }
}

NNOutputList::NNOutputList(const std::vector<int>& outputCategories) : NNOutputList() {
  for (int c : outputCategories) {
    if (c == 1) {
      fOutputs.push_back(std::make_unique<NNContOutput>());
      ++fNContinuous;
    } else {
      fOutputs.push_back(std::make_unique<NNCategOutput>(c));
      ++fNCategorical;
    }
  }
}

NNOutputList::NNOutputList(const NNOutputList& other)
    : fNames(other.fNames),
      fNCategorical(other.fNCategorical),
      fNContinuous(other.fNContinuous),
      fMissing(other.fMissing) {
  fOutputs.reserve(other.fOutputs.size());
  for (const auto& o : other.fOutputs) fOutputs.emplace_back(o->Clone());
}

NNOutputList& NNOutputList::operator=(const NNOutputList& other) {
  if (this != &other) {
    NNOutputList copy(other);
    *this = std::move(copy);
  }
  return *this;
}

NNOutputList::~NNOutputList() = default;

double NNOutputList::SetOutputs(const double* units) {
  if (fOutputs.empty()) return VXMV::gMissingValue;
  double result = VXMV::gMissingValue;
  int offset = 0;
  for (const auto& o : fOutputs) {
    result = o->SetOutputs(units + offset);
    offset += o->GetNUnits();
  }
  if (offset >= 1) fMissing = false;
  return result;
}

const INNOutput* NNOutputList::GetOutputAt(int index) const {
  if (fMissing || index < 0 || index >= Size()) return nullptr;
  return fOutputs[static_cast<std::size_t>(index)].get();
}

int NNOutputList::FindName(const std::string& name) const {
  for (std::size_t i = 0; i < fNames.size(); ++i) {
    if (fNames[i] == name) return static_cast<int>(i);
  }
  return -1;
}

int NNOutputList::GetNUnits() const {
  int n = 0;
  for (const auto& o : fOutputs) n += o->GetNUnits();
  return n;
}

void NNOutputList::Display(std::ostream& out) const {
  out << "\nNNOutputList object: "
      << "Number of categorical = " << fNCategorical << ", continuous = " << fNContinuous << '\n';
  out << "\tOutput variable names: ";
  for (std::size_t i = 0; i < fNames.size(); ++i) out << (i > 0 ? " " : "") << fNames[i];
  out << '\n';
  for (const auto& o : fOutputs) o->Display(out);
  out << (fMissing ? "\tThe output is missing.\n" : "\tThe output is not missing.\n");
}
