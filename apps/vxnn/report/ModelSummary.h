// What `vxnn inspect` tells about a saved model, gathered once from the
// algorithm: the text and the JSON description (ModelWriters.cpp) read
// this structure and nothing else. The model's structure, layer by layer,
// is StructureView's. The JSON document's shape is
// docs/schema/model-summary.schema.json.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "model/ModelFile.h"
#include "report/Json.h"
#include "report/ModelTerms.h"
#include "vxneural/VXNNCommon.h"
#include "vxneural/algorithm/INeuralAlgorithm.h"

namespace vxnn {

// A continuous variable's statistics from the training records.
struct ContinuousStatistics {
  double fMin = 0.0, fMax = 0.0, fMean = 0.0, fVariance = 0.0;
};

// One variable of the model's list.
struct FieldDescription {
  std::string fName;
  std::string fRole;      // RoleText
  std::string fKindText;  // KindText
  bool fCategorical = false;
  std::optional<ContinuousStatistics> fContinuous;  // null for a categorical variable
  int fCategoryCount = 0;                           // categorical variables
  std::vector<std::string> fCategories;             // categorical variables
  // The values declared missing, when the variable has any (or an interval).
  std::optional<int> fDeclaredMissing;
};

// A perceptron's settings.
struct PerceptronSettings {
  VXNNCommon::TrainingType fType = VXNNCommon::kBatch;
  std::optional<int> fMiniBatchSize;  // mini-batch training only
  unsigned fWeightSeed = 0, fSamplingSeed = 0;
  int fMaxDataPasses = 0;
  double fMaxTime = 0.0;
  double fErrorChange = 0.0;
  double fErrorRatio = 0.0;
  double fGradientNorm = 0.0;
  std::optional<double> fStopAccuracy;  // percent; null when the accuracy stop is off
  int fStepsWithoutImprovement = 0;
};

// An RBF network's settings: those that shape the centres.
struct RBFCentreSettings {
  std::string fHiddenActivation;  // DisplayText
  double fOverlap = 0.0;
  // The range the clustering and the candidate search were given; max <
  // min: left to the data. The count itself is the network's.
  int fMinHiddenUnits = 0, fMaxHiddenUnits = 0;
  bool fSearchOneDataPass = false;
};

struct ModelSummary {
  std::string fModelFile;
  ModelFormat fFormat = ModelFormat::kBinary;
  std::string fVersion;  // of the component that wrote the model
  std::string fStatus;   // DisplayText of the algorithm's status
  std::vector<FieldDescription> fFields;
  Shape fNetwork;

  std::string fMethod;  // MethodText
  long fMemoryBudget = 0;
  std::string fInputScaling, fTargetScaling;      // DisplayText of the standardisations
  std::optional<PerceptronSettings> fPerceptron;  // set for a perceptron
  std::optional<RBFCentreSettings> fRBF;          // set for an RBF network

  // The training counters.
  int fTrainingRecords = 0, fTestRecords = 0;
  VXNNCommon::StopReason fStopReason = VXNNCommon::kStoppedUndefined;
  int fDataPasses = 0;
  std::optional<int> fIterations;  // perceptrons and the linear model
  double fProcessorSeconds = 0.0;
  double fTrainingError = 0.0, fTestError = 0.0;
};

ModelSummary SummarizeModel(const std::string& path, ModelFormat format,
                            const INeuralAlgorithm& algorithm);

void PrintModel(std::ostream& out, const ModelSummary& summary);
// more, when given, adds members at the end of the model's object.
void WriteModelJson(std::ostream& out, const ModelSummary& summary,
                    const std::function<void(JsonWriter&)>& more = {});

}  // namespace vxnn
