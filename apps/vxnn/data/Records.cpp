#include "data/Records.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "data/Dataset.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/variables/NNCatNumEncoder.h"
#include "vxneural/variables/NNContVar.h"
#include "vxneural/variables/NNNumericUserMissing.h"
#include "vxneural/variables/NNStringEncoder.h"
#include "vxneural/variables/NNStringUserMissing.h"

namespace vxnn {

std::string FormatNumber(double value) {
  char buf[32];
  for (int precision = 6; precision <= 17; ++precision) {
    std::snprintf(buf, sizeof buf, "%.*g", precision, value);
    if (std::strtod(buf, nullptr) == value) break;
  }
  return buf;
}

RecordMaker::RecordMaker(const NNVarList& list, const std::vector<std::string>& header,
                         bool targetsRequired, const std::string& sourceName, MissingInputs missing,
                         UnknownCategories unknown)
    : fList(list),
      fColumns(list.Size(), -1),
      fFill(list.Size(), VXMV::gMissingValue),
      fUnknownFill(list.Size(), VXMV::gMissingValue) {
  for (unsigned v = 0; v < list.Size(); ++v) {
    const INNVariable& var = *list.GetVarAt(static_cast<int>(v));
    const std::string name = var.GetVariableName();
    for (std::size_t c = 0; c < header.size(); ++c)
      if (header[c] == name) fColumns[v] = static_cast<int>(c);
    const auto role = var.GetVariableRole();
    const bool needed =
        role == INNVariable::kInput || (targetsRequired && role == INNVariable::kOutput);
    if (needed && fColumns[v] < 0)
      throw InputError(sourceName + ": no column \"" + name + "\", which the model " +
                       (role == INNVariable::kInput ? "needs as an input" : "predicts"));
    double fill = VXMV::gMissingValue;
    if (role == INNVariable::kInput) {
      if (const auto* cont = dynamic_cast<const NNContVar*>(&var))
        fill = cont->GetMean();
      else if (var.GetNumberOfCategories() > 0)
        fill = 0.0;
    }
    if (missing == MissingInputs::kImpute) fFill[v] = fill;
    if (unknown == UnknownCategories::kImpute) fUnknownFill[v] = fill;
  }
}

void RecordMaker::DeclareMissing(const std::map<std::string, std::vector<std::string>>& missing) {
  fDeclared.assign(fList.Size(), {});
  for (unsigned v = 0; v < fList.Size(); ++v) {
    const auto m = missing.find(fList.GetVarAt(static_cast<int>(v))->GetVariableName());
    if (m != missing.end()) fDeclared[v] = m->second;
  }
}

double RecordMaker::Value(int variable, const std::string& cell, CellProblem& problem) const {
  const INNVariable& var = *fList.GetVarAt(variable);
  problem = CellProblem::kNone;
  const auto* declared =
      fDeclared.empty() ? nullptr : &fDeclared[static_cast<std::size_t>(variable)];
  if (cell.empty() ||
      (declared && std::find(declared->begin(), declared->end(), cell) != declared->end())) {
    problem = CellProblem::kMissing;
    return VXMV::gMissingValue;
  }
  switch (var.GetMeasureLevel()) {
    case INNVariable::kStringCategorical: {
      const auto* enc = dynamic_cast<const NNStringEncoder*>(var.GetEncoder());
      const int code = enc ? enc->EncodeConst(cell) : -1;
      if (code >= 0) return code;
      const auto* um = dynamic_cast<const NNStringUserMissing*>(var.GetUserMissingInfo());
      problem = um && um->Contains(cell) ? CellProblem::kMissing : CellProblem::kUnseenCategory;
      return VXMV::gMissingValue;
    }
    case INNVariable::kNumericCategorical:
    case INNVariable::kContinuous: {
      double x = 0;
      const NumberText read = ReadNumber(cell, x);
      if (read != NumberText::kFinite) {
        // nan, inf and overflowing numbers say "no value" as an empty cell does.
        problem = read == NumberText::kNonFinite ? CellProblem::kMissing : CellProblem::kNotANumber;
        return VXMV::gMissingValue;
      }
      const auto* um = dynamic_cast<const NNNumericUserMissing*>(var.GetUserMissingInfo());
      if (um && um->Contains(x)) {
        problem = CellProblem::kMissing;
        return VXMV::gMissingValue;
      }
      if (var.GetMeasureLevel() == INNVariable::kContinuous) return x;
      const auto* enc = dynamic_cast<const NNCatNumEncoder*>(var.GetEncoder());
      const int code = enc ? enc->EncodeConst(x) : -1;
      if (code >= 0) return code;
      problem = CellProblem::kUnseenCategory;
      return VXMV::gMissingValue;
    }
    default:
      problem = CellProblem::kNotANumber;
      return VXMV::gMissingValue;
  }
}

double RecordMaker::ReadValue(int variable, const std::string& cell, CellProblem& problem,
                              int* imputed, int* unknown) const {
  const double value = Value(variable, cell, problem);
  const double fill = fFill[static_cast<std::size_t>(variable)];
  if (problem == CellProblem::kMissing && !VXMV::IsMissing(fill)) {
    problem = CellProblem::kNone;
    if (imputed) ++*imputed;
    return fill;
  }
  // Code 0 is the most frequent training category (see BuildVarList), the
  // value a missing categorical input takes; a numeric input takes the
  // training mean.
  const double unknownFill = fUnknownFill[static_cast<std::size_t>(variable)];
  if ((problem == CellProblem::kUnseenCategory || problem == CellProblem::kNotANumber) &&
      !VXMV::IsMissing(unknownFill)) {
    problem = CellProblem::kNone;
    if (unknown) ++*unknown;
    return unknownFill;
  }
  return value;
}

RecordIssue RecordMaker::Make(const std::vector<std::string>& row, VXCommon_1_2::Record& record,
                              bool checkTargets, int* imputed, int* unknown) const {
  const int n = static_cast<int>(fList.Size());
  if (record.Size() != n) record.Resize(n);
  RecordIssue issue;
  for (int v = 0; v < n; ++v) {
    const auto role = fList.GetVariableRole(v);
    const int column = fColumns[static_cast<std::size_t>(v)];
    const bool read = role == INNVariable::kInput ||
                      (role == INNVariable::kOutput && checkTargets && column >= 0);
    if (!read) {
      record[v] = role == INNVariable::kOutput ? VXMV::gMissingValue : 0.0;
      continue;
    }
    CellProblem problem;
    record[v] = ReadValue(v, row[static_cast<std::size_t>(column)], problem, imputed, unknown);
    if (problem != CellProblem::kNone && !issue) {
      issue.fProblem = problem;
      issue.fVariable = v;
    }
  }
  return issue;
}

ScoringRecord::ScoringRecord(const NNVarList& list) {
  for (int v = 0; v < static_cast<int>(list.Size()); ++v)
    if (list.GetVariableRole(v) == INNVariable::kInput) fInputs.push_back(v);
  fRecord.Resize(static_cast<int>(fInputs.size()));
}

const VXCommon_1_2::Record& ScoringRecord::Of(const VXCommon_1_2::Record& full) {
  // A full record too short for an input leaves it missing, which the
  // library refuses (50018) rather than scoring a stale value.
  for (std::size_t k = 0; k < fInputs.size(); ++k)
    fRecord[static_cast<int>(k)] =
        fInputs[k] < full.Size() ? full[fInputs[k]] : VXMV::gMissingValue;
  return fRecord;
}

std::string CategoryLabel(const INNVariable& var, int code) {
  if (const auto* s = dynamic_cast<const NNStringEncoder*>(var.GetEncoder()))
    return s->Decode(code);
  if (const auto* c = dynamic_cast<const NNCatNumEncoder*>(var.GetEncoder())) {
    const double x = c->Decode(code);
    return VXMV::IsMissing(x) ? std::string() : FormatNumber(x);
  }
  return std::string();
}

std::vector<std::string> CategoryLabels(const INNVariable& var) {
  std::vector<std::string> labels;
  for (int k = 0; k < var.GetNumberOfCategories(); ++k) labels.push_back(CategoryLabel(var, k));
  return labels;
}

std::string ProblemText(CellProblem problem) {
  switch (problem) {
    case CellProblem::kMissing:
      return "with a missing value";
    case CellProblem::kUnseenCategory:
      return "with a category the model does not know";
    case CellProblem::kNotANumber:
      return "with text where a number belongs";
    case CellProblem::kNone:
      break;
  }
  return "";
}

}  // namespace vxnn
