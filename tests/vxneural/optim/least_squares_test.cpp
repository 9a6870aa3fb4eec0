// The least-squares output solvers: the sweep-operator regression against
// an independent normal-equation solve and its handling of collinear
// regressors, and RBFLinReg / LinearRegr solving a network's output weights
// and updating them (the regression's damaged saved forms: LinearRegr's).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "common/saved_forms.h"
#include "least_squares_reference.h"
#include "vxcommon/Record.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/algorithm/RBFSettings.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/RBFHiddenLayer.h"
#include "vxneural/network/VXRandom.h"
#include "vxneural/optim/LinearRegr.h"
#include "vxneural/optim/MultiVariateRegression.h"
#include "vxneural/optim/RBFLinReg.h"

namespace {

using least_squares_reference::Fit;
using VXCommon_1_2::Record;
using VXCommon_1_2::VectorRecordIter;
using VXCommon_1_2::VXStatus;
using Rows = std::vector<std::vector<double>>;

// n records of x (nx regressors from make) and q noisy linear responses.
struct Data {
  Rows x, y;
  std::vector<double> w;
};

Data MakeData(int n, int nx, int q, unsigned seed, bool weighted,
              const std::function<std::vector<double>(std::mt19937&)>& make = nullptr) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Data d;
  for (int r = 0; r < n; ++r) {
    std::vector<double> x;
    if (make) {
      x = make(gen);
    } else {
      for (int i = 0; i < nx; ++i) x.push_back(u(gen));
    }
    std::vector<double> y;
    for (int t = 0; t < q; ++t) {
      double v = 0.5 * t + 0.1 * u(gen);
      for (std::size_t i = 0; i < x.size(); ++i) v += (1.0 + i + t) * x[i];
      y.push_back(v);
    }
    d.x.push_back(x);
    d.y.push_back(y);
    d.w.push_back(weighted ? 0.5 + 0.75 * (u(gen) + 1.0) : 1.0);
  }
  return d;
}

void AddAll(MultiVariateRegression& m, const Data& d) {
  for (std::size_t r = 0; r < d.x.size(); ++r)
    m.AddRecord(d.x[r].data(), int(d.x[r].size()), d.y[r].data(), int(d.y[r].size()), d.w[r]);
}

// The reference fit on every column but skip (the constant column first).
Fit Reference(const Data& d, bool constant, std::size_t skip = SIZE_MAX) {
  Rows x;
  for (const auto& row : d.x) {
    x.emplace_back(constant ? 1 : 0, 1.0);
    for (std::size_t i = 0; i < row.size(); ++i)
      if (i != skip) x.back().push_back(row[i]);
  }
  return least_squares_reference::Solve(x, d.y, d.w);
}

std::vector<double> Coefficients(const MultiVariateRegression& m, int t) {
  std::vector<double> b(static_cast<std::size_t>(m.GetNumRegressors()));
  m.GetCoefficients(t, b.data());
  return b;
}

TEST(MultiVariateRegression, AgreesWithTheNormalEquations) {
  struct Case {
    int nx;
    bool constant;
    int q;
    bool weighted;
  } cases[] = {{3, true, 2, false}, {3, false, 1, false}, {5, true, 3, true}, {1, true, 1, true}};
  for (const Case& c : cases) {
    const Data d = MakeData(200, c.nx, c.q, 17, c.weighted);
    MultiVariateRegression m(c.nx, c.constant, c.q);
    AddAll(m, d);
    EXPECT_EQ(m.GetCaseCount(), 200);
    EXPECT_EQ(m.EstimateCoefficients(true), c.nx + (c.constant ? 1 : 0));
    const Fit ref = Reference(d, c.constant);
    double predicted[3];
    m.Predict(d.x[0].data(), predicted);
    for (std::size_t t = 0; t < std::size_t(c.q); ++t) {
      const std::vector<double> b = Coefficients(m, int(t));
      double v = 0.0;
      for (std::size_t i = 0; i < b.size(); ++i) {
        EXPECT_NEAR(b[i], ref.b[t][i], 1e-9) << c.nx << " t" << t << " i" << i;
        v += ref.b[t][i] * (c.constant && i == 0 ? 1.0 : d.x[0][i - (c.constant ? 1 : 0)]);
      }
      EXPECT_NEAR(m.GetResidualSumOfSquares(int(t)), ref.rss[t], 1e-9);
      EXPECT_NEAR(predicted[t], v, 1e-9);
    }
  }
}

