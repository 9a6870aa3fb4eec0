// Sample-based weight initialisation and the hidden-layer search, driven
// through a stand-in for the MLP algorithm that owns the network, the
// optimizer, the generator and the counters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "vxcommon/Callbacks.h"
#include "vxcommon/Record.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/MLPInitializer.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/data/RecordBufferIter.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/VXRandom.h"
#include "vxneural/optim/GradientDescentBatch.h"
#include "vxneural/optim/ScaledConjGrad.h"

namespace {

using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::ProgressListener;
using VXCommon_1_2::ProgressReport;
using VXCommon_1_2::Record;
using VXCommon_1_2::VectorRecordIter;
using VXCommon_1_2::VXQueryCancel;
using VXCommon_1_2::VXStatus;
using VXNeural::RecordBufferIter;

// ---------------------------------------------------------------- data

// n records of the given width whose first value is their index, so that a
// sample can be traced back to the source.
std::vector<Record> IndexedRecords(int n, int width) {
  std::vector<Record> records;
  for (int i = 0; i < n; ++i) {
    Record r(width);
    r[0] = i;
    for (int k = 1; k < width; ++k) r[k] = 0.25 * k;
    records.push_back(r);
  }
  return records;
}

std::vector<int> Indices(const RecordBufferIter& buffer) {
  std::vector<int> out;
  for (int i = 0; i < buffer.GetCount(); ++i)
    out.push_back(static_cast<int>((*buffer.GetRecordAt(i))[0]));
  return out;
}

struct Dataset {
  std::vector<Record> train;
  std::vector<Record> test;
};

// The iris data as a network sees it: the four measurements standardised
// (mean 0, standard deviation 1 over all records), then the species
// one-of-three; shuffled with the seed and split.
Dataset LoadIris(unsigned seed, int nTrain) {
  std::ifstream in(VXNN_DATA_DIR "/iris.csv");
  std::string line;
  std::getline(in, line);
  std::vector<std::vector<double>> inputs;
  std::vector<int> species;
  std::map<std::string, int> codes;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::stringstream fields(line);
    std::string cell;
    std::vector<double> x;
    for (int k = 0; k < 4 && std::getline(fields, cell, ','); ++k) x.push_back(std::stod(cell));
    std::getline(fields, cell);
    const auto code = codes.emplace(cell, static_cast<int>(codes.size())).first->second;
    inputs.push_back(x);
    species.push_back(code);
  }
  const std::size_t n = inputs.size();
  for (int k = 0; k < 4; ++k) {
    double mean = 0.0;
    for (const auto& x : inputs) mean += x[k];
    mean /= n;
    double ss = 0.0;
    for (const auto& x : inputs) ss += (x[k] - mean) * (x[k] - mean);
    const double sd = std::sqrt(ss / (n - 1));
    for (auto& x : inputs) x[k] = (x[k] - mean) / sd;
  }
  std::vector<std::size_t> order(n);
  for (std::size_t i = 0; i < n; ++i) order[i] = i;
  std::mt19937 gen(seed);
  for (std::size_t i = n - 1; i > 0; --i) std::swap(order[i], order[gen() % (i + 1)]);

  Dataset d;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t r = order[i];
    Record rec(7);
    for (int k = 0; k < 4; ++k) rec[k] = inputs[r][k];
    rec[4 + species[r]] = 1.0;
    (static_cast<int>(i) < nTrain ? d.train : d.test).push_back(rec);
  }
  return d;
}

// y = 0.8 x0 - 0.5 x1 + 0.3 plus a little noise: easy for any MLP.
std::vector<Record> LinearRecords(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<Record> records;
  for (int i = 0; i < n; ++i) {
    const double x0 = u(gen);
    const double x1 = u(gen);
    records.emplace_back(std::vector<double>{x0, x1, 0.8 * x0 - 0.5 * x1 + 0.3 + 0.01 * u(gen)});
  }
  return records;
}

// ----------------------------------------------------------- call-backs

// Answers true from the (after + 1)-th question on; counts the questions.
class CancelAfter : public VXQueryCancel {
 public:
  explicit CancelAfter(long after) : fAfter(after) {}
  bool QueryCancel() override { return ++fCalls > fAfter; }
  long Calls() const { return fCalls; }

