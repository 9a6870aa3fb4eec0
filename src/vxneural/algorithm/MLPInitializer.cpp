#include "vxneural/algorithm/MLPInitializer.h"

#include <algorithm>
#include <cfloat>
#include <cstdlib>

#include "algorithm/AlgorithmCodes.h"
#include "algorithm/SharedTraining.h"
#include "data/SourceCheck.h"
#include "network/SharedRun.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/PassCombiner.h"
#include "vxneural/network/VXRandom.h"
#include "vxneural/optim/IOptimizationAlgorithm.h"

using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::ProgressListener;
using VXCommon_1_2::Record;
using VXCommon_1_2::VXStatus;
using VXNeural::RecordBufferIter;

namespace {

constexpr long kMaxSampleRecords = 1000;
constexpr double kSampleTrainShare = 0.7;
constexpr int kAnnealingStages = 4;
constexpr int kTriesPerStage = 5;
constexpr int kInitialisationRuns = 5;
constexpr int kSearchRuns = 5;
// Error ratios (training error over the error of predicting the mean):
// annealing has reached its target below the first, an initialisation or a
// search run is good enough at the second, and growing stops at the third.
constexpr double kTargetRatio = 0.05;
constexpr double kGoodRatio = 0.1;
constexpr double kFitRatio = 0.01;
constexpr double kLargest = DBL_MAX;
// "No optimizer could be built".
constexpr int kNoOptimizer = 50001;

// The optimizers' clock, which a shared training's processes agree on.
double SecondsSince(std::clock_t start) { return VXNeural::detail::ProcessorSecondsSince(start); }

int TrainShare(long n) { return static_cast<int>(n * kSampleTrainShare + 0.5); }

// The reading of a single hidden layer's size that the search relies on;
// 0 for a network without one.
int HiddenUnitsOf(NNetwork& network) {
  if (network.GetNumLayers() != 2) return 0;
  const INLayer* hidden = network.GetLayer(1);
  return hidden == nullptr ? 0 : hidden->GetNumUnits();
}

}  // namespace

// Everything a search keeps of one hidden-layer size.
struct MLPInitializer::Candidate {
  int size = 0;
  double trainError = VXMV::gMissingValue;
  double testError = VXMV::gMissingValue;
  std::valarray<double> weights;
  // The algorithm's counters once this candidate was trained.
  int nIterations = 0;
  VXNNCommon::StopReason stopReason = VXNNCommon::kStoppedUndefined;
  // The optimizer's report values, as its GetProgressValues gave them.
  double reportTrainError = VXMV::gMissingValue;
  double reportTestError = VXMV::gMissingValue;
  double reportGradientNorm = VXMV::gMissingValue;
  double reportRelChange = VXMV::gMissingValue;
  double reportErrorRatio = VXMV::gMissingValue;
  // The optimizer's own error ratio after the run.
  double errorRatio = VXMV::gMissingValue;

  // Compared as it is: a missing error (the most negative double) is below
  // every other.
  double Test() const { return testError; }
};

MLPInitializer::MLPInitializer(const Parts& parts, Hooks& hooks) : fParts(parts), fHooks(hooks) {}

MLPSampleSizes MLPInitializer::ComputeSampleSizes(long maxRecordsInMemory, int nTrainRecords,
                                                  int nTestRecords) {
  const long s = std::max(0L, std::min(kMaxSampleRecords, maxRecordsInMemory));
  const long n = std::max(0, nTrainRecords);
  MLPSampleSizes sizes;
  sizes.nTrain = TrainShare(s);
  sizes.nTest = static_cast<int>(s) - sizes.nTrain;
  if (nTestRecords < 1) {
    if (n < s) {
      sizes.nTrain = TrainShare(n);
      sizes.nTest = static_cast<int>(n) - sizes.nTrain;
    }
  } else {
    sizes.fromTestSource = true;
    sizes.nTrain = std::min(sizes.nTrain, static_cast<int>(n));
    sizes.nTest = std::min(sizes.nTest, nTestRecords);
  }
  return sizes;
}

