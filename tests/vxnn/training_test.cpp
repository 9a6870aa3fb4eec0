// `vxnn train` in this process. Its defaults beyond the library's: the
// classifier's hidden-layer size, the early-stopping stop rules, and the
// refit of the chosen model on every record once the held-out run has chosen
// it. And `--network auto`: the linear model, the perceptron and the RBF
// network trained on the same records, compared on the test records, the best
// kept; options that apply to one kind of network narrow the choice.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <numeric>
#include <sstream>
#include <utility>

#include "TestHost.h"
#include "model/ModelFile.h"
#include "report/HtmlReport.h"
#include "report/Report.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/network/NNCategOutput.h"
#include "vxneural/network/NNContOutput.h"
#include "vxneural/network/NNOutputList.h"
#include "vxneural/network/VXRandom.h"

namespace {

using testhost::ForTarget;
using testhost::Shipped;
using vxnn::TrainOptions;

NNVarList Iris() { return testhost::VarList(Shipped("iris.csv"), testhost::Targets({"species"})); }

// The library's defaults, but for the hidden layer of a classifier: 32
// units instead of the library's few.
TEST(HostDefaults, NoOptionsKeepTheLibraryDefaults) {
  MLPSettings plain(Iris(), 42);
  EXPECT_LT(plain.GetNumHiddenUnits(1), 32);
  plain.SetNumHiddenUnits(32, 1);
  EXPECT_TRUE(vxnn::MakeSettings(TrainOptions(), Iris(), 42) == plain);
  const NNVarList regression =
      testhost::VarList(Shipped("diabetes.csv"), testhost::Targets({"progression"}));
  EXPECT_TRUE(vxnn::MakeSettings(TrainOptions(), regression, 42) == MLPSettings(regression, 42));
}

// The portable generator's state is multiplied modulo 2^31 - 1, so a state
// of 0 stays 0; the host hands the library another seed for those, and
// every other seed as it is.
TEST(HostDefaults, SeedsTheGeneratorCannotUseAreReplaced) {
  const struct {
    unsigned given, library;
  } table[] = {{0u, 2147483646u},          {2147483647u, 2147483646u},
               {4294967294u, 2147483646u}, {1u, 1u},
               {12345u, 12345u},           {2147483646u, 2147483646u},
               {2147483648u, 2147483648u}, {4294967295u, 4294967295u}};
  for (const auto& row : table) EXPECT_EQ(vxnn::LibrarySeed(row.given), row.library) << row.given;
  TrainOptions o;
  o.fSeed = 0;
  o.fSamplingSeed = 0;
  const MLPSettings s = vxnn::MakeSettings(o, Iris(), 42);
  EXPECT_EQ(s.GetRandomSeed(), 2147483646u);
  EXPECT_EQ(s.GetRandomSeedSampling(), 2147483646u);
  // Seed 0 as given would draw nothing but zeros.
  VXRandom zero(0u, true), replaced(vxnn::LibrarySeed(0u), true);
  EXPECT_EQ(zero.Uniform(), 0.0);
  EXPECT_GT(replaced.Uniform(), 0.0);
}

TEST(HostDefaults, OptionsReachTheSettings) {
  const NNVarList list = Iris();
  TrainOptions o;
  o.fHiddenUnits = {8, 4};
  o.fHiddenActivation = "sigmoid";
  o.fOutputActivation = "tanh";
  MLPSettings s = vxnn::MakeSettings(o, list, 42);
  EXPECT_EQ(std::make_tuple(s.GetNumHiddenLayers(), s.GetNumHiddenUnits(1), s.GetNumHiddenUnits(2),
                            s.GetActivFnHiddenLayer(), s.GetActivFnOutputLayer()),
            std::make_tuple(2, 8, 4, VXNNCommon::kSigmoid, VXNNCommon::kTanH));
  // Two layers of their default sizes.
  o = TrainOptions();
  o.fHiddenLayers = 2;
  EXPECT_GT(vxnn::MakeSettings(o, list, 42).GetNumHiddenUnits(2), 0);

  o = TrainOptions();
  o.fTrainingType = "minibatch";
  o.fMiniBatchSize = 10;
  o.fSamplingSeed = 8;
  o.fStopAccuracy = 90;
  o.fMemoryBudget = 500;
  s = vxnn::MakeSettings(o, list, 42);
  // A training type of gradient descent alone chooses that method.
  EXPECT_EQ(
      std::make_tuple(s.GetTrainingMethod(), s.GetTrainType(), s.GetMiniBatchSize(),
                      s.GetRandomSeedSampling(), s.GetAccuracy(), s.GetMaxRecordsInMemory()),
      std::make_tuple(VXNNCommon::kGradientDescent, VXNNCommon::kMiniBatch, 10, 8u, 90.0, 500L));

  // The input scaling rule is the perceptron's; --input-scaling sets any
  // network's. Only the architecture search draws from a weight range; a
  // plain run would ignore it, so it is refused there.
  o = TrainOptions();
  EXPECT_EQ(vxnn::MakeSettings(o, list, 100).GetStandInputs(), VXNNCommon::kMeanStdDev);
  o.fInputScaling = "range";
  EXPECT_EQ(vxnn::MakeSettings(o, list, 100).GetStandInputs(), VXNNCommon::kMinRangeSymmetric);
  EXPECT_EQ(vxnn::MakeRBFSettings(o, list, 100).GetStandInputs(), VXNNCommon::kMinRangeSymmetric);
  o.fInputScaling = "standard";
  EXPECT_EQ(vxnn::MakeLinearSettings(o, list, 100).GetStandInputs(), VXNNCommon::kMeanStdDev);
  o.fInputScaling = "minmax";
  EXPECT_THROW(vxnn::MakeSettings(o, list, 100), vxnn::InputError);
  o = TrainOptions();
  o.fWeightRange = 0.2;
  EXPECT_THROW(vxnn::MakeSettings(o, list, 100), vxnn::InputError);
  o.fSelectArchitecture = true;
  EXPECT_EQ(vxnn::MakeSettings(o, list, 100).GetRandomWeightRangeHi(), 0.2);

  // Letting the test error decide turns off the training-fit stops; what
  // the user sets stands.
  o = TrainOptions();
  o.fTestErrorDecides = true;
  const MLPSettings early = vxnn::MakeSettings(o, list, 100), library(list, 100);
  EXPECT_GT(early.GetAccuracy(), 100.0);
  EXPECT_EQ(std::make_tuple(early.GetMinErrorRatio(), early.GetMaxNStepsTrackError(),
                            early.GetMinRelativeChangeError()),
            std::make_tuple(0.0, vxnn::kHostStepsWithoutImprovement,
                            library.GetMinRelativeChangeError()));
  o.fStopAccuracy = 95;
  o.fErrorRatio = 0.01;
  o.fStepsWithoutImprovement = 3;
  const MLPSettings user = vxnn::MakeSettings(o, list, 100);
  EXPECT_EQ(
      std::make_tuple(user.GetAccuracy(), user.GetMinErrorRatio(), user.GetMaxNStepsTrackError()),
      std::make_tuple(95.0, 0.01, 3));
}

// 4 continuous inputs and a target of 3 categories: the library's RBF
// defaults are an overlap factor of 1 + 0.1 x 4 and an open number of
// centres; the program's are 4 x 1.4 and 2 x (4 + 3) centres, at most one
// per training record. A range or the search leaves the number open.
TEST(HostDefaults, RBFOptionsReachTheSettings) {
  TrainOptions o;
  o.fNetwork = vxnn::NetworkKind::kRBF;
  const NNVarList list = Iris();
  RBFSettings s = vxnn::MakeRBFSettings(o, list, 42);
  EXPECT_DOUBLE_EQ(RBFSettings(list, 42).GetOverlapFactor(), 1.4);
  EXPECT_DOUBLE_EQ(s.GetOverlapFactor(), 5.6);
  EXPECT_EQ(
      std::make_tuple(s.GetActivFnHiddenLayer(), s.GetUserSetNHidUnits(), s.GetNumHiddenUnits(1),
                      vxnn::MakeRBFSettings(o, list, 9).GetNumHiddenUnits(1)),
      std::make_tuple(VXNNCommon::kNormalizedRadialBasis, true, 14, 9));
  o.fHiddenUnits = {5};
  o.fOverlap = 2.5;
  o.fHiddenActivation = "radial-basis";
  s = vxnn::MakeRBFSettings(o, list, 42);
  EXPECT_EQ(std::make_tuple(s.GetNumHiddenUnits(1), s.GetOverlapFactor(), s.GetActivFnHiddenLayer(),
                            s.GetNWeights()),
            std::make_tuple(5, 2.5, VXNNCommon::kRadialBasis, 3 * (5 + 1)));

  // One bound given: the other is what the clustering would take alone,
  // 1 or 2 x (4 inputs + 3 output units), but never below the bound given.
  // (The command line's RBF runs check the plain one-bound ranges.)
  o = TrainOptions();
  o.fNetwork = vxnn::NetworkKind::kRBF;
  o.fMinHiddenUnits = 20;
  s = vxnn::MakeRBFSettings(o, list, 42);
  EXPECT_EQ(
      std::make_tuple(s.GetUserSetNHidUnits(), s.GetMinNHiddenUnits(), s.GetMaxNHiddenUnits()),
      std::make_tuple(false, 20, 20));
  o.fSelectArchitecture = true;
  EXPECT_TRUE(vxnn::MakeRBFSettings(o, list, 42).GetExpertOneDataPass());
  o.fSearchPassPerCandidate = true;
  EXPECT_FALSE(vxnn::MakeRBFSettings(o, list, 42).GetExpertOneDataPass());
}

TEST(HostDefaults, PassesAtBestTestAndClassifierUnits) {
  const double gone = VXMV::gMissingValue;
  const struct {
    std::vector<vxnn::TrainingStep> fSteps;
    int fPasses;
  } cases[] = {
      {{}, -1},
      {{{3, 9.0, gone}, {5, 8.0, gone}}, -1},
      // The restored best is reported again at the end: the earliest counts.
      {{{3, 9.0, 4.0}, {5, 8.0, 2.0}, {7, 7.0, 3.0}, {9, 8.0, 2.0}}, 5},
      {{{3, 9.0, gone}, {5, 8.0, 6.0}, {7, 7.0, gone}}, 5},
      {{{3, 9.0, 1.0}, {5, 8.0, 2.0}}, 3},
  };
  for (const auto& c : cases) EXPECT_EQ(vxnn::PassesAtBestTest(c.fSteps, false), c.fPasses);
  // A run stopped by its test error ends on a step that is no best: a last
  // step alone at the lowest error is the starting weights, restored.
  const std::vector<vxnn::TrainingStep> restoredStart = {
      {2, 9.0, 4.0}, {3, 8.0, 5.0}, {3, 9.5, 1.0}};
  EXPECT_EQ(vxnn::PassesAtBestTest(restoredStart, true), 0);
  EXPECT_EQ(vxnn::PassesAtBestTest(restoredStart, false), 3);
  EXPECT_EQ(vxnn::PassesAtBestTest(cases[2].fSteps, true), 5);
  const int units[][3] = {{4, 3, 32}, {5, 3, 32}, {13, 3, 64}, {21, 4, 100}, {64, 10, 100}};
  for (const auto& u : units) EXPECT_EQ(vxnn::HostClassifierUnits(u[0], u[1]), u[2]) << u[0];
  for (int inputs : {1, 13, 31, 32, 64, 500})
    EXPECT_EQ(vxnn::HostInputScaling(inputs),
              inputs < 32 ? VXNNCommon::kMeanStdDev : VXNNCommon::kMinRangeSymmetric)
        << inputs;
}

// Early stopping, whose refit these tests check, unless set says otherwise.
std::unique_ptr<vxnn::TrainResult> TrainIris(const std::function<void(TrainOptions&)>& set = {}) {
  TrainOptions o = ForTarget("species");
  o.fEarlyStopping = true;
  if (set) set(o);
  return testhost::Train(Shipped("iris.csv"), o, "iris.csv");
}

// The class probabilities of every test record.
std::vector<double> Outputs(INeuralAlgorithm& a, VXCommon_1_2::MultiPassRecordIter& records) {
  std::vector<double> v;
  vxnn::ScoringRecord inputs(*a.GetVarList());
  records.Rewind();
  while (const VXCommon_1_2::Record* r = records.Next()) {
    const auto* c = dynamic_cast<const NNCategOutput*>(a.Score(inputs.Of(*r)).GetOutputAt(0));
    if (c) v.insert(v.end(), c->GetOutputs().begin(), c->GetOutputs().end());
  }
  records.Rewind();
  return v;
}

TEST(HostDefaults, RefitTrainsTheHeldOutChoiceOnEveryRecord) {
  const auto r = TrainIris();
  ASSERT_NE(r->fHeldOutModel, nullptr);
  EXPECT_EQ(r->fRefitRecords, 150);
  EXPECT_EQ(r->fAlgorithm->GetSettings()->GetNTrainRecords(), 150);
  EXPECT_EQ(r->fAlgorithm->GetNumberOfHiddenUnits(), r->fHeldOutModel->GetNumberOfHiddenUnits());
  EXPECT_GT(r->fRefitPassLimit, 0);
  EXPECT_LT(r->fRefitPassLimit, r->fHeldOutModel->GetNumberOfDataPasses());
  EXPECT_LE(r->fAlgorithm->GetNumberOfDataPasses(), r->fRefitPassLimit);
  EXPECT_NE(vxnn::TrainingReport(*r, {}, {}).fSubtitle.find("; trained on 150 records (refit"),
            std::string::npos);

  // The held-out run is the model --no-refit keeps, and the figures are its.
  const auto kept = TrainIris([](TrainOptions& o) { o.fRefit = false; });
  EXPECT_EQ(kept->fHeldOutModel, nullptr);
  const std::vector<double> heldOut = Outputs(*r->fHeldOutModel, *r->fTestSource);
  ASSERT_EQ(heldOut.size(), 3u * r->fTestCounts.fKept);
  EXPECT_EQ(Outputs(*kept->fAlgorithm, *kept->fTestSource), heldOut);
  EXPECT_NE(Outputs(*r->fAlgorithm, *r->fTestSource), heldOut);
  EXPECT_EQ(r->fTest.fStats.GetPercentsCorrect(), kept->fTest.fStats.GetPercentsCorrect());
  // The summary and the JSON tell the refit, or that there was none.
  std::ostringstream text, json, keptJson;
  vxnn::PrintTrainSummary(text, *r, {});
  vxnn::WriteTrainJson(json, *r, {});
  vxnn::WriteTrainJson(keptJson, *kept, {});
  EXPECT_EQ(
      testhost::Count(text.str(), "Refitted: the model kept was trained again on all 150 records"),
      1)
      << text.str();
  const auto j = nlohmann::json::parse(json.str());
  EXPECT_EQ(nlohmann::json({j["refit"]["records"], j["training"]["stop_reason"],
                            j["training"]["input_scaling"]}),
            nlohmann::json({150, "Stopped Verifying Cycle", "standard"}));
  EXPECT_TRUE(nlohmann::json::parse(keptJson.str())["refit"].is_null());
  EXPECT_TRUE(j["comparison_kept_because"].is_null());

  const std::pair<const char*, std::function<void(TrainOptions&)>> none[] = {
      {"no test records", [](TrainOptions& o) { o.fTestFraction = 0.0; }},
      {"size search", [](TrainOptions& o) { o.fSelectArchitecture = true; }},
  };
  for (const auto& [what, set] : none) EXPECT_EQ(TrainIris(set)->fHeldOutModel, nullptr) << what;

  // An RBF network is fitted again with the centre count and overlap the
  // selection chose (here not the overlap it started from, so that a refit
  // falling back to the default would show); its centres are placed anew.
  TrainOptions wine = ForTarget("cultivar");
  wine.fNetwork = vxnn::NetworkKind::kRBF;
  const auto rbf = testhost::Train(Shipped("wine.csv"), wine, "wine.csv");
  ASSERT_NE(rbf->fHeldOutModel, nullptr);
  const auto overlap = [](const INeuralAlgorithm& a) {
    return static_cast<const RBFSettings*>(a.GetSettings())->GetOverlapFactor();
  };
  const vxnn::SizeSelection& sel = rbf->fSizeSelections.at(0);
  ASSERT_NE(overlap(*rbf->fHeldOutModel), sel.fCandidates.at(0).fOverlap);
  EXPECT_EQ(overlap(*rbf->fAlgorithm), overlap(*rbf->fHeldOutModel));
  EXPECT_EQ(rbf->fAlgorithm->GetNumberOfHiddenUnits(),
            rbf->fHeldOutModel->GetNumberOfHiddenUnits());
  EXPECT_EQ(rbf->fAlgorithm->GetSettings()->GetNTrainRecords(), 178);
  EXPECT_EQ(rbf->fRefitPassLimit, 0);

  // A perceptron trained to the stop rules is refitted to them too: no
  // pass limit, the library's own stop rules (the accuracy target among
  // them) and no early stopping, which needs test records the refit has
  // none of.
  const auto full = TrainIris([](TrainOptions& o) { o.fEarlyStopping = false; });
  ASSERT_NE(full->fHeldOutModel, nullptr);
  EXPECT_EQ(full->fRefitPassLimit, 0);
  const auto* fullHeldOut = static_cast<const MLPSettings*>(full->fHeldOutModel->GetSettings());
  const auto* refit = static_cast<const MLPSettings*>(full->fAlgorithm->GetSettings());
  const MLPSettings library(*full->fList, 150);
  EXPECT_EQ(std::make_tuple(fullHeldOut->GetAccuracy(), refit->GetAccuracy(),
                            refit->GetMaxNDataPasses(), refit->GetNumHiddenUnits(1)),
            std::make_tuple(library.GetAccuracy(), library.GetAccuracy(),
                            fullHeldOut->GetMaxNDataPasses(), fullHeldOut->GetNumHiddenUnits(1)));
  EXPECT_NE(full->fHeldOutModel->GetStopReason(), VXNNCommon::kStoppedVerifyingCycle);
}

// The sample the importance of large data comes from: its size, its order,
// its seed, and the same chance for every record.
TEST(ImportanceSample, PositionsAreTheSizeAskedSortedAndSeedStable) {
  const struct {
    std::size_t total, n;
  } table[] = {{0, 5}, {7, 7}, {7, 9}, {10, 1}, {10, 9}, {1000, 250}, {10000, 1000}};
  for (const auto& row : table) {
    SCOPED_TRACE(std::to_string(row.n) + " of " + std::to_string(row.total));
    const std::vector<std::size_t> p = vxnn::SamplePositions(row.total, row.n, 7);
    ASSERT_EQ(p.size(), std::min(row.n, row.total));
    for (std::size_t i = 0; i < p.size(); ++i) {
      EXPECT_LT(p[i], row.total);
      if (i > 0) {
        EXPECT_LT(p[i - 1], p[i]);
      }
    }
    EXPECT_EQ(vxnn::SamplePositions(row.total, row.n, 7), p);
    if (row.n < row.total && row.n > 1) {
      EXPECT_NE(vxnn::SamplePositions(row.total, row.n, 8), p);
    }
  }
  // Every record has the same chance, n / total, of being in the sample:
  // over 20000 seeds each of 20 records is taken about 5000 times in
  // samples of 5 (a standard deviation of 61; four of them allowed).
  int taken[20] = {};
  for (std::uint64_t seed = 0; seed < 20000; ++seed)
    for (std::size_t at : vxnn::SamplePositions(20, 5, seed)) ++taken[at];
  for (int at = 0; at < 20; ++at) {
    EXPECT_GE(taken[at], 4756) << at;
    EXPECT_LE(taken[at], 5244) << at;
  }
}

// Beyond the sample's size, the importance comes from the records at the
// sample's positions among those the model learnt from (all 150 after the
// refit; without it the training records and then the test records),
// and the summary and the JSON say so; up to it, from every record, as the
// library computes it from the model's own.
TEST(ImportanceSample, LargeDataTakesTheSampleAndSaysSo) {
  for (bool refit : {true, false}) {
    SCOPED_TRACE(refit ? "refit" : "no refit");
    const auto all = TrainIris([&](TrainOptions& o) {
      o.fRefit = refit;
      o.fImportance = true;
      o.fImportanceSample = 150;
    });
    const auto every = TrainIris([&](TrainOptions& o) {
      o.fRefit = refit;
      o.fImportance = true;
      o.fImportanceSample = 0;
    });
    const auto sampled = TrainIris([&](TrainOptions& o) {
      o.fRefit = refit;
      o.fImportance = true;
      o.fImportanceSample = 40;
    });
    EXPECT_EQ(all->fImportance, every->fImportance);
    EXPECT_EQ(std::make_pair(all->fImportanceRecords, all->fImportanceOf),
              std::make_pair(std::size_t{150}, std::size_t{150}));
    EXPECT_EQ(std::make_pair(sampled->fImportanceRecords, sampled->fImportanceOf),
              std::make_pair(std::size_t{40}, std::size_t{150}));

    // The same model's importance over the records at the positions, read
    // here from the sources in the order the model learnt them.
    std::vector<VXCommon_1_2::Record> records;
    for (auto* source : {refit ? sampled->fAllSource.get() : sampled->fTrainSource.get(),
                         refit ? nullptr : sampled->fTestSource.get()}) {
      if (!source) continue;
      source->Rewind();
      while (const VXCommon_1_2::Record* r = source->Next()) records.push_back(*r);
      source->Rewind();
    }
    ASSERT_EQ(records.size(), 150u);
    std::vector<VXCommon_1_2::Record> picked;
    for (std::size_t at : vxnn::SamplePositions(150, 40, vxnn::kImportanceSeed))
      picked.push_back(records[at]);
    const vxnn::LoadedModel over = vxnn::CopyWithImportance(
        *sampled->fAlgorithm, sampled->fKind, "iris",
        [&](const NNVarList&) { return std::make_unique<VXCommon_1_2::VectorRecordIter>(picked); });
    std::vector<double> want;
    ASSERT_TRUE(over.fAlgorithm->ComputeSensitivity(want).IsOK());
    EXPECT_EQ(sampled->fImportance, want);

    std::ostringstream text, json, allText, allJson;
    vxnn::PrintTrainSummary(text, *sampled, {});
    vxnn::WriteTrainJson(json, *sampled, {});
    vxnn::PrintTrainSummary(allText, *all, {});
    vxnn::WriteTrainJson(allJson, *all, {});
    EXPECT_EQ(
        testhost::Count(text.str(), "importance from a sample of 40 of 150 records (fixed seed)"),
        1)
        << text.str();
    EXPECT_EQ(testhost::Count(allText.str(), "a sample of"), 0);
    const auto j = nlohmann::json::parse(json.str()), a = nlohmann::json::parse(allJson.str());
    EXPECT_EQ(nlohmann::json({j["importance_records"], j["importance_of_records"],
                              a["importance_records"], a["importance_of_records"]}),
              nlohmann::json({40, 150, 150, 150}));
  }
}

// The refit's library limit and the most passes it can make, worked out
// by hand from each method's pass pattern: scaled conjugate gradient makes
// 1 pass at the start and 1 or 2 per iteration, tested from 3 on; batch
// gradient descent 1 at the start and 1 per trial step, tested from 2 on;
// mini-batch and online training without test records 1 + 2 per epoch.
// The driver's sampling pass adds 1 to the most.
TEST(RefitLimit, EachMethodStopsWithinTheStatedPasses) {
  const struct {
    const char* fMethod;
    VXNNCommon::MLPTrainingMethod fTraining;
    VXNNCommon::TrainingType fType;
    bool fCheckTraining;
    int fPassesAtBest, fLibraryLimit, fMost;
  } cases[] = {
      {"scg", VXNNCommon::kScaledConjugateGradient, VXNNCommon::kBatch, false, 1, 1, 4},
      {"scg", VXNNCommon::kScaledConjugateGradient, VXNNCommon::kBatch, false, 3, 2, 4},
      {"scg", VXNNCommon::kScaledConjugateGradient, VXNNCommon::kBatch, false, 4, 3, 5},
      {"scg", VXNNCommon::kScaledConjugateGradient, VXNNCommon::kBatch, false, 17, 16, 18},
      {"gd", VXNNCommon::kGradientDescent, VXNNCommon::kBatch, false, 0, 2, 3},
      {"gd", VXNNCommon::kGradientDescent, VXNNCommon::kBatch, false, 2, 2, 3},
      {"gd", VXNNCommon::kGradientDescent, VXNNCommon::kBatch, false, 16, 16, 17},
      {"minibatch", VXNNCommon::kGradientDescent, VXNNCommon::kMiniBatch, false, 0, 3, 4},
      {"minibatch", VXNNCommon::kGradientDescent, VXNNCommon::kMiniBatch, false, 11, 23, 24},
      {"online", VXNNCommon::kGradientDescent, VXNNCommon::kOnline, true, 7, 7, 8},
      {"online", VXNNCommon::kGradientDescent, VXNNCommon::kOnline, true, 0, 3, 4},
  };
  for (const auto& c : cases) {
    MLPSettings s(Iris(), 105);
    s.SetTrainingMethodAndType(c.fTraining, c.fType);
    s.SetCheckTrainErrVerifyingCycle(c.fCheckTraining);
    const vxnn::RefitLimit l = vxnn::RefitLimitFor(s, c.fPassesAtBest);
    EXPECT_EQ(std::make_pair(l.fLibraryLimit, l.fMostPasses),
              std::make_pair(c.fLibraryLimit, c.fMost))
        << c.fMethod << " " << c.fPassesAtBest;
  }
}

// End to end, with every training method vxnn offers and several held-out
// limits: the summary and the JSON state the refit's limit, and the refit
// stays within it; gradient descent, whose passes follow the limit
// exactly, stops on it.
TEST(RefitLimit, SummaryAndJsonStateALimitTheRefitKeeps) {
  const std::pair<const char*, std::function<void(TrainOptions&)>> methods[] = {
      {"scg", [](TrainOptions&) {}},
      {"gd", [](TrainOptions& o) { o.fMethod = "gd"; }},
      {"minibatch", [](TrainOptions& o) { o.fTrainingType = "minibatch"; }},
      {"online", [](TrainOptions& o) { o.fTrainingType = "online"; }},
  };
  for (const auto& [method, set] : methods)
    for (int limit : {1, 6, 15, 40}) {
      SCOPED_TRACE(std::string(method) + " " + std::to_string(limit));
      const auto r = TrainIris([&](TrainOptions& o) {
        set(o);
        o.fMaxDataPasses = limit;
      });
      ASSERT_NE(r->fHeldOutModel, nullptr);
      const int most = r->fRefitPassLimit, made = r->fAlgorithm->GetNumberOfDataPasses();
      EXPECT_LE(made, most);
      EXPECT_GE(made, vxnn::kSamplingPasses + 2);
      if (std::string(method) != "scg") {
        EXPECT_EQ(made, most);
      }
      std::ostringstream text, json;
      vxnn::PrintTrainSummary(text, *r, {});
      vxnn::WriteTrainJson(json, *r, {});
      const std::string limitText = "for at most " + std::to_string(most) + " data passes";
      const std::string madeText = ", after " + std::to_string(made) + ")";
      EXPECT_EQ(testhost::Count(text.str(), limitText), 1) << text.str();
      EXPECT_EQ(testhost::Count(text.str(), madeText), 1) << text.str();
      const auto j = nlohmann::json::parse(json.str())["refit"];
      EXPECT_EQ(nlohmann::json({j["max_data_passes"], j["data_passes"]}),
                nlohmann::json({most, made}));
    }
}

std::unique_ptr<vxnn::TrainResult> Auto(const vxnn::CsvTable& table, TrainOptions o) {
  o.fAutoNetwork = true;
  return testhost::Train(table, o);
}

// The kept network is the first of those with the lowest loss, a class
// target's loss the share of test records misclassified, as the kept model
// scores them itself; the summary and the JSON show all three.
TEST(AutoNetwork, KeepsTheBestOfThreeOnTheTestRecords) {
  auto r = Auto(Shipped("iris.csv"), ForTarget("species"));
  ASSERT_EQ(r->fNetworksTried.size(), 3u);
  std::ostringstream text, json;
  vxnn::PrintTrainSummary(text, *r, {});
  vxnn::WriteTrainJson(json, *r, {});
  EXPECT_NE(text.str().find("Networks compared on the 45 test records:"), std::string::npos)
      << text.str();
  const nlohmann::json whole = nlohmann::json::parse(json.str());
  const nlohmann::json tried = whole["networks_compared"];
  EXPECT_EQ(nlohmann::json({whole["comparison_baseline_loss"], whole["comparison_kept_because"]}),
            nlohmann::json({r->fBaselineLoss, r->fKeptBecause}));
  EXPECT_EQ(testhost::Count(text.str(), "  kept: " + r->fKeptBecause + "\n"), 1) << text.str();
  ASSERT_EQ(tried.size(), 3u);
  const char* names[] = {"linear", "mlp", "rbf"};
  std::size_t kept = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    const vxnn::NetworkTried& t = r->fNetworksTried[i];
    EXPECT_EQ(t.fName, names[i]);
    EXPECT_EQ(tried[i]["network"], names[i]);
    EXPECT_TRUE(t.fLeftOut.empty()) << t.fLeftOut;
    EXPECT_EQ(t.fTest.fRecords, r->fTest.fRecords);
    EXPECT_NEAR(tried[i]["test"][0]["accuracy"].get<double>(), 1.0 - t.fLoss, 1e-12);
    if (t.fLoss < r->fNetworksTried[kept].fLoss) kept = i;
  }
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(r->fNetworksTried[i].fKept, i == kept) << i;
    EXPECT_EQ(tried[i]["kept"], i == kept) << i;
  }
  const vxnn::SetFigures own = vxnn::Evaluate(r->MeasuredModel(), *r->fTestSource, 45);
  EXPECT_NEAR(r->fNetworksTried[kept].fLoss, 1.0 - own.fStats.GetPercentsCorrect()[0] / 100.0,
              1e-12);
  EXPECT_EQ(r->fAlgorithm->GetAlgorithmType() == VXNNCommon::kRBF, kept == 2);
  EXPECT_EQ(r->fAlgorithm->GetNumberOfHiddenUnits(), r->fNetworksTried[kept].fHiddenUnits);
}

