// Sample-based weight initialisation and the hidden-layer search, driven
// through a stand-in for the MLP algorithm that owns the network, the
// generator and the counters, with an optimizer that trains by script so
// that every branch of the annealing and the search can be steered.

#include <algorithm>
#include <random>
#include <utility>

#include "mlp_driver_fixtures.h"
#include "vxneural/algorithm/MLPInitializer.h"
#include "vxneural/network/VXRandom.h"
#include "vxneural/optim/ScaledConjGrad.h"

namespace {

using mlpdriver::Ints;
using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::ProgressListener;
using VXCommon_1_2::Record;
using VXCommon_1_2::VectorRecordIter;
using VXCommon_1_2::VXStatus;

// `inputs` uniform inputs and a target that is 0.8 x0 - 0.5 x1 + 0.3 plus
// noise of the given size.
std::vector<Record> LinearRecords(int n, unsigned seed, int inputs = 2, double noise = 0.01) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<Record> records;
  for (int i = 0; i < n; ++i) {
    Record r(inputs + 1);
    for (int k = 0; k < inputs; ++k) r[k] = u(gen);
    r[inputs] = 0.8 * r[0] - 0.5 * r[1] + 0.3 + noise * u(gen);
    records.push_back(r);
  }
  return records;
}

// What one scripted training run answers.
struct Answer {
  double train, test, ratio;
};

// The script of a host's optimizers, and what each run was handed.
struct Script {
  std::function<Answer(int run, int units)> answer;
  std::vector<std::valarray<double>> handed;
  Ints units;
};

// Run k (counted from 1 over all the optimizers of a host) takes k
// iterations, leaves every weight at 10 k, and answers script.answer(k,
// hidden units): the weights a run leaves show which run made them. What
// the search does not read is the real optimizer's.
class Scripted : public ScaledConjGrad {
 public:
  Scripted(MLPSettings* s, NNetwork* n, Script& script)
      : ScaledConjGrad(s, n), fNet(n), fScript(script) {}
  VXStatus Train(VXStatus& status, MultiPassRecordIter&, MultiPassRecordIter*, int, int) override {
    std::valarray<double> w;
    fNet->GetWeights(w);
    fScript.handed.push_back(w);
    fScript.units.push_back(fNet->GetLayer(1)->GetNumUnits());
    fRun = static_cast<int>(fScript.handed.size());
    fLast = fScript.answer(fRun, fScript.units.back());
    fNet->SetWeights(std::valarray<double>(10.0 * fRun, w.size()));
    return status = VXStatus();
  }
  int GetNIterations() const override { return fRun; }
  double GetTrainError() const override { return fLast.train; }
  double GetTestError() const override { return fLast.test; }
  double GetErrorRatio() const override { return fLast.ratio; }
  // No report values of its own: the search takes the getters'.
  void GetProgressValues(double&, double&, double&, double&, double&) override {}

 private:
  NNetwork* fNet;
  Script& fScript;
  int fRun = 0;
  Answer fLast{};
};

// Stands in for the algorithm: owns what the algorithm owns and implements
// the hooks the way the algorithm's members are specified.
class Host : public MLPInitializer::Hooks {
 public:
  Host(const MLPSettings& s, std::vector<Record> train)
      : settings(s), trainData(std::move(train)) {}
  ~Host() override {
    delete optimizer;
    delete network;
  }

  // No test source.
  MLPInitializer::Parts Parts() {
    return {settings,    network,      optimizer,    random,        &trainData,
            nullptr,     status,       reinitialize, stopReason,    nDataPasses,
            nIterations, nHiddenUnits, elapsedTime,  trainingError, testingError};
  }
  // Nothing here cancels, and no listener is set.
  bool IsCanceled() override { return false; }
  void DoCancel() override { ADD_FAILURE() << "cancelled"; }
  void ReportExpertProgress(ProgressListener&) override { ADD_FAILURE() << "reported"; }
  NNetwork* CreateNetwork(bool randomize) override {
    auto* n = new NNetwork(settings);
    if (randomize) n->RandomizeWeights(random);
    return n;
  }
  IOptimizationAlgorithm* CreateOptimizer(NNetwork* n) override {
    ++optimizers;
    return new Scripted(&settings, n, script);
  }
  void EnterExpertState() override { ++enters; }
  void LeaveExpertState() override { ++leaves; }