 private:
  long fAfter;
  long fCalls = 0;
};

// Keeps what each report answered.
class RecordingListener : public ProgressListener {
 public:
  struct Seen {
    int hiddenUnits;
    double trainError;
  };
  void Report(ProgressReport& report) override {
    seen.push_back({report.DiscreteMeasure("hiddenUnits"), report.ScaleMeasure("trainError")});
  }
  std::vector<Seen> seen;
};

// ---------------------------------------------------------------- host

// Stands in for the algorithm: owns what the algorithm owns and implements
// the hooks the way the algorithm's members are specified.
class Host : public MLPInitializer::Hooks {
 public:
  Host(const MLPSettings& s, std::vector<Record> train, std::vector<Record> test = {},
       bool withTest = false)
      : settings(s),
        random(s.GetRandomSeed(), s.GetUsePortableRNG()),
        trainData(std::move(train)),
        testData(std::move(test)),
        hasTest(withTest) {
    network = CreateNetwork(true);
    optimizer = CreateOptimizer(network);
    nHiddenUnits = settings.GetNumHiddenUnits(1);
  }
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;
  ~Host() override {
    delete optimizer;
    delete network;
  }

  MLPInitializer::Parts Parts() {
    return {settings,    network,      optimizer,    random,        &trainData,
            Test(),      status,       reinitialize, stopReason,    nDataPasses,
            nIterations, nHiddenUnits, elapsedTime,  trainingError, testingError};
  }
  MultiPassRecordIter* Test() { return hasTest ? &testData : nullptr; }

  bool IsCanceled() override {
    if (!canceled && settings.GetCancelPointer() != nullptr)
      canceled = settings.GetCancelPointer()->QueryCancel();
    return canceled;
  }
  NNetwork* CreateNetwork(bool randomize) override {
    auto* n = new NNetwork(settings);
    if (randomize) n->RandomizeWeights(random);
    return n;
  }
  IOptimizationAlgorithm* CreateOptimizer(NNetwork* n) override {
    if (settings.GetTrainType() != VXNNCommon::kBatch) return nullptr;
    if (settings.GetTrainingMethod() == VXNNCommon::kScaledConjugateGradient)
      return new ScaledConjGrad(&settings, n);
    if (settings.GetTrainingMethod() == VXNNCommon::kGradientDescent)
      return new GradientDescentBatch(&settings, n);
    return nullptr;
  }
  void EnterExpertState() override {
    ++enters;
    algorithmStatus = VXNNCommon::kExpert;
  }
  void LeaveExpertState() override {
    ++leaves;
    algorithmStatus = VXNNCommon::kNotStarted;
  }
  void DoCancel() override {
    ++cancels;
    algorithmStatus = VXNNCommon::kCancelled;
    status = VXStatus(1, false);
    delete optimizer;
    optimizer = nullptr;
    delete network;
    network = nullptr;
  }
  void ReportExpertProgress(ProgressListener& listener) override {
    struct Report : ProgressReport {
      Host* h;
      explicit Report(Host* host) : h(host) {}
      int DiscreteMeasure(const std::string& key) override {
        return key == "hiddenUnits" ? h->nHiddenUnits : -1;
      }
      double ScaleMeasure(const std::string& key) override {
        return key == "trainError" ? h->optimizer->GetTrainError() : VXMV::gMissingValue;
      }
    } report(this);
    listener.Report(report);
  }

  std::valarray<double> Weights() const {
    std::valarray<double> w;
    network->GetWeights(w);
    return w;
  }
  int NetworkHiddenUnits() const { return network->GetLayer(1)->GetNumUnits(); }

