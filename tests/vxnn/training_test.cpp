// `vxnn train` in this process. Its defaults beyond the library's: the
// classifier's hidden-layer size, the early-stopping stop rules, and the
// refit of the chosen model on every record once the held-out run has chosen
// it. And `--network auto`: the linear model, the perceptron and the RBF
// network trained on the same records, compared on the test records, the best
// kept; options that apply to one kind of network narrow the choice.
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "HtmlReport.h"
#include "Report.h"
#include "TestHost.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/network/NNCategOutput.h"
#include "vxneural/network/NNContOutput.h"
#include "vxneural/network/NNOutputList.h"

namespace {

using testhost::ForTarget;
using testhost::Shipped;
using vxnn::TrainOptions;

NNVarList Iris() { return testhost::VarList(Shipped("iris.csv"), testhost::Targets({"species"})); }

TEST(HostDefaults, PassesAtBestTestAndClassifierUnits) {
  const double gone = VXMV::gMissingValue;
  const struct {
    std::vector<vxnn::TrainingStep> fSteps;
    int fPasses;
  } cases[] = {
      {{}, 0},
      {{{3, 9.0, gone}, {5, 8.0, gone}}, 0},
      // The restored best is reported again at the end: the earliest counts.
      {{{3, 9.0, 4.0}, {5, 8.0, 2.0}, {7, 7.0, 3.0}, {9, 8.0, 2.0}}, 5},
      {{{3, 9.0, gone}, {5, 8.0, 6.0}, {7, 7.0, gone}}, 5},
      {{{3, 9.0, 1.0}, {5, 8.0, 2.0}}, 3},
  };
  for (const auto& c : cases) EXPECT_EQ(vxnn::PassesAtBestTest(c.fSteps), c.fPasses);
  const int units[][3] = {{4, 3, 32}, {5, 3, 32}, {13, 3, 64}, {21, 4, 100}, {64, 10, 100}};
  for (const auto& u : units) EXPECT_EQ(vxnn::HostClassifierUnits(u[0], u[1]), u[2]) << u[0];
  for (int inputs : {1, 13, 31, 32, 64, 500})
    EXPECT_EQ(vxnn::HostInputScaling(inputs),
              inputs < 32 ? VXNNCommon::kMeanStdDev : VXNNCommon::kMinRangeSymmetric)
        << inputs;
}

// The input scaling rule is the perceptron's; --input-scaling sets any
// network's. Only the architecture search draws from a weight range; a plain
// run would ignore it, so it is refused there.
TEST(HostDefaults, InputScalingAndWeightRangeOptions) {
  const NNVarList list = Iris();
  TrainOptions o;
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
}

TEST(HostDefaults, TestErrorDecidesTurnsOffTheTrainingFitStops) {
  const NNVarList list = Iris();
  TrainOptions o;
  o.fTestErrorDecides = true;
  const MLPSettings early = vxnn::MakeSettings(o, list, 100), library(list, 100);
  EXPECT_GT(early.GetAccuracy(), 100.0);
  EXPECT_EQ(std::make_tuple(early.GetMinErrorRatio(), early.GetMaxNStepsTrackError(),
                            early.GetMinRelativeChangeError()),
            std::make_tuple(0.0, vxnn::kHostStepsWithoutImprovement,
                            library.GetMinRelativeChangeError()));
  // What the user sets stands.
  o.fStopAccuracy = 95;
  o.fErrorRatio = 0.01;
  o.fStepsWithoutImprovement = 3;
  const MLPSettings user = vxnn::MakeSettings(o, list, 100);
  EXPECT_EQ(
      std::make_tuple(user.GetAccuracy(), user.GetMinErrorRatio(), user.GetMaxNStepsTrackError()),
      std::make_tuple(95.0, 0.01, 3));
}

std::unique_ptr<vxnn::TrainResult> TrainIris(const std::function<void(TrainOptions&)>& set = {}) {
  TrainOptions o = ForTarget("species");
  if (set) set(o);
  return testhost::Train(Shipped("iris.csv"), o, "iris.csv");
}

// The class probabilities of every test record.
std::vector<double> Outputs(INeuralAlgorithm& a, VXCommon_1_2::MultiPassRecordIter& records) {
  std::vector<double> v;
  records.Rewind();
  while (const VXCommon_1_2::Record* r = records.Next()) {
    const auto* c = dynamic_cast<const NNCategOutput*>(a.Score(*r).GetOutputAt(0));
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
  // Scaled conjugate gradient tests the limit after an iteration of two passes.
  EXPECT_LE(r->fAlgorithm->GetNumberOfDataPasses(), r->fRefitPassLimit + 2);
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

  const std::pair<const char*, std::function<void(TrainOptions&)>> none[] = {
      {"no test records", [](TrainOptions& o) { o.fTestFraction = 0.0; }},
      {"rbf", [](TrainOptions& o) { o.fNetwork = vxnn::NetworkKind::kRBF; }},
      {"size search", [](TrainOptions& o) { o.fSelectArchitecture = true; }},
  };
  for (const auto& [what, set] : none) EXPECT_EQ(TrainIris(set)->fHeldOutModel, nullptr) << what;
}

TEST(HostDefaults, SummaryAndJsonTellTheRefit) {
  const std::string train =
      "train data/iris.csv --target species --no-progress --no-importance "
      "--no-save";
  std::string out;
  ASSERT_EQ(testhost::RunLine(train + " --json", &out), 0);
  const auto j = nlohmann::json::parse(out);
  EXPECT_EQ(j["refit"]["records"], 150);
  EXPECT_EQ(j["training"]["stop_reason"], "Stopped Verifying Cycle");
  EXPECT_EQ(j["training"]["hidden_units"]["count"], 32);
  EXPECT_EQ(j["training"]["input_scaling"], "standard");
  ASSERT_EQ(testhost::RunLine(train + " --json --no-refit", &out), 0);
  EXPECT_TRUE(nlohmann::json::parse(out)["refit"].is_null());
  ASSERT_EQ(testhost::RunLine(train, &out), 0);
  EXPECT_EQ(testhost::Count(out, "Refitted: the model kept was trained again on all 150 records"),
            1)
      << out;
}

std::unique_ptr<vxnn::TrainResult> Auto(const vxnn::CsvTable& table, TrainOptions o) {
  o.fAutoNetwork = true;
  return testhost::Train(table, o);
}

// Share of the test records whose predicted category is their own, scored
// one by one through the kept model.
double MisclassifiedShare(vxnn::TrainResult& r, int targetVariable) {
  int wrong = 0, n = 0;
  r.fTestSource->Rewind();
  while (const VXCommon_1_2::Record* rec = r.fTestSource->Next()) {
    const NNOutputList& out = r.MeasuredModel().Score(*rec);
    const auto* cat = dynamic_cast<const NNCategOutput*>(out.GetOutputAt(0));
    if (cat == nullptr) return -1.0;
    wrong += cat->GetWinningIndex() != static_cast<int>((*rec)[targetVariable]);
    ++n;
  }
  r.fTestSource->Rewind();
  return n ? static_cast<double>(wrong) / n : -1.0;
}

TEST(AutoNetwork, KeepsTheBestOfThreeOnTheTestRecords) {
  auto r = Auto(Shipped("iris.csv"), ForTarget("species"));
  ASSERT_EQ(r->fNetworksTried.size(), 3u);
  const char* names[] = {"linear", "mlp", "rbf"};
  // The kept network is the first of those with the lowest loss.
  std::size_t kept = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    const vxnn::NetworkTried& t = r->fNetworksTried[i];
    EXPECT_EQ(t.fName, names[i]);
    EXPECT_TRUE(t.fLeftOut.empty()) << t.fLeftOut;
    EXPECT_EQ(t.fTest.fRecords, r->fTest.fRecords);
    if (t.fLoss < r->fNetworksTried[kept].fLoss) kept = i;
  }
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(r->fNetworksTried[i].fKept, i == kept) << i;
  // The loss of a single class target is the share misclassified, as the
  // kept model scores the test records itself.
  EXPECT_NEAR(r->fNetworksTried[kept].fLoss,
              MisclassifiedShare(*r, static_cast<int>(r->fList->Size()) - 1), 1e-12);
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
  EXPECT_LT(r->fNetworksTried[0].fLoss, 1e-12);
  EXPECT_EQ(r->fNetworksTried[0].fHiddenUnits, 0);
  // A record far outside the training range is still predicted exactly.
  const VXCommon_1_2::Record rec(std::vector<double>{20.0, -10.0, 0.0});
  const auto* y = dynamic_cast<const NNContOutput*>(r->fAlgorithm->Score(rec).GetOutputAt(0));
  ASSERT_NE(y, nullptr);
  EXPECT_NEAR(y->GetRealOutput(), 2 * 20.0 - 3 * -10.0 + 1, 1e-6);
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

TEST(AutoNetwork, SummaryAndJsonShowAllThree) {
  auto r = Auto(Shipped("diabetes.csv"), ForTarget("progression"));
  std::ostringstream text, json;
  vxnn::PrintTrainSummary(text, *r, {});
  vxnn::WriteTrainJson(json, *r, {});
  EXPECT_NE(text.str().find("Networks compared on the " + std::to_string(r->fTest.fRecords) +
                            " test records:"),
            std::string::npos)
      << text.str();
  nlohmann::json tried = nlohmann::json::parse(json.str())["networks_compared"];
  ASSERT_EQ(tried.size(), 3u);
  int kept = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(tried[i]["network"].get<std::string>(), r->fNetworksTried[i].fName);
    kept += tried[i]["kept"].get<bool>();
    EXPECT_NEAR(tried[i]["test"][0]["relative_error"].get<double>(), r->fNetworksTried[i].fLoss,
                1e-9);
  }
  EXPECT_EQ(kept, 1);
}

}  // namespace
