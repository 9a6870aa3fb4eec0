// Rows of a CSV table as the library's raw records: one double per variable
// of the list, in list order; a categorical field holds the code its
// variable's encoder gives the cell, a missing one the missing value.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "data/CsvTable.h"
#include "vxcommon/Record.h"
#include "vxneural/variables/NNVarList.h"

namespace vxnn {

enum class CellProblem {
  kNone,
  kMissing,         // an empty cell or a declared missing value
  kUnseenCategory,  // a category the variable does not know
  kNotANumber,      // text where the variable holds numbers
};

struct RecordIssue {
  CellProblem fProblem = CellProblem::kNone;
  int fVariable = -1;  // the first variable with the problem
  explicit operator bool() const { return fProblem != CellProblem::kNone; }
};

// What becomes of a record with a missing input: kImpute fills a
// continuous input with its variable's mean and a categorical one with its
// code 0 (the most frequent training category: see BuildVarList), both
// from the model's own variable list; kDrop leaves the record out.
enum class MissingInputs { kImpute, kDrop };

// What becomes of an input holding a value the model does not know: a
// category its training file never held, or text in a column the training
// file held only numbers in. kImpute takes it as a missing input and fills
// in code 0, the most frequent training category, or the training mean,
// whatever MissingInputs says; kDrop leaves the record out, with no
// prediction. A target's unknown value always leaves the record out: there
// is nothing to measure the prediction against.
enum class UnknownCategories { kImpute, kDrop };

// How many records of a data file a saved model's predictor importance is
// computed over by default: enough for stable figures on any data, few
// enough that the page or document costs seconds, not the file's length.
constexpr long kImportanceRecords = 5000;

// Reads rows of a table whose header names the list's variables (extra
// columns are ignored). Unused variables are never read and hold 0.
class RecordMaker {
 public:
  // Throws InputError naming the first Input variable (and, when
  // targetsRequired, the first Output variable) without a column.
  RecordMaker(const NNVarList& list, const std::vector<std::string>& header, bool targetsRequired,
              const std::string& sourceName, MissingInputs missing = MissingInputs::kDrop,
              UnknownCategories unknown = UnknownCategories::kDrop);

  // Fills record; Output variables are read only when checkTargets is true
  // and they have a column, and hold the missing value otherwise. Returns
  // the first problem among the fields read; the record is then unusable.
  // A missing target is always a problem; a missing input only with
  // kDrop, and with kImpute adds one to *imputed (when given) per input
  // filled in. An input of an unknown category likewise, with
  // UnknownCategories, counted in *unknown.
  RecordIssue Make(const std::vector<std::string>& row, VXCommon_1_2::Record& record,
                   bool checkTargets, int* imputed = nullptr, int* unknown = nullptr) const;

  // The value of one field read from its cell, as Make reads it: filled in
  // (and counted) as the options say, problem left kNone then; otherwise
  // the missing value and the problem. A host that holds its data by column
  // reads each distinct cell once this way.
  double ReadValue(int variable, const std::string& cell, CellProblem& problem,
                   int* imputed = nullptr, int* unknown = nullptr) const;

  // Texts that count as missing per column name (--missing), beyond the
  // user-missing values the list holds: a text such as "NA" in a numeric
  // column cannot be one of those, and is missing rather than not a number.
  void DeclareMissing(const std::map<std::string, std::vector<std::string>>& missing);

  // The column of a variable, -1 when the table has none.
  int ColumnOf(int variable) const { return fColumns[static_cast<std::size_t>(variable)]; }

 private:
  double Value(int variable, const std::string& cell, CellProblem& problem) const;

  const NNVarList& fList;
  std::vector<int> fColumns;
  // Per variable: the value a missing input takes, or the missing value
  // when it is left missing.
  std::vector<double> fFill;
  // The same for an input holding a value the model does not know.
  std::vector<double> fUnknownFill;
  std::vector<std::vector<std::string>> fDeclared;  // per variable
};

// The library scores records of the inputs alone: one field per Input
// variable, in list order, wherever the targets stand in the list. This
// picks those fields out of a full record (one field per variable, as
// RecordMaker makes them and training reads them).
class ScoringRecord {
 public:
  // list must outlive this object.
  explicit ScoringRecord(const NNVarList& list);
  // The inputs of full, valid until the next call.
  const VXCommon_1_2::Record& Of(const VXCommon_1_2::Record& full);

 private:
  std::vector<int> fInputs;  // variable indices of the inputs, in order
  VXCommon_1_2::Record fRecord;
};

// The text of category code of a categorical variable: the string, or the
// number written shortest; "" for a code that names no category.
std::string CategoryLabel(const INNVariable& var, int code);
// Every category of a categorical variable, in code order.
std::vector<std::string> CategoryLabels(const INNVariable& var);

// A short phrase for counts of rows left out ("2 with a missing value").
std::string ProblemText(CellProblem problem);

// Shortest text that reads back as the same double.
std::string FormatNumber(double value);

}  // namespace vxnn
