// `vxnn train`'s defaults beyond the library's: the classifier's hidden-layer
// size, the early-stopping stop rules, and the refit of the chosen model on
// every record once the held-out run has chosen it.
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>

#include "CsvTable.h"
#include "Dataset.h"
#include "HtmlReport.h"
#include "TestHost.h"
#include "Training.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/network/NNCategOutput.h"
#include "vxneural/network/NNOutputList.h"

namespace {

using vxnn::TrainOptions;

const std::string kIris = std::string(VXNN_DATA_DIR) + "/iris.csv";

NNVarList IrisVarList() {
  const vxnn::CsvTable iris = vxnn::ReadCsvFile(kIris);
  vxnn::DescribeOptions d;
  d.fTargets = {"species"};
  return vxnn::BuildVarList(iris, vxnn::PlanFields(iris, d), d);
}

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
  for (int inputs : {1, 13, 31})
    EXPECT_EQ(vxnn::HostInputScaling(inputs), VXNNCommon::kMeanStdDev) << inputs;
  for (int inputs : {32, 64, 500})
    EXPECT_EQ(vxnn::HostInputScaling(inputs), VXNNCommon::kMinRangeSymmetric) << inputs;
}

// The rule is the perceptron's; --input-scaling sets any network's.
TEST(HostDefaults, InputScalingOption) {
  const NNVarList list = IrisVarList();
  TrainOptions o;
  EXPECT_EQ(vxnn::MakeSettings(o, list, 100).GetStandInputs(), VXNNCommon::kMeanStdDev);
  o.fInputScaling = "range";
  EXPECT_EQ(vxnn::MakeSettings(o, list, 100).GetStandInputs(), VXNNCommon::kMinRangeSymmetric);
  EXPECT_EQ(vxnn::MakeRBFSettings(o, list, 100).GetStandInputs(), VXNNCommon::kMinRangeSymmetric);
  o.fInputScaling = "standard";
  EXPECT_EQ(vxnn::MakeLinearSettings(o, list, 100).GetStandInputs(), VXNNCommon::kMeanStdDev);
  o.fInputScaling = "minmax";
  EXPECT_THROW(vxnn::MakeSettings(o, list, 100), vxnn::InputError);
}

// Only the architecture search draws from the given range; a plain run
// would ignore it, so it is refused there.
TEST(HostDefaults, WeightRangeNeedsTheArchitectureSearch) {
  const NNVarList list = IrisVarList();
  TrainOptions o;
  o.fWeightRange = 0.2;
  EXPECT_THROW(vxnn::MakeSettings(o, list, 100), vxnn::InputError);
  o.fSelectArchitecture = true;
  EXPECT_EQ(vxnn::MakeSettings(o, list, 100).GetRandomWeightRangeHi(), 0.2);
}

TEST(HostDefaults, TestErrorDecidesTurnsOffTheTrainingFitStops) {
  const NNVarList list = IrisVarList();
  TrainOptions o;
  o.fTestErrorDecides = true;
  const MLPSettings early = vxnn::MakeSettings(o, list, 100), library(list, 100);
  EXPECT_GT(early.GetAccuracy(), 100.0);
  EXPECT_EQ(early.GetMinErrorRatio(), 0.0);
  EXPECT_EQ(early.GetMaxNStepsTrackError(), vxnn::kHostStepsWithoutImprovement);
  EXPECT_EQ(early.GetMinRelativeChangeError(), library.GetMinRelativeChangeError());
  // What the user sets stands.
  o.fStopAccuracy = 95;
  o.fErrorRatio = 0.01;
  o.fStepsWithoutImprovement = 3;
  const MLPSettings user = vxnn::MakeSettings(o, list, 100);
  EXPECT_EQ(user.GetAccuracy(), 95.0);
  EXPECT_EQ(user.GetMinErrorRatio(), 0.01);
  EXPECT_EQ(user.GetMaxNStepsTrackError(), 3);
}

std::unique_ptr<vxnn::TrainResult> Train(const std::function<void(TrainOptions&)>& set = {}) {
  TrainOptions o;
  o.fDescribe.fTargets = {"species"};
  o.fImportance = false;
  if (set) set(o);
  std::ostringstream quiet;
  vxnn::ProgressBar progress(quiet, false);
  return vxnn::TrainModel(vxnn::ReadCsvFile(kIris), "iris.csv", o, progress);
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
  const auto r = Train();
  ASSERT_NE(r->fHeldOutModel, nullptr);
  const int nTest = static_cast<int>(r->fTestCounts.fKept);
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
  const auto kept = Train([](TrainOptions& o) { o.fRefit = false; });
  EXPECT_EQ(kept->fHeldOutModel, nullptr);
  const std::vector<double> heldOut = Outputs(*r->fHeldOutModel, *r->fTestSource);
  ASSERT_EQ(heldOut.size(), 3u * nTest);
  EXPECT_EQ(Outputs(*kept->fAlgorithm, *kept->fTestSource), heldOut);
  EXPECT_NE(Outputs(*r->fAlgorithm, *r->fTestSource), heldOut);
  EXPECT_EQ(r->fTest.fStats.GetPercentsCorrect(), kept->fTest.fStats.GetPercentsCorrect());

  const std::pair<const char*, std::function<void(TrainOptions&)>> none[] = {
      {"no test records", [](TrainOptions& o) { o.fTestFraction = 0.0; }},
      {"rbf", [](TrainOptions& o) { o.fNetwork = vxnn::NetworkKind::kRBF; }},
      {"size search", [](TrainOptions& o) { o.fSelectArchitecture = true; }},
  };
  for (const auto& [what, set] : none) EXPECT_EQ(Train(set)->fHeldOutModel, nullptr) << what;
}

TEST(HostDefaults, SummaryAndJsonTellTheRefit) {
  std::string out;
  const std::vector<std::string> train = {
      "train", kIris, "--target", "species", "--no-progress", "--no-importance", "--no-save"};
  auto with = [&](std::vector<std::string> extra) {
    extra.insert(extra.begin(), train.begin(), train.end());
    return extra;
  };
  ASSERT_EQ(testhost::Run(with({"--json"}), &out), 0);
  const auto j = nlohmann::json::parse(out);
  EXPECT_EQ(j["refit"]["records"], 150);
  EXPECT_EQ(j["training"]["stop_reason"], "Stopped Verifying Cycle");
  EXPECT_EQ(j["training"]["hidden_units"]["count"], 32);
  EXPECT_EQ(j["training"]["input_scaling"], "standard");
  ASSERT_EQ(testhost::Run(with({"--json", "--no-refit"}), &out), 0);
  EXPECT_TRUE(nlohmann::json::parse(out)["refit"].is_null());
  ASSERT_EQ(testhost::Run(with({}), &out), 0);
  EXPECT_EQ(testhost::Count(out, "Refitted: the model kept was trained again on all 150 records"),
            1)
      << out;
}

}  // namespace
