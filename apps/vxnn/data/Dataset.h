// Turning a CSV table into the library's view of it: which columns are
// continuous or categorical, which are targets, and the variable list with
// the statistics the encoders need.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "data/CsvTable.h"
#include "data/Partition.h"
#include "data/RowSource.h"
#include "vxneural/variables/NNVarList.h"

namespace vxnn {

enum class FieldKind { kContinuous, kNumericCategorical, kStringCategorical };

// Why a field got its kind, so that every choice can be shown and undone.
enum class KindReason {
  kText,             // a cell is not a number
  kNumbers,          // every cell is a number
  kFewWholeNumbers,  // a target of few whole numbers, taken as categories
  kUserCategorical,  // --categorical
  kUserContinuous,   // --continuous
};

struct FieldPlan {
  std::string fName;
  int fColumn = -1;
  FieldKind fKind = FieldKind::kContinuous;
  bool fTarget = false;
  KindReason fReason = KindReason::kNumbers;
  int fWholeValues = 0;  // distinct values, for kFewWholeNumbers
  // Cells of a numeric column holding nan, inf or a number too large for a
  // double: they count as missing rather than making the column text.
  long fNonFinite = 0;
};

// "continuous (numbers)", "categorical (taken as categorical: 10
// whole-number values; use --continuous to change)" and the like.
std::string FieldKindText(const FieldPlan& field);

struct DescribeOptions {
  std::vector<std::string> fTargets;
  std::vector<std::string> fContinuous;   // forced continuous
  std::vector<std::string> fCategorical;  // forced categorical
  std::vector<std::string> fIgnore;
  // Column name -> raw texts that count as missing for it.
  std::map<std::string, std::vector<std::string>> fMissing;
  // A numeric target of whole numbers with at most this many distinct
  // values is taken as categorical (class labels such as 0/1 or 1..5 are
  // rarely amounts). Numeric inputs stay continuous unless --categorical
  // says otherwise: small whole numbers (counts, intensities) are ordered.
  int fMaxCategoricalLevels = 10;
};

// Decides the kind of every column not ignored, in one pass over the rows.
// Throws InputError for an unknown column name in the options, a
// forced-continuous column holding text, or no target.
// rowCount, when given, receives the number of rows read.
std::vector<FieldPlan> PlanFields(RowSource& rows, const DescribeOptions& options,
                                  std::size_t* rowCount = nullptr);
std::vector<FieldPlan> PlanFields(const CsvTable& table, const DescribeOptions& options);

// Builds the variable list in column order, in one pass over the rows:
// statistics over the non-missing cells (mean, unbiased variance, min,
// max) of continuous fields, from the training rows of split only when
// given; for categorical ones the categories of every row, so that no
// record of the file holds a category the model does not know. The
// training rows' categories come first, a target's in order of first
// appearance, an input's from most to least frequent (ties in order of
// first appearance), so that an input's code 0 is its most frequent
// training category, the value a missing input takes; the categories only
// the test rows of split hold follow in the same order. The declared
// missing texts (plus the empty cell, where a column has one) become
// user-missing values.
NNVarList BuildVarList(RowSource& rows, const std::vector<FieldPlan>& plan,
                       const DescribeOptions& options, SplitDraw* split = nullptr);
NNVarList BuildVarList(const CsvTable& table, const std::vector<FieldPlan>& plan,
                       const DescribeOptions& options);

enum class NumberText { kFinite, kNonFinite, kText };
// Whole text (blanks around it allowed) read as a number: kNonFinite for
// nan, inf and numbers beyond the range of a double. Allocates nothing.
NumberText ReadNumber(const std::string& text, double& value);
// Whole text parsed as a finite number.
bool ParseNumber(const std::string& text, double& value);

}  // namespace vxnn
