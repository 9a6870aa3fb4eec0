// The optimizers and solvers. Batch gradient descent worked by hand (its
// step search, momentum cap and progress reports), the stop rules and the
// verifying cycle the batch optimizers share; mini-batch and online
// gradient descent (steps, rate decay, momentum cap, record order) and
// scaled conjugate gradient against second implementations written out
// plainly here. The least-squares output solvers: the sweep-operator
// regression by the normal equations its fit must satisfy, its handling of
// collinear regressors, and RBFLinReg / LinearRegr solving a network's
// output weights and updating them. The saved forms of all of them and the
// record buffer they carry: layouts against records assembled here field
// by field (every value must arrive where it belongs), a restored optimizer
// that carries on like the original, and refusal of truncated, corrupted
// and implausible streams in both forms.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <valarray>
#include <vector>

#include "common/host_doubles.h"
#include "common/saved_forms.h"
#include "vxcommon/Callbacks.h"
#include "vxcommon/Record.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/VXNNCommon.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/algorithm/RBFSettings.h"
#include "vxneural/data/BinaryRecordIterator.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/RBFHiddenLayer.h"
#include "vxneural/network/VXRandom.h"
#include "vxneural/network/network_fixtures.h"
#include "vxneural/network/record_fields.h"
#include "vxneural/optim/GradientDescentBatch.h"
#include "vxneural/optim/GradientDescentMBO.h"
#include "vxneural/optim/IOptimizationAlgorithm.h"
#include "vxneural/optim/LinearRegr.h"
#include "vxneural/optim/MultiVariateRegression.h"
#include "vxneural/optim/RBFLinReg.h"
#include "vxneural/optim/ScaledConjGrad.h"

