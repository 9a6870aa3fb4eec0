// Small networks, encoded records, an oracle network and host call-backs
// shared by the optimizer tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <tuple>
#include <utility>
#include <valarray>
#include <vector>

#include "vxcommon/Callbacks.h"
#include "vxcommon/Record.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/VXNNCommon.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/network_fixtures.h"
#include "vxneural/optim/IOptimizationAlgorithm.h"

namespace optim_fixtures {

using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::Record;
using VXCommon_1_2::VectorRecordIter;
using VXCommon_1_2::VXStatus;

// Settings for inputs -> hidden... -> outputs, with every stop rule switched
// off except a data-pass limit of 50, and batch updates.
inline std::unique_ptr<MLPSettings> MakeSettings(int inputs, const std::vector<int>& categories,
                                                 const std::vector<int>& hidden,
                                                 VXNNCommon::ActivationFunction outputFn,
                                                 int records) {
  auto s = std::make_unique<MLPSettings>(inputs, categories, records);
  s->SetNumHiddenLayers(static_cast<int>(hidden.size()));
  for (std::size_t l = 0; l < hidden.size(); ++l)
    s->SetNumHiddenUnits(hidden[l], static_cast<int>(l) + 1);
  s->SetActivFnHiddenLayer(VXNNCommon::kTanH);
  s->SetActivFnOutputLayer(outputFn);
  s->SetMaxTime(1e9);
  s->SetMaxNDataPasses(50);
  s->SetMinRelativeChangeError(0.0);
  s->SetMinErrorRatio(0.0);
  s->SetGradientNormLimit(0.0);
  s->SetAccuracy(101.0);
  s->SetMaxNStepsTrackError(1000);
  s->SetUpdateType(VXNNCommon::kBatch);
  return s;
}

// n records (x0, x1, f(x0, x1) + noise), everything drawn uniformly from
// [-1, 1] (the noise scaled by 0.05).
template <typename F>
std::vector<Record> SampledRecords(int n, unsigned seed, F f) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<Record> records;
  for (int r = 0; r < n; ++r) {
    const double x0 = u(gen);
    const double x1 = u(gen);
    records.emplace_back(std::vector<double>{x0, x1, f(x0, x1) + 0.05 * u(gen)});
  }
  return records;
}

// With no hidden layer and an Identity output the error is a convex
// quadratic of the weights; a negative slope gives data that disagree with
// the positive one.
inline std::vector<Record> LinearRecords(int n, unsigned seed, double slope = 1.0) {
  return SampledRecords(
      n, seed, [slope](double x0, double x1) { return slope * (0.8 * x0 - 0.5 * x1 + 0.3); });
}

// Weights drawn uniformly from [lo, hi], and the weights a network holds.
inline std::valarray<double> UniformWeights(int n, unsigned seed, double lo, double hi) {
  return network_fixtures::RandomWeights(n, seed, lo, hi);
}
using network_fixtures::WeightsOf;

// Stop reason, status, data passes, iterations and records of a run.
inline auto Counts(const IOptimizationAlgorithm& o) {
  return std::make_tuple(o.GetStopReason(), o.GetAlgorithmStatus(), o.GetNDataPasses(),
                         o.GetNIterations(), o.GetNRecordsProcessed());
}

inline double Norm(const std::valarray<double>& v) { return std::sqrt((v * v).sum()); }

inline void ExpectWeightsNear(const std::valarray<double>& actual,
                              const std::valarray<double>& expected, double tolerance = 1e-12) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < actual.size(); ++i)
    EXPECT_NEAR(actual[i], expected[i], tolerance) << "weight " << i;
}

// Error and gradient of a network at weights w over the records: the network
// is the oracle, the optimizers' logic is checked against second
// implementations written in the tests.
struct Evaluation {
  double error = 0.0;
  std::valarray<double> gradient;
};
inline Evaluation Evaluate(NNetwork& net, const std::valarray<double>& w,
                           const std::vector<Record>& records) {
  net.ResetAll();
  net.SetWeights(w);
  auto source = VectorRecordIter::Borrow(records);
  VXStatus status;
  int n = 0;
  net.ProcessRecords(status, source, static_cast<int>(records.size()), n, false, false);
  Evaluation e;
  e.error = net.GetAccumError();
  e.gradient.resize(static_cast<std::size_t>(net.GetNumWeights()));
  net.GetGradient(e.gradient);
  return e;
}

