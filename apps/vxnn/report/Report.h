// What the commands print: the training summary, the figures of a model on
// a data set and the description of a saved model, as text or as JSON.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "model/ModelFile.h"
#include "report/Json.h"
#include "training/Training.h"
#include "vxneural/algorithm/INeuralAlgorithm.h"
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
// The records a training's importance came from when they were a sample
// ("a sample of 20000 of 300000 records"); empty when they were all.
std::string ImportanceSampleText(const TrainResult& result);

// Where the trained model went; an empty path when it was not saved.
struct SavedAs {
  std::string fPath;
  ModelFormat fFormat = ModelFormat::kBinary;
};

void PrintTrainSummary(std::ostream& out, const TrainResult& result, const SavedAs& saved);
// "Time: reading 3.10 s (5 passes over the file), training 20.10 s, ...;
// 55.30 s in all": the wall time of every phase of the job that ran (see
// JobClock), and which runs read their encoded records from temporary files.
void PrintTimeLine(std::ostream& out, const TrainResult& result);
void WriteTrainJson(std::ostream& out, const TrainResult& result, const SavedAs& saved);

// The figures of a model on a data set (`vxnn eval`).
struct EvalResult {
  std::string fModelPath;
  std::string fDataPath;
  std::size_t fRecordsRead = 0;
  std::vector<std::pair<CellProblem, int>> fLeftOut;
  PassCounts fImputed;  // missing inputs and unknown categories filled in
  SetFigures fFigures;
};
void PrintEval(std::ostream& out, const NNVarList& list, const EvalResult& result);
void WriteEvalJson(std::ostream& out, const NNVarList& list, const EvalResult& result);

// What a saved model is (`vxnn inspect`).
void PrintModel(std::ostream& out, const std::string& path, ModelFormat format,
                const INeuralAlgorithm& algorithm);
// more, when given, adds members at the end of the model's object.
void WriteModelJson(std::ostream& out, const std::string& path, ModelFormat format,
                    const INeuralAlgorithm& algorithm,
                    const std::function<void(JsonWriter&)>& more = {});

// "2 records with a missing value, 1 record with ..." or "" when none.
std::string LeftOutText(const std::vector<std::pair<CellProblem, int>>& leftOut);

// "MLP, 4 input units, hidden layer of 3 units (...), ...": the network in words.
std::string DescribeNetwork(const INeuralAlgorithm& algorithm);

// A phrase for why training stopped.
std::string StopReasonText(VXNNCommon::StopReason reason);

}  // namespace vxnn
