// Scaled conjugate gradient: runs checked against a second implementation
// and a least-squares solution, training on the iris data, the stop rules,
// the failures and their codes, updates, and the saved forms.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "optim_fixtures.h"
#include "vxneural/data/RecordBufferIter.h"
#include "vxneural/network/VXRandom.h"
#include "vxneural/optim/GradientDescentBatch.h"
#include "vxneural/optim/ScaledConjGrad.h"

namespace {

using namespace optim_fixtures;
using VXCommon_1_2::MultiPassRecordIter;

// Noisy smooth surface of two inputs: not representable exactly by a small
// tanh network, so training meets curvature of every sign.
std::vector<Record> WaveRecords(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<Record> records;
  for (int r = 0; r < n; ++r) {
    const double x0 = u(gen);
    const double x1 = u(gen);
    const double y = 0.6 * std::sin(3.0 * x0) * x1 + 0.4 * x0 * x0 - 0.2 + 0.05 * u(gen);
    records.emplace_back(std::vector<double>{x0, x1, y});
  }
  return records;
}

// A network with its settings, records and optimizer. The oracle network
// (same shape, own settings so that a host cancel object cannot stop it)
// evaluates errors and gradients for the checks.
struct Problem {
  Problem(int inputs, const std::vector<int>& categories, const std::vector<int>& hidden,
          VXNNCommon::ActivationFunction output, std::vector<Record> data, unsigned seed)
      : records(std::move(data)) {
    settings = MakeSettings(inputs, categories, hidden, output, static_cast<int>(records.size()));
    net = std::make_unique<NNetwork>(*settings);
    oracleSettings = std::make_unique<MLPSettings>(*settings);
    oracle = std::make_unique<NNetwork>(*oracleSettings);
    initial = UniformWeights(net->GetNumWeights(), seed, -0.5, 0.5);
    net->SetWeights(initial);
    scg = std::make_unique<ScaledConjGrad>(settings.get(), net.get());
  }
  VXStatus Run(MultiPassRecordIter* test = nullptr) {
    auto train = VectorRecordIter::Borrow(records);
    VXStatus status;
    const VXStatus returned = scg->Train(status, train, test, 100000, 100000);
    EXPECT_EQ(returned, status);
    return status;
  }
  std::unique_ptr<MLPSettings> settings;
  std::unique_ptr<NNetwork> net;
  std::unique_ptr<MLPSettings> oracleSettings;
  std::unique_ptr<NNetwork> oracle;
  std::vector<Record> records;
  std::valarray<double> initial;
  std::unique_ptr<ScaledConjGrad> scg;
};

Problem Wave(unsigned seed = 11) {
  return Problem(2, {1}, {3}, VXNNCommon::kIdentity, WaveRecords(40, seed), seed);
}
Problem Linear(unsigned seed = 5) {
  return Problem(2, {1}, {}, VXNNCommon::kIdentity, LinearRecords(30, seed), seed);
}

// What each progress report showed.
struct Shown {
  int dataPasses;
  int records;
  double trainError;
  double testError;
  double gradNorm;
  double errorRatio;
};
struct Recorder : VXCommon_1_2::ProgressListener {
  void Report(VXCommon_1_2::ProgressReport& r) override {
    shown.push_back({r.DiscreteMeasure("dataPasses"), r.DiscreteMeasure("records"),
                     r.ScaleMeasure("trainError"), r.ScaleMeasure("testError"),
                     r.ScaleMeasure("gradNorm"), r.ScaleMeasure("errorRatio")});
    if (then) then();
  }
  std::vector<Shown> shown;
  std::function<void()> then;
};

// Summed from the first product on (a valarray expression's sum() may run
// the other way, which changes the last bits).
double Dot(const std::valarray<double>& a, const std::valarray<double>& b) {
  double sum = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) sum += a[i] * b[i];
  return sum;
}

// Scaled conjugate gradient written out plainly after its textbook form,
// with the error and gradient of the oracle network. It stops once the
// data-pass limit is reached after any iteration; it notes what a listener
// would see: the starting error after the first probe, the error after every
// kept step that is not a restart, and the final error.
struct Reference {
  std::valarray<double> w;
  double error = 0.0;
  int passes = 0, iterations = 0, failures = 0, restarts = 0;
  std::vector<double> shown;
};
Reference RunReference(NNetwork& oracle, std::valarray<double> w,
                       const std::vector<Record>& records, const MLPSettings& s, int maxPasses) {
  Reference ref;
  const std::size_t n = w.size();
  Evaluation at = Evaluate(oracle, w, records);
  ref.passes = 1;
  std::valarray<double> r = -at.gradient, p = r;
  double lambda = s.GetLambdaInit(), lambdaBar = 0.0, delta = 0.0;
  bool success = true;
  std::size_t k = 0;
  while (true) {
    ++k;
    ++ref.iterations;
    const double pn = std::sqrt(Dot(p, p));
    const double pp = pn * pn;
    if (success) {
      const double sigma = s.GetSigmaInit() / pn;
      const Evaluation probe = Evaluate(oracle, w + sigma * p, records);
      ++ref.passes;
      if (ref.passes == 2) ref.shown.push_back(at.error);
      delta = 0.0;
      for (std::size_t j = 0; j < n; ++j) delta += p[j] * (probe.gradient[j] + r[j]) / sigma;
    }
    delta += (lambda - lambdaBar) * pp;
    if (delta <= 0.0) {
      lambdaBar = 2.0 * (lambda - delta / pp);
      delta = -delta + lambda * pp;
      lambda = lambdaBar;
    }
    const double mu = Dot(p, r);
    const double alpha = mu / delta;
    const Evaluation step = Evaluate(oracle, w + alpha * p, records);
    ++ref.passes;
    const double comparison = 2.0 * delta * (at.error - step.error) / (mu * mu);
    bool restart = false;
    if (comparison >= 0.0) {
      w += alpha * p;
      const std::valarray<double> rOld = r;
      at = step;
      r = -at.gradient;
      lambdaBar = 0.0;
      success = true;
      if (k == n) {
        p = r;
        k = 0;
        restart = true;
        ++ref.restarts;
      } else {
        const double rn = std::sqrt(Dot(r, r));
        const double beta = (rn * rn - Dot(r, rOld)) / mu;
        p = r + beta * p;
        if (comparison >= s.GetUpperDelta()) lambda *= s.GetLambdaReduction();
      }
    } else {
      lambdaBar = lambda;
      success = false;
      ++ref.failures;
    }
    if (!restart && comparison < s.GetLowerDelta()) lambda += delta * (1.0 - comparison) / pp;
    const bool stop = ref.passes >= maxPasses;
    if (success && !restart) ref.shown.push_back(at.error);
    if (stop) {
      if (!success || restart) ref.shown.push_back(at.error);
      break;
    }
  }
  ref.w = w;
  ref.error = at.error;
  return ref;
}

