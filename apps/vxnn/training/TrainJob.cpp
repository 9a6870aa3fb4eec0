// A whole `vxnn train` job, step by step: the options checked, the rows
// read (Pipeline.cpp), the network trained, its size chosen by
// cross-validation when open (Fit.cpp, CrossValidation.cpp) or the kinds
// compared (AutoNetwork.cpp), the kept network refitted on every record
// (Refit.cpp), and its predictor importance measured (Importance.cpp).
#include <chrono>

#include "training/TrainSteps.h"

namespace vxnn {

std::unique_ptr<TrainResult> TrainModel(const CsvTable& table, const std::string& sourceName,
                                        const TrainOptions& o, ProgressBar& progress) {
  return TrainModel(TableOpener(table, sourceName), o, progress, true);
}

std::unique_ptr<TrainResult> TrainModel(const RowOpener& open, const TrainOptions& given,
                                        ProgressBar& progress, bool inMemory) {
  TrainOptions o = given;
  const auto started = std::chrono::steady_clock::now();
  if (!(o.fTestFraction >= 0.0 && o.fTestFraction < 1.0))
    throw InputError("--test-fraction must lie in [0, 1)");
  auto result = std::make_unique<TrainResult>();
  JobClock& clock = result->fTimes;
  result->fCancel.SetRequest(o.fCancelRequest);
  result->fOptions = given;
  // o.fCombiner is cleared here when the records are too few to share.
  const JobRows rows = ReadRecords(open, o, inMemory, *result);
  const int nTest = static_cast<int>(result->fTestCounts.fKept);
  VXCommon_1_2::MultiPassRecordIter* test = nTest > 0 ? result->fTestSource.get() : nullptr;
  result->fTempNames = std::make_unique<VXCommon_1_2::VXDefaultTempFileNameMaker>(o.fTempDir);

  TrainOptions run = o;
  JobClock::Scope training = clock.Enter(Phase::kTraining);
  run.fTestErrorDecides = test != nullptr && o.fEarlyStopping.value_or(true);
  Fit fit;
  if (o.fAutoNetwork && test) {
    fit = FitBest(run, *result, test, progress);
  } else {
    // Without held-out records there is nothing to compare the networks
    // on; the perceptron is the one that models the most.
    result->fAutoWithoutTest = o.fAutoNetwork;
    fit = FitOne(
        o.fNetwork == NetworkKind::kRBF && !o.fAutoNetwork ? Candidate::kRBF : Candidate::kMLP, run,
        *result, test, progress);
  }
  training.End();
  RefitKept(fit, o, rows, *result, progress);
  result->fAlgorithm = std::move(fit.fAlgorithm);
  result->fKind = fit.fKind;
  result->fSelectedArchitecture = fit.fSelectedArchitecture;
  result->fHiddenChoice = fit.fHiddenChoice;
  result->fTrain = std::move(fit.fTrain);
  result->fTest = std::move(fit.fTest);

  if (o.fImportance) {
    const JobClock::Scope importance = clock.Enter(Phase::kImportance);
    MeasureImportance(*result, o, !fit.fToStopRules);
  }
  result->fWholeSide = nullptr;  // it reads through this call's opener
  result->fWallSeconds = SecondsSince(started);
  return result;
}

}  // namespace vxnn
