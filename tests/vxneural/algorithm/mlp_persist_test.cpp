// Saved MLP models: the layout of both saved forms, round trips at every
// stage of a model's life (untrained, trained, updated, after the
// architecture search), restoring in one call and in two steps, and
// damaged streams, which must give 50006 or 50007 and never a crash.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "mlp_driver_fixtures.h"
#include "vxneural/network/NNCategOutput.h"
#include "vxneural/network/NNContOutput.h"
#include "vxneural/network/NNOutputList.h"
#include "vxneural/optim/IOptimizationAlgorithm.h"

namespace {

using namespace mlpdriver;

std::string Save(INeuralAlgorithm& a, bool xml) {
  std::stringstream out;
  EXPECT_EQ(xml ? a.SaveStateXML(out) : a.SaveState(out), VXStatus());
  return out.str();
}

// A restored algorithm with the sources it reads.
struct Restored {
  std::unique_ptr<VectorRecordIter> train;
  std::unique_ptr<VectorRecordIter> test;
  VXStatus status;
  std::unique_ptr<INeuralAlgorithm> algorithm;
  MLPAlgorithm& Mlp() { return dynamic_cast<MLPAlgorithm&>(*algorithm); }
};

std::unique_ptr<Restored> Restore(const std::string& bytes, bool xml, const Model& m) {
  auto r = std::make_unique<Restored>();
  r->train = std::make_unique<VectorRecordIter>(m.trainRecords);
  if (!m.testRecords.empty() && m.test) {
    r->test = std::make_unique<VectorRecordIter>(m.testRecords);
  }
  std::istringstream in(bytes);
  MLPFactory factory;
  r->algorithm.reset(xml ? factory.RestoreNeuralAlgorithmFromXML(in, *r->train, r->test.get())
                         : factory.RestoreNeuralAlgorithmFromBinary(in, *r->train, r->test.get()));
  r->status = factory.GetStatus();
  return r;
}

std::vector<double> Outputs(const Record& out) {
  return std::vector<double>(out.GetAll(), out.GetAll() + out.Size());
}

// The prediction of every output: the winning category and the category
// values, or the value in the target's own units.
std::vector<double> Predictions(const NNOutputList& list) {
  std::vector<double> p;
  if (list.IsMissing()) return p;
  for (int i = 0; i < list.Size(); ++i) {
    if (const auto* c = dynamic_cast<const NNCategOutput*>(list.GetOutputAt(i))) {
      p.push_back(c->GetWinningIndex());
      p.insert(p.end(), c->GetOutputs().begin(), c->GetOutputs().end());
    } else if (const auto* v = dynamic_cast<const NNContOutput*>(list.GetOutputAt(i))) {
      p.push_back(v->GetRealOutput());
    }
  }
  return p;
}

// Same state, counters, weights, and the same score for every record.
void ExpectSameModel(MLPAlgorithm& a, MLPAlgorithm& b, const std::vector<Record>& records,
                     bool sameElapsed) {
  EXPECT_EQ(a.GetAlgorithmStatus(), b.GetAlgorithmStatus());
  EXPECT_EQ(a.GetReinitializeWeights(), b.GetReinitializeWeights());
  EXPECT_EQ(a.GetNumberOfDataPasses(), b.GetNumberOfDataPasses());
  EXPECT_EQ(a.GetNumberOfIterations(), b.GetNumberOfIterations());
  EXPECT_EQ(a.GetNumberOfHiddenUnits(), b.GetNumberOfHiddenUnits());
  EXPECT_EQ(a.GetStopReason(), b.GetStopReason());
  EXPECT_EQ(a.GetTrainingError(), b.GetTrainingError());
  EXPECT_EQ(a.GetTestingError(), b.GetTestingError());
  EXPECT_EQ(a.GetTrainingBIC(), b.GetTrainingBIC());
  if (sameElapsed) {
    EXPECT_EQ(a.GetElapsedTime(), b.GetElapsedTime());
  }
  EXPECT_TRUE(SameWeights(WeightsOf(a), WeightsOf(b)));
  EXPECT_EQ(a.GetMLPSettings().GetTrainingMethod(), b.GetMLPSettings().GetTrainingMethod());
  EXPECT_EQ(a.GetMLPSettings().GetTrainType(), b.GetMLPSettings().GetTrainType());
  for (const Record& r : records) {
    Record outA;
    Record outB;
    ASSERT_TRUE(a.Score(r, outA).IsOK());
    ASSERT_TRUE(b.Score(r, outB).IsOK());
    ASSERT_EQ(Outputs(outA), Outputs(outB));
    const std::vector<double> predictions = Predictions(a.Score(r));
    EXPECT_EQ(predictions, Predictions(b.Score(r)));
    EXPECT_FALSE(predictions.empty());
  }
}

enum Stage { kUntrained, kTrained, kUpdated, kSearched };

const char* StageName(Stage s) {
  switch (s) {
    case kUntrained:
      return "untrained";
    case kTrained:
      return "trained";
    case kUpdated:
      return "updated";
    default:
      return "after search";
  }
}

void BringTo(Stage stage, INeuralAlgorithm& a, const std::vector<Record>& updates) {
  if (stage == kSearched) {
    ASSERT_TRUE(a.SelectArchitecture().IsOK());
    return;
  }
  if (stage == kUntrained) return;
  ASSERT_TRUE(a.Train(150, -1).IsOK());
  if (stage == kUpdated) {
    VectorRecordIter source(updates);
    ASSERT_TRUE(a.Update(source, static_cast<int>(updates.size())).IsOK());
  }
}

struct RoundTrip {
  Targets targets;
  bool encoded;
  bool withTest;
};

class MlpRoundTrip : public testing::TestWithParam<RoundTrip> {};

TEST_P(MlpRoundTrip, EveryStageRestoresAndGoesOnTheSameWay) {
  const RoundTrip p = GetParam();
  const std::vector<Record> raw = MakeRecords(150, 1);
  std::vector<Record> updates = MakeRecords(30, 44);
  if (p.encoded) updates = EncodeByHand(raw, updates, p.targets);
  for (Stage stage : {kUntrained, kTrained, kUpdated, kSearched}) {
    for (bool xml : {false, true}) {
      SCOPED_TRACE(std::string(StageName(stage)) + (xml ? ", XML" : ", binary"));
      auto m = p.encoded ? MakeEncodedModel(p.targets, 150, p.withTest ? 40 : 0)
                         : MakeModel(p.targets, 150, p.withTest ? 40 : 0);
      ASSERT_TRUE(m->algorithm);
      BringTo(stage, *m->algorithm, updates);
      auto r = Restore(Save(*m->algorithm, xml), xml, *m);
      ASSERT_TRUE(r->algorithm) << r->status;
      EXPECT_EQ(r->status, VXStatus());
      EXPECT_EQ(r->algorithm->GetAlgorithmStatus(), stage == kUntrained || stage == kSearched
                                                        ? VXNNCommon::kNotStarted
                                                        : VXNNCommon::kTrained);
      ExpectSameModel(m->Mlp(), r->Mlp(), m->trainRecords, true);
      ExpectSameModel(m->Mlp(), r->Mlp(), m->testRecords, true);

      // Both go on the same way.
      if (stage == kUpdated) {
        VectorRecordIter more(updates);
        ASSERT_TRUE(m->algorithm->Update(more, 30).IsOK());
        more.Rewind();
        ASSERT_TRUE(r->algorithm->Update(more, 30).IsOK());
        ExpectSameModel(m->Mlp(), r->Mlp(), m->testRecords, false);
      }
      ASSERT_TRUE(m->algorithm->Train(150, -1).IsOK());
      ASSERT_TRUE(r->algorithm->Train(150, -1).IsOK());
      ExpectSameModel(m->Mlp(), r->Mlp(), m->trainRecords, false);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(MlpModels, MlpRoundTrip,
                         testing::Values(RoundTrip{kCategoricalTarget, false, true},
                                         RoundTrip{kContinuousTarget, false, false},
                                         RoundTrip{kBothTargets, false, true},
                                         RoundTrip{kBothTargets, true, false},
                                         RoundTrip{kCategoricalTarget, true, true}));

TEST(MlpSavedModel, AnUntrainedModelKeepsItsReinitialiseFlag) {
  for (bool xml : {false, true}) {
    auto m = MakeModel(kCategoricalTarget, 150, 0);
    ASSERT_TRUE(m->algorithm->SelectArchitecture().IsOK());
    ASSERT_FALSE(m->Mlp().GetReinitializeWeights());
    auto r = Restore(Save(*m->algorithm, xml), xml, *m);
    ASSERT_TRUE(r->algorithm);
    EXPECT_FALSE(r->Mlp().GetReinitializeWeights());
    const int passes = r->algorithm->GetNumberOfDataPasses();
    ASSERT_TRUE(r->algorithm->Train(150, -1).IsOK());
    EXPECT_EQ(r->algorithm->GetNumberOfDataPasses(),
              passes + r->Mlp().GetOptimizer()->GetNDataPasses())
        << "no sample pass";

    auto fresh = MakeModel(kCategoricalTarget, 150, 0);
    auto f = Restore(Save(*fresh->algorithm, xml), xml, *fresh);
    ASSERT_TRUE(f->algorithm);
    EXPECT_TRUE(f->Mlp().GetReinitializeWeights());
    ASSERT_TRUE(f->algorithm->Train(150, -1).IsOK());
    EXPECT_EQ(f->algorithm->GetNumberOfDataPasses(), f->Mlp().GetOptimizer()->GetNDataPasses() + 1)
        << "the sample pass of the initialisation";
  }
}

std::string Bytes(const std::function<void(std::ostream&)>& write) {
  std::stringstream out;
  write(out);
  return out.str();
}

int32_t IntAt(const std::string& s, std::size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
  return static_cast<int32_t>(v);
}

double DoubleAt(const std::string& s, std::size_t at) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
  double d;
  std::memcpy(&d, &v, 8);
  return d;
}

TEST(MlpSavedModel, TheBinaryFormIsSettingsListBlockGeneratorNetworkOptimizer) {
  for (bool withList : {false, true}) {
    SCOPED_TRACE(withList ? "with a variable list" : "encoded records");
    auto m = withList ? MakeModel(kBothTargets, 150, 0) : MakeEncodedModel(kBothTargets, 150, 0);
    MLPAlgorithm& a = m->Mlp();
    ASSERT_TRUE(a.Train(150, -1).IsOK());
    const std::string saved = Save(a, false);
    const std::string settings = Bytes([&](std::ostream& o) { a.GetMLPSettings().WriteObject(o); });
    const std::string list =
        withList ? Bytes([&](std::ostream& o) { a.GetVarList()->WriteObject(o); }) : "";
    const std::string optimizer = Bytes([&](std::ostream& o) { a.GetOptimizer()->WriteObject(o); });
    ASSERT_EQ(saved.compare(0, 6, "MLPSet"), 0);
    EXPECT_EQ(saved.substr(0, settings.size()), settings);
    EXPECT_EQ(a.GetMLPSettings().GetHasVarList(), withList);
    if (withList) {
      EXPECT_EQ(saved.substr(settings.size(), 4), "VARL");
      EXPECT_EQ(saved.substr(settings.size(), list.size()), list);
    }
    const std::size_t block = settings.size() + list.size();
    ASSERT_EQ(saved.substr(block, 17), "MLPAlgorithm 1.00");
    std::size_t at = block + 17;
    EXPECT_EQ(IntAt(saved, at), VXNNCommon::kTrained);
    EXPECT_EQ(IntAt(saved, at + 4), 0) << "re-initialise flag";
    EXPECT_EQ(IntAt(saved, at + 8), a.GetStopReason());
    EXPECT_EQ(IntAt(saved, at + 12), a.GetNumberOfDataPasses());
    EXPECT_EQ(IntAt(saved, at + 16), a.GetNumberOfIterations());
    EXPECT_EQ(IntAt(saved, at + 20), 3);
    EXPECT_EQ(DoubleAt(saved, at + 24), a.GetElapsedTime());
    EXPECT_EQ(DoubleAt(saved, at + 32), a.GetTrainingError());
    EXPECT_EQ(DoubleAt(saved, at + 40), a.GetTestingError());
    EXPECT_EQ(DoubleAt(saved, at + 48), kMissing);
    at += 56;
    EXPECT_EQ(saved.substr(at, 4), "VXRa");
    EXPECT_EQ(saved.substr(at + 16, 4), "NNet");
    // The optimizer's object ends the model; no count, no end marker.
    ASSERT_GE(saved.size(), optimizer.size());
    EXPECT_EQ(saved.substr(saved.size() - optimizer.size()), optimizer);
    EXPECT_EQ(optimizer.substr(0, 3), "SCG");
  }
}

TEST(MlpSavedModel, TheXMLFormHoldsTheSameObjectsInTheSameOrder) {
  auto m = MakeModel(kCategoricalTarget, 150, 0);
  ASSERT_TRUE(m->algorithm->Train(150, -1).IsOK());
  const std::string xml = Save(*m->algorithm, true);
  EXPECT_EQ(xml.compare(0, 5, "<?xml"), 0);
  EXPECT_NE(xml.find("<!DOCTYPE VXXMLRoot SYSTEM \"savexml.dtd\">"), std::string::npos);
  std::size_t at = 0;
  for (const char* name : {"\"MLPSettings\"", "\"MLPStopRules\"", "\"NeuralSettings\"",
                           "\"NNVarList\"", "\"MLPAlgorithm 1.00\"", "\"VXRandom\"", "\"NNetwork\"",
                           "\"MLPLayer\"", "\"ScaledConjGrad\""}) {
    const std::size_t next = xml.find(name, at);
    ASSERT_NE(next, std::string::npos) << name;
    at = next;
  }
  EXPECT_NE(xml.find("</VXXMLRoot>", at), std::string::npos);
}

TEST(MlpSavedModel, AStreamThatFailsDuringTheSaveIsReportedAsAWarning) {
  auto m = MakeModel(kCategoricalTarget, 80, 0);
  for (bool xml : {false, true}) {
    std::ostringstream out;
    out.setstate(std::ios::badbit);
    ExpectStatus(xml ? m->algorithm->SaveStateXML(out) : m->algorithm->SaveState(out), 50016, 1);
    EXPECT_EQ(m->algorithm->GetAlgorithmStatus(), VXNNCommon::kNotStarted);
  }
  // A warning leaves the model at work.
  EXPECT_TRUE(m->algorithm->Train(80, -1).IsOK());
}

TEST(MlpSavedModel, TwoStepRestoreShowsTheListBeforeTheSources) {
  for (bool xml : {false, true}) {
    SCOPED_TRACE(xml ? "XML" : "binary");
    auto m = MakeModel(kBothTargets, 150, 40);
    ASSERT_TRUE(m->algorithm->Train(150, -1).IsOK());
    const std::string saved = Save(*m->algorithm, xml);
    std::istringstream in(saved);
    MLPFactory factory;
    const NNVarList* list =
        xml ? factory.RestoreNNVarListFromXML(in) : factory.RestoreNNVarListFromBinary(in);
    ASSERT_NE(list, nullptr) << factory.GetStatus();
    ASSERT_EQ(list->Size(), 5u);
    std::vector<std::string> inputs;
    std::vector<std::string> outputs;
    list->GetVarNames(inputs, outputs);
    EXPECT_EQ(inputs, (std::vector<std::string>{"x", "c", "v"}));
    EXPECT_EQ(outputs, (std::vector<std::string>{"y", "z"}));
    // Now the host builds its sources to match.
    VectorRecordIter train(m->trainRecords);
    VectorRecordIter test(m->testRecords);
    std::unique_ptr<INeuralAlgorithm> r(
        xml ? factory.FinishRestoringAlgorithmFromXML(in, train, &test)
            : factory.FinishRestoringAlgorithmFromBinary(in, train, &test));
    ASSERT_TRUE(r) << factory.GetStatus();
    ExpectSameModel(m->Mlp(), dynamic_cast<MLPAlgorithm&>(*r), m->testRecords, true);
    // What the first step kept is gone.
    std::istringstream again(saved);
    EXPECT_EQ(factory.FinishRestoringAlgorithmFromBinary(again, train, &test), nullptr);
    ExpectStatus(factory.GetStatus(), 50017, -1);
  }
}

TEST(MlpSavedModel, TwoStepRestoreOfAnEncodedModelHasNoList) {
  for (bool xml : {false, true}) {
    auto m = MakeEncodedModel(kCategoricalTarget, 150, 0);
    const std::string saved = Save(*m->algorithm, xml);
    std::istringstream in(saved);
    MLPFactory factory;
    EXPECT_EQ(xml ? factory.RestoreNNVarListFromXML(in) : factory.RestoreNNVarListFromBinary(in),
              nullptr);
    EXPECT_EQ(factory.GetStatus(), VXStatus());
    VectorRecordIter train(m->trainRecords);
    std::unique_ptr<INeuralAlgorithm> r(
        xml ? factory.FinishRestoringAlgorithmFromXML(in, train, nullptr)
            : factory.FinishRestoringAlgorithmFromBinary(in, train, nullptr));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->GetVarList(), nullptr);
    ExpectSameModel(m->Mlp(), dynamic_cast<MLPAlgorithm&>(*r), m->trainRecords, true);
  }
}

// Restores each prefix (or damaged copy) and checks the refusal.
void ExpectRefused(const std::string& bytes, bool xml, const Model& m) {
  auto r = Restore(bytes, xml, m);
  EXPECT_EQ(r->algorithm, nullptr);
  ExpectStatus(r->status, xml ? 50007 : 50006, -1);
}

TEST(MlpDamagedModel, EveryTruncatedBinaryModelIsRefused) {
  for (bool withList : {false, true}) {
    SCOPED_TRACE(withList ? "with a variable list" : "encoded records");
    auto m = withList ? MakeModel(kBothTargets, 60, 0) : MakeEncodedModel(kBothTargets, 60, 0);
    VectorRecordIter updates(
        withList ? MakeRecords(10, 3)
                 : EncodeByHand(MakeRecords(60, 1), MakeRecords(10, 3), kBothTargets));
    ASSERT_TRUE(m->algorithm->Train(60, -1).IsOK());
    ASSERT_TRUE(m->algorithm->Update(updates, 10).IsOK());
    const std::string saved = Save(*m->algorithm, false);
    testing::internal::CaptureStderr();
    for (std::size_t k = 0; k < saved.size(); ++k) {
      SCOPED_TRACE(k);
      ExpectRefused(saved.substr(0, k), false, *m);
    }
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(Restore(saved, false, *m)->algorithm);
  }
}

TEST(MlpDamagedModel, EveryTruncatedXMLModelIsRefused) {
  auto m = MakeModel(kCategoricalTarget, 60, 0);
  ASSERT_TRUE(m->algorithm->Train(60, -1).IsOK());
  const std::string saved = Save(*m->algorithm, true);
  // Everything up to the end of the algorithm object is needed; the root's
  // end after it is not read.
  const std::size_t needed = saved.rfind("</object>") + 1;
  testing::internal::CaptureStderr();
  const std::size_t blockStart = saved.find("MLPAlgorithm 1.00");
  for (std::size_t k = 0; k < needed; k += (k < blockStart ? 13 : 1)) {
    SCOPED_TRACE(k);
    ExpectRefused(saved.substr(0, k), true, *m);
  }
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(Restore(saved, true, *m)->algorithm);
}

TEST(MlpDamagedModel, CorruptedBytesAreRefusedOrGiveAUsableModel) {
  auto m = MakeModel(kBothTargets, 60, 0);
  ASSERT_TRUE(m->algorithm->Train(60, -1).IsOK());
  const std::string saved = Save(*m->algorithm, false);
  const std::size_t block = saved.find("MLPAlgorithm 1.00");
  ASSERT_NE(block, std::string::npos);
  int refused = 0;
  testing::internal::CaptureStderr();
  // The algorithm block onwards; the settings' own reader answers for the
  // bytes before it.
  for (std::size_t k = block; k < saved.size(); ++k) {
    SCOPED_TRACE(k);
    std::string damaged = saved;
    damaged[k] = static_cast<char>(damaged[k] ^ 0xA5);
    auto r = Restore(damaged, false, *m);
    if (!r->algorithm) {
      ExpectStatus(r->status, 50006, -1);
      ++refused;
      continue;
    }
    // A model that reads is whole: it scores and saves.
    Record out;
    r->algorithm->Score(m->trainRecords[0], out);
    std::ostringstream again;
    r->algorithm->SaveState(again);
  }
  testing::internal::GetCapturedStderr();
  EXPECT_GT(refused, 0);
}

TEST(MlpDamagedModel, TheAlgorithmBlockIsCheckedValueByValue) {
  auto m = MakeModel(kCategoricalTarget, 60, 0);
  ASSERT_TRUE(m->algorithm->Train(60, -1).IsOK());
  const std::string saved = Save(*m->algorithm, false);
  const std::size_t block = saved.find("MLPAlgorithm 1.00");
  auto patched = [&](std::size_t at, int32_t value) {
    std::string s = saved;
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return s;
  };
  struct Case {
    const char* what;
    std::string bytes;
    std::string message;
  };
  std::string header = saved;
  header[block + 13] = '2';
  std::string settings = saved;
  settings[0] = 'N';
  const std::vector<Case> cases = {
      {"header", header, "Error reading MLPAlgorithm!\n"},
      {"settings tag", settings, "Error reading MLPSettings!\n"},
      {"algorithm status", patched(block + 17, 9), "Error reading MLPAlgorithm!\n"},
      {"stop reason", patched(block + 25, 99), "Error reading MLPAlgorithm!\n"},
      {"data passes", patched(block + 29, -1), "Error reading MLPAlgorithm!\n"},
      {"hidden units", patched(block + 37, -3), "Error reading MLPAlgorithm!\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::internal::CaptureStderr();
    ExpectRefused(c.bytes, false, *m);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
  }

  std::string xml = Save(*m->algorithm, true);
  xml.replace(xml.find("MLPAlgorithm 1.00"), 17, "MLPAlgorithm 9.99");
  testing::internal::CaptureStderr();
  ExpectRefused(xml, true, *m);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failure reading MLPAlgorithm!\n");
}

TEST(MlpDamagedModel, ANetworkThatDoesNotFitTheSettingsIsRefused) {
  // The settings and list of a one-target model followed by the block of a
  // two-target model: every object reads, but the network's outputs are
  // not the list's.
  auto one = MakeModel(kCategoricalTarget, 60, 0);
  auto two = MakeModel(kBothTargets, 60, 0);
  const std::string a = Save(*one->algorithm, false);
  const std::string b = Save(*two->algorithm, false);
  const std::string spliced =
      a.substr(0, a.find("MLPAlgorithm 1.00")) + b.substr(b.find("MLPAlgorithm 1.00"));
  ExpectRefused(spliced, false, *one);

  const std::string ax = Save(*one->algorithm, true);
  const std::string bx = Save(*two->algorithm, true);
  const std::string splicedXML = ax.substr(0, ax.find("<object name=\"MLPAlgorithm 1.00\"")) +
                                 bx.substr(bx.find("<object name=\"MLPAlgorithm 1.00\""));
  ASSERT_NE(ax.find("<object name=\"MLPAlgorithm 1.00\""), std::string::npos);
  ExpectRefused(splicedXML, true, *one);
}

TEST(MlpDamagedModel, TheRestoringConstructorEntersTheFailedState) {
  auto m = MakeEncodedModel(kCategoricalTarget, 60, 0);
  std::string saved = Save(*m->algorithm, false);
  const std::size_t block = saved.find("MLPAlgorithm 1.00");
  std::istringstream in(saved.substr(block, 10));
  VectorRecordIter train(m->trainRecords);
  testing::internal::CaptureStderr();
  MLPAlgorithm a(in, m->Mlp().GetMLPSettings(), nullptr, train, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error reading MLPAlgorithm!\n");
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kInconsistent);
  ExpectStatus(a.GetStatus(), 50006, -1);
  EXPECT_EQ(a.GetNetwork(), nullptr);

  std::istringstream whole(saved.substr(block));
  MLPAlgorithm b(whole, m->Mlp().GetMLPSettings(), nullptr, train, nullptr);
  EXPECT_EQ(b.GetStatus(), VXStatus());
  EXPECT_EQ(b.GetAlgorithmStatus(), VXNNCommon::kNotStarted);
}

}  // namespace
