// The refit: once the held-out records have chosen the model, the same
// model trained again on every usable record, stopped where the held-out
// run found its lowest test error.
#include <algorithm>
#include <cmath>

#include "training/TrainSteps.h"
#include "vxcommon/VXMissing.h"

namespace vxnn {

TrainOptions RefitOptions(const TrainOptions& o, const Fit& fit, const RefitLimit& limit) {
  TrainOptions r = o;
  if (fit.fLinear) return r;
  const NeuralSettings& used = *fit.fAlgorithm->GetSettings();
  r.fHiddenUnits.clear();
  for (int l = 1; l <= used.GetNumHiddenLayers(); ++l)
    r.fHiddenUnits.push_back(used.GetNumHiddenUnits(l));
  r.fSelectArchitecture = false;
  r.fMinHiddenUnits.reset();
  r.fMaxHiddenUnits.reset();
  if (fit.fToStopRules) {
    // Trained to the stop rules again, on more records.
    r.fHiddenLayers = used.GetNumHiddenLayers();
    return r;
  }
  if (fit.fKind == NetworkKind::kRBF) {
    // The same centre count and overlap; the centres themselves are placed
    // again by clustering every record.
    r.fOverlap = static_cast<const RBFSettings&>(used).GetOverlapFactor();
    r.fSearchPassPerCandidate = false;
    return r;
  }
  r.fHiddenLayers = used.GetNumHiddenLayers();
  r.fMaxDataPasses = limit.fLibraryLimit;
  // Without test records, mini-batch and online training stop once the
  // training error has not improved for this many epochs, a rule the
  // held-out run (which watched its test error) did not have: it must not
  // end the refit before its limit. No run has more epochs than passes.
  r.fStepsWithoutImprovement = limit.fLibraryLimit;
  return r;
}

void RefitKept(Fit& fit, const TrainOptions& o, const JobRows& rows, TrainResult& r,
               ProgressBar& progress) {
  const bool test = r.fTestCounts.fKept > 0;
  const bool rbf = fit.fKind == NetworkKind::kRBF;
  const bool refittable = test && (rbf || fit.fLinear || fit.fToStopRules || fit.fBestPasses >= 0);
  const bool bigEnough = r.fTrainCounts.fKept >= kRefitAutoMaxRecords;
  r.fRefitSkippedForSize = refittable && !o.fRefit && bigEnough;
  if (!(refittable && o.fRefit.value_or(!bigEnough))) return;
  const JobClock::Scope refitting = r.fTimes.Enter(Phase::kRefit);
  // The held-out records have done their work (when to stop, and which
  // network): fit again on them too, 1 / (1 - test fraction) times the
  // records, which on small data is worth more than the early stop
  // loses by running blind for the same number of passes.
  PassCounts allCounts;
  r.fAllSource = MakeSource(rows.fOpen, *r.fMaker, rows.fSplit, RowSide::kAll, rows.fInMemory,
                            allCounts, r.fTimes);
  const int nAll = static_cast<int>(allCounts.fKept);
  if (o.fCombiner)
    r.fAllSource = ShareOfSource(std::move(r.fAllSource), allCounts.fKept, *o.fCombiner);
  RefitLimit limit;
  if (!fit.fLinear && !rbf && !fit.fToStopRules)
    limit = RefitLimitFor(static_cast<const MLPSettings&>(*fit.fAlgorithm->GetSettings()),
                          fit.fBestPasses);
  const Candidate kind = fit.fLinear ? Candidate::kLinear : rbf ? Candidate::kRBF : Candidate::kMLP;
  Fit refit = FitOn(kind, RefitOptions(fit.fOptions, fit, limit), r, *r.fAllSource, nAll, nullptr,
                    0, Purpose::kRefit, progress);
  r.fRefitRecords = nAll;
  r.fRefitPassLimit = limit.fMostPasses;
  r.fHeldOutModel = std::move(fit.fAlgorithm);
  fit.fAlgorithm = std::move(refit.fAlgorithm);
}

int PassesAtBestTest(const std::vector<TrainingStep>& steps, bool lastIsRestored) {
  int passes = -1;
  double best = 0.0;
  std::size_t at = 0;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const TrainingStep& s = steps[i];
    if (VXMV::IsMissing(s.fTestError) || !std::isfinite(s.fTestError)) continue;
    if (passes < 0 || s.fTestError < best) {
      best = s.fTestError;
      passes = s.fDataPasses;
      at = i;
    }
  }
  if (passes >= 0 && lastIsRestored && at + 1 == steps.size()) return 0;
  return passes;
}

RefitLimit RefitLimitFor(const MLPSettings& s, int passesAtBest) {
  const int p = std::max(passesAtBest, 0);
  RefitLimit r;
  int most = 0;  // the optimizer's own passes at most
  if (s.GetTrainType() != VXNNCommon::kBatch) {
    // Mini-batches and online updates: with test records an epoch is one
    // pass (two, and one more at the start, when --check-training-error
    // also measures the training error); the refit, without test records,
    // always measures it: 1 + 2 x epochs, tested after every epoch, so the
    // limit is met exactly. At least one epoch.
    const int epochs = s.GetCheckTrainErrVerifyingCycle() ? (p - 1) / 2 : p;
    r.fLibraryLimit = most = 1 + 2 * std::max(epochs, 1);
  } else if (s.GetTrainingMethod() == VXNNCommon::kGradientDescent) {
    // One pass at the start and one per trial step; the step search itself
    // ends at the limit, so the run stops on it exactly, after at least one
    // iteration (2 passes).
    r.fLibraryLimit = most = std::max(p, 2);
  } else {
    // Scaled conjugate gradient: one pass at the start, then two per
    // iteration (the curvature probe and the step), one after a rejected
    // step; the first test comes after 3. Tested once the limit is reached,
    // a run ends at most one pass beyond it, so the limit is one short of
    // the held-out run's passes at its best, where an unbroken run of
    // accepted steps stops exactly.
    r.fLibraryLimit = std::max(p - 1, 1);
    most = std::max(r.fLibraryLimit + 1, 3);
  }
  r.fMostPasses = kSamplingPasses + most;
  return r;
}

}  // namespace vxnn