namespace {

// The record at place `at` of a sampling pass: read from the source when it
// is this process's (null at the source's end), else `elsewhere`.
const Record* SampleRecord(MultiPassRecordIter& source, int at, const VXNeural::RecordShare* share,
                           const Record* elsewhere) {
  if (share && (at < share->first || at >= share->end)) return elsewhere;
  return source.IsGood() ? source.Next() : nullptr;
}

}  // namespace

int MLPInitializer::SelectSample(VXRandom& rng, MultiPassRecordIter& source, int nRecords,
                                 RecordBufferIter& buffer, const std::function<bool()>& cancelled,
                                 bool* failed, const VXNeural::RecordShare* share) {
  const int wanted = buffer.GetCapacity() - buffer.GetCount();
  int need = wanted;
  const Record elsewhere;
  // Every record is read and draws, also once the buffer is full, so that
  // the generator ends where the sampling of the whole source leaves it.
  for (int remaining = nRecords, at = 0; remaining > 0; --remaining, ++at) {
    if (cancelled && cancelled()) break;
    const Record* record = SampleRecord(source, at, share, &elsewhere);
    if (record == nullptr) break;
    const double u = rng.Uniform();
    if (u <= static_cast<double>(need) / remaining && need > 0 &&
        (record == &elsewhere || buffer.Add(record)))
      --need;
  }
  if (failed) *failed = VXNeural::detail::SourceFailed(source);
  source.Rewind();
  return wanted - need;
}

void MLPInitializer::SelectSample(VXRandom& rng, MultiPassRecordIter& source, int nRecords,
                                  RecordBufferIter& first, RecordBufferIter& second, int& nFirst,
                                  int& nSecond, const std::function<bool()>& cancelled,
                                  bool* failed, const VXNeural::RecordShare* share) {
  const int wantedA = first.GetCapacity() - first.GetCount();
  const int wantedB = second.GetCapacity() - second.GetCount();
  int needA = wantedA;
  int needB = wantedB;
  const Record elsewhere;
  for (int remaining = nRecords, at = 0; remaining > 0; --remaining, ++at) {
    if (cancelled && cancelled()) break;
    const Record* record = SampleRecord(source, at, share, &elsewhere);
    if (record == nullptr) break;
    const double u = rng.Uniform();
    const double shareA = static_cast<double>(needA) / remaining;
    const double shareB = static_cast<double>(needB) / remaining;
    const bool taken = record == &elsewhere;
    if (u <= shareA && needA >= 1) {
      if (taken || first.Add(record)) --needA;
    } else if (u <= shareB + shareA && needB > 0) {
      if (taken || second.Add(record)) --needB;
    }
  }
  if (failed) *failed = VXNeural::detail::SourceFailed(source);
  source.Rewind();
  nFirst = wantedA - needA;
  nSecond = wantedB - needB;
}

