// A model trained on records encoded by the host, without a variable list,
// has no fields to describe: its PMML export writes nothing at all and
// leaves the algorithm's status and state as they were, even when its
// settings ask for predictor importance.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "vxneural/algorithm/rbf_fixtures.h"

namespace {

using namespace mlpdriver;

class PmmlWithoutList : public ::testing::TestWithParam<bool> {};

template <class M>
void ExpectNothingWritten(M& m) {
  ASSERT_NE(m.algorithm, nullptr);
  INeuralAlgorithm& a = *m.algorithm;
  ASSERT_EQ(a.GetVarList(), nullptr);
  ASSERT_TRUE(a.Train(static_cast<int>(m.trainRecords.size()), -1).IsOK());
  ASSERT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kTrained);
  const VXStatus before = a.GetStatus();

  std::ostringstream out;
  const VXStatus returned = a.ExportModelXML(out, 0, nullptr);
  EXPECT_TRUE(out.str().empty()) << out.str().substr(0, 200);
  EXPECT_EQ(returned, before);
  EXPECT_EQ(a.GetStatus(), before);
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kTrained);
}

TEST_P(PmmlWithoutList, PerceptronWritesNothingAndKeepsItsStatus) {
  const bool sensitivity = GetParam();
  auto m = MakeModel(
      kCategoricalTarget, 60, 0, 1, [&](MLPSettings& s) { s.SetComputeSensitivity(sensitivity); },
      true);
  ExpectNothingWritten(*m);
}

TEST_P(PmmlWithoutList, RBFNetworkWritesNothingAndKeepsItsStatus) {
  const bool sensitivity = GetParam();
  auto m = MakeRbf(
      kContinuousTarget, 60, 0, [&](RBFSettings& s) { s.SetComputeSensitivity(sensitivity); },
      true);
  ExpectNothingWritten(*m);
}

INSTANTIATE_TEST_SUITE_P(Importance, PmmlWithoutList, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Asked" : "NotAsked"; });

}  // namespace
