#include "report/Figures.h"

#include <algorithm>
#include <iomanip>

#include "data/Records.h"
#include "report/Format.h"
#include "vxcommon/VXMissing.h"

namespace vxnn {

std::vector<TargetFigures> TargetsOf(const NNVarList& list, const NNOutputStatistics& stats) {
  std::vector<TargetFigures> targets;
  int cat = 0, cont = 0;
  for (int v = 0; v < static_cast<int>(list.Size()); ++v) {
    if (list.GetVariableRole(v) != INNVariable::kOutput) continue;
    const INNVariable& var = *list.GetVarAt(v);
    TargetFigures t;
    t.fName = var.GetVariableName();
    t.fCategorical = var.GetMeasureLevel() != INNVariable::kContinuous;
    if (t.fCategorical) {
      t.fCategories = CategoryLabels(var);
      const auto& pc = stats.GetPercentsCorrect();
      t.fPercentCorrect = cat < static_cast<int>(pc.size()) ? pc[static_cast<std::size_t>(cat)]
                                                            : VXMV::gMissingValue;
      t.fConfusion = stats.GetMisClassMatrixAsVecOfRows(cat);
      ++cat;
    } else {
      const auto& re = stats.GetRelativeErrors();
      t.fRelativeError = cont < static_cast<int>(re.size()) ? re[static_cast<std::size_t>(cont)]
                                                            : VXMV::gMissingValue;
      ++cont;
    }
    targets.push_back(t);
  }
  return targets;
}

std::vector<std::pair<std::string, double>> RankImportance(const NNVarList& list,
                                                           const std::vector<double>& importance) {
  std::vector<std::string> inputs, outputs;
  list.GetVarNames(inputs, outputs);
  std::vector<std::pair<std::string, double>> ranked;
  for (std::size_t i = 0; i < inputs.size() && i < importance.size(); ++i)
    ranked.emplace_back(inputs[i], importance[i]);
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  return ranked;
}

std::string LeftOutText(const LeftOut& leftOut) {
  std::vector<std::string> parts;
  for (const auto& p : leftOut)
    parts.push_back(Plural(p.second, "record") + " " + ProblemText(p.first));
  return Join(parts);
}

void LeftOutJson(JsonWriter& j, const LeftOut& leftOut) {
  j.BeginObject();
  for (const auto& p : leftOut) {
    const char* key = p.first == CellProblem::kMissing          ? "missing_value"
                      : p.first == CellProblem::kUnseenCategory ? "unknown_category"
                                                                : "not_a_number";
    j.Field(key, p.second);
  }
  j.EndObject();
}

std::string ImputedText(const PassCounts& c, const char* side) {
  if (c.fImputedCells == 0) return "";
  return Plural(c.fImputedCells, "input") + " in " + std::to_string(c.fImputedRecords) + " " +
         side + (*side ? " " : "") + "record" + (c.fImputedRecords == 1 ? "" : "s");
}

void ImputedJson(JsonWriter& j, const PassCounts& c) {
  j.BeginObject();
  j.Field("inputs", c.fImputedCells);
  j.Field("records", c.fImputedRecords);
  j.EndObject();
}

std::string StopReasonText(VXNNCommon::StopReason reason) {
  switch (reason) {
    case VXNNCommon::kStoppedMaxTime:
      return "the time limit was reached";
    case VXNNCommon::kStoppedMaxDataPasses:
      return "the data-pass limit was reached";
    case VXNNCommon::kStoppedErrorChangeLimit:
      return "the training error stopped changing";
    case VXNNCommon::kStoppedErrorRatioLimit:
      return "the error ratio fell below its limit";
    case VXNNCommon::kStoppedSmallGradient:
      return "the gradient became negligible";
    case VXNNCommon::kStoppedVerifyingCycle:
      return "the test error stopped improving";
    case VXNNCommon::kStoppedAccuracy:
      return "the accuracy target was reached";
    case VXNNCommon::kStoppedComputed:
      return "the weights were computed directly";
    default:
      return "no stop reason recorded";
  }
}

void PrintConfusion(std::ostream& out, const TargetFigures& t, const std::string& indent) {
  std::size_t width = 9;
  for (const auto& c : t.fCategories) width = std::max(width, c.size() + 2);
  for (const auto& row : t.fConfusion)
    for (int n : row) width = std::max(width, std::to_string(n).size() + 2);
  std::size_t first = 6;
  for (const auto& c : t.fCategories) first = std::max(first, c.size());
  out << indent << std::string(first, ' ');
  for (const auto& c : t.fCategories) out << std::setw(static_cast<int>(width)) << c;
  out << "\n";
  for (std::size_t i = 0; i < t.fConfusion.size(); ++i) {
    out << indent << std::left << std::setw(static_cast<int>(first)) << t.fCategories[i]
        << std::right;
    for (int n : t.fConfusion[i]) out << std::setw(static_cast<int>(width)) << n;
    out << "\n";
  }
}

void CategoricalFiguresJson(JsonWriter& j, const TargetFigures& t) {
  j.Field("accuracy", Fraction(t.fPercentCorrect));
  j.Key("confusion_matrix").BeginArray();
  for (const auto& row : t.fConfusion) {
    j.BeginArray();
    for (int n : row) j.Integer(n);
    j.EndArray();
  }
  j.EndArray();
}

}  // namespace vxnn