MLPSample MLPInitializer::DrawSample(MLPSettings& sizing) {
  MultiPassRecordIter* test = fParts.testData;
  bool trainFailed = false;
  bool testFailed = false;
  const VXNeural::detail::SharedRecords* shared = fParts.shared;
  if (test != nullptr && sizing.GetNTestRecords() < 1) {
    int count = static_cast<int>(shared ? shared->nTest : 0);
    if (!shared) testFailed = !VXNeural::detail::CountRecords(*test, count);
    sizing.SetNTestRecords(count);
  }
  const int nTestRecords = test != nullptr ? sizing.GetNTestRecords() : 0;
  const int nTrainRecords = sizing.GetNTrainRecords();
  const MLPSampleSizes sizes =
      ComputeSampleSizes(sizing.GetMaxRecordsInMemory(), nTrainRecords, nTestRecords);

  const int width = fParts.settings.GetNumInputs() + fParts.settings.GetNumOutUnits();
  MLPSample sample;
  sample.train = std::make_unique<RecordBufferIter>(width, sizes.nTrain);
  sample.test = std::make_unique<RecordBufferIter>(width, sizes.nTest);
  fParts.random.SetSeed(sizing.GetRandomSeedSampling());
  // The sample pass reads the whole training source, which may be far
  // larger than memory: a host's cancel must not wait for its end.
  const std::function<bool()> cancelled = [this] { return Canceled(); };
  const VXNeural::RecordShare* trainShare = shared ? &shared->train : nullptr;
  const VXNeural::RecordShare* testShare = shared ? &shared->test : nullptr;
  if (fParts.trainData != nullptr && !testFailed) {
    if (sizes.fromTestSource) {
      sample.nTrain = SelectSample(fParts.random, *fParts.trainData, nTrainRecords, *sample.train,
                                   cancelled, &trainFailed, trainShare);
      sample.nTest = SelectSample(fParts.random, *test, nTestRecords, *sample.test, cancelled,
                                  &testFailed, testShare);
    } else {
      SelectSample(fParts.random, *fParts.trainData, nTrainRecords, *sample.train, *sample.test,
                   sample.nTrain, sample.nTest, cancelled, &trainFailed, trainShare);
    }
  }
  if (shared && !GatherSample(*shared->combiner, sample, trainFailed, testFailed))
    sample.sourceFailure = VXNeural::codes::kExchangeFailed;
  if (sample.sourceFailure == 0)
    sample.sourceFailure = trainFailed  ? VXNeural::codes::kTrainSourceNotGood
                           : testFailed ? VXNeural::codes::kTestSourceNotGood
                                        : 0;
  fParts.random.SetSeed(sizing.GetRandomSeed());
  return sample;
}

// Each process drew the records of the whole sample and kept its own; all
// of them hand theirs over (with their sources' failures), and each puts
// the sample together in rank order, which is the order of the records in
// the whole sources. False when the exchange failed.
bool MLPInitializer::GatherSample(VXNeural::PassCombiner& combiner, MLPSample& sample,
                                  bool& trainFailed, bool& testFailed) {
  RecordBufferIter* buffers[2] = {sample.train.get(), sample.test.get()};
  std::vector<double> out{trainFailed ? 1.0 : 0.0, testFailed ? 1.0 : 0.0};
  for (RecordBufferIter* b : buffers) out.push_back(b->GetCount());
  for (RecordBufferIter* b : buffers)
    for (int i = 0; i < b->GetCount(); ++i) {
      const Record* r = b->GetRecordAt(i);
      out.insert(out.end(), r->GetAll(), r->GetAll() + r->Size());
    }
  std::vector<double> all;
  std::vector<int> counts;
  if (!combiner.AllGather(out, all, counts)) return false;
  const int width = buffers[0]->GetWidth();
  RecordBufferIter gathered[2] = {{width, buffers[0]->GetCapacity()},
                                  {width, buffers[1]->GetCapacity()}};
  const double* m = all.data();
  const double* const end = m + all.size();
  using VXNeural::detail::WholeIn;
  for (int count : counts) {
    // A damaged message fails the exchange before its counts size a read.
    if (count < 4 || count > end - m ||
        !WholeIn(m[2], 0.0, static_cast<double>(buffers[0]->GetCapacity())) ||
        !WholeIn(m[3], 0.0, static_cast<double>(buffers[1]->GetCapacity())))
      return false;
    trainFailed = trainFailed || m[0] != 0.0;
    testFailed = testFailed || m[1] != 0.0;
    const int n[2] = {static_cast<int>(m[2]), static_cast<int>(m[3])};
    if (count != 4 + (static_cast<long long>(n[0]) + n[1]) * width) return false;
    const double* v = m + 4;
    for (int b = 0; b < 2; ++b)
      for (int i = 0; i < n[b]; ++i, v += width)
        if (!gathered[b].Add(Record(std::vector<double>(v, v + width)))) return false;
    m += count;
  }
  if (m != end) return false;
  for (int b = 0; b < 2; ++b) {
    buffers[b]->Empty();
    for (int i = 0; i < gathered[b].GetCount(); ++i) buffers[b]->Add(gathered[b].GetRecordAt(i));
    buffers[b]->Rewind();
  }
  return true;
}