  MLPSettings settings;
  NNetwork* network = nullptr;
  IOptimizationAlgorithm* optimizer = nullptr;
  VXRandom random;
  VectorRecordIter trainData;
  VectorRecordIter testData;
  bool hasTest;
  VXStatus status;
  bool reinitialize = true;
  VXNNCommon::StopReason stopReason = VXNNCommon::kStoppedUndefined;
  int nDataPasses = 0;
  int nIterations = 0;
  int nHiddenUnits = 0;
  double elapsedTime = 0.0;
  double trainingError = VXMV::gMissingValue;
  double testingError = VXMV::gMissingValue;
  VXNNCommon::AlgorithmStatus algorithmStatus = VXNNCommon::kNotStarted;
  bool canceled = false;
  int enters = 0;
  int leaves = 0;
  int cancels = 0;
};

MLPSettings IrisSettings(int nTrain) { return MLPSettings(4, {3}, nTrain); }

std::unique_ptr<Host> IrisHost(const MLPSettings& s, unsigned split = 7) {
  Dataset d = LoadIris(split, s.GetNTrainRecords());
  return std::make_unique<Host>(s, d.train, d.test, true);
}

double ErrorOn(NNetwork& network, MultiPassRecordIter& records) {
  VXStatus st;
  int read = 0;
  network.ResetDerivatives();
  network.ProcessRecords(st, records, INT_MAX, read, true, false);
  records.Rewind();
  return network.GetAccumError();
}

// ------------------------------------------------------- sample sizes

TEST(SampleSizes, WorkedExamples) {
  // 300 records, no test source: 300 * 0.7 + 0.5 = 210.5 -> 210 and 90.
  MLPSampleSizes a = MLPInitializer::ComputeSampleSizes(1000, 300, 0);
  EXPECT_EQ(a.nTrain, 210);
  EXPECT_EQ(a.nTest, 90);
  EXPECT_FALSE(a.fromTestSource);
  // 5000 records, 400 in memory, 50 test records: 280 and min(120, 50).
  MLPSampleSizes b = MLPInitializer::ComputeSampleSizes(400, 5000, 50);
  EXPECT_EQ(b.nTrain, 280);
  EXPECT_EQ(b.nTest, 50);
  EXPECT_TRUE(b.fromTestSource);
}

TEST(SampleSizes, Boundaries) {
  struct Case {
    long memory;
    int train, test, wantTrain, wantTest;
  };
  const Case cases[] = {
      {1000, 5000, 0, 700, 300},   // capped at 1000 records
      {5000, 5000, 0, 700, 300},   // the cap holds above the memory budget too
      {1000, 1000, 0, 700, 300},   // exactly S records: not below S
      {1000, 999, 0, 699, 300},    // 699.8 truncated
      {1000, 1, 0, 1, 0},          // 1.2 truncated
      {1000, 100, 500, 100, 300},  // the training part is bounded by the records
      {1000, 5000, 1, 700, 1},    {300, 200, 0, 140, 60},  // below S = 300
  };
  for (const Case& c : cases) {
    MLPSampleSizes s = MLPInitializer::ComputeSampleSizes(c.memory, c.train, c.test);
    EXPECT_EQ(s.nTrain, c.wantTrain) << c.memory << " " << c.train << " " << c.test;
    EXPECT_EQ(s.nTest, c.wantTest) << c.memory << " " << c.train << " " << c.test;
    EXPECT_EQ(s.fromTestSource, c.test >= 1);
  }
}

TEST(DrawSample, ThreeHundredRecordsWithoutTestSource) {
  MLPSettings s(1, {1}, 300);
  Host host(s, IndexedRecords(300, 2));
  MLPInitializer init(host.Parts(), host);
  MLPSettings sizing = host.settings;
  MLPSample sample = init.DrawSample(sizing);
  EXPECT_EQ(sample.nTrain, 210);
  EXPECT_EQ(sample.nTest, 90);
  EXPECT_EQ(sample.train->GetCount(), 210);
  EXPECT_EQ(sample.test->GetCount(), 90);
  std::set<int> all;
  for (int i : Indices(*sample.train)) all.insert(i);
  for (int i : Indices(*sample.test)) all.insert(i);
  EXPECT_EQ(all.size(), 300u) << "the two buffers share or repeat records";
  EXPECT_TRUE(host.trainData.IsGood()) << "source not rewound";
  EXPECT_EQ(host.random, VXRandom(s.GetRandomSeed(), true)) << "generator not reseeded";
}

