#include "report/TrainSummary.h"

#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/MLPAlgorithm.h"

namespace vxnn {

TimeLine TimeLineOf(const TrainResult& r) {
  TimeLine t;
  for (int p = 1; p < kPhaseCount; ++p) {
    const Phase phase = static_cast<Phase>(p);
    if (r.fTimes.Ran(phase)) t.fPhases.emplace_back(phase, r.fTimes.Seconds(phase));
  }
  t.fFilePasses = r.fTimes.Passes();
  t.fTotal = r.fTimes.Total();
  const INeuralAlgorithm& m = r.MeasuredModel();
  t.fMemoryBudget = m.GetSettings()->GetMaxRecordsInMemory();
  if (TrainsFromTemporaryFile(m)) t.fSpilled.emplace_back("training", m.GetNumberOfDataPasses());
  if (r.fHeldOutModel && TrainsFromTemporaryFile(*r.fAlgorithm))
    t.fSpilled.emplace_back("refit", r.fAlgorithm->GetNumberOfDataPasses());
  return t;
}

std::string ImportanceSampleText(const TrainResult& r) {
  if (r.fImportanceRecords >= r.fImportanceOf) return "";
  return "a sample of " + std::to_string(r.fImportanceRecords) + " of " +
         std::to_string(r.fImportanceOf) + " records";
}

namespace {

void SummarizeData(const TrainResult& r, TrainSummary& s) {
  s.fSource = r.fSource;
  s.fRecords = static_cast<long>(r.fRecordsRead);
  s.fTrainingRows = static_cast<long>(r.fTrainRows);
  s.fTestRows = static_cast<long>(r.fTestRows);
  s.fTestFraction = r.fOptions.fTestFraction;
  s.fPartitionSeed = r.fOptions.fPartitionSeed;
  s.fLeftOutOfTraining = r.fTrainLeftOut;
  s.fLeftOutOfTest = r.fTestLeftOut;
  s.fUnusedConstant = r.fUnusedConstant;
  s.fMissingInputs = r.fOptions.fMissingInputs;
  s.fImputedTraining = r.fTrainCounts;
  s.fImputedTest = r.fTestCounts;
  s.fFields = r.fFields;
  const NNVarList& list = *r.fList;
  std::vector<std::string> outputs;
  list.GetVarNames(s.fInputs, outputs);
  for (int v = 0; v < static_cast<int>(list.Size()); ++v) {
    if (list.GetVariableRole(v) != INNVariable::kOutput) continue;
    const INNVariable& var = *list.GetVarAt(v);
    TargetField t;
    t.fName = var.GetVariableName();
    t.fKindText = KindText(var);
    t.fCategorical = var.GetMeasureLevel() != INNVariable::kContinuous;
    if (t.fCategorical) t.fCategories = CategoryLabels(var);
    s.fTargets.push_back(t);
  }
}

void SummarizeTrainingRun(const TrainResult& r, TrainSummary& s) {
  const INeuralAlgorithm& a = *r.fAlgorithm;
  s.fNetwork = ShapeOf(a);
  s.fPerceptron = dynamic_cast<const MLPAlgorithm*>(&a) != nullptr;
  s.fArchitectureSelected = r.fSelectedArchitecture;
  s.fMethod = MethodText(a);
  s.fInputScaling = a.GetSettings()->GetStandInputs();
  if (const MLPSettings* settings = MLPSettingsOf(a)) {
    PerceptronTraining p;
    p.fType = settings->GetTrainType();
    if (p.fType == VXNNCommon::kMiniBatch) p.fMiniBatchSize = settings->GetMiniBatchSize();
    p.fWeightSeed = settings->GetRandomSeed();
    p.fSamplingSeed = settings->GetRandomSeedSampling();
    s.fPerceptronTraining = p;
  }
  s.fHiddenUnits = a.GetNumberOfHiddenUnits();
  s.fHiddenChoice = r.fHiddenChoice;

  // The held-out run's figures, as every figure of the summary; the refit
  // has its own.
  const INeuralAlgorithm& m = r.MeasuredModel();
  MeasuredRun& run = s.fMeasured;
  run.fStopReason = m.GetStopReason();
  run.fDataPasses = m.GetNumberOfDataPasses();
  if (const auto* mlp = dynamic_cast<const MLPAlgorithm*>(&m))
    run.fIterations = mlp->GetNumberOfIterations();
  run.fProcessorSeconds = m.GetElapsedTime();
  run.fWallSeconds = r.fWallSeconds;
  run.fErrorFunction = ShapeOf(m).fError;
  run.fTrainingError = m.GetTrainingError();
  // An RBF network trained directly measures no test error while it
  // trains (the missing value); its test figures are per target.
  run.fTestError = r.fTest.fRecords > 0 ? m.GetTestingError() : VXMV::gMissingValue;
  s.fMeasuredTrainingRecords = r.fTrain.fRecords;
  s.fRefitSkippedForSize = r.fRefitSkippedForSize;
  if (r.fHeldOutModel) {
    Refit refit;
    refit.fRecords = r.fRefitRecords;
    refit.fMaxDataPasses = r.fRefitPassLimit;
    refit.fStopReason = a.GetStopReason();
    refit.fDataPasses = a.GetNumberOfDataPasses();
    refit.fProcessorSeconds = a.GetElapsedTime();
    refit.fTrainingError = a.GetTrainingError();
    s.fRefit = refit;
  }
}

// The sizes the selection tried, and the networks --network auto compared.
void SummarizeComparisons(const TrainResult& r, TrainSummary& s) {
  s.fSizeSelections = r.fSizeSelections;
  NetworkComparison& c = s.fComparison;
  c.fWithoutTest = r.fAutoWithoutTest;
  c.fTestRecords = r.fTest.fRecords;
  for (const NetworkTried& tried : r.fNetworksTried) {
    ComparedNetwork n;
    n.fName = tried.fName;
    n.fLeftOut = tried.fLeftOut;
    n.fHiddenUnits = tried.fHiddenUnits;
    n.fSeconds = tried.fSeconds;
    n.fLoss = tried.fLoss;
    if (tried.fLeftOut.empty()) n.fTest = TargetsOf(*r.fList, tried.fTest.fStats);
    n.fKept = tried.fKept;
    c.fNetworks.push_back(n);
  }
  c.fBaselineLoss = r.fBaselineLoss;
  c.fKeptBecause = r.fKeptBecause;
}

void SummarizeFigures(const TrainResult& r, TrainSummary& s) {
  const std::vector<TargetFigures> train = TargetsOf(*r.fList, r.fTrain.fStats);
  const std::vector<TargetFigures> test =
      r.fTest.fRecords > 0 ? TargetsOf(*r.fList, r.fTest.fStats) : std::vector<TargetFigures>();
  for (std::size_t i = 0; i < train.size(); ++i) {
    TargetPair p;
    p.fTrain = train[i];
    if (i < test.size()) p.fTest = test[i];
    s.fTargetFigures.push_back(p);
  }
  s.fImportance = RankImportance(*r.fList, r.fImportance);
  if (!r.fImportance.empty()) {
    s.fImportanceRecords = static_cast<long>(r.fImportanceRecords);
    s.fImportanceOf = static_cast<long>(r.fImportanceOf);
  }
  s.fImportanceSample = ImportanceSampleText(r);
}

}  // namespace

TrainSummary SummarizeTraining(const TrainResult& r, const SavedAs& saved) {
  TrainSummary s;
  SummarizeData(r, s);
  SummarizeTrainingRun(r, s);
  SummarizeComparisons(r, s);
  SummarizeFigures(r, s);
  s.fTime = TimeLineOf(r);
  s.fSaved = saved;
  return s;
}

}  // namespace vxnn
