// One network trained on the prepared records and measured: the settings
// made from the options, the library's factory and training, and how the
// number of hidden units was decided; when the options leave the size
// open, the size selection (CrossValidation.cpp) chooses it first.
#include "model/Factories.h"
#include "training/TrainSteps.h"
#include "vxneural/algorithm/RBFAlgorithm.h"

namespace vxnn {

using VXCommon_1_2::VXStatus;

namespace {

// How the library will decide, or decided, the number of hidden units.
HiddenChoice ChoiceOf(const TrainOptions& o, const NeuralSettings& used, int nTrain, bool hasTest,
                      const ProgressBar& progress) {
  HiddenChoice c;
  if (!o.fHiddenUnits.empty()) {
    c.fHow = HiddenChoice::kUserSet;
  } else if (used.GetAlgorithmType() == VXNNCommon::kMLP) {
    if (o.fSelectArchitecture) {
      const auto& m = static_cast<const MLPSettings&>(used);
      c = {HiddenChoice::kSearch, m.GetMinNHiddenUnits(), m.GetMaxNHiddenUnits()};
    } else if (used.GetUserSetNHidUnits() && used.GetNumHiddenLayers() > 0) {
      // Without --hidden-units, only MakeSettings's classifier rule sets it.
      c.fHow = HiddenChoice::kClassifier;
    }
  } else if (o.fSelectArchitecture) {
    // The search reports every candidate it fits.
    c = {hasTest ? HiddenChoice::kTestError : HiddenChoice::kBIC, progress.FewestUnitsReported(),
         progress.MostUnitsReported()};
  } else if (used.GetUserSetNHidUnits()) {
    // Without --hidden-units, only this program's size rule
    // (MakeRBFSettings) sets the number.
    c = {HiddenChoice::kSizeRule, used.GetNumHiddenUnits(1), used.GetNumHiddenUnits(1)};
  } else {
    // The range the clustering is given: the settings' own, or from 1 to
    // twice the input and output units when they leave it open, at most
    // one centre per training record.
    const auto& r = static_cast<const RBFSettings&>(used);
    int lo = r.GetMinNHiddenUnits(), hi = r.GetMaxNHiddenUnits();
    if (hi < lo) {
      lo = 1;
      hi = HostRBFCentres(r);
    }
    c = {HiddenChoice::kClustering, std::min(lo, nTrain), std::min(hi, nTrain)};
  }
  return c;
}

}  // namespace

const char* HiddenChoiceKey(HiddenChoice::How how) {
  switch (how) {
    case HiddenChoice::kUserSet:
      return "user-set";
    case HiddenChoice::kSearch:
      return "search";
    case HiddenChoice::kClustering:
      return "clustering";
    case HiddenChoice::kSizeRule:
      return "size rule";
    case HiddenChoice::kClassifier:
      return "classifier rule";
    case HiddenChoice::kBIC:
      return "bic";
    case HiddenChoice::kTestError:
      return "test error";
    case HiddenChoice::kCrossValidation:
      return "cross-validation";
    default:
      return "default";
  }
}

std::string HiddenChoiceText(const HiddenChoice& c) {
  const std::string range = std::to_string(c.fLow) + ".." + std::to_string(c.fHigh);
  switch (c.fHow) {
    case HiddenChoice::kUserSet:
      return "user-set";
    case HiddenChoice::kSearch:
      return "chosen by the architecture search between " + std::to_string(c.fLow) + " and " +
             std::to_string(c.fHigh);
    case HiddenChoice::kClustering:
      return "chosen by the clustering between " + std::to_string(c.fLow) + " and " +
             std::to_string(c.fHigh);
    case HiddenChoice::kSizeRule:
      return "twice the input and output units";
    case HiddenChoice::kClassifier:
      return "four times the input and output units, between " +
             std::to_string(kHostClassifierMinUnits) + " and " +
             std::to_string(kHostClassifierMaxUnits) +
             ", for categorical targets (the library's rule gives fewer)";
    case HiddenChoice::kBIC:
      return "chosen by BIC among " + range + " candidates";
    case HiddenChoice::kTestError:
      return "chosen by test error among " + range + " candidates";
    case HiddenChoice::kCrossValidation:
      return "chosen by cross-validation between " + std::to_string(c.fLow) + " and " +
             std::to_string(c.fHigh);
    default:
      return "the library's default";
  }
}

const char* CandidateName(Candidate c) {
  return c == Candidate::kLinear ? "linear" : c == Candidate::kRBF ? "rbf" : "mlp";
}

std::unique_ptr<NeuralSettings> SettingsFor(Candidate c, const TrainOptions& o,
                                            const NNVarList& list, int nTrain) {
  if (c == Candidate::kRBF) return std::make_unique<RBFSettings>(MakeRBFSettings(o, list, nTrain));
  if (c == Candidate::kMLP) return std::make_unique<MLPSettings>(MakeSettings(o, list, nTrain));
  return std::make_unique<MLPSettings>(MakeLinearSettings(o, list, nTrain));
}

Fit FitOn(Candidate which, const TrainOptions& o, TrainResult& r,
          VXCommon_1_2::MultiPassRecordIter& train, int nTrain,
          VXCommon_1_2::MultiPassRecordIter* test, int nTest, Purpose purpose,
          ProgressBar& progress) {
  const std::unique_ptr<NeuralSettings> settings = SettingsFor(which, o, *r.fList, nTrain);
  const bool rbf = which == Candidate::kRBF;
  Fit fit;
  fit.fKind = rbf ? NetworkKind::kRBF : NetworkKind::kMLP;
  fit.fOptions = o;
  fit.fLinear = which == Candidate::kLinear;
  settings->SetProgressListener(&progress);
  settings->SetCancelPointer(&r.fCancel);
  settings->SetTempFileNameMaker(r.fTempNames.get());
  if (!o.fTempDir.empty()) settings->SetTempFileDir(o.fTempDir);
  settings->SetComputeSensitivity(o.fImportance);

  // A perceptron trained to the stop rules does not watch the test
  // records (the library would stop it at their lowest error); they only
  // measure it afterwards.
  fit.fToStopRules = !rbf && !fit.fLinear && !o.fEarlyStopping.value_or(true);
  VXCommon_1_2::MultiPassRecordIter* watched = fit.fToStopRules ? nullptr : test;
  // The factory counts the test records the settings leave unknown: in a
  // --distributed run it would count this process's share alone.
  if (watched && o.fCombiner) settings->SetNTestRecords(nTest);
  const std::unique_ptr<ModelFactory> factory = FactoryFor(fit.fKind);
  fit.fAlgorithm.reset(factory->Create(*settings, *r.fList, train, watched));
  if (auto* radial = dynamic_cast<RBFAlgorithm*>(fit.fAlgorithm.get()))
    radial->SetKeepClusters(o.fKeepClusters);
  // After each call into the library: a source's own failure, then Ctrl-C.
  auto throwIfStopped = [&] {
    ThrowIfSourceFailed(&train);
    ThrowIfSourceFailed(test);
    ThrowIfCancelled(r);
  };
  throwIfStopped();
  if (!fit.fAlgorithm)
    throw InputError("the library refused the data (" + Code(factory->GetStatus()) + ")");
  INeuralAlgorithm& a = *fit.fAlgorithm;
  const auto* mlp = rbf ? nullptr : static_cast<const MLPSettings*>(a.GetSettings());
  // Only the run the summary describes is timed: the selection's fits run
  // on other threads, and a refit is timed whole by its caller.
  JobClock* clock = purpose == Purpose::kMeasure ? &r.fTimes : nullptr;

  if (o.fSelectArchitecture) {
    if (o.fCombiner)
      throw InputError(
          "--select-architecture does not run with --distributed; give --hidden-units, or let "
          "the size selection choose");
    const JobClock::Scope selecting = JobClock::Enter(clock, Phase::kSelection);
    progress.Begin("selecting", 0, mlp ? mlp->GetTimeForExpertArch() : 0.0, false);
    const VXStatus status = a.SelectArchitecture();
    progress.Finish();
    throwIfStopped();
    if (!status.IsOK() || !a.GetStatus().IsOK())
      throw InputError("the architecture search failed (" +
                       Code(status.IsOK() ? a.GetStatus() : status) + ")");
    fit.fSelectedArchitecture = true;
    // The perceptron's search takes the listener away while it runs.
    a.SetProgressListener(&progress);
  }
  fit.fHiddenChoice = ChoiceOf(o, *a.GetSettings(), nTrain, test != nullptr, progress);

  // The RBF candidate search leaves the best candidate trained; the
  // perceptron's only chooses the size, and training follows.
  if (!(rbf && o.fSelectArchitecture)) {
    bool allCategorical = true;
    for (int n : a.GetSettings()->GetNumOutCategories()) allCategorical = allCategorical && n > 1;
    // A refit's and the selection's progress stays out of the recorded
    // curve, which shows the held-out run.
    progress.Begin(purpose == Purpose::kRefit    ? "refitting"
                   : purpose == Purpose::kSelect ? "cross-validating"
                                                 : "training",
                   mlp ? mlp->GetMaxNDataPasses() : 0, mlp ? mlp->GetMaxTime() : 0.0,
                   allCategorical);
    VXStatus status;
    {
      const SharedScope shared(o.fCombiner);
      status = a.Train(nTrain, -1);
    }
    progress.Finish();
    throwIfStopped();
    if (!status.IsOK() || a.GetAlgorithmStatus() != VXNNCommon::kTrained)
      throw InputError("training failed (" + Code(status.IsOK() ? a.GetStatus() : status) + ")");
  }
  // The model no longer needs the terminal once trained.
  a.RemoveProgressListener();
  if (purpose == Purpose::kRefit) return fit;
  // After a size search the training goes on from the search's weights, so
  // its passes would not mean the same from fresh weights.
  if (mlp && watched && !o.fSelectArchitecture && !fit.fLinear)
    fit.fBestPasses = PassesAtBestTest(progress.TrainingSteps(),
                                       a.GetStopReason() == VXNNCommon::kStoppedVerifyingCycle);
  if (purpose == Purpose::kSelect) return fit;

  const JobClock::Scope measuring = JobClock::Enter(clock, Phase::kMeasuring);
  // Over the shares, each process's figures are the whole sets'.
  const SharedScope shared(o.fCombiner);
  fit.fTrain = Evaluate(a, train, nTrain);
  if (test) fit.fTest = Evaluate(a, *test, nTest);
  return fit;
}

namespace {

// Whether the options leave the size of this network to the selection.
bool SizeIsOpen(Candidate which, const TrainOptions& o) {
  return which != Candidate::kLinear && o.fSizeSelection != SizeSelectionMode::kRule &&
         o.fHiddenUnits.empty() && !o.fHiddenLayers && !o.fSelectArchitecture &&
         !o.fMinHiddenUnits && !o.fMaxHiddenUnits;
}

}  // namespace

Fit FitOne(Candidate which, const TrainOptions& o, TrainResult& r,
           VXCommon_1_2::MultiPassRecordIter* test, ProgressBar& progress) {
  if (!SizeIsOpen(which, o))
    return FitOn(which, o, r, *r.fTrainSource, static_cast<int>(r.fTrainCounts.fKept), test,
                 static_cast<int>(r.fTestCounts.fKept), Purpose::kMeasure, progress);
  // Options the library refuses are reported for the records the kept
  // model trains on, before any fold is fitted.
  SettingsFor(which, o, *r.fList, static_cast<int>(r.fTrainCounts.fKept));
  const TrainOptions chosen = SelectSize(which, o, r, progress);
  Fit fit = FitOn(which, chosen, r, *r.fTrainSource, static_cast<int>(r.fTrainCounts.fKept), test,
                  static_cast<int>(r.fTestCounts.fKept), Purpose::kMeasure, progress);
  const SizeSelection& sel = r.fSizeSelections.back();
  if (!sel.fCandidates.empty()) {
    int lo = sel.fCandidates.front().fUnits, hi = lo;
    for (const SizeCandidate& c : sel.fCandidates) {
      lo = std::min(lo, c.fUnits);
      hi = std::max(hi, c.fUnits);
    }
    fit.fHiddenChoice = {HiddenChoice::kCrossValidation, lo, hi};
  }
  return fit;
}

}  // namespace vxnn