// y = 2a - 3b + 1 exactly: least squares finds it, and the comparison
// keeps it over networks that only approach it.
TEST(AutoNetwork, LinearModelIsSolvedByLeastSquares) {
  std::ostringstream csv;
  csv << "a,b,y\n";
  for (int i = 0; i < 80; ++i) {
    const double a = (i * 37 % 101) / 10.0, b = (i * 53 % 89) / 10.0 - 4.0;
    csv << a << "," << b << "," << 2 * a - 3 * b + 1 << "\n";
  }
  auto r = Auto(testhost::CsvFromText(csv.str()), ForTarget("y"));
  ASSERT_TRUE(r->fNetworksTried[0].fKept);
  EXPECT_EQ(r->fBaselineLoss, 1.0);
  EXPECT_EQ(r->fKeptBecause.rfind("linear, for the lowest test loss, 0.000, below the baseline's "
                                  "1.000",
                                  0),
            0u)
      << r->fKeptBecause;
  EXPECT_LT(r->fNetworksTried[0].fLoss, 1e-12);
  EXPECT_EQ(r->fNetworksTried[0].fHiddenUnits, 0);
  // A record far outside the training range is still predicted exactly.
  const VXCommon_1_2::Record rec(std::vector<double>{20.0, -10.0});
  const auto* y = dynamic_cast<const NNContOutput*>(r->fAlgorithm->Score(rec).GetOutputAt(0));
  ASSERT_NE(y, nullptr);
  EXPECT_NEAR(y->GetRealOutput(), 2 * 20.0 - 3 * -10.0 + 1, 1e-6);
}