  std::vector<double> Weights() const { return mlpdriver::WeightsOf(network); }
  // Every weight of the network at v.
  bool AllAt(double v) const {
    const std::vector<double> w = Weights();
    return !w.empty() && std::count(w.begin(), w.end(), v) == static_cast<long>(w.size());
  }
  MLPSettings settings;
  VectorRecordIter trainData;
  Script script;
  int optimizers = 0;
  VXRandom random{settings.GetRandomSeed(), settings.GetUsePortableRNG()};
  NNetwork* network = CreateNetwork(true);
  IOptimizationAlgorithm* optimizer = CreateOptimizer(network);
  VXStatus status;
  bool reinitialize = true;
  VXNNCommon::StopReason stopReason = VXNNCommon::kStoppedUndefined;
  int nDataPasses = 0, nIterations = 0, nHiddenUnits = settings.GetNumHiddenUnits(1);
  double elapsedTime = 0.0;
  double trainingError = VXMV::gMissingValue, testingError = VXMV::gMissingValue;
  int enters = 0, leaves = 0;
};

// ------------------------------------------------------- sample sizes

TEST(SampleSizes, WorkedExamplesAndBoundaries) {
  const struct {
    long memory;
    int train, test, wantTrain, wantTest;
  } cases[] = {
      {1000, 300, 0, 210, 90},     // 300 * 0.7 + 0.5 = 210.5, truncated
      {400, 5000, 50, 280, 50},    // 400 * 0.7 and min(120, 50)
      {1000, 5000, 0, 700, 300},   // capped at 1000 records
      {5000, 5000, 0, 700, 300},   // the cap holds above the memory budget too
      {1000, 1000, 0, 700, 300},   // exactly S records: not below S
      {1000, 999, 0, 699, 300},    // 699.8 truncated
      {1000, 1, 0, 1, 0},          // 1.2 truncated
      {1000, 100, 500, 100, 300},  // the training part is bounded by the records
      {1000, 5000, 1, 700, 1},     // one test record
      {300, 200, 0, 140, 60},      // below S = 300
  };
  for (const auto& c : cases) {
    const MLPSampleSizes s = MLPInitializer::ComputeSampleSizes(c.memory, c.train, c.test);
    SCOPED_TRACE(std::to_string(c.memory) + " " + std::to_string(c.train) + " " +
                 std::to_string(c.test));
    EXPECT_EQ(s.nTrain, c.wantTrain);
    EXPECT_EQ(s.nTest, c.wantTest);
    EXPECT_EQ(s.fromTestSource, c.test >= 1);
  }
}

// ------------------------------------------------------------ annealing

// The network's summed error over records, as the tries are ranked.
double ErrorOf(NNetwork& n, MultiPassRecordIter& records) {
  VXStatus status;
  int read = 0;
  n.ResetDerivatives();
  n.ProcessRecords(status, records, 60, read, true, false);
  records.Rewind();
  return n.GetAccumError();
}