void ExpectSameWeights(const std::valarray<double>& a, const std::valarray<double>& b,
                       double tolerance) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) EXPECT_NEAR(a[i], b[i], tolerance) << "weight " << i;
}

// --- construction ------------------------------------------------------------

TEST(ScaledConjGradConstruct, StartsWithEveryProgressValueMissing) {
  Problem p = Wave();
  ScaledConjGrad& scg = *p.scg;
  EXPECT_EQ(scg.GetAlgorithmStatus(), VXNNCommon::kNotStarted);
  EXPECT_EQ(scg.GetStopReason(), VXNNCommon::kStoppedUndefined);
  EXPECT_EQ(scg.GetNIterations(), 0);
  EXPECT_EQ(scg.GetNDataPasses(), 0);
  EXPECT_EQ(scg.GetNRecordsProcessed(), 0);
  EXPECT_EQ(scg.GetElapsedTime(), 0.0);
  for (double v : {scg.GetTrainError(), scg.GetTestError(), scg.GetLastGradientNorm(),
                   scg.GetRelChangeInErr(), scg.GetErrorRatio(), scg.GetAccuracy()})
    EXPECT_TRUE(VXMV::IsMissing(v));
  ASSERT_EQ(scg.GetAccumGradient().size(), 13u);
  EXPECT_EQ(std::abs(scg.GetAccumGradient()).max(), 0.0);
  EXPECT_EQ(scg.GetAccumError(), 0.0);
  EXPECT_EQ(scg.GetMiniBatchSize(), 0);
}

TEST(ScaledConjGradConstruct, ProgressValuesGoInAndOut) {
  Problem p = Wave();
  p.scg->SetProgressValues(1.5, 2.5, 3.5, 4.5, 5.5, 17);
  double v[5] = {};
  p.scg->GetProgressValues(v[0], v[1], v[2], v[3], v[4]);
  EXPECT_EQ(std::vector<double>(v, v + 5), (std::vector<double>{1.5, 2.5, 3.5, 4.5, 5.5}));
  EXPECT_EQ(p.scg->GetTrainError(), 1.5);
  EXPECT_EQ(p.scg->GetErrorRatio(), 5.5);
  EXPECT_EQ(p.scg->GetNRecordsProcessed(), 17);
  // A negative record count leaves the stored one.
  p.scg->SetProgressValues(0.0, 0.0, 0.0, 0.0, 0.0, -1);
  EXPECT_EQ(p.scg->GetNRecordsProcessed(), 17);
}

// --- training runs -----------------------------------------------------------

TEST(ScaledConjGradTrain, FollowsASecondImplementation) {
  for (const unsigned seed : {11u, 12u, 13u}) {
    SCOPED_TRACE(seed);
    Problem p = Wave(seed);
    Recorder recorder;
    p.settings->SetProgressListener(&recorder);
    p.settings->SetMaxNDataPasses(120);
    EXPECT_TRUE(p.Run().IsOK());
    const Reference ref = RunReference(*p.oracle, p.initial, p.records, *p.settings, 120);
    // The comparison covers rejected steps and restarts.
    EXPECT_GE(ref.failures, 1);
    EXPECT_GE(ref.restarts, 1);
    ExpectSameWeights(WeightsOf(*p.net), ref.w, 1e-9);
    EXPECT_EQ(p.scg->GetNDataPasses(), ref.passes);
    EXPECT_EQ(p.scg->GetNIterations(), ref.iterations);
    EXPECT_NEAR(p.scg->GetTrainError(), ref.error, 1e-9);
    EXPECT_EQ(p.scg->GetStopReason(), VXNNCommon::kStoppedMaxDataPasses);
    EXPECT_EQ(p.scg->GetAlgorithmStatus(), VXNNCommon::kTrained);
    ASSERT_EQ(recorder.shown.size(), ref.shown.size());
    for (std::size_t i = 0; i < ref.shown.size(); ++i)
      EXPECT_NEAR(recorder.shown[i].trainError, ref.shown[i], 1e-9) << "report " << i;
  }
}

TEST(ScaledConjGradTrain, TrainingErrorFallsStepByStep) {
  Problem p = Wave();
  Recorder recorder;
  p.settings->SetProgressListener(&recorder);
  p.settings->SetMaxNDataPasses(200);
  p.Run();
  ASSERT_GE(recorder.shown.size(), 10u);
  const double e0 = Evaluate(*p.oracle, p.initial, p.records).error;
  const double eAvg = MeanModelError(p.records, 2, 1);
  // The first report comes right after the first curvature probe and shows
  // the starting point: one data pass, and already the error ratio.
  EXPECT_EQ(recorder.shown[0].dataPasses, 1);
  EXPECT_EQ(recorder.shown[0].records, 40);
  EXPECT_NEAR(recorder.shown[0].trainError, e0, 1e-12);
  EXPECT_NEAR(recorder.shown[0].errorRatio, e0 / (eAvg + 1e-10), 1e-12);
  // A kept step never raises the error (its comparison ratio is not
  // negative).
  for (std::size_t i = 1; i < recorder.shown.size(); ++i) {
    EXPECT_LE(recorder.shown[i].trainError, recorder.shown[i - 1].trainError) << i;
    EXPECT_GT(recorder.shown[i].dataPasses, recorder.shown[i - 1].dataPasses) << i;
    EXPECT_NEAR(recorder.shown[i].errorRatio, recorder.shown[i].trainError / (eAvg + 1e-10), 1e-12);
  }
  EXPECT_LT(recorder.shown.back().trainError, 0.2 * e0);
  // What the optimizer keeps describes the weights the network holds.
  const Evaluation end = Evaluate(*p.oracle, WeightsOf(*p.net), p.records);
  EXPECT_NEAR(p.scg->GetAccumError(), end.error, 1e-12);
  EXPECT_NEAR(p.scg->GetTrainError(), end.error, 1e-12);
  ExpectSameWeights(p.scg->GetAccumGradient(), end.gradient, 1e-12);
}

