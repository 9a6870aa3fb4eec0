// Mini-batch and online gradient descent: steps, learning-rate decay,
// momentum cap and record order checked against a second implementation;
// stop rules; updates of a trained network; saved forms and their refusal of
// damaged streams; training on the iris data against the batch methods.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include "optim_fixtures.h"
#include "vxneural/data/RecordBufferIter.h"
#include "vxneural/network/VXRandom.h"
#include "vxneural/optim/GradientDescentBatch.h"
#include "vxneural/optim/GradientDescentMBO.h"
#include "vxneural/optim/ScaledConjGrad.h"

namespace {

using namespace optim_fixtures;
using VXCommon_1_2::MultiPassRecordIter;

std::vector<Record> Slice(const std::vector<Record>& records, std::size_t from, std::size_t n) {
  return {records.begin() + from, records.begin() + from + n};
}

// The portable generator's shuffle, written out: state * 397204094 mod
// 2^31 - 1, a draw of state / 2^31, and for i from n - 1 down to 1 an
// exchange of i with trunc(draw * (i + 1)).
std::vector<int> ShuffledOrder(std::uint32_t& state, int n) {
  std::vector<int> order(static_cast<std::size_t>(n));
  std::iota(order.begin(), order.end(), 0);
  for (int i = n - 1; i >= 1; --i) {
    state =
        static_cast<std::uint32_t>(static_cast<std::uint64_t>(state) * 397204094u % 2147483647u);
    const int j = static_cast<int>(state / 2147483648.0 * (i + 1));
    std::swap(order[static_cast<std::size_t>(i)], order[static_cast<std::size_t>(j)]);
  }
  return order;
}

// A second implementation of the steps and epochs of a training run without
// test data, with a network as the oracle of errors and gradients.
struct Reference {
  NNetwork& oracle;
  std::valarray<double> w, a;
  double eta, etaLow, decay, alpha, rho;
  bool training = true;
  int steps = 0;

  void Step(const std::vector<Record>& group) {
    const Evaluation at = Evaluate(oracle, w, group);
    if (training && alpha * Norm(a) > eta * Norm(at.gradient))
      alpha = eta * Norm(at.gradient) / Norm(a) * rho;
    const std::valarray<double> d = (w - eta * at.gradient) + alpha * a;
    if (Evaluate(oracle, d, group).error < at.error) {
      a = d - w;
      w = d;
    }
    ++steps;
    if (training && eta > etaLow) eta = std::max(eta * decay, etaLow);
  }
  // Whole mini-batches of c in record order, or (online, seeded) loads of c
  // taken in shuffled order; the run ends at its best training epoch.
  void Train(const std::vector<Record>& records, int c, int epochs, std::uint32_t* seed = nullptr) {
    std::valarray<double> best = w;
    double bestError = Evaluate(oracle, w, records).error;
    int bestEpoch = 1;
    for (int epoch = 1; epoch <= epochs; ++epoch) {
      for (std::size_t from = 0; from < records.size(); from += static_cast<std::size_t>(c)) {
        const std::size_t n = std::min(records.size() - from, static_cast<std::size_t>(c));
        if (seed == nullptr) {
          if (n == static_cast<std::size_t>(c)) Step(Slice(records, from, n));
          continue;
        }
        for (int k : ShuffledOrder(*seed, static_cast<int>(n)))
          Step(Slice(records, from + static_cast<std::size_t>(k), 1));
      }
      const double e = Evaluate(oracle, w, records).error;
      if (e < bestError) {
        bestError = e;
        best = w;
        bestEpoch = epoch;
      }
    }
    if (bestEpoch != epochs) w = best;
  }
};

// A small network (2 inputs, 3 tanh hidden units, 1 continuous target) on
// linear data, its optimizer and an oracle with settings of its own (so
// that the host's cancel object cannot stop it).
struct Fixture {
  explicit Fixture(int records = 40, VXNNCommon::TrainingType type = VXNNCommon::kMiniBatch,
                   int capacity = 8)
      : data(LinearRecords(records, 1)) {
    settings = MakeSettings(2, {1}, {3}, VXNNCommon::kIdentity, records);
    settings->SetTrainingMethodAndType(VXNNCommon::kGradientDescent, type);
    settings->SetEtaInit(0.1);
    settings->SetEtaLow(0.01);
    settings->SetAlpha(0.9);
    settings->SetAlphaReduction(0.5);
    settings->SetNEpochs(2.0);
    net = std::make_unique<NNetwork>(*settings);
    initial = UniformWeights(net->GetNumWeights(), 3, -0.5, 0.5);
    net->SetWeights(initial);
    oracleSettings = std::make_unique<MLPSettings>(*settings);
    oracleSettings->SetCancelPointer(nullptr);
    oracle = std::make_unique<NNetwork>(*oracleSettings);
    random = std::make_unique<VXRandom>(777u, true);
    Rebuild(capacity);
  }
  // The optimizer takes the host's cancel object from the settings when it
  // is built.
  void Rebuild(int capacity) {
    mbo =
        std::make_unique<GradientDescentMBO>(settings.get(), net.get(), 3, capacity, random.get());
  }
  void SetCancel(VXCommon_1_2::VXQueryCancel* cancel, int capacity = 8) {
    settings->SetCancelPointer(cancel);
    Rebuild(capacity);
  }
  // Epochs a data-pass limit allows without test data: the first pass,
  // then an epoch and a training-error pass per epoch.
  void LimitEpochs(int epochs) { settings->SetMaxNDataPasses(1 + 2 * epochs); }
  VXStatus Train(MultiPassRecordIter* test = nullptr) {
    auto train = VectorRecordIter::Borrow(data);
    VXStatus status;
    return mbo->Train(status, train, test, 1000, 1000);
  }
  // An update with the records; returns what it wrote to standard output.
  std::string Update(const std::vector<Record>& fresh, int nNew, bool& changed,
                     VXStatus* result = nullptr) {
    auto train = VectorRecordIter::Borrow(data);
    auto source = VectorRecordIter::Borrow(fresh);
    VXStatus status;
    std::ostringstream out;
    auto* old = std::cout.rdbuf(out.rdbuf());
    mbo->Update(status, train, source, nNew, changed);
    std::cout.rdbuf(old);
    if (result != nullptr) *result = status;
    return out.str();
  }
  // Made before Train, which stores its final momentum in the settings.
  Reference MakeReference(double decay) {
    return {*oracle,
            initial,
            std::valarray<double>(0.0, initial.size()),
            settings->GetEtaInit(),
            settings->GetEtaLow(),
            decay,
            settings->GetAlpha(),
            settings->GetAlphaReduction()};
  }

