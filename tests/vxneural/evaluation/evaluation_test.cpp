// The evaluation passes on small networks with weights set by hand or drawn.
// Output statistics: record sets checked against hand-worked counts and
// errors, the accessors and the passes that do not finish. Predictor
// importance: linear networks whose importance is worked by hand, refusals;
// and the update of the first layer's sums checked against the full forward
// pass per probe on every kind of network it serves: MLPs with 0, 1 and 2
// hidden layers, both hidden activations, SoftMax and Identity outputs, RBF
// networks with plain and normalised units; categorical inputs of several
// units and missing values in the records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <valarray>
#include <vector>

#include "common/damaging_combiner.h"
#include "common/host_doubles.h"
#include "common/in_process_combiner.h"
#include "evaluation/FirstLayerProber.h"
#include "evaluation/SharedEvaluation.h"
#include "vxcommon/Record.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/algorithm/RBFSettings.h"
#include "vxneural/data/RecordBufferIter.h"
#include "vxneural/evaluation/NNOutputStatistics.h"
#include "vxneural/evaluation/NNSensReporter.h"
#include "vxneural/evaluation/NNSensitivity.h"
#include "vxneural/network/MLPLayer.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/PassCombiner.h"
#include "vxneural/network/PassKernel.h"
#include "vxneural/network/PassThreads.h"
#include "vxneural/network/VXRandom.h"

namespace {

using VXCommon_1_2::Record;
using VXCommon_1_2::VXStatus;
using Source = host_doubles::CountingSource;
using Cancel = host_doubles::CountdownCancel;
using Rows = std::vector<std::vector<double>>;
using VXNeural::ComputeOutputStats;
using VXNeural::ComputeSensitivity;
using VXNeural::SensitivityMethod;
using VXNNCommon::ActivationFunction;
constexpr double kMissing = VXMV::gMissingValue;
const double kNaN = std::nan("");
// The thread counts every threaded pass is checked at.
constexpr int kThreadCounts[] = {1, 2, 3, 8};

// Pins the pass threads and kernel for one scope and puts the previous
// ones back.
struct PassScope {
  PassScope(int threads, VXNeural::PassKernel kernel)
      : threads(VXNeural::GetPassThreads()), kernel(VXNeural::GetPassKernel()) {
    EXPECT_TRUE(VXNeural::SetPassThreads(threads));
    EXPECT_TRUE(VXNeural::SetPassKernel(kernel));
  }
  ~PassScope() {
    VXNeural::SetPassThreads(threads);
    VXNeural::SetPassKernel(kernel);
  }
  int threads;
  VXNeural::PassKernel kernel;
};

// The fastest kernel: the one whose passes use the threads.
VXNeural::PassKernel FastKernel() { return VXNeural::AvailablePassKernels().back(); }

// Same bits (NaN included), element by element.
bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// A network and the settings it points to (which must outlive it).
struct Net {
  std::unique_ptr<NeuralSettings> settings;
  std::unique_ptr<NNetwork> network;
  NNetwork& operator*() { return *network; }
  NNetwork* operator->() { return network.get(); }
};

// hidden: units of each hidden layer; out: the output activation;
// weight(i): weight i, or without it weights drawn from [-1.5, 1.5].
Net MakeNet(int inputs, const std::vector<int>& categories, const std::vector<int>& hidden,
            ActivationFunction out, const std::function<double(std::size_t)>& weight,
            ActivationFunction hiddenFn = VXNNCommon::kTanH) {
  Net n;
  auto settings = std::make_unique<MLPSettings>(inputs, categories, 100);
  settings->SetNumHiddenLayers(static_cast<int>(hidden.size()));
  for (std::size_t l = 0; l < hidden.size(); ++l)
    settings->SetNumHiddenUnits(hidden[l], static_cast<int>(l) + 1);
  settings->SetActivFnHiddenLayer(hiddenFn);
  settings->SetActivFnOutputLayer(out);
  n.network = std::make_unique<NNetwork>(*settings);
  n.settings = std::move(settings);
  VXRandom rng(11, true);
  n->RandomizeWeights(rng, -1.5, 1.5);
  std::valarray<double> w(static_cast<std::size_t>(n->GetNumWeights()));
  for (std::size_t i = 0; weight && i < w.size(); ++i) w[i] = weight(i);
  if (weight) n->SetWeights(w);
  return n;
}

// A network without hidden layers and with Identity outputs:
// output k = bias[k] + sum_i weight[k][i] * input i.
Net LinearNet(const std::vector<int>& categories, const std::vector<double>& bias,
              const Rows& weight) {
  std::vector<double> w;
  for (std::size_t k = 0; k < bias.size(); ++k) {
    w.push_back(bias[k]);
    w.insert(w.end(), weight[k].begin(), weight[k].end());
  }
  Net n = MakeNet(static_cast<int>(weight.at(0).size()), categories, {}, VXNNCommon::kIdentity,
                  [&](std::size_t i) { return w.at(i); });
  EXPECT_EQ(w.size(), static_cast<std::size_t>(n->GetNumWeights()));
  return n;
}

// A linear network whose output unit k copies input k: of the weights of
// unit k (its bias first), only the one of input k is 1.
Net CopyNet(const std::vector<int>& categories) {
  std::size_t units = 0;
  for (int c : categories) units += static_cast<std::size_t>(c);
  return MakeNet(static_cast<int>(units), categories, {}, VXNNCommon::kIdentity,
                 [units](std::size_t i) { return i % (units + 1) == i / (units + 1) + 1; });
}

// A record from its input values followed by its target values.
Record Rec(std::vector<double> inputs, const std::vector<double>& targets = {}) {
  inputs.insert(inputs.end(), targets.begin(), targets.end());
  return Record(std::move(inputs));
}

// Four records of a three-category target whose (target, predicted) pairs
// are (0,0), (1,2), (2,2), (1,1).
const Rows kScores = {{0.9, 0.05, 0.05}, {0.1, 0.3, 0.6}, {0.2, 0.2, 0.6}, {0.1, 0.8, 0.1}};
const Rows kOneHot = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 1, 0}};

// Records for a copy network: the inputs are the outputs it gives.
struct Case {
  const char* name;
  std::vector<int> categories;
  Rows outputs, targets;  // a record with a short target row is short
  int maxRecords;
  std::vector<std::vector<int>> matrices;  // per categorical output, row by row
  // Percents correct, relative errors of the continuous units, the total
  // error (half the summed squared errors of every unit) and the pooled ratio
  // (summed squared errors over summed squared deviations from the unit
  // means, every unit), worked by hand; a total of NaN is not checked.
  std::vector<double> percentsCorrect, relative;
  double total, pooled;
};