// Solves the normal equations of a least-squares fit with a bias, by
// Gaussian elimination with partial pivoting.
std::vector<double> LeastSquares(const std::vector<std::vector<double>>& x,
                                 const std::vector<double>& y) {
  const std::size_t m = x[0].size() + 1;
  std::vector<std::vector<double>> a(m, std::vector<double>(m + 1, 0.0));
  for (std::size_t r = 0; r < x.size(); ++r) {
    std::vector<double> row{1.0};
    row.insert(row.end(), x[r].begin(), x[r].end());
    for (std::size_t i = 0; i < m; ++i) {
      for (std::size_t j = 0; j < m; ++j) a[i][j] += row[i] * row[j];
      a[i][m] += row[i] * y[r];
    }
  }
  for (std::size_t c = 0; c < m; ++c) {
    std::size_t pivot = c;
    for (std::size_t i = c + 1; i < m; ++i)
      if (std::fabs(a[i][c]) > std::fabs(a[pivot][c])) pivot = i;
    std::swap(a[c], a[pivot]);
    for (std::size_t i = 0; i < m; ++i) {
      if (i == c) continue;
      const double f = a[i][c] / a[c][c];
      for (std::size_t j = c; j <= m; ++j) a[i][j] -= f * a[c][j];
    }
  }
  std::vector<double> beta(m);
  for (std::size_t i = 0; i < m; ++i) beta[i] = a[i][m] / a[i][i];
  return beta;
}

TEST(ScaledConjGradTrain, ConvergesToTheLeastSquaresSolution) {
  // Three inputs, two continuous targets, no hidden layer: the error is a
  // convex quadratic of the 8 weights.
  std::mt19937 gen(99);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<Record> records;
  std::vector<std::vector<double>> x;
  std::vector<double> y0, y1;
  for (int r = 0; r < 60; ++r) {
    const std::vector<double> xi = {u(gen), 2.0 * u(gen), 0.5 * u(gen)};
    const double a = 1.5 * xi[0] - 0.7 * xi[1] + 2.0 * xi[2] + 0.4 + 0.1 * u(gen);
    const double b = -0.3 * xi[0] + 0.2 * xi[1] - 1.0 + 0.1 * u(gen);
    x.push_back(xi);
    y0.push_back(a);
    y1.push_back(b);
    records.emplace_back(std::vector<double>{xi[0], xi[1], xi[2], a, b});
  }
  Problem p(3, {1, 1}, {}, VXNNCommon::kIdentity, records, 4);
  p.settings->SetGradientNormLimit(1e-9);
  p.settings->SetMaxNDataPasses(1000);
  EXPECT_TRUE(p.Run().IsOK());
  EXPECT_EQ(p.scg->GetStopReason(), VXNNCommon::kStoppedSmallGradient);
  EXPECT_LT(p.scg->GetLastGradientNorm(), 1e-9);
  // Conjugate directions on a quadratic: a few restarts' worth of steps.
  EXPECT_LE(p.scg->GetNIterations(), 40);

  // Unit by unit, bias first.
  std::vector<double> expected = LeastSquares(x, y0);
  const std::vector<double> second = LeastSquares(x, y1);
  expected.insert(expected.end(), second.begin(), second.end());
  const std::valarray<double> w = WeightsOf(*p.net);
  ExpectSameWeights(w, std::valarray<double>(expected.data(), expected.size()), 1e-8);

  double residual = 0.0;
  for (std::size_t r = 0; r < x.size(); ++r) {
    double fit0 = expected[0], fit1 = expected[4];
    for (std::size_t i = 0; i < 3; ++i) {
      fit0 += expected[i + 1] * x[r][i];
      fit1 += expected[i + 5] * x[r][i];
    }
    residual += 0.5 * ((y0[r] - fit0) * (y0[r] - fit0) + (y1[r] - fit1) * (y1[r] - fit1));
  }
  EXPECT_NEAR(p.scg->GetTrainError(), residual, 1e-10);
  EXPECT_NEAR(p.scg->GetErrorRatio(), residual / (MeanModelError(records, 3, 2) + 1e-10), 1e-10);
}

// --- the iris data -----------------------------------------------------------

struct IrisSplit {
  std::vector<Record> train, test;
};

// The 150 flowers shuffled with a seeded generator, 105 for training and 45
// for testing; inputs standardized with the training records' means and
// standard deviations, the species as a one-of-3 target.
IrisSplit LoadIris(unsigned seed) {
  std::ifstream in(VXNN_DATA_DIR "/iris.csv");
  std::string line;
  std::getline(in, line);
  const std::vector<std::string> species = {"setosa", "versicolor", "virginica"};
  std::vector<std::vector<double>> rows;
  while (std::getline(in, line)) {
    std::stringstream fields(line);
    std::string field;
    std::vector<double> row;
    for (int i = 0; i < 4 && std::getline(fields, field, ','); ++i) row.push_back(std::stod(field));
    std::getline(fields, field);
    while (!field.empty() && (field.back() == '\r' || field.back() == ' ')) field.pop_back();
    const auto found = std::find(species.begin(), species.end(), field);
    if (row.size() != 4 || found == species.end()) continue;
    row.push_back(static_cast<double>(found - species.begin()));
    rows.push_back(row);
  }
  EXPECT_EQ(rows.size(), 150u);
  std::mt19937 gen(seed);
  for (std::size_t i = rows.size() - 1; i > 0; --i) std::swap(rows[i], rows[gen() % (i + 1)]);
  const std::size_t nTrain = rows.size() * 7 / 10;

  double mean[4] = {}, sd[4] = {};
  for (std::size_t r = 0; r < nTrain; ++r)
    for (int i = 0; i < 4; ++i) mean[i] += rows[r][i] / nTrain;
  for (std::size_t r = 0; r < nTrain; ++r)
    for (int i = 0; i < 4; ++i) sd[i] += (rows[r][i] - mean[i]) * (rows[r][i] - mean[i]);
  for (double& s : sd) s = std::sqrt(s / (nTrain - 1));

  IrisSplit split;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    std::vector<double> v;
    for (int i = 0; i < 4; ++i) v.push_back((rows[r][i] - mean[i]) / sd[i]);
    for (int c = 0; c < 3; ++c) v.push_back(rows[r][4] == c ? 1.0 : 0.0);
    (r < nTrain ? split.train : split.test).emplace_back(std::move(v));
  }
  return split;
}

double ClassificationRate(NNetwork& net, const std::vector<Record>& records) {
  int hits = 0;
  for (const Record& r : records) {
    VXStatus status;
    double out[3];
    net.Score(status, r.GetAll(), out);
    const int predicted = static_cast<int>(std::max_element(out, out + 3) - out);
    if (r[4 + predicted] == 1.0) ++hits;
  }
  return static_cast<double>(hits) / records.size();
}

