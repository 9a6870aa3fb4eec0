// What `vxnn train` tells about a run, gathered once from the result: the
// text summary (TrainText.cpp), the JSON summary (TrainJson.cpp) and the
// HTML report's summary read this structure and nothing else, so that a
// new figure is taken from the result in one place. The JSON document's
// shape is docs/schema/train-summary.schema.json.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "data/Dataset.h"
#include "data/Records.h"
#include "data/RowRecords.h"
#include "model/ModelFile.h"
#include "report/Figures.h"
#include "report/ModelTerms.h"
#include "training/JobClock.h"
#include "training/Training.h"
#include "vxneural/VXNNCommon.h"

namespace vxnn {

// Where the trained model went; an empty path when it was not saved.
struct SavedAs {
  std::string fPath;
  ModelFormat fFormat = ModelFormat::kBinary;
};

// The phases of a job that ran, with their seconds, in the order they run;
// the whole; and the runs that read their encoded training records from
// temporary files, with their data passes.
struct TimeLine {
  std::vector<std::pair<Phase, double>> fPhases;
  int fFilePasses = 0;
  double fTotal = 0.0;
  long long fMemoryBudget = 0;
  std::vector<std::pair<const char*, int>> fSpilled;  // "training" or "refit", data passes
};
TimeLine TimeLineOf(const TrainResult& result);

// How a perceptron was trained (an RBF network has none of these).
struct PerceptronTraining {
  VXNNCommon::TrainingType fType = VXNNCommon::kBatch;
  std::optional<int> fMiniBatchSize;  // mini-batch training only
  unsigned fWeightSeed = 0;
  unsigned fSamplingSeed = 0;
};

// The run every figure describes: the held-out run's when the model was
// refitted.
struct MeasuredRun {
  VXNNCommon::StopReason fStopReason = VXNNCommon::kStoppedUndefined;
  int fDataPasses = 0;
  std::optional<int> fIterations;  // perceptrons and the linear model
  double fProcessorSeconds = 0.0;
  double fWallSeconds = 0.0;
  std::string fErrorFunction;  // "sum of squares" or "cross entropy"
  double fTrainingError = 0.0;
  double fTestError = 0.0;  // the missing value without test records or when not measured
};

// The model kept when it was trained again on every record.
struct Refit {
  int fRecords = 0;
  int fMaxDataPasses = 0;  // 0 for the linear model, solved in one pass
  VXNNCommon::StopReason fStopReason = VXNNCommon::kStoppedUndefined;
  int fDataPasses = 0;
  double fProcessorSeconds = 0.0;
  double fTrainingError = 0.0;
};

// A target of the variable list: its name, its kind in words and, for a
// categorical one, its categories.
struct TargetField {
  std::string fName;
  std::string fKindText;  // KindText
  bool fCategorical = false;
  std::vector<std::string> fCategories;
};

// A target's figures on the training records and, with test records, on
// the test records.
struct TargetPair {
  TargetFigures fTrain;
  std::optional<TargetFigures> fTest;
};

// A network --network auto trained on the training records and measured on
// the test records, or left out with the reason.
struct ComparedNetwork {
  std::string fName;     // "linear", "mlp" or "rbf"
  std::string fLeftOut;  // why it was not trained; empty when it was
  int fHiddenUnits = 0;
  double fSeconds = 0.0;
  double fLoss = 0.0;                // its held-out loss on the test records
  std::vector<TargetFigures> fTest;  // per target, on the test records
  bool fKept = false;
};

// The comparison of --network auto: empty networks without it, and when no
// records were held out for testing (fWithoutTest), where the perceptron is
// trained uncompared.
struct NetworkComparison {
  bool fWithoutTest = false;
  int fTestRecords = 0;
  std::vector<ComparedNetwork> fNetworks;
  double fBaselineLoss = 0.0;
  std::string fKeptBecause;
};

struct TrainSummary {
  // The data and how it was split.
  std::string fSource;
  long fRecords = 0;
  long fTrainingRows = 0, fTestRows = 0;
  double fTestFraction = 0.0;
  unsigned fPartitionSeed = 0;
  LeftOut fLeftOutOfTraining, fLeftOutOfTest;
  std::vector<std::string> fUnusedConstant;
  MissingInputs fMissingInputs = MissingInputs::kImpute;
  PassCounts fImputedTraining, fImputedTest;  // only the imputed counts are shown
  std::vector<FieldPlan> fFields;             // every field's kind and why
  std::vector<std::string> fInputs;           // the list's inputs
  std::vector<TargetField> fTargets;          // the list's targets

  // The network and how it was trained.
  Shape fNetwork;
  bool fPerceptron = false;  // an MLP or the linear model, not an RBF network
  bool fArchitectureSelected = false;
  std::string fMethod;  // MethodText
  VXNNCommon::Standardization fInputScaling = VXNNCommon::kNoStandardization;
  std::optional<PerceptronTraining> fPerceptronTraining;  // null for an RBF network
  int fHiddenUnits = 0;
  HiddenChoice fHiddenChoice;
  MeasuredRun fMeasured;
  long fMeasuredTrainingRecords = 0;  // the records the measured run trained on
  bool fRefitSkippedForSize = false;
  std::optional<Refit> fRefit;

  // One per network whose size was left to the selection, as the training
  // recorded it (training/SizeSelection.h); empty when the options fixed
  // the size.
  std::vector<SizeSelection> fSizeSelections;
  NetworkComparison fComparison;

  std::vector<TargetPair> fTargetFigures;

  // Inputs by importance; empty without importance.
  std::vector<std::pair<std::string, double>> fImportance;
  // The records the importance came from and the model's records it could
  // have come from; null without importance.
  std::optional<long> fImportanceRecords, fImportanceOf;
  std::string fImportanceSample;  // ImportanceSampleText

  TimeLine fTime;
  SavedAs fSaved;
};

// Everything the summaries show about a run, read from its result.
TrainSummary SummarizeTraining(const TrainResult& result, const SavedAs& saved);

// The text summary (TrainText.cpp).
void PrintTrainSummary(std::ostream& out, const TrainSummary& summary);
// "Time: reading 3.10 s (5 passes over the file), training 20.10 s, ...;
// 55.30 s in all": the wall time of every phase of the job that ran (see
// JobClock), and which runs read their encoded records from temporary files.
void PrintTimeLine(std::ostream& out, const TimeLine& time);
// The JSON summary (TrainJson.cpp).
void WriteTrainJson(std::ostream& out, const TrainSummary& summary);

// The records a training's importance came from when they were a sample
// ("a sample of 20000 of 300000 records"); empty when they were all.
std::string ImportanceSampleText(const TrainResult& result);

}  // namespace vxnn