// clang-format off
const std::vector<Case> kCases = {
    // Squared errors 0.015, 0.86, 0.24, 0.06; unit deviations 0.75, 1, 0.75.
    // The short second record is skipped.
    {"worked example", {3},
     {kScores[0], {1, 0, 0, 0, 0}, kScores[1], kScores[2], kScores[3]},
     {kOneHot[0], {}, kOneHot[1], kOneHot[2], kOneHot[3]},
     100, {{1, 0, 0, 0, 1, 1, 0, 0, 1}}, {75}, {}, 0.5875, 1.175 / 2.5},
    // 0.015 + 0.86 over deviations 0.5 + 0.5.
    {"at most N records", {3}, kScores, kOneHot, 2, {{1, 0, 0, 0, 0, 1, 0, 0, 0}}, {50}, {},
     0.4375, 0.875},
    {"first of equal maxima", {3}, {{0.4, 0.4, 0.2}}, {{0, 1, 0}}, 100,
     {{0, 0, 0, 1, 0, 0, 0, 0, 0}}, {0}, {}, 0.28, kMissing},
    // Misclassified, but in no cell.
    {"no largest output", {2}, {{-DBL_MAX, kNaN}, {0.2, 0.7}}, {{1, 0}, {0, 1}}, 100,
     {{0, 0, 0, 1}}, {50}, {}, kNaN, kNaN},
    // Squared errors 2, 2, 2, 0; unit deviations 1, 1, 0.75, 0.75.
    {"mean over categorical targets", {2, 2},
     {{1, 0, 1, 0}, {0, 1, 0, 1}, {1, 0, 0, 1}, {0, 1, 1, 0}},
     {{1, 0, 0, 1}, {0, 1, 1, 0}, {1, 0, 1, 0}, {0, 1, 1, 0}},
     100, {{2, 0, 0, 2}, {1, 2, 1, 0}}, {100, 25}, {}, 3.0, 6 / 3.5},
    {"zero records", {1, 3}, {{0, 0, 0, 0}}, {{0, 1, 0, 0}}, 0, {std::vector<int>(9, 0)}, {100},
     {kMissing}, 0.0, kMissing},
    // The targets' mean is 2.05; squared deviations sum to 55.05.
    {"mean model", {1}, Rows(5, {2.05}), {{1.0}, {4.0}, {-2.5}, {7.25}, {0.5}}, 100, {}, {}, {1.0},
     55.05 / 2, 1.0},
    // The first unit's target is constant; the second is predicted exactly.
    {"constant target, exact prediction", {1, 1}, {{0.9, 1.0}, {1.2, 3.0}}, {{1, 1}, {1, 3}}, 100, {}, {},
     {kMissing, 0.0}, 0.025, 0.025},
    // Continuous units: squared errors 0.22 and 0.64, deviations (means 0.38
    // and 1.6) 0.768 and 1.7; the categorical units add errors 0.92 and 1.36
    // and deviations 1.2, 1.2, 0.8, 0.8, 1.2.
    {"mixed targets", {1, 2, 1, 3},
     {{0.3, 0.8, 0.2, 1.5, 0.1, 0.1, 0.8}, {-0.4, 0.4, 0.6, 2.0, 0.5, 0.3, 0.2},
      {1.1, 0.3, 0.7, 0.9, 0.2, 0.6, 0.2}, {0.0, 0.9, 0.1, 1.2, 0.3, 0.3, 0.4},
      {0.7, 0.6, 0.4, 1.8, 0.1, 0.2, 0.7}},
     {{0.5, 1, 0, 1.0, 0, 0, 1}, {-0.2, 0, 1, 2.5, 1, 0, 0}, {1.0, 0, 1, 1.0, 0, 1, 0},
      {0.2, 1, 0, 1.5, 0, 0, 1}, {0.4, 1, 0, 2.0, 0, 0, 1}},
     100, {{3, 0, 0, 2}, {1, 0, 0, 0, 1, 0, 0, 0, 3}}, {100, 100}, {0.22 / 0.768, 0.64 / 1.7},
     1.57, 3.14 / 7.668},
};
// clang-format on

TEST(OutputStatistics, RecordSetsAgreeWithHandWorkedFigures) {
  for (int threads : kThreadCounts)
    for (const Case& c : kCases) {
      SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(threads) + " threads");
      PassScope scope(threads, FastKernel());
      Net net = CopyNet(c.categories);
      std::vector<Record> records;
      for (std::size_t i = 0; i < c.outputs.size(); ++i)
        records.push_back(Rec(c.outputs[i], c.targets[i]));
      Source source(records);
      NNOutputStatistics s;
      ASSERT_EQ(ComputeOutputStats(*net, source, c.maxRecords, s), VXStatus());
      EXPECT_TRUE(s.StatsOK());
      EXPECT_EQ(source.Rewinds(), 1);
      EXPECT_EQ(source.Position(), 0u);
      EXPECT_EQ(s.GetNumCategories(), c.categories);

      std::vector<int> catCategories;
      for (int n : c.categories)
        if (n > 1) catCategories.push_back(n);
      EXPECT_EQ(s.GetNumCatCategories(), catCategories);
      for (std::size_t k = 0; k < c.matrices.size(); ++k) {
        const int kk = static_cast<int>(k), n = catCategories[k];
        const std::vector<int>& want = c.matrices[k];
        // Every view shows the same counts, row by row.
        std::vector<int> rows, row, elements;
        for (const auto& r : s.GetMisClassMatrixAsVecOfRows(kk))
          rows.insert(rows.end(), r.begin(), r.end());
        for (int i = 0; i < n; ++i) {
          const std::vector<int> r = s.GetMisClassRow(kk, i);
          row.insert(row.end(), r.begin(), r.end());
          for (int j = 0; j < n; ++j) elements.push_back(s.GetMisClassElement(kk, i, j));
        }
        for (const auto& view : {s.GetMisClassMatrixInOneVec(kk), rows, row, elements})
          EXPECT_EQ(view, want) << "output " << k;
        // Indices out of range read nothing.
        EXPECT_EQ(s.GetMisClassElement(kk, n, 0) + s.GetMisClassElement(kk, 0, -1), 0);
        EXPECT_TRUE(s.GetMisClassRow(kk, n).empty());
      }
      const int past = static_cast<int>(catCategories.size());
      EXPECT_TRUE(s.GetMisClassMatrixInOneVec(past).empty() && s.GetMisClassRow(-1, 0).empty());
      EXPECT_TRUE(s.GetMisClassMatrixAsVecOfRows(past).empty());
      EXPECT_EQ(s.GetPercentsCorrect(), c.percentsCorrect);
      double incorrect = 0.0;
      for (double p : c.percentsCorrect) incorrect += (100.0 - p) / c.percentsCorrect.size();
      EXPECT_NEAR(s.GetAvgPercentIncorrect(), incorrect, 1e-12);

      ASSERT_EQ(s.GetRelativeErrors().size(), c.relative.size());
      for (std::size_t k = 0; k < c.relative.size(); ++k)
        EXPECT_NEAR(s.GetRelativeErrors()[k], c.relative[k], 1e-12);
      if (std::isnan(c.total)) continue;
      EXPECT_NEAR(s.GetTotalError(), c.total, 1e-12);
      EXPECT_NEAR(s.GetAvgRelativeError(), c.pooled, 1e-12);
    }
}

// Inputs: continuous, categorical (3), continuous, categorical (2).
const std::vector<int> kCats = {1, 3, 1, 2};

