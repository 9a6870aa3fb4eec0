// PMML export as the algorithm drives it. A model trained on records encoded
// by the host, without a variable list, has no fields to describe: its
// export writes nothing at all and leaves the algorithm's status and state
// as they were, even when its settings ask for predictor importance. A
// model with a list names in its output layer the normalization its
// settings' confidence method asks for.

#include "vxneural/algorithm/rbf_fixtures.h"

namespace {

using namespace mlpdriver;

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

TEST(PmmlWithoutList, PerceptronAndRBFNetworkWriteNothingAndKeepTheirStatus) {
  for (const bool sensitivity : {false, true}) {
    SCOPED_TRACE(sensitivity ? "importance asked" : "importance not asked");
    ExpectNothingWritten(*MakeModel(
        kCategoricalTarget, 60, 0, 1, [&](MLPSettings& s) { s.SetComputeSensitivity(sensitivity); },
        true));
    ExpectNothingWritten(*MakeRbf(
        kContinuousTarget, 60, 0, [&](RBFSettings& s) { s.SetComputeSensitivity(sensitivity); },
        true));
  }
}

TEST(PmmlOutputLayer, NormalizationFollowsTheConfidenceMethod) {
  const struct {
    NeuralSettings::CONFIDENCE_METHOD method;
    const char *shown, *notShown;
  } cases[] = {{NeuralSettings::kConfidenceNone, "softmax", "simplemax"},
               {NeuralSettings::kConfidenceSoftMax, "softmax", "simplemax"},
               {NeuralSettings::kConfidenceSimpleMax, "simplemax", "softmax"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shown);
    auto m = MakeModel(kCategoricalTarget, 60, 0, 1,
                       [&](MLPSettings& s) { s.SetConfidenceMethod(c.method); });
    ASSERT_TRUE(m->algorithm->Train(60, -1).IsOK());
    std::ostringstream out;
    ASSERT_TRUE(m->algorithm->ExportModelXML(out, 0, nullptr).IsOK());
    const std::string attribute = "normalizationMethod=\"";
    EXPECT_NE(out.str().find(attribute + c.shown + "\""), std::string::npos);
    EXPECT_EQ(out.str().find(attribute + c.notShown + "\""), std::string::npos);
  }
}

}  // namespace
