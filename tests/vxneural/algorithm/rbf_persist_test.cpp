// Saved RBF models: every stage of a model's life through both factory
// routes and both stream forms, the binary layout against a reference
// assembled here, damaged algorithm blocks (of MLP models too), and the
// factory's refusals of streams that are not RBF models.

#include <utility>

#include "common/layouts.h"
#include "common/saved_forms.h"
#include "common/stream_faults.h"
#include "persist/XmlIO.h"
#include "rbf_fixtures.h"
#include "vxneural/optim/RBFLinReg.h"

namespace {

using namespace mlpdriver;
using saved_forms::Saved;

// The stages of a model's life a save can happen at.
enum Stage { kUntrained, kTrained, kSearched, kUpdated };

std::unique_ptr<RbfModel> ModelAt(Stage stage, bool encoded = false) {
  auto m = MakeRbf(kBothTargets, 80, 20, {}, encoded);
  EXPECT_TRUE(m->algorithm);
  if (stage == kTrained || stage == kUpdated) {
    EXPECT_EQ(m->algorithm->Train(80, -1), VXStatus());
  }
  if (stage == kSearched) {
    EXPECT_EQ(m->algorithm->SelectArchitecture(), VXStatus());
  }
  if (stage == kUpdated) {
    const std::vector<Record> raw = MakeRecords(15, 9);
    VectorRecordIter more(encoded ? EncodeByHand(MakeRecords(80, 1), raw, kBothTargets) : raw);
    EXPECT_EQ(m->algorithm->Update(more, 15), VXStatus());
  }
  return m;
}

TEST(RbfSavedModel, EveryStageRestoresThroughBothRoutesAndScoresTheSame) {
  const struct {
    Stage stage;
    bool encoded;
    VXNNCommon::AlgorithmStatus restored;
  } cases[] = {{kUntrained, false, VXNNCommon::kNotStarted},
               {kTrained, false, VXNNCommon::kTrained},
               {kSearched, false, VXNNCommon::kTrained},
               {kUpdated, false, VXNNCommon::kTrained},
               {kTrained, true, VXNNCommon::kTrained}};
  for (const auto& c : cases) {
    auto m = ModelAt(c.stage, c.encoded);
    const std::vector<double> scores = ScoresOf(*m->algorithm, m->testRecords);
    const std::string binary = Save(*m->algorithm, false);
    for (bool xml : {false, true}) {
      for (bool twoSteps : {false, true}) {
        SCOPED_TRACE(testing::Message()
                     << "stage " << c.stage << (c.encoded ? " encoded" : "")
                     << (xml ? " XML" : " binary") << (twoSteps ? " two steps" : " one step"));
        auto r = RestoreModel(Save(*m->algorithm, xml), xml, *m, twoSteps);
        ASSERT_TRUE(r->algorithm) << r->status;
        EXPECT_EQ(r->status, VXStatus());
        EXPECT_EQ(r->algorithm->GetAlgorithmStatus(), c.restored);
        EXPECT_EQ(r->algorithm->GetAlgorithmType(), VXNNCommon::kRBF);
        EXPECT_EQ(ScoresOf(*r->algorithm, m->testRecords), scores);
        // Everything the model holds comes back: its own save is the same.
        EXPECT_EQ(Save(*r->algorithm, false), binary);
      }
    }
  }
}

TEST(RbfSavedModel, TheBinaryFormFollowsTheLayout) {
  for (Stage stage : {kUntrained, kSearched}) {
    SCOPED_TRACE(stage);
    auto m = ModelAt(stage);
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
  ExpectBlockChecked(*ModelAt(kTrained), "RBFAlgorithm",
                     {{17, 9}, {21, 99}, {25, -1}, {29, -1}, {33, -3}});
}

TEST(RbfFactory, RefusesWhatIsNotAnRBFModelForTheseSources) {
  auto m = ModelAt(kUntrained);
  VectorRecordIter train(m->trainRecords);
  RBFFactory f;
  // make must build nothing, leave code in the factory's status and write
  // err to standard error.
  const auto refused = [&](const std::function<INeuralAlgorithm*()>& make, int code,
                           const std::string& err = "") {
    testing::internal::CaptureStderr();
    std::unique_ptr<INeuralAlgorithm> made(make());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), err);
    EXPECT_EQ(made, nullptr);
    ExpectStatus(f.GetStatus(), code);
  };
  // A saved MLP is not an RBF model: its settings do not read.
  std::istringstream mlpSaved(Save(*MakeModel(kBothTargets, 80, 0)->algorithm, false));
  refused([&] { return f.RestoreNeuralAlgorithmFromBinary(mlpSaved, train, nullptr); }, 50006,
          "Error reading RBFSettings!\n");
  std::istringstream saved(Save(*m->algorithm, false));
  refused([&] { return f.FinishRestoringAlgorithmFromBinary(saved, train, nullptr); }, 50017);
  RBFSettings none = m->settings;
  none.SetNTrainRecords(0);
  refused([&] { return f.CreateNeuralAlgorithm(none, m->list, train, nullptr, nullptr); }, 50012);
  RBFSettings wider(6, {2, 1}, 80);
  refused([&] { return f.CreateNeuralAlgorithm(wider, m->list, train, nullptr, nullptr); }, 50010);
}

}  // namespace