// Records of that layout (and no targets): continuous values drawn from
// [-half, half], one active unit per categorical group.
std::vector<Record> MixedRecords(int n, unsigned seed, double half = 1.5) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-half, half);
  std::vector<Record> records;
  for (int i = 0; i < n; ++i) {
    std::vector<double> x = {u(gen), 0, 0, 0, u(gen), 0, 0};
    x[1 + gen() % 3] = 1.0;
    x[5 + gen() % 2] = 1.0;
    records.push_back(Rec(x));
  }
  return records;
}

// One hidden layer of 4 TanH units, two TanH outputs, fixed weights.
Net MixedNet() {
  return MakeNet(7, {1, 1}, {4}, VXNNCommon::kTanH,
                 [](std::size_t i) { return 0.9 * std::sin(2.3 * i + 0.7); });
}

// A linear network over the inputs of kCats: an input's importance is the
// largest output distance between its probes, per record |w| (hi - lo) for a
// continuous input (here 1 (hi - lo) and 0.5 (hi - lo)) and the largest
// weight difference within a categorical group (3 and 1).
Net LinearMixedNet() { return LinearNet({1}, {0.1}, {{1, 1, -2, 0.5, 0.5, 0, 1}}); }

// The same twice over, the second output 0.75 of the first: distances 1.25
// times as large.
Net TwoOutputNet() {
  const std::vector<double> w = {1, 1, -2, 0.5, 0.5, 0, 1};
  std::vector<double> w2;
  for (double v : w) w2.push_back(0.75 * v);
  return LinearNet({1, 1}, {0.1, 0.2}, {w, w2});
}

// Records of kCats: x (first continuous), the active units, v (second).
Record Mixed(double x, int c3, double v, int c2) {
  std::vector<double> r = {x, 0, 0, 0, v, 0, 0};
  r[static_cast<std::size_t>(1 + c3)] = 1.0;
  r[static_cast<std::size_t>(5 + c2)] = 1.0;
  return Rec(r);
}

// One computation: what it reads, the ranges it is given (found when
// empty), when the host cancels (the number of queries answered false
// first; -1 never), and what it should give: scaled, the contributions
// averaged and divided by their sum when that is positive; unscaled (a
// cancelled or refused run), summed over the records probed.
struct Scenario {
  const char* name;
  Net (*make)();
  std::vector<Record> train, test;
  int nTrain, nTest;
  std::vector<int> cats;
  std::vector<double> lo, hi;
  long cancelAfter;
  VXStatus status;
  int probed;   // records whose contributions count
  int rewinds;  // of each source read
  std::vector<double> worked;
};

TEST(Sensitivity, ScenariosAgreeWithHandWorkedImportance) {
  // Beyond the records read (3 and 2), values that must not widen a found
  // range: x over 3, 0, -1, 1, 4, v over 1, -1, 3, 0, -5.
  const std::vector<Record> train = {Mixed(0, 0, 1, 0), Mixed(3, 1, -1, 1), Mixed(-1, 2, 3, 0),
                                     Mixed(100, 0, 100, 0)},
                            test = {Mixed(1, 2, 0, 1), Mixed(4, 0, -5, 0), Mixed(40, 0, 40, 1)};
  const VXStatus ok;
  // clang-format off
  const std::vector<Scenario> scenarios = {
      {"one effective input", [] { return LinearNet({1}, {0.3}, {{0, 2.5, 0}}); },
       MixedRecords(6, 1), {}, 100, 0, {1, 1, 1}, {-1, -2, -1}, {1, 2, 1}, -1, ok, 6, 1, {0, 1, 0}},
      // Nothing to scale: the sum stays 0.
      {"constant network", [] { return LinearNet({1, 1}, {0.7, -0.2}, Rows(2, {0, 0, 0, 0})); },
       MixedRecords(6, 1), {}, 100, 0, {1, 3}, {}, {}, -1, ok, 6, 2, {0, 0}},
      {"range of a single value", [] { return LinearNet({1}, {0.0}, {{4, 1}}); },
       MixedRecords(6, 1), {}, 100, 0, {1, 1}, {0.5, -1}, {0.5, 1}, -1, ok, 6, 1, {0, 1}},
      // 2, 3, 1 x 4, 1: of 8.
      {"given ranges, both sources", LinearMixedNet, train, test, 3, 2, kCats, {-1, -1}, {1, 3}, -1,
       ok, 5, 1, {0.25, 0.375, 0.25, 0.125}},
      // 5, 3, 0.5 x 8, 1: of 13.
      {"ranges found, both sources", LinearMixedNet, train, test, 3, 2, kCats, {}, {}, -1, ok, 5, 2,
       {5.0 / 13, 3.0 / 13, 4.0 / 13, 1.0 / 13}},
      // Taken into the range, the missing value would sweep it over half the
      // doubles: 2 for x in each record, 2 for the second input but where
      // the missing x swamps its probes: 6 and 4.
      {"missing value in a found range", [] { return LinearNet({1}, {0.0}, {{1, 1}}); },
       {Rec({0, 1}), Rec({VXMV::gMissingValue, 3}), Rec({2, 2})}, {}, 100, 0, {1, 1}, {}, {}, -1,
       ok, 3, 2, {0.6, 0.4}},
      // Any value but 0 marks the active column. The second record stops it;
      // its categorical input comes first and adds nothing: 3 and 3 x 2.
      {"categorical input without active column",
       [] { return LinearNet({1}, {0.1}, {{1.0, -2.0, 0.5, 3.0}}); },
       {Rec({0, 0.7, 0, 0.4}), Rec({0, 0, 0, 0.2}), Rec({1, 0, 0, 0.9})}, {}, 100, 0, {3, 1}, {-1},
       {1}, -1, VXStatus(50008, false), 1, 1, {3, 6}},
      // Polled once before each record: 3 x 1.25 x (2, 3, 2, 1).
      {"cancelled while probing", TwoOutputNet, train, {}, 100, 0, kCats, {-1, -1}, {1, 3}, 3, ok,
       3, 1, {7.5, 11.25, 7.5, 3.75}},
      {"cancelled while finding ranges", MixedNet, MixedRecords(10, 9), {}, 100, 0, kCats, {}, {},
       1, ok, 0, 1, {0, 0, 0, 0}},
  };
  // clang-format on
  for (int threads : kThreadCounts)
    for (const Scenario& c : scenarios) {
      SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(threads) + " threads");
      PassScope scope(threads, FastKernel());
      Net net = c.make();
      Cancel cancel(c.cancelAfter);
      net.settings->SetCancelPointer(&cancel);
      Source trainSource(c.train), testSource(c.test);
      std::vector<double> importance = {5.0};
      EXPECT_EQ(ComputeSensitivity(*net, trainSource, c.test.empty() ? nullptr : &testSource,
                                   c.nTrain, c.nTest, static_cast<int>(c.cats.size()), c.cats,
                                   !c.lo.empty(), c.lo, c.hi, importance),
                c.status);
      EXPECT_EQ(trainSource.Rewinds(), c.rewinds);
      EXPECT_EQ(testSource.Rewinds(), c.test.empty() ? 0 : c.rewinds);
      EXPECT_EQ(net->GetSensRecordsProcessed(), c.probed);
      ASSERT_EQ(importance.size(), c.worked.size());
      for (std::size_t v = 0; v < c.worked.size(); ++v)
        EXPECT_NEAR(importance[v], c.worked[v], 1e-12) << v;
    }
}