TEST(ScaledConjGradIris, ClassifiesHeldOutFlowersAsWellAsCommonLibraries) {
  // The settings a host gets for 4 inputs and one 3-category target (4 tanh
  // hidden units, SoftMax output with cross entropy, the default stop
  // rules); weights drawn by the system's generator.
  const unsigned splitSeed = 2024;
  const IrisSplit iris = LoadIris(splitSeed);
  ASSERT_EQ(iris.train.size(), 105u);
  double sum = 0.0;
  for (const unsigned weightSeed : {1u, 2u, 3u, 4u, 5u}) {
    SCOPED_TRACE(weightSeed);
    MLPSettings settings(4, {3}, 105);
    ASSERT_EQ(settings.GetNumHiddenUnits(1), 4);
    NNetwork net(settings);
    ASSERT_EQ(net.GetErrorFunction(), VXNNCommon::kCrossEntropy);
    VXRandom rng(weightSeed, true);
    net.RandomizeWeights(rng);
    Recorder recorder;
    settings.SetProgressListener(&recorder);
    ScaledConjGrad scg(&settings, &net);
    auto train = VectorRecordIter::Borrow(iris.train);
    VXStatus status;
    scg.Train(status, train, nullptr, 105, 0);
    EXPECT_TRUE(status.IsOK());
    EXPECT_EQ(scg.GetAlgorithmStatus(), VXNNCommon::kTrained);

    const double testRate = ClassificationRate(net, iris.test);
    const double trainRate = ClassificationRate(net, iris.train);
    std::cout << "[ iris     ] split seed " << splitSeed << ", weight seed " << weightSeed
              << ": stop \"" << VXNNCommon::DisplayText(scg.GetStopReason()) << "\" after "
              << scg.GetNDataPasses() << " passes, training accuracy " << 100.0 * trainRate
              << "%, test accuracy " << 100.0 * testRate << "%\n";
    EXPECT_GE(testRate, 0.93);
    EXPECT_GE(trainRate, 0.95);
    // The optimizer's accuracy is that of its last training pass.
    EXPECT_GE(scg.GetAccuracy(), 0.95);
    ASSERT_GE(recorder.shown.size(), 2u);
    EXPECT_EQ(recorder.shown.front().dataPasses, 1);
    // From about -105 ln(1/3) = 115 at the start to a small fraction.
    EXPECT_LT(recorder.shown.back().trainError, 0.1 * recorder.shown.front().trainError);
    for (std::size_t i = 1; i < recorder.shown.size(); ++i)
      EXPECT_LE(recorder.shown[i].trainError, recorder.shown[i - 1].trainError);
    sum += testRate;
  }
  std::cout << "[ iris     ] mean test accuracy " << 100.0 * sum / 5 << "%\n";
}

// --- stop rules ----------------------------------------------------------------

TEST(ScaledConjGradStop, EachRuleFiresAtTheFirstKeptStepInItsOrder) {
  // On the linear data the first step is kept and is no restart, so it is
  // the first stop test: relaxing the rules one by one exposes their order.
  struct Step {
    void (*relax)(MLPSettings&);
    VXNNCommon::StopReason expected;
  };
  const std::vector<Step> steps = {
      {[](MLPSettings&) {}, VXNNCommon::kStoppedMaxTime},
      {[](MLPSettings& s) { s.SetMaxTime(1e9); }, VXNNCommon::kStoppedMaxDataPasses},
      {[](MLPSettings& s) { s.SetMaxNDataPasses(1000); }, VXNNCommon::kStoppedErrorChangeLimit},
      {[](MLPSettings& s) { s.SetMinRelativeChangeError(0.0); },
       VXNNCommon::kStoppedErrorRatioLimit},
      {[](MLPSettings& s) { s.SetMinErrorRatio(0.0); }, VXNNCommon::kStoppedAccuracy},
  };
  Problem p = Linear();
  const double e0 = Evaluate(*p.oracle, p.initial, p.records).error;
  p.settings->SetMaxTime(0.0);
  p.settings->SetMaxNDataPasses(1);
  p.settings->SetMinRelativeChangeError(10.0);
  p.settings->SetMinErrorRatio(10.0);
  p.settings->SetAccuracy(0.0);
  for (const Step& step : steps) {
    step.relax(*p.settings);
    p.net->SetWeights(p.initial);
    SCOPED_TRACE(VXNNCommon::DisplayText(step.expected));
    EXPECT_TRUE(p.Run().IsOK());
    EXPECT_EQ(p.scg->GetStopReason(), step.expected);
    EXPECT_EQ(p.scg->GetAlgorithmStatus(), VXNNCommon::kTrained);
    EXPECT_EQ(p.scg->GetNIterations(), 1);
    EXPECT_EQ(p.scg->GetNDataPasses(), 3);
    const double e1 = p.scg->GetTrainError();
    EXPECT_LT(e1, e0);
    EXPECT_NEAR(p.scg->GetRelChangeInErr(), std::fabs(e1 - e0) / ((e0 + e1) / 2 + 1e-10), 1e-12);
    EXPECT_NEAR(Evaluate(*p.oracle, WeightsOf(*p.net), p.records).error, e1, 1e-12);
  }
}

TEST(ScaledConjGradStop, SmallGradientIsTestedAfterAStepNotAtTheStart) {
  Problem p = Linear();
  p.settings->SetGradientNormLimit(1e9);
  p.Run();
  EXPECT_EQ(p.scg->GetStopReason(), VXNNCommon::kStoppedSmallGradient);
  EXPECT_EQ(p.scg->GetNDataPasses(), 3);
  EXPECT_EQ(p.scg->GetNIterations(), 1);
  const Evaluation end = Evaluate(*p.oracle, WeightsOf(*p.net), p.records);
  EXPECT_NEAR(p.scg->GetLastGradientNorm(), Norm(end.gradient), 1e-12);
}

TEST(ScaledConjGradStop, RestartIterationsTestOnlyTheTimeAndPassLimits) {
  // A network of one weight (the output bias, no inputs): every kept step
  // is a restart, so the change rule, which would fire at any stop test,
  // never does; reports go out only after the first probe and at the end.
  std::vector<Record> records;
  for (double t : {0.3, 1.1, -0.4, 2.2, 0.9}) records.emplace_back(std::vector<double>{t});
  Problem p(0, {1}, {}, VXNNCommon::kIdentity, records, 3);
  ASSERT_EQ(p.net->GetNumWeights(), 1);
  Recorder recorder;
  p.settings->SetProgressListener(&recorder);
  p.settings->SetMinRelativeChangeError(1e9);
  p.settings->SetMaxNDataPasses(9);
  p.Run();
  EXPECT_EQ(p.scg->GetStopReason(), VXNNCommon::kStoppedMaxDataPasses);
  EXPECT_EQ(p.scg->GetNDataPasses(), 9);
  EXPECT_EQ(p.scg->GetNIterations(), 4);
  ASSERT_EQ(recorder.shown.size(), 2u);
  EXPECT_EQ(recorder.shown[0].dataPasses, 1);
  EXPECT_EQ(recorder.shown[1].dataPasses, 9);
  // The bias reached the mean target.
  EXPECT_NEAR(WeightsOf(*p.net)[0], (0.3 + 1.1 - 0.4 + 2.2 + 0.9) / 5, 1e-9);
}