  std::vector<Record> data;
  std::unique_ptr<MLPSettings> settings, oracleSettings;
  std::unique_ptr<NNetwork> net, oracle;
  std::unique_ptr<VXRandom> random;
  std::unique_ptr<GradientDescentMBO> mbo;
  std::valarray<double> initial;
};

void ExpectWeights(const std::valarray<double>& actual, const std::valarray<double>& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t k = 0; k < actual.size(); ++k) EXPECT_NEAR(actual[k], expected[k], 1e-12) << k;
}

// --- steps, epochs and record order -----------------------------------------

TEST(GradientDescentMBOTrain, AnEpochStepsOnWholeMiniBatchesOnly) {
  // 25 records in batches of 10: two steps per epoch, the last 5 records
  // left out of the steps (but not out of the measured error).
  Fixture f(25, VXNNCommon::kMiniBatch, 10);
  f.settings->SetEtaInit(0.05);
  f.settings->SetEtaLow(0.05);
  f.LimitEpochs(3);
  Reference ref = f.MakeReference(1.0);
  CountingIter train(f.data);
  VXStatus status;
  f.mbo->Train(status, train, nullptr, 1000, 0);
  EXPECT_TRUE(status.IsOK());
  EXPECT_EQ(f.mbo->GetStopReason(), VXNNCommon::kStoppedMaxDataPasses);
  EXPECT_EQ(f.mbo->GetAlgorithmStatus(), VXNNCommon::kTrained);
  EXPECT_EQ(f.mbo->GetNIterations(), 6);
  EXPECT_EQ(f.mbo->GetNDataPasses(), 7);
  EXPECT_EQ(f.mbo->GetNRecordsProcessed(), 75);
  // The first pass, then per epoch the batches and the error pass.
  EXPECT_EQ(train.Count(), 25 + 3 * (25 + 25));

  ref.Train(f.data, 10, 3);
  EXPECT_EQ(ref.steps, 6);
  ExpectWeights(WeightsOf(*f.net), ref.w);
  EXPECT_DOUBLE_EQ(f.settings->GetAlpha(), ref.alpha);
  EXPECT_DOUBLE_EQ(f.mbo->GetTrainError(), Evaluate(*f.oracle, ref.w, f.data).error);
}

TEST(GradientDescentMBOTrain, LearningRateFallsGeometricallyToItsLowValue) {
  // 20 records, batches of 10, one epoch to decay over: 2 steps from 0.1 to
  // 0.025, so the rate halves: 0.1, 0.05, then 0.025 for good.
  Fixture f(20, VXNNCommon::kMiniBatch, 10);
  f.settings->SetEtaInit(0.1);
  f.settings->SetEtaLow(0.025);
  f.settings->SetNEpochs(1.0);
  f.settings->SetAlpha(0.0);
  f.LimitEpochs(3);
  f.Train();
  const double rates[] = {0.1, 0.05, 0.025, 0.025, 0.025, 0.025};
  std::valarray<double> w = f.initial;
  for (int k = 0; k < 6; ++k) {
    const auto group = Slice(f.data, static_cast<std::size_t>(k % 2) * 10, 10);
    const Evaluation at = Evaluate(*f.oracle, w, group);
    const std::valarray<double> d = w - rates[k] * at.gradient;
    if (Evaluate(*f.oracle, d, group).error < at.error) w = d;
  }
  EXPECT_EQ(f.mbo->GetNIterations(), 6);
  ExpectWeights(WeightsOf(*f.net), w);
}

TEST(GradientDescentMBOTrain, EqualInitialAndLowRatesKeepTheRateConstant) {
  Fixture f(24, VXNNCommon::kMiniBatch, 6);
  f.settings->SetEtaInit(0.03);
  f.settings->SetEtaLow(0.03);
  f.LimitEpochs(2);
  Reference ref = f.MakeReference(1.0);
  f.Train();
  ref.Train(f.data, 6, 2);
  EXPECT_EQ(ref.steps, 8);
  ExpectWeights(WeightsOf(*f.net), ref.w);
}