TEST(Sensitivity, ArgumentsThatDoNotDescribeTheInputsAreRefused) {
  Net net = MixedNet();
  Source train(MixedRecords(3, 7));
  std::vector<double> importance = {9.0};
  const std::vector<double> two = {-1, -1};
  auto run = [&](int nVars, const std::vector<int>& cats, const std::vector<double>& mins) {
    return ComputeSensitivity(*net, train, nullptr, 9, 0, nVars, cats, true, mins, two, importance);
  };
  const VXStatus refused(50005, false);
  EXPECT_EQ(run(3, kCats, two), refused);
  EXPECT_EQ(run(4, {1, 2, 1, 2}, two), refused);
  EXPECT_EQ(run(5, {1, 3, 1, 2, 0}, two), refused);
  EXPECT_EQ(run(4, kCats, {-1}), refused);
  EXPECT_EQ(importance, std::vector<double>{9.0});
  EXPECT_EQ(train.Position(), 0u);

  NNetwork empty;
  EXPECT_EQ(ComputeSensitivity(empty, train, nullptr, 9, 0, 0, {}, true, {}, {}, importance),
            VXStatus(6, true));
}

constexpr int kColumns = 7;

struct Shape {
  const char* name;
  bool rbf;
  std::vector<int> hidden;  // MLP hidden layer sizes, or {centres} for RBF
  ActivationFunction hiddenFn;
  ActivationFunction outFn;  // MLP only
  std::vector<int> outputs;
  bool missing;  // whether the records hold missing continuous values
};

// An MLP, or an RBF network with its centres drawn from [0.2, 1.5].
Net Build(const Shape& s) {
  if (!s.rbf) return MakeNet(kColumns, s.outputs, s.hidden, s.outFn, nullptr, s.hiddenFn);
  Net n;
  auto r = std::make_unique<RBFSettings>(kColumns, s.outputs, 100);
  r->SetActivFnHiddenLayer(s.hiddenFn);
  r->SetNumHiddenUnits(s.hidden[0], 1);
  n.network = std::make_unique<NNetwork>(*r);
  n.settings = std::move(r);
  VXRandom rng(11, true);
  n->RandomizeWeights(rng, 0.2, 1.5);
  return n;
}

// Mixed records with values in [-2, 2] (every fourth marks its active unit
// of the first group with 0.5: any value but 0 counts); with missing, every
// third record has its first continuous value missing.
std::vector<Record> ProbeRecords(int n, unsigned seed, bool missing) {
  std::vector<Record> records = MixedRecords(n, seed, 2.0);
  for (int i = 0; i < n; ++i) {
    Record& r = records[static_cast<std::size_t>(i)];
    for (int c = 1; c < 4; ++c) r[c] = i % 4 == 2 && r[c] != 0.0 ? 0.5 : r[c];
    if (missing && i % 3 == 1) r[0] = kMissing;
  }
  return records;
}

// Both NaN, or within tolerance of each other.
void ExpectSame(double got, double want, const std::string& what) {
  if (std::isnan(want)) {
    EXPECT_TRUE(std::isnan(got)) << what;
  } else {
    EXPECT_NEAR(got, want, 1e-12) << what;
  }
}

constexpr auto kTanH = VXNNCommon::kTanH, kSigmoid = VXNNCommon::kSigmoid,
               kIdentity = VXNNCommon::kIdentity, kSoftMax = VXNNCommon::kSoftMax,
               kRB = VXNNCommon::kRadialBasis, kNRB = VXNNCommon::kNormalizedRadialBasis;
const Shape kShapes[] = {
    {"MLP, no hidden layer, Identity", false, {}, kTanH, kIdentity, {1, 1}, false},
    {"MLP, no hidden layer, SoftMax", false, {}, kTanH, kSoftMax, {3, 2}, false},
    {"MLP, TanH, SoftMax", false, {5}, kTanH, kSoftMax, {3}, true},
    {"MLP, Sigmoid, Identity, mixed targets", false, {4}, kSigmoid, kIdentity, {2, 1}, true},
    {"MLP, two hidden layers", false, {6, 3}, kTanH, kIdentity, {1}, true},
    {"RBF, normalised", true, {4}, kNRB, kIdentity, {3}, false},
    {"RBF, plain", true, {5}, kRB, kIdentity, {1, 2}, false},
    // The missing value's squared distance overflows: both ways give NaN
    // or the same values.
    {"RBF, missing values", true, {3}, kRB, kIdentity, {1}, true},
};

TEST(SensitivityByFirstLayerUpdate, AgreesWithTheFullForwardPass) {
  const std::vector<double> lo = {-2.0, -1.5}, hi = {2.0, 1.0};
  for (const Shape& s : kShapes) {
    for (bool givenRanges : {true, false}) {
      SCOPED_TRACE(std::string(s.name) + (givenRanges ? ", given ranges" : ", found ranges"));
      Net net = Build(s);
      std::vector<Record> train = ProbeRecords(9, 21, s.missing),
                          test = ProbeRecords(4, 22, s.missing);
      std::vector<double> fast, full;
      for (auto* out : {&fast, &full}) {
        Source trainSource(train), testSource(test);
        const VXStatus status = ComputeSensitivity(
            *net.network, trainSource, &testSource, 9, 3, 4, kCats, givenRanges, lo, hi, *out,
            out == &fast ? SensitivityMethod::kFirstLayerUpdate : SensitivityMethod::kFullForward);
        EXPECT_TRUE(status.IsOK());
      }
      ASSERT_EQ(fast.size(), 4u);
      ASSERT_EQ(full.size(), 4u);
      for (std::size_t v = 0; v < 4; ++v) ExpectSame(fast[v], full[v], std::to_string(v));
    }
  }
}

// Every field of the statistics, doubles as their bits.
std::vector<double> Fields(const NNOutputStatistics& s) {
  std::vector<double> f = {static_cast<double>(s.GetStatus()), s.GetTotalError(),
                           s.GetAvgRelativeError(), s.GetAvgPercentIncorrect()};
  f.insert(f.end(), s.GetRelativeErrors().begin(), s.GetRelativeErrors().end());
  f.insert(f.end(), s.GetPercentsCorrect().begin(), s.GetPercentsCorrect().end());
  for (int k = 0; k < static_cast<int>(s.GetNumCatCategories().size()); ++k)
    for (int n : s.GetMisClassMatrixInOneVec(k)) f.push_back(n);
  return f;
}