// Noise: inputs that say nothing about a target with a majority class. The
// linear model with more weights than training records is left out; no
// network is kept that does not beat the majority class, whose loss is the
// share of test records outside the training records' majority.
TEST(AutoNetwork, NoNetworkWinsOnNoiseByChance) {
  unsigned x = 7;
  const auto draw = [&x] {
    x = x * 1103515245u + 12345u;
    return (x >> 8 & 0xffff) / 65536.0;
  };
  const struct {
    int fRecords, fInputs;
    bool fLinearLeftOut;
  } cases[] = {{40, 30, true}, {60, 12, false}};
  for (const auto& c : cases)
    for (unsigned seed : {1u, 2u, 3u, 4u}) {
      SCOPED_TRACE(std::to_string(c.fInputs) + " inputs, seed " + std::to_string(seed));
      std::ostringstream csv;
      for (int i = 0; i < c.fInputs; ++i) csv << "x" << i << ",";
      csv << "t\n";
      for (int n = 0; n < c.fRecords; ++n) {
        for (int i = 0; i < c.fInputs; ++i) csv << draw() << ",";
        csv << (draw() < 0.7 ? "a" : "b") << "\n";
      }
      TrainOptions o = ForTarget("t");
      o.fPartitionSeed = seed;
      auto r = Auto(testhost::CsvFromText(csv.str()), o);
      ASSERT_EQ(r->fNetworksTried.size(), 3u);
      EXPECT_EQ(!r->fNetworksTried[0].fLeftOut.empty(), c.fLinearLeftOut);
      if (c.fLinearLeftOut) {
        EXPECT_EQ(r->fNetworksTried[0].fLeftOut,
                  "30 input units and a bias for 28 training records: least squares would fit "
                  "them exactly");
      }
      // The baseline from the actual categories on both sides.
      const auto train = r->fTrain.fStats.GetMisClassMatrixAsVecOfRows(0);
      const auto test = r->fTest.fStats.GetMisClassMatrixAsVecOfRows(0);
      const auto sum = [](const std::vector<int>& row) {
        return std::accumulate(row.begin(), row.end(), 0);
      };
      const std::size_t major = sum(train[0]) >= sum(train[1]) ? 0 : 1;
      const double baseline = 1.0 - double(sum(test[major])) / (sum(test[0]) + sum(test[1]));
      EXPECT_NEAR(r->fBaselineLoss, baseline, 1e-12);
      int kept = 0;
      for (const vxnn::NetworkTried& t : r->fNetworksTried) {
        if (!t.fKept) continue;
        ++kept;
        const bool beat = t.fLoss < baseline - 1e-9;
        EXPECT_EQ(r->fKeptBecause.rfind(t.fName + ", for the lowest test loss", 0) == 0, beat)
            << r->fKeptBecause;
        if (!beat) {
          EXPECT_EQ(t.fName, "mlp");
          EXPECT_NE(r->fKeptBecause.find("no network's test loss was below"), std::string::npos);
        }
        for (const vxnn::NetworkTried& other : r->fNetworksTried)
          EXPECT_TRUE(!beat || !other.fLeftOut.empty() || t.fLoss <= other.fLoss + 1e-12)
              << other.fName;
      }
      EXPECT_EQ(kept, 1);
    }
}

