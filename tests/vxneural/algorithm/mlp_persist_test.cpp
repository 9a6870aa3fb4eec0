// Saved MLP models: the layout of both saved forms, round trips at every
// stage of a model's life (untrained, trained, updated, after the
// architecture search), and truncated streams, which must give 50006 or
// 50007 and never a crash (damaged algorithm blocks are checked with the
// RBF ones).

#include "common/layouts.h"
#include "common/stream_faults.h"
#include "mlp_driver_fixtures.h"
#include "vxcommon/XMLStream.h"
#include "vxneural/optim/IOptimizationAlgorithm.h"

namespace {

using namespace mlpdriver;
using stream_faults::DoubleAt;

// Same state, counters, weights, and the same score for every record.
void ExpectSameModel(MLPAlgorithm& a, MLPAlgorithm& b, const std::vector<Record>& records) {
  EXPECT_EQ(RunOf(a), RunOf(b));
  EXPECT_EQ(ScoresOf(a, records), ScoresOf(b, records));
}

enum Stage { kUntrained, kTrained, kUpdated, kSearched };
const char* const kStageNames[] = {"untrained", "trained", "updated", "after search"};

struct RoundTrip {
  Targets targets;
  bool encoded;
  bool withTest;
};

class MlpRoundTrip : public testing::TestWithParam<RoundTrip> {};

// Restoring the flag to reinitialise the weights shows in the continued
// training: a restored model runs the sample pass exactly when the original
// does, or the counters differ.
TEST_P(MlpRoundTrip, EveryStageRestoresAndGoesOnTheSameWay) {
  const RoundTrip p = GetParam();
  const std::vector<Record> raw = MakeRecords(150, 1);
  std::vector<Record> updates = MakeRecords(30, 44);
  if (p.encoded) updates = EncodeByHand(raw, updates, p.targets);
  for (Stage stage : {kUntrained, kTrained, kUpdated, kSearched}) {
    for (bool xml : {false, true}) {
      SCOPED_TRACE(std::string(kStageNames[stage]) + (xml ? ", XML" : ", binary"));
      auto m = MakeModel(p.targets, 150, p.withTest ? 40 : 0, 1, {}, p.encoded);
      ASSERT_TRUE(m->algorithm);
      INeuralAlgorithm& a = *m->algorithm;
      VectorRecordIter more(updates);
      ASSERT_TRUE(stage != kSearched || a.SelectArchitecture().IsOK());
      ASSERT_TRUE(stage == kUntrained || stage == kSearched || a.Train(150, -1).IsOK());
      ASSERT_TRUE(stage != kUpdated || a.Update(more, 30).IsOK());
      EXPECT_EQ(m->Mlp().GetReinitializeWeights(), stage == kUntrained);
      auto r = RestoreModel(Save(a, xml), xml, *m);
      ASSERT_TRUE(r->algorithm) << r->status;
      EXPECT_EQ(r->status, VXStatus());
      EXPECT_EQ(r->algorithm->GetAlgorithmStatus(), stage == kTrained || stage == kUpdated
                                                        ? VXNNCommon::kTrained
                                                        : VXNNCommon::kNotStarted);
      // The restored model saves what the original saved: every field,
      // the generator, the network and the optimizer.
      EXPECT_EQ(Save(*r->algorithm, false), Save(a, false));
      ExpectSameModel(m->Mlp(), r->Alg(), m->testRecords);

      // Both go on the same way.
      if (stage == kUpdated) {
        ASSERT_TRUE(a.Update(more, 30).IsOK());
        ASSERT_TRUE(r->algorithm->Update(more, 30).IsOK());
        ExpectSameModel(m->Mlp(), r->Alg(), m->testRecords);
      }
      ASSERT_TRUE(a.Train(150, -1).IsOK());
      ASSERT_TRUE(r->algorithm->Train(150, -1).IsOK());
      ExpectSameModel(m->Mlp(), r->Alg(), m->trainRecords);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(MlpModels, MlpRoundTrip,
                         testing::Values(RoundTrip{kCategoricalTarget, false, true},
                                         RoundTrip{kContinuousTarget, false, false},
                                         RoundTrip{kBothTargets, false, true},
                                         RoundTrip{kBothTargets, true, false},
                                         RoundTrip{kCategoricalTarget, true, true}));

// A saved model is the settings, the list when there is one, the algorithm
// block, the generator, the network and the optimizer, in both forms; the
// objects' own layouts are checked in their folders, the block here value
// by value.
TEST(MlpSavedModel, SettingsListBlockGeneratorNetworkOptimizer) {
  for (bool withList : {false, true}) {
    SCOPED_TRACE(withList ? "with a variable list" : "encoded records");
    auto m = MakeModel(kBothTargets, 150, 0, 1, {}, !withList);
    MLPAlgorithm& a = m->Mlp();
    ASSERT_TRUE(a.Train(150, -1).IsOK());
    EXPECT_EQ(a.GetMLPSettings().GetHasVarList(), withList);
    const std::string saved = Save(a, false), xml = Save(a, true);
    using saved_forms::Saved;
    const std::string settings = Saved(a.GetMLPSettings(), false);
    const std::string list = withList ? Saved(*a.GetVarList(), false) : "";
    // The generator has no getter: its seed is read where it must stand.
    const double seed = DoubleAt(saved, settings.size() + list.size() + 17 + 6 * 4 + 4 * 8 + 4);
    // Status, re-initialise flag, stop reason, data passes, iterations,
    // hidden units, then time, errors and BIC.
    const auto block = [&](auto& s) {
      s.I(VXNNCommon::kTrained).I(0).I(a.GetStopReason()).I(a.GetNumberOfDataPasses());
      s.I(a.GetNumberOfIterations()).I(3).D(a.GetElapsedTime()).D(a.GetTrainingError());
      s.D(a.GetTestingError()).D(kMissing);
    };
    layouts::Bytes b;
    b.Tag(settings + list + "MLPAlgorithm 1.00");
    block(b);
    b.Tag("VXRa").D(seed).I(1).Tag(Saved(*a.GetNetwork(), false));
    EXPECT_EQ(saved, b.Tag(Saved(*a.GetOptimizer(), false)).s);

    layouts::Xml x;
    x.items = layouts::Items(Saved(a.GetMLPSettings(), true));
    if (withList) x.Add({layouts::Items(Saved(*a.GetVarList(), true))});
    block(x.Obj("MLPAlgorithm 1.00"));
    x.Obj("VXRandom").D(seed).I(1).End().Add({layouts::Items(Saved(*a.GetNetwork(), true))});
    x.Add({layouts::Items(Saved(*a.GetOptimizer(), true))}).End();
    EXPECT_EQ(layouts::Items(xml), x.items);
    EXPECT_NE(xml.find("<!DOCTYPE VXXMLRoot SYSTEM \"savexml.dtd\">"), std::string::npos);
    EXPECT_NE(xml.find("</VXXMLRoot>"), std::string::npos);
  }
}

TEST(MlpDamagedModel, EveryTruncatedModelIsRefused) {
  for (bool withList : {false, true}) {
    SCOPED_TRACE(withList ? "with a variable list" : "encoded records");
    auto m = MakeModel(kBothTargets, 60, 0, 1, {}, !withList);
    VectorRecordIter updates(
        withList ? MakeRecords(10, 3)
                 : EncodeByHand(MakeRecords(60, 1), MakeRecords(10, 3), kBothTargets));
    ASSERT_TRUE(m->algorithm->Train(60, -1).IsOK());
    ASSERT_TRUE(m->algorithm->Update(updates, 10).IsOK());
    const std::string saved = Save(*m->algorithm, false);
    for (std::size_t k = 0; k < saved.size(); ++k)
      EXPECT_TRUE(RefusedModel(saved.substr(0, k), false, *m)) << "cut at " << k;
    EXPECT_TRUE(RestoreModel(saved, false, *m)->algorithm);
  }
  // XML: everything up to the end of the algorithm object is needed; the
  // root's end after it is not read. The settings and list before the
  // block have their own tests: every 13th cut there.
  auto m = MakeModel(kCategoricalTarget, 60, 0);
  ASSERT_TRUE(m->algorithm->Train(60, -1).IsOK());
  const std::string xml = Save(*m->algorithm, true);
  const std::size_t block = xml.find("MLPAlgorithm 1.00");
  for (std::size_t k = 0; k <= xml.rfind("</object>"); k += (k < block ? 13 : 1))
    EXPECT_TRUE(RefusedModel(xml.substr(0, k), true, *m)) << "cut at " << k;
  EXPECT_TRUE(RestoreModel(xml, true, *m)->algorithm);
}

}  // namespace
