// What `vxnn eval` tells about a model on a data set, gathered once from
// what the evaluation measured: the text and the JSON summary
// (EvalWriters.cpp) read this structure and nothing else. The JSON
// document's shape is docs/schema/eval-summary.schema.json.
#pragma once

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "data/RowRecords.h"
#include "report/Figures.h"
#include "training/Training.h"
#include "vxneural/variables/NNVarList.h"

namespace vxnn {

// The figures of a model on a data set, as the evaluation measured them.
struct EvalResult {
  std::string fModelPath;
  std::string fDataPath;
  std::size_t fRecordsRead = 0;
  std::vector<std::pair<CellProblem, int>> fLeftOut;
  PassCounts fImputed;  // missing inputs and unknown categories filled in
  SetFigures fFigures;
};

struct EvalSummary {
  std::string fModelFile;
  std::string fDataFile;
  long fRecords = 0;  // read from the file, usable or not
  int fEvaluatedRecords = 0;
  LeftOut fLeftOut;
  PassCounts fImputed;                  // the imputed and unknown counts are shown
  double fTotalError = 0.0;             // the missing value when no record was evaluated
  std::vector<TargetFigures> fTargets;  // empty when no record was evaluated
};

// list: the model's variables, which name the targets.
EvalSummary SummarizeEval(const NNVarList& list, const EvalResult& result);

void PrintEval(std::ostream& out, const EvalSummary& summary);
void WriteEvalJson(std::ostream& out, const EvalSummary& summary);

}  // namespace vxnn