TEST(GradientDescentMBOTrain, MomentumIsCappedAndTheFinalCoefficientStored) {
  Fixture f(40, VXNNCommon::kMiniBatch, 8);
  f.settings->SetAlpha(5.0);
  f.LimitEpochs(4);
  // B = 40 / 8 batches per epoch over 2 epochs.
  Reference ref = f.MakeReference(std::exp(-std::log(0.1 / 0.01) / (5.0 * 2.0)));
  f.Train();
  ref.Train(f.data, 8, 4);
  ExpectWeights(WeightsOf(*f.net), ref.w);
  EXPECT_LT(ref.alpha, 5.0);
  EXPECT_DOUBLE_EQ(f.settings->GetAlpha(), ref.alpha);
}

TEST(GradientDescentMBOTrain, DataSmallerThanAMiniBatchMakeOneStepPerEpoch) {
  Fixture f(5, VXNNCommon::kMiniBatch, 8);
  f.LimitEpochs(3);
  f.Train();
  EXPECT_EQ(f.mbo->GetNIterations(), 3);
  EXPECT_EQ(f.mbo->GetNRecordsProcessed(), 15);
}

TEST(GradientDescentMBOTrain, OnlineStepsFollowTheGeneratorsShuffle) {
  // Loads of 8, 8 and 4 records, each in its own shuffled order; every
  // record is a step.
  Fixture f(20, VXNNCommon::kOnline, 8);
  f.settings->SetEtaInit(0.05);
  f.settings->SetAlpha(0.5);
  f.LimitEpochs(3);
  Reference ref = f.MakeReference(std::exp(-std::log(0.05 / 0.01) / (20.0 / 8.0 * 2.0)));
  f.Train();
  EXPECT_EQ(f.mbo->GetNIterations(), 60);
  EXPECT_EQ(f.mbo->GetNRecordsProcessed(), 60);
  std::uint32_t seed = 777;
  ref.Train(f.data, 8, 3, &seed);
  ExpectWeights(WeightsOf(*f.net), ref.w);
  // The shared generator moved on by exactly the draws of nine loads.
  EXPECT_EQ(f.random->GetSeed(), seed);
}

TEST(GradientDescentMBOTrain, SameSeedSameWeightsOtherSeedOtherWeights) {
  auto run = [](VXNNCommon::TrainingType type, std::uint32_t seed) {
    Fixture f(30, type, 7);
    f.random->SetSeed(seed);
    f.LimitEpochs(4);
    f.Train();
    return WeightsOf(*f.net);
  };
  for (auto type : {VXNNCommon::kMiniBatch, VXNNCommon::kOnline}) {
    const std::valarray<double> first = run(type, 99), second = run(type, 99);
    ASSERT_EQ(first.size(), second.size());
    for (std::size_t k = 0; k < first.size(); ++k) EXPECT_EQ(first[k], second[k]);
  }
  const std::valarray<double> other = run(VXNNCommon::kOnline, 100);
  EXPECT_GT(Norm(other - run(VXNNCommon::kOnline, 99)), 1e-9);
}

// --- stop rules --------------------------------------------------------------

struct Recorder : VXCommon_1_2::ProgressListener {
  void Report(VXCommon_1_2::ProgressReport& r) override {
    passes.push_back(r.DiscreteMeasure("dataPasses"));
    testErrors.push_back(r.ScaleMeasure("testError"));
    gradientNorms.push_back(r.ScaleMeasure("gradNorm"));
  }
  std::vector<int> passes;
  std::vector<double> testErrors, gradientNorms;
};

TEST(GradientDescentMBOStop, RulesFireInTheirOrderAtTheFirstEpochEnd) {
  struct Case {
    double relChange, ratio, accuracy;
    VXNNCommon::StopReason expected;
  };
  // Each limit is out of reach for none of the values after one epoch: the
  // earliest armed rule names the reason.
  for (const Case& c : {Case{10.0, 10.0, 0.0, VXNNCommon::kStoppedErrorChangeLimit},
                        Case{0.0, 10.0, 0.0, VXNNCommon::kStoppedErrorRatioLimit},
                        Case{0.0, 0.0, 0.0, VXNNCommon::kStoppedAccuracy}}) {
    Fixture f;
    f.settings->SetMaxNDataPasses(100);
    f.settings->SetMinRelativeChangeError(c.relChange);
    f.settings->SetMinErrorRatio(c.ratio);
    f.settings->SetAccuracy(c.accuracy);
    f.Train();
    EXPECT_EQ(f.mbo->GetStopReason(), c.expected);
    EXPECT_EQ(f.mbo->GetNDataPasses(), 3);
    EXPECT_EQ(f.mbo->GetNIterations(), 5);
  }
}

TEST(GradientDescentMBOStop, ProgressValuesAfterAnEpoch) {
  Fixture f;
  f.LimitEpochs(1);
  f.Train();
  const double e0 = Evaluate(*f.oracle, f.initial, f.data).error;
  const double e1 = Evaluate(*f.oracle, WeightsOf(*f.net), f.data).error;
  EXPECT_DOUBLE_EQ(f.mbo->GetTrainError(), e1);
  EXPECT_NEAR(f.mbo->GetRelChangeInErr(), std::fabs(e1 - e0) / ((e0 + e1) * 0.5 + 1e-10), 1e-12);
  EXPECT_NEAR(f.mbo->GetErrorRatio(), e1 / (MeanModelError(f.data, 2, 1) + 1e-10), 1e-9);
  EXPECT_EQ(f.mbo->GetLastGradientNorm(), 0.0);
  EXPECT_TRUE(VXMV::IsMissing(f.mbo->GetTestError()));
}