TEST(AutoNetwork, OptionsOfOneKindLeaveTheOthersOut) {
  const vxnn::CsvTable iris = Shipped("iris.csv");
  const struct {
    const char* fOption;
    std::function<void(TrainOptions&)> fSet;
    std::vector<bool> fLeftOut;  // linear, mlp, rbf
  } cases[] = {
      {"--method", [](TrainOptions& o) { o.fMethod = "gd"; }, {true, false, true}},
      {"--overlap", [](TrainOptions& o) { o.fOverlap = 2.0; }, {true, true, false}},
      {"--hidden-units", [](TrainOptions& o) { o.fHiddenUnits = {3}; }, {true, false, false}},
      {"--memory-budget", [](TrainOptions& o) { o.fMemoryBudget = 50; }, {false, false, false}},
  };
  for (const auto& c : cases) {
    TrainOptions o = ForTarget("species");
    c.fSet(o);
    auto r = Auto(iris, o);
    ASSERT_EQ(r->fNetworksTried.size(), 3u) << c.fOption;
    for (std::size_t i = 0; i < 3; ++i) {
      const vxnn::NetworkTried& t = r->fNetworksTried[i];
      EXPECT_EQ(!t.fLeftOut.empty(), c.fLeftOut[i]) << c.fOption << " " << t.fName;
      if (!t.fLeftOut.empty()) {
        EXPECT_FALSE(t.fKept);
        EXPECT_NE(t.fLeftOut.find(c.fOption), std::string::npos) << t.fLeftOut;
      }
    }
  }
  // Without test records the perceptron is trained; refusing all three is
  // an error.
  TrainOptions o = ForTarget("species");
  o.fTestFraction = 0.0;
  auto r = Auto(iris, o);
  EXPECT_EQ(std::make_tuple(r->fAutoWithoutTest, r->fNetworksTried.size(),
                            r->fAlgorithm->GetAlgorithmType()),
            std::make_tuple(true, std::size_t{0}, VXNNCommon::kMLP));
  EXPECT_GT(r->fAlgorithm->GetNumberOfHiddenUnits(), 0);
  o = ForTarget("species");
  o.fMemoryBudget = 0;
  EXPECT_THROW(Auto(iris, o), vxnn::InputError);
}

