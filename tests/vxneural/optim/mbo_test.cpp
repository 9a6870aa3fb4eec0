// Mini-batch and online gradient descent: steps, learning-rate decay,
// momentum cap and record order checked against a second implementation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>
#include <string>
#include <valarray>
#include <vector>

#include "optim_fixtures.h"
#include "vxneural/network/VXRandom.h"
#include "vxneural/optim/GradientDescentMBO.h"

namespace {

using namespace optim_fixtures;

std::vector<Record> Slice(const std::vector<Record>& records, std::size_t from, std::size_t n) {
  return {records.begin() + from, records.begin() + from + n};
}

// The order of a block of n records as the generator shuffles it.
std::vector<int> ShuffledOrder(VXRandom& random, int n) {
  std::vector<int> order(static_cast<std::size_t>(n));
  std::iota(order.begin(), order.end(), 0);
  random.Shuffle(order);
  return order;
}

// A second implementation of the steps and epochs of a run without test
// data, with the oracle network's errors and gradients.
struct Reference {
  // From the settings as a run starts (before Train stores its final
  // momentum in them); an update steps at GetEtaLow().
  Reference(NNetwork& o, const std::valarray<double>& start, const MLPSettings& s, double decay,
            bool train = true)
      : oracle(o),
        w(start),
        a(0.0, start.size()),
        eta(train ? s.GetEtaInit() : s.GetEtaLow()),
        etaLow(s.GetEtaLow()),
        decay(decay),
        alpha(s.GetAlpha()),
        rho(s.GetAlphaReduction()),
        training(train) {}
  NNetwork& oracle;
  std::valarray<double> w, a;
  double eta, etaLow, decay, alpha, rho;
  bool training;
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
  // Whole mini-batches of c in record order (all records at once when they
  // are fewer than c), or (online) loads of c taken in shuffled order; the
  // run ends at its best training epoch.
  void Train(const std::vector<Record>& records, std::size_t c, int epochs,
             VXRandom* shuffler = nullptr) {
    std::valarray<double> best = w;
    double bestError = Evaluate(oracle, w, records).error;
    int bestEpoch = 1;
    for (int epoch = 1; epoch <= epochs; ++epoch) {
      for (std::size_t from = 0; from < records.size(); from += c) {
        const std::size_t n = std::min(records.size() - from, c);
        if (shuffler == nullptr && (n == c || records.size() < c)) Step(Slice(records, from, n));
        if (shuffler != nullptr)
          for (int k : ShuffledOrder(*shuffler, static_cast<int>(n)))
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

// A network of 2 inputs, 3 tanh hidden units and 1 continuous target on
// linear data, with its optimizer (mini-batches of c) and generator.
struct Fixture : Problem {
  Fixture(int records, VXNNCommon::TrainingType type, int c)
      : Problem(LinearProblem({3}, records, 1, 3)) {
    settings->SetTrainingMethodAndType(VXNNCommon::kGradientDescent, type);
    settings->SetAlphaReduction(0.5);
    mbo = std::make_unique<GradientDescentMBO>(settings.get(), net.get(), 3, c, &random);
  }
  VXRandom random{777u, true};
  std::unique_ptr<GradientDescentMBO> mbo;
};

TEST(GradientDescentMBOTrain, FollowsASecondImplementation) {
  struct Case {
    const char* what;
    int n;
    VXNNCommon::TrainingType type;
    int c;
    double eta, etaLow, alpha, nEpochs;
    int epochs, steps;
  };
  const Case cases[] = {
      // Two steps per epoch; the last 5 records are left out of the steps
      // but not out of the measured error.
      {"whole mini-batches only", 25, VXNNCommon::kMiniBatch, 10, 0.05, 0.05, 0.9, 2, 3, 6},
      // Two steps to decay over: 0.1, 0.05, then 0.025 for good.
      {"rate halves to its low value", 20, VXNNCommon::kMiniBatch, 10, 0.1, 0.025, 0.0, 1, 3, 6},
      // The schedule's factor is exp(-inf) = 0: the rate is 0 from the
      // second step on, and no later step moves the weights.
      {"low rate of zero", 20, VXNNCommon::kMiniBatch, 10, 0.1, 0.0, 0.0, 1, 3, 6},
      {"momentum capped", 40, VXNNCommon::kMiniBatch, 8, 0.1, 0.01, 5.0, 2, 4, 20},
      {"data smaller than a mini-batch", 5, VXNNCommon::kMiniBatch, 8, 0.1, 0.01, 0.9, 2, 3, 3},
      // Loads of 8, 8 and 4, each in its own shuffled order.
      {"online", 20, VXNNCommon::kOnline, 8, 0.05, 0.01, 0.5, 2, 3, 60},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fixture f(c.n, c.type, c.c);
    f.settings->SetEtaInit(c.eta);
    f.settings->SetEtaLow(c.etaLow);
    f.settings->SetAlpha(c.alpha);
    f.settings->SetNEpochs(c.nEpochs);
    // Without test data: the first pass, then an epoch and a training-error
    // pass per epoch.
    f.settings->SetMaxNDataPasses(1 + 2 * c.epochs);
    // The rate falls geometrically over nEpochs epochs of n / c steps.
    Reference ref(*f.oracle, f.initial, *f.settings,
                  c.eta == c.etaLow
                      ? 1.0
                      : std::exp(-std::log(c.eta / c.etaLow) / (1.0 * c.n / c.c * c.nEpochs)));
    CountingIter train(f.records);
    VXStatus status;
    f.mbo->Train(status, train, nullptr, 1000, 0);
    EXPECT_TRUE(status.IsOK());
    EXPECT_EQ(f.mbo->GetStopReason(), VXNNCommon::kStoppedMaxDataPasses);
    EXPECT_EQ(f.mbo->GetAlgorithmStatus(), VXNNCommon::kTrained);
    EXPECT_EQ(f.mbo->GetNIterations(), c.steps);
    EXPECT_EQ(f.mbo->GetNDataPasses(), 1 + 2 * c.epochs);
    EXPECT_EQ(f.mbo->GetNRecordsProcessed(), c.n * c.epochs);
    EXPECT_EQ(train.handedOut, c.n * (1 + 2 * c.epochs));

    VXRandom shuffler(777u, true);
    ref.Train(f.records, static_cast<std::size_t>(c.c), c.epochs,
              c.type == VXNNCommon::kOnline ? &shuffler : nullptr);
    EXPECT_EQ(ref.steps, c.steps);
    ExpectWeightsNear(WeightsOf(*f.net), ref.w);
    EXPECT_DOUBLE_EQ(f.settings->GetAlpha(), ref.alpha);
    EXPECT_DOUBLE_EQ(f.mbo->GetTrainError(), f.At(ref.w).error);
    // The shared generator moved on by exactly the draws of the loads.
    if (c.type == VXNNCommon::kOnline) {
      EXPECT_EQ(f.random.GetSeed(), shuffler.GetSeed());
    }
    if (c.alpha == 5.0) {
      EXPECT_LT(ref.alpha, 5.0);
    }
  }
}

}  // namespace
