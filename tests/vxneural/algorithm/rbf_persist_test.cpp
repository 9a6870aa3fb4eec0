// Saved RBF models: every stage of a model's life through both factory
// routes and both stream forms, the layout of the algorithm block against
// a reference assembled here, damaged blocks, and the factory's refusals
// of streams that are not RBF models.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/stream_faults.h"
#include "persist/XmlIO.h"
#include "rbf_fixtures.h"
#include "vxneural/optim/RBFLinReg.h"

namespace {

using namespace mlpdriver;

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

// Little-endian bytes of the values, as a reader of the layout would
// expect them.
std::string Int32(std::int32_t v) {
  std::string b;
  for (int i = 0; i < 4; ++i)
    b += static_cast<char>((static_cast<std::uint32_t>(v) >> (8 * i)) & 0xff);
  return b;
}
std::string Double(double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  std::string b;
  for (int i = 0; i < 8; ++i) b += static_cast<char>((bits >> (8 * i)) & 0xff);
  return b;
}
template <class T>
std::string Bytes(const T& object) {
  std::stringstream out;
  object.WriteObject(out);
  return out.str();
}

TEST(RbfSavedModel, TheBinaryBlockFollowsTheLayout) {
  for (Stage stage : {kUntrained, kSearched}) {
    SCOPED_TRACE(stage);
    auto m = ModelAt(stage);
    RBFAlgorithm& a = m->Alg();
    const std::string saved = Save(a, false);
    // Settings, variable list, then the block: header, status at the save,
    // stop reason, data passes, records, hidden units, elapsed time,
    // training error, testing error, BIC; the generator; the network; the
    // solver, which ends the stream.
    const std::string head = Bytes(a.GetRBFSettings()) + Bytes(*a.GetVarList());
    std::string block = "RBFAlgorithm 1.00";
    for (int v : {int(a.GetAlgorithmStatus()), int(a.GetStopReason()), a.GetNumberOfDataPasses(),
                  a.GetNumberOfRecords(), a.GetNumberOfHiddenUnits()})
      block += Int32(v);
    for (double v :
         {a.GetElapsedTime(), a.GetTrainingError(), a.GetTestingError(), a.GetTrainingBIC()})
      block += Double(v);
    const std::string network = Bytes(*a.GetNetwork()), solver = Bytes(*a.GetOptimizer());
    ASSERT_GT(saved.size(), head.size() + block.size() + network.size() + solver.size());
    EXPECT_EQ(saved.substr(0, head.size()), head);
    EXPECT_EQ(saved.substr(head.size(), block.size()), block);
    const std::size_t random = head.size() + block.size();
    EXPECT_EQ(saved.substr(random, 4), "VXRa");
    EXPECT_EQ(saved.substr(saved.size() - solver.size()), solver);
    EXPECT_EQ(saved.substr(saved.size() - solver.size() - network.size(), network.size()), network);
    EXPECT_EQ(saved.substr(0, 6), "RBFSet");
  }
}

TEST(RbfDamagedModel, TheAlgorithmBlockIsCheckedValueByValue) {
  auto m = ModelAt(kTrained);
  const std::string saved = Save(*m->algorithm, false);
  const std::size_t block = saved.find("RBFAlgorithm 1.00");
  const std::string kAlgorithm = "Error reading RBFAlgorithm!\n";
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"header", stream_faults::Replaced(saved, "RBFAlgorithm 1.00", "RBFAlgorithm 2.00")},
      {"algorithm status", stream_faults::WithInt32(saved, block + 17, 9)},
      {"stop reason", stream_faults::WithInt32(saved, block + 21, 99)},
      {"data passes", stream_faults::WithInt32(saved, block + 25, -1)},
      {"records", stream_faults::WithInt32(saved, block + 29, -1)},
      {"hidden units", stream_faults::WithInt32(saved, block + 33, -3)},
  };
  for (const auto& c : cases) {
    std::string err;
    EXPECT_TRUE(RefusedModel(c.bytes, false, *m, &err)) << c.what;
    EXPECT_EQ(err, kAlgorithm) << c.what;
  }
  std::string err;
  EXPECT_TRUE(RefusedModel(
      stream_faults::Replaced(Save(*m->algorithm, true), "RBFAlgorithm 1.00", "RBFAlgorithm 9.99"),
      true, *m, &err));
  EXPECT_EQ(err, "Failure reading RBFAlgorithm!\n");
}

TEST(RbfFactory, RefusesWhatIsNotAnRBFModelForTheseSources) {
  auto m = ModelAt(kUntrained);
  VectorRecordIter train(m->trainRecords);
  RBFFactory f;
  const auto refused = [&](INeuralAlgorithm* made, int code, const std::string& err,
                           const std::string& captured) {
    std::unique_ptr<INeuralAlgorithm> owned(made);
    EXPECT_EQ(made, nullptr);
    ExpectStatus(f.GetStatus(), code);
    EXPECT_EQ(captured, err);
  };
  // A saved MLP is not an RBF model: its settings do not read.
  auto mlp = MakeModel(kBothTargets, 80, 0);
  std::istringstream mlpSaved(Save(*mlp->algorithm, false));
  testing::internal::CaptureStderr();
  INeuralAlgorithm* made = f.RestoreNeuralAlgorithmFromBinary(mlpSaved, train, nullptr);
  refused(made, 50006, "Error reading RBFSettings!\n", testing::internal::GetCapturedStderr());

  std::istringstream saved(Save(*m->algorithm, false));
  testing::internal::CaptureStderr();
  made = f.FinishRestoringAlgorithmFromBinary(saved, train, nullptr);
  refused(made, 50017, "", testing::internal::GetCapturedStderr());

  RBFSettings none = m->settings;
  none.SetNTrainRecords(0);
  testing::internal::CaptureStderr();
  made = f.CreateNeuralAlgorithm(none, m->list, train, nullptr, nullptr);
  refused(made, 50012, "", testing::internal::GetCapturedStderr());

  RBFSettings wider(6, {2, 1}, 80);
  testing::internal::CaptureStderr();
  made = f.CreateNeuralAlgorithm(wider, m->list, train, nullptr, nullptr);
  refused(made, 50010, "", testing::internal::GetCapturedStderr());
}

}  // namespace