namespace {

using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::Record;
using VXCommon_1_2::VectorRecordIter;
using VXCommon_1_2::VXStatus;

// Settings for inputs -> hidden... -> outputs, with every stop rule switched
// off except a data-pass limit of 50, and batch updates.
std::unique_ptr<MLPSettings> MakeSettings(int inputs, const std::vector<int>& categories,
                                          const std::vector<int>& hidden,
                                          VXNNCommon::ActivationFunction outputFn, int records) {
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
std::vector<Record> LinearRecords(int n, unsigned seed, double slope = 1.0) {
  return SampledRecords(
      n, seed, [slope](double x0, double x1) { return slope * (0.8 * x0 - 0.5 * x1 + 0.3); });
}

using network_fixtures::RandomWeights;
using network_fixtures::WeightsOf;

// Stop reason, status, data passes, iterations and records of a run.
auto Counts(const IOptimizationAlgorithm& o) {
  return std::make_tuple(o.GetStopReason(), o.GetAlgorithmStatus(), o.GetNDataPasses(),
                         o.GetNIterations(), o.GetNRecordsProcessed());
}

void ExpectWeightsNear(const std::valarray<double>& actual, const std::valarray<double>& expected,
                       double tolerance = 1e-12) {
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
Evaluation Evaluate(NNetwork& net, const std::valarray<double>& w,
                    const std::vector<Record>& records) {
  net.ResetAll();
  net.SetWeights(w);
  auto source = VectorRecordIter::Borrow(records);
  VXStatus status;
  int n = 0;
  net.ProcessRecords(status, source, static_cast<int>(records.size()), n, false, false);
  Evaluation e{net.GetAccumError(), {}};
  net.GetGradient(e.gradient);
  return e;
}

// The sum-of-squares error of predicting every target by its mean.
double MeanModelError(const std::vector<Record>& records, int inputs, int outputs) {
  double e = 0.0;
  for (int k = inputs; k < inputs + outputs; ++k) {
    double mean = 0.0;
    for (const Record& r : records) mean += r[k] / static_cast<double>(records.size());
    for (const Record& r : records) e += 0.5 * (r[k] - mean) * (r[k] - mean);
  }
  return e;
}

double RelativeChange(double e0, double e1) { return std::fabs(e1 - e0) / ((e0 + e1) / 2 + 1e-10); }

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
        initial(RandomWeights(net->GetNumWeights(), seed, -0.5, 0.5)) {
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
Problem LinearProblem(const std::vector<int>& hidden, int n, unsigned dataSeed,
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
  double trainError, testError, errorRatio;
};
struct Recorder : VXCommon_1_2::ProgressListener {
  void Report(VXCommon_1_2::ProgressReport& r) override {
    shown.push_back({r.DiscreteMeasure("dataPasses"), r.DiscreteMeasure("records"),
                     r.ScaleMeasure("trainError"), r.ScaleMeasure("testError"),
                     r.ScaleMeasure("errorRatio")});
  }
  std::vector<Shown> shown;
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

// --- Sources that fail part way --------------------------------------------

// A pass over a source that fails part way must not pass for a pass over
// all of it: training and test passes end the run with 50014 (training
// records) or 50015 (test records), in state Inconsistent, and the solver
// leaves the output weights as they were. The sources: a temporary file of
// encoded records cut inside its 13th record (the system's own reader ends
// in status 3), and a source that turns bad when asked for its 13th record
// (so that nothing told of the failure before).
// The records up to the middle of record cut, in a temporary file read by
// the system's reader (which deletes nothing: the file has no name).
std::unique_ptr<MultiPassRecordIter> CutFile(const std::vector<Record>& records, std::size_t cut) {
  std::FILE* file = std::tmpfile();
  const std::size_t width = records[0].Size();
  for (std::size_t r = 0; r < cut; ++r)
    std::fwrite(records[r].GetAll(), sizeof(double), width, file);
  std::fwrite(records[cut].GetAll(), sizeof(double), width / 2, file);
  std::rewind(file);
  return std::make_unique<VXNeural::BinaryRecordIterator>(file, static_cast<int>(width), "");
}

TEST(SourceFailingPartWay, EveryTrainingAndTestPassAnswersTheSourceCode) {
  const std::vector<Record> records = network_fixtures::MakeRecords(2, {1}, 30, 5);
  enum Method { kSCG, kGD, kRBFSolver, kLinear };
  const struct {
    Method method;
    bool test;  // the test records fail, not the training records
  } runs[] = {{kSCG, false}, {kSCG, true},        {kGD, false},
              {kGD, true},   {kRBFSolver, false}, {kLinear, false}};
  for (const auto& run : runs)
    for (const bool cutFile : {true, false}) {
      SCOPED_TRACE(std::to_string(run.method) + (run.test ? " test" : " training") +
                   (cutFile ? ", file cut" : ", turns bad"));
      host_doubles::FailsWhenAsked turnsBad(records, 12);
      std::unique_ptr<MultiPassRecordIter> cut = CutFile(records, 12);
      MultiPassRecordIter& failing = cutFile ? *cut : turnsBad;
      auto good = VectorRecordIter::Borrow(records);
      MultiPassRecordIter& train = run.test ? good : failing;
      MultiPassRecordIter* test = run.test ? &failing : nullptr;
      const int code = run.test ? 50015 : 50014;
      VXStatus status;
      if (run.method == kRBFSolver) {
        RBFSettings settings(2, {1}, 30);
        settings.SetNumHiddenUnits(4, 1);
        NNetwork net(settings);
        VXRandom rng(3, true);
        net.RandomizeWeights(rng, -1.0, 1.0);
        const std::valarray<double> before = WeightsOf(net);
        RBFLinReg solver(&settings, &net);
        status = solver.TrainPass(train, 1000);
        EXPECT_EQ(solver.GetAlgorithmStatus(), VXNNCommon::kInconsistent);
        ExpectWeightsNear(WeightsOf(net), before, 0.0);
      } else {
        auto settings =
            MakeSettings(2, {1}, run.method == kLinear ? std::vector<int>{} : std::vector<int>{3},
                         VXNNCommon::kIdentity, 30);
        NNetwork net(*settings);
        net.SetWeights(RandomWeights(net.GetNumWeights(), 4, -0.5, 0.5));
        std::unique_ptr<IOptimizationAlgorithm> opt;
        if (run.method == kSCG) opt = std::make_unique<ScaledConjGrad>(settings.get(), &net);
        if (run.method == kGD) opt = std::make_unique<GradientDescentBatch>(settings.get(), &net);
        if (run.method == kLinear) opt = std::make_unique<LinearRegr>(settings.get(), &net);
        opt->Train(status, train, test, 1000, 1000);
        EXPECT_EQ(opt->GetAlgorithmStatus(), VXNNCommon::kInconsistent);
      }
      EXPECT_EQ(status, VXStatus(code, false));
    }
}

// --- The least-squares solvers -----------------------------------------------

using Rows = std::vector<std::vector<double>>;

// n records of x (nx regressors from make) and q noisy linear responses.
struct Data {
  Rows x, y;
  std::vector<double> w;
};

Data MakeData(int n, int nx, int q, unsigned seed, bool weighted, const double (*m)[3] = nullptr) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Data d;
  for (int r = 0; r < n; ++r) {
    std::vector<double> x(static_cast<std::size_t>(nx), 0.0), y;
    for (int i = 0; i < nx; ++i) x[i] = u(gen);
    // Regressors as combinations m of the draws, which may make them collinear.
    const std::vector<double> draws = x;
    for (int i = 0; i < nx && m; ++i)
      x[i] = m[i][0] * draws[0] + m[i][1] * draws[1] + m[i][2] * draws[2];
    for (int t = 0; t < q; ++t) {
      y.push_back(0.5 * t + 0.1 * u(gen));
      for (std::size_t i = 0; i < x.size(); ++i) y.back() += (1.0 + i + t) * x[i];
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

std::vector<double> Coefficients(const MultiVariateRegression& m, int t) {
  std::vector<double> b(static_cast<std::size_t>(m.GetNumRegressors()));
  m.GetCoefficients(t, b.data());
  return b;
}

// Coefficients b[t] (the constant first) are the weighted least-squares fit
// of the data exactly when the weighted residuals are orthogonal to every
// regressor: the normal equations, checked without solving them. Returns
// the residual sums of squares.
std::vector<double> ExpectLeastSquares(const Data& d, bool constant, const Rows& b) {
  std::vector<double> rss(b.size(), 0.0);
  for (std::size_t t = 0; t < b.size(); ++t) {
    std::vector<double> normal(d.x[0].size() + (constant ? 1 : 0), 0.0);
    EXPECT_EQ(b[t].size(), normal.size());
    if (b[t].size() != normal.size()) return rss;
    for (std::size_t r = 0; r < d.x.size(); ++r) {
      std::vector<double> z = d.x[r];
      if (constant) z.insert(z.begin(), 1.0);
      const double e = d.y[r][t] - std::inner_product(z.begin(), z.end(), b[t].begin(), 0.0);
      for (std::size_t i = 0; i < z.size(); ++i) normal[i] += d.w[r] * e * z[i];
      rss[t] += d.w[r] * e * e;
    }
    for (std::size_t i = 0; i < normal.size(); ++i)
      EXPECT_NEAR(normal[i], 0.0, 1e-9) << "target " << t << " regressor " << i;
  }
  return rss;
}

// The fit, its residual sums of squares and its prediction of the first
// record.
void ExpectFit(const MultiVariateRegression& m, const Data& d) {
  Rows b;
  for (int t = 0; t < m.GetNumDependent(); ++t) b.push_back(Coefficients(m, t));
  const std::vector<double> rss = ExpectLeastSquares(d, m.HasConstant(), b);
  double predicted[3];
  m.Predict(d.x[0].data(), predicted);
  for (std::size_t t = 0; t < b.size(); ++t) {
    EXPECT_NEAR(m.GetResidualSumOfSquares(int(t)), rss[t], 1e-9);
    const std::size_t c = m.HasConstant() ? 1 : 0;
    EXPECT_NEAR(predicted[t],
                (c ? b[t][0] : 0.0) +
                    std::inner_product(d.x[0].begin(), d.x[0].end(), b[t].begin() + c, 0.0),
                1e-12);
  }
}

TEST(MultiVariateRegression, SolvesTheWeightedNormalEquationsWithoutCollinearRegressors) {
  // Collinear regressors as combinations m of three uniform draws a, b, c:
  // identical ones, and one a combination of two others.
  const double identical[3][3] = {{1, 0, 0}, {1, 0, 0}, {0, 0, 1}},
               combined[3][3] = {{1, 0, 0}, {0, 1, 0}, {1, -2, 0}};
  const struct {
    int nx;
    bool constant;
    int q;
    bool weighted;
    const double (*m)[3];
    int refused;  // regressor index, without the constant
  } cases[] = {{3, true, 2, false, nullptr, -1},  {3, false, 1, false, nullptr, -1},
               {5, true, 3, true, nullptr, -1},   {1, true, 1, true, nullptr, -1},
               {3, true, 1, false, identical, 1}, {3, true, 1, false, combined, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    const Data d = MakeData(200, c.nx, c.q, 17, c.weighted, c.m);
    MultiVariateRegression m(c.nx, c.constant, c.q);
    AddAll(m, d);
    EXPECT_EQ((std::pair{m.GetCaseCount(), m.EstimateCoefficients(true)}),
              std::pair(200, c.nx + (c.constant ? 1 : 0) - (c.refused >= 0 ? 1 : 0)));
    if (c.refused >= 0) {
      EXPECT_FALSE(m.GetSweptPivots()[std::size_t(c.refused) + 1]);
      // With the refused coefficient 0 the others still fit: the refused
      // regressor is a combination of them.
      EXPECT_EQ(Coefficients(m, 0)[std::size_t(c.refused) + 1], 0.0);
    }
    ExpectFit(m, d);
  }
}

// Near-collinear designs against a textbook fit written out here: modified
// Gram-Schmidt in long double on the weighted columns (the constant first),
// taking the regressors in order and dropping one when
//   - its sum of squares D_k is below the tolerance times the largest, or
//   - what is left of it after the columns taken is no more than the
//     tolerance times D_k, or
//   - taking it would lift the inverse diagonal of a column i already taken
//     to 1 / (tolerance D_i) or beyond;
// then least squares on the columns taken. Designs: a regressor a
// combination of two others plus noise from 1e-7 to 1e-1 (the others of
// scales far apart, or large and nearly cancelling), a regressor that is
// nearly the constant, and a column shrunk to a tiny scale. Each design
// must drop the same columns, and fit the same coefficients (each times its
// column's norm, within 1e-6 of that and of the targets' norm: columns
// nearly collinear yet kept make large shares that nearly cancel) and
// residual sums.
// Designs whose decisions lie within a millionth of a threshold are left
// out (rounding may take either side); a few are.
struct ReferenceFit {
  std::vector<bool> kept;
  Rows b;  // per target, per column (0 for dropped ones)
  std::vector<double> rss;
  double margin = HUGE_VAL;  // the smallest |log(value / threshold)| of any decision
};

using LColumns = std::vector<std::vector<long double>>;

// Q (orthonormal in the weighted inner product) and R of the columns cols.
void GramSchmidt(const LColumns& z, const std::vector<double>& w, const std::vector<int>& cols,
                 LColumns& q, LColumns& r) {
  const std::size_t m = cols.size(), n = w.size();
  q.assign(m, {});
  r.assign(m, std::vector<long double>(m, 0.0L));
  for (std::size_t j = 0; j < m; ++j) {
    std::vector<long double> v = z[static_cast<std::size_t>(cols[j])];
    for (std::size_t i = 0; i < j; ++i) {
      long double dot = 0.0L;
      for (std::size_t t = 0; t < n; ++t) dot += w[t] * q[i][t] * v[t];
      r[i][j] = dot;
      for (std::size_t t = 0; t < n; ++t) v[t] -= dot * q[i][t];
    }
    long double norm = 0.0L;
    for (std::size_t t = 0; t < n; ++t) norm += w[t] * v[t] * v[t];
    r[j][j] = std::sqrt(norm);
    for (long double& x : v) x = norm > 0.0L ? x / r[j][j] : 0.0L;
    q[j] = v;
  }
}

// R^-1 of an upper triangular R.
LColumns Inverse(const LColumns& r) {
  const std::size_t m = r.size();
  LColumns inv(m, std::vector<long double>(m, 0.0L));
  for (std::size_t j = 0; j < m; ++j) {
    inv[j][j] = 1.0L / r[j][j];
    for (std::size_t i = j; i-- > 0;) {
      long double s = 0.0L;
      for (std::size_t k = i + 1; k <= j; ++k) s += r[i][k] * inv[k][j];
      inv[i][j] = -s / r[i][i];
    }
  }
  return inv;
}

// z: the columns (the constant first when there is one), y: the targets.
ReferenceFit FitByGramSchmidt(const LColumns& z, const LColumns& y, const std::vector<double>& w,
                              double tol) {
  const std::size_t p = z.size(), n = w.size();
  ReferenceFit f;
  f.kept.assign(p, false);
  auto note = [&](long double value, long double threshold) {
    f.margin = std::min(f.margin, double(std::fabs(std::log(value / threshold))));
  };
  std::vector<long double> d(p, 0.0L);
  for (std::size_t k = 0; k < p; ++k)
    for (std::size_t t = 0; t < n; ++t) d[k] += w[t] * z[k][t] * z[k][t];
  const long double largest = *std::max_element(d.begin(), d.end());
  std::vector<int> taken;
  LColumns q, r;
  for (std::size_t k = 0; k < p; ++k) {
    note(d[k], tol * largest);
    if (d[k] < tol * largest || d[k] == 0.0L) continue;
    std::vector<int> cols = taken;
    cols.push_back(int(k));
    GramSchmidt(z, w, cols, q, r);
    const long double left = r.back().back() * r.back().back();
    note(left, tol * d[k]);
    bool take = left > tol * d[k];
    const LColumns inv = Inverse(r);
    for (std::size_t i = 0; i < taken.size(); ++i) {
      long double diagonal = 0.0L;
      for (std::size_t j = i; j < cols.size(); ++j) diagonal += inv[i][j] * inv[i][j];
      const long double limit = 1.0L / (tol * d[static_cast<std::size_t>(taken[i])]);
      note(diagonal, limit);
      take = take && diagonal < limit;
    }
    if (take) taken.push_back(int(k));
  }
  for (int k : taken) f.kept[static_cast<std::size_t>(k)] = true;
  GramSchmidt(z, w, taken, q, r);
  const LColumns inv = Inverse(r);
  for (const std::vector<long double>& target : y) {
    std::vector<long double> qy(taken.size(), 0.0L);
    for (std::size_t i = 0; i < taken.size(); ++i)
      for (std::size_t t = 0; t < n; ++t) qy[i] += w[t] * q[i][t] * target[t];
    std::vector<double> b(p, 0.0);
    for (std::size_t i = 0; i < taken.size(); ++i) {
      long double s = 0.0L;
      for (std::size_t j = i; j < taken.size(); ++j) s += inv[i][j] * qy[j];
      b[static_cast<std::size_t>(taken[i])] = double(s);
    }
    long double rss = 0.0L;
    for (std::size_t t = 0; t < n; ++t) {
      long double e = target[t];
      for (std::size_t k = 0; k < p; ++k) e -= b[k] * z[k][t];
      rss += w[t] * e * e;
    }
    f.b.push_back(b);
    f.rss.push_back(double(rss));
  }
  return f;
}

TEST(MultiVariateRegression, NearCollinearDesignsDropWhatAPlainFitDrops) {
  constexpr int kDesigns = 3000, kRecords = 40, kRegressors = 3, kTargets = 2;
  std::mt19937 gen(2024);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  auto logUniform = [&](double lo, double hi) {
    return std::exp(std::log(lo) + (std::log(hi) - std::log(lo)) * 0.5 * (u(gen) + 1.0));
  };
  int compared = 0, dropping = 0;
  for (int design = 0; design < kDesigns; ++design) {
    SCOPED_TRACE("design " + std::to_string(design));
    const int family = design % 4;
    const bool constant = family != 3 || design % 8 == 3, weighted = design % 3 == 0;
    // Relative noise and scales around the thresholds (a ratio of 1e-8 of
    // sums of squares is a noise near 1e-4), so that about half the designs
    // drop a column.
    const double noise = logUniform(1e-7, 1e-1);
    const double s1 = logUniform(1e-3, 1e3), s2 = logUniform(1e-3, 1e3);
    const double a = u(gen), c = u(gen), big = logUniform(10.0, 1e4);
    const double tiny = family == 3 ? logUniform(1e-7, 1e-1) : 1.0;
    Data d;
    for (int r = 0; r < kRecords; ++r) {
      const double u1 = u(gen), u2 = u(gen), e = u(gen);
      std::vector<double> x(kRegressors);
      switch (family) {
        case 0:  // x3 = a x1 + c x2 + noise, x1 and x2 of scales far apart
          x = {s1 * u1, s2 * u2, a * s1 * u1 + c * s2 * u2 + noise * (s1 + s2) * e};
          break;
        case 1:  // x1 and x2 large and nearly the same; x3 their small difference
          x = {big * u1 + u2, big * u1, u2 + noise * e};
          break;
        case 2:  // x2 nearly the constant
          x = {u1, big * (1.0 + noise * e), u2};
          break;
        default:  // a column of a tiny scale beside a combination
          x = {u1, tiny * u2, u1 + u2 + noise * e};
          break;
      }
      std::vector<double> y;
      for (int t = 0; t < kTargets; ++t)
        y.push_back(1.0 + t + (1.0 - 0.02 * t) * u1 - 0.5 * u2 + 0.1 * u(gen));
      d.x.push_back(x);
      d.y.push_back(y);
      d.w.push_back(weighted ? 0.5 + 0.75 * (u(gen) + 1.0) : 1.0);
    }
    MultiVariateRegression m(kRegressors, constant, kTargets);
    AddAll(m, d);
    LColumns z, y(kTargets);
    if (constant) z.emplace_back(kRecords, 1.0L);
    for (int i = 0; i < kRegressors; ++i) {
      z.emplace_back();
      for (const auto& x : d.x) z.back().push_back(x[static_cast<std::size_t>(i)]);
    }
    for (int t = 0; t < kTargets; ++t)
      for (const auto& row : d.y) y[static_cast<std::size_t>(t)].push_back(row[t]);
    const ReferenceFit want = FitByGramSchmidt(z, y, d.w, m.GetTolerance());
    m.EstimateCoefficients(true);
    if (want.margin < 1e-6) continue;
    ++compared;
    dropping += std::count(want.kept.begin(), want.kept.end(), false) > 0;
    ASSERT_EQ(m.GetSweptPivots(), want.kept);
    for (int t = 0; t < kTargets; ++t) {
      long double yy = 0.0L;
      for (std::size_t r = 0; r < d.y.size(); ++r) yy += d.w[r] * y[t][r] * y[t][r];
      const std::vector<double> got = Coefficients(m, t);
      for (std::size_t k = 0; k < z.size(); ++k) {
        long double norm = 0.0L;
        for (std::size_t r = 0; r < d.y.size(); ++r) norm += d.w[r] * z[k][r] * z[k][r];
        const double share = want.b[t][k] * double(std::sqrt(norm));
        ASSERT_NEAR(got[k] * double(std::sqrt(norm)), share,
                    1e-6 * (double(std::sqrt(yy)) + std::fabs(share)))
            << "target " << t << " column " << k;
      }
      ASSERT_NEAR(m.GetResidualSumOfSquares(t), want.rss[t], 1e-8 * double(yy)) << "target " << t;
    }
  }
  EXPECT_GE(compared, kDesigns * 99 / 100);
  EXPECT_GE(dropping, kDesigns / 4);
  EXPECT_LE(dropping, compared * 3 / 4);
}

// --- Solvers on networks -----------------------------------------------------

// The network's output weights, row by row, are the least-squares fit of
// the targets on the regressors (the hidden units' values, or the inputs);
// returns the network's error at them.
double ExpectSolved(NNetwork& net, const std::vector<Record>& records, bool hidden, bool constant) {
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
  const INLayer* out = net.GetLayer(net.GetNumLayers());
  const std::size_t p = d.x[0].size() + (constant ? 1 : 0);
  EXPECT_EQ(out->GetNumWeights(), int(p * d.y[0].size()));
  Rows b;
  for (std::size_t t = 0; t < d.y[0].size(); ++t)
    b.emplace_back(out->GetWeights() + t * p, out->GetWeights() + (t + 1) * p);
  const std::vector<double> rss = ExpectLeastSquares(d, constant, b);
  return 0.5 * std::accumulate(rss.begin(), rss.end(), 0.0);
}

TEST(RBFLinReg, TrainingPassSolvesTheOutputWeights) {
  for (auto f : {VXNNCommon::kRadialBasis, VXNNCommon::kNormalizedRadialBasis}) {
    RBFSettings settings(2, {1, 2}, 150);
    settings.SetActivFnHiddenLayer(f);
    settings.SetNumHiddenUnits(5, 1);
    NNetwork net(settings);
    VXRandom rng(3, true);
    net.RandomizeWeights(rng, -1.0, 1.0);
    const std::vector<Record> records = network_fixtures::MakeRecords(2, {1, 2}, 150, 9);
    const bool constant = f == VXNNCommon::kRadialBasis;
    RBFLinReg solver(&settings, &net);
    // Whether the fit has a constant shows in the solved weights: a
    // regression of the wrong width does not fit the output layer at all.
    ASSERT_TRUE(solver.GetRegression());
    EXPECT_TRUE(VXMV::IsMissing(solver.GetEstError()));
    VectorRecordIter source(records);
    EXPECT_EQ(solver.TrainPass(source, 1000), VXStatus());
    const double error = ExpectSolved(net, records, true, constant);
    EXPECT_NEAR(solver.GetEstError(), error, 1e-9);
    EXPECT_EQ(net.GetAccumError(), solver.GetEstError());
    EXPECT_EQ(std::make_tuple(solver.GetAlgorithmStatus(), solver.GetStopReason(),
                              solver.GetNIterations(), solver.GetNDataPasses(),
                              solver.GetNRecordsProcessed()),
              std::make_tuple(VXNNCommon::kTrained, VXNNCommon::kStoppedComputed, 1, 1, 150));

    // A second pass starts a new fit rather than adding to the first.
    EXPECT_EQ(solver.TrainPass(source, 1000), VXStatus());
    EXPECT_EQ(solver.GetRegression()->GetCaseCount(), 150);
    EXPECT_NEAR(ExpectSolved(net, records, true, constant), error, 1e-9);

    // Records added one by one and solved give the same weights.
    RBFLinReg byRecord(&settings, &net);
    for (const Record& r : records) byRecord.AddRecord(r);
    net.ResetAll();
    EXPECT_EQ(byRecord.Solve(), VXStatus());
    EXPECT_NEAR(ExpectSolved(net, records, true, constant), error, 1e-9);
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
  const auto first = network_fixtures::MakeRecords(3, {1, 2}, 120, 1),
             later = network_fixtures::MakeRecords(3, {1, 2}, 80, 2);
  VectorRecordIter source(first), none(std::vector<Record>{}), more(later);
  VXStatus status;
  EXPECT_EQ(solver.Train(status, source, nullptr, 1000, 0), VXStatus());
  ExpectSolved(net, first, false, true);
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
  EXPECT_EQ(solver.Update(status, source, more, 100, changed), VXStatus());
  EXPECT_TRUE(changed);
  EXPECT_NEAR(solver.GetEstError(), ExpectSolved(net, all, false, true), 1e-9);
  EXPECT_EQ(solver.GetNRecordsProcessed(), 200);
  EXPECT_EQ(solver.GetAlgorithmStatus(), VXNNCommon::kTrained);

  LinearRegr back(&settings, &net);
  saved_forms::ExpectReadersRobust(
      solver, back, {"Error reading LinearRegr!\n", "Error reading MultiVariateRegression!\n"},
      {"Failure reading LinearRegr!\n", "Failure reading MultiVariateRegression!\n"});
}

// --- Batch gradient descent --------------------------------------------------

// Small enough for every plain step on the linear data to be taken.
constexpr double kEta = 0.02;

// A linear network (no hidden layer) on 40 linear records, from random or
// zero weights.
struct Linear : Trainee<GradientDescentBatch> {
  explicit Linear(bool zeroWeights = false) : Trainee(LinearProblem({}, 40, 7, 3)) {
    if (zeroWeights) initial = 0.0;
    settings->SetEtaInit(kEta);
    settings->SetAlpha(0.0);
  }
  std::valarray<double> FirstStep() { return initial - kEta * At(initial).gradient; }
};

// Two records (x, t) = (0, 0) and (1, 1) on a network without hidden
// layers: the error of bias b and weight v is (b^2 + (b + v - 1)^2) / 2,
// its gradient (2b + v - 1, b + v - 1), the mean model's error 1/4.
double TwoPointError(const std::valarray<double>& w) {
  return (w[0] * w[0] + (w[0] + w[1] - 1) * (w[0] + w[1] - 1)) / 2;
}
std::valarray<double> TwoPointGradient(const std::valarray<double>& w) {
  return {2 * w[0] + w[1] - 1, w[0] + w[1] - 1};
}

TEST(GradientDescentBatchTrain, HalvesTheRateAndCapsTheMomentumByHand) {
  Trainee<GradientDescentBatch> p(
      Problem(1, {1}, {}, VXNNCommon::kIdentity, {Record({0.0, 0.0}), Record({1.0, 1.0})}, 1));
  p.initial = 0.0;
  p.settings->SetEtaInit(1.0);
  p.settings->SetAlpha(0.9);
  p.settings->SetAlphaReduction(0.9);
  // From (0, 0), error 1/2 and gradient (-1, -1), eta 1 tries (1, 1), error
  // 1: refused, and eta halves for the rest of the run; (1/2, 1/2), error
  // 1/8, is taken. There the gradient is (1/2, 0) and eta |g| = 1/4 is
  // below 0.9 |A| = 0.9 / sqrt 2: alpha becomes 0.9 (1/4) / |A|, a momentum
  // term of m = 0.225 / sqrt 2 on both weights. The third step keeps that
  // alpha (0.225 sqrt 2 |w2 - w1| < eta |g2|) and its momentum is the
  // second step taken.
  const double m = 0.225 / std::sqrt(2.0);
  const std::valarray<double> w0 = {0.0, 0.0}, w1 = {0.5, 0.5}, w2 = {0.25 + m, 0.5 + m},
                              w3 = w2 - 0.5 * TwoPointGradient(w2) +
                                   0.225 * std::sqrt(2.0) * (w2 - w1);
  const struct {
    int passes;
    std::valarray<double> w;
    double change;  // relative change of the last step's error
  } runs[] = {
      // The limit ends the first search: the run keeps the weights it
      // started from.
      {2, w0, VXMV::gMissingValue},
      {3, w1, RelativeChange(0.5, 0.125)},
      {4, w2, RelativeChange(0.125, TwoPointError(w2))},
      {5, w3, RelativeChange(TwoPointError(w2), TwoPointError(w3))},
  };
  for (const auto& r : runs) {
    SCOPED_TRACE(r.passes);
    p.settings->SetMaxNDataPasses(r.passes);
    EXPECT_TRUE(p.Run().IsOK());
    ExpectWeightsNear(WeightsOf(*p.net), r.w);
    // The run's iterations are its own: the optimizer's count stays 0.
    EXPECT_EQ(Counts(*p.opt), std::make_tuple(VXNNCommon::kStoppedMaxDataPasses,
                                              VXNNCommon::kTrained, r.passes, 0, 2));
    EXPECT_NEAR(p.opt->GetTrainError(), TwoPointError(r.w), 1e-12);
    EXPECT_NEAR(p.opt->GetAccumError(), TwoPointError(r.w), 1e-12);
    EXPECT_NEAR(p.opt->GetRelChangeInErr(), r.change, 1e-12);
    if (r.passes > 2) {
      EXPECT_NEAR(p.opt->GetErrorRatio(), TwoPointError(r.w) / 0.25, 1e-9);
    }
  }

  // Steps small enough to be taken one per pass, a report every third
  // iteration and one as the run stops.
  p.settings->SetEtaInit(0.5);
  p.settings->SetAlpha(0.0);
  p.settings->SetMaxNDataPasses(10);
  Recorder recorder;
  p.settings->SetProgressListener(&recorder);
  p.settings->SetNSkippedReports(2);
  EXPECT_TRUE(p.Run().IsOK());
  std::vector<int> reported;
  for (const Shown& shown : recorder.shown) reported.push_back(shown.dataPasses);
  EXPECT_EQ(reported, (std::vector<int>{2, 5, 8, 10}));
}

// Every stop rule armed to fire at the first stop test, then relaxed one by
// one: the run stops for the reasons time, data passes, relative change,
// error ratio and accuracy in that order, always after one accepted step
// (the change and ratio rules had no value before).
TEST(GradientDescentBatchStop, RulesFireInTheirOrderAfterTheFirstStep) {
  Linear p;
  const double e0 = p.At(p.initial).error;
  const double e1 = p.At(p.FirstStep()).error;
  ASSERT_LT(e1, e0);
  MLPSettings& s = *p.settings;
  s.SetMaxTime(0.0);
  s.SetMaxNDataPasses(1);
  s.SetMinRelativeChangeError(10.0);
  s.SetMinErrorRatio(10.0);
  s.SetAccuracy(0.0);
  const std::pair<std::function<void()>, VXNNCommon::StopReason> steps[] = {
      {[] {}, VXNNCommon::kStoppedMaxTime},
      {[&] { s.SetMaxTime(1e9); }, VXNNCommon::kStoppedMaxDataPasses},
      {[&] { s.SetMaxNDataPasses(1000); }, VXNNCommon::kStoppedErrorChangeLimit},
      {[&] { s.SetMinRelativeChangeError(0.0); }, VXNNCommon::kStoppedErrorRatioLimit},
      {[&] { s.SetMinErrorRatio(0.0); }, VXNNCommon::kStoppedAccuracy}};
  for (const auto& [relax, expected] : steps) {
    relax();
    SCOPED_TRACE(VXNNCommon::DisplayText(expected));
    EXPECT_TRUE(p.Run().IsOK());
    EXPECT_EQ(Counts(*p.opt), std::make_tuple(expected, VXNNCommon::kTrained, 2, 0, 40));
    ExpectWeightsNear(WeightsOf(*p.net), p.FirstStep());
    EXPECT_NEAR(p.opt->GetRelChangeInErr(), RelativeChange(e0, e1), 1e-12);
    EXPECT_NEAR(p.opt->GetErrorRatio(), p.ErrorRatio(e1), 1e-12);
  }
}

// --- verifying cycle -------------------------------------------------------

TEST(GradientDescentBatchVerify, RunEndsAtTheBestVerifiedWeights) {
  Linear p(true);
  // Test targets halfway: the test error falls, then rises again.
  const std::vector<Record> testRecords = LinearRecords(20, 8, 0.5);
  Recorder recorder;
  p.settings->SetProgressListener(&recorder);
  p.settings->SetMaxNStepsTrackError(3);
  p.settings->SetMaxNDataPasses(1000);
  p.Run(testRecords);
  EXPECT_EQ(p.opt->GetStopReason(), VXNNCommon::kStoppedVerifyingCycle);
  ASSERT_GE(recorder.shown.size(), 5u);
  // Every iteration was reported; the last report shows the restored best.
  std::vector<double> seen;
  for (std::size_t i = 0; i + 1 < recorder.shown.size(); ++i)
    seen.push_back(recorder.shown[i].testError);
  const double best = *std::min_element(seen.begin(), seen.end());
  EXPECT_LT(best, seen.back());
  EXPECT_NEAR(Evaluate(*p.oracle, WeightsOf(*p.net), testRecords).error, best, 1e-12);
  EXPECT_NEAR(recorder.shown.back().testError, best, 1e-12);
  EXPECT_NEAR(p.opt->GetTrainError(), p.AtNet().error, 1e-12);
  EXPECT_GT(p.opt->GetTrainError(), recorder.shown[recorder.shown.size() - 2].trainError);
}

// --- Mini-batch and online gradient descent ----------------------------------

// The order of a block of n records as the generator shuffles it.
std::vector<int> ShuffledOrder(VXRandom& random, int n) {
  std::vector<int> order(static_cast<std::size_t>(n));
  std::iota(order.begin(), order.end(), 0);
  random.Shuffle(order);
  return order;
}

// A run without test data over a problem's records: mini-batches (or
// online loads) of c, for the given epochs, with its own generator.
struct MboRun : Problem {
  MboRun(Problem p, VXNNCommon::TrainingType type, int c, double eta, double etaLow, double alpha,
         int epochs)
      : Problem(std::move(p)) {
    settings->SetTrainingMethodAndType(VXNNCommon::kGradientDescent, type);
    settings->SetEtaInit(eta);
    settings->SetEtaLow(etaLow);
    settings->SetAlpha(alpha);
    settings->SetAlphaReduction(0.5);
    settings->SetNEpochs(1);
    // The first pass, then an epoch and a training-error pass per epoch.
    settings->SetMaxNDataPasses(1 + 2 * epochs);
    mbo = std::make_unique<GradientDescentMBO>(settings.get(), net.get(), inputs + outputs, c,
                                               &random);
    CountingIter train(records);
    VXStatus status;
    mbo->Train(status, train, nullptr, 1000, 0);
    EXPECT_TRUE(status.IsOK());
    handedOut = train.handedOut;
  }
  VXRandom random{777u, true};
  std::unique_ptr<GradientDescentMBO> mbo;
  int handedOut = 0;
};

// Runs worked by hand on records (x, t) of errors (b + v x - t)^2 / 2 and
// gradients (b + v x - t)(1, x). (1, 1) then (0, 1) in mini-batches of one:
// over the one-epoch schedule of two steps eta falls from 1/2 to its low
// value 1/8 by a factor of 1/2.
TEST(GradientDescentMBOTrain, StepsAndRateDecayAndTheBestEpochByHand) {
  const std::vector<Record> records = {Record({1.0, 1.0}), Record({0.0, 1.0})};
  const std::vector<Record> apart = {Record({1.0, 1.0}), Record({1.0, -1.0})};
  const struct {
    std::vector<Record> records;
    int c;
    double etaLow;
    std::valarray<double> w;
    int steps;
  } cases[] = {
      // (0, 0) - (1/2)(-1, -1) = (1/2, 1/2); eta 1/4 on the second record:
      // (5/8, 1/2); then eta 1/8 for good: (39/64, 31/64), then
      // (39/64 + 25/512, 31/64).
      {records, 1, 0.125, {337.0 / 512, 31.0 / 64}, 4},
      // A low rate of 0 makes the factor 0: eta is 0 from the second step
      // on, and no later step moves the weights.
      {records, 1, 0.0, {0.5, 0.5}, 4},
      // Both records in one mini-batch: a schedule of one step, a factor of
      // 1/4. (0, 0) - (1/2)(-2, -1) = (1, 1/2), then - (1/8)(1/2, 1/2).
      {records, 2, 0.125, {15.0 / 16, 7.0 / 16}, 2},
      // Targets 1 and -1 at x = 1, eta 1/2 throughout: (1/2, 1/2), then
      // (-1/2, -1/2), twice; every epoch ends with an error of 2 against the
      // 1 it started from, so the run ends at the first epoch's weights.
      {apart, 1, 0.5, {0.0, 0.0}, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.c << " " << c.etaLow);
    Problem p(1, {1}, {}, VXNNCommon::kIdentity, c.records, 1);
    p.net->SetWeights(std::valarray<double>(0.0, 2));
    MboRun r(std::move(p), VXNNCommon::kMiniBatch, c.c, 0.5, c.etaLow, 0.0, 2);
    ExpectWeightsNear(WeightsOf(*r.net), c.w, 0.0);
    EXPECT_EQ(Counts(*r.mbo), std::make_tuple(VXNNCommon::kStoppedMaxDataPasses,
                                              VXNNCommon::kTrained, 5, c.steps, 4));
    EXPECT_EQ(r.handedOut, 2 * 5);
    double error = 0.0;
    for (const Record& x : c.records) error += std::pow(c.w[0] + c.w[1] * x[0] - x[1], 2) / 2;
    EXPECT_DOUBLE_EQ(r.mbo->GetTrainError(), error);
  }
}

// Training toward slope 1 from zero weights, tested on targets of slope
// 1/2: the test error falls, then rises. The run stops 3 epochs after the
// best and goes back to the weights of that epoch, kept with the values of
// its test pass: the test error there, and the training error of the
// epoch before (that epoch's own training pass comes later). A run stopped
// by the data-pass limit at the best epoch ends at the same weights.
TEST(GradientDescentMBOVerify, RunEndsAtTheWeightsOfTheBestTestEpoch) {
  const std::vector<Record> testRecords = LinearRecords(20, 8, 0.5);
  struct Run : Problem {
    Run(int maxPasses, Recorder* recorder, const std::vector<Record>& testRecords)
        : Problem(LinearProblem({}, 40, 7, 3)) {
      MLPSettings& s = *settings;
      s.SetTrainingMethodAndType(VXNNCommon::kGradientDescent, VXNNCommon::kMiniBatch);
      s.SetEtaInit(0.01);
      s.SetEtaLow(0.01);
      s.SetAlpha(0.0);
      s.SetMaxNDataPasses(maxPasses);
      s.SetMaxNStepsTrackError(3);
      s.SetCheckTrainErrVerifyingCycle(true);
      s.SetProgressListener(recorder);
      net->SetWeights(std::valarray<double>(0.0, 3));
      mbo = std::make_unique<GradientDescentMBO>(settings.get(), net.get(), inputs + outputs, 10,
                                                 &random);
      auto train = VectorRecordIter::Borrow(records);
      auto test = VectorRecordIter::Borrow(testRecords);
      VXStatus status;
      mbo->Train(status, train, &test, 1000, 1000);
      EXPECT_TRUE(status.IsOK());
    }
    VXRandom random{5u, true};
    std::unique_ptr<GradientDescentMBO> mbo;
  };
  const auto run = [&](int maxPasses, Recorder* recorder) {
    return std::make_unique<Run>(maxPasses, recorder, testRecords);
  };
  Recorder recorder;
  const auto r = run(1000, &recorder);
  EXPECT_EQ(r->mbo->GetStopReason(), VXNNCommon::kStoppedVerifyingCycle);
  // One report per epoch, then one for the restored epoch.
  ASSERT_GE(recorder.shown.size(), 6u);
  const std::size_t epochs = recorder.shown.size() - 1;
  std::size_t best = 0;
  for (std::size_t e = 1; e < epochs; ++e)
    if (recorder.shown[e].testError < recorder.shown[best].testError) best = e;
  ASSERT_GE(best, 1u) << "the test error must fall first";
  ASSERT_EQ(epochs, best + 4) << "the stop comes 3 epochs after the best";
  const double bestTest = recorder.shown[best].testError;
  EXPECT_GT(recorder.shown[epochs - 1].testError, bestTest);
  const std::valarray<double> kept = WeightsOf(*r->net);
  EXPECT_NEAR(Evaluate(*r->oracle, kept, testRecords).error, bestTest, 1e-12);
  EXPECT_EQ(r->mbo->GetTestError(), bestTest);
  EXPECT_EQ(r->mbo->GetTrainError(), recorder.shown[best - 1].trainError);
  EXPECT_NE(recorder.shown[best].trainError, recorder.shown[best - 1].trainError);
  EXPECT_EQ(recorder.shown.back().testError, bestTest);

  // The first pass, then an epoch and a training-error pass per epoch.
  const auto twin = run(1 + 2 * static_cast<int>(best + 1), nullptr);
  EXPECT_EQ(twin->mbo->GetStopReason(), VXNNCommon::kStoppedMaxDataPasses);
  ExpectWeightsNear(WeightsOf(*twin->net), kept, 0.0);
}

// Fewer records than a mini-batch holds are stepped on whole once an
// epoch: a step of batch gradient descent, the momentum capped alike (and
// the capped momentum kept in the settings), as long as every step is
// taken. Of 25 records in mini-batches of 10 the last 5 take no step.
TEST(GradientDescentMBOTrain, AWholeBatchStepsAsBatchGradientDescent) {
  MboRun r(LinearProblem({3}, 5, 1, 3), VXNNCommon::kMiniBatch, 8, 0.05, 0.05, 5.0, 3);
  Trainee<GradientDescentBatch> batch(LinearProblem({3}, 5, 1, 3));
  batch.settings->SetEtaInit(0.05);
  batch.settings->SetAlpha(5.0);
  batch.settings->SetAlphaReduction(0.5);
  batch.settings->SetMaxNDataPasses(4);
  EXPECT_TRUE(batch.Run().IsOK());
  // The starting pass and three trial steps: the same weights as three
  // mini-batch steps only when none of the trials was refused.
  ASSERT_EQ(batch.opt->GetNDataPasses(), 4);
  ExpectWeightsNear(WeightsOf(*r.net), WeightsOf(*batch.net), 1e-15);
  EXPECT_EQ(r.mbo->GetNIterations(), 3);
  EXPECT_LT(r.settings->GetAlpha(), 5.0);

  MboRun part(LinearProblem({3}, 25, 1, 3), VXNNCommon::kMiniBatch, 10, 0.05, 0.01, 0.9, 2);
  EXPECT_EQ(Counts(*part.mbo),
            std::make_tuple(VXNNCommon::kStoppedMaxDataPasses, VXNNCommon::kTrained, 5, 4, 50));
  EXPECT_EQ(part.handedOut, 25 * 5);
}

// Online, one record at a time in an order the generator shuffles afresh
// for every load (8, 8, then 4 of 20 records), steps as mini-batches of one
// over the records in that order; the shared generator moves on by those
// draws only.
TEST(GradientDescentMBOTrain, OnlineStepsInTheShuffledOrderOfEachLoad) {
  const std::vector<Record> records = LinearRecords(20, 1);
  VXRandom twin(777u, true);
  std::vector<Record> shuffled;
  for (std::size_t from = 0; from < records.size(); from += 8)
    for (int k : ShuffledOrder(twin, static_cast<int>(std::min<std::size_t>(8, 20 - from))))
      shuffled.push_back(records[from + static_cast<std::size_t>(k)]);
  const auto problem = [](const std::vector<Record>& data) {
    return Problem(2, {1}, {3}, VXNNCommon::kIdentity, data, 3);
  };
  MboRun online(problem(records), VXNNCommon::kOnline, 8, 0.05, 0.05, 0.5, 1);
  MboRun ones(problem(shuffled), VXNNCommon::kMiniBatch, 1, 0.05, 0.05, 0.5, 1);
  EXPECT_EQ(online.mbo->GetNIterations(), 20);
  ExpectWeightsNear(WeightsOf(*online.net), WeightsOf(*ones.net), 1e-15);
  EXPECT_EQ(online.random.GetSeed(), twin.GetSeed());
}

// --- Scaled conjugate gradient -----------------------------------------------

using Scg = Trainee<ScaledConjGrad>;

// A noisy smooth surface that a small tanh network cannot fit exactly, so
// that training meets curvature of every sign.
std::vector<Record> WaveRecords(int n, unsigned seed) {
  return SampledRecords(n, seed, [](double x0, double x1) {
    return 0.6 * std::sin(3.0 * x0) * x1 + 0.4 * x0 * x0 - 0.2;
  });
}

Scg Wave(unsigned seed = 11) {
  return Scg(Problem(2, {1}, {3}, VXNNCommon::kIdentity, WaveRecords(40, seed), seed));
}

// Summed from the first product on, as the optimizer does (a valarray's
// sum() may run the other way and change the last bits).
double Dot(const std::valarray<double>& a, const std::valarray<double>& b) {
  return std::inner_product(std::begin(a), std::end(a), std::begin(b), 0.0);
}

// Scaled conjugate gradient written out plainly after its textbook form. It
// stops once the data-pass limit is reached after any iteration, and notes
// what a listener would see: the starting error after the first probe, the
// error after every kept step that is not a restart, and the final error.
struct ScgReference {
  std::valarray<double> w;
  double error = 0.0;
  int passes = 1, iterations = 0, failures = 0, restarts = 0;
  std::vector<double> shown;
};
ScgReference RunScgReference(Problem& p, const MLPSettings& s, int maxPasses) {
  ScgReference ref;
  ref.w = p.initial;
  const std::size_t n = ref.w.size();
  Evaluation at = p.At(ref.w);
  std::valarray<double> r = -at.gradient, d = r;
  double lambda = s.GetLambdaInit(), lambdaBar = 0.0, delta = 0.0;
  bool success = true;
  for (std::size_t k = 1;; ++k) {
    ++ref.iterations;
    const double dn = std::sqrt(Dot(d, d)), dd = dn * dn;
    if (success) {
      const double sigma = s.GetSigmaInit() / dn;
      const Evaluation probe = p.At(ref.w + sigma * d);
      if (++ref.passes == 2) ref.shown.push_back(at.error);
      const std::valarray<double> hessianTimesD = (probe.gradient + r) / sigma;
      delta = Dot(d, hessianTimesD);
    }
    delta += (lambda - lambdaBar) * dd;
    if (delta <= 0.0) {
      lambdaBar = 2.0 * (lambda - delta / dd);
      delta = -delta + lambda * dd;
      lambda = lambdaBar;
    }
    const double mu = Dot(d, r);
    const double alpha = mu / delta;
    const Evaluation step = p.At(ref.w + alpha * d);
    ++ref.passes;
    const double comparison = 2.0 * delta * (at.error - step.error) / (mu * mu);
    bool restart = false;
    success = comparison >= 0.0;
    if (success) {
      ref.w += alpha * d;
      const std::valarray<double> rOld = r;
      at = step;
      r = -at.gradient;
      lambdaBar = 0.0;
      restart = k == n;
      if (restart) {
        d = r;
        k = 0;
        ++ref.restarts;
      } else {
        const double rn = std::sqrt(Dot(r, r));
        d = r + ((rn * rn - Dot(r, rOld)) / mu) * d;
        if (comparison >= s.GetUpperDelta()) lambda *= s.GetLambdaReduction();
      }
    } else {
      lambdaBar = lambda;
      ++ref.failures;
    }
    if (!restart && comparison < s.GetLowerDelta()) lambda += delta * (1.0 - comparison) / dd;
    // A report after every kept step that is not a restart, and at the end.
    if ((success && !restart) || ref.passes >= maxPasses) ref.shown.push_back(at.error);
    if (ref.passes >= maxPasses) break;
  }
  ref.error = at.error;
  return ref;
}

TEST(ScaledConjGradTrain, FollowsASecondImplementation) {
  for (const unsigned seed : {11u, 12u, 13u}) {
    SCOPED_TRACE(seed);
    Scg p = Wave(seed);
    Recorder recorder;
    p.settings->SetProgressListener(&recorder);
    p.settings->SetMaxNDataPasses(120);
    EXPECT_TRUE(p.Run().IsOK());
    const ScgReference ref = RunScgReference(p, *p.settings, 120);
    // The comparison covers rejected steps and restarts.
    EXPECT_GE(ref.failures, 1);
    EXPECT_GE(ref.restarts, 1);
    // The twin network computes errors and gradients bit for bit as the
    // optimizer's does, so the two runs agree exactly: a different order of
    // operations would drift apart over the run.
    ExpectWeightsNear(WeightsOf(*p.net), ref.w, 0.0);
    EXPECT_EQ(Counts(*p.opt),
              std::make_tuple(VXNNCommon::kStoppedMaxDataPasses, VXNNCommon::kTrained, ref.passes,
                              ref.iterations, 40));
    EXPECT_EQ(p.opt->GetTrainError(), ref.error);
    ASSERT_EQ(recorder.shown.size(), ref.shown.size());
    EXPECT_EQ(recorder.shown[0].dataPasses, 1);
    EXPECT_EQ(recorder.shown[0].records, 40);
    for (std::size_t i = 0; i < ref.shown.size(); ++i) {
      EXPECT_EQ(recorder.shown[i].trainError, ref.shown[i]) << "report " << i;
      EXPECT_NEAR(recorder.shown[i].errorRatio, p.ErrorRatio(recorder.shown[i].trainError), 1e-12);
    }
    // What the optimizer keeps describes the weights the network holds.
    const Evaluation end = p.AtNet();
    EXPECT_NEAR(p.opt->GetAccumError(), end.error, 1e-12);
    ExpectWeightsNear(p.opt->GetAccumGradient(), end.gradient);
  }
}

// --- Saved forms -------------------------------------------------------------

using namespace stream_faults;
using record_fields::Close;
using record_fields::ExpectFields;
using record_fields::Open;

// Status, stop reason, time, iterations, passes, records; the errors before
// and after (the batch optimizers add the gradient norm between the errors
// and the relative change, then the gradient and the error sum; no one
// saves the accuracy); the mini-batch size and, with a buffer of 8, the
// record width 3 and the buffer (width, capacity, count, cursor, status,
// one record).
template <typename Sink>
void Values(Sink& s, bool batch, bool buffer) {
  s.I(VXNNCommon::kTrained).I(VXNNCommon::kStoppedErrorRatioLimit).D(1.5).I(7).I(9).I(11);
  s.D(0.25).D(0.5).D(0.75).D(1.25);
  if (batch) s.D(1.5);
  s.D(1.75).D(2.25);
  if (batch) {
    s.I(13);
    for (int k = 0; k < 13; ++k) s.D(k + 0.5);
    s.D(3.5);
  }
  s.I(buffer ? 8 : 0);
  if (buffer) {
    Open(s.I(3), "RBI", "RecordBufferIter").I(3).I(8).I(1).I(0).I(0).D(4.0).D(-4.0).D(0.5);
    Close(s);
  }
}

TEST(OptimizerLayouts, EveryOptimizerWithAndWithoutBuffer) {
  Problem p = LinearProblem({3}, 4, 7, 3);
  VXRandom random(1, true);
  using Make = std::function<std::unique_ptr<IOptimizationAlgorithm>()>;
  const struct {
    const char *tag, *name;
    bool batch;
    Make make;
  } optimizers[] = {
      {"GDB", "GradientDescentBatch", true,
       [&] { return std::make_unique<GradientDescentBatch>(p.settings.get(), p.net.get()); }},
      {"SCG", "ScaledConjGrad", true,
       [&] { return std::make_unique<ScaledConjGrad>(p.settings.get(), p.net.get()); }},
      {"GDM", "GradientDescentMBO", false,
       [&] {
         return std::make_unique<GradientDescentMBO>(p.settings.get(), p.net.get(), 3, 8, &random);
       }},
  };
  for (const auto& o : optimizers) {
    for (bool buffer : {false, true}) {
      SCOPED_TRACE(std::string(o.name) + (buffer ? " with a buffer" : ""));
      layouts::Bytes b;
      Values(b.Tag(o.tag), o.batch, buffer);
      auto opt = o.make();
      std::stringstream in(b.s);
      ASSERT_EQ(opt->ReadObject(in), static_cast<int>(b.s.size()));
      // Read into the object whose layout is checked: a consistent swap in
      // both directions shows here only.
      EXPECT_EQ(
          std::make_tuple(opt->GetAlgorithmStatus(), opt->GetStopReason(), opt->GetNIterations(),
                          opt->GetNDataPasses(), opt->GetNRecordsProcessed()),
          std::make_tuple(VXNNCommon::kTrained, VXNNCommon::kStoppedErrorRatioLimit, 7, 9, 11));
      EXPECT_EQ((std::vector<double>{opt->GetElapsedTime(), opt->GetTrainError(),
                                     opt->GetTestError(), opt->GetLastGradientNorm(),
                                     opt->GetRelChangeInErr(), opt->GetErrorRatio()}),
                (std::vector<double>{1.5, 0.75, 1.25, o.batch ? 1.5 : 0.0, 1.75, 2.25}));
      std::ostringstream shown;
      opt->Display(shown);
      EXPECT_NE(shown.str().find("fTrainErrorPrev = 0.25\n"), std::string::npos);
      EXPECT_NE(shown.str().find("fTestErrorPrev = 0.5\n"), std::string::npos);
      if (o.batch) {
        const auto& batch = static_cast<const BatchOptimizer&>(*opt);
        EXPECT_EQ(batch.GetAccumGradient()[12], 12.5);
        EXPECT_EQ(batch.GetAccumError(), 3.5);
        EXPECT_EQ(batch.GetMiniBatchSize(), buffer ? 8 : 0);
      }
      ExpectFields(*opt, o.make, o.tag, o.name, [&](auto& s) { Values(s, o.batch, buffer); });
    }
  }
}

TEST(SolverLayouts, RegressionAndBothSolvers) {
  // y = 1 + 2x through (1, 3) and (2, 5).
  MultiVariateRegression line(1, true, 1);
  const double xs[] = {1, 2}, ys[] = {3, 5};
  for (int r = 0; r < 2; ++r) line.AddRecord(&xs[r], 1, &ys[r], 1, 1.0);
  ASSERT_EQ(line.EstimateCoefficients(true), 2);
  std::vector<double> b(2);
  line.GetCoefficients(0, b.data());
  // Regressors with the constant, the constant flag, dependents, tolerance;
  // the rows of z z' for z = (1, x, y) summed; cases; the swept flags; the
  // coefficients (the sweep's last bits taken as they are); the residual
  // sums of squares; the status.
  const auto regression = [&](auto& s) {
    s.I(2).I(1).I(1).D(1e-8).I(6).Ds({2, 3, 5, 8, 13, 34}).I(2).I(2).I(1).I(1).Ds(b);
    s.I(1).D(line.GetResidualSumOfSquares(0)).I(2);
  };
  ExpectFields(
      line, [] { return std::make_unique<MultiVariateRegression>(); }, "MVR",
      "MultiVariateRegression", regression);

  // Status, stop reason, time, iterations, passes, records, the estimated
  // error, then the regression; every value must arrive where it belongs.
  const auto solver = [&](const std::string& name, auto&& make) {
    SCOPED_TRACE(name);
    const auto fields = [&](auto& s) {
      s.I(VXNNCommon::kTrained).I(VXNNCommon::kStoppedComputed).D(0.5).I(3).I(5).I(150).D(2.25);
      regression(Open(s, "MVR", "MultiVariateRegression"));
      Close(s);
    };
    layouts::Bytes bytes;
    fields(bytes.Tag("LRG"));
    auto s = make();
    std::stringstream in(bytes.s);
    ASSERT_EQ(s->ReadObject(in), static_cast<int>(bytes.s.size()));
    EXPECT_EQ(
        std::make_tuple(s->GetAlgorithmStatus(), s->GetStopReason(), s->GetElapsedTime(),
                        s->GetNIterations(), s->GetNDataPasses(), s->GetNRecordsProcessed(),
                        s->GetEstError()),
        std::make_tuple(VXNNCommon::kTrained, VXNNCommon::kStoppedComputed, 0.5, 3, 5, 150, 2.25));
    ExpectFields(*s, make, "LRG", name, fields);
  };
  solver("RBFLinReg", [] { return std::make_unique<RBFLinReg>(); });
  // One input and one continuous target: the regression fits the network's
  // two output weights.
  MLPSettings settings(1, {1}, 10);
  settings.SetNumHiddenLayers(0);
  NNetwork net(settings);
  solver("LinearRegr", [&] { return std::make_unique<LinearRegr>(&settings, &net); });
}

enum class Kind { kGradientDescent, kScaledConjGrad, kMiniBatch };
const char* NameOf(Kind k) {
  return k == Kind::kGradientDescent  ? "GradientDescentBatch"
         : k == Kind::kScaledConjGrad ? "ScaledConjGrad"
                                      : "GradientDescentMBO";
}

// A trained optimizer of a network of 13 weights; with a buffer, one new
// record waits in its mini-batch buffer of 8 (less than the quarter batch an
// update steps on). A mini-batch optimizer without a buffer is a new one of
// capacity 0, since it cannot train without one.
struct Subject {
  Subject(Kind k, bool buffer) : kind(k), p(LinearProblem({3}, 40, 7, 3)) {
    p.settings->SetMaxNDataPasses(6);
    if (kind == Kind::kMiniBatch)
      p.settings->SetTrainingMethodAndType(VXNNCommon::kGradientDescent, VXNNCommon::kMiniBatch);
    opt = Fresh(buffer ? 8 : 0);
    if (kind == Kind::kMiniBatch && !buffer) return;
    auto train = VectorRecordIter::Borrow(p.records);
    VXStatus status;
    opt->Train(status, train, nullptr, 1000, 0);
    if (buffer) {
      p.settings->SetUpdateType(VXNNCommon::kMiniBatch);
      p.settings->SetMiniBatchSize(8);
      Update(LinearRecords(1, 5));
    }
  }
  std::unique_ptr<IOptimizationAlgorithm> Fresh(int capacity = 2) {
    if (kind == Kind::kGradientDescent)
      return std::make_unique<GradientDescentBatch>(p.settings.get(), p.net.get());
    if (kind == Kind::kScaledConjGrad)
      return std::make_unique<ScaledConjGrad>(p.settings.get(), p.net.get());
    return std::make_unique<GradientDescentMBO>(p.settings.get(), p.net.get(), 3, capacity,
                                                &random);
  }
  // The mini-batch optimizer reports its update on standard output.
  void Update(const std::vector<Record>& fresh) {
    auto train = VectorRecordIter::Borrow(p.records);
    auto source = VectorRecordIter::Borrow(fresh);
    VXStatus status;
    bool changed = false;
    std::ostringstream quiet;
    auto* old = std::cout.rdbuf(quiet.rdbuf());
    opt->Update(status, train, source, static_cast<int>(fresh.size()), changed);
    std::cout.rdbuf(old);
  }
  std::string Own(bool xml) const {
    return std::string(xml ? "Failure reading " : "Error reading ") + NameOf(kind) + "!\n";
  }

  Kind kind;
  Problem p;
  VXRandom random{777u, true};
  std::unique_ptr<IOptimizationAlgorithm> opt;
};

class SavedForm : public ::testing::TestWithParam<std::tuple<Kind, bool>> {};

TEST_P(SavedForm, DamagedAndImplausibleStreamsAreRefused) {
  const auto [kind, buffer] = GetParam();
  Subject s(kind, buffer);
  auto target = s.Fresh();
  saved_forms::ExpectReadersRobust(
      *s.opt, *target, {s.Own(false), "Error reading RecordBufferIter!\n"},
      {s.Own(true), "Error restoring VXNeural::RecordBufferIter from XML.\n"});
  // Implausible values, in both forms; the value types of the saved fields
  // in order ('i' int, 'd' double).
  const bool batch = kind != Kind::kMiniBatch;
  const std::size_t miniBatch = batch ? 28 : 12;
  // Fields and values: with a buffer, a size that is not the buffer's
  // capacity and a width that is not the network's; without one, a size
  // for a buffer that is not there.
  std::vector<std::pair<std::size_t, int>> bad = {
      {0, 9}, {0, -1}, {1, 9}, {1, -1}, {miniBatch, -1}};
  if (batch) bad.insert(bad.end(), {{13, 12}, {13, -5}, {13, 0x7fffffff}});
  if (buffer) bad.insert(bad.end(), {{miniBatch, 5}, {miniBatch + 1, 4}});
  if (!buffer) bad.push_back({miniBatch, 3});
  const std::string layout =
      std::string("iidiii") +
      (batch ? "ddddddd" + std::string("i") + std::string(13, 'd') + "d" : "dddddd") +
      (buffer ? "ii" : "i");
  target = s.Fresh();
  for (const bool xml : {false, true}) {
    const std::string good = saved_forms::Saved(*s.opt, xml);
    std::vector<std::string> damaged;
    for (const auto& [field, value] : bad)
      damaged.push_back(xml ? WithXmlValue(good, field, std::to_string(value))
                            : WithInt32(good, FieldOffset(3, layout, field), value));
    saved_forms::ExpectAllRefused(*target, xml, damaged, {s.Own(xml)});
  }
  // A bufferless record read over the optimizer drops the buffer it had.
  std::stringstream plain(saved_forms::Saved(*s.Fresh(0), false));
  s.opt->ReadObject(plain);
  if (const auto* b = dynamic_cast<const BatchOptimizer*>(s.opt.get())) {
    EXPECT_EQ(b->GetRecordBuffer(), nullptr);
  } else {
    EXPECT_EQ(static_cast<const GradientDescentMBO&>(*s.opt).GetMiniBatchSize(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(AllOptimizers, SavedForm,
                         ::testing::Combine(::testing::Values(Kind::kGradientDescent,
                                                              Kind::kScaledConjGrad,
                                                              Kind::kMiniBatch),
                                            ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(NameOf(std::get<0>(info.param))) +
                                  (std::get<1>(info.param) ? "WithBuffer" : "");
                         });

TEST(SavedModel, RestoredOptimizerCarriesOnLikeTheOriginal) {
  for (const Kind kind : {Kind::kGradientDescent, Kind::kScaledConjGrad, Kind::kMiniBatch})
    for (const bool xml : {false, true}) {
      SCOPED_TRACE(std::string(NameOf(kind)) + (xml ? " XML" : " binary"));
      Subject a(kind, true), b(kind, true);
      b.p.net->SetWeights(RandomWeights(13, 8, -1.0, 1.0));
      b.random.SetSeed(5);
      // A model's parts: settings (with the momentum a run stores),
      // generator, network, optimizer.
      std::stringstream model;
      auto save = [&](const auto& part) {
        xml ? part.WriteObjectXML(model) : part.WriteObject(model);
      };
      auto read = [&](auto& part) { xml ? part.ReadObjectXML(model) : part.ReadObject(model); };
      save(*a.p.settings), save(a.random), save(*a.p.net), save(*a.opt);
      read(*b.p.settings), read(b.random), read(*b.p.net), read(*b.opt);
      EXPECT_EQ(saved_forms::Saved(*b.opt, false), saved_forms::Saved(*a.opt, false));
      // An update that starts from the waiting record, then a new run.
      for (Subject* x : {&a, &b}) {
        x->Update(LinearRecords(19, 13));
        x->p.settings->SetMaxNDataPasses(12);
        auto train = VectorRecordIter::Borrow(x->p.records);
        VXStatus status;
        x->opt->Train(status, train, nullptr, 1000, 0);
      }
      ExpectWeightsNear(WeightsOf(*b.p.net), WeightsOf(*a.p.net), 0.0);
      EXPECT_EQ(b.random.GetSeed(), a.random.GetSeed());
      EXPECT_EQ(b.p.settings->GetAlpha(), a.p.settings->GetAlpha());
      EXPECT_EQ(b.opt->GetNIterations(), a.opt->GetNIterations());
      EXPECT_EQ(b.opt->GetNRecordsProcessed(), a.opt->GetNRecordsProcessed());
      EXPECT_EQ(b.opt->GetTrainError(), a.opt->GetTrainError());
    }
}

}  // namespace
