// `vxnn train --network auto`: the linear model, the perceptron and the RBF
// network trained on the same records, compared on the test records, the
// best kept; options that apply to one kind of network narrow the choice.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>

#include "Console.h"
#include "CsvTable.h"
#include "Report.h"
#include "Training.h"
#include "vxneural/network/NNCategOutput.h"
#include "vxneural/network/NNContOutput.h"
#include "vxneural/network/NNOutputList.h"

namespace {

using vxnn::TrainOptions;
using vxnn::TrainResult;

std::unique_ptr<TrainResult> Train(const vxnn::CsvTable& table, TrainOptions o) {
  std::ostringstream quiet;
  vxnn::ProgressBar progress(quiet, false);
  o.fAutoNetwork = true;
  return vxnn::TrainModel(table, "t.csv", o, progress);
}

TrainOptions Target(const std::string& name) {
  TrainOptions o;
  o.fDescribe.fTargets = {name};
  o.fImportance = false;
  return o;
}

// Share of the test records whose predicted category is their own, scored
// one by one through the kept model.
double MisclassifiedShare(TrainResult& r, int targetVariable) {
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
  const vxnn::CsvTable iris = vxnn::ReadCsvFile(std::string(VXNN_DATA_DIR) + "/iris.csv");
  auto r = Train(iris, Target("species"));
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
  std::istringstream in(csv.str());
  auto r = Train(vxnn::ReadCsv(in, "t.csv"), Target("y"));
  ASSERT_TRUE(r->fNetworksTried[0].fKept);
  EXPECT_LT(r->fNetworksTried[0].fLoss, 1e-12);
  EXPECT_EQ(r->fNetworksTried[0].fHiddenUnits, 0);
  // A record far outside the training range is still predicted exactly.
  const VXCommon_1_2::Record rec(std::vector<double>{20.0, -10.0, 0.0});
  const auto* y = dynamic_cast<const NNContOutput*>(r->fAlgorithm->Score(rec).GetOutputAt(0));
  ASSERT_NE(y, nullptr);
  EXPECT_NEAR(y->GetRealOutput(), 2 * 20.0 - 3 * -10.0 + 1, 1e-6);
}

struct Narrowing {
  const char* fOption;
  std::function<void(TrainOptions&)> fSet;
  std::vector<bool> fLeftOut;  // linear, mlp, rbf
};

TEST(AutoNetwork, OptionsOfOneKindLeaveTheOthersOut) {
  const vxnn::CsvTable iris = vxnn::ReadCsvFile(std::string(VXNN_DATA_DIR) + "/iris.csv");
  const Narrowing cases[] = {
      {"--method", [](TrainOptions& o) { o.fMethod = "gd"; }, {true, false, true}},
      {"--overlap", [](TrainOptions& o) { o.fOverlap = 2.0; }, {true, true, false}},
      {"--hidden-units", [](TrainOptions& o) { o.fHiddenUnits = {3}; }, {true, false, false}},
      {"--memory-budget", [](TrainOptions& o) { o.fMemoryBudget = 50; }, {false, false, false}},
  };
  for (const Narrowing& c : cases) {
    TrainOptions o = Target("species");
    c.fSet(o);
    auto r = Train(iris, o);
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
}

TEST(AutoNetwork, WithoutTestRecordsThePerceptronIsTrainedAndRefusalOfAllIsAnError) {
  const vxnn::CsvTable iris = vxnn::ReadCsvFile(std::string(VXNN_DATA_DIR) + "/iris.csv");
  TrainOptions o = Target("species");
  o.fTestFraction = 0.0;
  auto r = Train(iris, o);
  EXPECT_TRUE(r->fAutoWithoutTest);
  EXPECT_TRUE(r->fNetworksTried.empty());
  EXPECT_EQ(r->fAlgorithm->GetAlgorithmType(), VXNNCommon::kMLP);
  EXPECT_GT(r->fAlgorithm->GetNumberOfHiddenUnits(), 0);
  o = Target("species");
  o.fMemoryBudget = 0;
  EXPECT_THROW(Train(iris, o), vxnn::InputError);
}

TEST(AutoNetwork, SummaryAndJsonShowAllThree) {
  const vxnn::CsvTable diabetes = vxnn::ReadCsvFile(std::string(VXNN_DATA_DIR) + "/diabetes.csv");
  auto r = Train(diabetes, Target("progression"));
  std::ostringstream text, json;
  vxnn::PrintTrainSummary(text, *r, {});
  vxnn::WriteTrainJson(json, *r, {});
  EXPECT_NE(text.str().find("Networks compared on the " + std::to_string(r->fTest.fRecords) +
                            " test records:"),
            std::string::npos)
      << text.str();
  nlohmann::json v = nlohmann::json::parse(json.str());
  nlohmann::json& tried = v["networks_compared"];
  ASSERT_EQ(tried.size(), 3u);
  int kept = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    const vxnn::NetworkTried& t = r->fNetworksTried[i];
    EXPECT_EQ(tried[i]["network"].get<std::string>(), t.fName);
    kept += tried[i]["kept"].get<bool>();
    EXPECT_NEAR(tried[i]["test"][0]["relative_error"].get<double>(), t.fLoss, 1e-9);
  }
  EXPECT_EQ(kept, 1);
}

}  // namespace