TEST(GradientDescentMBOStop, WithoutTrainingChecksTheErrorRulesCannotFire) {
  Fixture f;
  const std::vector<Record> testRecords = LinearRecords(15, 4);
  f.settings->SetMaxNDataPasses(6);
  f.settings->SetMinRelativeChangeError(10.0);
  f.settings->SetMinErrorRatio(10.0);
  f.settings->SetCheckTrainErrVerifyingCycle(false);
  auto test = VectorRecordIter::Borrow(testRecords);
  f.Train(&test);
  // No training-error pass: one data pass per epoch.
  EXPECT_EQ(f.mbo->GetStopReason(), VXNNCommon::kStoppedMaxDataPasses);
  EXPECT_EQ(f.mbo->GetNDataPasses(), 6);
  EXPECT_TRUE(VXMV::IsMissing(f.mbo->GetTrainError()));
  EXPECT_TRUE(VXMV::IsMissing(f.mbo->GetRelChangeInErr()));
  EXPECT_NEAR(f.mbo->GetTestError(), Evaluate(*f.oracle, WeightsOf(*f.net), testRecords).error,
              1e-12);
}

TEST(GradientDescentMBOStop, VerifyingCycleEndsAtTheBestTestedWeights) {
  // Test targets of the opposite sign: every step makes the test error
  // worse, so the run stops after 3 epochs without a better one and ends at
  // the initial weights.
  Fixture f;
  const std::vector<Record> testRecords = LinearRecords(20, 8, -1.0);
  f.settings->SetMaxNDataPasses(1000);
  f.settings->SetMaxNStepsTrackError(3);
  f.settings->SetCheckTrainErrVerifyingCycle(false);
  Recorder recorder;
  f.settings->SetProgressListener(&recorder);
  auto test = VectorRecordIter::Borrow(testRecords);
  f.Train(&test);
  EXPECT_EQ(f.mbo->GetStopReason(), VXNNCommon::kStoppedVerifyingCycle);
  EXPECT_EQ(f.mbo->GetNDataPasses(), 4);
  ExpectWeights(WeightsOf(*f.net), f.initial);
  const double initialError = Evaluate(*f.oracle, f.initial, testRecords).error;
  EXPECT_DOUBLE_EQ(f.mbo->GetTestError(), initialError);
  // One report per epoch, then one for the restored weights.
  ASSERT_EQ(recorder.testErrors.size(), 5u);
  EXPECT_GT(recorder.testErrors[3], initialError);
  EXPECT_DOUBLE_EQ(recorder.testErrors[4], initialError);
}

TEST(GradientDescentMBOStop, ATimeLimitOfZeroStopsBeforeTheFirstStep) {
  Fixture f;
  f.settings->SetMaxTime(0.0);
  f.Train();
  EXPECT_EQ(f.mbo->GetStopReason(), VXNNCommon::kStoppedMaxTime);
  EXPECT_EQ(f.mbo->GetNIterations(), 0);
  ExpectWeights(WeightsOf(*f.net), f.initial);
}

TEST(GradientDescentMBOStop, ReportsEverySkippedPlusOneEpochsAndAtTheEnd) {
  Fixture f;
  f.LimitEpochs(5);
  f.settings->SetNSkippedReports(1);
  Recorder recorder;
  f.settings->SetProgressListener(&recorder);
  f.Train();
  EXPECT_EQ(recorder.passes, (std::vector<int>{3, 7, 11}));
  EXPECT_EQ(recorder.gradientNorms, (std::vector<double>{0.0, 0.0, 0.0}));
}

TEST(GradientDescentMBOStop, CancelledRunKeepsTheSettingsMomentum) {
  for (auto type : {VXNNCommon::kMiniBatch, VXNNCommon::kOnline}) {
    Fixture f(40, type, 8);
    f.settings->SetAlpha(5.0);
    f.LimitEpochs(50);
    int polls = 0;
    CancelWhen cancel([&polls] { return ++polls > 150; });
    f.SetCancel(&cancel);
    const VXStatus status = f.Train();
    EXPECT_EQ(status.GetErrorCode(), 1);
    EXPECT_TRUE(status.IsError());
    EXPECT_EQ(f.mbo->GetAlgorithmStatus(), VXNNCommon::kCancelled);
    EXPECT_EQ(f.settings->GetAlpha(), 5.0);
    EXPECT_LT(f.mbo->GetNDataPasses(), 101);
  }
}

// --- updates -----------------------------------------------------------------

// The standard-output record of an update, written out independently.
std::string UpdateDump(const char* mode, const std::valarray<double>& w, bool changed) {
  std::ostringstream out;
  out.precision(12);
  out << "\nNetwork weights after " << mode << " update:";
  for (double v : w) out << ' ' << v;
  out << '\n' << (changed ? "The weights have changed.\n" : "The weights have not changed.\n");
  return out.str();
}

// Settings whose update type is Online: a host can only get them from a
// saved model, since the setter accepts Batch and MiniBatch alone (and only
// under training type Batch).
void MakeUpdateTypeOnline(MLPSettings& settings) {
  MLPSettings probe(settings);
  probe.SetTrainingMethodAndType(VXNNCommon::kGradientDescent, VXNNCommon::kBatch);
  std::stringstream batch, miniBatch, saved;
  probe.SetUpdateType(VXNNCommon::kBatch);
  probe.WriteObject(batch);
  probe.SetUpdateType(VXNNCommon::kMiniBatch);
  probe.WriteObject(miniBatch);
  const std::string a = batch.str(), b = miniBatch.str();
  const std::size_t at =
      static_cast<std::size_t>(std::mismatch(a.begin(), a.end(), b.begin()).first - a.begin());
  ASSERT_LT(at, a.size());
  settings.WriteObject(saved);
  std::string text = saved.str();
  text[at] = static_cast<char>(VXNNCommon::kOnline);
  std::stringstream in(text);
  settings.ReadObject(in);
}