// The sum-of-squares error of predicting every target by its mean.
inline double MeanModelError(const std::vector<Record>& records, int inputs, int outputs) {
  double e = 0.0;
  for (int k = inputs; k < inputs + outputs; ++k) {
    double mean = 0.0;
    for (const Record& r : records) mean += r[k] / static_cast<double>(records.size());
    for (const Record& r : records) e += 0.5 * (r[k] - mean) * (r[k] - mean);
  }
  return e;
}

inline double RelativeChange(double e0, double e1) {
  return std::fabs(e1 - e0) / ((e0 + e1) / 2 + 1e-10);
}

// A network on its records, with a twin of the same shape (the oracle) on
// settings of its own, so that a host cancel object set later cannot stop
// the oracle.
struct Problem {
  Problem(int inputs, const std::vector<int>& categories, const std::vector<int>& hidden,
          VXNNCommon::ActivationFunction output, std::vector<Record> data, unsigned seed)
      : inputs(inputs),
        outputs(static_cast<int>(categories.size())),
        records(std::move(data)),
        settings(
            MakeSettings(inputs, categories, hidden, output, static_cast<int>(records.size()))),
        oracleSettings(std::make_unique<MLPSettings>(*settings)),
        net(std::make_unique<NNetwork>(*settings)),
        oracle(std::make_unique<NNetwork>(*oracleSettings)),
        initial(UniformWeights(net->GetNumWeights(), seed, -0.5, 0.5)) {
    net->SetWeights(initial);
  }
  Evaluation At(const std::valarray<double>& w) { return Evaluate(*oracle, w, records); }
  Evaluation AtNet() { return At(WeightsOf(*net)); }
  double ErrorRatio(double e) const {
    return e / (MeanModelError(records, inputs, outputs) + 1e-10);
  }

  int inputs, outputs;
  std::vector<Record> records;
  std::unique_ptr<MLPSettings> settings, oracleSettings;
  std::unique_ptr<NNetwork> net, oracle;
  std::valarray<double> initial;
};

// 2 inputs, hidden layers as given, 1 continuous target, linear records.
inline Problem LinearProblem(const std::vector<int>& hidden, int n, unsigned dataSeed,
                             unsigned weightSeed) {
  return Problem(2, {1}, hidden, VXNNCommon::kIdentity, LinearRecords(n, dataSeed), weightSeed);
}

// A problem with an optimizer of the given class, rebuilt for every run
// (it reads the host's cancel object from the settings when built).
template <typename Optimizer>
struct Trainee : Problem {
  explicit Trainee(Problem p) : Problem(std::move(p)) {}
  // Trains from the initial weights; the status is also returned.
  VXStatus Run(MultiPassRecordIter* test = nullptr) {
    net->SetWeights(initial);
    opt = std::make_unique<Optimizer>(settings.get(), net.get());
    auto train = VectorRecordIter::Borrow(records);
    VXStatus status;
    EXPECT_EQ(opt->Train(status, train, test, 100000, 100000), status);
    return status;
  }
  VXStatus Run(const std::vector<Record>& test) {
    auto source = VectorRecordIter::Borrow(test);
    return Run(&source);
  }
  std::unique_ptr<Optimizer> opt;
};

// What each progress report showed.
struct Shown {
  int dataPasses, records;
  double trainError, testError, gradNorm, errorRatio;
};
struct Recorder : VXCommon_1_2::ProgressListener {
  void Report(VXCommon_1_2::ProgressReport& r) override {
    shown.push_back({r.DiscreteMeasure("dataPasses"), r.DiscreteMeasure("records"),
                     r.ScaleMeasure("trainError"), r.ScaleMeasure("testError"),
                     r.ScaleMeasure("gradNorm"), r.ScaleMeasure("errorRatio")});
    if (then) then(r);
  }
  std::vector<Shown> shown;
  std::function<void(VXCommon_1_2::ProgressReport&)> then;
};

// A record source over borrowed records that counts the records handed out,
// one by one or in blocks.
struct CountingIter : VectorRecordIter {
  explicit CountingIter(const std::vector<Record>& records) : VectorRecordIter(Borrow(records)) {}
  const Record* Next() override {
    const Record* r = VectorRecordIter::Next();
    handedOut += r != nullptr ? 1 : 0;
    return r;
  }
  int NextRows(const double** rows, int max, int width) override {
    const int n = HandOutRows(rows, max, width);
    handedOut += n > 0 ? n : 0;
    return n;
  }
  int handedOut = 0;
};

}  // namespace optim_fixtures