TEST(DrawSample, BoundedByMemoryAndTestRecordsCounted) {
  MLPSettings s(1, {1}, 5000);
  s.SetMaxRecordsInMemory(400);
  ASSERT_EQ(s.GetNTestRecords(), 0);
  Host host(s, IndexedRecords(5000, 2), IndexedRecords(50, 2), true);
  MLPInitializer init(host.Parts(), host);
  MLPSettings sizing = host.settings;
  MLPSample sample = init.DrawSample(sizing);
  EXPECT_EQ(sizing.GetNTestRecords(), 50);
  EXPECT_EQ(sample.nTrain, 280);
  EXPECT_EQ(sample.nTest, 50);
  std::vector<int> test = Indices(*sample.test);
  std::vector<int> expected(50);
  for (int i = 0; i < 50; ++i) expected[i] = i;
  EXPECT_EQ(test, expected) << "all test records, in source order";
  std::vector<int> train = Indices(*sample.train);
  EXPECT_TRUE(std::is_sorted(train.begin(), train.end()));
  EXPECT_EQ(std::set<int>(train.begin(), train.end()).size(), 280u);
}

// The selection rule written out once more: which indices of 0..n-1 a
// generator with this seed selects.
std::vector<int> ReferenceSelection(unsigned seed, int n, int wanted) {
  VXRandom rng(seed, true);
  std::vector<int> chosen;
  int need = wanted;
  for (int i = 0; i < n && need > 0; ++i) {
    if (rng.Uniform() <= static_cast<double>(need) / (n - i)) {
      chosen.push_back(i);
      --need;
    }
  }
  return chosen;
}

TEST(SelectSample, OneBufferFollowsTheSelectionRule) {
  for (unsigned seed : {1u, 99u, 2024u}) {
    VectorRecordIter source(IndexedRecords(40, 2));
    RecordBufferIter buffer(2, 13);
    VXRandom rng(seed, true);
    EXPECT_EQ(MLPInitializer::SelectSample(rng, source, 40, buffer), 13);
    EXPECT_EQ(Indices(buffer), ReferenceSelection(seed, 40, 13)) << seed;
    EXPECT_TRUE(source.IsGood());
  }
}

TEST(SelectSample, SameSeedSameSampleOtherSeedOther) {
  auto draw = [](unsigned seed) {
    VectorRecordIter source(IndexedRecords(500, 2));
    RecordBufferIter a(2, 100), b(2, 50);
    VXRandom rng(seed, true);
    int na = 0, nb = 0;
    MLPInitializer::SelectSample(rng, source, 500, a, b, na, nb);
    EXPECT_EQ(na, 100);
    EXPECT_EQ(nb, 50);
    std::vector<int> both = Indices(a);
    for (int i : Indices(b)) both.push_back(-1 - i);
    return both;
  };
  EXPECT_EQ(draw(5), draw(5));
  EXPECT_NE(draw(5), draw(6));
}

TEST(SelectSample, ShortSourceGivesWhatItHas) {
  // The settings promise 100 records, the source has 30.
  VectorRecordIter source(IndexedRecords(30, 2));
  RecordBufferIter buffer(2, 50);
  VXRandom rng(3, true);
  const int taken = MLPInitializer::SelectSample(rng, source, 100, buffer);
  EXPECT_EQ(taken, buffer.GetCount());
  EXPECT_GT(taken, 0);
  EXPECT_LE(taken, 30);
  // Records of the wrong width are refused, and not counted.
  VectorRecordIter wide(IndexedRecords(10, 3));
  RecordBufferIter narrow(2, 10);
  EXPECT_EQ(MLPInitializer::SelectSample(rng, wide, 10, narrow), 0);
}

// -------------------------------------------------------------- annealing