bool MLPInitializer::RebuildOptimizer() {
  delete fParts.optimizer;
  fParts.optimizer = nullptr;
  if (fParts.network != nullptr) fParts.optimizer = fHooks.CreateOptimizer(fParts.network);
  return fParts.optimizer != nullptr;
}

double MLPInitializer::ErrorOn(MultiPassRecordIter& records, int n) {
  NNetwork& network = *fParts.network;
  network.ResetDerivatives();
  VXStatus pass;
  int read = 0;
  network.ProcessRecords(pass, records, n, read, true, false);
  records.Rewind();
  return network.GetAccumError();
}

void MLPInitializer::ResizeHiddenLayer(int units) {
  NNetwork& network = *fParts.network;
  int n = HiddenUnitsOf(network);
  while (n < units) {
    const int grown = network.AddHiddenUnit(fParts.random);
    if (grown <= n) break;
    n = grown;
  }
  while (n > units) {
    const int shrunk = network.RemoveHiddenUnit(0);
    if (shrunk >= n) break;
    n = shrunk;
  }
  fParts.settings.SetNumHiddenUnits(n, 1);
  fParts.nHiddenUnits = n;
}

VXStatus MLPInitializer::Annealing(MultiPassRecordIter& train, MultiPassRecordIter* test,
                                   int nTrain, int nTest, bool keepCurrentFirst,
                                   double& bestTestError, double& trainErrorRatio,
                                   std::valarray<double>& bestWeights, bool& reachedTarget) {
  NNetwork& network = *fParts.network;
  IOptimizationAlgorithm& optimizer = *fParts.optimizer;
  reachedTarget = false;
  double lo = fParts.settings.GetRandomWeightRangeLo();
  double hi = fParts.settings.GetRandomWeightRangeHi();
  const double centre = (lo + hi) * 0.5;
  double half = (hi - lo) * 0.5;
  // What the previous stage's training reached.
  double trainError = kLargest;
  double testError = kLargest;

  const std::size_t nWeights = static_cast<std::size_t>(network.GetNumWeights());
  std::valarray<double> base(0.0, nWeights);
  std::valarray<double> trial(nWeights);
  std::valarray<double> bestTrial(nWeights);
  VXStatus status;
  for (int stage = 0; stage < kAnnealingStages && !Canceled(); ++stage) {
    if (!keepCurrentFirst) {
      double bestTryError = kLargest;
      int bestTry = -1;
      for (int t = 0; t < kTriesPerStage; ++t) {
        network.RandomizeWeights(fParts.random, lo, hi);
        network.GetWeights(trial);
        trial += base;
        network.SetWeights(trial);
        network.ResetDerivatives();
        VXStatus pass;
        int read = 0;
        network.ProcessRecords(pass, train, nTrain, read, true, false);
        train.Rewind();
        const double error = network.GetAccumError();
        if (bestTry < 0 || error < bestTryError) {
          bestTryError = error;
          bestTry = t;
          bestTrial = trial;
        }
      }
      if (!(bestTryError < trainError)) {
        // Perturbing no longer helps: the previous stage's result stands.
        network.SetWeights(base);
        if (testError < bestTestError) {
          bestTestError = testError;
          bestWeights = base;
        }
        break;
      }
      if (bestTry != kTriesPerStage - 1) network.SetWeights(bestTrial);
    }
    keepCurrentFirst = false;

    optimizer.Train(status, train, test, nTrain, nTest);
    if (!status.IsOK()) return status;
    trainErrorRatio = optimizer.GetErrorRatio();
    trainError = optimizer.GetTrainError();
    testError = optimizer.GetTestError();
    network.GetWeights(base);
    if (trainErrorRatio < kTargetRatio) {
      reachedTarget = true;
      break;
    }
    if (stage == kAnnealingStages - 1 && testError < bestTestError) {
      bestTestError = testError;
      bestWeights = base;
    }
    half *= 0.5;
    lo = centre - half;
    hi = centre + half;
  }
  return status;
}