TEST(GradientDescentMBOUpdate, MiniBatchesOfNewRecordsDownToAQuarterBatch) {
  // Batches of 8, threshold trunc(0.25 * 8 + 0.5) = 2: 21 records give
  // batches of 8, 8 and 5; 17 records give 8 and 8, the last one unused.
  for (int nNew : {21, 17}) {
    Fixture f(40, VXNNCommon::kMiniBatch, 8);
    f.LimitEpochs(2);
    f.Train();
    const std::valarray<double> trained = WeightsOf(*f.net);
    const double elapsed = f.mbo->GetElapsedTime();
    const int recordsBefore = f.mbo->GetNRecordsProcessed();
    const std::vector<Record> fresh = LinearRecords(30, 6);
    bool changed = false;
    VXStatus status;
    const std::string dump = f.Update(fresh, nNew, changed, &status);

    Reference ref = f.MakeReference(1.0);
    ref.training = false;
    ref.w = trained;
    ref.eta = f.settings->GetEtaLow();
    ref.alpha = f.settings->GetAlpha();
    for (std::size_t from = 0; from + 2 <= static_cast<std::size_t>(nNew); from += 8)
      ref.Step(Slice(fresh, from, std::min<std::size_t>(8, nNew - from)));
    ExpectWeights(WeightsOf(*f.net), ref.w);
    EXPECT_TRUE(status.IsOK());
    EXPECT_TRUE(changed);
    EXPECT_EQ(f.mbo->GetNIterations(), nNew == 21 ? 3 : 2);
    EXPECT_EQ(f.mbo->GetNRecordsProcessed(), recordsBefore + (nNew == 21 ? 21 : 16));
    EXPECT_EQ(f.mbo->GetAlgorithmStatus(), VXNNCommon::kTrained);
    EXPECT_GE(f.mbo->GetElapsedTime(), elapsed);
    EXPECT_TRUE(VXMV::IsMissing(f.mbo->GetTrainError()));
    EXPECT_TRUE(VXMV::IsMissing(f.mbo->GetErrorRatio()));
    EXPECT_EQ(dump, UpdateDump("mini-batch", ref.w, true));
  }
}

TEST(GradientDescentMBOUpdate, ATrainedNetworkLearnsFromShiftedRecords) {
  // The new records follow a relation of half the slope: updates move the
  // trained network towards it.
  Fixture f(40, VXNNCommon::kMiniBatch, 8);
  f.LimitEpochs(10);
  f.Train();
  const std::vector<Record> fresh = LinearRecords(40, 9, 0.5);
  const double before = Evaluate(*f.oracle, WeightsOf(*f.net), fresh).error;
  f.settings->SetEtaLow(0.05);
  bool changed = false;
  for (int round = 0; round < 5; ++round) f.Update(fresh, 40, changed);
  EXPECT_LT(Evaluate(*f.oracle, WeightsOf(*f.net), fresh).error, 0.5 * before);
}

TEST(GradientDescentMBOUpdate, AStepThatCannotLowerTheErrorChangesNothing) {
  Fixture f;
  f.settings->SetEtaLow(0.0);
  bool changed = true;
  const std::string dump = f.Update(LinearRecords(16, 6), 16, changed);
  EXPECT_FALSE(changed);
  EXPECT_EQ(f.mbo->GetNIterations(), 2);
  ExpectWeights(WeightsOf(*f.net), f.initial);
  EXPECT_EQ(dump, UpdateDump("mini-batch", f.initial, false));
}

TEST(GradientDescentMBOUpdate, OnlineUpdateStepsRecordByRecordInShuffledOrder) {
  Fixture f(40, VXNNCommon::kMiniBatch, 8);
  MakeUpdateTypeOnline(*f.settings);
  ASSERT_EQ(f.settings->GetUpdateType(), VXNNCommon::kOnline);
  const std::vector<Record> fresh = LinearRecords(11, 6);
  bool changed = false;
  const std::string dump = f.Update(fresh, 11, changed);
  Reference ref = f.MakeReference(1.0);
  ref.training = false;
  ref.eta = f.settings->GetEtaLow();
  std::uint32_t seed = 777;
  for (std::size_t from : {0, 8})
    for (int k : ShuffledOrder(seed, from == 0 ? 8 : 3))
      ref.Step(Slice(fresh, from + static_cast<std::size_t>(k), 1));
  ExpectWeights(WeightsOf(*f.net), ref.w);
  EXPECT_EQ(f.mbo->GetNIterations(), 11);
  EXPECT_EQ(dump, UpdateDump("online", ref.w, changed));
}

TEST(GradientDescentMBOUpdate, CancelledUpdateStillReportsItsWeights) {
  Fixture f;
  CancelWhen cancel([] { return true; });
  f.SetCancel(&cancel);
  bool changed = true;
  VXStatus status;
  const std::string dump = f.Update(LinearRecords(16, 6), 16, changed, &status);
  EXPECT_EQ(status.GetErrorCode(), 1);
  EXPECT_TRUE(status.IsError());
  EXPECT_EQ(f.mbo->GetAlgorithmStatus(), VXNNCommon::kCancelled);
  EXPECT_EQ(dump, UpdateDump("mini-batch", f.initial, false));
}