TEST(Annealing, ReachesTargetOnEasyDataWithoutPerturbingWhenKeepingCurrent) {
  MLPSettings s(2, {1}, 200);
  s.SetNumHiddenUnits(3, 1);
  Host host(s, LinearRecords(200, 11), LinearRecords(60, 12), true);
  MLPInitializer init(host.Parts(), host);
  const VXRandom before = host.random;
  double bestTest = -1.0;
  double ratio = 0.0;
  std::valarray<double> best;
  bool reached = false;
  VXStatus st =
      init.Annealing(host.trainData, &host.testData, 200, 60, true, bestTest, ratio, best, reached);
  ASSERT_TRUE(st.IsOK());
  EXPECT_TRUE(reached);
  EXPECT_LT(ratio, 0.05);
  EXPECT_EQ(host.random, before) << "kept weights need no random draws";
  EXPECT_EQ(best.size(), 0u) << "a best test error of -1 keeps the caller's weights";
  EXPECT_EQ(bestTest, -1.0);

  // Without keeping, the first stage draws perturbations.
  reached = false;
  init.Annealing(host.trainData, &host.testData, 200, 60, false, bestTest, ratio, best, reached);
  EXPECT_NE(host.random, before);
}

TEST(Annealing, KeepsBestWeightsWithTheirTestError) {
  MLPSettings s = IrisSettings(100);
  s.SetMaxNDataPasses(4);  // short runs: the target stays out of reach
  auto host = IrisHost(s);
  MLPInitializer init(host->Parts(), *host);
  double bestTest = DBL_MAX;
  double ratio = 0.0;
  std::valarray<double> best;
  bool reached = true;
  VXStatus st = init.Annealing(host->trainData, &host->testData, 100, 50, false, bestTest, ratio,
                               best, reached);
  ASSERT_TRUE(st.IsOK());
  ASSERT_FALSE(reached);
  ASSERT_LT(bestTest, DBL_MAX);
  ASSERT_EQ(best.size(), static_cast<std::size_t>(host->network->GetNumWeights()));
  host->network->SetWeights(best);
  EXPECT_NEAR(ErrorOn(*host->network, host->testData), bestTest, 1e-9 * bestTest);
}

TEST(Annealing, OptimizerFailureEndsIt) {
  MLPSettings s(2, {1}, 50);
  CancelAfter cancel(3);
  s.SetCancelPointer(&cancel);
  Host host(s, LinearRecords(50, 1));
  MLPInitializer init(host.Parts(), host);
  double bestTest = DBL_MAX, ratio = 0.0;
  std::valarray<double> best;
  bool reached = false;
  VXStatus st =
      init.Annealing(host.trainData, nullptr, 50, 0, false, bestTest, ratio, best, reached);
  EXPECT_EQ(st.GetErrorCode(), 1);
  EXPECT_TRUE(st.IsError());
  EXPECT_EQ(bestTest, DBL_MAX);
}

// ------------------------------------------------- weight initialisation

std::valarray<double> InitialisedWeights(unsigned seed) {
  MLPSettings s = IrisSettings(100);
  s.SetRandomSeed(seed);
  auto host = IrisHost(s);
  MLPInitializer init(host->Parts(), *host);
  EXPECT_TRUE(init.ComputeSampleWeights().IsOK());
  return host->Weights();
}

TEST(ComputeSampleWeights, ReproducibleWithTheSeedDifferentWithAnother) {
  const std::valarray<double> a = InitialisedWeights(777);
  const std::valarray<double> b = InitialisedWeights(777);
  const std::valarray<double> c = InitialisedWeights(778);
  ASSERT_EQ(a.size(), b.size());
  EXPECT_EQ(std::abs(a - b).max(), 0.0);
  ASSERT_EQ(a.size(), c.size());
  EXPECT_GT(std::abs(a - c).max(), 1e-6);
}

