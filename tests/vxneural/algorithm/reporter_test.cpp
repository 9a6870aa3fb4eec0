// The report an MLP training run hands its listener: every key read from
// the optimizer, the accuracy as a percentage of whatever it holds.

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/MLPReporter.h"
#include "vxneural/optim/IOptimizationAlgorithm.h"

namespace {

using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::VXStatus;
constexpr double kMissing = VXMV::gMissingValue;

// An optimizer whose progress record holds a distinct value per field.
class FixedProgress : public IOptimizationAlgorithm {
 public:
  explicit FixedProgress(double accuracy) : IOptimizationAlgorithm(nullptr), fAcc(accuracy) {}
  VXStatus Train(VXStatus& s, MultiPassRecordIter&, MultiPassRecordIter*, int, int) override {
    return s;
  }
  VXStatus Update(VXStatus& s, MultiPassRecordIter&, MultiPassRecordIter&, int, bool&) override {
    return s;
  }
  int GetNIterations() const override { return 3; }
  VXNNCommon::AlgorithmStatus GetAlgorithmStatus() const override { return VXNNCommon::kTrained; }
  VXNNCommon::StopReason GetStopReason() const override { return VXNNCommon::kStoppedAccuracy; }
  double GetElapsedTime() const override { return 1.5; }
  void SetElapsedTime(double) override {}
  int GetNDataPasses() const override { return 7; }
  int GetNRecordsProcessed() const override { return 250; }
  double GetLastGradientNorm() const override { return 0.125; }
  double GetTrainError() const override { return 4.25; }
  double GetTestError() const override { return 5.5; }
  double GetRelChangeInErr() const override { return 0.01; }
  double GetErrorRatio() const override { return 0.75; }
  double GetAccuracy() const override { return fAcc; }
  void ResetGradient() override {}
  int WriteObject(std::ostream&) const override { return 0; }
  int ReadObject(std::istream&) override { return 0; }
  int WriteObjectXML(std::ostream&) const override { return 0; }
  int ReadObjectXML(std::istream&) override { return 0; }
  void Display(std::ostream&) const override {}

 private:
  double fAcc;
};

TEST(MLPReporterKeys, AnswerFromTheOptimizerWithTheAccuracyAsAPercentage) {
  FixedProgress optimizer(0.375);
  MLPReporter report(&optimizer);
  const std::vector<std::pair<const char*, int>> discrete = {
      {"records", 250}, {"dataPasses", 7}, {"hiddenUnits", -1}, {"Records", -1}, {"accuracy", -1}};
  for (const auto& [key, value] : discrete) EXPECT_EQ(report.DiscreteMeasure(key), value) << key;
  const std::vector<std::pair<const char*, double>> scale = {
      {"gradNorm", 0.125},      {"trainError", 4.25}, {"testError", 5.5},
      {"relChangeError", 0.01}, {"errorRatio", 0.75}, {"elapsedTime", 1.5},
      {"accuracy", 37.5},       {"bic", kMissing},    {"records", kMissing}};
  for (const auto& [key, value] : scale) EXPECT_EQ(report.ScaleMeasure(key), value) << key;
  // Not yet measured: the missing value, scaled like any accuracy, is
  // minus infinity.
  FixedProgress unmeasured(kMissing);
  EXPECT_EQ(MLPReporter(&unmeasured).ScaleMeasure("accuracy"),
            -std::numeric_limits<double>::infinity());
  // Without an optimizer every key is unknown.
  MLPReporter none(nullptr);
  EXPECT_EQ((std::make_pair(none.DiscreteMeasure("records"), none.ScaleMeasure("accuracy"))),
            std::make_pair(-1, kMissing));
}

}  // namespace