// The records are run forward on as many threads as the passes use, each
// on a network of its own, and added up in record order: the statistics
// are the same bits for any thread count under every kernel, over 2500
// records (several chunks' worth), and agree with figures worked here from
// each record's outputs by the plain formulas (means first, then the
// squared deviations from them). A record whose categorical target has no
// active unit, late in the pass, ends it with 50008 at any count; a cancel
// request ends it with no record read after the yes.
TEST(OutputStatisticsThreads, SameBitsForAnyThreadCountAndKernel) {
  struct Net2 {
    const char* name;
    std::function<Net()> make;
    std::vector<int> targets;
  };
  const Net2 nets[] = {
      {"MLP, TanH, SoftMax",
       [] {
         return Build({"", false, {5}, kTanH, kSoftMax, {3}, false});
       },
       {3}},
      {"MLP, mixed targets",
       [] {
         return Build({"", false, {4}, kSigmoid, kIdentity, {1, 2}, false});
       },
       {1, 2}},
      {"RBF",
       [] {
         return Build({"", true, {4}, kNRB, kIdentity, {3}, false});
       },
       {3}},
  };
  for (const Net2& n : nets) {
    Net net = n.make();
    std::mt19937 gen(5);
    std::vector<Record> records;
    for (const Record& r : ProbeRecords(2500, 41, false)) {
      std::vector<double> targets;
      for (int k : n.targets) {
        if (k == 1) {
          targets.push_back(std::uniform_real_distribution<double>(-1.0, 2.0)(gen));
        } else {
          std::vector<double> one(static_cast<std::size_t>(k), 0.0);
          one[gen() % static_cast<unsigned>(k)] = 1.0;
          targets.insert(targets.end(), one.begin(), one.end());
        }
      }
      records.push_back(Rec(std::vector<double>(r.GetAll(), r.GetAll() + kColumns), targets));
    }
    // The figures worked from each record's outputs.
    const std::size_t units = records[0].Size() - kColumns;
    std::vector<std::vector<double>> outputs;
    std::vector<double> mean(units, 0.0), sse(units, 0.0), dev(units, 0.0);
    for (const Record& r : records) {
      net->ResetUnitValues();
      net->ForwardPass(r.GetAll(), true);
      const double* o = net->GetLayer(net->GetNumLayers())->GetUnitValues();
      outputs.emplace_back(o, o + units);
      for (std::size_t u = 0; u < units; ++u) mean[u] += r[kColumns + u] / records.size();
    }
    std::vector<double> relative;
    int wrong = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
      for (std::size_t u = 0; u < units; ++u) {
        const double t = records[i][kColumns + u];
        sse[u] += (t - outputs[i][u]) * (t - outputs[i][u]);
        dev[u] += (t - mean[u]) * (t - mean[u]);
      }
      const std::size_t first = n.targets[0] == 1 ? 1 : 0;
      const auto best = [&](const double* v) { return std::max_element(v + first, v + units) - v; };
      if (units - first > 1 && best(&outputs[i][0]) != best(records[i].GetAll() + kColumns))
        ++wrong;
    }
    const double pooled =
        std::accumulate(sse.begin(), sse.end(), 0.0) / std::accumulate(dev.begin(), dev.end(), 0.0);

    std::vector<Record> invalid = records;
    for (std::size_t u = 0; u < units; ++u)
      if (n.targets.back() > 1) invalid[1700][kColumns + u] = 0.0;
    for (VXNeural::PassKernel kernel : VXNeural::AvailablePassKernels()) {
      std::vector<double> first;
      for (int threads : kThreadCounts) {
        SCOPED_TRACE(std::string(n.name) + ", " + VXNeural::PassKernelName(kernel) + ", " +
                     std::to_string(threads) + " threads");
        PassScope scope(threads, kernel);
        Source source(records);
        NNOutputStatistics stats;
        ASSERT_EQ(ComputeOutputStats(*net, source, 5000, stats), VXStatus());
        if (threads == 1) {
          first = Fields(stats);
          EXPECT_NEAR(stats.GetAvgRelativeError(), pooled, 1e-9 * pooled);
          if (n.targets[0] == 1) {
            EXPECT_NEAR(stats.GetRelativeErrors().at(0), sse[0] / dev[0], 1e-9);
          }
          EXPECT_NEAR(stats.GetPercentsCorrect().at(0), 100.0 - 100.0 * wrong / 2500, 1e-9);
        } else {
          EXPECT_TRUE(SameBits(Fields(stats), first));
        }

        Source bad(invalid);
        EXPECT_EQ(ComputeOutputStats(*net, bad, 5000, stats), VXStatus(50008, false));
        EXPECT_FALSE(stats.StatsOK());

        // The network latches the answer: a fresh one (the same weights).
        Net cancelled = n.make();
        Cancel cancel(1100);
        cancelled.settings->SetCancelPointer(&cancel);
        Source cut(records);
        EXPECT_EQ(ComputeOutputStats(*cancelled, cut, 5000, stats), VXStatus());
        EXPECT_FALSE(stats.StatsOK());
        EXPECT_EQ(cut.Position(), 1100u);
        EXPECT_EQ(cancel.fQueries, 1101);
      }
    }
  }
}

// Records are probed on as many threads as the passes use, each on a
// network of its own, and their contributions added in record order: the
// importance is the same bits for any thread count, under every kernel and
// both methods, and agrees with the plain form (the full forward pass under
// the reference kernel, on one thread) within the kernel's rounding. The
// records (850, several chunks' worth) are read on the calling thread, as
// the reports are made there, at the same counts; the probes only read the
// weights, so no stamp moves.
TEST(SensitivityThreads, SameBitsForAnyThreadCountAndKernel) {
  const std::vector<double> lo = {-2.0, -1.5}, hi = {2.0, 1.0};
  const std::vector<Record> train = ProbeRecords(700, 31, true), test = ProbeRecords(150, 32, true);
  const std::thread::id caller = std::this_thread::get_id();
  for (const Shape& s : kShapes) {
    Net net = Build(s);
    std::vector<double> plain;
    {
      PassScope scope(1, VXNeural::PassKernel::kReference);
      Source trainSource(train), testSource(test);
      ASSERT_TRUE(ComputeSensitivity(*net, trainSource, &testSource, 700, 150, 4, kCats, true, lo,
                                     hi, plain, SensitivityMethod::kFullForward)
                      .IsOK());
    }
    for (VXNeural::PassKernel kernel : VXNeural::AvailablePassKernels())
      for (SensitivityMethod method :
           {SensitivityMethod::kFirstLayerUpdate, SensitivityMethod::kFullForward}) {
        std::vector<double> first;
        for (int threads : kThreadCounts) {
          SCOPED_TRACE(std::string(s.name) + ", " + VXNeural::PassKernelName(kernel) +
                       (method == SensitivityMethod::kFullForward ? ", full forward" : ", update") +
                       ", " + std::to_string(threads) + " threads");
          PassScope scope(threads, kernel);
          std::vector<int> reports;
          host_doubles::FunctionListener listener([&](VXCommon_1_2::ProgressReport& r) {
            EXPECT_EQ(std::this_thread::get_id(), caller);
            reports.push_back(r.DiscreteMeasure("records"));
          });
          net.settings->SetProgressListener(&listener);
          std::vector<std::uint64_t> stamps;
          for (int l = 1; !s.rbf && l <= net->GetNumLayers(); ++l)
            stamps.push_back(static_cast<MLPLayer*>(net->GetLayer(l))->GetWeightStamp());
          Source trainSource(train), testSource(test);
          std::vector<double> importance;
          ASSERT_TRUE(ComputeSensitivity(*net, trainSource, &testSource, 700, 150, 4, kCats, true,
                                         lo, hi, importance, method)
                          .IsOK());
          net.settings->SetProgressListener(nullptr);
          EXPECT_EQ(net->GetSensRecordsProcessed(), 850);
          for (int l = 1; !s.rbf && l <= net->GetNumLayers(); ++l)
            EXPECT_EQ(static_cast<MLPLayer*>(net->GetLayer(l))->GetWeightStamp(),
                      stamps[static_cast<std::size_t>(l - 1)])
                << "layer " << l;
          // The first record, then the last (fewer than 900 between them).
          EXPECT_EQ(reports, (std::vector<int>{1, 850}));
          if (threads == 1) {
            first = importance;
            ASSERT_EQ(importance.size(), plain.size());
            for (std::size_t v = 0; v < plain.size(); ++v)
              ExpectSame(importance[v], plain[v], std::to_string(v));
          } else {
            EXPECT_TRUE(SameBits(importance, first));
          }
        }
      }
  }
}

}  // namespace