TEST(ComputeSampleWeights, ImprovesOnRandomWeightsAndRestoresTheSettings) {
  MLPSettings s = IrisSettings(100);
  s.SetTrainingMethodAndType(VXNNCommon::kGradientDescent, VXNNCommon::kBatch);
  RecordingListener listener;
  s.SetProgressListener(&listener);
  auto host = IrisHost(s);
  const double before = ErrorOn(*host->network, host->trainData);
  MLPInitializer init(host->Parts(), *host);
  VXStatus st = init.ComputeSampleWeights();
  ASSERT_TRUE(st.IsOK());
  EXPECT_LT(ErrorOn(*host->network, host->trainData), 0.5 * before);
  EXPECT_FALSE(host->reinitialize);
  EXPECT_EQ(host->nDataPasses, 1);
  EXPECT_TRUE(listener.seen.empty()) << "the sample runs report nothing";
  EXPECT_EQ(host->settings.GetProgressListener(), &listener);
  EXPECT_EQ(host->settings.GetTrainingMethod(), VXNNCommon::kGradientDescent);
  EXPECT_EQ(host->settings.GetNTestRecords(), 50) << "the counted test records stay";
  EXPECT_NE(dynamic_cast<GradientDescentBatch*>(host->optimizer), nullptr)
      << "the optimizer is rebuilt for the restored settings";
}

TEST(ComputeSampleWeights, DoesNothingAfterAnErrorOrCancellation) {
  MLPSettings s = IrisSettings(100);
  auto host = IrisHost(s);
  const std::valarray<double> w = host->Weights();
  host->status = VXStatus(50014, false);
  MLPInitializer init(host->Parts(), *host);
  VXStatus st = init.ComputeSampleWeights();
  EXPECT_EQ(st, VXStatus());
  EXPECT_EQ(std::abs(host->Weights() - w).max(), 0.0);
  EXPECT_TRUE(host->reinitialize);
  EXPECT_EQ(host->nDataPasses, 0);

  CancelAfter cancel(0);
  s.SetCancelPointer(&cancel);
  auto canceled = IrisHost(s);
  const std::valarray<double> w2 = canceled->Weights();
  MLPInitializer init2(canceled->Parts(), *canceled);
  EXPECT_EQ(init2.ComputeSampleWeights(), VXStatus());
  EXPECT_EQ(std::abs(canceled->Weights() - w2).max(), 0.0);
  EXPECT_EQ(canceled->nDataPasses, 0);
}

TEST(ComputeSampleWeights, CancelledMidwayAnswersTheOptimizersStatus) {
  MLPSettings s = IrisSettings(100);
  CancelAfter cancel(400);
  s.SetCancelPointer(&cancel);
  auto host = IrisHost(s);
  MLPInitializer init(host->Parts(), *host);
  VXStatus st = init.ComputeSampleWeights();
  EXPECT_EQ(st.GetErrorCode(), 1);
  EXPECT_TRUE(st.IsError());
  EXPECT_TRUE(host->reinitialize) << "a cancelled initialisation is not complete";
  EXPECT_GT(cancel.Calls(), 400);
}

// -------------------------------------------------- architecture search

// The default size trained alone on the search's sample with the search's
// draws: what the search's first candidate is.
double DefaultSizeTestError(MLPSettings s) {
  s.RemoveProgressListener();
  auto host = IrisHost(s);
  MLPInitializer init(host->Parts(), *host);
  MLPSettings sizing = host->settings;
  MLPSample sample = init.DrawSample(sizing);
  host->optimizer->ResetGradient();
  double bestTest = -1.0, ratio = 0.0;
  std::valarray<double> unused;
  bool reached = false;
  EXPECT_TRUE(init.Annealing(*sample.train, sample.test.get(), sample.nTrain, sample.nTest, false,
                             bestTest, ratio, unused, reached)
                  .IsOK());
  return host->optimizer->GetTestError();
}

