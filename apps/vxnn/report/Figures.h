// A model's figures on a set of records, as the train and eval summaries
// hold them, and the pieces both summaries show alike: a target's figures,
// the records left out, the inputs filled in, the stop reason.
#pragma once

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "data/RowRecords.h"
#include "report/Json.h"
#include "vxneural/VXNNCommon.h"
#include "vxneural/evaluation/NNOutputStatistics.h"
#include "vxneural/variables/NNVarList.h"

namespace vxnn {

// The figures of one target on one record set.
struct TargetFigures {
  std::string fName;
  bool fCategorical = false;
  std::vector<std::string> fCategories;      // categorical targets
  double fPercentCorrect = 0.0;              // categorical targets
  std::vector<std::vector<int>> fConfusion;  // rows: actual, columns: predicted
  double fRelativeError = 0.0;               // continuous targets; may be missing
};

// One entry per Output variable of the list, in list order.
std::vector<TargetFigures> TargetsOf(const NNVarList& list, const NNOutputStatistics& stats);

// Input variables with their importance, most important first (ties keep
// list order).
std::vector<std::pair<std::string, double>> RankImportance(const NNVarList& list,
                                                           const std::vector<double>& importance);

// Records left out of a set, by reason, in the order of CellProblem.
using LeftOut = std::vector<std::pair<CellProblem, int>>;
// "2 records with a missing value, 1 record with ..." or "" when none.
std::string LeftOutText(const LeftOut& leftOut);
// An object with a member per reason ("missing_value": 2, ...).
void LeftOutJson(JsonWriter& j, const LeftOut& leftOut);

// "5 inputs in 4 training records" (side "training") or "" when none.
std::string ImputedText(const PassCounts& counts, const char* side);
// {"inputs": 5, "records": 4}: the missing inputs filled in.
void ImputedJson(JsonWriter& j, const PassCounts& counts);

// A phrase for why training stopped.
std::string StopReasonText(VXNNCommon::StopReason reason);

// The confusion matrix of a categorical target as a table, every line
// starting with indent.
void PrintConfusion(std::ostream& out, const TargetFigures& target, const std::string& indent);
// The "accuracy" (a fraction) and "confusion_matrix" members of a
// categorical target.
void CategoricalFiguresJson(JsonWriter& j, const TargetFigures& target);

}  // namespace vxnn