// --- saved forms -------------------------------------------------------------

const char kBinaryMessage[] = "Error reading GradientDescentMBO!\n";
const char kXmlMessage[] = "Failure reading GradientDescentMBO!\n";
const char kBufferBinaryMessage[] = "Error reading RecordBufferIter!\n";
const char kBufferXmlMessage[] = "Error restoring VXNeural::RecordBufferIter from XML.\n";

// The optimizer's own display: without the network's (whose unit values
// and accuracy are not saved) and without the buffer's addresses.
std::string Shown(const GradientDescentMBO& g) {
  std::ostringstream out;
  g.Display(out);
  std::istringstream lines(out.str());
  std::string line, kept;
  bool inNetwork = false;
  while (std::getline(lines, line)) {
    if (line == "Start of NNetwork display") inNetwork = true;
    if (!inNetwork && line.rfind("fpBuffer", 0) != 0 && line.rfind("fpCurRecord", 0) != 0)
      kept += line + '\n';
    if (line == "End of NNetwork display") inNetwork = false;
  }
  return kept;
}

std::string Save(const GradientDescentMBO& g, bool xml, int* count = nullptr) {
  std::stringstream s;
  const int n = xml ? g.WriteObjectXML(s) : g.WriteObject(s);
  if (count != nullptr) *count = n;
  return s.str();
}

// A trained optimizer with one new record waiting in its buffer (fewer than
// the quarter batch an update steps on).
std::unique_ptr<Fixture> TrainedWithWaitingRecord(VXNNCommon::TrainingType type) {
  auto f = std::make_unique<Fixture>(40, type, 8);
  f->LimitEpochs(2);
  f->Train();
  bool changed = false;
  f->Update(LinearRecords(1, 12), 1, changed);
  return f;
}

TEST(GradientDescentMBOSave, BinaryLayout) {
  auto f = TrainedWithWaitingRecord(VXNNCommon::kMiniBatch);
  int bytes = 0;
  const std::string bin = Save(*f->mbo, false, &bytes);
  auto intAt = [&bin](std::size_t at) {
    std::int32_t v;
    std::memcpy(&v, bin.data() + at, 4);
    return v;
  };
  auto doubleAt = [&bin](std::size_t at) {
    double v;
    std::memcpy(&v, bin.data() + at, 8);
    return v;
  };
  // 83 bytes, the width, then the buffer: its tag, five ints, one record.
  ASSERT_EQ(bin.size(), 83u + 4u + 3u + 20u + 24u);
  EXPECT_EQ(bytes, static_cast<int>(bin.size()));
  EXPECT_EQ(bin.substr(0, 3), "GDM");
  EXPECT_EQ(intAt(3), VXNNCommon::kTrained);
  EXPECT_EQ(intAt(7), VXNNCommon::kStoppedMaxDataPasses);
  EXPECT_EQ(doubleAt(11), f->mbo->GetElapsedTime());
  EXPECT_EQ(intAt(19), 0);  // the update's steps
  EXPECT_EQ(intAt(23), 5);
  EXPECT_EQ(intAt(27), 80);
  for (std::size_t at = 31; at < 79; at += 8) EXPECT_TRUE(VXMV::IsMissing(doubleAt(at))) << at;
  EXPECT_EQ(intAt(79), 8);
  EXPECT_EQ(intAt(83), 3);
  EXPECT_EQ(bin.substr(87, 3), "RBI");
  EXPECT_EQ(doubleAt(bin.size() - 8), LinearRecords(1, 12)[0][2]);

  // Without a buffer (capacity 0) the record ends after fMiniBatchSize.
  Fixture empty(40, VXNNCommon::kOnline, 0);
  const std::string bare = Save(*empty.mbo, false, &bytes);
  EXPECT_EQ(bare.size(), 83u);
  EXPECT_EQ(bytes, 83);
}

class GradientDescentMBOSaveForm : public ::testing::TestWithParam<bool> {
 protected:
  bool Xml() const { return GetParam(); }
  void Read(GradientDescentMBO& g, const std::string& text) {
    std::stringstream in(text);
    Xml() ? g.ReadObjectXML(in) : g.ReadObject(in);
  }
  // Reading text into a fresh optimizer must fail with one of the
  // messages and leave the optimizer as it was.
  void ExpectRefused(Fixture& f, const std::string& text, std::vector<std::string> messages) {
    GradientDescentMBO target(f.settings.get(), f.net.get(), 3, 2, f.random.get());
    const std::string before = Shown(target);
    bool threw = false;
    const std::string err =
        CaptureStderr([&] { threw = ThrowsIOException([&] { Read(target, text); }); });
    ASSERT_TRUE(threw) << "accepted " << text.size() << " bytes";
    EXPECT_NE(std::find(messages.begin(), messages.end(), err), messages.end()) << err;
    EXPECT_EQ(Shown(target), before);
  }
  const char* Message() const { return Xml() ? kXmlMessage : kBinaryMessage; }
  const char* BufferMessage() const { return Xml() ? kBufferXmlMessage : kBufferBinaryMessage; }
};