TEST(SelectArchitecture, SizeInRangeAndNoWorseThanTheDefaultSize) {
  MLPSettings s = IrisSettings(100);
  s.SetNHiddenUnitsRange(1, 8);
  ASSERT_EQ(s.GetNumHiddenUnits(1), 4);
  RecordingListener listener;
  s.SetProgressListener(&listener);
  auto host = IrisHost(s);
  MLPInitializer init(host->Parts(), *host);
  VXStatus st = init.SelectArchitecture();
  ASSERT_TRUE(st.IsOK()) << st;
  EXPECT_EQ(host->status, st);

  const int size = host->nHiddenUnits;
  EXPECT_GE(size, 1);
  EXPECT_LE(size, 8);
  EXPECT_EQ(host->NetworkHiddenUnits(), size);
  EXPECT_EQ(host->settings.GetNumHiddenUnits(1), size);
  EXPECT_EQ(host->network->GetNumWeights(), host->settings.GetNWeights());

  const double defaultError = DefaultSizeTestError(s);
  EXPECT_LE(host->testingError, defaultError);

  // The committed weights are the selected candidate's: their error on the
  // sample's test part is the testing error reported.
  MLPInitializer again(host->Parts(), *host);
  MLPSettings sizing = host->settings;
  MLPSample sample = again.DrawSample(sizing);
  EXPECT_NEAR(ErrorOn(*host->network, *sample.test), host->testingError, 1e-9 * host->testingError);

  EXPECT_EQ(host->enters, 1);
  EXPECT_EQ(host->leaves, 1);
  EXPECT_EQ(host->algorithmStatus, VXNNCommon::kNotStarted);
  EXPECT_FALSE(host->reinitialize);
  EXPECT_EQ(host->nDataPasses, 1);
  EXPECT_GT(host->nIterations, 0);
  EXPECT_EQ(host->settings.GetProgressListener(), &listener);
  // One report before the search (the start size and its untrained error),
  // one after the commit; none from the many training runs in between.
  ASSERT_EQ(listener.seen.size(), 2u);
  EXPECT_EQ(listener.seen[0].hiddenUnits, 4);
  EXPECT_EQ(listener.seen[1].hiddenUnits, size);
  EXPECT_GT(listener.seen[0].trainError, listener.seen[1].trainError);
  EXPECT_EQ(listener.seen[1].trainError, host->trainingError);
}

TEST(SelectArchitecture, StartClampedIntoTheRange) {
  MLPSettings s = IrisSettings(100);
  s.SetNumHiddenUnits(12, 1);
  s.SetNHiddenUnitsRange(2, 3);
  auto host = IrisHost(s);
  MLPInitializer init(host->Parts(), *host);
  ASSERT_TRUE(init.SelectArchitecture().IsOK());
  EXPECT_GE(host->nHiddenUnits, 2);
  EXPECT_LE(host->nHiddenUnits, 3);
  EXPECT_EQ(host->NetworkHiddenUnits(), host->nHiddenUnits);
  EXPECT_EQ(host->settings.GetNumHiddenUnits(1), host->nHiddenUnits);
}

// Ten inputs, of which the target uses two: far fewer hidden units than
// the default suffice.
std::vector<Record> WideRecords(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<Record> records;
  for (int i = 0; i < n; ++i) {
    Record r(11);
    for (int k = 0; k < 10; ++k) r[k] = u(gen);
    r[10] = 0.7 * r[0] - 0.4 * r[1] + 0.5 * u(gen);
    records.push_back(r);
  }
  return records;
}

TEST(SelectArchitecture, DataPassLimitFollowsTheSelectedSize) {
  MLPSettings s(10, {1}, 80);
  s.SetNumHiddenUnits(8, 1);
  s.SetNHiddenUnitsRange(1, 8);
  // (10 + 1) * 8 + (8 + 1) weights, two passes per weight.
  ASSERT_EQ(s.GetMaxNDataPasses(), 2 * 97 + 1);
  Host host(s, WideRecords(80, 3), WideRecords(100, 4), true);
  MLPInitializer init(host.Parts(), host);
  ASSERT_TRUE(init.SelectArchitecture().IsOK());
  const int h = host.nHiddenUnits;
  ASSERT_LT(h, 8) << "the search did not shrink: this test checks nothing";
  EXPECT_EQ(host.settings.GetMaxNDataPasses(), std::max(100, 2 * (12 * h + 1) + 1));
}

TEST(SelectArchitecture, NoTimeForStepsKeepsTheStartSize) {
  MLPSettings s = IrisSettings(100);
  s.SetNumHiddenUnits(6, 1);
  s.SetTimeForExpertArch(0.0);
  auto host = IrisHost(s);
  MLPInitializer init(host->Parts(), *host);
  ASSERT_TRUE(init.SelectArchitecture().IsOK());
  EXPECT_EQ(host->nHiddenUnits, 6);
  EXPECT_EQ(host->NetworkHiddenUnits(), 6);
  // The user's own stop rules are back.
  EXPECT_EQ(host->settings.GetTimeForExpertArch(), 0.0);
}