TEST(MultiVariateRegression, CollinearRegressorsAreLeftOutOfTheFit) {
  // Each record's regressors: combinations m of three uniform draws a, b, c.
  const struct {
    const char* what;
    double m[3][3];
    std::size_t refused;  // regressor index, without the constant
  } cases[] = {{"identical", {{1, 0, 0}, {1, 0, 0}, {0, 0, 1}}, 1},
               {"a combination of two others", {{1, 0, 0}, {0, 1, 0}, {1, -2, 0}}, 2}};
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (const auto& c : cases) {
    const Data d = MakeData(100, 3, 1, 5, false, [&](std::mt19937& g) {
      const double abc[] = {u(g), u(g), u(g)};
      std::vector<double> x(3, 0.0);
      for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 3; ++k) x[i] += c.m[i][k] * abc[k];
      return x;
    });
    MultiVariateRegression m(3, true, 1);
    AddAll(m, d);
    EXPECT_EQ(m.EstimateCoefficients(true), 3) << c.what;
    EXPECT_FALSE(m.GetSweptPivots()[c.refused + 1]) << c.what;
    const Fit ref = Reference(d, true, c.refused);
    const std::vector<double> b = Coefficients(m, 0);
    EXPECT_EQ(b[c.refused + 1], 0.0) << c.what;
    for (std::size_t k = 0, i = 0; i < b.size(); ++i) {
      if (i == c.refused + 1) continue;
      EXPECT_NEAR(b[i], ref.b[0][k++], 1e-9) << c.what << " " << i;
    }
    EXPECT_NEAR(m.GetResidualSumOfSquares(0), ref.rss[0], 1e-9) << c.what;
  }
}

// --- Solvers on networks -----------------------------------------------------

// Records of inputs uniform in [-1, 1] and targets: a continuous one and a
// one-of-2 indicator that depend on the inputs.
std::vector<Record> NetworkRecords(int n, int inputs, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<Record> records;
  for (int r = 0; r < n; ++r) {
    std::vector<double> v;
    double s = 0.0;
    for (int i = 0; i < inputs; ++i) {
      v.push_back(u(gen));
      s += (i + 1) * v.back();
    }
    v.push_back(std::sin(s) + 0.1 * u(gen));
    v.push_back(s > 0 ? 1.0 : 0.0);
    v.push_back(s > 0 ? 0.0 : 1.0);
    records.emplace_back(std::move(v));
  }
  return records;
}

// The output weights a least-squares solve on the regressors gives, row by
// row, with the network's error at them.
struct Expected {
  std::vector<double> weights;
  double error = 0.0;
};

Expected ReferenceWeights(NNetwork& net, const std::vector<Record>& records, bool hidden,
                          bool constant) {
  Data d;
  for (const Record& r : records) {
    std::vector<double> x(r.GetAll(), r.GetAll() + net.GetNumInputs());
    if (hidden) {
      net.ForwardPass(r.GetAll(), false);
      const INLayer* h = net.GetLayer(1);
      x.assign(h->GetUnitValues(), h->GetUnitValues() + h->GetNumUnits());
    }
    d.x.push_back(x);
    d.y.emplace_back(r.GetAll() + net.GetNumInputs(), r.GetAll() + r.Size());
    d.w.push_back(1.0);
  }
  const Fit f = Reference(d, constant);
  Expected e;
  for (std::size_t t = 0; t < f.b.size(); ++t) {
    e.weights.insert(e.weights.end(), f.b[t].begin(), f.b[t].end());
    e.error += 0.5 * f.rss[t];
  }
  return e;
}

void ExpectWeights(const NNetwork& net, const Expected& e) {
  const INLayer* out = net.GetLayer(net.GetNumLayers());
  ASSERT_EQ(out->GetNumWeights(), int(e.weights.size()));
  for (std::size_t i = 0; i < e.weights.size(); ++i)
    EXPECT_NEAR(out->GetWeights()[i], e.weights[i], 1e-9) << i;
}