namespace {

// A normalised RBF network over two inputs whose records all lie so far
// from every centre that each unit's own exponential underflows to 0: the
// activations are defined only relative to each other. The importance is
// worked here directly from the rule: for each record and input, the
// output at five evenly spaced points of the input's range, the largest
// difference between two of them, averaged over the records and scaled to
// sum 1; each activation is taken as 1 / sum_k exp(z_k - z_j), which needs
// no exponential of a single z.
TEST(Sensitivity, NormalisedRBFFarFromEveryCentreAgreesWithADirectComputation) {
  const double centre[3][2] = {{0.0, 0.0}, {1.0, 0.0}, {0.0, 1.5}};
  const double variance = 1.0;
  const double weight[3] = {0.5, 2.0, -1.0};
  const std::vector<double> lo = {39.0, 39.0}, hi = {42.0, 42.0};
  const Rows inputs = {{40.0, 40.3}, {40.4, 39.4}, {40.9, 40.8},
                       {41.3, 40.1}, {39.5, 40.5}, {40.2, 39.8}};

  auto output = [&](const double* x) {
    double z[3];
    for (int j = 0; j < 3; ++j)
      z[j] = -0.5 *
             ((x[0] - centre[j][0]) * (x[0] - centre[j][0]) +
              (x[1] - centre[j][1]) * (x[1] - centre[j][1])) /
             variance;
    double y = 0.0;
    for (int j = 0; j < 3; ++j) {
      double s = 0.0;
      for (int k = 0; k < 3; ++k) s += std::exp(z[k] - z[j]);
      y += weight[j] / s;
    }
    return y;
  };
  ASSERT_EQ(std::exp(-0.5 * (39.0 * 39.0 + 39.0 * 39.0 - 80.0) / variance), 0.0);
  std::vector<double> expected(2, 0.0);
  for (const std::vector<double>& r : inputs) {
    for (int v = 0; v < 2; ++v) {
      double out[5];
      for (int p = 0; p < 5; ++p) {
        double x[2] = {r[0], r[1]};
        x[v] = lo[v] + p * (hi[v] - lo[v]) / 4;
        out[p] = output(x);
      }
      double largest = 0.0;
      for (int p = 0; p < 5; ++p)
        for (int q = p + 1; q < 5; ++q) largest = std::max(largest, std::fabs(out[p] - out[q]));
      expected[v] += largest / static_cast<double>(inputs.size());
    }
  }
  const double sum = expected[0] + expected[1];
  for (double& e : expected) e /= sum;
  // Both inputs move the outputs: neither share is near 0 or 1.
  EXPECT_GT(expected[0], 0.1);
  EXPECT_GT(expected[1], 0.1);

  RBFSettings settings(2, {1}, 100);
  settings.SetActivFnHiddenLayer(VXNNCommon::kNormalizedRadialBasis);
  settings.SetNumHiddenUnits(3, 1);
  NNetwork network(settings);
  const std::valarray<double> w = {0.0,      0.0,      1.0,      0.0,       0.0,       1.5,
                                   variance, variance, variance, weight[0], weight[1], weight[2]};
  ASSERT_EQ(network.GetNumWeights(), static_cast<int>(w.size()));
  network.SetWeights(w);
  std::vector<Record> records;
  for (const std::vector<double>& r : inputs) records.push_back(Rec(r, {0.0}));
  for (const SensitivityMethod method :
       {SensitivityMethod::kFirstLayerUpdate, SensitivityMethod::kFullForward}) {
    SCOPED_TRACE(method == SensitivityMethod::kFullForward ? "full forward" : "first-layer update");
    Source source(records);
    std::vector<double> importance;
    ASSERT_EQ(ComputeSensitivity(network, source, nullptr, 100, 0, 2, {1, 1}, true, lo, hi,
                                 importance, method),
              VXStatus());
    ASSERT_EQ(importance.size(), 2u);
    for (std::size_t v = 0; v < 2; ++v) EXPECT_NEAR(importance[v], expected[v], 1e-9) << v;
  }
}

}  // namespace

// The blocks' sums are added up in the fixed binary tree over their places:
// (b0 + b1) + (b2 + b3), then the partial fifth block. One huge error in
// block 0 and small ones in blocks 2 and 3 tell the tree from a sum from
// the left, which loses the small ones against the huge one.
double TreeSum(const std::vector<double>& blocks, std::size_t first, std::size_t n) {
  if (n == 1) return blocks[first];
  return TreeSum(blocks, first, n / 2) + TreeSum(blocks, first + n / 2, n / 2);
}

// The whole sequence: its largest aligned power-of-two runs, from the left.
double SequenceSum(const std::vector<double>& blocks) {
  double total = 0.0;
  for (std::size_t first = 0; first < blocks.size();) {
    std::size_t n = 1;
    while (2 * n <= blocks.size() - first) n *= 2;
    total = first == 0 ? TreeSum(blocks, first, n) : total + TreeSum(blocks, first, n);
    first += n;
  }
  return total;
}