// The settings' weight range is [-0.5, 0.5]: stage s draws its tries from
// +-0.5 / 2^s around the previous stage's result (10 s after run s).
TEST(Annealing, StagesPerturbTheBaseInHalvingRangesUntilOneOfThreeStops) {
  const struct {
    const char* name;
    std::vector<Answer> answers;  // of runs 1, 2, ...
    bool keepFirst;
    double bestTest;  // from 7
    bool reached;
    double weights;  // every weight at the end
  } cases[] = {
      // A ratio of 0.05 is not below the target; only the last stage's test
      // error competes.
      {"four stages",
       {{1e9, 5, 0.05}, {1e9, 6, 0.05}, {1e9, 4, 0.05}, {1e9, 5, 0.05}},
       false,
       5,
       false,
       40},
      {"target reached", {{1e9, 1, 0.5}, {1e9, 1, 0.049}}, false, 7, true, 20},
      // No try beats a training error of 0: run 2's result goes back.
      {"perturbing no longer helps", {{1e9, 9, 0.5}, {0, 3, 0.5}}, false, 3, false, 20},
      // The current weights (all 3) are trained first, with no draw.
      {"current weights first", {{1e9, 9, 0.01}}, true, 7, true, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MLPSettings s(2, {1}, 60);
    s.SetNumHiddenUnits(2, 1);
    Host h(s, LinearRecords(60, 21, 2, 0.5));
    h.script.answer = [&](int run, int) { return c.answers.at(static_cast<std::size_t>(run - 1)); };
    const std::size_t n = static_cast<std::size_t>(h.network->GetNumWeights());
    if (c.keepFirst) h.network->SetWeights(std::valarray<double>(3.0, n));
    const VXRandom before = h.random;
    MLPInitializer init(h.Parts(), h);
    double bestTest = 7.0, ratio = 0.0;
    std::valarray<double> bestWeights(-1.0, n);
    bool reached = !c.reached;
    ASSERT_TRUE(init.Annealing(h.trainData, nullptr, 60, 0, c.keepFirst, bestTest, ratio,
                               bestWeights, reached)
                    .IsOK());
    ASSERT_EQ(h.script.handed.size(), c.answers.size());
    EXPECT_EQ(ratio, c.answers.back().ratio);
    EXPECT_EQ(reached, c.reached);
    EXPECT_EQ(bestTest, c.bestTest);
    EXPECT_EQ(std::count(std::begin(bestWeights), std::end(bestWeights),
                         bestTest == 7.0 ? -1.0 : c.weights),
              static_cast<long>(n));
    EXPECT_TRUE(h.AllAt(c.weights));
    if (c.keepFirst) {
      EXPECT_EQ(std::count(std::begin(h.script.handed[0]), std::end(h.script.handed[0]), 3.0),
                static_cast<long>(n));
      EXPECT_EQ(h.random, before);
      continue;
    }
    // The first stage trains the best of five tries drawn in the range.
    VXRandom replay = before;
    NNetwork twin(h.settings);
    double least = 0.0;
    std::valarray<double> best;
    for (int t = 0; t < 5; ++t) {
      twin.RandomizeWeights(replay, -0.5, 0.5);
      const double e = ErrorOf(twin, h.trainData);
      if (t == 0 || e < least) {
        least = e;
        twin.GetWeights(best);
      }
    }
    const std::valarray<double>& first = h.script.handed[0];
    EXPECT_TRUE(std::equal(std::begin(first), std::end(first), std::begin(best)));
    for (std::size_t stage = 0; stage < h.script.handed.size(); ++stage) {
      const std::valarray<double> draw = std::abs(h.script.handed[stage] - 10.0 * stage);
      const double half = 0.5 / (1 << stage), widest = draw.max();
      EXPECT_LE(widest, half) << stage;
      EXPECT_GT(widest, half / 2) << stage;
    }
  }
}

// A training error of 0 is never beaten by a try: each initialisation run
// trains once unless its ratio reaches the target.
TEST(ComputeSampleWeights, KeepsTheBestTestErrorOfFiveRunsOrTheFirstGoodRun) {
  const struct {
    std::vector<Answer> answers;
    double weights;
  } cases[] = {
      // A ratio of 0.1 is not good: five runs, run 2's test error is the best.
      {{{0, 3, 0.1}, {0, 1, 0.1}, {0, 2, 0.1}, {0, 5, 0.1}, {0, 4, 0.1}}, 20},
      // Good in run 3: its weights, not run 2's.
      {{{0, 3, 0.5}, {0, 1, 0.5}, {0, 2, 0.09}}, 30},
      {{{1e9, 3, 0.04}}, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.weights);
    // The user's settings are borrowed: the defaults' weight range is used.
    MLPSettings s(2, {1}, 60);
    s.SetRandomWeightRange(-2.0, 2.0);
    s.SetMaxNDataPasses(321);
    Host h(s, LinearRecords(60, 21));
    h.script.answer = [&](int run, int) { return c.answers.at(static_cast<std::size_t>(run - 1)); };
    MLPInitializer init(h.Parts(), h);
    ASSERT_TRUE(init.ComputeSampleWeights().IsOK());
    EXPECT_EQ(h.script.handed.size(), c.answers.size());
    EXPECT_LE(std::abs(h.script.handed[0]).max(), 0.5);
    EXPECT_TRUE(h.AllAt(c.weights));
    EXPECT_EQ((Ints{h.nDataPasses, h.optimizers, h.reinitialize, h.settings.GetMaxNDataPasses()}),
              (Ints{1, 3, false, 321}));
    EXPECT_EQ(h.settings.GetRandomWeightRangeHi(), 2.0);
  }
}

// ---------------------------------------------------------- the search

// The search over [lo, hi] from start units; answer scripts the runs.
std::unique_ptr<Host> Search(int start, int lo, int hi,
                             const std::function<Answer(int, int)>& answer) {
  MLPSettings s(2, {1}, 60);
  s.SetNumHiddenUnits(start, 1);
  s.SetNHiddenUnitsRange(lo, hi);
  s.SetTimeForExpertArch(1e9);
  s.SetMaxNDataPasses(321);
  auto h = std::make_unique<Host>(s, LinearRecords(60, 5));
  h->script.answer = answer;
  MLPInitializer init(h->Parts(), *h);
  EXPECT_TRUE(init.SelectArchitecture().IsOK());
  return h;
}

// The size committed, after run k of the script: its weights, k (k + 1) / 2
// iterations, its errors, the user's stop rules back.
void ExpectCommitted(const Host& h, int units, int run, const Answer& a) {
  EXPECT_TRUE(h.AllAt(10.0 * run)) << run;
  EXPECT_EQ((Ints{h.nHiddenUnits, h.settings.GetNumHiddenUnits(1), h.nIterations, h.enters,
                  h.leaves, h.reinitialize, h.settings.GetMaxNDataPasses()}),
            (Ints{units, units, run * (run + 1) / 2, 1, 1, false, 321}));
  EXPECT_EQ(h.trainingError, a.train);
  EXPECT_EQ(h.testingError, a.test);
}

// Good runs (ratio 0.08): the first run decides. Each size anneals once, its
// training error (1e-6 / units) never beaten by a try.
TEST(SelectArchitecture, ShrinksOrGrowsOneUnitAtATimeAndKeepsTheBestTestError) {
  const struct {
    int start, lo, hi;
    std::vector<double> test;  // by units, from 1
    Ints sizes;                // trained, in turn
    int chosen;
    double ratio;
  } cases[] = {
      {1, 1, 4, {4, 3, 2, 1}, {1, 2, 3, 4}, 4, 0.08},
      {1, 1, 4, {4, 3, 3, 1}, {1, 2, 3}, 2, 0.08},
      // A ratio of 0.01 is fitted: no growing.
      {1, 1, 4, {4, 3, 2, 1}, {1}, 1, 0.01},
      {3, 1, 5, {1, 2, 3, 9, 9}, {3, 2, 1}, 1, 0.08},
      // Worse two units from the start: the run is over.
      {4, 1, 5, {9, 4.5, 4, 5, 9}, {4, 3, 2}, 3, 0.08},
      // Worse one unit from the start: it grows from the start instead.
      {3, 1, 5, {9, 4, 3, 2, 2.5}, {3, 2, 4, 5}, 4, 0.08},
      // ... which at the largest size stops at once.
      {2, 1, 2, {4, 3}, {2, 1}, 2, 0.08},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.start << " in " << c.lo << ".." << c.hi);
    const auto answer = [&](int, int units) {
      return Answer{1e-6 / units, c.test.at(static_cast<std::size_t>(units - 1)), c.ratio};
    };
    auto h = Search(c.start, c.lo, c.hi, answer);
    EXPECT_EQ(h->script.units, c.sizes);
    const int run = 1 + int(std::find(c.sizes.begin(), c.sizes.end(), c.chosen) - c.sizes.begin());
    ExpectCommitted(*h, c.chosen, run, answer(run, c.chosen));
  }
}

// Runs that are not good (ratio 0.5): five runs from the start size, 2 then
// 1 unit, and the lowest test error of all; of equal ones the smaller size.
TEST(SelectArchitecture, WithoutAGoodRunTheBestOfFiveRunsIsCommitted) {
  for (const int best : {5, 0}) {
    SCOPED_TRACE(best);
    const auto answer = [&](int run, int units) {
      return Answer{1e-6 / units, run == best ? 1.0 : 3.0, 0.5};
    };
    auto h = Search(2, 1, 2, answer);
    EXPECT_EQ(h->script.units, (Ints{2, 1, 2, 1, 2, 1, 2, 1, 2, 1}));
    ExpectCommitted(*h, best ? 2 : 1, best ? 5 : 2, answer(best ? 5 : 2, best ? 2 : 1));
  }
}

}  // namespace