// The refit's default: below kRefitAutoMaxRecords training records the
// model kept is trained again on every record; from that count on, only
// when --refit asks; never with --no-refit. The summary says which.
TEST(Refit, DefaultStopsAtTheRecordCountAndTheOptionsOverrideIt) {
  // 2 records of 3 go to training (test fraction 1/3), so 29,998 records
  // put 19,999 in training and 30,000 put 20,000 there.
  auto table = [](int n) {
    std::string text = "x,y\n";
    for (int i = 0; i < n; ++i)
      text += std::to_string(i % 97) + "," + (i % 97 < 40 ? "a" : "b") + "\n";
    return testhost::CsvFromText(text);
  };
  const struct {
    int rows;
    const char* flag;  // "", "--refit" or "--no-refit"
    bool refitted, skippedForSize;
  } cases[] = {
      {29998, "", true, false},
      {30000, "", false, true},
      {30000, "--refit", true, false},
      {29998, "--no-refit", false, false},
      {30000, "--no-refit", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.rows) + " " + c.flag);
    TrainOptions o = ForTarget("y");
    o.fTestFraction = 1.0 / 3.0;
    o.fSizeSelection = vxnn::SizeSelectionMode::kRule;
    o.fMaxDataPasses = 2;
    if (std::string(c.flag) == "--refit") o.fRefit = true;
    if (std::string(c.flag) == "--no-refit") o.fRefit = false;
    const auto r = testhost::Train(table(c.rows), o);
    const long training = r->fTrainCounts.fKept;
    EXPECT_EQ(training, c.rows == 29998 ? 19999 : 20000);
    EXPECT_EQ(r->fHeldOutModel != nullptr, c.refitted);
    EXPECT_EQ(r->fRefitSkippedForSize, c.skippedForSize);
    if (c.refitted) {
      EXPECT_EQ(r->fRefitRecords, c.rows);
    }
    std::ostringstream text;
    vxnn::PrintTrainSummary(text, *r, vxnn::SavedAs{});
    EXPECT_EQ(text.str().find("Not refitted: " + std::to_string(training) +
                              " training records are enough") != std::string::npos,
              c.skippedForSize);
    EXPECT_EQ(text.str().find("Refitted: the model kept") != std::string::npos, c.refitted);
  }
}

}  // namespace
