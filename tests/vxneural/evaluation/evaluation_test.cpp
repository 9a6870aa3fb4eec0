// The evaluation passes on small networks with weights set by hand or drawn.
// Output statistics: record sets checked against hand-worked counts and a
// two-pass reference, the accessors and the passes that do not finish.
// Predictor importance: worked cases and scenarios checked against a
// probe-by-probe reference through the network's scoring, refusals; and the
// update of the first layer's sums checked against the full forward pass per
// probe on every kind of network it serves: MLPs with 0, 1 and 2 hidden
// layers, both hidden activations, SoftMax and Identity outputs, RBF networks
// with plain and normalised units; categorical inputs of several units and
// missing values in the records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <valarray>
#include <vector>

#include "common/host_doubles.h"
#include "evaluation/FirstLayerProber.h"
#include "vxcommon/Record.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/algorithm/RBFSettings.h"
#include "vxneural/evaluation/NNOutputStatistics.h"
#include "vxneural/evaluation/NNSensReporter.h"
#include "vxneural/evaluation/NNSensitivity.h"
#include "vxneural/network/NNetwork.h"
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

// Summed network error, per-unit relative errors and the pooled ratio with
// the textbook two-pass mean, over the first max records whose targets have
// a value for every unit.
struct Reference {
  double total = 0.0, pooled = kMissing;
  std::vector<double> relative;
};

Reference TwoPass(std::size_t units, const Rows& outputs, const Rows& targets, int max) {
  std::vector<std::size_t> used;
  for (std::size_t i = 0; i < targets.size(); ++i)
    if (targets[i].size() == units && used.size() < static_cast<std::size_t>(max))
      used.push_back(i);
  Reference r;
  double sse = 0.0, ssd = 0.0;
  for (std::size_t u = 0; u < units; ++u) {
    double mean = 0.0, e = 0.0, d = 0.0;
    for (std::size_t i : used) mean += targets[i][u] / static_cast<double>(used.size());
    for (std::size_t i : used) {
      e += (targets[i][u] - outputs[i][u]) * (targets[i][u] - outputs[i][u]);
      d += (targets[i][u] - mean) * (targets[i][u] - mean);
    }
    r.relative.push_back(d > 0.0 ? e / d : kMissing);
    sse += e;
    ssd += d;
    r.total += 0.5 * e;
  }
  if (ssd > 0.0) r.pooled = sse / ssd;
  return r;
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
  // Percents correct, and relative errors worked by hand (when there are
  // none, only the reference counts).
  std::vector<double> percentsCorrect, relative;
};

// clang-format off
const std::vector<Case> kCases = {
    {"worked example", {3}, kScores, kOneHot, 100, {{1, 0, 0, 0, 1, 1, 0, 0, 1}}, {75}, {}},
    {"at most N records", {3}, kScores, kOneHot, 2, {{1, 0, 0, 0, 0, 1, 0, 0, 0}}, {50}, {}},
    {"short record skipped", {3},
     {kScores[0], {1, 0, 0, 0, 0}, kScores[1], kScores[2], kScores[3]},
     {kOneHot[0], {}, kOneHot[1], kOneHot[2], kOneHot[3]},
     100, {{1, 0, 0, 0, 1, 1, 0, 0, 1}}, {75}, {}},
    {"first of equal maxima", {3}, {{0.4, 0.4, 0.2}}, {{0, 1, 0}}, 100,
     {{0, 0, 0, 1, 0, 0, 0, 0, 0}}, {0}, {}},
    // Misclassified, but in no cell.
    {"no largest output", {2}, {{-DBL_MAX, kNaN}, {0.2, 0.7}}, {{1, 0}, {0, 1}}, 100,
     {{0, 0, 0, 1}}, {50}, {}},
    {"mean over categorical targets", {2, 2},
     {{1, 0, 1, 0}, {0, 1, 0, 1}, {1, 0, 0, 1}, {0, 1, 1, 0}},
     {{1, 0, 0, 1}, {0, 1, 1, 0}, {1, 0, 1, 0}, {0, 1, 1, 0}},
     100, {{2, 0, 0, 2}, {1, 2, 1, 0}}, {100, 25}, {}},
    {"zero records", {1, 3}, {{0, 0, 0, 0}}, {{0, 1, 0, 0}}, 0, {std::vector<int>(9, 0)}, {100},
     {kMissing}},
    {"exact prediction", {1}, {{0.5}, {-1.0}, {2.0}}, {{0.5}, {-1.0}, {2.0}}, 100, {}, {}, {0.0}},
    // The targets' mean is 2.05.
    {"mean model", {1}, Rows(5, {2.05}), {{1.0}, {4.0}, {-2.5}, {7.25}, {0.5}}, 100, {}, {}, {1.0}},
    {"constant target", {1, 1}, {{0.9, 1.0}, {1.2, 3.0}}, {{1, 1}, {1, 3}}, 100, {}, {},
     {kMissing, 0.0}},
    {"mixed targets", {1, 2, 1, 3},
     {{0.3, 0.8, 0.2, 1.5, 0.1, 0.1, 0.8}, {-0.4, 0.4, 0.6, 2.0, 0.5, 0.3, 0.2},
      {1.1, 0.3, 0.7, 0.9, 0.2, 0.6, 0.2}, {0.0, 0.9, 0.1, 1.2, 0.3, 0.3, 0.4},
      {0.7, 0.6, 0.4, 1.8, 0.1, 0.2, 0.7}},
     {{0.5, 1, 0, 1.0, 0, 0, 1}, {-0.2, 0, 1, 2.5, 1, 0, 0}, {1.0, 0, 1, 1.0, 0, 1, 0},
      {0.2, 1, 0, 1.5, 0, 0, 1}, {0.4, 1, 0, 2.0, 0, 0, 1}},
     100, {{3, 0, 0, 2}, {1, 0, 0, 0, 1, 0, 0, 0, 3}}, {100, 100}, {}},
};
// clang-format on