VXStatus MLPInitializer::ComputeSampleWeights() {
  if (Canceled() || fParts.status.IsError()) return VXStatus();
  MLPSettings& settings = fParts.settings;
  MLPSettings kept = settings;
  const unsigned int seed = settings.GetRandomSeed();
  const unsigned int samplingSeed = settings.GetRandomSeedSampling();
  settings.SetDefaults();
  settings.SetRandomSeed(seed);
  settings.SetRandomSeedSampling(samplingSeed);
  settings.RemoveProgressListener();

  VXStatus status;
  bool keepLastRun = false;
  if (!RebuildOptimizer()) {
    status = VXStatus(kNoOptimizer, false);
  } else {
    // Sized by the kept copy so that a test count found by counting stays
    // in the settings the algorithm goes on with.
    MLPSample sample = DrawSample(kept);
    ++fParts.nDataPasses;
    MultiPassRecordIter* test = sample.nTest > 0 ? sample.test.get() : nullptr;
    if (sample.sourceFailure != 0) status = VXStatus(sample.sourceFailure, false);

    double bestTestError = kLargest;
    double trainErrorRatio = kLargest;
    std::valarray<double> bestWeights(0.0,
                                      static_cast<std::size_t>(fParts.network->GetNumWeights()));
    for (int run = 0; run < kInitialisationRuns && status.IsOK(); ++run) {
      bool reachedTarget = false;
      status = Annealing(*sample.train, test, sample.nTrain, sample.nTest, false, bestTestError,
                         trainErrorRatio, bestWeights, reachedTarget);
      if (!status.IsOK()) break;
      if (reachedTarget || trainErrorRatio < kGoodRatio) {
        keepLastRun = true;
        break;
      }
    }
    if (!Canceled() && !keepLastRun && status.IsOK()) fParts.network->SetWeights(bestWeights);
  }

  settings = kept;
  if (!Canceled()) {
    if (!RebuildOptimizer() && status.IsOK()) status = VXStatus(kNoOptimizer, false);
    fParts.reinitializeWeights = false;
  }
  return status;
}

VXStatus MLPInitializer::TrainCandidate(MLPSample& sample, bool keepCurrentFirst,
                                        std::clock_t start, Candidate& c) {
  IOptimizationAlgorithm& optimizer = *fParts.optimizer;
  optimizer.ResetGradient();
  double bestTestError = -1.0;  // below any error: annealing never swaps in its own best
  double ratio = kLargest;
  std::valarray<double> unused;
  bool reachedTarget = false;
  MultiPassRecordIter* test = sample.nTest > 0 ? sample.test.get() : nullptr;
  VXStatus status = Annealing(*sample.train, test, sample.nTrain, sample.nTest, keepCurrentFirst,
                              bestTestError, ratio, unused, reachedTarget);
  if (!status.IsOK()) return status;

  fParts.nIterations += optimizer.GetNIterations();
  fParts.stopReason = optimizer.GetStopReason();
  fParts.trainingError = optimizer.GetTrainError();
  fParts.testingError = optimizer.GetTestError();
  fParts.elapsedTime = SecondsSince(start);

  c.size = fParts.nHiddenUnits;
  c.trainError = fParts.trainingError;
  c.testError = fParts.testingError;
  fParts.network->GetWeights(c.weights);
  c.nIterations = fParts.nIterations;
  c.stopReason = fParts.stopReason;
  c.errorRatio = optimizer.GetErrorRatio();
  // An optimizer that keeps no report values leaves its getters' values.
  c.reportTrainError = c.trainError;
  c.reportTestError = c.testError;
  c.reportGradientNorm = optimizer.GetLastGradientNorm();
  c.reportRelChange = optimizer.GetRelChangeInErr();
  c.reportErrorRatio = c.errorRatio;
  optimizer.GetProgressValues(c.reportTrainError, c.reportTestError, c.reportGradientNorm,
                              c.reportRelChange, c.reportErrorRatio);
  return status;
}