TEST(ScaledConjGradStop, NeverImprovingTestErrorEndsAtTheInitialWeights) {
  // From weights 0 every step towards the training data's slope moves away
  // from the test data, whose targets have the opposite sign.
  Problem p = Linear();
  p.initial = 0.0;
  p.net->SetWeights(p.initial);
  const std::vector<Record> testRecords = LinearRecords(40, 8, -1.0);
  p.settings->SetMaxNStepsTrackError(2);
  p.settings->SetMaxNDataPasses(1000);
  auto test = VectorRecordIter::Borrow(testRecords);
  const double e0 = Evaluate(*p.oracle, p.initial, p.records).error;
  const double t0 = Evaluate(*p.oracle, p.initial, testRecords).error;
  EXPECT_TRUE(p.Run(&test).IsOK());
  EXPECT_EQ(p.scg->GetStopReason(), VXNNCommon::kStoppedVerifyingCycle);
  ExpectSameWeights(WeightsOf(*p.net), p.initial, 0.0);
  EXPECT_EQ(p.scg->GetTrainError(), e0);
  EXPECT_EQ(p.scg->GetAccumError(), e0);
  EXPECT_EQ(p.scg->GetTestError(), t0);
  ExpectSameWeights(p.scg->GetAccumGradient(), Evaluate(*p.oracle, p.initial, p.records).gradient,
                    1e-12);
  EXPECT_EQ(p.scg->GetNIterations(), 2);
  EXPECT_EQ(p.scg->GetNRecordsProcessed(), 70);
  // Recomputed from the restored error with the mean model's error.
  EXPECT_NEAR(p.scg->GetErrorRatio(), e0 / (MeanModelError(p.records, 2, 1) + 1e-10), 1e-12);
}

TEST(ScaledConjGradStop, SmallGradientWithTestDataEndsAtTheBestVerifiedWeights) {
  // The test records are the training records: every verified iteration
  // is a new best, but the iteration that meets the gradient limit is not
  // verified, so the run goes back one iteration.
  Problem p = Linear();
  auto test = VectorRecordIter::Borrow(p.records);
  Recorder recorder;
  p.settings->SetProgressListener(&recorder);
  p.settings->SetGradientNormLimit(1e-6);
  p.settings->SetMaxNDataPasses(1000);
  p.Run(&test);
  EXPECT_EQ(p.scg->GetStopReason(), VXNNCommon::kStoppedSmallGradient);
  ASSERT_GE(recorder.shown.size(), 3u);
  const Shown& lastVerified = recorder.shown[recorder.shown.size() - 2];
  const std::valarray<double> w = WeightsOf(*p.net);
  const Evaluation at = Evaluate(*p.oracle, w, p.records);
  EXPECT_EQ(p.scg->GetTrainError(), lastVerified.trainError);
  EXPECT_NEAR(at.error, lastVerified.trainError, 1e-12);
  EXPECT_NEAR(p.scg->GetTestError(), at.error, 1e-12);
  EXPECT_GT(Norm(at.gradient), 1e-6);
  EXPECT_NEAR(p.scg->GetErrorRatio(), at.error / (MeanModelError(p.records, 2, 1) + 1e-10), 1e-12);
  EXPECT_EQ(recorder.shown.back().trainError, lastVerified.trainError);
}

TEST(ScaledConjGradStop, VanishingGradientEndsTheRunWithoutAStep) {
  // All targets and weights 0: the gradient is exactly 0 and there is no
  // direction to search, whatever the gradient limit.
  Problem p = Linear();
  for (Record& r : p.records) r[2] = 0.0;
  p.net->SetWeights(std::valarray<double>(0.0, 3));
  p.settings->SetGradientNormLimit(0.0);
  EXPECT_TRUE(p.Run().IsOK());
  EXPECT_EQ(p.scg->GetStopReason(), VXNNCommon::kStoppedSmallGradient);
  EXPECT_EQ(p.scg->GetNDataPasses(), 1);
  EXPECT_EQ(p.scg->GetNIterations(), 0);
  EXPECT_EQ(std::abs(WeightsOf(*p.net)).max(), 0.0);
}

// --- failures --------------------------------------------------------------------

TEST(ScaledConjGradFailure, CurvatureOverflowGives50001AndKeepsTheProbe) {
  Problem p = Wave();
  p.settings->SetLambdaInit(1e308);
  const VXStatus status = p.Run();
  EXPECT_EQ(status.GetErrorCode(), 50001);
  EXPECT_TRUE(status.IsError());
  EXPECT_EQ(p.scg->GetAlgorithmStatus(), VXNNCommon::kInconsistent);
  EXPECT_EQ(p.scg->GetNIterations(), 1);
  EXPECT_EQ(p.scg->GetNDataPasses(), 2);
  // The network holds the probe w + sigma0 / |p| p, p the steepest descent.
  const std::valarray<double> g = Evaluate(*p.oracle, p.initial, p.records).gradient;
  const std::valarray<double> probe = p.initial - (5e-5 / Norm(g)) * g;
  ExpectSameWeights(WeightsOf(*p.net), probe, 1e-15);
}

TEST(ScaledConjGradFailure, CancelReplacesTheOverflowCode) {
  Problem p = Wave();
  bool cancel = false;
  CancelWhen host([&] { return cancel; });
  p.settings->SetCancelPointer(&host);
  p.scg = std::make_unique<ScaledConjGrad>(p.settings.get(), p.net.get());
  // The first report comes after the probe, before the curvature overflows.
  Recorder recorder;
  recorder.then = [&] { cancel = true; };
  p.settings->SetProgressListener(&recorder);
  p.settings->SetLambdaInit(1e308);
  const VXStatus status = p.Run();
  EXPECT_EQ(status, VXStatus(1, false));
  EXPECT_EQ(p.scg->GetAlgorithmStatus(), VXNNCommon::kCancelled);
}