TEST(SelectArchitecture, SettingsThatShapeTheNetworkDifferentlyGetANewOne) {
  MLPSettings s = IrisSettings(100);
  s.SetNumHiddenLayers(2);
  s.SetNumHiddenUnits(3, 1);
  s.SetNumHiddenUnits(2, 2);
  s.SetActivFnHiddenLayer(VXNNCommon::kSigmoid);
  s.SetNHiddenUnitsRange(2, 5);
  auto host = IrisHost(s);
  ASSERT_EQ(host->network->GetNumLayers(), 3);
  MLPInitializer init(host->Parts(), *host);
  ASSERT_TRUE(init.SelectArchitecture().IsOK());
  EXPECT_EQ(host->settings.GetNumHiddenLayers(), 1);
  EXPECT_EQ(host->settings.GetActivFnHiddenLayer(), VXNNCommon::kTanH);
  ASSERT_EQ(host->network->GetNumLayers(), 2);
  EXPECT_EQ(host->network->GetLayer(1)->GetActivationFunction(), VXNNCommon::kTanH);
  EXPECT_EQ(host->NetworkHiddenUnits(), host->nHiddenUnits);
  EXPECT_EQ(host->settings.GetNumHiddenUnits(1), host->nHiddenUnits);
  EXPECT_GE(host->nHiddenUnits, 2);
  EXPECT_LE(host->nHiddenUnits, 5);
  ASSERT_NE(host->optimizer, nullptr);
  // The selected weights survive the rebuild.
  MLPInitializer again(host->Parts(), *host);
  MLPSettings sizing = host->settings;
  MLPSample sample = again.DrawSample(sizing);
  EXPECT_NEAR(ErrorOn(*host->network, *sample.test), host->testingError, 1e-9 * host->testingError);
}

TEST(SelectArchitecture, CancelledBeforeItStarts) {
  MLPSettings s = IrisSettings(100);
  CancelAfter cancel(0);
  s.SetCancelPointer(&cancel);
  auto host = IrisHost(s);
  MLPInitializer init(host->Parts(), *host);
  VXStatus st = init.SelectArchitecture();
  EXPECT_EQ(st, VXStatus(1, false));
  EXPECT_EQ(host->enters, 0);
  EXPECT_EQ(host->cancels, 1);
  EXPECT_EQ(host->nDataPasses, 0);
}

TEST(SelectArchitecture, CancelledDuringTheSearch) {
  // A full search asks the cancel object this many times.
  MLPSettings s = IrisSettings(100);
  CancelAfter never(LONG_MAX);
  s.SetCancelPointer(&never);
  {
    auto host = IrisHost(s);
    MLPInitializer init(host->Parts(), *host);
    ASSERT_TRUE(init.SelectArchitecture().IsOK());
  }
  const long questions = never.Calls();
  ASSERT_GT(questions, 100);

  CancelAfter cancel(questions / 2);
  s.SetCancelPointer(&cancel);
  RecordingListener listener;
  s.SetProgressListener(&listener);
  auto host = IrisHost(s);
  MLPInitializer init(host->Parts(), *host);
  VXStatus st = init.SelectArchitecture();
  EXPECT_EQ(st, VXStatus(1, false));
  EXPECT_EQ(host->status, VXStatus(1, false));
  EXPECT_EQ(host->cancels, 1);
  EXPECT_EQ(host->leaves, 0) << "a cancelled search does not return to the initial state";
  EXPECT_EQ(host->algorithmStatus, VXNNCommon::kCancelled);
  EXPECT_EQ(host->network, nullptr);
  EXPECT_EQ(host->optimizer, nullptr);
  EXPECT_EQ(listener.seen.size(), 1u) << "no report of a commit that did not happen";
  EXPECT_TRUE(host->reinitialize);
  // The search stopped soon after the cancel: far fewer questions than a
  // full search.
  EXPECT_LT(cancel.Calls(), questions);
}

}  // namespace