TEST(RBFLinReg, TrainingPassSolvesTheOutputWeights) {
  for (auto f : {VXNNCommon::kRadialBasis, VXNNCommon::kNormalizedRadialBasis}) {
    RBFSettings settings(2, {1, 2}, 150);
    settings.SetActivFnHiddenLayer(f);
    settings.SetNumHiddenUnits(5, 1);
    NNetwork net(settings);
    VXRandom rng(3, true);
    net.RandomizeWeights(rng, -1.0, 1.0);
    const std::vector<Record> records = NetworkRecords(150, 2, 9);
    const bool constant = f == VXNNCommon::kRadialBasis;
    RBFLinReg solver(&settings, &net);
    ASSERT_TRUE(solver.GetRegression());
    EXPECT_EQ(solver.GetRegression()->GetNumRegressors(), constant ? 6 : 5);
    EXPECT_TRUE(VXMV::IsMissing(solver.GetEstError()));
    const Expected e = ReferenceWeights(net, records, true, constant);
    VectorRecordIter source(records);
    EXPECT_EQ(solver.TrainPass(source, 1000), VXStatus());
    ExpectWeights(net, e);
    EXPECT_NEAR(solver.GetEstError(), e.error, 1e-9);
    EXPECT_EQ(net.GetAccumError(), solver.GetEstError());
    EXPECT_EQ(std::make_tuple(solver.GetAlgorithmStatus(), solver.GetStopReason(),
                              solver.GetNIterations(), solver.GetNDataPasses(),
                              solver.GetNRecordsProcessed()),
              std::make_tuple(VXNNCommon::kTrained, VXNNCommon::kStoppedComputed, 1, 1, 150));

    // A second pass starts a new fit rather than adding to the first.
    EXPECT_EQ(solver.TrainPass(source, 1000), VXStatus());
    EXPECT_EQ(solver.GetRegression()->GetCaseCount(), 150);
    ExpectWeights(net, e);

    // Records added one by one and solved give the same weights.
    RBFLinReg byRecord(&settings, &net);
    for (const Record& r : records) byRecord.AddRecord(r);
    net.ResetAll();
    EXPECT_EQ(byRecord.Solve(), VXStatus());
    ExpectWeights(net, e);
    EXPECT_EQ(byRecord.GetNRecordsProcessed(), 150);
  }
}

TEST(LinearRegr, TrainsInOnePassAndUpdatesOnlyForTheBetter) {
  // No hidden layer: 3 inputs, the continuous and one-of-2 targets.
  MLPSettings settings(3, {1, 2}, 200);
  settings.SetNumHiddenLayers(0);
  settings.SetActivFnOutputLayer(VXNNCommon::kIdentity);
  NNetwork net(settings);
  LinearRegr solver(&settings, &net);
  const std::vector<Record> first = NetworkRecords(120, 3, 1), later = NetworkRecords(80, 3, 2);
  VectorRecordIter source(first), none(std::vector<Record>{}), more(later);
  VXStatus status;
  EXPECT_EQ(solver.Train(status, source, nullptr, 1000, 0), VXStatus());
  ExpectWeights(net, ReferenceWeights(net, first, false, true));
  EXPECT_EQ(solver.GetTrainError(), solver.GetEstError());
  EXPECT_EQ(solver.GetNDataPasses(), 1);

  // Nothing new: the same fit, no change.
  std::valarray<double> before, after;
  net.GetWeights(before);
  bool changed = true;
  EXPECT_EQ(solver.Update(status, source, none, 100, changed), VXStatus());
  EXPECT_FALSE(changed);
  net.GetWeights(after);
  EXPECT_TRUE((after == before).min());

  // New records join the kept cross-products: the fit of all 200.
  std::vector<Record> all = first;
  all.insert(all.end(), later.begin(), later.end());
  const Expected e = ReferenceWeights(net, all, false, true);
  EXPECT_EQ(solver.Update(status, source, more, 100, changed), VXStatus());
  EXPECT_TRUE(changed);
  ExpectWeights(net, e);
  EXPECT_NEAR(solver.GetEstError(), e.error, 1e-9);
  EXPECT_EQ(solver.GetNRecordsProcessed(), 200);
  EXPECT_EQ(solver.GetAlgorithmStatus(), VXNNCommon::kTrained);

  LinearRegr back(&settings, &net);
  saved_forms::ExpectReadersRobust(
      solver, back, {"Error reading LinearRegr!\n", "Error reading MultiVariateRegression!\n"},
      {"Failure reading LinearRegr!\n", "Failure reading MultiVariateRegression!\n"});
}

}  // namespace