TEST(ScaledConjGradFailure, CancelKeepsTheLastAcceptedWeights) {
  for (const int pollsBeforeCancel : {10, 100, 250, 333, 1000}) {
    SCOPED_TRACE(pollsBeforeCancel);
    Problem p = Wave();
    int polls = 0;
    CancelWhen host([&] { return ++polls > pollsBeforeCancel; });
    p.settings->SetCancelPointer(&host);
    p.scg = std::make_unique<ScaledConjGrad>(p.settings.get(), p.net.get());
    p.settings->SetMaxNDataPasses(1000);
    const VXStatus status = p.Run();
    EXPECT_EQ(status.GetErrorCode(), 1);
    EXPECT_TRUE(status.IsError());
    EXPECT_EQ(p.scg->GetAlgorithmStatus(), VXNNCommon::kCancelled);
    EXPECT_TRUE(p.scg->IsCanceled());
    const std::valarray<double> w = WeightsOf(*p.net);
    const double error = Evaluate(*p.oracle, w, p.records).error;
    if (pollsBeforeCancel < 40) {
      // Cancelled inside the starting pass: nothing was measured or moved.
      ExpectSameWeights(w, p.initial, 0.0);
    } else {
      EXPECT_NEAR(p.scg->GetAccumError(), error, 1e-12);
    }
  }
}

// --- updates ---------------------------------------------------------------------

struct Trained {
  explicit Trained(int passes = 30) : p(Wave()), newRecords(WaveRecords(12, 77)) {
    p.settings->SetMaxNDataPasses(passes);
    p.Run();
  }
  VXStatus Update(bool& changed) {
    auto train = VectorRecordIter::Borrow(p.records);
    auto added = VectorRecordIter::Borrow(newRecords);
    VXStatus status;
    return p.scg->Update(status, train, added, 12, changed);
  }
  std::vector<Record> All() const {
    std::vector<Record> all = p.records;
    all.insert(all.end(), newRecords.begin(), newRecords.end());
    return all;
  }
  Problem p;
  std::vector<Record> newRecords;
};

TEST(ScaledConjGradUpdate, BatchStepLowersTheErrorOfOldAndNewRecords) {
  Trained t;
  const std::vector<Record> all = t.All();
  const std::valarray<double> before = WeightsOf(*t.p.net);
  const double errorBefore = Evaluate(*t.p.oracle, before, all).error;
  const int passes = t.p.scg->GetNDataPasses();
  const double elapsed = t.p.scg->GetElapsedTime();
  bool changed = false;
  EXPECT_TRUE(t.Update(changed).IsOK());
  ASSERT_TRUE(changed);
  const Evaluation after = Evaluate(*t.p.oracle, WeightsOf(*t.p.net), all);
  EXPECT_LT(after.error, errorBefore);
  EXPECT_NEAR(t.p.scg->GetTrainError(), after.error, 1e-12);
  EXPECT_NEAR(t.p.scg->GetAccumError(), after.error, 1e-12);
  EXPECT_NEAR(t.p.scg->GetLastGradientNorm(), Norm(after.gradient), 1e-12);
  EXPECT_EQ(t.p.scg->GetNDataPasses(), passes + 2);
  EXPECT_EQ(t.p.scg->GetNRecordsProcessed(), 52);
  EXPECT_GE(t.p.scg->GetElapsedTime(), elapsed);
  EXPECT_EQ(t.p.scg->GetAlgorithmStatus(), VXNNCommon::kTrained);
  for (double v : {t.p.scg->GetRelChangeInErr(), t.p.scg->GetErrorRatio(), t.p.scg->GetTestError()})
    EXPECT_TRUE(VXMV::IsMissing(v));
  // The step is the scaled step along the steepest descent of all records.
  const Evaluation at = Evaluate(*t.p.oracle, before, all);
  const std::valarray<double> moved = WeightsOf(*t.p.net) - before;
  EXPECT_NEAR(std::fabs((moved * at.gradient).sum()), Norm(moved) * Norm(at.gradient),
              1e-9 * Norm(moved) * Norm(at.gradient));
}

TEST(ScaledConjGradUpdate, RefusedStepLeavesTheWeightsExactly) {
  Trained t;
  // A probe far out in the saturated tanh units misjudges the curvature;
  // the step overshoots and is refused.
  t.p.settings->SetSigmaInit(1e4);
  const std::valarray<double> before = WeightsOf(*t.p.net);
  const double error = t.p.scg->GetAccumError();
  bool changed = true;
  EXPECT_TRUE(t.Update(changed).IsOK());
  EXPECT_FALSE(changed);
  ExpectSameWeights(WeightsOf(*t.p.net), before, 0.0);
  // The error now covers the new records too.
  EXPECT_NEAR(t.p.scg->GetAccumError(), Evaluate(*t.p.oracle, before, t.All()).error, 1e-12);
  EXPECT_GT(t.p.scg->GetAccumError(), error);
}

TEST(ScaledConjGradUpdate, MiniBatchUpdateTypeFillsTheBuffer) {
  Trained t;
  t.p.settings->SetUpdateType(VXNNCommon::kMiniBatch);
  t.p.settings->SetMiniBatchSize(10);
  bool changed = false;
  EXPECT_TRUE(t.Update(changed).IsOK());
  ASSERT_NE(t.p.scg->GetRecordBuffer(), nullptr);
  EXPECT_EQ(t.p.scg->GetMiniBatchSize(), 10);
  // 12 records: one mini-batch of 10; the 2 left, below a quarter of a
  // mini-batch, wait in the buffer.
  EXPECT_EQ(t.p.scg->GetNIterations(), 1);
  EXPECT_EQ(t.p.scg->GetRecordBuffer()->GetCount(), 2);
}

// --- saved forms -------------------------------------------------------------------

// A trained optimizer with a mini-batch buffer (when asked), saved with its
// network, and a second one restored from the saved forms.
struct Saved {
  explicit Saved(bool buffer) {
    if (buffer) {
      t.p.settings->SetUpdateType(VXNNCommon::kMiniBatch);
      t.p.settings->SetMiniBatchSize(10);
      bool changed = false;
      t.Update(changed);
      EXPECT_EQ(t.p.scg->GetRecordBuffer()->GetCount(), 2);
      t.p.settings->SetUpdateType(VXNNCommon::kBatch);
    }
  }
  // Restores network and optimizer through the binary or the XML form.
  void Restore(bool xml) {
    std::stringstream netStream, optStream;
    settings = std::make_unique<MLPSettings>(*t.p.settings);
    net = std::make_unique<NNetwork>();
    net->SetSettings(settings.get());
    if (xml) {
      t.p.net->WriteObjectXML(netStream);
      net->ReadObjectXML(netStream);
      EXPECT_GT(t.p.scg->WriteObjectXML(optStream), 0);
    } else {
      t.p.net->WriteObject(netStream);
      net->ReadObject(netStream);
      EXPECT_GT(t.p.scg->WriteObject(optStream), 0);
    }
    scg = std::make_unique<ScaledConjGrad>(settings.get(), net.get());
    if (xml)
      EXPECT_GT(scg->ReadObjectXML(optStream), 0);
    else
      EXPECT_EQ(scg->ReadObject(optStream), static_cast<int>(optStream.str().size()));
  }
  Trained t;
  std::unique_ptr<MLPSettings> settings;
  std::unique_ptr<NNetwork> net;
  std::unique_ptr<ScaledConjGrad> scg;
};

