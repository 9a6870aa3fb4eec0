// Turning a CSV table into the library's view of it: which columns are
// continuous or categorical, which are targets, and the variable list with
// the statistics the encoders need.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "CsvTable.h"
#include "vxneural/variables/NNVarList.h"

namespace vxnn {

enum class FieldKind { kContinuous, kNumericCategorical, kStringCategorical };

struct FieldPlan {
  std::string fName;
  int fColumn = -1;
  FieldKind fKind = FieldKind::kContinuous;
  bool fTarget = false;
};

struct DescribeOptions {
  std::vector<std::string> fTargets;
  std::vector<std::string> fContinuous;   // forced continuous
  std::vector<std::string> fCategorical;  // forced categorical
  std::vector<std::string> fIgnore;
  // Column name -> raw texts that count as missing for it.
  std::map<std::string, std::vector<std::string>> fMissing;
  // A numeric column of whole numbers with at most this many distinct values
  // is taken as categorical (codes such as 0/1 or 1..5 are rarely amounts).
  int fMaxCategoricalLevels = 10;
};

// Decides the kind of every column not ignored. Throws InputError for an
// unknown column name in the options, a forced-continuous column holding
// text, or no target.
std::vector<FieldPlan> PlanFields(const CsvTable& table, const DescribeOptions& options);

// Builds the variable list in column order: statistics over the non-missing
// cells (mean, unbiased variance, min, max) for continuous fields,
// categories in order of first appearance for categorical ones, and the
// declared missing texts (plus the empty cell, where a column has one) as
// user-missing values.
NNVarList BuildVarList(const CsvTable& table, const std::vector<FieldPlan>& plan,
                       const DescribeOptions& options);

// Whole text parsed as a finite number.
bool ParseNumber(const std::string& text, double& value);

}  // namespace vxnn