TEST(OutputStatistics, RecordSetsAgreeWithHandCountsAndTheTwoPassReference) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
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
    std::vector<std::size_t> continuousUnits;
    std::size_t units = 0;
    for (int n : c.categories) {
      if (n > 1) catCategories.push_back(n);
      if (n == 1) continuousUnits.push_back(units);
      units += static_cast<std::size_t>(n);
    }
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

    ASSERT_EQ(s.GetRelativeErrors().size(), continuousUnits.size());
    for (std::size_t k = 0; k < c.relative.size(); ++k)
      EXPECT_NEAR(s.GetRelativeErrors()[k], c.relative[k], 1e-12);
    // Outputs without a largest value have no finite error to compare.
    const Reference ref = TwoPass(units, c.outputs, c.targets, c.maxRecords);
    if (!std::isfinite(ref.total)) continue;
    EXPECT_NEAR(s.GetTotalError(), ref.total, 1e-12);
    EXPECT_NEAR(s.GetAvgRelativeError(), ref.pooled, 1e-12);
    for (std::size_t k = 0; k < continuousUnits.size(); ++k)
      EXPECT_NEAR(s.GetRelativeErrors()[k], ref.relative[continuousUnits[k]], 1e-12);
  }
}

// The definition, one whole probe record at a time through Score (the
// networks here use the sum-of-squares error, so Score gives the output
// layer's values). Unscaled: summed over the records.
std::vector<double> ReferenceSums(NNetwork& net, const std::vector<Record>& records,
                                  const std::vector<int>& cats, const std::vector<double>& lo,
                                  const std::vector<double>& hi) {
  const std::size_t nOut = static_cast<std::size_t>(net.GetNumOutputs());
  std::vector<double> sums(cats.size(), 0.0);
  for (const Record& r : records) {
    const std::vector<double> x(r.GetAll(), r.GetAll() + net.GetNumInputs());
    std::size_t col = 0, cont = 0;
    for (std::size_t v = 0; v < cats.size(); ++v) {
      const std::size_t k = static_cast<std::size_t>(cats[v]);
      Rows outs;
      for (std::size_t p = 0; p < (k == 1 ? 5 : k); ++p) {
        std::vector<double> y = x;
        if (k == 1) {
          y[col] = lo[cont] + p * (hi[cont] - lo[cont]) / 4.0;
        } else {
          std::fill(y.begin() + static_cast<long>(col), y.begin() + static_cast<long>(col + k),
                    0.0);
          y[col + p] = 1.0;
        }
        outs.emplace_back(nOut);
        VXStatus ignored;
        net.Score(ignored, y.data(), outs.back().data());
      }
      double largest = 0.0;
      for (const auto& a : outs)
        for (const auto& b : outs) {
          double d = 0.0;
          for (std::size_t u = 0; u < nOut; ++u) d += (a[u] - b[u]) * (a[u] - b[u]);
          largest = std::max(largest, std::sqrt(d));
        }
      sums[v] += largest;
      cont += k == 1;
      col += k;
    }
  }
  return sums;
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

std::vector<Record> Head(const std::vector<Record>& r, std::size_t n) {
  return std::vector<Record>(r.begin(), r.begin() + static_cast<long>(std::min(n, r.size())));
}

// One computation: what it reads, the ranges it is given (found when
// empty), when the host cancels (the number of queries answered false
// first; -1 never), and what it should give.
struct Scenario {
  const char* name;
  Net (*make)();
  std::vector<Record> train, test;
  int nTrain, nTest;
  std::vector<int> cats;
  std::vector<double> lo, hi;
  long cancelAfter;
  VXStatus status;
  std::size_t probed;  // records whose contributions count
  bool scaled;
  int rewinds;                 // of each source read
  std::vector<double> worked;  // by hand, when given
};

TEST(Sensitivity, ScenariosAgreeWithTheDefinition) {
  // Their first four columns: a continuous value and a valid one-of-3 group.
  const std::vector<Record> six = MixedRecords(6, 1);
  std::vector<Record> test = MixedRecords(5, 4);
  // Beyond the test records read: must not widen a found range.
  test[3][4] = 40.0;
  const VXStatus ok;
  // clang-format off
  const std::vector<Scenario> scenarios = {
      {"one effective input", [] { return LinearNet({1}, {0.3}, {{0, 2.5, 0}}); }, six, {}, 100, 0,
       {1, 1, 1}, {-1, -2, -1}, {1, 2, 1}, -1, ok, 6, true, 1, {0, 1, 0}},
      // Nothing to scale: the sum stays 0.
      {"constant network", [] { return LinearNet({1, 1}, {0.7, -0.2}, Rows(2, {0, 0, 0, 0})); },
       six, {}, 100, 0, {1, 3}, {}, {}, -1, ok, 6, true, 2, {0, 0}},
      {"range of a single value", [] { return LinearNet({1}, {0.0}, {{4, 1}}); }, six, {}, 100, 0,
       {1, 1}, {0.5, -1}, {0.5, 1}, -1, ok, 6, true, 1, {0, 1}},
      {"given ranges, both sources", MixedNet, MixedRecords(12, 3), test, 10, 3, kCats,
       {-2.0, -0.5}, {1.0, 2.5}, -1, ok, 13, true, 1, {}},
      {"ranges found, both sources", MixedNet, MixedRecords(12, 3), test, 10, 3, kCats, {}, {}, -1,
       ok, 13, true, 2, {}},
      // Taken into the range, the missing value would sweep it over half the doubles.
      {"missing value in a found range", [] { return LinearNet({1}, {0.0}, {{1, 1}}); },
       {Rec({0, 1}), Rec({VXMV::gMissingValue, 3}), Rec({2, 2})}, {}, 100, 0, {1, 1}, {}, {}, -1,
       ok, 3, true, 2, {}},
      // Any value but 0 marks the active column. The second record stops it;
      // its categorical input comes first and adds nothing.
      {"categorical input without active column",
       [] { return LinearNet({1}, {0.1}, {{1.0, -2.0, 0.5, 3.0}}); },
       {Rec({0, 0.7, 0, 0.4}), Rec({0, 0, 0, 0.2}), Rec({1, 0, 0, 0.9})}, {}, 100, 0, {3, 1}, {-1},
       {1}, -1, VXStatus(50008, false), 1, false, 1, {}},
      // Polled once before each record.
      {"cancelled while probing", MixedNet, MixedRecords(10, 8), {}, 100, 0, kCats, {-1, -1},
       {1, 1}, 3, ok, 3, false, 1, {}},
      {"cancelled while finding ranges", MixedNet, MixedRecords(10, 9), {}, 100, 0, kCats, {}, {},
       1, ok, 0, false, 1, {}},
  };
  // clang-format on
  for (const Scenario& c : scenarios) {
    SCOPED_TRACE(c.name);
    Net net = c.make();
    Cancel cancel(c.cancelAfter);
    net.settings->SetCancelPointer(&cancel);
    Source train(c.train), testSource(c.test);
    std::vector<double> importance = {5.0};
    EXPECT_EQ(ComputeSensitivity(*net, train, c.test.empty() ? nullptr : &testSource, c.nTrain,
                                 c.nTest, static_cast<int>(c.cats.size()), c.cats, !c.lo.empty(),
                                 c.lo, c.hi, importance),
              c.status);
    EXPECT_EQ(train.Rewinds(), c.rewinds);
    EXPECT_EQ(testSource.Rewinds(), c.test.empty() ? 0 : c.rewinds);
    EXPECT_EQ(net->GetSensRecordsProcessed(), static_cast<int>(c.probed));
    if (!c.worked.empty()) {
      EXPECT_EQ(importance, c.worked);
    }

    // The records read, and the ranges the test finds over them.
    std::vector<Record> read = Head(c.train, static_cast<std::size_t>(c.nTrain));
    for (const Record& r : Head(c.test, static_cast<std::size_t>(c.nTest))) read.push_back(r);
    std::vector<double> lo = c.lo, hi = c.hi;
    std::size_t col = 0;
    for (int k : c.cats) {
      if (k == 1 && c.lo.empty()) {
        lo.push_back(DBL_MAX);
        hi.push_back(-DBL_MAX);
        for (const Record& r : read) {
          if (VXMV::IsMissing(r[col])) continue;
          lo.back() = std::min(lo.back(), r[col]);
          hi.back() = std::max(hi.back(), r[col]);
        }
      }
      col += static_cast<std::size_t>(k);
    }
    std::vector<double> want = ReferenceSums(*net, Head(read, c.probed), c.cats, lo, hi);
    if (c.scaled) {  // averaged, then divided by their sum when that is positive
      double total = 0.0;
      for (double& w : want) total += (w /= static_cast<double>(c.probed));
      for (double& w : want) w /= total > 0.0 ? total : 1.0;
    }
    ASSERT_EQ(importance.size(), want.size());
    for (std::size_t v = 0; v < want.size(); ++v) EXPECT_NEAR(importance[v], want[v], 1e-12) << v;
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

}  // namespace