TEST_P(GradientDescentMBOSaveForm, RoundTripKeepsEveryValue) {
  for (auto type : {VXNNCommon::kMiniBatch, VXNNCommon::kOnline}) {
    auto f = TrainedWithWaitingRecord(type);
    int written = 0;
    const std::string text = Save(*f->mbo, Xml(), &written);
    GradientDescentMBO copy(f->settings.get(), f->net.get(), 3, 1, f->random.get());
    std::stringstream in(text);
    const int read = Xml() ? copy.ReadObjectXML(in) : copy.ReadObject(in);
    EXPECT_EQ(read, written);
    EXPECT_EQ(Shown(copy), Shown(*f->mbo));
    EXPECT_EQ(copy.GetMiniBatchSize(), 8);
    // An online update empties its buffer looking for more records.
    EXPECT_EQ(copy.GetRecordBuffer().GetCount(), type == VXNNCommon::kMiniBatch ? 1 : 0);
    EXPECT_EQ(Save(copy, Xml()), text);
  }
}

TEST_P(GradientDescentMBOSaveForm, ContinuingAfterRestoreMatchesContinuingWithoutIt) {
  for (auto type : {VXNNCommon::kMiniBatch, VXNNCommon::kOnline}) {
    Fixture a(40, type, 8), b(40, type, 8);
    a.LimitEpochs(3);
    a.Train();
    // A model's own parts: settings (with the stored momentum), generator,
    // network, optimizer. b starts from other weights and another seed.
    std::stringstream model;
    if (Xml()) {
      a.settings->WriteObjectXML(model);
      a.random->WriteObjectXML(model);
      a.net->WriteObjectXML(model);
      a.mbo->WriteObjectXML(model);
    } else {
      a.settings->WriteObject(model);
      a.random->WriteObject(model);
      a.net->WriteObject(model);
      a.mbo->WriteObject(model);
    }
    b.net->SetWeights(UniformWeights(b.net->GetNumWeights(), 8, -1.0, 1.0));
    b.random->SetSeed(5);
    if (Xml()) {
      b.settings->ReadObjectXML(model);
      b.random->ReadObjectXML(model);
      b.net->ReadObjectXML(model);
      b.mbo->ReadObjectXML(model);
    } else {
      b.settings->ReadObject(model);
      b.random->ReadObject(model);
      b.net->ReadObject(model);
      b.mbo->ReadObject(model);
    }
    EXPECT_EQ(Shown(*b.mbo), Shown(*a.mbo));

    const std::vector<Record> fresh = LinearRecords(19, 13);
    for (Fixture* f : {&a, &b}) {
      f->LimitEpochs(6);
      f->Train();
      bool changed = false;
      f->Update(fresh, 19, changed);
    }
    const std::valarray<double> wa = WeightsOf(*a.net), wb = WeightsOf(*b.net);
    ASSERT_EQ(wa.size(), wb.size());
    for (std::size_t k = 0; k < wa.size(); ++k) EXPECT_EQ(wa[k], wb[k]) << k;
    EXPECT_EQ(a.random->GetSeed(), b.random->GetSeed());
    EXPECT_EQ(a.settings->GetAlpha(), b.settings->GetAlpha());
    EXPECT_EQ(a.mbo->GetNRecordsProcessed(), b.mbo->GetNRecordsProcessed());
  }
}

TEST_P(GradientDescentMBOSaveForm, TruncatedStreamsAreRefused) {
  auto f = TrainedWithWaitingRecord(VXNNCommon::kMiniBatch);
  const std::string text = Save(*f->mbo, Xml());
  // Up to the end of the object, not counting the line end after it.
  const std::size_t end = Xml() ? text.find_last_not_of('\n') + 1 : text.size();
  for (std::size_t n = 0; n < end; ++n)
    ExpectRefused(*f, text.substr(0, n), {Message(), BufferMessage()});
}

TEST_P(GradientDescentMBOSaveForm, ImplausibleValuesAreRefused) {
  auto f = TrainedWithWaitingRecord(VXNNCommon::kMiniBatch);
  const std::string good = Save(*f->mbo, Xml());
  auto corrupted = [&](std::size_t at, std::int32_t v) {
    std::string text = good;
    std::memcpy(&text[at], &v, 4);
    return text;
  };
  if (!Xml()) {
    std::string tag = good;
    tag[2] = 'B';
    ExpectRefused(*f, tag, {kBinaryMessage});
    ExpectRefused(*f, corrupted(3, 9), {kBinaryMessage});    // status
    ExpectRefused(*f, corrupted(7, -1), {kBinaryMessage});   // stop reason
    ExpectRefused(*f, corrupted(79, -1), {kBinaryMessage});  // mini-batch size
    ExpectRefused(*f, corrupted(83, 4), {kBinaryMessage});   // width of another network
    ExpectRefused(*f, corrupted(79, 5), {kBinaryMessage});   // buffer of another capacity
    ExpectRefused(*f, corrupted(87, 0), {kBufferBinaryMessage});
    return;
  }
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
  };
  ExpectRefused(*f, replaced("GradientDescentMBO", "GradientDescentMBX"), {kXmlMessage});
  ExpectRefused(*f, replaced("RecordBufferIter", "RecordBufferItem"), {kBufferXmlMessage});
  ExpectRefused(*f, replaced(">8<", ">5<"), {kXmlMessage});
  ExpectRefused(*f, replaced(">8<", ">-1<"), {kXmlMessage});
  ExpectRefused(*f, replaced(">3<", ">4<"), {kXmlMessage});
  ExpectRefused(*f, replaced(">2<", ">x<"), {kXmlMessage});
}

INSTANTIATE_TEST_SUITE_P(BinaryAndXml, GradientDescentMBOSaveForm, ::testing::Bool());