// The elapsed times agree only for a restored copy, not after both ran on.
void ExpectSameState(const ScaledConjGrad& a, const ScaledConjGrad& b, bool sameClock = true) {
  EXPECT_EQ(a.GetAlgorithmStatus(), b.GetAlgorithmStatus());
  EXPECT_EQ(a.GetStopReason(), b.GetStopReason());
  if (sameClock) {
    EXPECT_EQ(a.GetElapsedTime(), b.GetElapsedTime());
  }
  EXPECT_EQ(a.GetNIterations(), b.GetNIterations());
  EXPECT_EQ(a.GetNDataPasses(), b.GetNDataPasses());
  EXPECT_EQ(a.GetNRecordsProcessed(), b.GetNRecordsProcessed());
  EXPECT_EQ(a.GetTrainError(), b.GetTrainError());
  EXPECT_EQ(a.GetTestError(), b.GetTestError());
  EXPECT_EQ(a.GetLastGradientNorm(), b.GetLastGradientNorm());
  EXPECT_EQ(a.GetRelChangeInErr(), b.GetRelChangeInErr());
  EXPECT_EQ(a.GetErrorRatio(), b.GetErrorRatio());
  EXPECT_EQ(a.GetAccumError(), b.GetAccumError());
  ExpectSameWeights(a.GetAccumGradient(), b.GetAccumGradient(), 0.0);
  EXPECT_EQ(a.GetMiniBatchSize(), b.GetMiniBatchSize());
  ASSERT_EQ(a.GetRecordBuffer() == nullptr, b.GetRecordBuffer() == nullptr);
  if (a.GetRecordBuffer() != nullptr) {
    ASSERT_EQ(a.GetRecordBuffer()->GetCount(), b.GetRecordBuffer()->GetCount());
    for (int i = 0; i < a.GetRecordBuffer()->GetCount(); ++i)
      for (int j = 0; j < a.GetRecordBuffer()->GetWidth(); ++j)
        EXPECT_EQ((*a.GetRecordBuffer()->GetRecordAt(i))[j],
                  (*b.GetRecordBuffer()->GetRecordAt(i))[j]);
  }
}

TEST(ScaledConjGradPersist, BinaryRecordBeginsWithItsTagAndIsLaidOutInOrder) {
  Saved s(false);
  std::stringstream out;
  const int bytes = s.t.p.scg->WriteObject(out);
  const std::string data = out.str();
  EXPECT_EQ(bytes, static_cast<int>(data.size()));
  // Tag, 2 ints, a double, 3 ints, 7 doubles, the gradient length and 13
  // doubles, fAccumError, fMiniBatchSize 0.
  EXPECT_EQ(data.substr(0, 3), "SCG");
  EXPECT_EQ(bytes, 3 + 8 + 8 + 12 + 56 + 4 + 8 * 13 + 8 + 4);
  EXPECT_EQ(data[3], static_cast<char>(VXNNCommon::kTrained));
  EXPECT_EQ(data[7], static_cast<char>(VXNNCommon::kStoppedMaxDataPasses));
  EXPECT_EQ(data[87], 13);
}

TEST(ScaledConjGradPersist, BothFormsRestoreEveryValue) {
  for (const bool buffer : {false, true})
    for (const bool xml : {false, true}) {
      SCOPED_TRACE(std::string(xml ? "xml" : "binary") + (buffer ? " with buffer" : ""));
      Saved s(buffer);
      s.Restore(xml);
      ExpectSameState(*s.t.p.scg, *s.scg);
      // Writing the restored optimizer gives the same stream.
      std::stringstream a, b;
      if (xml) {
        s.t.p.scg->WriteObjectXML(a);
        s.scg->WriteObjectXML(b);
      } else {
        s.t.p.scg->WriteObject(a);
        s.scg->WriteObject(b);
      }
      EXPECT_EQ(a.str(), b.str());
      if (xml) {
        EXPECT_NE(a.str().find("ScaledConjGrad"), std::string::npos);
      }
    }
}

TEST(ScaledConjGradPersist, RestoredOptimizerContinuesIdentically) {
  for (const bool xml : {false, true}) {
    SCOPED_TRACE(xml ? "xml" : "binary");
    Saved s(true);
    s.Restore(xml);
    Problem& original = s.t.p;
    // A batch update, then a mini-batch update that starts from the two
    // waiting records, then a new run: the two optimizers stay in step.
    for (ScaledConjGrad* scg : {original.scg.get(), s.scg.get()}) {
      auto train = VectorRecordIter::Borrow(original.records);
      auto added = VectorRecordIter::Borrow(s.t.newRecords);
      bool changed = false;
      VXStatus status;
      scg->Update(status, train, added, 12, changed);
      EXPECT_TRUE(changed);
    }
    ExpectSameState(*original.scg, *s.scg, false);
    ExpectSameWeights(WeightsOf(*original.net), WeightsOf(*s.net), 0.0);
    original.settings->SetUpdateType(VXNNCommon::kMiniBatch);
    s.settings->SetUpdateType(VXNNCommon::kMiniBatch);
    for (ScaledConjGrad* scg : {original.scg.get(), s.scg.get()}) {
      auto train = VectorRecordIter::Borrow(original.records);
      auto added = VectorRecordIter::Borrow(s.t.newRecords);
      bool changed = false;
      VXStatus status;
      scg->Update(status, train, added, 12, changed);
      EXPECT_EQ(scg->GetNIterations(), 2);
      EXPECT_EQ(scg->GetRecordBuffer()->GetCount(), 0);
    }
    ExpectSameWeights(WeightsOf(*original.net), WeightsOf(*s.net), 0.0);
    original.settings->SetMaxNDataPasses(40);
    s.settings->SetMaxNDataPasses(40);
    for (ScaledConjGrad* scg : {original.scg.get(), s.scg.get()}) {
      auto train = VectorRecordIter::Borrow(original.records);
      VXStatus status;
      scg->Train(status, train, nullptr, 1000, 0);
    }
    ExpectSameState(*original.scg, *s.scg, false);
    ExpectSameWeights(WeightsOf(*original.net), WeightsOf(*s.net), 0.0);
  }
}