VXStatus MLPInitializer::SelectArchitecture() {
  if (Canceled()) {
    fHooks.DoCancel();
    return fParts.status;
  }
  const std::clock_t start = std::clock();
  MLPSettings& settings = fParts.settings;
  MLPSettings user = settings;
  ProgressListener* listener = user.GetProgressListener();
  // A hidden layer needs a unit, and an empty range is read as its minimum.
  const int minUnits = std::max(1, user.GetMinNHiddenUnits());
  const int maxUnits = std::max(minUnits, user.GetMaxNHiddenUnits());
  const int startUnits = std::min(std::max(user.GetNumHiddenUnits(1), minUnits), maxUnits);
  const double timeForSearch = user.GetTimeForExpertArch();

  MLPSettings search(user.GetNumInputs(), user.GetNOutCats(), user.GetNTrainRecords());
  search.SetNHiddenUnitsRange(minUnits, maxUnits);
  search.SetNumHiddenUnits(startUnits, 1);
  search.SetMaxTime(user.GetMaxTime());
  search.SetTimeForExpertArch(timeForSearch);
  search.SetRandomSeed(user.GetRandomSeed());
  search.SetRandomSeedSampling(user.GetRandomSeedSampling());
  search.SetUsePortableRNG(user.GetUsePortableRNG());
  search.SetRandomWeightRange(user.GetRandomWeightRangeLo(), user.GetRandomWeightRangeHi());
  // The host's cancel object must stay reachable while the search settings
  // are the algorithm's.
  search.SetCancelPointer(user.GetCancelPointer());
  search.SetTempFileNameMaker(user.GetTempFileNameMaker());

  fHooks.EnterExpertState();
  const bool newNetwork = search.NeedNewNetwork(user);
  if (newNetwork) {
    settings = search;
    fParts.random.SetSeed(search.GetRandomSeed());
    delete fParts.optimizer;
    fParts.optimizer = nullptr;
    delete fParts.network;
    fParts.network = fHooks.CreateNetwork(true);
    if (!RebuildOptimizer()) {
      settings = user;
      fParts.status = VXStatus(kNoOptimizer, false);
      return fParts.status;
    }
  } else if (fParts.network == nullptr || fParts.optimizer == nullptr) {
    settings.SetProgressListener(listener);
    fParts.status = VXStatus(kNoOptimizer, false);
    return fParts.status;
  } else {
    settings.CopyStopRules(search);
  }

  MLPSample sample = DrawSample(user);
  settings.SetNTestRecords(user.GetNTestRecords());
  ++fParts.nDataPasses;
  if (sample.sourceFailure != 0 && !Canceled()) {
    // As any failed search: the algorithm stays in the Expert state, which
    // refuses the work it cannot do.
    settings.SetProgressListener(listener);
    fParts.status = VXStatus(sample.sourceFailure, false);
    return fParts.status;
  }
  fParts.nHiddenUnits = HiddenUnitsOf(*fParts.network);
  settings.RemoveProgressListener();

  if (listener != nullptr) {
    const double trainError = ErrorOn(*sample.train, sample.nTrain);
    const double testError =
        sample.nTest > 0 ? ErrorOn(*sample.test, sample.nTest) : VXMV::gMissingValue;
    fParts.optimizer->SetProgressValues(trainError, testError, VXMV::gMissingValue,
                                        VXMV::gMissingValue, VXMV::gMissingValue,
                                        sample.nTrain + sample.nTest);
    fHooks.ReportExpertProgress(*listener);
  }

  VXStatus status;
  Candidate overall;
  bool haveOverall = false;
  const auto consider = [&](const Candidate& c) {
    if (!haveOverall || c.Test() < overall.Test() ||
        (c.Test() == overall.Test() && c.size < overall.size)) {
      overall = c;
      haveOverall = true;
    }
  };
  const Candidate* selected = nullptr;
  Candidate runBest;

  for (int run = 0; run < kSearchRuns && status.IsOK() && !Canceled(); ++run) {
    if (run > 0) {
      ResizeHiddenLayer(startUnits);
      fParts.network->RandomizeWeights(fParts.random);
    }
    Candidate startCandidate;
    status = TrainCandidate(sample, false, start, startCandidate);
    if (!status.IsOK()) break;
    runBest = startCandidate;
    consider(startCandidate);
    Candidate previous = startCandidate;

    bool shrinking = startUnits > minUnits;
    bool runOver = !shrinking && !(runBest.reportErrorRatio > kFitRatio);
    while (!runOver && !Canceled() && fParts.elapsedTime < timeForSearch) {
      if (shrinking) {
        VXStatus pass;
        int unit = 0;
        fParts.network->FindLeastUsefulHiddenUnit(pass, *sample.train, sample.nTrain, unit);
        sample.train->Rewind();
        fParts.network->RemoveHiddenUnit(unit);
        ResizeHiddenLayer(HiddenUnitsOf(*fParts.network));
      } else {
        if (fParts.nHiddenUnits >= maxUnits) break;
        ResizeHiddenLayer(fParts.nHiddenUnits + 1);
      }
      Candidate c;
      status = TrainCandidate(sample, true, start, c);
      if (!status.IsOK()) break;

      if (!shrinking) {
        if (!(c.Test() < previous.Test())) break;
        if (c.Test() < runBest.Test()) runBest = c;
        consider(c);
        runOver = c.size >= maxUnits || !(c.trainError < previous.trainError) ||
                  !(c.errorRatio > kFitRatio);
        previous = std::move(c);
      } else if (!(c.Test() > previous.Test())) {
        if (c.Test() <= runBest.Test()) runBest = c;
        consider(c);
        runOver = c.size <= minUnits;
        previous = std::move(c);
      } else if (std::abs(c.size - startUnits) > 1) {
        runOver = true;
      } else {
        // Smaller did not help: grow from the start candidate instead.
        ResizeHiddenLayer(startUnits);
        fParts.network->SetWeights(startCandidate.weights);
        shrinking = false;
        previous = startCandidate;
        runOver = !(runBest.reportErrorRatio > kFitRatio);
      }
    }
    if (!status.IsOK() || Canceled()) break;
    if (runBest.reportErrorRatio <= kGoodRatio) {
      selected = &runBest;
      break;
    }
  }

  if (Canceled()) {
    settings = user;
    fHooks.DoCancel();
    return fParts.status;
  }
  if (!status.IsOK()) {
    // The network may be of any size the search reached: the algorithm
    // stays in the Expert state, which refuses the work it cannot do.
    settings.SetProgressListener(listener);
    fParts.status = status;
    return fParts.status;
  }
  if (selected == nullptr) selected = &overall;
  const Candidate& best = *selected;

  ResizeHiddenLayer(best.size);
  fParts.optimizer->ResetGradient();
  fParts.network->SetWeights(best.weights);
  fParts.nIterations = best.nIterations;
  fParts.stopReason = best.stopReason;
  fParts.trainingError = best.trainError;
  fParts.testingError = best.testError;
  fParts.optimizer->SetProgressValues(best.reportTrainError, best.reportTestError,
                                      best.reportGradientNorm, best.reportRelChange,
                                      best.reportErrorRatio, -1);
  if (listener != nullptr) fHooks.ReportExpertProgress(*listener);

  if (!newNetwork) {
    // The user's stop rules come back as they were; the layer size set
    // with the best candidate above stays.
    settings.CopyStopRules(user);
    settings.SetMiniBatchSize(user.GetMiniBatchSize());
    // The host expects the reports of the training that follows.
    settings.SetProgressListener(listener);
  } else {
    user.SetNumHiddenLayers(1);
    user.SetNumHiddenUnits(best.size, 1);
    user.SetActivFnHiddenLayer(settings.GetActivFnHiddenLayer());
    user.SetActivFnOutputLayer(settings.GetActivFnOutputLayer());
    settings = user;
    delete fParts.optimizer;
    fParts.optimizer = nullptr;
    delete fParts.network;
    fParts.network = fHooks.CreateNetwork(true);
    if (RebuildOptimizer())
      fParts.network->SetWeights(best.weights);
    else
      status = VXStatus(kNoOptimizer, false);
  }

  if (Canceled()) {
    fHooks.DoCancel();
    return fParts.status;
  }
  fHooks.LeaveExpertState();
  fParts.reinitializeWeights = false;
  fParts.status = status;
  return fParts.status;
}