TEST(OutputStatistics, BlockSumsAddUpInTheTreeOverTheirPlaces) {
  constexpr std::size_t kBlock = 96, kRecords = 4 * kBlock + 10;
  // A copy network outputs its input: the error of (x, t) is (t - x)^2 / 2.
  std::vector<double> x(kRecords, 0.5);
  x[0] = std::ldexp(1.0, 28);
  for (std::size_t r : {2 * kBlock, 2 * kBlock + 1, 3 * kBlock, 3 * kBlock + 1}) x[r] = 2.0;
  for (std::size_t r = 4 * kBlock; r < kRecords; ++r) x[r] = 1.0;
  std::vector<Record> records;
  std::vector<double> blocks;
  for (std::size_t r = 0; r < kRecords; ++r) {
    const double t = x[r] == 0.5 ? 0.5 : 0.0;
    records.push_back(Rec({x[r]}, {t}));
    if (r % kBlock == 0) blocks.push_back(0.0);
    blocks.back() += 0.5 * (t - x[r]) * (t - x[r]);
  }
  double fromTheLeft = 0.0;
  for (double b : blocks) fromTheLeft += b;
  const double expected = SequenceSum(blocks);
  ASSERT_NE(fromTheLeft, expected);
  for (int threads : kThreadCounts) {
    PassScope scope(threads, FastKernel());
    Net net = CopyNet({1});
    Source source(records);
    NNOutputStatistics s;
    ASSERT_EQ(ComputeOutputStats(*net, source, 1000, s), VXStatus());
    EXPECT_EQ(s.GetTotalError(), expected) << threads << " threads";
  }
}

// The processes of a shared computation, played by threads: each runs
// `what` (0 output statistics, 1 importance) over its part of the records.
struct SharedCase {
  const char* name;
  int what;
  std::vector<long long> cut;  // the parts' bounds; empty: ShareOf
  int processes;
  int failAt;        // the exchange (from 1) that fails on every process; 0 none
  int cancelRank;    // the process whose host cancels; -1 none
  long cancelAfter;  // its queries answered false first
  VXStatus status;
};

TEST(SharedEvaluation, RefusalsFailuresAndCancelsReachEveryProcess) {
  constexpr long long kRecords = 394;
  std::vector<Record> records;
  for (const Record& r : MixedRecords(static_cast<int>(kRecords), 5))
    records.push_back(Rec(std::vector<double>(r.GetAll(), r.GetAll() + r.Size()), {0.3, -0.2}));
  const VXStatus ok, mismatch(50020, false), broken(50021, false);
  // Output statistics exchange twice (the counts, the pass); importance
  // three times (the counts, the ranges, the training records).
  // clang-format off
  const std::vector<SharedCase> cases = {
      {"statistics, parts that are not the shares", 0, {0, 96, kRecords}, 2, 0, -1, 0, mismatch},
      {"importance, parts that are not the shares", 1, {0, 288, 384, kRecords}, 3, 0, -1, 0, mismatch},
      {"statistics, the counts' exchange fails", 0, {}, 3, 1, -1, 0, broken},
      {"statistics, the pass's exchange fails", 0, {}, 2, 2, -1, 0, broken},
      {"importance, the ranges' exchange fails", 1, {}, 2, 2, -1, 0, broken},
      {"importance, the pass's exchange fails", 1, {}, 3, 3, -1, 0, broken},
      {"statistics, cancelled before the pass", 0, {}, 3, 0, 1, 0, ok},
      {"statistics, cancelled at the pass's end", 0, {}, 3, 0, 2, 1, ok},
      {"importance, cancelled at the ranges", 1, {}, 2, 0, 0, 1, ok},
      {"importance, cancelled at the pass's end", 1, {}, 3, 0, 1, 2, ok},
  };
  // clang-format on
  for (const SharedCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t n = static_cast<std::size_t>(c.processes);
    std::vector<VXStatus> statuses(n);
    std::vector<int> canceled(n), computed(n);
    long queries = 0;
    in_process::RunProcesses(c.processes, [&](int rank, in_process::Combiner& combiner) {
      const std::size_t r = static_cast<std::size_t>(rank);
      const VXNeural::RecordShare share = c.cut.empty()
                                              ? VXNeural::ShareOf(kRecords, rank, c.processes)
                                              : VXNeural::RecordShare{c.cut[r], c.cut[r + 1]};
      Source part({records.begin() + share.first, records.begin() + share.end});
      Net net = MixedNet();
      Cancel cancel(rank == c.cancelRank ? c.cancelAfter : -1);
      net.settings->SetCancelPointer(&cancel);
      combiner.FailAt(c.failAt);
      VXNeural::SetPassCombiner(&combiner);
      if (c.what == 0) {
        NNOutputStatistics stats;
        statuses[r] = ComputeOutputStats(*net, part, 1000, stats);
        computed[r] = stats.StatsOK();
      } else {
        std::vector<double> importance;
        statuses[r] =
            ComputeSensitivity(*net, part, nullptr, 1000, 0, 4, kCats, false, {}, {}, importance);
        computed[r] = statuses[r].IsOK() && !net->IsCanceled();
      }
      VXNeural::SetPassCombiner(nullptr);
      canceled[r] = net->IsCanceled();
      if (rank == c.cancelRank) queries = cancel.fQueries;
    });
    EXPECT_EQ(statuses, std::vector<VXStatus>(n, c.status));
    const bool cancels = c.cancelRank >= 0;
    EXPECT_EQ(canceled, std::vector<int>(n, cancels));
    EXPECT_EQ(computed, std::vector<int>(n, 0));
    // The host is asked at the exchanges only: once at each up to the one
    // that cancels, never between records.
    if (cancels) {
      EXPECT_EQ(queries, c.cancelAfter + 1);
    }
  }
}

// The exchange of the counts that starts a shared computation, damaged on
// the way: a count no process sends is 50021, never converted to an
// integer; -1, a process that could not count, is 50020 (the shares cannot
// match). Both computations send [cancel, failure, records, ...] first.
TEST(SharedEvaluation, RefusesADamagedCount) {
  constexpr int kRecords = 394;
  std::vector<Record> records;
  for (const Record& r : MixedRecords(kRecords, 5))
    records.push_back(Rec(std::vector<double>(r.GetAll(), r.GetAll() + r.Size()), {0.3, -0.2}));
  const double kInf = std::numeric_limits<double>::infinity();
  const struct {
    double count;
    int code;
  } cases[] = {
      {kRecords, 0},  {-1, 50020},    {-3, 50021},  {kNaN, 50021},         {kInf, 50021},
      {-kInf, 50021}, {1e300, 50021}, {2.5, 50021}, {2147483648.0, 50021},
  };
  for (int what : {0, 1}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << (what == 0 ? "statistics, " : "importance, ") << c.count);
      damaging_combiner::Combiner combiner(damaging_combiner::Replace(2, c.count));
      Source source(records);
      Net net = MixedNet();
      VXNeural::SetPassCombiner(&combiner);
      VXStatus status;
      bool computed = false;
      if (what == 0) {
        NNOutputStatistics stats;
        status = ComputeOutputStats(*net, source, 1000, stats);
        computed = stats.StatsOK();
      } else {
        std::vector<double> importance;
        status =
            ComputeSensitivity(*net, source, nullptr, 1000, 0, 4, kCats, false, {}, {}, importance);
        computed = status.IsOK();
      }
      VXNeural::SetPassCombiner(nullptr);
      EXPECT_EQ(status.GetErrorCode(), c.code);
      EXPECT_EQ(computed, c.code == 0);
    }
  }
}