// Reads data into a fresh optimizer of the saved one's shape; returns what
// went to standard error, or "no failure".
std::string ReadFailure(Saved& s, const std::string& data, bool xml) {
  ScaledConjGrad fresh(s.t.p.settings.get(), s.t.p.net.get());
  std::stringstream in(data);
  bool threw = false;
  const std::string err = CaptureStderr([&] {
    threw = ThrowsIOException([&] { xml ? fresh.ReadObjectXML(in) : fresh.ReadObject(in); });
  });
  // A failed read leaves the optimizer as constructed.
  EXPECT_EQ(fresh.GetAlgorithmStatus(), VXNNCommon::kNotStarted);
  EXPECT_TRUE(VXMV::IsMissing(fresh.GetTrainError()));
  EXPECT_EQ(fresh.GetRecordBuffer(), nullptr);
  return threw ? err : "no failure";
}

TEST(ScaledConjGradPersist, TruncatedStreamsFailCleanly) {
  Saved s(true);
  for (const bool xml : {false, true}) {
    std::stringstream out;
    xml ? s.t.p.scg->WriteObjectXML(out) : s.t.p.scg->WriteObject(out);
    const std::string data = out.str();
    const std::string own =
        xml ? "Failure reading ScaledConjGrad!\n" : "Error reading ScaledConjGrad!\n";
    const std::string buffer = xml ? "Error restoring VXNeural::RecordBufferIter from XML.\n"
                                   : "Error reading RecordBufferIter!\n";
    // Only the XML document's last line end may go without harm.
    const std::size_t end = xml ? data.find_last_not_of('\n') + 1 : data.size();
    for (std::size_t n = 0; n < end; ++n) {
      const std::string err = ReadFailure(s, data.substr(0, n), xml);
      EXPECT_TRUE(err == own || err == buffer)
          << (xml ? "xml" : "binary") << " cut at " << n << ": " << err;
    }
  }
}

void PutInt(std::string& data, std::size_t at, int32_t value) {
  for (int i = 0; i < 4; ++i) data[at + i] = static_cast<char>((value >> (8 * i)) & 0xff);
}

TEST(ScaledConjGradPersist, CorruptedBinaryRecordsFailWithTheirMessage) {
  Saved s(true);
  std::stringstream out;
  s.t.p.scg->WriteObject(out);
  const std::string good = out.str();
  const std::size_t gradientAt = 87;
  const std::size_t miniBatchAt = gradientAt + 4 + 8 * 13 + 8;
  const std::string message = "Error reading ScaledConjGrad!\n";

  std::string bad = good;
  bad.replace(0, 3, "GDB");
  EXPECT_EQ(ReadFailure(s, bad, false), message) << "tag";
  for (const auto& [at, value] : std::vector<std::pair<std::size_t, int32_t>>{
           {3, 9},                    // status beyond Inconsistent
           {3, -1},                   //
           {7, 9},                    // stop reason beyond Stopped Computed
           {gradientAt, 12},          // gradient of another network
           {gradientAt, -1},          //
           {gradientAt, 0x7fffffff},  // far beyond the stream
           {miniBatchAt, -3},         //
           {miniBatchAt + 4, 4},      // record width of another network
       }) {
    bad = good;
    PutInt(bad, at, value);
    EXPECT_EQ(ReadFailure(s, bad, false), message) << "int at " << at << " = " << value;
  }
  // A capacity that disagrees with fMiniBatchSize.
  bad = good;
  PutInt(bad, miniBatchAt, 9);
  EXPECT_NE(ReadFailure(s, bad, false), "no failure");

  // The record of the other batch optimizer is refused by tag.
  GradientDescentBatch gdb(s.t.p.settings.get(), s.t.p.net.get());
  std::stringstream other;
  gdb.WriteObject(other);
  EXPECT_EQ(ReadFailure(s, other.str(), false), message);
  EXPECT_EQ(ReadFailure(s, "", false), message);
}

TEST(ScaledConjGradPersist, CorruptedXmlObjectsFailWithTheirMessage) {
  Saved s(false);
  std::stringstream out;
  s.t.p.scg->WriteObjectXML(out);
  const std::string good = out.str();
  const std::string message = "Failure reading ScaledConjGrad!\n";

  GradientDescentBatch gdb(s.t.p.settings.get(), s.t.p.net.get());
  std::stringstream other;
  gdb.WriteObjectXML(other);
  EXPECT_EQ(ReadFailure(s, other.str(), true), message);

  // Every value element in turn made unparsable.
  std::size_t values = 0;
  for (std::size_t at = good.find("<double>"); at != std::string::npos;
       at = good.find("<double>", at + 1)) {
    std::string bad = good;
    bad.replace(at + 8, 1, "x");
    EXPECT_EQ(ReadFailure(s, bad, true), message) << "value at " << at;
    ++values;
  }
  EXPECT_GE(values, 20u);
  std::string bad = good;
  const std::size_t firstInt = good.find("<int>");
  ASSERT_NE(firstInt, std::string::npos);
  bad.replace(firstInt, 5, "<double>");
  EXPECT_EQ(ReadFailure(s, bad, true), message);
}

TEST(ScaledConjGradPersist, DisplayIsFramedAndNamesEveryField) {
  Trained t;
  std::ostringstream out;
  t.p.scg->Display(out);
  const std::string text = out.str();
  EXPECT_EQ(text.rfind("Start of ScaledConjGrad display\nIsCanceled() = false\n", 0), 0u);
  EXPECT_EQ(text.substr(text.size() - 30), "End of ScaledConjGrad display\n");
  for (const char* item :
       {"Start of NNetwork display", "Algorithm status = Trained\n",
        "Stop Reason = Stopped Max Data Passes\n",
        "fElapsedTime = ", "fNIterations = ", "fNRecordsProcessed = 40\n", "fTrainErrorPrev",
        "fTestErrorPrev", "fTrainErrorNew", "fTestErrorNew", "fLastGradientNorm", "fRelChangeInErr",
        "fErrorRatio", "fAccumGradient", "fAccumError = ", "fMiniBatchSize = 0\n"})
    EXPECT_NE(text.find(item), std::string::npos) << item;
  EXPECT_NE(text.find("fNDataPasses = " + std::to_string(t.p.scg->GetNDataPasses()) + "\n"),
            std::string::npos);
}

}  // namespace
