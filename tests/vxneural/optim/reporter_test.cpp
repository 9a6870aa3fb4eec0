// MLPReporter: every key of its table answers the optimizer's value it
// names, and nothing else answers.
#include <gtest/gtest.h>

#include <iosfwd>
#include <string>
#include <utility>

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

TEST(MLPReporter, AnswersEveryKeyOfItsTableAndNothingElse) {
  Distinct optimizer;
  MLPReporter report(&optimizer);
  EXPECT_EQ(report.DiscreteMeasure("records"), 17);
  EXPECT_EQ(report.DiscreteMeasure("dataPasses"), 13);
  for (const auto& [key, value] : {std::pair{"gradNorm", 0.25},
                                   {"trainError", 1.5},
                                   {"testError", 2.5},
                                   {"relChangeError", 0.125},
                                   {"errorRatio", 0.0625},
                                   {"elapsedTime", 3.75},
                                   {"accuracy", 87.5}})
    EXPECT_EQ(report.ScaleMeasure(key), value) << key;
  for (const char* key : {"gradNorm", "trainError", "accuracy", "Records", "records ", "",
                          "weights", "hiddenUnits", "whyStop"})
    EXPECT_EQ(report.DiscreteMeasure(key), -1) << key;
  for (const char* key : {"records", "dataPasses", "bic", "TrainError", "elapsed", ""})
    EXPECT_EQ(report.ScaleMeasure(key), VXMV::gMissingValue) << key;
  MLPReporter none(nullptr);
  EXPECT_EQ(none.DiscreteMeasure("records"), -1);
  EXPECT_EQ(none.ScaleMeasure("trainError"), VXMV::gMissingValue);
}

TEST(MLPReporter, ReadsTheOptimizerLive) {
  Distinct optimizer;
  MLPReporter report(&optimizer);
  MLPReporter copy(report);
  optimizer.fElapsed = 9.0;
  EXPECT_EQ(report.ScaleMeasure("elapsedTime"), 9.0);
  optimizer.fAccuracy = VXMV::gMissingValue;
  EXPECT_EQ(copy.ScaleMeasure("accuracy"), VXMV::gMissingValue);
}

}  // namespace
