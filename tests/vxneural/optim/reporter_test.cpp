// MLPReporter: every key of its table answers the optimizer's value it
// names, and nothing else answers.
#include <gtest/gtest.h>

#include <string>

#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/MLPReporter.h"
#include "vxneural/optim/IOptimizationAlgorithm.h"

namespace {

using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::VXStatus;

// An optimizer whose every getter answers a different value, so that a key
// wired to the wrong getter shows.
class Distinct : public IOptimizationAlgorithm {
 public:
  Distinct() : IOptimizationAlgorithm(nullptr) {}
  VXStatus Train(VXStatus& s, MultiPassRecordIter&, MultiPassRecordIter*, int, int) override {
    return s;
  }
  VXStatus Update(VXStatus& s, MultiPassRecordIter&, MultiPassRecordIter&, int, bool&) override {
    return s;
  }
  int GetNIterations() const override { return 11; }
  VXNNCommon::AlgorithmStatus GetAlgorithmStatus() const override { return VXNNCommon::kTrained; }
  VXNNCommon::StopReason GetStopReason() const override { return VXNNCommon::kStoppedAccuracy; }
  double GetElapsedTime() const override { return fElapsed; }
  void SetElapsedTime(double s) override { fElapsed = s; }
  int GetNDataPasses() const override { return 13; }
  int GetNRecordsProcessed() const override { return 17; }
  double GetLastGradientNorm() const override { return 0.25; }
  double GetTrainError() const override { return 1.5; }
  double GetTestError() const override { return 2.5; }
  double GetRelChangeInErr() const override { return 0.125; }
  double GetErrorRatio() const override { return 0.0625; }
  double GetAccuracy() const override { return fAccuracy; }
  void ResetGradient() override {}
  int WriteObject(std::ostream&) const override { return 0; }
  int ReadObject(std::istream&) override { return 0; }
  int WriteObjectXML(std::ostream&) const override { return 0; }
  int ReadObjectXML(std::istream&) override { return 0; }
  void Display(std::ostream&) const override {}

  double fElapsed = 3.75;
  double fAccuracy = 0.875;
};

TEST(MLPReporter, AnswersEveryKeyOfItsTable) {
  Distinct optimizer;
  MLPReporter report(&optimizer);
  EXPECT_EQ(report.DiscreteMeasure("records"), 17);
  EXPECT_EQ(report.DiscreteMeasure("dataPasses"), 13);
  EXPECT_EQ(report.ScaleMeasure("gradNorm"), 0.25);
  EXPECT_EQ(report.ScaleMeasure("trainError"), 1.5);
  EXPECT_EQ(report.ScaleMeasure("testError"), 2.5);
  EXPECT_EQ(report.ScaleMeasure("relChangeError"), 0.125);
  EXPECT_EQ(report.ScaleMeasure("errorRatio"), 0.0625);
  EXPECT_EQ(report.ScaleMeasure("elapsedTime"), 3.75);
  EXPECT_EQ(report.ScaleMeasure("accuracy"), 87.5);
  // Read live, not copied at construction.
  optimizer.fElapsed = 9.0;
  EXPECT_EQ(report.ScaleMeasure("elapsedTime"), 9.0);
  optimizer.fAccuracy = VXMV::gMissingValue;
  EXPECT_EQ(report.ScaleMeasure("accuracy"), VXMV::gMissingValue);
}

TEST(MLPReporter, OtherKeysAndKindsAnswerNothing) {
  Distinct optimizer;
  MLPReporter report(&optimizer);
  for (const char* key : {"gradNorm", "trainError", "accuracy", "Records", "records ", "",
                          "weights", "hiddenUnits", "whyStop"})
    EXPECT_EQ(report.DiscreteMeasure(key), -1) << key;
  for (const char* key : {"records", "dataPasses", "bic", "TrainError", "elapsed", ""})
    EXPECT_EQ(report.ScaleMeasure(key), VXMV::gMissingValue) << key;
  MLPReporter none(nullptr);
  EXPECT_EQ(none.DiscreteMeasure("records"), -1);
  EXPECT_EQ(none.ScaleMeasure("trainError"), VXMV::gMissingValue);
}

TEST(MLPReporter, CopiesReadTheSameOptimizer) {
  Distinct a, b;
  b.fElapsed = 1.0;
  MLPReporter first(&a);
  MLPReporter copy(first);
  EXPECT_EQ(copy.ScaleMeasure("elapsedTime"), 3.75);
  MLPReporter other(&b);
  copy = other;
  EXPECT_EQ(copy.ScaleMeasure("elapsedTime"), 1.0);
}

}  // namespace