// A source over records in memory tells how many it holds, and a shared
// computation takes that count instead of reading the source through to
// count it: a source read part way first still counts all its records (a
// count read from where it stood would be 2 short). Any other source, a
// class derived from one that tells (its Next may skip records) included,
// is read to count, from where it stands; every source is left rewound.
TEST(SharedEvaluation, CountsOnlySourcesThatDoNotTellTheirRecords) {
  const std::vector<Record> records = MixedRecords(5, 3);
  // Counts the records it hands out.
  struct Derived : VXCommon_1_2::VectorRecordIter {
    using VectorRecordIter::VectorRecordIter;
    const Record* Next() override {
      ++nexts;
      return VectorRecordIter::Next();
    }
    int nexts = 0;
  };
  VXCommon_1_2::VectorRecordIter copied(records);
  auto borrowed = VXCommon_1_2::VectorRecordIter::Borrow(records);
  VXNeural::RecordBufferIter buffer(static_cast<int>(records[0].Size()), 8);
  for (const Record& r : records) ASSERT_TRUE(buffer.Add(r));
  VXNeural::RecordBufferIter unusable(-1, 8);
  Source counting(records);
  Derived derived(records);
  const struct {
    const char* name;
    VXCommon_1_2::MultiPassRecordIter* source;
    long long known, counted;
  } cases[] = {
      {"a vector", &copied, 5, 5},
      {"a borrowed vector", &borrowed, 5, 5},
      {"a buffer", &buffer, 5, 5},
      {"an unusable buffer", &unusable, -1, -1},
      {"a host's source", &counting, -1, 3},
      {"a class derived from a vector", &derived, -1, 3},
      {"none", nullptr, -1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.source) {
      c.source->Rewind();
      c.source->Next();
      c.source->Next();
    }
    EXPECT_EQ(VXNeural::detail::RecordsKnownTo(c.source), c.known);
    EXPECT_EQ(VXNeural::detail::CountShares({c.source}), std::vector<long long>{c.counted});
    if (c.source && c.counted > 0) {
      const Record* first = c.source->Next();
      ASSERT_NE(first, nullptr);
      EXPECT_EQ(first->GetAll()[0], records[0].GetAll()[0]);
    }
  }
  // The counting source and the derived one were read to count, the others
  // not at all.
  EXPECT_EQ(counting.Position(), 1u);
  EXPECT_EQ(counting.Rewinds(), 2);
  EXPECT_EQ(derived.nexts, 2 + 3 + 1);
}

// Shares held in memory are counted without reading them through, and the
// figures are still the one process's: shares read part way before the
// computation starts give every process the figures over all the records.
TEST(SharedEvaluation, SharesThatTellTheirRecordsGiveTheOneProcessFigures) {
  constexpr int kRecords = 394;
  std::vector<Record> records;
  for (const Record& r : MixedRecords(kRecords, 5)) {
    const double t = static_cast<double>(records.size() % 7);
    records.push_back(
        Rec(std::vector<double>(r.GetAll(), r.GetAll() + r.Size()), {0.3 + 0.1 * t, -0.2 * t}));
  }
  Net whole = MixedNet();
  Source all(records);
  NNOutputStatistics expected;
  ASSERT_EQ(ComputeOutputStats(*whole, all, 1000, expected), VXStatus());
  std::vector<double> expectedImportance;
  ASSERT_EQ(ComputeSensitivity(*whole, all, nullptr, 1000, 0, 4, kCats, false, {}, {},
                               expectedImportance),
            VXStatus());
  constexpr int kSize = 3;
  // The total error, then the relative errors (whose sums are shifted by
  // the sequence's first targets).
  const auto figures = [](const NNOutputStatistics& stats) {
    std::vector<double> f{stats.GetTotalError(), stats.GetAvgRelativeError()};
    f.insert(f.end(), stats.GetRelativeErrors().begin(), stats.GetRelativeErrors().end());
    return f;
  };
  std::vector<std::vector<double>> got(kSize), importance(kSize);
  std::vector<VXStatus> statuses(2 * kSize);
  in_process::RunProcesses(kSize, [&](int rank, in_process::Combiner& combiner) {
    const std::size_t r = static_cast<std::size_t>(rank);
    const VXNeural::RecordShare share = VXNeural::ShareOf(kRecords, rank, kSize);
    VXCommon_1_2::VectorRecordIter part(
        {records.begin() + share.first, records.begin() + share.end});
    Net net = MixedNet();
    VXNeural::SetPassCombiner(&combiner);
    NNOutputStatistics stats;
    part.Next();
    statuses[r] = ComputeOutputStats(*net, part, 1000, stats);
    got[r] = figures(stats);
    part.Next();
    statuses[kSize + r] =
        ComputeSensitivity(*net, part, nullptr, 1000, 0, 4, kCats, false, {}, {}, importance[r]);
    VXNeural::SetPassCombiner(nullptr);
  });
  EXPECT_EQ(statuses, std::vector<VXStatus>(2 * kSize));
  for (int r = 0; r < kSize; ++r) {
    EXPECT_TRUE(SameBits(got[static_cast<std::size_t>(r)], figures(expected))) << "rank " << r;
    EXPECT_TRUE(SameBits(importance[static_cast<std::size_t>(r)], expectedImportance))
        << "rank " << r;
  }
}

// Importance over shares of training and test records, with the ranges
// found from the records (every process's smallest and largest values) or
// given, is the one-process importance bit for bit.
TEST(SharedEvaluation, ImportanceOverSharesIsTheOneProcessImportance) {
  const std::vector<Record> train = MixedRecords(4 * 96 + 10, 5, 2.0),
                            test = MixedRecords(150, 6, 1.0);
  const std::vector<double> lo = {-1.0, -2.0}, hi = {1.5, 0.5};
  for (bool given : {false, true}) {
    Net whole = MixedNet();
    Source wholeTrain(train), wholeTest(test);
    std::vector<double> expected;
    ASSERT_EQ(ComputeSensitivity(*whole, wholeTrain, &wholeTest, 1000, 1000, 4, kCats, given, lo,
                                 hi, expected),
              VXStatus());
    for (int size : {1, 2, 3}) {
      SCOPED_TRACE(std::string(given ? "given" : "found") + " ranges, " + std::to_string(size) +
                   " processes");
      std::vector<std::vector<double>> importance(static_cast<std::size_t>(size));
      in_process::RunProcesses(size, [&](int rank, in_process::Combiner& combiner) {
        const VXNeural::RecordShare t = VXNeural::ShareOf(static_cast<long long>(train.size()),
                                                          rank, size),
                                    s = VXNeural::ShareOf(static_cast<long long>(test.size()), rank,
                                                          size);
        Source trainPart({train.begin() + t.first, train.begin() + t.end});
        Source testPart({test.begin() + s.first, test.begin() + s.end});
        Net net = MixedNet();
        VXNeural::SetPassCombiner(&combiner);
        EXPECT_EQ(ComputeSensitivity(*net, trainPart, &testPart, 1000, 1000, 4, kCats, given, lo,
                                     hi, importance[static_cast<std::size_t>(rank)]),
                  VXStatus());
        VXNeural::SetPassCombiner(nullptr);
      });
      for (const std::vector<double>& got : importance) EXPECT_TRUE(SameBits(got, expected));
    }
  }
}