TEST(GradientDescentMBODisplay, ShowsTheProgressRecordInOrder) {
  Fixture f;
  f.LimitEpochs(1);
  f.Train();
  std::ostringstream out;
  f.mbo->Display(out);
  const std::string text = out.str();
  std::size_t at = 0;
  for (const char* line :
       {"Start of GradientDescentMBO display\nIsCanceled() = false\n", "Start of NNetwork display",
        "\nAlgorithm status = Trained\nStop Reason = Stopped Max Data Passes\nfElapsedTime = ",
        "\nfNIterations = 5\nfNDataPasses = 3\nfNRecordsProcessed = 40\nfTrainErrorPrev = ",
        "\nfTrainErrorNew = ", "\nfTestErrorPrev = ", "\nfTestErrorNew = ", "\nfRelChangeInErr = ",
        "\nfErrorRatio = ", "\nfMiniBatchSize = 8\nStart of RecordBufferIter display\n",
        "End of RecordBufferIter display\nEnd of GradientDescentMBO display\n"}) {
    const std::size_t found = text.find(line, at);
    ASSERT_NE(found, std::string::npos) << line;
    at = found + std::strlen(line);
  }
  EXPECT_EQ(at, text.size());

  Fixture bare(40, VXNNCommon::kOnline, 0);
  std::ostringstream none;
  bare.mbo->Display(none);
  EXPECT_EQ(none.str().find("RecordBufferIter"), std::string::npos);
  EXPECT_NE(none.str().find("Algorithm status = Not Started\nStop Reason = Stopped Undefined\n"),
            std::string::npos);
}

// --- the iris data -------------------------------------------------------------

int CountCorrect(NNetwork& net, const std::vector<Record>& records) {
  int correct = 0;
  std::vector<double> outputs(3);
  for (const Record& r : records) {
    VXStatus status;
    net.Score(status, r.GetAll(), outputs.data());
    const auto predicted = std::max_element(outputs.begin(), outputs.end()) - outputs.begin();
    correct += r[4 + static_cast<int>(predicted)] == 1.0 ? 1 : 0;
  }
  return correct;
}

TEST(GradientDescentMBOIris, ReachesTheTestAccuracyOfTheBatchMethods) {
  const std::vector<Record> all = IrisRecords();
  ASSERT_EQ(all.size(), 150u);
  // A 70/30 split drawn with the portable generator, seed 2718.
  VXRandom splitter(2718u, true);
  std::vector<int> order(all.size());
  std::iota(order.begin(), order.end(), 0);
  splitter.Shuffle(order);
  std::vector<Record> trainRecords, testRecords;
  for (std::size_t k = 0; k < order.size(); ++k)
    (k < 105 ? trainRecords : testRecords).push_back(all[static_cast<std::size_t>(order[k])]);

  const auto base = MakeSettings(4, {3}, {4}, VXNNCommon::kSoftMax, 105);
  // With the default 0.001 an online run, whose rate reaches the low value
  // after ten records, would hardly move in the passes given.
  base->SetEtaLow(0.01);
  const std::valarray<double> initial =
      UniformWeights(NNetwork(*base).GetNumWeights(), 11, -0.5, 0.5);
  // Trains a network from the common initial weights without test data (so
  // that the test records stay unseen) and counts its correct test
  // predictions.
  auto correctAfter = [&](VXNNCommon::TrainingType type, bool scg, int passes, int capacity) {
    MLPSettings settings(*base);
    settings.SetTrainingMethodAndType(
        scg ? VXNNCommon::kScaledConjugateGradient : VXNNCommon::kGradientDescent, type);
    settings.SetMaxNDataPasses(passes);
    NNetwork net(settings);
    net.SetWeights(initial);
    VXRandom random(31u, true);
    std::unique_ptr<IOptimizationAlgorithm> optimizer;
    if (type != VXNNCommon::kBatch)
      optimizer = std::make_unique<GradientDescentMBO>(&settings, &net, 7, capacity, &random);
    else if (scg)
      optimizer = std::make_unique<ScaledConjGrad>(&settings, &net);
    else
      optimizer = std::make_unique<GradientDescentBatch>(&settings, &net);
    auto train = VectorRecordIter::Borrow(trainRecords);
    VXStatus status;
    optimizer->Train(status, train, nullptr, 1000, 0);
    EXPECT_TRUE(status.IsOK());
    return CountCorrect(net, testRecords);
  };
  NNetwork untrained(*base);
  untrained.SetWeights(initial);
  const int before = CountCorrect(untrained, testRecords);
  const int batch = correctAfter(VXNNCommon::kBatch, false, 1000, 0);
  const int scg = correctAfter(VXNNCommon::kBatch, true, 1000, 0);
  // 200 epochs each: mini-batches of 10, online blocks of all 105 records.
  const int miniBatch = correctAfter(VXNNCommon::kMiniBatch, false, 401, 10);
  const int online = correctAfter(VXNNCommon::kOnline, false, 401, 105);
  SCOPED_TRACE(::testing::Message() << "correct of 45: untrained " << before << ", batch " << batch
                                    << ", scaled conjugate gradient " << scg << ", mini-batch "
                                    << miniBatch << ", online " << online);
  EXPECT_GE(std::min(batch, scg), 40);
  // At most two test records (4.4 points) below the better batch method:
  // versicolor and virginica overlap, and the few records near their border
  // fall either way depending on where a method stops, so one or two
  // records between methods is noise (other splits show the same spread);
  // a step rule that does not work leaves the network far below.
  EXPECT_GE(miniBatch, std::max(batch, scg) - 2);
  EXPECT_GE(online, std::max(batch, scg) - 2);
  EXPECT_LT(before, 30);
}

}  // namespace
