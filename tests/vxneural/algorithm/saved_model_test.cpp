// Saved models of both kinds: round trips at every stage of a model's life
// (untrained, trained, updated, after the architecture search) through both
// factory routes and both stream forms, the layout of the saved forms, and
// damaged streams, which must give 50006 or 50007 and never a crash.

#include "common/layouts.h"
#include "common/saved_forms.h"
#include "common/stream_faults.h"
#include "rbf_fixtures.h"
#include "vxneural/optim/IOptimizationAlgorithm.h"
#include "vxneural/optim/RBFLinReg.h"

namespace {

using namespace mlpdriver;
using saved_forms::Saved;
using stream_faults::DoubleAt;

enum Stage { kUntrained, kTrained, kUpdated, kSearched };
const char* const kStageNames[] = {"untrained", "trained", "updated", "after search"};

struct RoundTrip {
  bool rbf;
  Targets targets;
  bool encoded, withTest;
};

class SavedModelRoundTrip : public testing::TestWithParam<RoundTrip> {};

// A restored model saves what the original saved: every field, the
// generator, the network and the optimizer. Restoring the flag to
// reinitialise the weights shows in the continued training: a restored MLP
// runs the sample pass exactly when the original does, or the counters
// differ.
TEST_P(SavedModelRoundTrip, EveryStageRestoresThroughEveryRouteAndGoesOnTheSameWay) {
  const RoundTrip p = GetParam();
  std::vector<Record> updates = MakeRecords(30, 44);
  if (p.encoded) updates = EncodeByHand(MakeRecords(150, 1), updates, p.targets);
  for (Stage stage : {kUntrained, kTrained, kUpdated, kSearched}) {
    SCOPED_TRACE(kStageNames[stage]);
    AnyModel m = MakeAny(p.rbf, p.targets, 150, p.withTest ? 40 : 0, {}, p.encoded);
    ASSERT_TRUE(m.Algorithm());
    INeuralAlgorithm& a = *m.Algorithm();
    VectorRecordIter more(updates);
    ASSERT_TRUE(stage != kSearched || a.SelectArchitecture().IsOK());
    ASSERT_TRUE(stage == kUntrained || stage == kSearched || a.Train(150, -1).IsOK());
    ASSERT_TRUE(stage != kUpdated || a.Update(more, 30).IsOK());
    if (m.mlp) {
      EXPECT_EQ(m.mlp->Mlp().GetReinitializeWeights(), stage == kUntrained);
    }
    const std::string binary = Save(a, false);
    const bool trained = stage == kTrained || stage == kUpdated || (p.rbf && stage == kSearched);
    std::vector<std::unique_ptr<RestoredOf<INeuralAlgorithm>>> restored;
    for (const bool xml : {false, true}) {
      for (const bool twoSteps : {false, true}) {
        SCOPED_TRACE(std::string(xml ? "XML" : "binary") + (twoSteps ? ", two steps" : ""));
        restored.push_back(m.Restore(Save(a, xml), xml, twoSteps));
        const auto& r = *restored.back();
        ASSERT_TRUE(r.algorithm) << r.status;
        EXPECT_EQ(r.status, VXStatus());
        EXPECT_EQ(r.algorithm->GetAlgorithmStatus(),
                  trained ? VXNNCommon::kTrained : VXNNCommon::kNotStarted);
        EXPECT_EQ(r.algorithm->GetAlgorithmType(), a.GetAlgorithmType());
        EXPECT_EQ(Save(*r.algorithm, false), binary);
        EXPECT_EQ(RunOf(*r.algorithm, m.Records(false)), RunOf(a, m.Records(false)));
      }
    }
    // All go on the same way.
    std::vector<INeuralAlgorithm*> all{&a};
    for (const auto& r : restored) all.push_back(r->algorithm.get());
    for (INeuralAlgorithm* each : all) {
      ASSERT_TRUE(stage != kUpdated || each->Update(more, 30).IsOK());
      ASSERT_TRUE(each->Train(150, -1).IsOK());
      EXPECT_EQ(RunOf(*each, m.Records(false)), RunOf(a, m.Records(false)));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Models, SavedModelRoundTrip,
                         testing::Values(RoundTrip{false, kCategoricalTarget, false, true},
                                         RoundTrip{false, kContinuousTarget, false, false},
                                         RoundTrip{false, kBothTargets, false, true},
                                         RoundTrip{false, kBothTargets, true, false},
                                         RoundTrip{false, kCategoricalTarget, true, true},
                                         RoundTrip{true, kBothTargets, false, true},
                                         RoundTrip{true, kCategoricalTarget, true, true}));

// An RBF model of both targets over 80 records (20 for testing), trained or
// searched when asked.
std::unique_ptr<RbfModel> RbfAt(Stage stage) {
  auto m = MakeRbf(kBothTargets, 80, 20);
  EXPECT_TRUE(stage != kTrained || m->algorithm->Train(80, -1).IsOK());
  EXPECT_TRUE(stage != kSearched || m->algorithm->SelectArchitecture().IsOK());
  return m;
}

// A saved model is the settings, the list when there is one, the algorithm
// block, the generator, the network and the optimizer, in both forms; the
// objects' own layouts are checked in their folders, the block here value
// by value. Every cut is refused.
TEST(MlpSavedModel, SettingsListBlockGeneratorNetworkOptimizerAndNoCutReads) {
  for (bool withList : {false, true}) {
    SCOPED_TRACE(withList ? "with a variable list" : "encoded records");
    auto m = MakeModel(kBothTargets, 60, 0, 1, {}, !withList);
    MLPAlgorithm& a = m->Mlp();
    VectorRecordIter updates(
        withList ? MakeRecords(10, 3)
                 : EncodeByHand(MakeRecords(60, 1), MakeRecords(10, 3), kBothTargets));
    ASSERT_TRUE(a.Train(60, -1).IsOK());
    ASSERT_TRUE(a.Update(updates, 10).IsOK());
    EXPECT_EQ(a.GetMLPSettings().GetHasVarList(), withList);
    const std::string saved = Save(a, false), xml = Save(a, true);
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

    for (std::size_t k = 0; k < saved.size(); ++k)
      EXPECT_TRUE(RefusedModel(saved.substr(0, k), false, *m)) << "cut at " << k;
    // XML: everything up to the end of the algorithm object is needed; the
    // root's end after it is not read. The settings and list before the
    // block have their own tests: every 13th cut there.
    const std::size_t start = xml.find("MLPAlgorithm 1.00");
    for (std::size_t k = 0; k <= xml.rfind("</object>"); k += (k < start ? 13 : 1))
      EXPECT_TRUE(RefusedModel(xml.substr(0, k), true, *m)) << "XML cut at " << k;
    EXPECT_TRUE(RestoreModel(saved, false, *m)->algorithm);
    EXPECT_TRUE(RestoreModel(xml, true, *m)->algorithm);
  }
}

TEST(RbfSavedModel, TheBinaryFormFollowsTheLayout) {
  for (Stage stage : {kUntrained, kSearched}) {
    SCOPED_TRACE(stage);
    auto m = RbfAt(stage);
    RBFAlgorithm& a = m->Alg();
    const std::string saved = Save(a, false);
    // Settings, variable list, then the block: header, status at the save,
    // stop reason, data passes, records, hidden units, elapsed time,
    // training error, testing error, BIC; the generator; the network; the
    // solver, which ends the stream.
    layouts::Bytes b;
    b.Tag(Saved(a.GetRBFSettings(), false) + Saved(*a.GetVarList(), false) + "RBFAlgorithm 1.00");
    b.I(a.GetAlgorithmStatus()).I(a.GetStopReason()).I(a.GetNumberOfDataPasses());
    b.I(a.GetNumberOfRecords()).I(a.GetNumberOfHiddenUnits()).D(a.GetElapsedTime());
    b.D(a.GetTrainingError()).D(a.GetTestingError()).D(a.GetTrainingBIC());
    // The generator has no getter: its seed is read where it must stand.
    const double seed = stream_faults::DoubleAt(saved, b.s.size() + 4);
    b.Tag("VXRa").D(seed).I(1);
    b.Tag(Saved(*a.GetNetwork(), false)).Tag(Saved(*a.GetOptimizer(), false));
    EXPECT_EQ(saved, b.s);
  }
}

// A damaged header or a value out of range at an offset of the algorithm
// block (after its 17-byte header) is refused with the block's message.
template <class M>
void ExpectBlockChecked(const M& m, const std::string& name,
                        const std::vector<std::pair<std::size_t, int>>& values) {
  const std::string saved = Save(*m.algorithm, false);
  const std::size_t block = saved.find(name + " 1.00");
  std::vector<std::string> damaged = {
      stream_faults::Replaced(saved, name + " 1.00", name + " 2.00")};
  for (const auto& [at, v] : values)
    damaged.push_back(stream_faults::WithInt32(saved, block + at, v));
  for (std::size_t i = 0; i < damaged.size(); ++i) {
    std::string err;
    EXPECT_TRUE(RefusedModel(damaged[i], false, m, &err)) << name << " case " << i;
    EXPECT_EQ(err, "Error reading " + name + "!\n") << name << " case " << i;
  }
  std::string err;
  EXPECT_TRUE(RefusedModel(
      stream_faults::Replaced(Save(*m.algorithm, true), name + " 1.00", name + " 9.99"), true, m,
      &err));
  EXPECT_EQ(err, "Failure reading " + name + "!\n");
}

TEST(DamagedModel, TheAlgorithmBlockIsCheckedValueByValue) {
  // Status, (MLP: the re-initialise flag,) stop reason, data passes, (RBF:
  // records,) hidden units.
  auto mlp = MakeModel(kCategoricalTarget, 60, 0);
  ASSERT_TRUE(mlp->algorithm->Train(60, -1).IsOK());
  ExpectBlockChecked(*mlp, "MLPAlgorithm", {{17, 9}, {25, 99}, {29, -1}, {37, -3}});
  ExpectBlockChecked(*RbfAt(kTrained), "RBFAlgorithm",
                     {{17, 9}, {21, 99}, {25, -1}, {29, -1}, {33, -3}});
}

// The checks of sources, settings and lists both factories share are the MLP
// factory's tests; an RBF factory must not read a saved MLP.
TEST(RbfFactory, RefusesASavedMLP) {
  auto m = RbfAt(kUntrained);
  VectorRecordIter train(m->trainRecords);
  RBFFactory f;
  std::istringstream mlpSaved(Save(*MakeModel(kBothTargets, 80, 0)->algorithm, false));
  testing::internal::CaptureStderr();
  std::unique_ptr<INeuralAlgorithm> made(
      f.RestoreNeuralAlgorithmFromBinary(mlpSaved, train, nullptr));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error reading RBFSettings!\n");
  EXPECT_EQ(made, nullptr);
  ExpectStatus(f.GetStatus(), 50006);
}

}  // namespace
